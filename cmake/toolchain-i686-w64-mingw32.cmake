# Cross-builds the module for 32-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-i686). Use it with -DORU_BUILD_RUNNER=OFF; scripts/build-windows
# does both.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(ORU_MINGW_PREFIX i686-w64-mingw32)
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

# The 32-bit x86 default is the x87 unit, whose extended precision could make
# a float computation round differently from the native build. SSE2 gives the
# same single-precision arithmetic as x86-64.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
