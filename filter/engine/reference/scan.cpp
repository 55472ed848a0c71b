// The jagged-edge scan: up to eight passes (four directions for colour, then
// four for alpha) over the area, each following edges along its lines and
// handing every stair-step it finds to the kernel of its direction. It reads
// the source only; the kernels write the destination.
#include "filter/engine/reference/scan.h"

#include <climits>
#include <type_traits>

#include "filter/engine/engine.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/reference/kernels.h"
#include "filter/engine/reference/slope.h"
#include "filter/engine/scan_area.h"

namespace {

struct Direction {
  bool alongRow;   // lines are rows (positions x) or columns (positions y)
  int step;        // along the line
  int acrossSide;  // the across pixel's line, relative to the current line
  int lineStep;    // the order of the lines
  bool negative;   // the slope rule
};

constexpr Direction kDirections[4] = {
    {true, +1, +1, +1, true},
    {true, -1, +1, +1, false},
    {false, +1, +1, +1, true},
    {false, +1, -1, -1, false},
};

struct Colour {
  static int differ(const Pixel* p, const Pixel* q, int limit) { return cmpdata(p, q, limit); }
  static int slope(FilterInstance* inst, int x, int y) { return katamuki(inst, x, y); }
};

struct Alpha {
  static int differ(const Pixel* p, const Pixel* q, int limit) { return cmpdata_a(p, q, limit); }
  static int slope(FilterInstance* inst, int x, int y) { return katamuki_a(inst, x, y); }
};

template <int D, class Ch>
void scanPass(const FilterAccess* access, FilterInstance* inst, PixelReadFunc get, const Area& a,
              int limit, KernelFunc kernel) {
  static constexpr Direction d = kDirections[D - 1];
  const int lineLo = d.alongRow ? a.yFirst : a.xFirst, lineHi = d.alongRow ? a.yLast : a.xLast;
  const int posLo = d.alongRow ? a.xFirst : a.yFirst, posHi = d.alongRow ? a.xLast : a.yLast;
  if (lineLo > lineHi || posLo > posHi) return;
  const int firstPos = d.step > 0 ? posLo : posHi, lastPos = d.step > 0 ? posHi : posLo;
  const int firstLine = d.lineStep > 0 ? lineLo : lineHi;
  const int lines = lineHi - lineLo + 1;

  int line = firstLine;
  auto X = [&line](int s, int side) { return d.alongRow ? s : line + side; };
  auto Y = [&line](int s, int side) { return d.alongRow ? line + side : s; };
  for (int n = 0; n < lines; ++n, line += d.lineStep) {
    int state = 0, runStart = 0, stepPos = 0;
    // prevSlope is the slope measure at the previous position of the open
    // run (0 at its first position). The measure is a pure function of the
    // source, so it is taken only where a test needs it, and a value already
    // taken at a position of this line is not taken again.
    bool hasPrev = false, memoValid = false;
    int memoPos = 0, memoSlope = 0;
    auto slopeAt = [&](int p) {
      if (!memoValid || memoPos != p) {
        memoSlope = Ch::slope(inst, X(p, 0), Y(p, 0));
        memoPos = p;
        memoValid = true;
      }
      return memoSlope;
    };
    auto close = [&](int s) {
#if defined(ORU_TEST_HOOKS)
      if (kernelTrace) kernelTrace(D, std::is_same<Ch, Alpha>::value, runStart, stepPos, s, line);
#endif
#if defined(ORU_TEST_HOOKS)
      if (!kernelCallsSkipped)
#endif
        kernel(access, inst, runStart, stepPos, s, line);
      state = 0;
      return stepPos;
    };
    // Reads have no side effects: a pixel is read only where its value can
    // still change what happens at this position.
    for (int s = firstPos;; s += d.step) {
      Pixel cur, across, next, diag;
      get(inst, X(s, 0), Y(s, 0), &cur);
      if (state != 2) {
        get(inst, X(s, d.acrossSide), Y(s, d.acrossSide), &across);
        const int e = Ch::differ(&cur, &across, limit);
        if (state == 0 && e) {
          state = 1;
          runStart = s;
          hasPrev = false;
        } else if (state == 1 && !e) {
          state = 0;
        }
      }
      if (state == 2) {
        get(inst, X(s + d.step, -d.acrossSide), Y(s + d.step, -d.acrossSide), &diag);
        if (!Ch::differ(&cur, &diag, limit)) {
          s = close(s);
        } else {
          get(inst, X(s + d.step, 0), Y(s + d.step, 0), &next);
          if (!Ch::differ(&next, &diag, limit) || s == lastPos) s = close(s);
        }
      } else if (state == 1) {
        get(inst, X(s + d.step, 0), Y(s + d.step, 0), &next);
        if (Ch::differ(&cur, &next, limit)) {
          const int k = slopeAt(s);
          if (d.negative ? k < 0 : k > 0) {
            const int prevSlope = hasPrev ? slopeAt(s - d.step) : 0;
            if (d.negative ? k <= prevSlope : k >= prevSlope) {
              const int kNext = slopeAt(s + d.step);
              if ((d.negative ? k <= kNext : k >= kNext) || !Ch::differ(&across, &next, 95)) {
                state = 2;
                stepPos = s;
              }
            }
          }
        }
        hasPrev = true;
        if (s == lastPos) {
          state = 2;
          stepPos = s;
        }
        if (state == 2) {
          get(inst, X(s + d.step, -d.acrossSide), Y(s + d.step, -d.acrossSide), &diag);
          if (!Ch::differ(&next, &diag, limit) || s == lastPos) s = close(s);
        }
      }
      if (s == lastPos) break;
    }
  }
}

template <class Ch>
void passes(const FilterAccess* access, FilterInstance* inst, PixelReadFunc get, const Area& a,
            int limit, const KernelFunc kernels[4]) {
  scanPass<1, Ch>(access, inst, get, a, limit, kernels[0]);
  scanPass<2, Ch>(access, inst, get, a, limit, kernels[1]);
  scanPass<3, Ch>(access, inst, get, a, limit, kernels[2]);
  scanPass<4, Ch>(access, inst, get, a, limit, kernels[3]);
}

constexpr KernelFunc kColourKernels[4] = {smooth1, smooth2, smooth3, smooth4};
constexpr KernelFunc kAlphaKernels[4] = {smooth1_a, smooth2_a, smooth3_a, smooth4_a};

}  // namespace

int smoothThroughTable(const FilterAccess* access, FilterInstance* instance, int fullFrame) {
  const PixelReadFunc getSrc = instance->pixelOps.getSrc;
  const PixelReadFunc getSrcA = instance->pixelOps.getSrcA;
  const Area area = scanArea(instance, fullFrame);
  const int limit = differenceLimit(instance->workThreshold);
  if (instance->workMode & 1) passes<Colour>(access, instance, getSrc, area, limit, kColourKernels);
  if (instance->workMode & 2) passes<Alpha>(access, instance, getSrcA, area, limit, kAlphaKernels);
  return 0;
}

extern "C" int smooth(const FilterAccess* access, FilterInstance* instance, int fullFrame) {
  // The preview's own routines read and write byte planes: the byte-plane
  // scan gives the same calls and bytes. Any other routines are called.
  if (!fullFrame && isPreviewRunOps(instance->pixelOps) && smoothPreviewPlanes(instance)) return 0;
  return smoothThroughTable(access, instance, fullFrame);
}
