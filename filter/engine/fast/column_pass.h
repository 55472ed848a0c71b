// The column passes (directions 3 and 4): strips of 64 columns walked a row
// at a time, each column's calls handed over in turn, made on the columns
// copied into lines where they are many and held back and made a band of
// rows at a time where they are few. Part of a build of the scan
// (scan_build.h): written once over its Lanes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/line_tests.h"
#include "filter/engine/fast/plane_kernels.h"
#include "filter/engine/fast/row_pass.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/scan_layout.h"

ORU_SCAN_OPEN

// A strip of up to kStrip columns x0 .. x0 + w - 1 of a pass of directions 3
// and 4: its tests taken from the maps a word a row (bit j for column j), the
// walk's states found for all its columns a row at a time, then its columns'
// steps handed over one column after the other. The four pixels of position
// m of column x are current (x, y), across (x + side, y), next (x, y + 1)
// and diagonal (x - side, y + 1), y = yFirst + m: bit x - xFirst + 1 of row
// m + 1 of the maps.
template <int Direction, int N, int First>
class StripView {
 public:
  static constexpr bool kNegative = Direction == 3;
  // The across pixel: to the right for direction 3, to the left for 4.
  static constexpr int kSide = Direction == 3 ? 1 : -1;
  int n;

  StripView(const Pass& pass, int x0, int w) : pass_(pass), x0_(x0), w_(w) {
    const Layout& l = *pass.layout;
    n = l.ny;
    mapRows_ = static_cast<std::size_t>(l.ny) + 2;
    auto map = [&](EdgeMap k) {
      return reinterpret_cast<const std::uint64_t*>(pass.block + l.map[k]) + 1;
    };
    // Current against across, next, diagonal; next against diagonal; across
    // against next; each at row m of these.
    right_ = map(kRightMap);
    curNext_ = map(kBelowMap);
    curDiag_ = map(Direction == 3 ? kRiseMap : kFallMap);
    auto words = [&](std::size_t at) { return reinterpret_cast<std::uint64_t*>(pass.block + at); };
    edges_ = words(l.stripEdges);
    flagWords_ = words(l.stripFlags);
    s1_ = words(l.stripS1);
    s2_ = words(l.stripS2);
    steps_ = words(l.stripSteps);
    columnChunks_ = words(l.stripColumnChunks);
    starts_ = words(l.stripStarts);
    stops_ = words(l.stripStops);
    goesOn_ = words(l.stripGoesOn);
    slopes_ = reinterpret_cast<std::int16_t*>(pass.block + l.stripSlopes) + kStrip;
    state_ = pass.block + l.stripDone;
    flagsDone_ = pass.block + l.stripFlagsDone;
    stopsDone_ = pass.block + l.stripStopsDone;
  }

  // Takes the strip's edge tests, a word a row (bit j for column j); false
  // when the strip has no edge.
  bool start() {
    const std::size_t chunkCount = chunks(static_cast<std::size_t>(n));
    // Across is to the right for direction 3 and to the left for 4.
    const std::size_t from = bit(0) - (Direction == 3 ? 0 : 1);
    std::uint64_t any = 0;
    for (int m = 0; m < n; ++m) {
      const std::uint64_t bits = bitsFrom(row(right_, m), from, w_);
      edges_[m] = bits;
      any |= bits;
    }
    any_ = any;
    if (!any) return false;
    std::memset(state_, kNotYet, chunkCount);
    std::memset(flagsDone_, 0, chunkCount);
    std::memset(stopsDone_, 0, chunkCount);
    return true;
  }

  // Calls emit(j, runStart, stepPos, runEnd), or emitLined for the columns
  // of a group handed over on lines (below), for every step the table scan
  // smooths in column j of the strip, column after column in the pass's
  // order.
  template <class Emit, class EmitLined, class Group>
  void walk(Emit&& emit, EmitLined&& emitLined, Group&& group) {
    const int chunkCount = static_cast<int>(chunks(static_cast<std::size_t>(n)));
    for (int c = 0; c < chunkCount; ++c) {
      const int m0 = c << kChunkShift, m1 = std::min(m0 + kChunk, n);
      std::uint64_t any = 0;
      for (int m = m0; m < m1; ++m) any |= edges_[m];
      if (!any) continue;
      if (state_[c] == kNotYet) fill(c);
      if (state_[c] == kSparse) {
        for (int m = m0; m < m1; ++m) {
          // The grid row below position m + 4, which its measures and those
          // of its neighbours read, asked for before they are taken.
          if (m + 4 < n) {
            prefetchGridRow<N, First>(pass_, x0_ - 1LL, pass_.area->yFirst + m + 5LL, w_ + 3);
          }
          sparseSteps(m);
        }
      }
    }
    // The states, steps and run starts a row at a time, then each chunk's
    // turned into a word a column.
    std::uint64_t out = ~std::uint64_t{0};
    int rowsWithSteps = 0;
    for (int c = 0; c < chunkCount; ++c) {
      const int m0 = c << kChunkShift, m1 = std::min(m0 + kChunk, n);
      std::uint64_t* steps = steps_ + static_cast<std::size_t>(c) * kStrip;
      std::uint64_t* starts = starts_ + static_cast<std::size_t>(c) * kStrip;
      std::uint64_t anySteps = 0, anyStarts = 0;
      for (int m = m0; m < m1; ++m) {
        const std::uint64_t e = edges_[m];
        std::uint64_t s = 0, st = 0;
        if (e) {
          s = m == n - 1 ? e : e & (s2_[m] | (out & s1_[m]));
          st = out & e;
          out = ~e | s;
        } else {
          out = ~std::uint64_t{0};
        }
        steps[m - m0] = s;
        starts[m - m0] = st;
        anySteps |= s;
        anyStarts |= st;
        rowsWithSteps += s != 0;
      }
      std::fill(steps + (m1 - m0), steps + kStrip, std::uint64_t{0});
      std::fill(starts + (m1 - m0), starts + kStrip, std::uint64_t{0});
      if (anySteps) Lanes::transposeBits(steps);
      if (anyStarts) Lanes::transposeBits(starts);
      // Chunk c's columns with steps, turned below into column j's chunks.
      columnChunks_[c] = anySteps;
    }
    // For each column, its chunks with steps, 64 chunks a word.
    for (int b = 0; b < chunkCount; b += kStrip) {
      std::uint64_t* words = columnChunks_ + b;
      std::fill(words + std::min(kStrip, chunkCount - b), words + kStrip, std::uint64_t{0});
      Lanes::transposeBits(words);
    }
    // The columns in groups of kGroup in the pass's order. Where most of the
    // strip's rows have steps, a group whose columns are busy enough is
    // handed over with group(jLo, jHi, true) before its columns' steps,
    // which then go to emitLined, and group(jLo, jHi, false) after them; a
    // strip whose groups all are is handed over whole, before the first and
    // after the last.
    const bool busy = 2 * rowsWithSteps >= n;
    // The copies pay for themselves where the calls are many, a step for
    // every four positions, and their runs reach beyond their steps.
    bool lined[kStrip / kGroup] = {};
    int linedGroups = 0;
    for (int g0 = 0; busy && g0 < w_; g0 += kGroup) {
      const int g1 = std::min(g0 + kGroup, w_);
      const int jLo = Direction == 3 ? g0 : w_ - g1, jHi = Direction == 3 ? g1 - 1 : w_ - 1 - g0;
      long long steps = 0;
      for (int j = jLo; j <= jHi; ++j) {
        for (int c = 0; c < chunkCount; ++c) {
          steps += countBits(steps_[static_cast<std::size_t>(c) * kStrip + j]);
        }
      }
      lined[g0 / kGroup] = steps * 4 >= (n + 2LL) * (g1 - g0) && edgesIn(jLo, jHi) >= 2 * steps;
      linedGroups += lined[g0 / kGroup];
    }
    const bool whole = w_ == kStrip && linedGroups == kStrip / kGroup;
    if (whole) group(0, w_ - 1, true);
    for (int g0 = 0; g0 < w_; g0 += kGroup) {
      const int g1 = std::min(g0 + kGroup, w_);
      const int jLo = Direction == 3 ? g0 : w_ - g1, jHi = Direction == 3 ? g1 - 1 : w_ - 1 - g0;
      if (lined[g0 / kGroup]) {
        if (!whole) group(jLo, jHi, true);
        linedColumns(g0, g1, chunkCount, emitLined);
        if (!whole) group(jLo, jHi, false);
        continue;
      }
      for (int i = g0; i < g1; ++i) columnSteps(Direction == 3 ? i : w_ - 1 - i, chunkCount, emit);
    }
    if (whole) group(0, w_ - 1, false);
  }

  // Columns handed over in groups of this many.
  static constexpr int kGroup = kColumnGroup;

 private:
  // The edges in columns jLo .. jHi.
  long long edgesIn(int jLo, int jHi) const {
    const int w = jHi - jLo + 1;
    const std::uint64_t mask = (w >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << w) - 1) << jLo;
    long long count = 0;
    for (int m = 0; m < n; ++m) count += countBits(edges_[m] & mask);
    return count;
  }
  // The steps of the columns of walk indices g0 .. g1 - 1 on lines, out of
  // line: the walk of the many strips that never come here stays as small.
  template <class Emit>
  ORU_NOINLINE void linedColumns(int g0, int g1, int chunkCount, Emit& emit) {
    for (int i = g0; i < g1; ++i) columnSteps(Direction == 3 ? i : w_ - 1 - i, chunkCount, emit);
  }
  // The steps of column j, to emit.
  template <class Emit>
  ORU_ALWAYS_INLINE void columnSteps(int j, int chunkCount, Emit& emit) {
    if (!((any_ >> j) & 1)) return;
    EndSearch ends;
    for (int b = 0; b < chunkCount; b += kStrip) {
      for (std::uint64_t has = columnChunks_[b + j]; has; has &= has - 1) {
        const int c = b + lowestBit(has);
        columnChunkSteps(j, c, ends, emit);
      }
    }
  }
  // The steps of column j in chunk c, to emit.
  template <class Emit>
  ORU_ALWAYS_INLINE void columnChunkSteps(int j, int c, EndSearch& ends, Emit& emit) {
    const std::uint64_t stops = stopWord(c, j);
    const std::uint64_t goesOn = goesOn_[static_cast<std::size_t>(c) * kStrip + j];
    for (std::uint64_t s = steps_[static_cast<std::size_t>(c) * kStrip + j]; s; s &= s - 1) {
      const int at = lowestBit(s), stepPos = (c << kChunkShift) + at;
      // The run's start: the last start at or before its step.
      int k = c;
      std::uint64_t before =
          starts_[static_cast<std::size_t>(k) * kStrip + j] & (~std::uint64_t{0} >> (63 - at));
      while (!before) before = starts_[static_cast<std::size_t>(--k) * kStrip + j];
      const int runStart = (k << kChunkShift) + highestBit(before);
      // The run's end: its step, or the first stop below it in this chunk,
      // else searched for on from the next chunk.
      const std::uint64_t endBits = endBitsAt<true>(goesOn, stops, at);
      int runEnd;
      if (endBits) {
        runEnd = (c << kChunkShift) + lowestBit(endBits);
      } else {
        runEnd = ends.from(stepPos + 1, 1, [&](int from) { return endFrom(from, j); });
      }
      emit(j, runStart, stepPos, runEnd);
    }
  }

  // Row m of a map's rows from position 0 on.
  MapRow row(const std::uint64_t* map, int m) const { return MapRow{map + m, mapRows_}; }
  // The maps' bit of column j of the strip.
  std::size_t bit(int j) const {
    return static_cast<std::size_t>(static_cast<long long>(x0_) + j - pass_.area->xFirst + 1);
  }
  const std::uint64_t* flags(int m) {
    const int c = m >> kChunkShift;
    if (!flagsDone_[c]) fillFlags(c);
    return flagWords_ + static_cast<std::size_t>(m) * kStripFlagWords;
  }
  // The other tests of the strip's rows in chunk c, a word a row for each
  // (bit j for column j): current against next, against diagonal, next
  // against diagonal.
  void fillFlags(int c) {
    flagsDone_[c] = 1;
    const int m0 = c << kChunkShift, m1 = std::min(m0 + kChunk, n);
    // The diagonal is to the left for direction 3 and to the right for 4.
    const std::size_t b = bit(0), diag = Direction == 3 ? b - 1 : b;
    for (int m = m0; m < m1; ++m) {
      std::uint64_t* f = flagWords_ + static_cast<std::size_t>(m) * kStripFlagWords;
      f[kCurNextFlag] = bitsFrom(row(curNext_, m), b, w_);
      f[kCurDiagFlag] = bitsFrom(row(curDiag_, m), diag, w_);
      f[kNextDiagFlag] = bitsFrom(row(right_, m + 1), diag, w_);
    }
  }
  // The first row from `from` on in column j whose stop bit is set (the last
  // row's is), from the stop bits of each chunk turned a word a column.
  int endFrom(int from, int j) {
    int c = from >> kChunkShift;
    std::uint64_t w = stopWord(c, j) & (~std::uint64_t{0} << (from & (kChunk - 1)));
    while (!w) w = stopWord(++c, j);
    return (c << kChunkShift) + lowestBit(w);
  }
  // Column j's stop bits in chunk c, taken with its go-on bits.
  std::uint64_t stopWord(int c, int j) {
    takeStops(c);
    return stops_[static_cast<std::size_t>(c) * kStrip + j];
  }
  // The stop bits of chunk c's rows, and where a run goes on past a step
  // there (its next pixel is unlike the diagonal; never on the last row),
  // turned a word a column.
  void takeStops(int c) {
    if (stopsDone_[c]) return;
    stopsDone_[c] = 1;
    std::uint64_t* words = stops_ + static_cast<std::size_t>(c) * kStrip;
    std::uint64_t* on = goesOn_ + static_cast<std::size_t>(c) * kStrip;
    const int m0 = c << kChunkShift, m1 = std::min(m0 + kChunk, n);
    for (int m = m0; m < m1; ++m) {
      const std::uint64_t* f = flags(m);
      const bool last = m == n - 1;
      words[m - m0] = last ? ~std::uint64_t{0} : ~(f[kCurDiagFlag] & f[kNextDiagFlag]);
      on[m - m0] = last ? 0 : f[kNextDiagFlag];
    }
    std::fill(words + (m1 - m0), words + kStrip, ~std::uint64_t{0});
    std::fill(on + (m1 - m0), on + kStrip, std::uint64_t{0});
    Lanes::transposeBits(words);
    Lanes::transposeBits(on);
  }
  // The slope measure at row m (-1 .. n) of column j: taken when first asked
  // for, unless its chunk's are taken all at once.
  int slope(int m, int j) {
    const int c = (m < 0 ? 0 : m >= n ? n - 1 : m) >> kChunkShift;
    if (state_[c] == kNotYet) fill(c);
    std::int16_t& v = slopes_[static_cast<std::ptrdiff_t>(m) * kStrip + j];
    if (v == kNoSlope) {
      v = static_cast<std::int16_t>(slopeAt<N, First>(
          pass_, static_cast<long long>(x0_) + j, static_cast<long long>(pass_.area->yFirst) + m));
    }
    return v;
  }
  // The slope measures of the strip's rows in chunk c: where it has many
  // positions to test, all of them and those of the row on either side at
  // once, with the step bits; else marked not taken.
  void fill(int c) {
    const int m0 = c << kChunkShift, m1 = std::min(m0 + kChunk, n);
    int count = 0;
    for (int m = m0; m < m1; ++m) count += countBits(edges_[m] & flags(m)[kCurNextFlag]);
    if (count >= kDenseSteps * w_) {
      state_[c] = kDense;
      slopeRows<N, First>(pass_, x0_, pass_.area->yFirst + m0 - 1LL, m1 - m0 + 2, w_,
                          slopes_ + static_cast<std::ptrdiff_t>(m0 - 1) * kStrip, kStrip);
      for (int m = m0; m < m1; ++m) {
        const std::int16_t* k = slopes_ + static_cast<std::ptrdiff_t>(m) * kStrip;
        const std::uint64_t* f = flags(m);
        const std::uint64_t cand = edges_[m] & f[kCurNextFlag];
        if (!cand) {
          s1_[m] = s2_[m] = 0;
          continue;
        }
        // Across (x + side, y) against next (x, y + 1) for the strip's columns.
        const long long y = pass_.area->yFirst + static_cast<long long>(m);
        const std::uint64_t across95 = differBy95Bits<N, First>(pass_, x0_ + kSide, y, x0_, y + 1);
        stepBits<kNegative>(k, k - kStrip, k + kStrip, cand, across95, &s1_[m], &s2_[m]);
      }
      return;
    }
    state_[c] = kSparse;
    const int lo = c == 0 ? -1 : m0, hi = m1 == n ? n : m1 - 1;
    std::fill(slopes_ + static_cast<std::ptrdiff_t>(lo) * kStrip,
              slopes_ + static_cast<std::ptrdiff_t>(hi + 1) * kStrip, kNoSlope);
  }
  void sparseSteps(int m) {
    const std::uint64_t* f = flags(m);
    std::uint64_t s1 = 0, s2 = 0;
    for (std::uint64_t cand = edges_[m] & f[kCurNextFlag]; cand; cand &= cand - 1) {
      const int j = lowestBit(cand);
      auto across95 = [&] {
        const long long x = static_cast<long long>(x0_) + j,
                        y = pass_.area->yFirst + static_cast<long long>(m);
        return differBy95<N, First>(pass_, x + kSide, y, x, y + 1);
      };
      auto before = [&] { return slope(m - 1, j); };
      auto after = [&] { return slope(m + 1, j); };
      stepBit<kNegative>(slope(m, j), across95, before, after, std::uint64_t{1} << j, &s1, &s2);
    }
    s1_[m] = s1;
    s2_[m] = s2;
  }

  const Pass& pass_;
  int x0_, w_;
  std::size_t mapRows_;
  const std::uint64_t *right_, *curNext_, *curDiag_;  // row 0 at position 0
  std::uint64_t* edges_;                              // a word a row, bit j for column j
  std::uint64_t* flagWords_;                          // kStripFlagWords a row, bit j for column j
  std::uint64_t *s1_, *s2_;                           // the step bits, a word a row
  // kStrip words a chunk of rows: bit r of word j for row m0 + r of column j.
  std::uint64_t *steps_, *starts_, *stops_, *goesOn_;
  std::int16_t* slopes_;                           // rows -1 .. n
  std::uint8_t *state_, *flagsDone_, *stopsDone_;  // a byte a chunk of rows
  std::uint64_t any_ = 0;                          // the columns with an edge
  std::uint64_t* columnChunks_;  // a word a column and 64 chunks: its chunks with a step
};

// Columns xLo .. xHi of a column pass laid out as rows: position y of column
// x at (y, x) of the lines, so that a column's pixels lie next to each
// other; the destination's columns in `dst`, the source's from xLo - 1 to
// xHi + 1 in `src`. Rows yFirst - 1 .. yLast + 1 are copied, all that the
// columns' kernels reach; each kernel reaches its own column alone in the
// destination, so the columns of a group may be copied together.
template <int N, int First>
struct ColumnLines {
  const Pass& pass;
  PlaneSet src{}, dst{};
  int length;
  int xLo = 0, xHi = -1;

  explicit ColumnLines(const Pass& r) : pass(r) {
    const Layout& l = *pass.layout;
    length = l.ny + 2;
    std::uint8_t* at = pass.block + l.columnLine;
    const std::size_t size = l.columnLineSize;
    for (int c = 0; c < N; ++c) {
      dst.plane[First + c] = at + c * kStrip * size;
      src.plane[First + c] = at + (3 * kStrip + c * (kStrip + 2)) * size;
    }
    dst.originX = src.originX = pass.area->yFirst - 1LL;
    dst.stride = src.stride = static_cast<long long>(size);
    dst.size = kStrip * size;
    src.size = (kStrip + 2) * size;
  }
  // Copies columns lo .. hi in; their kernels then run on the lines.
  void take(int lo, int hi) {
    xLo = lo;
    xHi = hi;
    dst.originY = lo;
    src.originY = lo - 1LL;
    const int y0 = pass.area->yFirst - 1, w = hi - lo + 1;
    const std::size_t size = static_cast<std::size_t>(dst.stride);
    const std::ptrdiff_t dStride = static_cast<std::ptrdiff_t>(pass.dst.stride),
                         sStride = static_cast<std::ptrdiff_t>(pass.src.stride);
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* from = pass.dst.plane[First + c] + pass.dst.at(lo, y0);
      const std::uint8_t* left = pass.src.plane[First + c] + pass.src.at(lo - 1, y0);
      std::uint8_t* d = dst.plane[First + c];
      std::uint8_t* s = src.plane[First + c];
      int i = 0;
      if (w == kColumnGroup) {
        // Sixteen rows at a time; the source's ten columns as columns 0 .. 7
        // and 2 .. 9.
        for (; i + 16 <= length; i += 16, from += 16 * dStride, left += 16 * sStride) {
          Lanes::rowsToLines(from, dStride, d + i, size);
          Lanes::rowsToLines(left, sStride, s + i, size);
          Lanes::rowsToLines(left + 2, sStride, s + 2 * size + i, size);
        }
      } else if (w == kStrip) {
        // Sixteen rows at a time: the strip's 64 columns, and the source's
        // 66 as columns 0 .. 63 and 50 .. 65.
        const std::ptrdiff_t line = static_cast<std::ptrdiff_t>(size);
        for (; i + 16 <= length; i += 16, from += 16 * dStride, left += 16 * sStride) {
          // The rows two groups on, asked for ahead: the strip's bytes of
          // each row lie a plane's row apart, and the passes before have
          // long since moved them out of the nearer caches.
          if (i + 32 + 16 <= length) {
            for (int r = 0; r < 16; ++r) {
              const std::uint8_t* f = from + (32 + r) * dStride;
              const std::uint8_t* l = left + (32 + r) * sStride;
              prefetchLine(f);
              prefetchLine(f + 63);
              prefetchLine(l);
              prefetchLine(l + 65);
            }
          }
          Lanes::stripToLines(from, dStride, d + i, line);
          Lanes::stripToLines(left, sStride, s + i, line);
          Lanes::transposeBytes16(left + 50, sStride, s + 50 * size + i, line);
        }
      }
      for (; i < length; ++i, from += dStride, left += sStride) {
        for (int k = 0; k < w; ++k) d[k * size + i] = from[k];
        for (int k = 0; k < w + 2; ++k) s[k * size + i] = left[k];
      }
    }
  }
  // Copies the columns' destination bytes back.
  void giveBack() {
    const int y0 = pass.area->yFirst - 1, w = xHi - xLo + 1;
    const std::size_t size = static_cast<std::size_t>(dst.stride);
    const std::ptrdiff_t dStride = static_cast<std::ptrdiff_t>(pass.dst.stride);
    for (int c = 0; c < N; ++c) {
      std::uint8_t* to = pass.dst.plane[First + c] + pass.dst.at(xLo, y0);
      const std::uint8_t* d = dst.plane[First + c];
      int i = 0;
      if (w == kColumnGroup) {
        for (; i + 16 <= length; i += 16, to += 16 * dStride) {
          Lanes::linesToRows(d + i, size, to, dStride);
        }
      } else if (w == kStrip) {
        const std::ptrdiff_t line = static_cast<std::ptrdiff_t>(size);
        for (; i + 16 <= length; i += 16, to += 16 * dStride) {
          Lanes::linesToStrip(d + i, line, to, dStride);
        }
      }
      for (; i < length; ++i, to += dStride) {
        for (int k = 0; k < w; ++k) to[k] = d[k * size + i];
      }
    }
  }
};

// The calls of a column pass that run straight on the planes, held back and
// made in bands of 2^kBandShift rows (by their steps), column after column
// within a band, each column's in the order they came. A kernel down a
// column reaches no other column of the destination and reads only the
// pristine source beside it, so the calls of different columns may be made
// in any order; the bands keep the rows they reach in the nearer caches
// and the processor's translation of their pages at hand, where a column at
// a time would reach every row of the frame for a few bytes of each.
template <int Direction, class Channel>
class HeldCalls {
 public:
  explicit HeldCalls(const Pass& pass)
      : pass_(pass),
        calls_(reinterpret_cast<HeldCall*>(pass.block + pass.layout->heldCalls)),
        order_(reinterpret_cast<std::uint16_t*>(pass.block + pass.layout->heldOrder)),
        bands_(reinterpret_cast<std::uint32_t*>(pass.block + pass.layout->heldBands)),
        bandCount_(static_cast<int>(heldBands(static_cast<std::size_t>(pass.layout->ny)))) {}

  void hold(int runStart, int stepPos, int runEnd, int line) {
    if (count_ == kHeldCalls) flush();
    calls_[count_++] = HeldCall{runStart, stepPos, runEnd, line};
  }
  // Makes the calls held, band after band.
  void flush() {
    if (count_ == 0) return;
    const int yFirst = pass_.area->yFirst;
    auto band = [&](const HeldCall& c) { return (c.stepPos - yFirst) >> kBandShift; };
    std::fill(bands_, bands_ + bandCount_ + 1, 0u);
    for (int i = 0; i < count_; ++i) ++bands_[band(calls_[i]) + 1];
    for (int b = 0; b < bandCount_; ++b) bands_[b + 1] += bands_[b];
    for (int i = 0; i < count_; ++i) {
      order_[bands_[band(calls_[i])]++] = static_cast<std::uint16_t>(i);
    }
    for (int i = 0; i < count_; ++i) {
      if (i + kAhead < count_) prefetchCall(calls_[order_[i + kAhead]]);
      const HeldCall& c = calls_[order_[i]];
      planeKernel<Direction, Channel>(pass_.src, pass_.dst, pass_.strength, c.runStart, c.stepPos,
                                      c.runEnd, c.line);
    }
    count_ = 0;
  }

 private:
  // The calls ahead of the one being made whose lines are asked for.
  static constexpr int kAhead = 8;
  // Asks for the lines of a call's step and its neighbours, in the
  // destination and in the source columns beside it. Always inline: GCC
  // takes a function that only prefetches for one with no effect and leaves
  // out the calls of it.
  ORU_ALWAYS_INLINE void prefetchCall(const HeldCall& c) {
    constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
    const std::ptrdiff_t dRow = static_cast<std::ptrdiff_t>(pass_.dst.stride);
    const std::ptrdiff_t gRow = static_cast<std::ptrdiff_t>(pass_.layout->gridW);
    const std::size_t d = pass_.dst.at(c.line, c.stepPos);
    for (int k = 0; k < N; ++k) {
      const std::uint8_t* p = pass_.dst.plane[First + k] + d;
      const std::uint8_t* g = pass_.at(First + k, c.line, c.stepPos);
      for (int r = -1; r <= 1; ++r) {
        prefetchLine<true>(p + r * dRow);
        prefetchLine(g + r * gRow);
      }
    }
  }

  const Pass& pass_;
  HeldCall* calls_;
  std::uint16_t* order_;  // the calls' indices, band after band
  std::uint32_t* bands_;  // bandCount_ + 1 counts
  int bandCount_;
  int count_ = 0;
};

// Directions 3 and 4: lines are columns, from the first to the last for 3 and
// from the last to the first for 4; positions run down each column.
template <int Direction, class Channel>
ORU_ALWAYS_INLINE void columnPassBody(const Pass& pass) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  const Area& a = *pass.area;
  ColumnLines<N, First> lines(pass);
  LineKernel<Direction, Channel, true> lined(lines.src, lines.dst, pass.strength);
  int linedColumn = 0;
  bool linedSet = false;
  HeldCalls<Direction, Channel> held(pass);
  const int nx = pass.layout->nx;
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
    StripView<Direction, N, First> strip(pass, x0, x1 - x0 + 1);
    if (!strip.start()) continue;
    strip.walk(
        [&](int j, int r, int p, int e) {
          const int runStart = a.yFirst + r, stepPos = a.yFirst + p, runEnd = a.yFirst + e;
          if (comeToCall<Direction, Channel>(runStart, stepPos, runEnd, x0 + j)) {
            held.hold(runStart, stepPos, runEnd, x0 + j);
          }
        },
        [&](int j, int r, int p, int e) {
          const int runStart = a.yFirst + r, stepPos = a.yFirst + p, runEnd = a.yFirst + e;
          if (!comeToCall<Direction, Channel>(runStart, stepPos, runEnd, x0 + j)) return;
          if (!linedSet || linedColumn != x0 + j) {
            linedColumn = x0 + j;
            linedSet = true;
            lined.setLine(linedColumn);
          }
          lined.call(runStart, stepPos, runEnd);
        },
        [&](int jLo, int jHi, bool take) {
          linedSet = false;
          if (take) {
            lines.take(x0 + jLo, x0 + jHi);
          } else {
            lines.giveBack();
          }
        });
    held.flush();
  }
}
// A column pass, left to the inliner...
template <int Direction, class Channel>
void columnPass(const Pass& pass) {
  columnPassBody<Direction, Channel>(pass);
}
// ... or kept out of the scan's inlined body, where the lanes ask for it
// (Lanes::kColumnPassApart).
template <int Direction, class Channel>
ORU_NOINLINE void columnPassApart(const Pass& pass) {
  columnPassBody<Direction, Channel>(pass);
}

ORU_SCAN_CLOSE
