// The byte-plane scan is built once for each set of instructions the module
// chooses between when it runs (scan_body.h); these are each build's
// entry points, which plane_scan.cpp calls through the build it chooses.
// Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/oru.h"

struct PlaneSet;

struct PlaneScanEntries {
  bool (*needsBlock)(int width, int height, int workMode, int workThreshold, std::size_t* bytes);
  void (*smoothFrame)(FilterInstance* inst, void* block);
  bool (*smoothPreview)(FilterInstance* inst);
  void (*kernel)(int direction, bool alpha, const PlaneSet& src, const PlaneSet& dst, int strength,
                 int runStart, int stepPos, int runEnd, int line);
  bool (*slopes)(std::uint8_t* const planes[4], int width, int height, bool alpha, bool eachAlone,
                 int y, int x0, int count, int* out);
};

// For any x86 processor with SSE2, where the compiler builds for SSE2 (the
// x86-64 builds, and the 32-bit ones with -msse2, the Windows modules'
// only build).
#if defined(__SSE2__)
#define ORU_HAVE_SSE2_SCAN 1
namespace plane_scan_sse2 {
extern const PlaneScanEntries kEntries;
}
#else
#define ORU_HAVE_SSE2_SCAN 0
#endif

// For processors with AVX2, BMI1, BMI2, LZCNT and POPCNT, where the build
// has it (ORU_HAVE_AVX2_SCAN). Not in the Windows builds: there GCC cannot
// be trusted to align the stack for the wide registers (it cannot at all for
// 64-bit Windows), and no machine here runs the 32-bit module to show it.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_WIN32)
#define ORU_HAVE_AVX2_SCAN 1
namespace plane_scan_avx2 {
extern const PlaneScanEntries kEntries;
}
#else
#define ORU_HAVE_AVX2_SCAN 0
#endif

// For processors with all the AVX2 build asks for and AVX-512 F, BW and VL,
// where the build has the AVX2 build: the AVX2 build with its kernels
// along a line 32 lanes a group, their pixels chosen by masks.
#if ORU_HAVE_AVX2_SCAN
#define ORU_HAVE_AVX512_SCAN 1
namespace plane_scan_avx512 {
extern const PlaneScanEntries kEntries;
}
#else
#define ORU_HAVE_AVX512_SCAN 0
#endif

// In plain C++ (portable.h), for any processor: what the module takes
// where it has no build for the processor's instructions (built where the
// compiler does not build for SSE2), and a build the tests hold to the same
// calls and bytes as the others on every machine (built with the test
// hooks).
#if !ORU_HAVE_SSE2_SCAN || defined(ORU_TEST_HOOKS)
#define ORU_HAVE_PORTABLE_SCAN 1
namespace plane_scan_portable {
extern const PlaneScanEntries kEntries;
}
#else
#define ORU_HAVE_PORTABLE_SCAN 0
#endif
