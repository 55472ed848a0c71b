// The one body of the smoothing kernels, on any way of reaching pixels. An
// access type gives three calls, each moving one Pixel through a pointer:
//   src(x, y, &p)  the source pixel (never written by a kernel)
//   dst(x, y, &p)  the destination pixel
//   put(x, y, &p)  stores the destination pixel
// The kernels of the module (smooth1 .. smooth4_a) use an access through the
// instance's routine table. The byte-plane scan's kernels (planeKernel) run
// the same steps channel by channel on planes and share blendSpan.
#pragma once

#include "filter/engine/reference/kernels.h"

namespace kernel_body {

struct Geometry {
  bool alongRow;   // positions are x (directions 1, 2) or y (3, 4)
  int step;        // +1, or -1 for direction 2
  int startRound;  // added before halving runStart + stepPos
  int endRound;    // added before halving stepPos + runEnd
  int firstSide;   // neighbour line of the first half-run, relative to line
};

constexpr Geometry kGeometry[4] = {
    {true, +1, 0, 1, +1},
    {true, -1, 1, 0, +1},
    {false, +1, 0, 0, +1},
    {false, +1, 0, 0, -1},
};

// Floor of the half, as an arithmetic shift gives it, without overflow.
inline int half(long long v) {
  return static_cast<int>(v >> 1);
}

struct ColourChannel {
  static constexpr bool kAlpha = false;
  // result = blend(blend(towards, own, w), own, s) per channel; A from own.
  static Pixel mix(const Pixel& towards, const Pixel& own, int w, int s) {
    return Pixel{blend(blend(towards.r, own.r, w), own.r, s),
                 blend(blend(towards.g, own.g, w), own.g, s),
                 blend(blend(towards.b, own.b, w), own.b, s), own.a};
  }
  static Pixel mean(const Pixel& p1, const Pixel& p2) {
    return Pixel{blend(p1.r, p2.r, 128), blend(p1.g, p2.g, 128), blend(p1.b, p2.b, 128), 0};
  }
};

struct AlphaChannel {
  static constexpr bool kAlpha = true;
  // The own pixel as read, only its A replaced.
  static Pixel mix(const Pixel& towards, const Pixel& own, int w, int s) {
    Pixel out = own;
    out.a = blend(blend(towards.a, own.a, w), own.a, s);
    return out;
  }
  static Pixel mean(const Pixel& p1, const Pixel& p2) {
    return Pixel{0, 0, 0, blend(p1.a, p2.a, 128)};
  }
};

// Where a call's half-runs begin and end, blendStart and blendEnd both the
// step where it blends nothing. False for a call out of scan order, which
// returns at once.
template <int Direction>
bool blendBounds(int runStart, int stepPos, int runEnd, int* blendStart, int* blendEnd) {
  constexpr Geometry g = kGeometry[Direction - 1];
  if ((static_cast<long long>(stepPos) - runStart) * g.step < 0 ||
      (static_cast<long long>(runEnd) - stepPos) * g.step < 0) {
    return false;
  }
  *blendStart = half(static_cast<long long>(runStart) + stepPos + g.startRound);
  *blendEnd = half(static_cast<long long>(stepPos) + runEnd + g.endRound);
  return true;
}

// Where a call blends: from blendStart to the step and from the step to
// blendEnd. False for a call that returns at once: one out of scan order
// (which never comes from the scan) or one with nothing to blend.
template <int Direction>
bool blendSpan(int runStart, int stepPos, int runEnd, int* blendStart, int* blendEnd) {
  return blendBounds<Direction>(runStart, stepPos, runEnd, blendStart, blendEnd) &&
         !(*blendStart == stepPos && *blendEnd == stepPos);
}

// Number of pixels a call writes: both half-runs and the step pixel, or 0
// for a call that returns at once.
template <int Direction>
long long pixelsWritten(int runStart, int stepPos, int runEnd) {
  constexpr Geometry g = kGeometry[Direction - 1];
  int blendStart = 0, blendEnd = 0;
  if (!blendSpan<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) return 0;
  return (static_cast<long long>(stepPos) - blendStart) * g.step +
         (static_cast<long long>(blendEnd) - stepPos) * g.step + 1;
}

// One kernel call. s is the strength weight (strengthWeight of workStrength).
template <int Direction, class Channel, class Access>
inline void run(Access& px, int s, int runStart, int stepPos, int runEnd, int line) {
  static constexpr Geometry g = kGeometry[Direction - 1];
  int blendStart = 0, blendEnd = 0;
  if (!blendSpan<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) return;

  auto x = [&](int p, int side) { return g.alongRow ? p : line + side; };
  auto y = [&](int p, int side) { return g.alongRow ? line + side : p; };

  Pixel towards{}, own{}, result{};
  // First half-run: from blendStart toward the step, weights rising.
  const int l1 = (stepPos - blendStart) * g.step;
  if (l1 != 0) {
    const int inc = 128 / (l1 + 1);
    int p = blendStart;
    for (int k = 1; k <= l1; ++k, p += g.step) {
      px.src(x(p, g.firstSide), y(p, g.firstSide), &towards);
      px.dst(x(p, 0), y(p, 0), &own);
      result = Channel::mix(towards, own, k * inc, s);
      px.put(x(p, 0), y(p, 0), &result);
    }
  }
  // Second half-run: from the step outward to blendEnd, weights falling.
  const int l2 = (blendEnd - stepPos) * g.step;
  if (l2 != 0) {
    const int inc = 128 / (l2 + 1);
    int p = stepPos + g.step;
    for (int k = 1; k <= l2; ++k, p += g.step) {
      px.src(x(p, -g.firstSide), y(p, -g.firstSide), &towards);
      px.dst(x(p, 0), y(p, 0), &own);
      result = Channel::mix(towards, own, 128 - k * inc, s);
      px.put(x(p, 0), y(p, 0), &result);
    }
  }
  // The step pixel: the mean of its neighbours along the line as they now stand.
  Pixel p1{}, p2{};
  px.dst(x(stepPos + 1, 0), y(stepPos + 1, 0), &p1);
  px.dst(x(stepPos - 1, 0), y(stepPos - 1, 0), &p2);
  const Pixel m = Channel::mean(p1, p2);
  px.dst(x(stepPos, 0), y(stepPos, 0), &own);
  result = Channel::mix(m, own, 256, s);
  px.put(x(stepPos, 0), y(stepPos, 0), &result);
}

}  // namespace kernel_body
