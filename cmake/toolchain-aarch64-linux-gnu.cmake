# Cross-builds the module and the raw-frame host for 64-bit ARM Linux with
# Debian's g++-aarch64-linux-gnu: the portable build of the engine, checked
# against the native module's results under qemu-user. Use it with
# -DORU_BUILD_RUNNER=OFF; scripts/build-cross aarch64 does both.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ORU_CROSS_PREFIX aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ORU_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ORU_CROSS_PREFIX}-g++)
set(CMAKE_AR ${ORU_CROSS_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORU_CROSS_PREFIX}-ranlib CACHE FILEPATH "")

# Find headers and libraries of the target only, programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORU_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
