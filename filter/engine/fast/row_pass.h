// The row passes (directions 1 and 2): each row walked a word of positions
// at a time, its kernel calls made along it as they come. Part of a build
// of the scan (scan_build.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/line_tests.h"
#include "filter/engine/fast/plane_kernels.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/scan_layout.h"
#include "filter/engine/reference/kernels.h"

ORU_SCAN_OPEN

// A kernel call as the scan comes to it: false where the test hooks say to
// leave the call out.
template <int Direction, class Channel>
ORU_ALWAYS_INLINE bool comeToCall(int runStart, int stepPos, int runEnd, int line) {
#if defined(ORU_TEST_HOOKS)
  if (kernelTrace) kernelTrace(Direction, Channel::kAlpha, runStart, stepPos, runEnd, line);
  return !kernelCallsSkipped;
#else
  (void)runStart, (void)stepPos, (void)runEnd, (void)line;
  return true;
#endif
}

// What is known of the slope measures of a chunk of rows of a strip.
enum SlopeState : std::uint8_t {
  kNotYet = 0,
  kSparse,  // taken one at a time when first asked for
  kDense,   // all taken at once, and the step bits with them
};

// A word, or a chunk of a strip, with at least this many positions to test
// in 64 has its slope measures taken all at once.
constexpr int kDenseSteps = 3;

// Asks, for row y + kRowsAhead of a row pass (the pass's row m), for the
// cache lines that its tests and kernels reach in the words of 64 positions
// where has(k, m) says it has work: the destination row and the grid rows
// around it. The sweep and the passes before have long since moved them out
// of the nearer caches.
constexpr int kRowsAhead = 2;
template <int N, int First, class Has>
ORU_ALWAYS_INLINE void prefetchRowAhead(const Pass& pass, int y, Has&& has) {
  const Area& a = *pass.area;
  const Layout& l = *pass.layout;
  if (y + kRowsAhead > a.yLast) return;
  const std::size_t m = static_cast<std::size_t>(y + kRowsAhead - a.yFirst);
  for (std::size_t k = 0; k < l.mapWords; ++k) {
    if (!has(k, m)) continue;
    // Word k holds positions 64k - 1 .. 64k + 62.
    const int x = a.xFirst + 64 * static_cast<int>(k) - 1;
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* d = pass.dst.plane[First + c] + pass.dst.at(x, y + kRowsAhead);
      prefetchLine<true>(d);
      prefetchLine<true>(d + 63);
    }
    for (int dy = -1; dy <= 1; ++dy)
      prefetchGridRow<N, First>(pass, x - 1, y + kRowsAhead + dy, 66);
  }
}

// Row y of a pass of directions 1 and 2. The four pixels of position m are
// current (x, y), across (x, y + 1), next (x + step, y) and diagonal
// (x + step, y - 1), x = xFirst + m: bit m + 1 of the maps' rows. Word k of
// the row's bits holds positions 64k - 1 .. 64k + 62.
template <int Direction, int N, int First>
class RowView {
 public:
  static constexpr int kStep = Direction == 1 ? 1 : -1;
  static constexpr bool kNegative = Direction == 1;
  int n;

  // s1 and s2: where the row's step bits are kept, a word each of mapWords.
  RowView(const Pass& pass, int y, std::uint64_t* s1, std::uint64_t* s2)
      : pass_(pass), y_(y), s1_(s1), s2_(s2) {
    const Layout& l = *pass.layout;
    n = l.nx;
    words_ = l.mapWords;
    auto row = [&](EdgeMap map, int dy) {
      return MapRow{reinterpret_cast<const std::uint64_t*>(pass.block + l.map[map]) +
                        static_cast<std::size_t>(y + 1LL + dy - pass.area->yFirst),
                    static_cast<std::size_t>(l.ny) + 2};
    };
    // Current against across, next, diagonal; next against diagonal; across
    // against next.
    edges_ = row(kBelowMap, 0);
    curNext_ = row(kRightMap, 0);
    curDiag_ = row(Direction == 1 ? kRiseMap : kFallMap, -1);
    nextDiag_ = row(kBelowMap, -1);
    slopes_ = reinterpret_cast<std::int16_t*>(pass.block + l.rowSlopes) + 1;
    known_ = pass.block + l.rowKnown;
    blocks_ = reinterpret_cast<std::int16_t*>(pass.block + l.rowBlocks);
    blocksOf_ = reinterpret_cast<long long*>(pass.block + l.rowBlocksOf);
    listedWords_ = reinterpret_cast<std::uint32_t*>(pass.block + l.rowWords);
  }

  // False when the row has no edge. Lists the words with edges, so that
  // the walk's loops go from one to the next without a branch a word.
  bool start() {
    const std::size_t lastWord = static_cast<std::size_t>(n) >> 6;
    std::uint64_t any = 0;
    listed_ = 0;
    for (std::size_t k = 0; k <= lastWord; ++k) {
      const std::uint64_t e = edgeWord(k);
      listedWords_[listed_] = static_cast<std::uint32_t>(k);
      listed_ += e != 0;
      any |= e;
    }
    if (!any) return false;
    std::memset(known_, 0, words_);
    return true;
  }
  // The other direction's view of a row that `first` has started: the same
  // words have edges, listed in the same place, and the slope measures
  // taken so far serve both.
  template <class View>
  void startAfter(const View& first) {
    listed_ = first.listed();
  }
  int listed() const { return listed_; }

  // The step bits of the words with edges.
  void findSteps() {
    for (int i = 0; i < listed_; ++i) {
      const std::size_t k = listedWords_[i];
      const std::uint64_t cand = candidates(k);
      if (countBits(cand) >= kDenseSteps) {
        denseSteps(k, cand);
      } else {
        sparseSteps(k, cand);
      }
    }
  }

  // Calls emit(runStart, stepPos, runEnd) for every step the table scan
  // smooths on the row, in its order, from the step bits.
  template <class Emit>
  void walk(Emit&& emit) {
    // The walk's last position: n - 1 (bit n) walking up, 0 (bit 1) down.
    const int last = Direction == 1 ? n - 1 : 0;
    const std::size_t lastBit = bit(last);
    bool out = true;
    int start = 0;
    EndSearch ends;
    // The walk comes out between runs after a word without edges.
    std::size_t next = Direction == 1 ? 0 : static_cast<std::size_t>(n) >> 6;
    for (int i = 0; i < listed_; ++i) {
      const std::size_t k = listedWords_[Direction == 1 ? i : listed_ - 1 - i];
      if (k != next) out = true;
      next = Direction == 1 ? k + 1 : k - 1;
      const std::uint64_t e = edgeWord(k);
      const std::uint64_t s1 = s1_[k], s2 = s2_[k], a = ~e | s2, b = ~e | s1;
      const std::uint64_t between =
          Direction == 1 ? betweenRunsUp(a, b, &out) : betweenRunsDown(a, b, &out);
      std::uint64_t steps = e & (s2 | (between & s1));
      if (k == lastBit >> 6) steps |= e & (std::uint64_t{1} << (lastBit & 63));
      const std::uint64_t starts = between & e;
      if (steps) {
        // Where a run goes on past its step (not at the walk's last
        // position), and where runs stop, for the word's positions.
        std::uint64_t goesOn = shifted(nextDiag_, k, kStep);
        if (k == lastBit >> 6) goesOn &= ~(std::uint64_t{1} << (lastBit & 63));
        const std::uint64_t stops = stopWord(k);
        do {
          const int at = Direction == 1 ? lowestBit(steps) : highestBit(steps);
          steps ^= std::uint64_t{1} << at;
          const std::uint64_t before = Direction == 1 ? starts & (~std::uint64_t{0} >> (63 - at))
                                                      : starts & (~std::uint64_t{0} << at);
          const int runStart =
              before ? position(k, Direction == 1 ? highestBit(before) : lowestBit(before)) : start;
          const int stepPos = position(k, at);
          // The run's end: its step, or the first stop beyond it in this
          // word, else searched for on from the next word.
          const std::uint64_t endBits = endBitsAt<Direction == 1>(goesOn, stops, at);
          int runEnd;
          if (endBits) {
            runEnd = position(k, Direction == 1 ? lowestBit(endBits) : highestBit(endBits));
          } else {
            runEnd = ends.from(stepPos + kStep, kStep, [&](int from) { return endFrom(from); });
          }
          emit(runStart, stepPos, runEnd);
        } while (steps);
      }
      if (starts) start = position(k, Direction == 1 ? highestBit(starts) : lowestBit(starts));
    }
  }

 private:
  static std::size_t bit(int m) { return static_cast<std::size_t>(m) + 1; }
  static int position(std::size_t k, int at) { return static_cast<int>(k * 64) + at - 1; }
  // Word k of a map row with bit i holding the row's bit 64k + i + d.
  ORU_ALWAYS_INLINE static std::uint64_t shifted(const MapRow& row, std::size_t k, int d) {
    if (d == 0) return row[k];
    if (d > 0) return (row[k] >> 1) | (row[k + 1] << 63);
    return (row[k] << 1) | (k ? row[k - 1] >> 63 : 0);
  }
  // The next and diagonal pixels are a column before for direction 2.
  static constexpr int kOwn = Direction == 1 ? 0 : -1;
  // The positions of word k with an edge.
  std::uint64_t edgeWord(std::size_t k) const {
    const std::size_t lastWord = static_cast<std::size_t>(n) >> 6;
    if (k > lastWord) return 0;
    std::uint64_t w = edges_[k];
    if (k == 0) w &= ~std::uint64_t{1};
    if (k == lastWord) w &= ~std::uint64_t{0} >> (63 - (n & 63));
    return w;
  }
  // The positions of word k to test for a step.
  std::uint64_t candidates(std::size_t k) const {
    const std::uint64_t e = edgeWord(k);
    return e ? e & shifted(curNext_, k, kOwn) : 0;
  }
  // Word k's stop bits: where a run beyond its step ends.
  std::uint64_t stopWord(std::size_t k) const {
    const std::size_t lastBit = bit(Direction == 1 ? n - 1 : 0);
    std::uint64_t w = ~(shifted(curDiag_, k, kOwn) & shifted(nextDiag_, k, kStep));
    if (k == lastBit >> 6) w |= std::uint64_t{1} << (lastBit & 63);
    return w;
  }
  // The first position from `from` on, along the walk, whose stop bit is set.
  int endFrom(int from) const {
    const std::size_t b = bit(from);
    std::size_t k = b >> 6;
    if (Direction == 1) {
      std::uint64_t w = stopWord(k) & (~std::uint64_t{0} << (b & 63));
      while (!w) w = stopWord(++k);
      return position(k, lowestBit(w));
    }
    std::uint64_t w = stopWord(k) & (~std::uint64_t{0} >> (63 - (b & 63)));
    while (!w) w = stopWord(--k);
    return position(k, highestBit(w));
  }
  // The slope measure at m (-1 .. n): taken when first asked for, unless its
  // word's are taken all at once.
  int slope(int m) {
    const std::size_t k = bit(m) >> 6;
    if (!known_[k]) forget(k);
    std::int16_t& v = slopes_[m];
    if (v == kNoSlope) {
      v = static_cast<std::int16_t>(
          slopeAt<N, First>(pass_, static_cast<long long>(pass_.area->xFirst) + m, y_));
    }
    return v;
  }
  // Marks the slope measures of word k not taken.
  void forget(std::size_t k) {
    const long long own = static_cast<long long>(k) * 64 - 1;
    const long long lo = std::max<long long>(own, -1), hi = std::min<long long>(own + 63, n);
    if (lo <= hi) std::fill(slopes_ + lo, slopes_ + hi + 1, kNoSlope);
    known_[k] = 1;
  }
  // The step bits of word k, which has many positions to test: all its
  // slope measures and those on either side taken at once.
  void denseSteps(std::size_t k, std::uint64_t cand) {
    const long long own = static_cast<long long>(k) * 64 - 1;
    // ks[t] is the measure at own - 1 + t; those outside -1 .. n are unused.
    alignas(16) std::int16_t ks[72] = {};
    const long long lo = std::max<long long>(own - 1, -1), hi = std::min<long long>(own + 64, n);
    if (y_ >= 1) {
      // The measure at x adds the blocks at x - 1 and x of rows y - 1 and y.
      const long long x = pass_.area->xFirst + lo;
      const int count = static_cast<int>(hi - lo + 1);
      addBlocks(blocks(k, y_ - 1LL, x - 1, count + 1), blocks(k, y_, x - 1, count + 1), x, count,
                ks + (lo - own + 1));
    }
    std::memcpy(slopes_ + lo, ks + (lo - own + 1),
                static_cast<std::size_t>(hi - lo + 1) * sizeof(std::int16_t));
    known_[k] = 1;
    // Across (x, y + 1) against next (x + step, y) for the word's positions.
    const long long x = pass_.area->xFirst + own;
    const std::uint64_t across95 = differBy95Bits<N, First>(pass_, x, y_ + 1LL, x + kStep, y_);
    stepBits<kNegative>(ks + 1, Direction == 1 ? ks : ks + 2, Direction == 1 ? ks + 2 : ks, cand,
                        across95, &s1_[k], &s2_[k]);
  }
  // The count blocks of row y from x0 on that word k's measures add: made
  // once for the two rows they serve, kept a word at a time in two rows of
  // words (y even, y odd), each marked with the row it holds.
  const std::int16_t* blocks(std::size_t k, long long y, long long x0, int count) {
    const std::size_t at = static_cast<std::size_t>(y & 1) * words_ + k;
    std::int16_t* out = blocks_ + at * kBlockRoom;
    if (blocksOf_[at] != y) {
      blockRow<N, First>(pass_, x0, y, count, out);
      blocksOf_[at] = y;
    }
    return out;
  }
  // The step bits of word k, its slope measures taken one at a time.
  void sparseSteps(std::size_t k, std::uint64_t cand) {
    std::uint64_t s1 = 0, s2 = 0;
    for (; cand; cand &= cand - 1) {
      const int at = lowestBit(cand), m = position(k, at);
      auto across95 = [&] {
        const long long x = pass_.area->xFirst + static_cast<long long>(m);
        return differBy95<N, First>(pass_, x, y_ + 1LL, x + kStep, y_);
      };
      auto before = [&] { return slope(m - kStep); };
      auto after = [&] { return slope(m + kStep); };
      stepBit<kNegative>(slope(m), across95, before, after, std::uint64_t{1} << at, &s1, &s2);
    }
    s1_[k] = s1;
    s2_[k] = s2;
  }

  const Pass& pass_;
  int y_;
  std::size_t words_;
  MapRow edges_, curNext_, curDiag_, nextDiag_;
  std::int16_t* slopes_;  // index -1 .. n
  std::uint8_t* known_;   // a word's measures are in slopes_ or kNoSlope there
  std::int16_t* blocks_;  // kBlockRoom a word, a row of words for even y, one for odd
  long long* blocksOf_;   // the row each word of blocks_ holds
  std::uint64_t *s1_, *s2_;
  std::uint32_t* listedWords_;  // the words with edges, listed_ of them, in order
  int listed_ = 0;
};

// Directions 1 and 2: lines are rows, from the first to the last. Both
// passes test the same positions with the same slope measures, so the first
// finds the steps of both, keeping the second's for it.
template <int Direction, class Channel>
void rowPass(const Pass& pass) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  const Area& a = *pass.area;
  const Layout& l = *pass.layout;
  auto bits = [&](std::size_t at) { return reinterpret_cast<std::uint64_t*>(pass.block + at); };
  std::uint64_t *backS1 = bits(l.backS1), *backS2 = bits(l.backS2);
  if constexpr (Direction == 1) {
    // No row's blocks are kept yet.
    long long* blocksOf = reinterpret_cast<long long*>(pass.block + l.rowBlocksOf);
    std::fill(blocksOf, blocksOf + 2 * l.mapWords, LLONG_MIN);
    // The second pass's steps: none where this pass lists no word, which the
    // second pass's look ahead reads too.
    const std::size_t words = static_cast<std::size_t>(l.ny) * l.mapWords;
    std::fill(backS1, backS1 + words, std::uint64_t{0});
    std::fill(backS2, backS2 + words, std::uint64_t{0});
  }
  // The words of row m to look ahead in: those with edges for the first pass
  // (the maps have a row above the first), those with steps for the second.
  const std::uint64_t* below =
      reinterpret_cast<const std::uint64_t*>(pass.block + l.map[kBelowMap]);
  const std::size_t mapRows = static_cast<std::size_t>(l.ny) + 2;
  auto hasWork = [&](std::size_t k, std::size_t m) {
    if constexpr (Direction == 1) {
      return MapRow{below + m + 1, mapRows}[k] != 0;
    } else {
      const std::size_t at = m * l.mapWords + k;
      return (backS1[at] | backS2[at]) != 0;
    }
  };
  LineKernel<Direction, Channel, false> kernel(pass.src, pass.dst, pass.strength);
  for (int y = a.yFirst; y <= a.yLast; ++y) {
    prefetchRowAhead<N, First>(pass, y, hasWork);
    const std::size_t back = static_cast<std::size_t>(y - a.yFirst) * l.mapWords;
    auto emit = [&](int r, int p, int e) {
      const int runStart = a.xFirst + r, stepPos = a.xFirst + p, runEnd = a.xFirst + e;
      if (comeToCall<Direction, Channel>(runStart, stepPos, runEnd, y)) {
        kernel.call(runStart, stepPos, runEnd);
      }
    };
    if constexpr (Direction == 1) {
      RowView<1, N, First> line(pass, y, bits(l.rowS1), bits(l.rowS2));
      if (!line.start()) continue;
      kernel.setLine(y);
      line.findSteps();
      RowView<2, N, First> other(pass, y, backS1 + back, backS2 + back);
      other.startAfter(line);
      other.findSteps();
      line.walk(emit);
    } else {
      RowView<2, N, First> line(pass, y, backS1 + back, backS2 + back);
      if (!line.start()) continue;
      kernel.setLine(y);
      line.walk(emit);
    }
  }
}

ORU_SCAN_CLOSE
