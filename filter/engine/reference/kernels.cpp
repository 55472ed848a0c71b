// The kernels blend the pixels on both sides of a step toward the
// neighbouring lines with a ramped weight, put the mean of its two neighbours
// along the line into the step pixel, and scale every change by the strength.
// The four directions differ only in geometry; colour and alpha only in the
// channel and the routines they use.
#include "filter/engine/reference/kernels.h"

#include "filter/engine/kernel_body.h"

#if defined(ORU_TEST_HOOKS)
void (*kernelTrace)(int, bool, int, int, int, int) = nullptr;
bool kernelCallsSkipped = false;
#endif

int strengthWeight(int strength) {
  long long s = static_cast<long long>(strength) * 256 / 100;
  return s < 0 ? 0 : s > 256 ? 256 : static_cast<int>(s);
}

namespace {

// Pixels through the instance's routine table, as every caller's routines
// expect to be called.
struct ColourSlots {
  static PixelReadFunc src(const FilterInstance* i) { return i->pixelOps.getSrc; }
  static PixelReadFunc dst(const FilterInstance* i) { return i->pixelOps.getDst; }
  static PixelWriteFunc put(const FilterInstance* i) { return i->pixelOps.putDst; }
};

struct AlphaSlots {
  static PixelReadFunc src(const FilterInstance* i) { return i->pixelOps.getSrcA; }
  static PixelReadFunc dst(const FilterInstance* i) { return i->pixelOps.getDstA; }
  static PixelWriteFunc put(const FilterInstance* i) { return i->pixelOps.putDstA; }
};

template <class Slots>
struct TableAccess {
  const FilterAccess* access;
  FilterInstance* inst;
  PixelReadFunc getSrc = Slots::src(inst);
  PixelReadFunc getDst = Slots::dst(inst);
  PixelWriteFunc putDst = Slots::put(inst);
  void src(int x, int y, Pixel* p) { getSrc(inst, x, y, p); }
  void dst(int x, int y, Pixel* p) { getDst(inst, x, y, p); }
  void put(int x, int y, const Pixel* p) { putDst(access, inst, x, y, p); }
};

template <int Direction, class Channel, class Slots>
int kernel(const FilterAccess* access, FilterInstance* inst, int runStart, int stepPos, int runEnd,
           int line) {
  TableAccess<Slots> px{access, inst};
  kernel_body::run<Direction, Channel>(px, strengthWeight(inst->workStrength), runStart, stepPos,
                                       runEnd, line);
  return 0;
}

}  // namespace

#define ORU_KERNEL(name, direction, channel, slots)                                            \
  int name(const FilterAccess* access, FilterInstance* instance, int runStart, int stepPos,    \
           int runEnd, int line) {                                                             \
    return kernel<direction, kernel_body::channel, slots>(access, instance, runStart, stepPos, \
                                                          runEnd, line);                       \
  }

ORU_KERNEL(smooth1, 1, ColourChannel, ColourSlots)
ORU_KERNEL(smooth2, 2, ColourChannel, ColourSlots)
ORU_KERNEL(smooth3, 3, ColourChannel, ColourSlots)
ORU_KERNEL(smooth4, 4, ColourChannel, ColourSlots)
ORU_KERNEL(smooth1_a, 1, AlphaChannel, AlphaSlots)
ORU_KERNEL(smooth2_a, 2, AlphaChannel, AlphaSlots)
ORU_KERNEL(smooth3_a, 3, AlphaChannel, AlphaSlots)
ORU_KERNEL(smooth4_a, 4, AlphaChannel, AlphaSlots)
