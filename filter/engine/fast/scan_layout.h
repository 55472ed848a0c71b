// Where everything a run of the scan works with lies in its block, the grid
// of source pixels around the scan positions, and what one pass of one
// channel group works with (Pass). Part of a build of the scan
// (scan_build.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/scan_area.h"

ORU_SCAN_OPEN

// Columns scanned together: a bit each of a word, and a word each of a
// chunk's steps, run starts and stops when they are turned a word a column.
constexpr int kStrip = 64;
// The words a row of a strip's other tests, a bit a column.
enum StripFlag {
  kCurNextFlag,   // current against next
  kCurDiagFlag,   // current against diagonal
  kNextDiagFlag,  // next against diagonal
  kStripFlagWords
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

// Where everything lies in the block of one pass. The source grid covers the
// scan positions and two pixels around them, which is as far as any test,
// slope measure or kernel reaches. It holds the planes of one channel group
// at a time: a pass changes only its own group's planes, so the alpha plane
// is still the source when the colour passes are done.
struct Layout {
  long long gridX, gridY;  // frame coordinates of grid pixel (0, 0)
  std::size_t gridW, gridH;
  int nx, ny;            // scan positions per row, per column
  std::size_t grid[3];   // planes R, G, B, or A in the first
  std::size_t mapWords;  // words of a row of an edge map
  std::size_t map[4];    // the edge maps (kBelowMap ...)
  std::size_t rowSlopes, rowKnown, rowS1, rowS2, rowBlocks, rowBlocksOf, rowWords;
  std::size_t backS1, backS2;  // direction 2's step bits, mapWords a row
  std::size_t stripEdges, stripFlags, stripSlopes, stripS1, stripS2;
  std::size_t stripSteps, stripColumnChunks, stripStarts, stripStops, stripGoesOn, stripDone,
      stripFlagsDone, stripStopsDone;
  std::size_t columnLine, columnLineSize;       // busy columns' pixels as lines (kColumnLines)
  std::size_t heldCalls, heldOrder, heldBands;  // a column pass's calls held back (HeldCalls)
  std::size_t total;
};

// A group of busy columns of a column pass is smoothed on lines: for each
// channel, a line for each column of the destination, and for each of the
// source's columns from the one before the group to the one after it.
constexpr int kColumnGroup = 8;
// The lines hold up to a strip's columns: a strip whose groups all go on
// lines is copied whole, each line of the planes read once.
constexpr int kColumnLines = 3 * kStrip + 3 * (kStrip + 2);

// The other calls of a column pass are held back, up to this many, and made
// a band of rows at a time (HeldCalls).
struct HeldCall {
  int runStart, stepPos, runEnd, line;
};
constexpr int kHeldCalls = 2048;  // fits the 16-bit indices of HeldCalls' order
constexpr int kBandShift = 4;
// The bands of rows of a column of ny positions.
constexpr std::size_t heldBands(std::size_t ny) {
  return (ny >> kBandShift) + 1;
}

// Positions of a line are tested in chunks: the edge test at every position
// first, the other tests and the slope measures only in the chunks the walk
// reaches, which on most pictures are the few around their edges.
constexpr int kChunkShift = 6;
constexpr int kChunk = 1 << kChunkShift;

// Room for blockRow's count blocks: it writes whole groups of sixteen.
constexpr int blockRowRoom(int count) {
  return (count + 15) / 16 * 16;
}
// Room for the blocks of a chunk's slope measures.
constexpr int kBlockRoom = blockRowRoom(kChunk + 3);

static_assert(kStrip == kChunk, "a strip's step bits are transposed a chunk of rows at a time");

std::size_t chunks(std::size_t positions) {
  return (positions + kChunk - 1) >> kChunkShift;
}

bool channelUsed(int mode, int c) {
  return (c < 3 ? mode & 1 : mode & 2) != 0;
}

// The edge maps: for each pixel (x, y), whether two of its pixels differ by
// more than the limit:
enum EdgeMap {
  kBelowMap,  // (x, y) and (x, y + 1)
  kRightMap,  // (x, y) and (x + 1, y)
  kFallMap,   // (x, y) and (x + 1, y + 1)
  kRiseMap,   // (x + 1, y) and (x, y + 1)
  kMaps
};
static_assert(kMaps == sizeof(Layout::map) / sizeof(Layout::map[0]), "a place for each map");

bool layoutFor(const Area& a, int mode, Layout* out) {
  Layout& l = *out;
  l.nx = a.xLast - a.xFirst + 1;
  l.ny = a.yLast - a.yFirst + 1;
  l.gridX = static_cast<long long>(a.xFirst) - 2;
  l.gridY = static_cast<long long>(a.yFirst) - 2;
  l.gridW = static_cast<std::size_t>(l.nx) + 4;
  l.gridH = static_cast<std::size_t>(l.ny) + 4;
  Sizer s;
  if (l.gridH != 0 && l.gridW > static_cast<std::size_t>(-1) / l.gridH) return false;
  const int planes = (mode & 1) ? 3 : 1;
  for (int c = 0; c < 3; ++c) l.grid[c] = c < planes ? s.add(l.gridW * l.gridH, 1) : 0;
  const std::size_t nx = static_cast<std::size_t>(l.nx), ny = static_cast<std::size_t>(l.ny);
  const std::size_t columnChunks = chunks(ny);
  // Map rows are yFirst - 1 .. yLast + 1, map bits xFirst - 1 .. xLast + 1,
  // with a word more a row for reading 64 bits from any bit of it.
  l.mapWords = (nx + 2 + 63) / 64 + 1;
  if (l.mapWords > static_cast<std::size_t>(-1) / 16 / (ny + 2)) return false;
  for (int k = 0; k < kMaps; ++k) l.map[k] = s.add((ny + 2) * l.mapWords, sizeof(std::uint64_t));
  l.rowSlopes = s.add(nx + 2, sizeof(std::int16_t));
  l.rowKnown = s.add(l.mapWords, 1);
  l.rowBlocks = s.add(2 * l.mapWords * kBlockRoom, sizeof(std::int16_t));
  l.rowBlocksOf = s.add(2 * l.mapWords, sizeof(long long));
  l.rowS1 = s.add(l.mapWords, sizeof(std::uint64_t));
  l.rowS2 = s.add(l.mapWords, sizeof(std::uint64_t));
  l.rowWords = s.add(l.mapWords, sizeof(std::uint32_t));
  l.stripEdges = s.add(ny, sizeof(std::uint64_t));
  l.stripFlags = s.add(ny, kStripFlagWords * sizeof(std::uint64_t));
  l.stripSlopes = s.add(ny + 2, kStrip * sizeof(std::int16_t));
  l.stripS1 = s.add(ny, sizeof(std::uint64_t));
  l.stripS2 = s.add(ny, sizeof(std::uint64_t));
  l.stripSteps = s.add(columnChunks * kStrip, sizeof(std::uint64_t));
  // In blocks of 64 chunks, each turned from a word a chunk to a word a column.
  const std::size_t chunkBlocks = (columnChunks + kStrip - 1) / kStrip;
  l.stripColumnChunks = s.add(chunkBlocks * kStrip, sizeof(std::uint64_t));
  l.stripStarts = s.add(columnChunks * kStrip, sizeof(std::uint64_t));
  l.stripStops = s.add(columnChunks * kStrip, sizeof(std::uint64_t));
  l.stripGoesOn = s.add(columnChunks * kStrip, sizeof(std::uint64_t));
  l.stripDone = s.add(columnChunks, 1);
  l.stripFlagsDone = s.add(columnChunks, 1);
  l.stripStopsDone = s.add(columnChunks, 1);
  // Each line rows yFirst - 1 .. yLast + 1, with room for a last group of
  // lanes read and written back as read. The row passes' kept step bits and
  // the column passes' lines share their room: a channel group's row passes
  // are done before its column passes begin, and each writes what it reads
  // there first.
  Sizer rows, columns;
  const std::size_t backS1 = rows.add(ny * l.mapWords, sizeof(std::uint64_t));
  const std::size_t backS2 = rows.add(ny * l.mapWords, sizeof(std::uint64_t));
  l.columnLineSize = ny + 2 + 16;
  const std::size_t lines = columns.add(kColumnLines, l.columnLineSize);
  if (!rows.fits || !columns.fits) return false;
  const std::size_t shared = s.add(std::max(rows.total, columns.total), 1);
  l.backS1 = shared + backS1;
  l.backS2 = shared + backS2;
  l.columnLine = shared + lines;
  l.heldCalls = s.add(kHeldCalls, sizeof(HeldCall));
  l.heldOrder = s.add(kHeldCalls, sizeof(std::uint16_t));
  l.heldBands = s.add(heldBands(ny) + 1, sizeof(std::uint32_t));
  l.total = s.total;
  return s.fits;
}

// No kernel call can come from a run with no scan position, no pass, or a
// limit that no difference of two bytes exceeds.
bool makesNoCall(const Area& a, int mode, int limit) {
  return !hasPositions(a) || (mode & 3) == 0 || limit >= 255;
}

// Fills the grid with the pixels of count planes of width x height from
// planes[first] on around the area, each coordinate clamped into the planes
// as the B routines clamp it.
void fillGridRows(const Layout& l, std::uint8_t* block, std::uint8_t* const planes[4], int width,
                  int height, int first, int count, std::size_t j0, std::size_t j1) {
  for (int c = 0; c < count; ++c) {
    std::uint8_t* grid = block + l.grid[c];
    for (std::size_t j = j0; j < j1; ++j) {
      std::uint8_t* row = grid + j * l.gridW;
      if (width <= 0 || height <= 0) {
        std::memset(row, 0, l.gridW);
        continue;
      }
      const long long y = std::min<long long>(std::max<long long>(l.gridY + j, 0), height - 1);
      const std::uint8_t* from = planes[first + c] + static_cast<std::size_t>(y) * width;
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
void fillGrid(const Layout& l, std::uint8_t* block, std::uint8_t* const planes[4], int width,
              int height, int first, int count) {
  fillGridRows(l, block, planes, width, height, first, count, 0, l.gridH);
}

// The number of bits set. Inline: without a popcount instruction in the
// target, the builtin is a call into the compiler's run-time library.
inline int countBits(std::uint64_t w) {
  w -= (w >> 1) & 0x5555555555555555ULL;
  w = (w & 0x3333333333333333ULL) + ((w >> 2) & 0x3333333333333333ULL);
  w = (w + (w >> 4)) & 0x0f0f0f0f0f0f0f0fULL;
  return static_cast<int>((w * 0x0101010101010101ULL) >> 56);
}

inline int lowestBit(std::uint64_t w) {
  return __builtin_ctzll(w);
}
inline int highestBit(std::uint64_t w) {
  return 63 - __builtin_clzll(w);
}

// Everything one pass of one channel group works with.
struct Pass {
  const Area* area;
  const Layout* layout;
  std::uint8_t* block;
  PlaneSet src{}, dst{};
  std::uint8_t atLeast = 0;  // limit + 1
  int strength = 0;          // the kernels' strength weight

  // The grid's planes by channel (the alpha plane is the first), its
  // stride, and the offset of pixel (0, 0) from each plane's start: set
  // once, as the scan asks for grid pixels all the time.
  const std::uint8_t* gridPlane[4];
  long long gridStride, gridOffset;

  Pass(const Area* a, const Layout* l, std::uint8_t* b) : area(a), layout(l), block(b) {
    for (int c = 0; c < 4; ++c) gridPlane[c] = block + layout->grid[c == 3 ? 0 : c];
    gridStride = static_cast<long long>(layout->gridW);
    gridOffset = -layout->gridY * gridStride - layout->gridX;
  }

  // Channel c (0 .. 3) of pixel (x, y) of the grid.
  const std::uint8_t* at(int c, long long x, long long y) const {
    return gridPlane[c] + static_cast<std::size_t>(y * gridStride + x + gridOffset);
  }
};

// Asks for the cache line of p ahead of a read (or, Write, a write) the
// processor does not foresee. Always inline, as every function of the scan
// that only asks for lines: GCC takes a function that only prefetches for
// one with no effect and leaves out the calls of it.
template <bool Write = false>
ORU_ALWAYS_INLINE void prefetchLine(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p, Write ? 1 : 0, 3);
#else
  (void)p;
#endif
}

// Asks for the cache lines of bytes x0 .. x0 + count - 1 of grid row y in
// each channel's plane, ahead of reads the processor does not foresee.
template <int N, int First>
ORU_ALWAYS_INLINE void prefetchGridRow(const Pass& pass, long long x0, long long y, int count) {
  for (int c = 0; c < N; ++c) {
    const std::uint8_t* p = pass.at(First + c, x0, y);
    prefetchLine(p);
    prefetchLine(p + count - 1);
  }
}

ORU_SCAN_CLOSE
