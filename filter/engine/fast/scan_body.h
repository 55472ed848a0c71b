// The byte-plane scan. Every decision the scan makes at a position depends
// on the source at fixed offsets from it, so every test of the four passes
// of a channel group is made once, as maps of bits, in one sweep down the
// source. A line is then walked a 64-bit word of positions at a time: the
// step tests of a word are bits (from slope measures taken sixteen blocks at
// a time where the word has many positions to test, else one at a time),
// whether the walk comes to a position between runs is a carry over them,
// and the kernel calls come from the bits of the steps. Where a run beyond
// its step ends is searched for once, so no position is tested twice.
//
// Columns are scanned in strips of 64: the walk's states are found for all
// the strip's columns a row at a time, then each column's steps are handed
// over in turn, so that the kernel calls keep the table scan's order.
//
// The scan is written once, over a small vocabulary of lane operations
// (loads, widening, blends of lanes, compares to bit masks, transposes, the
// kernels of a short call) that each build's Lanes supplies: x86_sse2.h,
// x86_avx2.h, x86_avx512.h, portable.h. A build (x86_sse2.cpp ...
// portable.cpp) includes its lanes and then this file, in the namespace and
// target region of its own (scan_build.h). Everything here is internal to
// the build but kEntries, its entry points.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/engine/fast/builds.h"
#include "filter/engine/fast/column_pass.h"
#include "filter/engine/fast/line_tests.h"
#include "filter/engine/fast/plane_kernels.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/fast/row_pass.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/scan_layout.h"
#include "filter/engine/reference/kernels.h"
#include "filter/engine/reference/scan.h"
#include "filter/engine/scan_area.h"
#include "filter/heap.h"

ORU_SCAN_OPEN

// The four passes of one channel group, with its source planes in the grid
// and its edge maps made.
template <class Channel>
void passes(const Pass& pass) {
  rowPass<1, Channel>(pass);
  rowPass<2, Channel>(pass);
  if constexpr (Lanes::kColumnPassApart) {
    columnPassApart<3, Channel>(pass);
    columnPassApart<4, Channel>(pass);
  } else {
    columnPass<3, Channel>(pass);
    columnPass<4, Channel>(pass);
  }
}

// The passes over area, reading the source from `source` (width x height
// planes) through a grid in block, smoothing dst. The colour passes change
// no alpha byte, so an alpha plane that is also dst is still the source
// when they are done.
void scanPlanes(const FilterInstance* inst, const Area& area, const Layout& layout,
                std::uint8_t* block, std::uint8_t* const source[4], int width, int height,
                const PlaneSet& dst) {
  const int mode = inst->workMode;
  Pass pass(&area, &layout, block);
  pass.dst = dst;
  pass.src.originX = layout.gridX;
  pass.src.originY = layout.gridY;
  pass.src.stride = static_cast<long long>(layout.gridW);
  // The grid planes are followed by the rest of the block; the last of them
  // lies highest.
  pass.src.size = layout.total - layout.grid[(mode & 1) ? 2 : 0];
  pass.atLeast = static_cast<std::uint8_t>(differenceLimit(inst->workThreshold) + 1);
  pass.strength = strengthWeight(inst->workStrength);
  // A strip narrower than kStrip leaves the measures of the columns past it
  // as they were; those are never used, but they are compared with the rest
  // a row at a time.
  std::memset(block + layout.stripSlopes, 0, (layout.gridH - 2) * kStrip * sizeof(std::int16_t));
  // A grid of one byte throughout in each channel (an opaque frame's alpha,
  // say) gives no edge and no call where an edge needs a difference of 1 or
  // more; a Threshold above 256 makes every position an edge, even there.
  if (mode & 1) {
    const bool uniform = fillGridAndMaps<3, 0>(pass, source, width, height);
    for (int c = 0; c < 3; ++c) pass.src.plane[c] = block + layout.grid[c];
    pass.src.plane[3] = nullptr;
    if (!uniform || pass.atLeast == 0) passes<ColourChannel>(pass);
  }
  if (mode & 2) {
    pass.src.size = layout.total - layout.grid[0];
    const bool uniform = fillGridAndMaps<1, 3>(pass, source, width, height);
    for (int c = 0; c < 3; ++c) pass.src.plane[c] = nullptr;
    pass.src.plane[3] = block + layout.grid[0];
    if (!uniform || pass.atLeast == 0) passes<AlphaChannel>(pass);
  }
}

Area frameArea(int width, int height) {
  Area a;
  innerRange(0, width, &a.xFirst, &a.xLast);
  innerRange(0, height, &a.yFirst, &a.yLast);
  return a;
}

bool needsBlock(int width, int height, int workMode, int workThreshold, std::size_t* bytes) {
  const Area a = frameArea(width, height);
  if (makesNoCall(a, workMode, differenceLimit(workThreshold))) return false;
  Layout layout;
  *bytes = layoutFor(a, workMode, &layout) ? layout.total : 0;
  return true;
}

void smoothFrame(FilterInstance* inst, void* block) {
  const Area a = frameArea(inst->width, inst->height);
  const int mode = inst->workMode;
  if (makesNoCall(a, mode, differenceLimit(inst->workThreshold))) return;
  Layout layout;
  if (!layoutFor(a, mode, &layout)) return;
  const PlaneSet dst{
      {inst->planes[0], inst->planes[1], inst->planes[2], inst->planes[3]},
      0,
      0,
      inst->width,
      static_cast<std::size_t>(inst->width) * static_cast<std::size_t>(inst->height)};
  scanPlanes(inst, a, layout, static_cast<std::uint8_t*>(block), inst->planes, inst->width,
             inst->height, dst);
}

bool smoothPreview(FilterInstance* inst) {
  const Area a = scanArea(inst, 0);
  const int mode = inst->workMode;
  if (makesNoCall(a, mode, differenceLimit(inst->workThreshold))) return true;
  // The kernels write the area's positions and read them and their
  // neighbours along the line in the preview planes. Where the area has been
  // cut short at the ends of the int range it need not lie in the window:
  // then only the routines' clamping gives the bytes.
  const long long vx = inst->viewX, vy = inst->viewY;
  if (a.xFirst - 1LL < vx || a.xLast + 1LL > vx + (kPreviewWidth - 1) || a.yFirst - 1LL < vy ||
      a.yLast + 1LL > vy + (kPreviewHeight - 1)) {
    return false;
  }
  for (int c = 0; c < 4; ++c) {
    if (!channelUsed(mode, c)) continue;
    if (!inst->previewPlanes[c]) return false;
    if (inst->width > 0 && inst->height > 0 && !inst->planes[c]) return false;
  }
  Layout layout;
  if (!layoutFor(a, mode, &layout)) return false;
  std::uint8_t* block = static_cast<std::uint8_t*>(heapAlloc(layout.total));
  if (!block) return false;
  const PlaneSet dst{{inst->previewPlanes[0], inst->previewPlanes[1], inst->previewPlanes[2],
                      inst->previewPlanes[3]},
                     inst->viewX,
                     inst->viewY,
                     kPreviewWidth,
                     kPreviewPlaneSize};
  scanPlanes(inst, a, layout, block, inst->planes, inst->width, inst->height, dst);
  heapFree(block);
  return true;
}

void kernel(int direction, bool alpha, const PlaneSet& src, const PlaneSet& dst, int strength,
            int runStart, int stepPos, int runEnd, int line) {
  using Kernel = void (*)(const PlaneSet&, const PlaneSet&, int, int, int, int, int);
  static constexpr Kernel kKernels[2][4] = {
      {planeKernel<1, ColourChannel>, planeKernel<2, ColourChannel>, planeKernel<3, ColourChannel>,
       planeKernel<4, ColourChannel>},
      {planeKernel<1, AlphaChannel>, planeKernel<2, AlphaChannel>, planeKernel<3, AlphaChannel>,
       planeKernel<4, AlphaChannel>}};
  if (direction < 1 || direction > 4) return;
  kKernels[alpha ? 1 : 0][direction - 1](src, dst, strengthWeight(strength), runStart, stepPos,
                                         runEnd, line);
}

bool slopes(std::uint8_t* const planes[4], int width, int height, bool alpha, bool eachAlone, int y,
            int x0, int count, int* out) {
  const int mode = alpha ? 2 : 1;
  const Area a{x0, x0 + count - 1, y, y};
  Layout layout;
  if (count < 1 || !layoutFor(a, mode, &layout)) return false;
  std::uint8_t* block = static_cast<std::uint8_t*>(heapAlloc(layout.total));
  if (!block) return false;
  fillGrid(layout, block, planes, width, height, alpha ? 3 : 0, alpha ? 1 : 3);
  Pass pass(&a, &layout, block);
  for (int i = 0; i < count; ++i) {
    if (eachAlone) {
      out[i] = alpha ? slopeAt<1, 3>(pass, x0 + i, y) : slopeAt<3, 0>(pass, x0 + i, y);
    } else if (i % kChunk == 0) {
      const int n = std::min(kChunk, count - i);
      std::int16_t span[kChunk];
      if (alpha) {
        slopeSpan<1, 3>(pass, x0 + i, y, n, span);
      } else {
        slopeSpan<3, 0>(pass, x0 + i, y, n, span);
      }
      for (int k = 0; k < n; ++k) out[i + k] = span[k];
    }
  }
  heapFree(block);
  return true;
}

ORU_SCAN_CLOSE

namespace ORU_SCAN_NAMESPACE {
extern const PlaneScanEntries kEntries = {needsBlock, smoothFrame, smoothPreview, kernel, slopes};
}  // namespace ORU_SCAN_NAMESPACE
