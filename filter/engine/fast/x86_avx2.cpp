// The byte-plane scan built for processors with AVX2, BMI1, BMI2, LZCNT and
// POPCNT (Avx2Lanes), which plane_scan.cpp chooses where the processor has
// them. Each file of the build includes its headers before it opens the
// target region, so that what they define inline stays fit for every
// processor wherever the linker takes it from.
#include "filter/engine/fast/builds.h"

#if ORU_HAVE_AVX2_SCAN

// clang-format off
#if defined(__clang__)
#define ORU_SCAN_TARGET_BEGIN \
  _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,bmi2,lzcnt,popcnt\"))), apply_to = function)")
#define ORU_SCAN_TARGET_END _Pragma("clang attribute pop")
#else
#define ORU_SCAN_TARGET_BEGIN \
  _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,bmi2,lzcnt,popcnt\")")
#define ORU_SCAN_TARGET_END _Pragma("GCC pop_options")
#endif
// clang-format on

#define ORU_SCAN_NAMESPACE plane_scan_avx2
#include "filter/engine/fast/x86_avx2.h"

// The lanes the scan of this build is written over.
namespace plane_scan_avx2 {
namespace {
using Lanes = Avx2Lanes;
}  // namespace
}  // namespace plane_scan_avx2

#include "filter/engine/fast/scan_body.h"

#endif
