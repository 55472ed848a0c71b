// The scan's lane operations for processors with AVX2, BMI1, BMI2, LZCNT
// and POPCNT: 32 bytes or sixteen 16-bit lanes a register. Avx2Lanes is
// Sse2Lanes with its kernels along a row, its line tests, slope blocks, step
// tests and transposes twice as wide. Part of a build of the scan
// (scan_build.h), in the AVX2 target region.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/unpack_transposes.h"
#include "filter/engine/fast/x86_sse2.h"

ORU_SCAN_OPEN

// Sixteen blends at a time in 16-bit lanes, with one multiply each:
// blend(t, o, w) = o + floor(((t - o) w + 128) / 256), and with
// (t - o) x 128 as one factor (at most 255 x 128 in size) and w (0 .. 256)
// as the other, _mm256_mulhrs_epi16's (a b + 2^14) >> 15 is exactly that
// floor. A lane of weight 0 gives its own byte back.
template <bool Full>
struct Mix16 {
  __m256i sv;
  explicit Mix16(unsigned strength) : sv(_mm256_set1_epi16(static_cast<short>(strength))) {}
  // Each lane's index, 0 .. 15.
  static __m256i lanes() {
    return _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  }
  // The weights w0, w0 + dw, ... w0 + 15 dw, and what moves them on sixteen:
  // modulo 2^16, where the lanes of a call's pixels come out right whatever
  // the lanes beside them hold.
  static __m256i weights(int w0, int dw) {
    return _mm256_add_epi16(_mm256_set1_epi16(wrap16(w0)),
                            _mm256_mullo_epi16(_mm256_set1_epi16(wrap16(dw)), lanes()));
  }
  static __m256i weightStep(int dw) { return _mm256_set1_epi16(wrap16(16 * dw)); }
  // v modulo 2^16: the conversion GCC and Clang define so (and C++20 requires).
  static short wrap16(int v) { return static_cast<short>(v); }
  static __m256i mixOne(__m256i towards, __m256i own, __m256i w) {
    const __m256i moved = _mm256_slli_epi16(_mm256_sub_epi16(towards, own), 7);
    return _mm256_add_epi16(own, _mm256_mulhrs_epi16(moved, w));
  }
  // mixOne with the weights given times 128 (w128 = 128 w, so w at most
  // 255): the same product, the factor 128 on the other side.
  static __m256i mixScaled(__m256i towards, __m256i own, __m256i w128) {
    return _mm256_add_epi16(own, _mm256_mulhrs_epi16(_mm256_sub_epi16(towards, own), w128));
  }
  __m256i operator()(__m256i towards, __m256i own, __m256i w) const {
    const __m256i a = mixOne(towards, own, w);
    return Full ? a : mixOne(a, own, sv);
  }
};
// Sixteen bytes as 16-bit lanes, and back.
inline __m256i widen16(__m128i bytes) {
  return _mm256_cvtepu8_epi16(bytes);
}
inline __m128i load16(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void store16(std::uint8_t* p, __m256i lanes) {
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(p),
      _mm_packus_epi16(_mm256_castsi256_si128(lanes), _mm256_extracti128_si256(lanes, 1)));
}

inline __m256i load32(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
// The absolute differences of 32 bytes.
inline __m256i absDiff32(__m256i a, __m256i b) {
  return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
}
// Bit i: whether byte i of d is at least the byte of atLeast.
inline std::uint64_t atLeastMask32(__m256i d, __m256i atLeast) {
  const __m256i reached = _mm256_cmpeq_epi8(_mm256_max_epu8(d, atLeast), d);
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(reached));
}

// The unpacks of a register of 256 bits, which unpacks each 128-bit half
// apart, for the transposes (unpack_transposes.h).
struct Unpack256 {
  using V = __m256i;
  using Mask = std::uint32_t;
  static constexpr int kBytes = 32;
  // Word p[0] in the low 64 bits of the low half, p[16] in those of the high.
  static V word(const std::uint64_t* p) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(Unpack128::word(p)),
                                   Unpack128::word(p + 16), 1);
  }
  static Mask topBits(V v) { return static_cast<Mask>(_mm256_movemask_epi8(v)); }
  static V twice(V v) { return _mm256_add_epi8(v, v); }
  static V lo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V hi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V lo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V hi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V lo32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
  static V hi32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
  static V lo64(V a, V b) { return _mm256_unpacklo_epi64(a, b); }
  static V hi64(V a, V b) { return _mm256_unpackhi_epi64(a, b); }
};

// Two transposes of sixteen rows of sixteen bytes at once, one in each
// 128-bit half: rows r of the first from inLow + r * inStride, of the second
// from inHigh + r * inStride (or, InWhole, the second's rows follow the
// first's: one row of 32 bytes), out to outLow + k * outStride and outHigh
// + k * outStride (OutWhole: one row of 32 bytes at outLow + k * outStride).
template <bool InWhole, bool OutWhole>
inline void transposeBytes16Pair(const std::uint8_t* inLow, const std::uint8_t* inHigh,
                                 std::ptrdiff_t inStride, std::uint8_t* outLow,
                                 std::uint8_t* outHigh, std::ptrdiff_t outStride) {
  __m256i r[16], line[16];
  for (int i = 0; i < 16; ++i) {
    if (InWhole) {
      r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(inLow + i * inStride));
    } else {
      r[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(load16(inLow + i * inStride)),
                                     load16(inHigh + i * inStride), 1);
    }
  }
  transposeBytes<Unpack256>(r, line);
  for (int k = 0; k < 16; ++k) {
    if (OutWhole) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(outLow + k * outStride), line[k]);
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(outLow + k * outStride),
                       _mm256_castsi256_si128(line[k]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(outHigh + k * outStride),
                       _mm256_extracti128_si256(line[k], 1));
    }
  }
}

struct Avx2Lanes : Sse2Lanes {
  static constexpr int kLanes = 16;
  static constexpr int kSpanGroup = kLanes;
  // Out of line here: inlined into the scan as a whole, the column passes
  // leave the inliner no room for the kernels in the row passes' walks
  // (measured: the SSE2 build does better with them inline).
  static constexpr bool kColumnPassApart = true;

  template <int N, bool Full>
  ORU_ALWAYS_INLINE static int blendRowGroups(std::uint8_t* const d[],
                                              const std::uint8_t* const s[], std::ptrdiff_t dAt,
                                              std::ptrdiff_t sAt, int count, int w0, int dw,
                                              unsigned strength, bool padded) {
    int i = 0;
    const Mix16<Full> mix(strength);
    __m256i w = Mix16<Full>::weights(w0, dw);
    const __m256i wStep = Mix16<Full>::weightStep(dw);
    const __m256i lanes = Mix16<Full>::lanes();
    for (; i < count; i += 16, w = _mm256_add_epi16(w, wStep)) {
      if (i + 16 > count) {
        if (!padded) break;
        // The last count - i bytes; the others of the group have weight 0,
        // which gives each byte back as read.
        w = _mm256_and_si256(
            w, _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(count - i)), lanes));
      }
      for (int c = 0; c < N; ++c) {
        std::uint8_t* at = d[c] + dAt + i;
        store16(at, mix(widen16(load16(s[c] + sAt + i)), widen16(load16(at)), w));
      }
    }
    return i;
  }

  template <int N, bool Full>
  ORU_ALWAYS_INLINE static void blendSpanRows(std::uint8_t* const d[],
                                              const std::uint8_t* const s[], std::ptrdiff_t dAt,
                                              std::ptrdiff_t sLow, std::ptrdiff_t sHigh, int span,
                                              int at, int wLow, int dwLow, int wHigh, int dwHigh,
                                              unsigned strength) {
    const Mix16<Full> mix(strength);
    __m256i lane = Mix16<Full>::lanes();
    const __m256i sixteen = _mm256_set1_epi16(16);
    // Full: the weights times 128 (at most 128 x 128), so that the blend
    // needs no shift a channel (Mix16::mixScaled).
    const int scale = Full ? 128 : 1;
    __m256i low = Mix16<Full>::weights(scale * wLow, scale * dwLow),
            high = Mix16<Full>::weights(scale * wHigh, scale * dwHigh);
    const __m256i lowStep = Mix16<Full>::weightStep(scale * dwLow);
    const __m256i highStep = Mix16<Full>::weightStep(scale * dwHigh);
    const __m256i stepLane = _mm256_set1_epi16(static_cast<short>(at));
    const __m256i spanEnd = _mm256_set1_epi16(static_cast<short>(span));
    for (int i = 0; i < span; i += 16) {
      const __m256i below = _mm256_cmpgt_epi16(stepLane, lane);
      const __m256i used = _mm256_andnot_si256(_mm256_cmpeq_epi16(lane, stepLane),
                                               _mm256_cmpgt_epi16(spanEnd, lane));
      const __m256i w = _mm256_and_si256(used, _mm256_blendv_epi8(high, low, below));
      for (int c = 0; c < N; ++c) {
        std::uint8_t* to = d[c] + dAt + i;
        const __m256i towards = _mm256_blendv_epi8(widen16(load16(s[c] + sHigh + i)),
                                                   widen16(load16(s[c] + sLow + i)), below);
        const __m256i own = widen16(load16(to));
        store16(to, Full ? Mix16<Full>::mixScaled(towards, own, w) : mix(towards, own, w));
      }
      lane = _mm256_add_epi16(lane, sixteen);
      low = _mm256_add_epi16(low, lowStep);
      high = _mm256_add_epi16(high, highStep);
    }
  }

  template <int N>
  static std::uint64_t atLeastBits64(const std::uint8_t* const p[], const std::uint8_t* const q[],
                                     std::uint8_t atLeast) {
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(atLeast));
    std::uint64_t bits = 0;
    for (int g = 0; g < 64; g += 32) {
      __m256i largest = _mm256_setzero_si256();
      for (int c = 0; c < N; ++c) {
        largest = _mm256_max_epu8(largest, absDiff32(load32(p[c] + g), load32(q[c] + g)));
      }
      bits |= atLeastMask32(largest, limit) << g;
    }
    return bits;
  }

  template <int N>
  static void edgeBits(const std::uint8_t* const c0[], const std::uint8_t* const c1[],
                       const std::uint8_t* const b0[], const std::uint8_t* const b1[], int n,
                       std::uint8_t atLeast, std::uint64_t out[4]) {
    // Thirty-two positions at a time.
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(atLeast));
    for (int g = 0; g < n; g += 32) {
      __m256i below = _mm256_setzero_si256(), right = below, fall = below, rise = below;
      for (int c = 0; c < N; ++c) {
        const __m256i cur = load32(c0[c] + g), next = load32(c1[c] + g), under = load32(b0[c] + g),
                      diagonal = load32(b1[c] + g);
        below = _mm256_max_epu8(below, absDiff32(cur, under));
        right = _mm256_max_epu8(right, absDiff32(cur, next));
        fall = _mm256_max_epu8(fall, absDiff32(cur, diagonal));
        rise = _mm256_max_epu8(rise, absDiff32(next, under));
      }
      out[0] |= atLeastMask32(below, limit) << g;
      out[1] |= atLeastMask32(right, limit) << g;
      out[2] |= atLeastMask32(fall, limit) << g;
      out[3] |= atLeastMask32(rise, limit) << g;
    }
  }

  template <int N>
  static void blockRow(const std::uint8_t* const top[], const std::uint8_t* const bottom[],
                       int count, std::int16_t* __restrict out) {
    // Sixteen blocks at a time, the bytes widened to 16-bit lanes as they are
    // loaded (a side's sum is at most 3 x 255). Past the last block the loads
    // read on into the grid's next row, or past its last row into what
    // follows it in the block; those values are not used.
    for (int i = 0; i < count; i += 16) {
      __m256i sum = _mm256_setzero_si256();
      for (int c = 0; c < N; ++c) {
        const __m256i t0 = widen16(load16(top[c] + i)), t1 = widen16(load16(top[c] + i + 1));
        const __m256i b0 = widen16(load16(bottom[c] + i)), b1 = widen16(load16(bottom[c] + i + 1));
        const __m256i rise = _mm256_abs_epi16(_mm256_sub_epi16(t1, b0));
        const __m256i fall = _mm256_abs_epi16(_mm256_sub_epi16(t0, b1));
        sum = _mm256_add_epi16(sum, _mm256_sub_epi16(rise, fall));
      }
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), sum);
    }
  }

  static std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 64; i += 32) {
      const __m256i low =
          _mm256_cmpgt_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i)));
      const __m256i high =
          _mm256_cmpgt_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i + 16)),
                             _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i + 16)));
      // The pack interleaves the halves of its two arguments' 128-bit lanes;
      // the permute puts the values back in order.
      const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi16(low, high), 0xd8);
      bits |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(packed)))
              << i;
    }
    return bits;
  }

  static void transposeBits(std::uint64_t a[64]) { transposeBitsBy<Unpack256>(a); }

  // Two groups of sixteen columns at a time.
  static void stripToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
                           std::ptrdiff_t line) {
    for (int k = 0; k < 64; k += 32) {
      transposeBytes16Pair<true, false>(p + k, nullptr, stride, out + k * line,
                                        out + (k + 16) * line, line);
    }
  }
  static void linesToStrip(const std::uint8_t* in, std::ptrdiff_t line, std::uint8_t* p,
                           std::ptrdiff_t stride) {
    for (int k = 0; k < 64; k += 32) {
      transposeBytes16Pair<false, true>(in + k * line, in + (k + 16) * line, line, p + k, nullptr,
                                        stride);
    }
  }
};

ORU_SCAN_CLOSE
