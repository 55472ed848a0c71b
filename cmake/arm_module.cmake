# The module for 64-bit ARM Linux beside the native build: when Debian's
# aarch64 cross compiler is present, the native build also cross-builds
# oru.p and the raw frame host into ORU_ARM64_BUILD_DIR through
# scripts/build-arm, and the tests run them under qemu-user against the
# native module. On ARM the engine has no wide build: this is the portable
# one, as farm nodes and workstations on 64-bit ARM build it from source.
option(ORU_BUILD_ARM64 "Also cross-build the module for 64-bit ARM Linux when the compiler is present" ON)
set(ORU_ARM64_BUILD_DIR ${CMAKE_BINARY_DIR}/arm64 CACHE PATH
    "Where the native build puts the 64-bit ARM module")
find_program(ORU_AARCH64_CXX aarch64-linux-gnu-g++)
find_program(ORU_QEMU_AARCH64 qemu-aarch64)

set(ORU_ARM64_MODULE "")
set(ORU_ARM64_RAWHOST "")
if(ORU_BUILD_ARM64 AND ORU_AARCH64_CXX)
  add_custom_target(oru_arm64 ALL
    COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
            ${CMAKE_SOURCE_DIR}/scripts/build-arm ${ORU_ARM64_BUILD_DIR}
    COMMENT "Cross-building the 64-bit ARM module into ${ORU_ARM64_BUILD_DIR}"
    VERBATIM)
  # One cross build at a time: each uses every core.
  foreach(other oru_windows oru_windows64)
    if(TARGET ${other})
      add_dependencies(oru_arm64 ${other})
    endif()
  endforeach()
  set(ORU_ARM64_MODULE ${ORU_ARM64_BUILD_DIR}/oru.p)
  set(ORU_ARM64_RAWHOST ${ORU_ARM64_BUILD_DIR}/oru_rawhost)
  message(STATUS "64-bit ARM module: ${ORU_ARM64_MODULE}")
else()
  message(STATUS "64-bit ARM module: not built (no aarch64-linux-gnu-g++)")
endif()
if(NOT ORU_QEMU_AARCH64)
  message(STATUS "64-bit ARM module: not run (no qemu-aarch64)")
  set(ORU_QEMU_AARCH64 "")
endif()
