// The scan's kernels straight on planes: one call at a time on any planes
// (planeKernel), or the calls of one line whose pixels lie next to each
// other (LineKernel), both half-runs of a short call blended together in
// groups of lanes. Part of a build of the scan (scan_build.h): written once
// over its Lanes.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/byte_math.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/kernel_body.h"
#include "filter/engine/reference/kernels.h"

ORU_SCAN_OPEN

using kernel_body::AlphaChannel;
using kernel_body::ColourChannel;

// The channels of a pass: R, G, B for colour, A for alpha.
template <class Channel>
struct Channels {
  static constexpr int kFirst = Channel::kAlpha ? 3 : 0;
  static constexpr int kCount = Channel::kAlpha ? 1 : 3;
};

// The same blend of count bytes along a row in each of N planes, bytes dAt
// on of d[c] toward sAt on of s[c], a group of lanes at a time, the planes of a
// group together so that they share its weights. Every byte depends on
// its own pixels alone, so a run goes up in memory whatever its direction.
// padded: the bytes up to the next group after the run may be read and
// written back as read, so that a last group of fewer lanes is blended
// whole too.
template <int N, bool Full>
ORU_ALWAYS_INLINE void blendRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                                 std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count, int w0, int dw,
                                 unsigned strength, bool padded) {
  const int i = Lanes::blendRowGroups<N, Full>(d, s, dAt, sAt, count, w0, dw, strength, padded);
  if (i >= count) return;
  for (int c = 0; c < N; ++c) {
    blendBytes<Full>(d[c] + dAt + i, 1, s[c] + sAt + i, 1, count - i, w0 + i * dw, dw, strength);
  }
}

// The blend of blendBytes down a column of one plane, d and s a plane's row
// apart: groups of lanes gathered into a register, where the lanes have them.
template <bool Full>
inline void blendColumn(std::uint8_t* __restrict d, std::ptrdiff_t dStep,
                        const std::uint8_t* __restrict s, std::ptrdiff_t sStep, int count, int w0,
                        int dw, unsigned strength) {
  const int i = Lanes::blendColumnGroups<Full>(d, dStep, s, sStep, count, w0, dw, strength);
  blendBytes<Full>(d + i * dStep, dStep, s + i * sStep, sStep, count - i, w0 + i * dw, dw,
                   strength);
}

// A call's step pixel, at `at` in each of N planes, its neighbours along the
// line `along` before and after it: the mean of those as they now stand.
// blends: false for a call that blends nothing, which leaves it as it is.
template <int N, bool Full>
ORU_ALWAYS_INLINE void stepPixel(std::uint8_t* const d[], std::ptrdiff_t at, std::ptrdiff_t along,
                                 int strength, bool blends = true) {
  for (int c = 0; c < N; ++c) {
    std::uint8_t* step = d[c] + at;
    const std::uint8_t own = *step, mean = blend(step[along], step[-along], 128);
    const std::uint8_t result = Full ? mean : blend(mean, own, strength);
    *step = blends ? result : own;
  }
}

// 128 / (l + 1) for a half-run of l >= 0 pixels, without a division: the
// kernels are called often, on short runs mostly.
struct WeightSteps {
  std::uint8_t of[128];
  constexpr WeightSteps() : of() {
    for (int l = 0; l < 128; ++l) of[l] = static_cast<std::uint8_t>(128 / (l + 1));
  }
};
constexpr WeightSteps kWeightSteps;
inline int weightStep(int l) {
  return l < 128 ? kWeightSteps.of[l] : 0;
}

// One kernel call straight on planes: the bytes that
// kernel_body::run leaves through the module's byte routines. src and dst
// are distinct planes; every pixel the call reaches lies in them.
// Lined: a kernel of direction 3 or 4 on a column laid out as a row (the
// planes' x is the column's y, their y the column's x), so that its pixels
// lie next to each other.
// Calls along a row whose half-runs and step span at most this many pixels
// blend both halves together.
constexpr int kSpanLanes = 2 * Lanes::kLanes;
// Lanes a group of blendSpanRows blends at once.
constexpr int kSpanGroup = Lanes::kSpanGroup;

// Full: strength is 256, where the strength blend leaves each byte as the
// first blend made it.
template <int Direction, class Channel, bool Lined, bool Full>
void planeKernelAt(const PlaneSet& src, const PlaneSet& dst, int strength, int runStart,
                   int stepPos, int runEnd, int line) {
  static constexpr kernel_body::Geometry g = [] {
    kernel_body::Geometry geometry = kernel_body::kGeometry[Direction - 1];
    if (Lined) geometry.alongRow = true;
    return geometry;
  }();
  int blendStart = 0, blendEnd = 0;
  if (!kernel_body::blendSpan<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) return;
  const unsigned sw = static_cast<unsigned>(strength);
  const int l1 = (stepPos - blendStart) * g.step, l2 = (blendEnd - stepPos) * g.step;
  const int inc1 = weightStep(l1), inc2 = weightStep(l2);
  // The first half-run: pixel blendStart + (k - 1) * step has weight k * inc1;
  // the second: pixel stepPos + k * step has weight 128 - k * inc2 (k from 1).
  // Each is handed over from its lowest pixel up.
  long long p1 = blendStart, p2 = stepPos + 1LL;
  int w1 = inc1, dw1 = inc1, w2 = 128 - inc2, dw2 = -inc2;
  if (g.step < 0) {
    p1 = stepPos + 1LL;
    w1 = l1 * inc1;
    dw1 = -inc1;
    p2 = static_cast<long long>(stepPos) - l2;
    w2 = 128 - l2 * inc2;
    dw2 = inc2;
  }
  // Where pixel p of the line, or of its neighbour line side, lies in the
  // planes of a set (they share their geometry): from the set's origin,
  // where line 0 has position 0, side steps across and p along the line.
  // In long long, as a plane's coordinates may lie far from 0 (a preview's
  // window); only the offset itself must fit.
  struct Origin {
    long long base, across, along;
  };
  auto originOf = [line](const PlaneSet& ps) {
    if (g.alongRow) return Origin{(line - ps.originY) * ps.stride - ps.originX, ps.stride, 1};
    return Origin{line - ps.originX - ps.originY * ps.stride, 1, ps.stride};
  };
  const Origin dO = originOf(dst), sO = originOf(src);
  auto at = [](const Origin& o, long long p, int side) {
    return static_cast<std::ptrdiff_t>(o.base + side * o.across + p * o.along);
  };
  const std::ptrdiff_t dStep = at(dO, stepPos, 0);
  const std::ptrdiff_t dAlong = static_cast<std::ptrdiff_t>(dO.along);
  const std::ptrdiff_t sAlong = static_cast<std::ptrdiff_t>(sO.along);
  constexpr int first = Channel::kAlpha ? 3 : 0, channels = Channel::kAlpha ? 1 : 3;
  std::uint8_t* d[channels];
  const std::uint8_t* s[channels];
  for (int c = 0; c < channels; ++c) {
    d[c] = dst.plane[first + c];
    s[c] = src.plane[first + c];
  }
  // Whether the planes hold the bytes up to the next group of kSpanGroup
  // after count bytes from dAt in dst and from sAt in src.
  auto roomFor = [&](std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count) {
    const std::size_t end = static_cast<std::size_t>((count + kSpanGroup - 1) & ~(kSpanGroup - 1));
    return dst.size >= static_cast<std::size_t>(dAt) + end &&
           src.size >= static_cast<std::size_t>(sAt) + end;
  };
  // A half-run: along a row from four pixels on a group of lanes at a time
  // with its channels together, down a column from sixteen on gathered a
  // group at a time channel by channel, the others a pixel at a time.
  auto halfRun = [&](std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count, int w0, int dw) {
    if (g.alongRow && count >= 4) {
      // The last group of fewer lanes too, where the planes have room.
      blendRows<channels, Full>(d, s, dAt, sAt, count, w0, dw, sw, roomFor(dAt, sAt, count));
      return;
    }
    if (!g.alongRow && count >= 16) {
      for (int c = 0; c < channels; ++c) {
        blendColumn<Full>(d[c] + dAt, dAlong, s[c] + sAt, sAlong, count, w0, dw, sw);
      }
      return;
    }
    for (int i = 0; i < count; ++i, dAt += dAlong, sAt += sAlong, w0 += dw) {
      for (int c = 0; c < channels; ++c) {
        d[c][dAt] = mixByte<Full>(s[c][sAt], d[c][dAt], static_cast<unsigned>(w0), sw);
      }
    }
  };
  bool blended = false;
  // A short call along a row: both halves at once, a group of lanes at a time.
  if (g.alongRow) {
    const long long lo = g.step > 0 ? blendStart : blendEnd;
    const int span = l1 + l2 + 1;
    if (span <= kSpanLanes) {
      // The first half-run is below the step in memory when the line goes up.
      const long long pLow = g.step > 0 ? p1 : p2, pHigh = g.step > 0 ? p2 : p1;
      const int wLow = g.step > 0 ? w1 : w2, dwLow = g.step > 0 ? dw1 : dw2;
      const int wHigh = g.step > 0 ? w2 : w1, dwHigh = g.step > 0 ? dw2 : dw1;
      const int sideLow = g.step > 0 ? g.firstSide : -g.firstSide;
      const std::ptrdiff_t dAt = at(dO, lo, 0), sLow = at(sO, lo, sideLow),
                           sHigh = at(sO, lo, -sideLow);
      if (roomFor(dAt, std::max(sLow, sHigh), span)) {
        Lanes::blendSpanRows<channels, Full>(
            d, s, dAt, sLow, sHigh, span, static_cast<int>(stepPos - lo),
            wLow + static_cast<int>(lo - pLow) * dwLow, dwLow,
            wHigh + static_cast<int>(lo - pHigh) * dwHigh, dwHigh, sw);
        blended = true;
      }
    }
  }
  if (!blended) {
    halfRun(at(dO, p1, 0), at(sO, p1, g.firstSide), l1, w1, dw1);
    halfRun(at(dO, p2, 0), at(sO, p2, -g.firstSide), l2, w2, dw2);
  }
  stepPixel<channels, Full>(d, dStep, dAlong, strength);
}
template <int Direction, class Channel, bool Lined = false>
void planeKernel(const PlaneSet& src, const PlaneSet& dst, int strength, int runStart, int stepPos,
                 int runEnd, int line) {
  if (strength == 256) {
    planeKernelAt<Direction, Channel, Lined, true>(src, dst, strength, runStart, stepPos, runEnd,
                                                   line);
  } else {
    planeKernelAt<Direction, Channel, Lined, false>(src, dst, strength, runStart, stepPos, runEnd,
                                                    line);
  }
}

// ---- Kernels along a line -------------------------------------------------------

// The kernel calls of one line whose pixels lie next to each other in the
// planes: a row of a row pass, or a column of a group copied into lines.
// What every call of the line shares is found once, when the line is set,
// so that a call costs its own work alone: where the planes have room for
// the lanes past its pixels, both half-runs of a call are blended together,
// a group of lanes at a time, and then the step pixel. Calls that span more
// than kLineSpan pixels, or reach the planes' ends, are planeKernelAt's.
template <int Direction, class Channel, bool Lined>
class LineKernel {
 public:
  static constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;

  LineKernel(const PlaneSet& src, const PlaneSet& dst, int strength)
      : src_(src), dst_(dst), strength_(strength) {
    for (int c = 0; c < N; ++c) {
      d_[c] = dst.plane[First + c];
      s_[c] = src.plane[First + c];
    }
  }

  // The line of the calls that follow: row `line`, or column `line` as
  // the planes lay it out.
  void setLine(int line) {
    line_ = line;
    const long long d = (line - dst_.originY) * dst_.stride - dst_.originX;
    const long long s = (line - src_.originY) * src_.stride - src_.originX;
    dBase_ = d;
    sFirst_ = s + g.firstSide * src_.stride;
    sSecond_ = s - g.firstSide * src_.stride;
    // The planes hold the bytes of positions below roomEnd_ on all three
    // lines (none where their size is not known).
    const long long sHigh = std::max(sFirst_, sSecond_);
    roomEnd_ = dst_.size == 0 || src_.size == 0
                   ? LLONG_MIN
                   : std::min(static_cast<long long>(dst_.size) - d,
                              static_cast<long long>(src_.size) - sHigh);
  }

  ORU_ALWAYS_INLINE void call(int runStart, int stepPos, int runEnd) {
    if (strength_ == 256) {
      callAt<true>(runStart, stepPos, runEnd);
    } else {
      callAt<false>(runStart, stepPos, runEnd);
    }
  }

 private:
  static constexpr kernel_body::Geometry g = [] {
    kernel_body::Geometry geometry = kernel_body::kGeometry[Direction - 1];
    geometry.alongRow = true;
    return geometry;
  }();

  template <bool Full>
  ORU_ALWAYS_INLINE void callAt(int runStart, int stepPos, int runEnd) {
    int blendStart = 0, blendEnd = 0;
    if (!kernel_body::blendBounds<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) {
      return;
    }
    // A call that blends nothing changes nothing. It goes the way of the
    // short calls, without a branch (there are many such calls and no
    // pattern to them): its lanes have weight 0 and its step pixel is left
    // as it is, or where the lanes are masked nothing is stored.
    const bool blends = !(blendStart == stepPos && blendEnd == stepPos);
    const int l1 = (stepPos - blendStart) * g.step, l2 = (blendEnd - stepPos) * g.step;
    const int span = l1 + l2 + 1;
    const long long lo = g.step > 0 ? blendStart : blendEnd;
    const bool roomy =
        span <= kLineSpan && lo + ((span + kSpanGroup - 1) & ~(kSpanGroup - 1)) <= roomEnd_;
    // Calls short enough need no room past their pixels where the lanes
    // are masked.
    const bool masked = Lanes::kStepSpan > 0 && span <= Lanes::kStepSpan;
    if (roomy || masked) {
      // Both half-runs are shorter than the table.
      const int inc1 = kWeightSteps.of[l1], inc2 = kWeightSteps.of[l2];
      // Lane i is position lo + i. Going up the line the first half-run lies
      // below the step: weights (i + 1) inc1 toward the first neighbour line,
      // and above it 128 - (i - l1) inc2 toward the second. Going down it is
      // the other way round: 128 - (l2 - i) inc2 below, toward the second
      // line, and (l1 + l2 + 1 - i) inc1 above, toward the first.
      const bool up = g.step > 0;
      const int wLow = up ? inc1 : 128 - l2 * inc2, dwLow = up ? inc1 : inc2;
      const int wHigh = up ? 128 + l1 * inc2 : (l1 + l2 + 1) * inc1, dwHigh = up ? -inc2 : -inc1;
      const std::ptrdiff_t dAt = static_cast<std::ptrdiff_t>(dBase_ + lo);
      const std::ptrdiff_t sLow = static_cast<std::ptrdiff_t>((up ? sFirst_ : sSecond_) + lo);
      const std::ptrdiff_t sHigh = static_cast<std::ptrdiff_t>((up ? sSecond_ : sFirst_) + lo);
      const unsigned strength = static_cast<unsigned>(strength_);
      if constexpr (Lanes::kStepSpan > 0) {
        if (masked) {
          Lanes::spanWithStep<N, Full>(d_, s_, dAt, sLow, sHigh, span, up ? l1 : l2, wLow, dwLow,
                                       wHigh, dwHigh, strength, blends);
          return;
        }
      }
      Lanes::blendSpanRows<N, Full>(d_, s_, dAt, sLow, sHigh, span, up ? l1 : l2, wLow, dwLow,
                                    wHigh, dwHigh, strength);
      stepPixel<N, Full>(d_, static_cast<std::ptrdiff_t>(dBase_ + stepPos), 1, strength_, blends);
      return;
    }
    planeKernelAt<Direction, Channel, Lined, Full>(src_, dst_, strength_, runStart, stepPos, runEnd,
                                                   line_);
  }

  // Calls spanning at most this many pixels take the lanes.
  static constexpr int kLineSpan = 64;
  static_assert(kLineSpan <= sizeof kWeightSteps.of, "a half-run's step from the table unchecked");

  const PlaneSet &src_, &dst_;
  int strength_;
  int line_ = 0;
  std::uint8_t* d_[N];
  const std::uint8_t* s_[N];
  long long dBase_ = 0, sFirst_ = 0, sSecond_ = 0, roomEnd_ = LLONG_MIN;
};

ORU_SCAN_CLOSE
