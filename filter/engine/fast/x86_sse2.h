// The scan's lane operations for any x86 processor with SSE2: sixteen bytes
// or eight 16-bit lanes a register. The vocabulary the scan is written in
// (scan_body.h) is Sse2Lanes; the AVX2 and AVX-512 builds take what they do
// not make wider from it. Part of a build of the scan (scan_build.h).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/engine/fast/byte_math.h"
#include "filter/engine/fast/lanes.h"
#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/unpack_transposes.h"

ORU_SCAN_OPEN

// Eight bytes from p, p + step, ... as 16-bit lanes.
inline __m128i gatherBytes(const std::uint8_t* p, std::ptrdiff_t step) {
  __m128i v = _mm_cvtsi32_si128(p[0]);
  v = _mm_insert_epi16(v, p[step], 1);
  v = _mm_insert_epi16(v, p[2 * step], 2);
  v = _mm_insert_epi16(v, p[3 * step], 3);
  v = _mm_insert_epi16(v, p[4 * step], 4);
  v = _mm_insert_epi16(v, p[5 * step], 5);
  v = _mm_insert_epi16(v, p[6 * step], 6);
  return _mm_insert_epi16(v, p[7 * step], 7);
}
// The low bytes of eight 16-bit lanes to p, p + step, ...
inline void scatterBytes(std::uint8_t* p, std::ptrdiff_t step, __m128i v) {
  p[0] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 0));
  p[step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 1));
  p[2 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 2));
  p[3 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 3));
  p[4 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 4));
  p[5 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 5));
  p[6 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 6));
  p[7 * step] = static_cast<std::uint8_t>(_mm_extract_epi16(v, 7));
}

// Eight blends at a time in 16-bit lanes. Nothing overflows them: with w in
// 0 .. 128 and strength in 0 .. 256 each sum is at most 255 x 256 + 128. A
// lane of weight 0 gives its own byte back as it was, whatever the strength.
template <bool Full>
struct Mix8 {
  __m128i k128 = _mm_set1_epi16(128), k256 = _mm_set1_epi16(256), sv, sOwn;
  explicit Mix8(unsigned strength)
      : sv(_mm_set1_epi16(static_cast<short>(strength))), sOwn(_mm_sub_epi16(k256, sv)) {}
  // The weights w0, w0 + dw, ... w0 + 7 dw, and what moves them on eight.
  static __m128i weights(int w0, int dw) {
    return _mm_add_epi16(_mm_set1_epi16(static_cast<short>(w0)),
                         _mm_mullo_epi16(_mm_set1_epi16(static_cast<short>(dw)),
                                         _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7)));
  }
  static __m128i weightStep(int dw) { return _mm_set1_epi16(static_cast<short>(8 * dw)); }
  __m128i operator()(__m128i towards, __m128i own, __m128i weight) const {
    __m128i a = _mm_add_epi16(_mm_mullo_epi16(towards, weight),
                              _mm_mullo_epi16(own, _mm_sub_epi16(k256, weight)));
    a = _mm_srli_epi16(_mm_add_epi16(a, k128), 8);
    if (Full) return a;
    const __m128i r = _mm_add_epi16(_mm_mullo_epi16(a, sv), _mm_mullo_epi16(own, sOwn));
    return _mm_srli_epi16(_mm_add_epi16(r, k128), 8);
  }
};

// The absolute differences of sixteen bytes.
inline __m128i absDiff16(__m128i a, __m128i b) {
  return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// The largest channel difference of pixels i .. i + 15 of p and q.
template <int N>
inline __m128i largestDifference16(const std::uint8_t* const p[], const std::uint8_t* const q[],
                                   int i) {
  __m128i largest = _mm_setzero_si128();
  for (int c = 0; c < N; ++c) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p[c] + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q[c] + i));
    largest = _mm_max_epu8(largest, absDiff16(a, b));
  }
  return largest;
}

// Bit i: whether byte i of d is at least the byte of atLeast.
inline std::uint64_t atLeastMask(__m128i d, __m128i atLeast) {
  return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(d, atLeast), d)));
}

// The unpacks of a register of 128 bits, and of one of 256 bits, which
// unpacks each 128-bit half apart; with the loads and bit masks that the
// transposes built from them need.
struct Unpack128 {
  using V = __m128i;
  using Mask = std::uint16_t;
  static constexpr int kBytes = 16;
  // Word p[0] in the low 64 bits.
  static V word(const std::uint64_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  }
  static Mask topBits(V v) { return static_cast<Mask>(_mm_movemask_epi8(v)); }
  static V twice(V v) { return _mm_add_epi8(v, v); }
  static V lo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V hi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V lo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V hi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V lo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
  static V hi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
  static V lo64(V a, V b) { return _mm_unpacklo_epi64(a, b); }
  static V hi64(V a, V b) { return _mm_unpackhi_epi64(a, b); }
};

struct Sse2Lanes : LanesDefaults {
  // Pixels a group of lanes blends at once. The planes must have room for
  // the bytes up to the next group past a call's pixels for its last group
  // to be blended whole.
  static constexpr int kLanes = 8;
  // Lanes a group of blendSpanRows blends at once.
  static constexpr int kSpanGroup = kLanes;

  // blendRows' groups of lanes: count bytes along a row in each of N
  // planes, bytes dAt on of d[c] toward sAt on of s[c] with weights w0,
  // w0 + dw, ..., the planes of a group together so that they share its
  // weights. padded: the bytes up to the next group after them may be read
  // and written back as read, so that a last group of fewer is blended
  // whole too. Returns how many bytes it blended; the rest are the caller's.
  template <int N, bool Full>
  ORU_ALWAYS_INLINE static int blendRowGroups(std::uint8_t* const d[],
                                              const std::uint8_t* const s[], std::ptrdiff_t dAt,
                                              std::ptrdiff_t sAt, int count, int w0, int dw,
                                              unsigned strength, bool padded) {
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    const Mix8<Full> mix(strength);
    __m128i w = Mix8<Full>::weights(w0, dw);
    const __m128i wStep = Mix8<Full>::weightStep(dw);
    auto load = [&](const std::uint8_t* p) {
      return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    for (; i + 8 <= count; i += 8, w = _mm_add_epi16(w, wStep)) {
      for (int c = 0; c < N; ++c) {
        std::uint8_t* at = d[c] + dAt + i;
        const __m128i r = mix(load(s[c] + sAt + i), load(at), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(r, r));
      }
    }
    if (padded && i < count) {
      // The last count - i bytes; the others of the group have weight 0,
      // which gives each byte back as read.
      w = _mm_and_si128(w, _mm_cmpgt_epi16(_mm_set1_epi16(static_cast<short>(count - i)),
                                           _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7)));
      for (int c = 0; c < N; ++c) {
        std::uint8_t* at = d[c] + dAt + i;
        const __m128i r = mix(load(s[c] + sAt + i), load(at), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), _mm_packus_epi16(r, r));
      }
      return count;
    }
    return i;
  }

  // Both half-runs of a short call along a row in one pass, span bytes from
  // dAt on in each of N planes with the step pixel at lane `at` left alone:
  // the lanes below it blend toward sLow on with weights wLow, wLow + dwLow,
  // ..., those above toward sHigh on with wHigh, wHigh + dwHigh, ... (both
  // counted from the span's first byte). The halves touch different bytes
  // and read only the source, so blending them together changes nothing.
  // The planes have room for the bytes up to the next group of kSpanGroup
  // after the span.
  template <int N, bool Full>
  ORU_ALWAYS_INLINE static void blendSpanRows(std::uint8_t* const d[],
                                              const std::uint8_t* const s[], std::ptrdiff_t dAt,
                                              std::ptrdiff_t sLow, std::ptrdiff_t sHigh, int span,
                                              int at, int wLow, int dwLow, int wHigh, int dwHigh,
                                              unsigned strength) {
    const __m128i zero = _mm_setzero_si128();
    const Mix8<Full> mix(strength);
    const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), eight = _mm_set1_epi16(8);
    __m128i lane = lanes;
    __m128i low = Mix8<Full>::weights(wLow, dwLow), high = Mix8<Full>::weights(wHigh, dwHigh);
    const __m128i lowStep = Mix8<Full>::weightStep(dwLow),
                  highStep = Mix8<Full>::weightStep(dwHigh);
    const __m128i stepLane = _mm_set1_epi16(static_cast<short>(at));
    const __m128i spanEnd = _mm_set1_epi16(static_cast<short>(span));
    auto load = [&](const std::uint8_t* p) {
      return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    for (int i = 0; i < span; i += 8) {
      const __m128i below = _mm_cmplt_epi16(lane, stepLane);
      const __m128i used =
          _mm_andnot_si128(_mm_cmpeq_epi16(lane, stepLane), _mm_cmplt_epi16(lane, spanEnd));
      const __m128i w = _mm_and_si128(
          used, _mm_or_si128(_mm_and_si128(below, low), _mm_andnot_si128(below, high)));
      for (int c = 0; c < N; ++c) {
        std::uint8_t* to = d[c] + dAt + i;
        const __m128i towards = _mm_or_si128(_mm_and_si128(below, load(s[c] + sLow + i)),
                                             _mm_andnot_si128(below, load(s[c] + sHigh + i)));
        const __m128i r = mix(towards, load(to), w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(r, r));
      }
      lane = _mm_add_epi16(lane, eight);
      low = _mm_add_epi16(low, lowStep);
      high = _mm_add_epi16(high, highStep);
    }
  }

  // blendBytes down a column of one plane, d and s a plane's row apart:
  // eight bytes at a time gathered into a register. Returns how many bytes
  // it blended; the rest are the caller's.
  template <bool Full>
  static int blendColumnGroups(std::uint8_t* __restrict d, std::ptrdiff_t dStep,
                               const std::uint8_t* __restrict s, std::ptrdiff_t sStep, int count,
                               int w0, int dw, unsigned strength) {
    int i = 0;
    const Mix8<Full> mix(strength);
    __m128i w = Mix8<Full>::weights(w0, dw);
    const __m128i wStep = Mix8<Full>::weightStep(dw);
    for (; i + 8 <= count; i += 8, w = _mm_add_epi16(w, wStep)) {
      std::uint8_t* dAt = d + i * dStep;
      scatterBytes(dAt, dStep, mix(gatherBytes(s + i * sStep, sStep), gatherBytes(dAt, dStep), w));
    }
    return i;
  }

  // Bit i: whether the largest channel difference of pixels i of p and q
  // (rows of each of their N channels) is at least atLeast, for 64 pixels.
  // Past the end of a grid row the loads read on into the next one.
  template <int N>
  static std::uint64_t atLeastBits64(const std::uint8_t* const p[], const std::uint8_t* const q[],
                                     std::uint8_t atLeast) {
    const __m128i limit = _mm_set1_epi8(static_cast<char>(atLeast));
    std::uint64_t bits = 0;
    for (int g = 0; g < 64; g += 16) {
      bits |= atLeastMask(largestDifference16<N>(p, q, g), limit) << g;
    }
    return bits;
  }

  // The edge bits of n <= 64 positions of a map row, from the rows of each
  // of N channels at the positions (c0), after them (c1), under them (b0)
  // and diagonally under (b1), added to out (which the caller clears):
  // out[0] current against under, out[1] against next, out[2] against
  // diagonal, out[3] next against under. Bits at n and past are left for
  // the caller to clear.
  template <int N>
  static void edgeBits(const std::uint8_t* const c0[], const std::uint8_t* const c1[],
                       const std::uint8_t* const b0[], const std::uint8_t* const b1[], int n,
                       std::uint8_t atLeast, std::uint64_t out[4]) {
    // Sixteen positions at a time, each test's bits straight from the
    // bytes' top bits. Past the last position the loads read on into the
    // next row, or past the grid's last row into what follows it in the
    // block.
    const __m128i limit = _mm_set1_epi8(static_cast<char>(atLeast));
    for (int g = 0; g < n; g += 16) {
      const __m128i below = largestDifference16<N>(c0, b0, g);
      const __m128i right = largestDifference16<N>(c0, c1, g);
      const __m128i fall = largestDifference16<N>(c0, b1, g);
      const __m128i rise = largestDifference16<N>(c1, b0, g);
      out[0] |= atLeastMask(below, limit) << g;
      out[1] |= atLeastMask(right, limit) << g;
      out[2] |= atLeastMask(fall, limit) << g;
      out[3] |= atLeastMask(rise, limit) << g;
    }
  }

  // The slope measure over the 3 x 3 pixels whose top-left pixel is at
  // corner[c] in each of N channels, rows stride apart.
  template <int N>
  static int slopeAt(const std::uint8_t* const corner[], std::size_t stride) {
    // Each row of the 3 x 3 pixels as four bytes x - 1 .. x + 2 of each
    // channel, a channel to a 32-bit lane. The fourth byte is never used; at
    // the grid's last row and column it is the first byte of what follows the
    // grid plane in the block, so the read stays inside the block.
    auto row = [&](int r) {
      auto lane = [&](int c) {
        std::uint32_t v;
        std::memcpy(&v, corner[c] + r * stride, sizeof v);
        return _mm_cvtsi32_si128(static_cast<int>(v));
      };
      if (N == 1) return lane(0);
      return _mm_unpacklo_epi64(_mm_unpacklo_epi32(lane(0), lane(1)), lane(N - 1));
    };
    // Row words t, m, b hold bytes x - 1 .. x + 2 of each channel, byte k at
    // bit 8k. The rising pairs are (t1, m0), (t2, m1), (m1, b0), (m2, b1) and
    // the falling ones (t0, m1), (t1, m2), (m0, b1), (m1, b2): gathered into
    // the words [t1 t2 m1 m2] against [m0 m1 b0 b1] and [t0 t1 m0 m1] against
    // [m1 m2 b1 b2], one sum of absolute differences adds each side's twelve.
    const __m128i low = _mm_set1_epi32(0xffff),
                  high = _mm_set1_epi32(static_cast<int>(0xffff0000u));
    const __m128i t = row(0), m = row(1), b = row(2);
    const __m128i mShifted = _mm_srli_epi32(m, 8);
    const __m128i riseA =
        _mm_or_si128(_mm_and_si128(_mm_srli_epi32(t, 8), low), _mm_slli_epi32(mShifted, 16));
    const __m128i riseB = _mm_or_si128(_mm_and_si128(m, low), _mm_slli_epi32(b, 16));
    const __m128i fallA = _mm_or_si128(_mm_and_si128(t, low), _mm_slli_epi32(m, 16));
    const __m128i fallB =
        _mm_or_si128(_mm_and_si128(mShifted, low), _mm_and_si128(_mm_slli_epi32(b, 8), high));
    const __m128i d = _mm_sub_epi64(_mm_sad_epu8(riseA, riseB), _mm_sad_epu8(fallA, fallB));
    return _mm_cvtsi128_si32(_mm_add_epi64(d, _mm_unpackhi_epi64(d, d)));
  }

  // The blocks whose top-left pixels are top[c][0 .. count - 1] in each of N
  // channels, the row under them at bottom[c]: the differences of the
  // rising pair minus those of the falling pair. out has room for whole
  // groups of sixteen.
  template <int N>
  static void blockRow(const std::uint8_t* const top[], const std::uint8_t* const bottom[],
                       int count, std::int16_t* __restrict out) {
    // Sixteen blocks at a time in 16-bit lanes (a side's sum is at most
    // 3 x 255). Past the last block the loads read on into the grid's next
    // row, or past its last row into what follows it in the block; those
    // values are not used.
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < count; i += 16) {
      __m128i riseLow = zero, riseHigh = zero, fallLow = zero, fallHigh = zero;
      for (int c = 0; c < N; ++c) {
        auto load = [](const std::uint8_t* p) {
          return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        };
        const __m128i t0 = load(top[c] + i), t1 = load(top[c] + i + 1);
        const __m128i b0 = load(bottom[c] + i), b1 = load(bottom[c] + i + 1);
        const __m128i rise = absDiff16(t1, b0), fall = absDiff16(t0, b1);
        riseLow = _mm_add_epi16(riseLow, _mm_unpacklo_epi8(rise, zero));
        riseHigh = _mm_add_epi16(riseHigh, _mm_unpackhi_epi8(rise, zero));
        fallLow = _mm_add_epi16(fallLow, _mm_unpacklo_epi8(fall, zero));
        fallHigh = _mm_add_epi16(fallHigh, _mm_unpackhi_epi8(fall, zero));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_sub_epi16(riseLow, fallLow));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_sub_epi16(riseHigh, fallHigh));
    }
  }

  // Bit i: whether a[i] > b[i], for 64 values.
  static std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
    auto load = [](const std::int16_t* p) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    std::uint64_t bits = 0;
    for (int i = 0; i < 64; i += 16) {
      const __m128i low = _mm_cmpgt_epi16(load(a + i), load(b + i));
      const __m128i high = _mm_cmpgt_epi16(load(a + i + 8), load(b + i + 8));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(low, high)));
      bits |= static_cast<std::uint64_t>(mask) << i;
    }
    return bits;
  }

  static void transposeBits(std::uint64_t a[64]) { transposeBitsBy<Unpack128>(a); }

  // Transposes sixteen rows of sixteen bytes (row r at in + r * inStride) into
  // sixteen rows of sixteen bytes (row k, byte k of every row, at out + k *
  // outStride): rows to lines and lines back to rows alike.
  static void transposeBytes16(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
                               std::ptrdiff_t outStride) {
    __m128i r[16], line[16];
    for (int i = 0; i < 16; ++i) {
      r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * inStride));
    }
    transposeBytes<Unpack128>(r, line);
    for (int k = 0; k < 16; ++k) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k * outStride), line[k]);
    }
  }

  // Bytes 0 .. 7 of sixteen rows (row r at p + r * stride) to eight lines of
  // sixteen bytes (line k, byte k of every row, at out + k * lineStride).
  static void rowsToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
                          std::size_t lineStride) {
    auto row = [&](int r) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + r * stride));
    };
    // Byte k of rows 2i and 2i + 1 in 16-bit lane k.
    __m128i a[8];
    for (int i = 0; i < 8; ++i) a[i] = _mm_unpacklo_epi8(row(2 * i), row(2 * i + 1));
    // b[2g]: bytes 0 .. 3 of rows 4g .. 4g + 3, byte k in 32-bit lane k;
    // b[2g + 1]: bytes 4 .. 7.
    __m128i b[8];
    for (int g = 0; g < 4; ++g) {
      b[2 * g] = _mm_unpacklo_epi16(a[2 * g], a[2 * g + 1]);
      b[2 * g + 1] = _mm_unpackhi_epi16(a[2 * g], a[2 * g + 1]);
    }
    for (int h = 0; h < 2; ++h) {
      // Bytes 4h .. 4h + 3 of rows 0 .. 7 (lo) and 8 .. 15 (hi), a byte to a
      // 64-bit lane, two bytes a register.
      const __m128i lo01 = _mm_unpacklo_epi32(b[h], b[2 + h]),
                    lo23 = _mm_unpackhi_epi32(b[h], b[2 + h]);
      const __m128i hi01 = _mm_unpacklo_epi32(b[4 + h], b[6 + h]),
                    hi23 = _mm_unpackhi_epi32(b[4 + h], b[6 + h]);
      const __m128i line[4] = {_mm_unpacklo_epi64(lo01, hi01), _mm_unpackhi_epi64(lo01, hi01),
                               _mm_unpacklo_epi64(lo23, hi23), _mm_unpackhi_epi64(lo23, hi23)};
      for (int k = 0; k < 4; ++k) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (4 * h + k) * lineStride), line[k]);
      }
    }
  }
  // The other way: bytes i of eight lines (line k at in + k * lineStride) to
  // byte k of sixteen rows (row i at p + i * stride).
  static void linesToRows(const std::uint8_t* in, std::size_t lineStride, std::uint8_t* p,
                          std::ptrdiff_t stride) {
    auto line = [&](int k) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k * lineStride));
    };
    // e[2j]: bytes of lines 2j and 2j + 1 of rows 0 .. 7, a row to a 16-bit
    // lane; e[2j + 1]: rows 8 .. 15.
    __m128i e[8];
    for (int j = 0; j < 4; ++j) {
      const __m128i l0 = line(2 * j), l1 = line(2 * j + 1);
      e[2 * j] = _mm_unpacklo_epi8(l0, l1);
      e[2 * j + 1] = _mm_unpackhi_epi8(l0, l1);
    }
    for (int q = 0; q < 2; ++q) {
      // Lines 0 .. 3 (f0) and 4 .. 7 (f4) of rows 8q .. 8q + 3 (lo) and
      // 8q + 4 .. 8q + 7 (hi), a row to a 32-bit lane.
      const __m128i f0lo = _mm_unpacklo_epi16(e[q], e[2 + q]),
                    f0hi = _mm_unpackhi_epi16(e[q], e[2 + q]);
      const __m128i f4lo = _mm_unpacklo_epi16(e[4 + q], e[6 + q]),
                    f4hi = _mm_unpackhi_epi16(e[4 + q], e[6 + q]);
      const __m128i rows[4] = {_mm_unpacklo_epi32(f0lo, f4lo), _mm_unpackhi_epi32(f0lo, f4lo),
                               _mm_unpacklo_epi32(f0hi, f4hi), _mm_unpackhi_epi32(f0hi, f4hi)};
      for (int k = 0; k < 4; ++k) {
        std::uint8_t* at = p + (8 * q + 2 * k) * stride;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at), rows[k]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + stride),
                         _mm_unpackhi_epi64(rows[k], rows[k]));
      }
    }
  }

  // 64 columns of sixteen rows (row r at p + r * stride) to 64 lines of
  // sixteen bytes (line k at out + k * line), and back.
  static void stripToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
                           std::ptrdiff_t line) {
    for (int k = 0; k < 64; k += 16) transposeBytes16(p + k, stride, out + k * line, line);
  }
  static void linesToStrip(const std::uint8_t* in, std::ptrdiff_t line, std::uint8_t* p,
                           std::ptrdiff_t stride) {
    for (int k = 0; k < 64; k += 16) transposeBytes16(in + k * line, line, p + k, stride);
  }
};

ORU_SCAN_CLOSE
