// The byte-plane scan built for processors with everything the AVX2 build
// asks for and AVX-512 F, BW and VL, which plane_scan.cpp chooses before
// the AVX2 build where the processor has them: the AVX2 build with its
// kernels along a line blending 32 pixels a group under masks
// (Avx512Lanes). Each file of the build includes its headers before it
// opens the target region, so that what they define inline stays fit for
// every processor wherever the linker takes it from.
#include "filter/engine/fast/builds.h"

#if ORU_HAVE_AVX512_SCAN

// clang-format off
#if defined(__clang__)
#define ORU_SCAN_TARGET_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,lzcnt,popcnt,avx512f,avx512bw,avx512vl\"))), apply_to = function)")
#define ORU_SCAN_TARGET_END _Pragma("clang attribute pop")
#else
#define ORU_SCAN_TARGET_BEGIN \
  _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,bmi2,lzcnt,popcnt,avx512f,avx512bw,avx512vl\")")
#define ORU_SCAN_TARGET_END _Pragma("GCC pop_options")
#endif
// clang-format on

#define ORU_SCAN_NAMESPACE plane_scan_avx512
#include "filter/engine/fast/x86_avx512.h"

// The lanes the scan of this build is written over.
namespace plane_scan_avx512 {
namespace {
using Lanes = Avx512Lanes;
}  // namespace
}  // namespace plane_scan_avx512

#include "filter/engine/fast/scan_body.h"

#endif
