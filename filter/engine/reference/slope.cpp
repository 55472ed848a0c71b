#include "filter/engine/reference/slope.h"

namespace {

// The four 2 x 2 blocks of the neighbourhood n (row by row from (x-1, y-1)):
// the differences of their rising pairs minus those of their falling pairs.
template <int (*Diff)(const Pixel*, const Pixel*)>
int measure(FilterInstance* instance, PixelReadFunc read, int x, int y) {
  if (x < 1 || y < 1) return 0;
  Pixel n[9];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) read(instance, x - 1 + c, y - 1 + r, &n[r * 3 + c]);
  }
  int sum = 0;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      const Pixel* a = &n[r * 3 + c];
      sum += Diff(a + 1, a + 3) - Diff(a, a + 4);
    }
  }
  return sum;
}

}  // namespace

int katamuki(FilterInstance* instance, int x, int y) {
  return measure<kata_s>(instance, instance->pixelOps.getSrc, x, y);
}

int katamuki_a(FilterInstance* instance, int x, int y) {
  return measure<kata_s_a>(instance, instance->pixelOps.getSrcA, x, y);
}
