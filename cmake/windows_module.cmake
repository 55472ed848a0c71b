# The Windows module beside the native build: when the mingw-w64 cross
# compilers are present, the native build also cross-builds oru.p and the raw
# frame host into ORU_WINDOWS_BUILD_DIR (32-bit, the module the host loads)
# and ORU_WINDOWS64_BUILD_DIR (64-bit, the same sources for a 64-bit Wine),
# through scripts/build-windows. The tests check the 32-bit module's export
# and import tables and run both under Wine.
option(ORU_BUILD_WINDOWS "Also cross-build the Windows module when mingw-w64 is present" ON)
set(ORU_WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows CACHE PATH
    "Where the native build puts the 32-bit Windows module")
set(ORU_WINDOWS64_BUILD_DIR ${CMAKE_BINARY_DIR}/windows64 CACHE PATH
    "Where the native build puts the 64-bit Windows module")

find_program(ORU_MINGW_CXX i686-w64-mingw32-g++)
find_program(ORU_MINGW_OBJDUMP i686-w64-mingw32-objdump)
find_program(ORU_MINGW64_CXX x86_64-w64-mingw32-g++)
# wine runs 32-bit programs (through the 32-bit loader, /usr/lib/wine/wine);
# Debian puts the 64-bit loader beside it, not on the PATH.
find_program(ORU_WINE wine)
find_program(ORU_WINE64 wine64 PATHS /usr/lib/wine /usr/lib64/wine)

set(ORU_WINDOWS_MODULE "")
set(ORU_WINDOWS_RAWHOST "")
if(ORU_BUILD_WINDOWS AND ORU_MINGW_CXX AND ORU_MINGW_OBJDUMP)
  add_custom_target(oru_windows ALL
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
            ${CMAKE_SOURCE_DIR}/scripts/build-windows ${ORU_WINDOWS_BUILD_DIR}
    COMMENT "Cross-building the Windows module into ${ORU_WINDOWS_BUILD_DIR}"
    VERBATIM)
  set(ORU_WINDOWS_MODULE ${ORU_WINDOWS_BUILD_DIR}/oru.p)
  set(ORU_WINDOWS_RAWHOST ${ORU_WINDOWS_BUILD_DIR}/oru_rawhost.exe)
  message(STATUS "Windows module: ${ORU_WINDOWS_MODULE}")
else()
  message(STATUS "Windows module: not built (no i686-w64-mingw32 cross compiler)")
endif()

set(ORU_WINDOWS64_MODULE "")
set(ORU_WINDOWS64_RAWHOST "")
if(ORU_BUILD_WINDOWS AND ORU_MINGW64_CXX)
  add_custom_target(oru_windows64 ALL
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
            ${CMAKE_SOURCE_DIR}/scripts/build-windows --x86-64 ${ORU_WINDOWS64_BUILD_DIR}
    COMMENT "Cross-building the 64-bit Windows module into ${ORU_WINDOWS64_BUILD_DIR}"
    VERBATIM)
  # One cross build at a time: each uses every core.
  if(TARGET oru_windows)
    add_dependencies(oru_windows64 oru_windows)
  endif()
  set(ORU_WINDOWS64_MODULE ${ORU_WINDOWS64_BUILD_DIR}/oru.p)
  set(ORU_WINDOWS64_RAWHOST ${ORU_WINDOWS64_BUILD_DIR}/oru_rawhost.exe)
  message(STATUS "64-bit Windows module: ${ORU_WINDOWS64_MODULE}")
else()
  message(STATUS "64-bit Windows module: not built (no x86_64-w64-mingw32 cross compiler)")
endif()

if(NOT ORU_WINE)
  message(STATUS "Windows module: not run (no wine)")
  set(ORU_WINE "")
endif()
if(NOT ORU_WINE64)
  message(STATUS "64-bit Windows module: not run (no wine64)")
  set(ORU_WINE64 "")
endif()
if(NOT ORU_MINGW_OBJDUMP)
  set(ORU_MINGW_OBJDUMP "")
endif()
