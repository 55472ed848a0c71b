# Cross-builds the module for 64-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-x86-64): the same sources, compiler and C runtime as the
# 32-bit build, for running under a 64-bit Wine where 32-bit programs cannot
# run. Use it with -DORU_BUILD_RUNNER=OFF; scripts/build-windows --x86-64
# does both.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORU_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORU_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${ORU_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${ORU_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ORU_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ORU_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# Find headers and libraries of the target only, programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORU_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
