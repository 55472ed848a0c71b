// The kernels blend the pixels on both sides of a step toward the
// neighbouring lines with a ramped weight, put the mean of its two neighbours
// along the line into the step pixel, and scale every change by the strength.
// The four directions differ only in geometry; colour and alpha only in the
// channel and the routines they use.
#include "filter/kernels.h"

#if defined(ORU_TEST_HOOKS)
void (*kernelTrace)(int, bool, int, int, int, int) = nullptr;
#endif

int strengthWeight(int strength) {
  long long s = static_cast<long long>(strength) * 256 / 100;
  return s < 0 ? 0 : s > 256 ? 256 : static_cast<int>(s);
}

namespace {

// Floor of the half, as an arithmetic shift gives it, without overflow.
inline int half(long long v) {
  return static_cast<int>(v >> 1);
}

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

struct ColourChannel {
  static PixelReadFunc src(const FilterInstance* i) { return i->pixelOps.getSrc; }
  static PixelReadFunc dst(const FilterInstance* i) { return i->pixelOps.getDst; }
  static PixelWriteFunc put(const FilterInstance* i) { return i->pixelOps.putDst; }
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
  static PixelReadFunc src(const FilterInstance* i) { return i->pixelOps.getSrcA; }
  static PixelReadFunc dst(const FilterInstance* i) { return i->pixelOps.getDstA; }
  static PixelWriteFunc put(const FilterInstance* i) { return i->pixelOps.putDstA; }
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

template <int Direction, class Channel>
int kernel(const FilterAccess* access, FilterInstance* inst, int runStart, int stepPos, int runEnd,
           int line) {
  static constexpr Geometry g = kGeometry[Direction - 1];
  // Out of scan order never comes from the scan; such a call does nothing.
  if ((static_cast<long long>(stepPos) - runStart) * g.step < 0 ||
      (static_cast<long long>(runEnd) - stepPos) * g.step < 0) {
    return 0;
  }
  const int s = strengthWeight(inst->workStrength);
  const int blendStart = half(static_cast<long long>(runStart) + stepPos + g.startRound);
  const int blendEnd = half(static_cast<long long>(stepPos) + runEnd + g.endRound);
  if (blendStart == stepPos && blendEnd == stepPos) return 0;

  const PixelReadFunc getSrc = Channel::src(inst);
  const PixelReadFunc getDst = Channel::dst(inst);
  const PixelWriteFunc putDst = Channel::put(inst);
  auto x = [&](int p, int side) { return g.alongRow ? p : line + side; };
  auto y = [&](int p, int side) { return g.alongRow ? line + side : p; };

  Pixel towards, own, result;
  // First half-run: from blendStart toward the step, weights rising.
  const int l1 = (stepPos - blendStart) * g.step;
  if (l1 != 0) {
    const int inc = 128 / (l1 + 1);
    int p = blendStart;
    for (int k = 1; k <= l1; ++k, p += g.step) {
      getSrc(inst, x(p, g.firstSide), y(p, g.firstSide), &towards);
      getDst(inst, x(p, 0), y(p, 0), &own);
      result = Channel::mix(towards, own, k * inc, s);
      putDst(access, inst, x(p, 0), y(p, 0), &result);
    }
  }
  // Second half-run: from the step outward to blendEnd, weights falling.
  const int l2 = (blendEnd - stepPos) * g.step;
  if (l2 != 0) {
    const int inc = 128 / (l2 + 1);
    int p = stepPos + g.step;
    for (int k = 1; k <= l2; ++k, p += g.step) {
      getSrc(inst, x(p, -g.firstSide), y(p, -g.firstSide), &towards);
      getDst(inst, x(p, 0), y(p, 0), &own);
      result = Channel::mix(towards, own, 128 - k * inc, s);
      putDst(access, inst, x(p, 0), y(p, 0), &result);
    }
  }
  // The step pixel: the mean of its neighbours along the line as they now stand.
  Pixel p1, p2;
  getDst(inst, x(stepPos + 1, 0), y(stepPos + 1, 0), &p1);
  getDst(inst, x(stepPos - 1, 0), y(stepPos - 1, 0), &p2);
  const Pixel m = Channel::mean(p1, p2);
  getDst(inst, x(stepPos, 0), y(stepPos, 0), &own);
  result = Channel::mix(m, own, 256, s);
  putDst(access, inst, x(stepPos, 0), y(stepPos, 0), &result);
  return 0;
}

}  // namespace

#define ORU_KERNEL(name, direction, channel)                                                \
  int name(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos, \
           int runEnd, int line) {                                                          \
    return kernel<direction, channel>(access, instance, runStart, stepPos, runEnd, line);   \
  }

ORU_KERNEL(smooth1, 1, ColourChannel)
ORU_KERNEL(smooth2, 2, ColourChannel)
ORU_KERNEL(smooth3, 3, ColourChannel)
ORU_KERNEL(smooth4, 4, ColourChannel)
ORU_KERNEL(smooth1_a, 1, AlphaChannel)
ORU_KERNEL(smooth2_a, 2, AlphaChannel)
ORU_KERNEL(smooth3_a, 3, AlphaChannel)
ORU_KERNEL(smooth4_a, 4, AlphaChannel)
