// The scan's lane operations for processors with everything Avx2Lanes asks
// for and AVX-512 F, BW and VL: Avx2Lanes with its kernels along a line
// blending 32 pixels a group, their pixels chosen by masks, and a whole
// short call, its step pixel included, in one group (spanWithStep). Part of
// a build of the scan (scan_build.h), in the AVX-512 target region.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/scan_build.h"
#include "filter/engine/fast/x86_avx2.h"

ORU_SCAN_OPEN

// Mix16's blends 32 lanes at a time.
struct Mix32 {
  static __m512i lanes() {
    alignas(64) static constexpr std::int16_t kIndex[32] = {
        0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
        16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
    return _mm512_load_si512(kIndex);
  }
  // The weights w0, w0 + dw, ... w0 + 31 dw, modulo 2^16.
  static __m512i weights(int w0, int dw) {
    return _mm512_add_epi16(_mm512_set1_epi16(static_cast<short>(w0)),
                            _mm512_mullo_epi16(_mm512_set1_epi16(static_cast<short>(dw)), lanes()));
  }
  static __m512i mixOne(__m512i towards, __m512i own, __m512i w) {
    const __m512i moved = _mm512_slli_epi16(_mm512_sub_epi16(towards, own), 7);
    return _mm512_add_epi16(own, _mm512_mulhrs_epi16(moved, w));
  }
  static __m512i mixScaled(__m512i towards, __m512i own, __m512i w128) {
    return _mm512_add_epi16(own, _mm512_mulhrs_epi16(_mm512_sub_epi16(towards, own), w128));
  }
  static __m512i widen(const std::uint8_t* p) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
  // Lanes of `into` where `take` has a bit: the 32 bytes from p, widened.
  static __m512i widenInto(__m512i into, __mmask32 take, const std::uint8_t* p) {
    return _mm512_mask_cvtepu8_epi16(into, take,
                                     _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
  }
};

struct Avx512Lanes : Avx2Lanes {
  static constexpr int kSpanGroup = 32;
  // spanWithStep's 32 lanes hold a call of this many pixels and a pixel
  // either side.
  static constexpr int kStepSpan = 30;

  // 32 lanes a group, the lanes of each half and the pixels the call leaves
  // alone chosen by masks: the bytes past the span and the step pixel are
  // read but never stored.
  template <int N, bool Full>
  ORU_ALWAYS_INLINE static void blendSpanRows(std::uint8_t* const d[],
                                              const std::uint8_t* const s[], std::ptrdiff_t dAt,
                                              std::ptrdiff_t sLow, std::ptrdiff_t sHigh, int span,
                                              int at, int wLow, int dwLow, int wHigh, int dwHigh,
                                              unsigned strength) {
    const int scale = Full ? 128 : 1;
    __m512i low = Mix32::weights(scale * wLow, scale * dwLow),
            high = Mix32::weights(scale * wHigh, scale * dwHigh);
    const __m512i lowStep = _mm512_set1_epi16(static_cast<short>(32 * scale * dwLow));
    const __m512i highStep = _mm512_set1_epi16(static_cast<short>(32 * scale * dwHigh));
    const __m512i sv = _mm512_set1_epi16(static_cast<short>(strength));
    // Bit i: whether lane i lies below the step; whether it is a pixel of
    // the call's halves.
    const std::uint64_t below = (std::uint64_t{1} << at) - 1;
    const std::uint64_t used = (span >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << span) - 1) &
                               ~(std::uint64_t{1} << at);
    for (int i = 0; i < span; i += 32) {
      const __mmask32 isBelow = static_cast<__mmask32>(below >> i);
      const __mmask32 isUsed = static_cast<__mmask32>(used >> i);
      const __m512i w = _mm512_mask_blend_epi16(isBelow, high, low);
      for (int c = 0; c < N; ++c) {
        std::uint8_t* to = d[c] + dAt + i;
        const __m512i towards =
            Mix32::widenInto(Mix32::widen(s[c] + sHigh + i), isBelow, s[c] + sLow + i);
        const __m512i own = Mix32::widen(to);
        const __m512i r = Full ? Mix32::mixScaled(towards, own, w)
                               : Mix32::mixOne(Mix32::mixOne(towards, own, w), own, sv);
        _mm512_mask_cvtepi16_storeu_epi8(to, isUsed, r);
      }
      low = _mm512_add_epi16(low, lowStep);
      high = _mm512_add_epi16(high, highStep);
    }
  }

  // A whole call of at most kStepSpan pixels along a row, its step pixel
  // included, in one group: lane 0 is the pixel before the span (dAt - 1), so
  // that the step pixel's neighbours lie in the group whichever half is
  // empty. Bytes are read and written under masks: only the call's own
  // pixels and the step's neighbours are touched, so the planes need no room
  // past them. The step pixel, the mean of its neighbours as the halves leave
  // them, is taken from the lanes beside it. blends: false for a call that
  // blends nothing, which stores nothing.
  template <int N, bool Full>
  ORU_ALWAYS_INLINE static void spanWithStep(std::uint8_t* const d[], const std::uint8_t* const s[],
                                             std::ptrdiff_t dAt, std::ptrdiff_t sLow,
                                             std::ptrdiff_t sHigh, int span, int at, int wLow,
                                             int dwLow, int wHigh, int dwHigh, unsigned strength,
                                             bool blends) {
    const int scale = Full ? 128 : 1;
    // Lane i is pixel i - 1 of the span.
    const unsigned stepLane = 1u << (at + 1);
    const __mmask32 below = static_cast<__mmask32>(((1u << at) - 1) << 1);
    const __m512i w =
        _mm512_mask_blend_epi16(below, Mix32::weights(scale * (wHigh - dwHigh), scale * dwHigh),
                                Mix32::weights(scale * (wLow - dwLow), scale * dwLow));
    const __mmask32 above =
        static_cast<__mmask32>((((2u << span) - 1) & ~1u) & ~((stepLane << 1) - 1));
    const __mmask32 halves = below | above;
    const __mmask32 reach = static_cast<__mmask32>(halves | (7u << at));
    const __mmask32 written = static_cast<__mmask32>(halves | (blends ? stepLane : 0u));
    alignas(64) static constexpr std::int16_t kBefore[32] = {
        0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
        15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30};
    alignas(64) static constexpr std::int16_t kAfter[32] = {
        1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
        17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 31};
    const __m512i before = _mm512_load_si512(kBefore), after = _mm512_load_si512(kAfter);
    const __m512i sv = _mm512_set1_epi16(static_cast<short>(strength));
    for (int c = 0; c < N; ++c) {
      std::uint8_t* to = d[c] + dAt - 1;
      const __m256i lowBytes = _mm256_maskz_loadu_epi8(below, s[c] + sLow - 1);
      const __m512i towards =
          _mm512_cvtepu8_epi16(_mm256_mask_loadu_epi8(lowBytes, above, s[c] + sHigh - 1));
      const __m512i own = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(reach, to));
      __m512i r;
      if (Full) {
        r = _mm512_mask_add_epi16(own, halves, own,
                                  _mm512_mulhrs_epi16(_mm512_sub_epi16(towards, own), w));
      } else {
        r = _mm512_mask_mov_epi16(own, halves,
                                  Mix32::mixOne(Mix32::mixOne(towards, own, w), own, sv));
      }
      const __m512i mean =
          _mm512_avg_epu16(_mm512_permutexvar_epi16(before, r), _mm512_permutexvar_epi16(after, r));
      r = _mm512_mask_mov_epi16(r, static_cast<__mmask32>(stepLane),
                                Full ? mean : Mix32::mixOne(mean, own, sv));
      _mm512_mask_cvtepi16_storeu_epi8(to, written, r);
    }
  }
};

ORU_SCAN_CLOSE
