# The 32-bit Windows module beside the native build: when the mingw-w64 cross
# compiler is present, the native build also cross-builds oru.p and the raw
# frame host into ORU_WINDOWS_BUILD_DIR (through scripts/build-windows), and
# the tests check its export and import tables and run it under Wine.
option(ORU_BUILD_WINDOWS "Also cross-build the 32-bit Windows module when mingw-w64 is present" ON)
set(ORU_WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows CACHE PATH
    "Where the native build puts the Windows module")

find_program(ORU_MINGW_CXX i686-w64-mingw32-g++)
find_program(ORU_MINGW_OBJDUMP i686-w64-mingw32-objdump)
find_program(ORU_WINE wine)

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
if(NOT ORU_WINE)
  message(STATUS "Windows module: not run (no wine)")
  set(ORU_WINE "")
endif()
if(NOT ORU_MINGW_OBJDUMP)
  set(ORU_MINGW_OBJDUMP "")
endif()
