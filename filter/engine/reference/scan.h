// The threshold tests of the jagged-edge scan, and the scan through the
// routine table. Internal to the engine (not exported from the module).
#pragma once

#include <cstdlib>

#include "filter/oru.h"

// 1 when some channel of R, G, B differs by more than limit, else 0.
inline int cmpdata(const Pixel* p, const Pixel* q, int limit) {
  if (std::abs(q->r - p->r) > limit) return 1;
  if (std::abs(q->g - p->g) > limit) return 1;
  if (std::abs(q->b - p->b) > limit) return 1;
  return 0;
}

// 1 when A differs by more than limit, else 0.
inline int cmpdata_a(const Pixel* p, const Pixel* q, int limit) {
  return std::abs(q->a - p->a) > limit ? 1 : 0;
}

// 256 - threshold. Every difference is 0 .. 255, so any limit below 0 answers
// like -1 (every pair differs) and any above 255 like 256 (none does): the
// result is held to -1 .. 256, which no int threshold can overflow.
inline int differenceLimit(int threshold) {
  long long limit = 256 - static_cast<long long>(threshold);
  return limit < -1 ? -1 : limit > 256 ? 256 : static_cast<int>(limit);
}

// The scan as smooth runs it for routines other than the module's own: every
// pixel read through the instance's routine table, every kernel through its
// routines. The reference that the byte-plane scan is held to.
int smoothThroughTable(const FilterAccess* access, FilterInstance* instance, int fullFrame);
