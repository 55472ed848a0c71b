// The byte-plane scan. Every decision the scan makes at a position depends
// on the source at fixed offsets from it, so the tests of a whole line are
// made at once into a byte of flags per position, with plain byte loops. The
// slope measures of a line are taken at once too, from the differences of
// its 2 x 2 blocks. A line is then walked once: a run opens at an edge
// position, ends where the edge does or at its step, and after a kernel call
// the walk goes on after the step as the table scan does, but the search for
// where a run beyond its step ends is kept, so that the positions between a
// step and the run's end are never tested twice.
//
// Columns are scanned in strips of columns: the flags and slopes of a strip
// are made row by row (contiguous bytes), then each column of the strip is
// walked in turn, so that the kernel calls keep the table scan's order.
#include "filter/plane_scan.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "filter/heap.h"
#include "filter/kernel_body.h"
#include "filter/kernels.h"
#include "filter/pixel_ops.h"
#include "filter/scan.h"
#include "filter/scan_area.h"

namespace {

using kernel_body::AlphaChannel;
using kernel_body::ColourChannel;

// Flag bits of one position.
constexpr std::uint8_t kEdge = 1;       // current differs from across
constexpr std::uint8_t kCurNext = 2;    // current differs from next
constexpr std::uint8_t kCurDiag = 4;    // current differs from diagonal
constexpr std::uint8_t kNextDiag = 8;   // next differs from diagonal
constexpr std::uint8_t kAcross95 = 16;  // across differs from next by more than 95

// Columns scanned together.
constexpr int kStrip = 64;

// Pixels straight from planes: the source from src, the destination in dst.
// The bytes a routine of the module leaves at 0 are 0 here too.
template <class Channel>
struct PlaneAccess {
  const PlaneSet* srcSet;
  const PlaneSet* dstSet;
  static void load(const PlaneSet& s, int x, int y, Pixel* p) {
    const std::size_t i = s.at(x, y);
    if (Channel::kAlpha) {
      *p = Pixel{0, 0, 0, s.plane[3][i]};
    } else {
      *p = Pixel{s.plane[0][i], s.plane[1][i], s.plane[2][i], 0};
    }
  }
  void src(int x, int y, Pixel* p) const { load(*srcSet, x, y, p); }
  void dst(int x, int y, Pixel* p) const { load(*dstSet, x, y, p); }
  void put(int x, int y, const Pixel* p) const {
    const std::size_t i = dstSet->at(x, y);
    if (Channel::kAlpha) {
      dstSet->plane[3][i] = p->a;
    } else {
      dstSet->plane[0][i] = p->r;
      dstSet->plane[1][i] = p->g;
      dstSet->plane[2][i] = p->b;
    }
  }
};

// ---- Sizes -------------------------------------------------------------------

// Adds up 16-byte aligned pieces of a block, minding size_t overflow.
struct Sizer {
  std::size_t total = 0;
  bool fits = true;
  std::size_t add(std::size_t count, std::size_t unit) {
    const std::size_t at = total;
    if (!fits || (unit != 0 && count > (static_cast<std::size_t>(-1) - 32) / unit)) {
      fits = false;
      return 0;
    }
    const std::size_t size = (count * unit + 15) & ~static_cast<std::size_t>(15);
    if (size > static_cast<std::size_t>(-1) - total) {
      fits = false;
      return 0;
    }
    total += size;
    return at;
  }
};

// Where everything lies in the block of one run. The source grid covers the
// scan positions and two pixels around them, which is as far as any test,
// slope measure or kernel reaches.
struct Layout {
  long long gridX, gridY;  // frame coordinates of grid pixel (0, 0)
  std::size_t gridW, gridH;
  int nx, ny;  // scan positions per row, per column
  std::size_t grid[4];
  std::size_t rowFlags, rowSlopes, blocks, stripFlags, stripSlopes, stripAny;
  std::size_t total;
};

bool channelUsed(int mode, int c) {
  return (c < 3 ? mode & 1 : mode & 2) != 0;
}

bool layoutFor(const Area& a, int mode, Layout* out) {
  Layout& l = *out;
  l.nx = a.xLast - a.xFirst + 1;
  l.ny = a.yLast - a.yFirst + 1;
  l.gridX = static_cast<long long>(a.xFirst) - 2;
  l.gridY = static_cast<long long>(a.yFirst) - 2;
  l.gridW = static_cast<std::size_t>(l.nx) + 4;
  l.gridH = static_cast<std::size_t>(l.ny) + 4;
  Sizer s;
  for (int c = 0; c < 4; ++c) {
    l.grid[c] = 0;
    if (channelUsed(mode, c)) {
      if (l.gridH != 0 && l.gridW > static_cast<std::size_t>(-1) / l.gridH) return false;
      l.grid[c] = s.add(l.gridW * l.gridH, 1);
    }
  }
  const std::size_t nx = static_cast<std::size_t>(l.nx), ny = static_cast<std::size_t>(l.ny);
  l.rowFlags = s.add(nx, 1);
  l.rowSlopes = s.add(nx + 2, sizeof(std::int16_t));
  l.blocks = s.add(2 * (std::max<std::size_t>(nx, kStrip) + 3), sizeof(std::int16_t));
  l.stripFlags = s.add(ny, kStrip);
  l.stripSlopes = s.add(ny + 2, kStrip * sizeof(std::int16_t));
  l.stripAny = s.add(kStrip, 1);
  l.total = s.total;
  return s.fits;
}

// No kernel call can come from a run with no scan position, no pass, or a
// limit that no difference of two bytes exceeds.
bool makesNoCall(const Area& a, int mode, int limit) {
  return !hasPositions(a) || (mode & 3) == 0 || limit >= 255;
}

// Fills the grid with the pixels of width x height planes around the area,
// each coordinate clamped into the planes as the B routines clamp it.
void fillGrid(const Layout& l, std::uint8_t* block, std::uint8_t* const planes[4], int width,
              int height, int mode) {
  for (int c = 0; c < 4; ++c) {
    if (!channelUsed(mode, c)) continue;
    std::uint8_t* grid = block + l.grid[c];
    for (std::size_t j = 0; j < l.gridH; ++j) {
      std::uint8_t* row = grid + j * l.gridW;
      if (width <= 0 || height <= 0) {
        std::memset(row, 0, l.gridW);
        continue;
      }
      const long long y = std::min<long long>(std::max<long long>(l.gridY + j, 0), height - 1);
      const std::uint8_t* from = planes[c] + static_cast<std::size_t>(y) * width;
      // Columns before the frame, inside it, and after it.
      const long long x0 = l.gridX, x1 = l.gridX + static_cast<long long>(l.gridW);
      const long long in0 = std::min<long long>(std::max<long long>(x0, 0), x1);
      const long long in1 = std::max<long long>(std::min<long long>(x1, width), in0);
      std::memset(row, from[0], static_cast<std::size_t>(in0 - x0));
      if (in1 > in0) std::memcpy(row + (in0 - x0), from + in0, static_cast<std::size_t>(in1 - in0));
      std::memset(row + (in1 - x0), from[width - 1], static_cast<std::size_t>(x1 - in1));
    }
  }
}

// ---- Line tests ----------------------------------------------------------------

inline std::uint8_t absDiff(std::uint8_t a, std::uint8_t b) {
  return a > b ? a - b : b - a;
}

// The channels of a pass: R, G, B for colour, A for alpha.
template <class Channel>
struct Channels {
  static constexpr int kFirst = Channel::kAlpha ? 3 : 0;
  static constexpr int kCount = Channel::kAlpha ? 1 : 3;
};

// Largest channel difference of two pixels, the pixels given by the same
// index into per-channel rows.
template <int N>
inline std::uint8_t largest(const std::uint8_t* const* p, const std::uint8_t* const* q, int i) {
  std::uint8_t m = absDiff(p[0][i], q[0][i]);
  if (N > 1) m = std::max(m, absDiff(p[1][i], q[1][i]));
  if (N > 2) m = std::max(m, absDiff(p[2][i], q[2][i]));
  return m;
}

// Flags of count positions: the four pixels of position i at index i of
// their rows. A pair differs when its largest channel difference is at
// least atLeast (the limit + 1). Gives the flags of all positions or'ed.
template <int N>
std::uint8_t lineFlags(const std::uint8_t* const cur[], const std::uint8_t* const across[],
                       const std::uint8_t* const next[], const std::uint8_t* const diag[],
                       int count, std::uint8_t atLeast, std::uint8_t* __restrict out) {
  std::uint8_t any = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t f = (largest<N>(cur, across, i) >= atLeast ? kEdge : 0) |
                           (largest<N>(cur, next, i) >= atLeast ? kCurNext : 0) |
                           (largest<N>(cur, diag, i) >= atLeast ? kCurDiag : 0) |
                           (largest<N>(next, diag, i) >= atLeast ? kNextDiag : 0) |
                           (largest<N>(across, next, i) >= 96 ? kAcross95 : 0);
    out[i] = f;
    any |= f;
  }
  return any;
}

// Of the 2 x 2 blocks whose top-left pixels are index 0 .. count - 1 of the
// rows top (and bottom below it): the differences of the rising pair minus
// those of the falling pair.
template <int N>
void blockRow(const std::uint8_t* const top[], const std::uint8_t* const bottom[], int count,
              std::int16_t* __restrict out) {
  for (int i = 0; i < count; ++i) {
    int rise = 0, fall = 0;
    for (int c = 0; c < N; ++c) {
      rise += absDiff(top[c][i + 1], bottom[c][i]);
      fall += absDiff(top[c][i], bottom[c][i + 1]);
    }
    out[i] = static_cast<std::int16_t>(rise - fall);
  }
}

// Everything one pass of one channel group works with.
struct Run {
  const FilterAccess* access;
  FilterInstance* inst;
  const Area* area;
  const Layout* layout;
  std::uint8_t* block;
  PlaneSet src, dst;
  std::uint8_t atLeast;  // limit + 1
  int strength;          // the kernels' strength weight

  const std::uint8_t* at(int c, long long x, long long y) const {
    return block + layout->grid[c] + static_cast<std::size_t>(y - layout->gridY) * layout->gridW +
           static_cast<std::size_t>(x - layout->gridX);
  }
};

// The block rows of one range of columns, two kept: the slope measure of a
// row needs the blocks of that row and of the one before.
template <int N, int First>
class Blocks {
 public:
  Blocks(const Run& run, long long x0, int count) : run_(run), x0_(x0), count_(count) {
    buffer_[0] = reinterpret_cast<std::int16_t*>(run.block + run.layout->blocks);
    buffer_[1] = buffer_[0] + std::max(run.layout->nx, kStrip) + 3;
  }
  // The blocks whose top-left pixels are (x0 .. x0 + count - 1, y); keep is
  // the row whose blocks must stay.
  const std::int16_t* row(long long y, long long keep) {
    for (int i = 0; i < 2; ++i)
      if (valid_[i] && held_[i] == y) return buffer_[i];
    const int slot = valid_[0] && held_[0] == keep ? 1 : 0;
    const std::uint8_t *top[N], *bottom[N];
    for (int c = 0; c < N; ++c) {
      top[c] = run_.at(First + c, x0_, y);
      bottom[c] = run_.at(First + c, x0_, y + 1);
    }
    blockRow<N>(top, bottom, count_, buffer_[slot]);
    held_[slot] = y;
    valid_[slot] = true;
    return buffer_[slot];
  }

 private:
  const Run& run_;
  long long x0_;
  int count_;
  std::int16_t* buffer_[2];
  long long held_[2] = {0, 0};
  bool valid_[2] = {false, false};
};

// Slope measures at (x0 .. x0 + count - 1, y) into out: the four blocks
// around each pixel; 0 where x < 1 or y < 1, as the measure gives there.
template <int N, int First>
void slopeRow(Blocks<N, First>& blocks, long long x0, long long y, int count,
              std::int16_t* __restrict out) {
  if (y < 1) {
    std::memset(out, 0, static_cast<std::size_t>(count) * sizeof *out);
    return;
  }
  // Blocks start one column to the left: index i is the block at x0 - 1 + i.
  const std::int16_t* above = blocks.row(y - 1, y);
  const std::int16_t* here = blocks.row(y, y - 1);
  for (int i = 0; i < count; ++i) {
    out[i] = static_cast<std::int16_t>(above[i] + above[i + 1] + here[i] + here[i + 1]);
  }
  for (long long x = x0; x < 1 && x < x0 + count; ++x) out[x - x0] = 0;
}

// ---- One line --------------------------------------------------------------------

// The flags and slope measures of a line's positions, position m (0 .. n - 1,
// from the line's lowest coordinate) at flags[m * flagStride] and
// slopes[m * slopeStride]; the slopes reach one position beyond each end.
struct Line {
  const std::uint8_t* flags;
  std::ptrdiff_t flagStride;
  const std::int16_t* slopes;
  std::ptrdiff_t slopeStride;
  int n;
};

// Walks a line in the direction step (+1 or -1) and calls emit(runStart,
// stepPos, runEnd) with positions m for every step the table scan smooths.
template <bool Negative, class Emit>
void walkLine(const Line& line, int step, Emit&& emit) {
  const int first = step > 0 ? 0 : line.n - 1, last = step > 0 ? line.n - 1 : 0;
  auto flags = [&](int m) { return line.flags[m * line.flagStride]; };
  auto slope = [&](int m) { return static_cast<int>(line.slopes[m * line.slopeStride]); };
  auto steeper = [](int k, int other) { return Negative ? k <= other : k >= other; };
  // The step test at m; at a run's first position the slope before is 0,
  // which any slope of the right sign passes.
  auto isStep = [&](int m, bool runsFirst) {
    const std::uint8_t f = flags(m);
    if (!(f & kCurNext)) return false;
    const int k = slope(m);
    if (Negative ? k >= 0 : k <= 0) return false;
    if (!runsFirst && !steeper(k, slope(m - step))) return false;
    return steeper(k, slope(m + step)) || !(f & kAcross95);
  };
  // Where a run whose step is before `from` ends: the first position from
  // `from` on whose pixel is alike its diagonal, or whose next pixel is, or
  // the last. Steps only move on along a line, so a search that started
  // before `from` and ended at or after it has found the answer already.
  bool searched = false;
  int searchedFrom = 0, searchedEnd = 0;
  auto endFrom = [&](int from) {
    if (!searched || (from - searchedFrom) * step < 0 || (searchedEnd - from) * step < 0) {
      int q = from;
      while ((flags(q) & (kCurDiag | kNextDiag)) == (kCurDiag | kNextDiag) && q != last) q += step;
      searched = true;
      searchedFrom = from;
      searchedEnd = q;
    }
    return searchedEnd;
  };

  int m = first;
  for (;;) {
    while (!(flags(m) & kEdge)) {
      if (m == last) return;
      m += step;
    }
    const int runStart = m;
    bool dropped = false;
    if (!isStep(m, true) && m != last) {
      for (;;) {
        m += step;
        if (!(flags(m) & kEdge)) {
          dropped = true;
          break;
        }
        if (isStep(m, false) || m == last) break;
      }
    }
    if (dropped) {
      if (m == last) return;
      m += step;
      continue;
    }
    const int stepPos = m;
    const int runEnd =
        (!(flags(stepPos) & kNextDiag) || stepPos == last) ? stepPos : endFrom(stepPos + step);
    emit(runStart, stepPos, runEnd);
    if (stepPos == last) return;
    m = stepPos + step;
  }
}

// ---- Passes ----------------------------------------------------------------------

template <int Direction, class Channel>
void callKernel(const Run& run, int runStart, int stepPos, int runEnd, int line) {
#if defined(ORU_TEST_HOOKS)
  if (kernelTrace) kernelTrace(Direction, Channel::kAlpha, runStart, stepPos, runEnd, line);
  if (kernelCallsSkipped) return;
#endif
  PlaneAccess<Channel> px{&run.src, &run.dst};
  kernel_body::run<Direction, Channel>(px, run.strength, runStart, stepPos, runEnd, line);
}

// Directions 1 and 2: lines are rows, from the first to the last.
template <int Direction, class Channel>
void rowPass(const Run& run) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  constexpr int step = Direction == 1 ? 1 : -1;
  const Area& a = *run.area;
  const int nx = run.layout->nx;
  std::uint8_t* flags = run.block + run.layout->rowFlags;
  std::int16_t* slopes = reinterpret_cast<std::int16_t*>(run.block + run.layout->rowSlopes);
  Blocks<N, First> blocks(run, static_cast<long long>(a.xFirst) - 2, nx + 3);
  for (int y = a.yFirst; y <= a.yLast; ++y) {
    // Current (x, y), across (x, y + 1), next (x + step, y), diagonal (x + step, y - 1).
    const std::uint8_t *cur[N], *across[N], *next[N], *diag[N];
    for (int c = 0; c < N; ++c) {
      cur[c] = run.at(First + c, a.xFirst, y);
      across[c] = run.at(First + c, a.xFirst, y + 1LL);
      next[c] = run.at(First + c, a.xFirst + static_cast<long long>(step), y);
      diag[c] = run.at(First + c, a.xFirst + static_cast<long long>(step), y - 1LL);
    }
    if (!(lineFlags<N>(cur, across, next, diag, nx, run.atLeast, flags) & kEdge)) continue;
    slopeRow(blocks, static_cast<long long>(a.xFirst) - 1, y, nx + 2, slopes);
    const Line line{flags, 1, slopes + 1, 1, nx};
    walkLine<Direction == 1>(line, step, [&](int r, int p, int e) {
      callKernel<Direction, Channel>(run, a.xFirst + r, a.xFirst + p, a.xFirst + e, y);
    });
  }
}

// Directions 3 and 4: lines are columns, from the first to the last for 3 and
// from the last to the first for 4; positions run down each column.
template <int Direction, class Channel>
void columnPass(const Run& run) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  constexpr long long side = Direction == 3 ? 1 : -1;  // the across pixel's column
  const Area& a = *run.area;
  const int nx = run.layout->nx, ny = run.layout->ny;
  std::uint8_t* flags = run.block + run.layout->stripFlags;
  std::int16_t* slopes = reinterpret_cast<std::int16_t*>(run.block + run.layout->stripSlopes);
  std::uint8_t* any = run.block + run.layout->stripAny;
  const int strips = (nx + kStrip - 1) / kStrip;
  for (int k = 0; k < strips; ++k) {
    int x0, x1;
    if (Direction == 3) {
      x0 = a.xFirst + k * kStrip;
      x1 = static_cast<int>(std::min<long long>(x0 + (kStrip - 1LL), a.xLast));
    } else {
      x1 = a.xLast - k * kStrip;
      x0 = static_cast<int>(std::max<long long>(x1 - (kStrip - 1LL), a.xFirst));
    }
    const int w = x1 - x0 + 1;
    std::memset(any, 0, kStrip);
    std::uint8_t anyEdge = 0;
    for (int y = a.yFirst; y <= a.yLast; ++y) {
      // Current (x, y), across (x + side, y), next (x, y + 1), diagonal (x - side, y + 1).
      const std::uint8_t *cur[N], *across[N], *next[N], *diag[N];
      for (int c = 0; c < N; ++c) {
        cur[c] = run.at(First + c, x0, y);
        across[c] = run.at(First + c, x0 + side, y);
        next[c] = run.at(First + c, x0, y + 1LL);
        diag[c] = run.at(First + c, x0 - side, y + 1LL);
      }
      std::uint8_t* rowFlags = flags + static_cast<std::size_t>(y - a.yFirst) * kStrip;
      anyEdge |= lineFlags<N>(cur, across, next, diag, w, run.atLeast, rowFlags);
      for (int j = 0; j < w; ++j) any[j] |= rowFlags[j];
    }
    if (!(anyEdge & kEdge)) continue;
    Blocks<N, First> blocks(run, static_cast<long long>(x0) - 1, w + 1);
    for (long long y = a.yFirst - 1LL; y <= a.yLast + 1LL; ++y) {
      slopeRow(blocks, x0, y, w, slopes + static_cast<std::size_t>(y - (a.yFirst - 1LL)) * kStrip);
    }
    for (int i = 0; i < w; ++i) {
      const int j = Direction == 3 ? i : w - 1 - i;
      if (!(any[j] & kEdge)) continue;
      const int x = x0 + j;
      const Line line{flags + j, kStrip, slopes + kStrip + j, kStrip, ny};
      walkLine<Direction == 3>(line, 1, [&](int r, int p, int e) {
        callKernel<Direction, Channel>(run, a.yFirst + r, a.yFirst + p, a.yFirst + e, x);
      });
    }
  }
}

template <class Channel>
void passes(const Run& run) {
  rowPass<1, Channel>(run);
  rowPass<2, Channel>(run);
  columnPass<3, Channel>(run);
  columnPass<4, Channel>(run);
}

// The passes over area, reading the source from `source` (width x height
// planes) through a grid in block, smoothing dst.
void scanPlanes(const FilterAccess* access, FilterInstance* inst, const Area& area,
                const Layout& layout, std::uint8_t* block, std::uint8_t* const source[4], int width,
                int height, const PlaneSet& dst) {
  const int mode = inst->workMode;
  fillGrid(layout, block, source, width, height, mode);
  Run run{access, inst, &area, &layout, block, {}, dst, 0, 0};
  for (int c = 0; c < 4; ++c)
    run.src.plane[c] = channelUsed(mode, c) ? block + layout.grid[c] : nullptr;
  run.src.originX = layout.gridX;
  run.src.originY = layout.gridY;
  run.src.stride = static_cast<long long>(layout.gridW);
  run.atLeast = static_cast<std::uint8_t>(differenceLimit(inst->workThreshold) + 1);
  run.strength = strengthWeight(inst->workStrength);
  if (mode & 1) passes<ColourChannel>(run);
  if (mode & 2) passes<AlphaChannel>(run);
}

Area frameArea(int width, int height) {
  Area a;
  innerRange(0, width, &a.xFirst, &a.xLast);
  innerRange(0, height, &a.yFirst, &a.yLast);
  return a;
}

}  // namespace

bool frameScanNeedsBlock(int width, int height, int workMode, int workThreshold,
                         std::size_t* bytes) {
  const Area a = frameArea(width, height);
  if (makesNoCall(a, workMode, differenceLimit(workThreshold))) return false;
  Layout layout;
  *bytes = layoutFor(a, workMode, &layout) ? layout.total : 0;
  return true;
}

void smoothFramePlanes(const FilterAccess* access, FilterInstance* inst, void* block) {
  const Area a = frameArea(inst->width, inst->height);
  const int mode = inst->workMode;
  if (makesNoCall(a, mode, differenceLimit(inst->workThreshold))) return;
  Layout layout;
  if (!layoutFor(a, mode, &layout)) return;
  const PlaneSet dst{
      {inst->planes[0], inst->planes[1], inst->planes[2], inst->planes[3]}, 0, 0, inst->width};
  scanPlanes(access, inst, a, layout, static_cast<std::uint8_t*>(block), inst->planes, inst->width,
             inst->height, dst);
}

bool smoothPreviewPlanes(FilterInstance* inst) {
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
                     kPreviewWidth};
  scanPlanes(nullptr, inst, a, layout, block, inst->planes, inst->width, inst->height, dst);
  heapFree(block);
  return true;
}

bool isPreviewRunOps(const PixelOps& ops) {
  const PixelOps own = previewRunOps();
  return ops.getSrc == own.getSrc && ops.getDst == own.getDst && ops.putDst == own.putDst &&
         ops.getSrcA == own.getSrcA && ops.getDstA == own.getDstA && ops.putDstA == own.putDstA;
}

void runPlaneKernel(int direction, bool alpha, const PlaneSet& src, const PlaneSet& dst,
                    int strength, int runStart, int stepPos, int runEnd, int line) {
  PlaneAccess<ColourChannel> colour{&src, &dst};
  PlaneAccess<AlphaChannel> alphaOnly{&src, &dst};
  const int s = strengthWeight(strength);
  using kernel_body::run;
  switch (direction * 2 + (alpha ? 1 : 0)) {
    case 2:
      run<1, ColourChannel>(colour, s, runStart, stepPos, runEnd, line);
      break;
    case 4:
      run<2, ColourChannel>(colour, s, runStart, stepPos, runEnd, line);
      break;
    case 6:
      run<3, ColourChannel>(colour, s, runStart, stepPos, runEnd, line);
      break;
    case 8:
      run<4, ColourChannel>(colour, s, runStart, stepPos, runEnd, line);
      break;
    case 3:
      run<1, AlphaChannel>(alphaOnly, s, runStart, stepPos, runEnd, line);
      break;
    case 5:
      run<2, AlphaChannel>(alphaOnly, s, runStart, stepPos, runEnd, line);
      break;
    case 7:
      run<3, AlphaChannel>(alphaOnly, s, runStart, stepPos, runEnd, line);
      break;
    case 9:
      run<4, AlphaChannel>(alphaOnly, s, runStart, stepPos, runEnd, line);
      break;
    default:
      break;
  }
}

bool planeSlopes(std::uint8_t* const planes[4], int width, int height, bool alpha, int y, int x0,
                 int count, int* out) {
  const int mode = alpha ? 2 : 1;
  const Area a{x0, x0 + count - 1, y, y};
  Layout layout;
  if (count < 1 || !layoutFor(a, mode, &layout)) return false;
  std::uint8_t* block = static_cast<std::uint8_t*>(heapAlloc(layout.total));
  if (!block) return false;
  fillGrid(layout, block, planes, width, height, mode);
  Run run{nullptr, nullptr, &a, &layout, block, {}, {}, 0, 0};
  std::int16_t* slopes = reinterpret_cast<std::int16_t*>(block + layout.rowSlopes);
  if (alpha) {
    Blocks<1, 3> blocks(run, x0 - 1LL, count + 1);
    slopeRow(blocks, x0, y, count, slopes);
  } else {
    Blocks<3, 0> blocks(run, x0 - 1LL, count + 1);
    slopeRow(blocks, x0, y, count, slopes);
  }
  for (int i = 0; i < count; ++i) out[i] = slopes[i];
  heapFree(block);
  return true;
}
