// The scan's tests of a line: the edge maps made once from the source, the
// slope measures, and the step tests and walk states of a word of positions
// at a time. Part of a build of the scan (scan_build.h): written once over
// its Lanes.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/engine/fast/byte_math.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/scan_layout.h"

ORU_SCAN_OPEN

// A row of an edge map. The maps are kept a word of columns at a time: word
// k of every row, then word k + 1, so that the column passes, which take a
// word or two of every row in turn, read memory in order, and the row
// passes, which take every word of a few rows, keep each line they read for
// the rows that follow.
struct MapRow {
  const std::uint64_t* at;
  std::size_t stride;  // rows of a map
  std::uint64_t operator[](std::size_t k) const { return at[k * stride]; }
};

// count (<= 64) bits of a row of an edge map from bit `from` on, as the low
// bits of a word. A row has a word more than its bits need.
template <class Row>
ORU_ALWAYS_INLINE std::uint64_t bitsFrom(const Row& row, std::size_t from, int count) {
  const std::size_t k = from >> 6;
  const unsigned shift = static_cast<unsigned>(from & 63);
  std::uint64_t bits = row[k] >> shift;
  if (shift != 0) bits |= row[k + 1] << (64 - shift);
  return count >= 64 ? bits : bits & ((std::uint64_t{1} << count) - 1);
}

// The slope measure at (x, y), as katamuki or katamuki_a takes it: over the
// four 2 x 2 blocks around the pixel, the differences of the rising pairs
// minus those of the falling pairs; 0 where x < 1 or y < 1.
template <int N, int First>
int slopeAt(const Pass& pass, long long x, long long y) {
  if (x < 1 || y < 1) return 0;
  const std::size_t stride = pass.layout->gridW;
  const std::uint8_t* corner[N];
  for (int c = 0; c < N; ++c) corner[c] = pass.at(First + c, x - 1, y - 1);
  return Lanes::slopeAt<N>(corner, stride);
}

// The blocks whose top-left pixels are (x0 .. x0 + count - 1, y): the
// differences of the rising pair minus those of the falling pair. out has
// room for blockRowRoom(count) values.
template <int N, int First>
void blockRow(const Pass& pass, long long x0, long long y, int count,
              std::int16_t* __restrict out) {
  const std::uint8_t *top[N], *bottom[N];
  for (int c = 0; c < N; ++c) {
    top[c] = pass.at(First + c, x0, y);
    bottom[c] = pass.at(First + c, x0, y + 1);
  }
  Lanes::blockRow<N>(top, bottom, count, out);
}

// The slope measures at x0 .. x0 + count - 1 from the blocks of the row above
// and of their own row, both from x0 - 1 on.
inline void addBlocks(const std::int16_t* up, const std::int16_t* here, long long x0, int count,
                      std::int16_t* out) {
  for (int i = 0; i < count; ++i) {
    out[i] = static_cast<std::int16_t>(up[i] + up[i + 1] + here[i] + here[i + 1]);
  }
  for (long long x = x0; x < 1 && x < x0 + count; ++x) out[x - x0] = 0;
}

// The slope measures at (x0 .. x0 + count - 1, y) of the rows y0 .. y0 +
// rows - 1, count <= kChunk + 2, row r at out + r * stride: what slopeAt
// gives at each, for the chunks where the walk asks for most of them. A row
// of blocks serves the measures of the row above it and of its own.
template <int N, int First>
void slopeRows(const Pass& pass, long long x0, long long y0, int rows, int count, std::int16_t* out,
               std::ptrdiff_t stride) {
  std::int16_t blocks[2][kBlockRoom];
  int above = 0;
  bool haveAbove = false;
  for (int r = 0; r < rows; ++r, out += stride) {
    const long long y = y0 + r;
    if (y < 1) {
      std::fill(out, out + count, std::int16_t{0});
      continue;
    }
    // Down a strip (out a row of measures apart) each row is a plane's row
    // away from the last: ask for the lines a few rows on before they are
    // read. Measured on noise: 2.4 % of the frame at four rows, 1.4 % at eight.
    if (stride != 0 &&
        y + 4 <= pass.layout->gridY + static_cast<long long>(pass.layout->gridH) - 1) {
      prefetchGridRow<N, First>(pass, x0 - 1, y + 4, count + 3);
    }
    if (!haveAbove) blockRow<N, First>(pass, x0 - 1, y - 1, count + 1, blocks[above]);
    blockRow<N, First>(pass, x0 - 1, y, count + 1, blocks[above ^ 1]);
    addBlocks(blocks[above], blocks[above ^ 1], x0, count, out);
    above ^= 1;
    haveAbove = true;
  }
}

template <int N, int First>
void slopeSpan(const Pass& pass, long long x0, long long y, int count, std::int16_t* out) {
  slopeRows<N, First>(pass, x0, y, 1, count, out, 0);
}

// A slope measure not yet taken.
constexpr std::int16_t kNoSlope = INT16_MIN;

// Whether pixels (xa, ya) and (xb, yb) of the grid differ by more than 95 in
// some channel: a test the step tests ask for only where it decides, so it
// is made from the grid when asked for rather than kept as a map.
template <int N, int First>
bool differBy95(const Pass& pass, long long xa, long long ya, long long xb, long long yb) {
  for (int c = 0; c < N; ++c) {
    if (absDiff(*pass.at(First + c, xa, ya), *pass.at(First + c, xb, yb)) > 95) return true;
  }
  return false;
}
// The same test for 64 pairs: bit i for pixels (xa + i, ya) and (xb + i, yb).
// Past the end of a grid row the loads read on into the next one, which the
// rows asked for always have; those bits are not used.
template <int N, int First>
std::uint64_t differBy95Bits(const Pass& pass, long long xa, long long ya, long long xb,
                             long long yb) {
  const std::uint8_t *p[N], *q[N];
  for (int c = 0; c < N; ++c) {
    p[c] = pass.at(First + c, xa, ya);
    q[c] = pass.at(First + c, xb, yb);
  }
  return Lanes::atLeastBits64<N>(p, q, 96);
}

// ---- Edge maps -------------------------------------------------------------------

// Every test the scan makes compares two pixels next to each other across,
// along or diagonally, so the tests of all four passes of one channel group
// come from six maps of bits, made once from the source in one sweep down
// its rows. Bit b of row r of a map stands for pixel (xFirst - 1 + b,
// yFirst - 1 + r).
//
// Map row r from grid rows r + 1 and r + 2. flat: both rows hold one byte
// throughout, the same in both, so that no two of their pixels differ.
template <int N, int First>
void edgeMapRow(const Pass& pass, int r, bool flat) {
  const Layout& l = *pass.layout;
  const Area& a = *pass.area;
  std::uint64_t* maps[kMaps];
  for (int k = 0; k < kMaps; ++k) maps[k] = reinterpret_cast<std::uint64_t*>(pass.block + l.map[k]);
  const int count = l.nx + 2;
  const std::size_t mapRows = static_cast<std::size_t>(l.ny) + 2, row = static_cast<std::size_t>(r);
  for (int k = 0; k < kMaps; ++k) maps[k][(l.mapWords - 1) * mapRows + row] = 0;
  if (flat && pass.atLeast != 0) {
    for (std::size_t k = 0; k + 1 < l.mapWords; ++k) {
      for (int m = 0; m < kMaps; ++m) maps[m][k * mapRows + row] = 0;
    }
    return;
  }
  const long long x = a.xFirst - 1LL, y = a.yFirst - 1LL + r;
  const std::uint8_t *cur[N], *below[N];
  for (int c = 0; c < N; ++c) {
    cur[c] = pass.at(First + c, x, y);
    below[c] = pass.at(First + c, x, y + 1);
  }
  for (int i0 = 0, k = 0; i0 < count; i0 += kChunk, ++k) {
    const int n = std::min(kChunk, count - i0);
    const std::uint8_t *c0[N], *c1[N], *b0[N], *b1[N];
    for (int c = 0; c < N; ++c) {
      c0[c] = cur[c] + i0;
      c1[c] = c0[c] + 1;
      b0[c] = below[c] + i0;
      b1[c] = b0[c] + 1;
    }
    // Bits at n and past are cleared.
    std::uint64_t bits[kMaps] = {};
    Lanes::edgeBits<N>(c0, c1, b0, b1, n, pass.atLeast, bits);
    const std::uint64_t used = n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    for (int m = 0; m < kMaps; ++m) maps[m][k * mapRows + row] = bits[m] & used;
  }
}

// Fills the grid with channels First .. First + N - 1 of the width x height
// planes `source` and makes the edge maps from it, a row after the grid row
// it needs, while those rows are still near. True when the grid holds one
// byte throughout.
template <int N, int First>
bool fillGridAndMaps(const Pass& pass, std::uint8_t* const source[4], int width, int height) {
  const Layout& l = *pass.layout;
  // Whether grid row j holds one byte throughout in each channel, those
  // bytes in v.
  struct Flat {
    bool flat;
    std::uint8_t v[N];
    bool same(const Flat& o) const { return flat && o.flat && std::memcmp(v, o.v, N) == 0; }
  };
  auto flatRow = [&](std::size_t j) {
    Flat f{true, {}};
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* row = pass.block + l.grid[c] + j * l.gridW;
      f.v[c] = row[0];
      if (l.gridW > 1 && std::memcmp(row, row + 1, l.gridW - 1) != 0) f.flat = false;
    }
    return f;
  };
  fillGridRows(l, pass.block, source, width, height, First, N, 0, 2);
  const Flat first = flatRow(0);
  Flat before = flatRow(1);
  bool uniform = first.same(before);
  for (int r = 0; r < l.ny + 2; ++r) {
    const std::size_t j = static_cast<std::size_t>(r) + 2;
    fillGridRows(l, pass.block, source, width, height, First, N, j, j + 1);
    const Flat here = flatRow(j);
    uniform = uniform && first.same(here);
    edgeMapRow<N, First>(pass, r, before.same(here));
    before = here;
  }
  return uniform;
}

// Bit b of a map's row.
inline bool bitAt(const MapRow& row, std::size_t b) {
  return ((row[b >> 6] >> (b & 63)) & 1) != 0;
}

// ---- Steps by words ----------------------------------------------------------------
//
// The walk of a line is a machine of two states: between runs or in a pass.
// Between runs, a position with an edge opens a run there and is its step at
// once if the step test passes with the slope before it taken as 0 (s1); in
// a pass, a position with no edge drops the pass, and one that passes the step
// test (s2) is its step. After a step or a dropped run the walk is between
// runs again; the line's last position closes a run open there. Every test
// depends on the source alone, so s1 and s2 are bits of the positions, s2
// implies s1, and whether the walk comes to position m + 1 between runs is
// a carry:
//   out(m + 1) = a(m) | (out(m) & b(m)),  a = !edge | s2,  b = !edge | s1.
// Along a row that is the carry of an addition, a word of positions at a
// time; down the columns of a strip it is a word of columns, a row at a time.

alignas(16) constexpr std::int16_t kZeroSlopes[64] = {};

// The step tests of 64 positions from their slope measures k[i], the
// measures of the positions before them along the walk (before[i]) and after
// them (after[i]). cand holds the positions with an edge whose pixel differs
// from the next; across95 those whose across pixel differs from the next by
// more than 95 (where cand has them).
template <bool Negative>
void stepBits(const std::int16_t* k, const std::int16_t* before, const std::int16_t* after,
              std::uint64_t cand, std::uint64_t across95, std::uint64_t* s1, std::uint64_t* s2) {
  // k is steeper than o where Negative ? k <= o : k >= o.
  auto notSteeper = [&](const std::int16_t* o) {
    return Negative ? Lanes::greaterBits(k, o) : Lanes::greaterBits(o, k);
  };
  const std::uint64_t sign =
      Negative ? Lanes::greaterBits(kZeroSlopes, k) : Lanes::greaterBits(k, kZeroSlopes);
  *s1 = cand & sign & (~across95 | ~notSteeper(after));
  *s2 = *s1 & ~notSteeper(before);
}

// The same for one position, with the across test and the measures taken
// as they are asked for: the one after only where the across test decides.
template <bool Negative, class Across95, class Before, class After>
void stepBit(int k, Across95&& across95, Before&& before, After&& after, std::uint64_t bit,
             std::uint64_t* s1, std::uint64_t* s2) {
  auto steeper = [](int a, int o) { return Negative ? a <= o : a >= o; };
  if (Negative ? k >= 0 : k <= 0) return;
  if (across95() && !steeper(k, after())) return;
  *s1 |= bit;
  if (steeper(k, before())) *s2 |= bit;
}

// The states of a word of positions walked up (bit 0 first): bit i of the
// result is whether the walk comes to position i between runs, *out on
// entry is whether it comes to bit 0 so and on return whether it leaves the
// word so.
inline std::uint64_t betweenRunsUp(std::uint64_t a, std::uint64_t b, bool* out) {
  const std::uint64_t sum1 = a + b;
  const std::uint64_t sum = sum1 + (*out ? 1 : 0);
  *out = sum1 < a || sum < sum1;
  return sum ^ a ^ b;
}
// The same for a word walked down (bit 63 first).
inline std::uint64_t betweenRunsDown(std::uint64_t a, std::uint64_t b, bool* out) {
  // Each bit's carry over the bits above it, by doubling spans.
  std::uint64_t g = a, p = b;
  for (unsigned s = 1; s < 64; s <<= 1) {
    g |= p & (g >> s);
    p &= (p >> s) | ~(~std::uint64_t{0} >> s);
  }
  const std::uint64_t o = g | (*out ? p : 0);
  const std::uint64_t states = (o >> 1) | (static_cast<std::uint64_t>(*out) << 63);
  *out = (o & 1) != 0;
  return states;
}

// Where a run beyond its step ends: the first position from `from` on whose
// stop bit is set (its pixel is alike its diagonal, or its next pixel is; the
// line's last position has it too). Steps only move on along a line, so a
// search that started before `from` and ended at or after it has found the
// answer already.
struct EndSearch {
  bool searched = false;
  int searchedFrom = 0, searchedEnd = 0;
  template <class Find>
  int from(int at, int step, Find&& find) {
    if (!searched || (at - searchedFrom) * step < 0 || (searchedEnd - at) * step < 0) {
      searched = true;
      searchedFrom = at;
      searchedEnd = find(at);
    }
    return searchedEnd;
  }
};

// The bit of a run's end among a word of positions whose stop bits are
// `stops`, for a step at bit `at`: the step's own where the run does not go
// on past it (goesOn), else the stops beyond it along the walk (up: bit 0
// first); none where the end lies in a later word.
template <bool Up>
inline std::uint64_t endBitsAt(std::uint64_t goesOn, std::uint64_t stops, int at) {
  const std::uint64_t beyond =
      Up ? stops & ((~std::uint64_t{0} << at) << 1) : stops & ((std::uint64_t{1} << at) - 1);
  // Chosen by a mask, not a branch: in a busy picture whether a run goes on
  // has no pattern to it.
  const std::uint64_t on = std::uint64_t{0} - ((goesOn >> at) & 1);
  return (beyond & on) | ((std::uint64_t{1} << at) & ~on);
}

ORU_SCAN_CLOSE
