// The smoothing kernels: one call smooths one stair-step of an edge, given by
// the run start, the step and the run end along the scanned line. smoothN and
// smoothN_a serve scan direction N, for colour (R, G, B) and alpha (A).
// Internal to the engine (not exported from the module).
#pragma once

#include <cstdint>

#include "filter/oru.h"

typedef int (*KernelFunc)(const FilterAccess* access, FilterInstance* instance, int runStart,
                          int stepPos, int runEnd, int line);

int smooth1(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
            int runEnd, int line);
int smooth2(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
            int runEnd, int line);
int smooth3(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
            int runEnd, int line);
int smooth4(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
            int runEnd, int line);
int smooth1_a(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
              int runEnd, int line);
int smooth2_a(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
              int runEnd, int line);
int smooth3_a(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
              int runEnd, int line);
int smooth4_a(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,
              int runEnd, int line);

// (p * w + q * (256 - w) + 128) >> 8 with w clamped to 0 .. 256.
inline std::uint8_t blend(int p, int q, int w) {
  if (w < 0) w = 0;
  if (w > 256) w = 256;
  return static_cast<std::uint8_t>((p * w + q * (256 - w) + 128) >> 8);
}

// The strength weight of a strength in percent: strength * 256 / 100,
// truncated toward zero, limited to 0 .. 256 (the blend would clamp it so).
int strengthWeight(int strength);

#if defined(ORU_TEST_HOOKS)
// Test builds only: called by the scan before every kernel call, with the
// direction 1 .. 4 and whether it is an alpha kernel.
extern void (*kernelTrace)(int direction, bool alpha, int runStart, int stepPos, int runEnd,
                           int line);
// Test builds only: true makes both scans skip the kernels (after the trace),
// so that a benchmark can time the scan alone.
extern bool kernelCallsSkipped;
#endif
