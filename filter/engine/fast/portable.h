// The scan's lane operations in plain C++, a byte or a value at a time:
// for processors the module has no build of its own for (no SSE2), and
// built on every machine so that the tests hold it to the same calls and
// bytes as the others. PortableLanes blends every byte of a call through
// the scan's own byte loops (its groups of lanes take none), and leaves the
// lines as they are where the others transpose them. Part of a build of the
// scan (scan_build.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/byte_math.h"
#include "filter/engine/fast/lanes.h"
#include "filter/engine/fast/scan_build.h"

ORU_SCAN_OPEN

struct PortableLanes : LanesDefaults {
  static constexpr int kLanes = 8;
  static constexpr int kSpanGroup = kLanes;

  // No group of lanes: the caller blends every byte.
  template <int N, bool Full>
  static int blendRowGroups(std::uint8_t* const[], const std::uint8_t* const[], std::ptrdiff_t,
                            std::ptrdiff_t, int, int, int, unsigned, bool) {
    return 0;
  }
  template <bool Full>
  static int blendColumnGroups(std::uint8_t*, std::ptrdiff_t, const std::uint8_t*, std::ptrdiff_t,
                               int, int, int, unsigned) {
    return 0;
  }

  // Both half-runs of a short call a byte at a time, the step pixel left
  // alone (Sse2Lanes::blendSpanRows).
  template <int N, bool Full>
  static void blendSpanRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                            std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh, int span,
                            int at, int wLow, int dwLow, int wHigh, int dwHigh, unsigned strength) {
    for (int c = 0; c < N; ++c) {
      blendBytes<Full>(d[c] + dAt, 1, s[c] + sLow, 1, at, wLow, dwLow, strength);
      blendBytes<Full>(d[c] + dAt + at + 1, 1, s[c] + sHigh + at + 1, 1, span - at - 1,
                       wHigh + (at + 1) * dwHigh, dwHigh, strength);
    }
  }

  // Bit i: whether the largest channel difference of pixels i of p and q
  // (rows of each of their N channels) is at least atLeast, for 64 pixels.
  template <int N>
  static std::uint64_t atLeastBits64(const std::uint8_t* const p[], const std::uint8_t* const q[],
                                     std::uint8_t atLeast) {
    std::uint8_t d[64];
    largestDifferences<N>(p, q, 64, d);
    return atLeastBits(d, 64, atLeast);
  }

  // Sse2Lanes::edgeBits, the bits past n clear.
  template <int N>
  static void edgeBits(const std::uint8_t* const c0[], const std::uint8_t* const c1[],
                       const std::uint8_t* const b0[], const std::uint8_t* const b1[], int n,
                       std::uint8_t atLeast, std::uint64_t out[4]) {
    std::uint8_t d[64];
    const std::uint8_t* const* pairs[4][2] = {{c0, b0}, {c0, c1}, {c0, b1}, {c1, b0}};
    for (int m = 0; m < 4; ++m) {
      largestDifferences<N>(pairs[m][0], pairs[m][1], n, d);
      out[m] |= atLeastBits(d, n, atLeast);
    }
  }

  template <int N>
  static int slopeAt(const std::uint8_t* const corner[], std::size_t stride) {
    int sum = 0;
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* above = corner[c];
      for (int r = 0; r < 2; ++r, above += stride) {
        const std::uint8_t* below = above + stride;
        for (int i = 0; i < 2; ++i) {
          sum += absDiff(above[i + 1], below[i]) - absDiff(above[i], below[i + 1]);
        }
      }
    }
    return sum;
  }

  template <int N>
  static void blockRow(const std::uint8_t* const top[], const std::uint8_t* const bottom[],
                       int count, std::int16_t* __restrict out) {
    for (int i = 0; i < count; ++i) {
      int rise = 0, fall = 0;
      for (int c = 0; c < N; ++c) {
        rise += absDiff(top[c][i + 1], bottom[c][i]);
        fall += absDiff(top[c][i], bottom[c][i + 1]);
      }
      out[i] = static_cast<std::int16_t>(rise - fall);
    }
  }

  static std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 64; ++i) bits |= static_cast<std::uint64_t>(a[i] > b[i]) << i;
    return bits;
  }

  // By swapping blocks of bits, halving their size each round.
  static void transposeBits(std::uint64_t a[64]) {
    std::uint64_t m = 0x00000000ffffffffULL;
    for (int j = 32; j != 0; j >>= 1, m ^= (m << j)) {
      for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
        const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & m;
        a[k] ^= t << j;
        a[k | j] ^= t;
      }
    }
  }

  // Byte k of rows 0 .. 15 (row r at in + r * inStride) to row k (at out +
  // k * outStride), for `columns` bytes of each row.
  static void transposeBytes(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
                             std::ptrdiff_t outStride, int columns) {
    for (int k = 0; k < columns; ++k) {
      for (int r = 0; r < 16; ++r) out[k * outStride + r] = in[r * inStride + k];
    }
  }
  // Sixteen lines of `columns` bytes back to sixteen rows.
  static void transposeLines(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
                             std::ptrdiff_t outStride, int columns) {
    for (int r = 0; r < 16; ++r) {
      for (int k = 0; k < columns; ++k) out[r * outStride + k] = in[k * inStride + r];
    }
  }
  static void transposeBytes16(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
                               std::ptrdiff_t outStride) {
    transposeBytes(in, inStride, out, outStride, 16);
  }
  static void rowsToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
                          std::size_t lineStride) {
    transposeBytes(p, stride, out, static_cast<std::ptrdiff_t>(lineStride), 8);
  }
  static void linesToRows(const std::uint8_t* in, std::size_t lineStride, std::uint8_t* p,
                          std::ptrdiff_t stride) {
    transposeLines(in, static_cast<std::ptrdiff_t>(lineStride), p, stride, 8);
  }
  static void stripToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
                           std::ptrdiff_t line) {
    transposeBytes(p, stride, out, line, 64);
  }
  static void linesToStrip(const std::uint8_t* in, std::ptrdiff_t line, std::uint8_t* p,
                           std::ptrdiff_t stride) {
    transposeLines(in, line, p, stride, 64);
  }

 private:
  // out[i] = the largest channel difference of pixels i of p and q, given
  // as rows of each of their N channels, for count <= 64 pixels.
  template <int N>
  static void largestDifferences(const std::uint8_t* const p[], const std::uint8_t* const q[],
                                 int count, std::uint8_t* __restrict out) {
    for (int i = 0; i < count; ++i) out[i] = absDiff(p[0][i], q[0][i]);
    for (int c = 1; c < N; ++c) {
      for (int i = 0; i < count; ++i) out[i] = std::max(out[i], absDiff(p[c][i], q[c][i]));
    }
  }
  // Bit i: whether d[i] >= atLeast, for i < count; 0 past count.
  static std::uint64_t atLeastBits(const std::uint8_t* d, int count, std::uint8_t atLeast) {
    std::uint64_t bits = 0;
    for (int i = 0; i < count; ++i) bits |= static_cast<std::uint64_t>(d[i] >= atLeast) << i;
    return bits;
  }
};

ORU_SCAN_CLOSE
