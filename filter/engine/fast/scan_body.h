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
// This file is the scan's whole body, compiled once for each set of
// instructions the module chooses between when it runs: x86_sse2.cpp
// builds it for any processor with SSE2, x86_avx2.cpp for those with
// AVX2 (ORU_SCAN_WIDE 1), x86_avx512.cpp for those with AVX-512 as
// well (ORU_SCAN_WIDE 1 and ORU_SCAN_MASKED 1), each in a namespace of its
// own (ORU_SCAN_NAMESPACE) and, for the wider two, inside a target region
// (ORU_SCAN_TARGET_BEGIN and _END). Everything here is internal to the
// build but kEntries, its entry points. The headers come first, outside
// the region, so that what they define inline is built for every processor.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "filter/engine/fast/plane_scan.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "filter/engine/fast/builds.h"
#include "filter/engine/kernel_body.h"
#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/kernels.h"
#include "filter/engine/reference/scan.h"
#include "filter/engine/scan_area.h"
#include "filter/heap.h"

#if !defined(ORU_SCAN_NAMESPACE) || !defined(ORU_SCAN_WIDE)
#error "the including file names the build (ORU_SCAN_NAMESPACE, ORU_SCAN_WIDE)"
#endif
#if !defined(ORU_SCAN_MASKED)
#define ORU_SCAN_MASKED 0
#endif
#if !defined(ORU_SCAN_TARGET_BEGIN)
#define ORU_SCAN_TARGET_BEGIN
#define ORU_SCAN_TARGET_END
#endif

ORU_SCAN_TARGET_BEGIN
namespace ORU_SCAN_NAMESPACE {
namespace {

// For the few small helpers of the walks that must stay inline there, and a
// path of theirs that must not.
#if defined(__GNUC__)
#define ORU_ALWAYS_INLINE inline __attribute__((always_inline))
#define ORU_NOINLINE __attribute__((noinline))
#else
#define ORU_ALWAYS_INLINE inline
#define ORU_NOINLINE
#endif
#if ORU_SCAN_WIDE
#define ORU_NOINLINE_IF_WIDE ORU_NOINLINE
#else
#define ORU_NOINLINE_IF_WIDE
#endif

using kernel_body::AlphaChannel;
using kernel_body::ColourChannel;

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

// ---- Kernels on planes -----------------------------------------------------

// A blend with one multiply, for w in 0 .. 256: (t w + o (256 - w) + 128) >> 8
// is o + floor(((t - o) w + 128) / 256), and (t - o) w + 128 + 256 x 256 is
// never negative, so that floor is a plain shift of it, less 256.
inline int mixOne(int towards, int own, int w) {
  return own - 256 +
         static_cast<int>(static_cast<unsigned>((towards - own) * w + 128 + 256 * 256) >> 8);
}
// blend(blend(towards, own, w), own, s) for w in 0 .. 128 and s in 0 .. 256,
// where neither blend clamps. Full: s is 256 (strength 100, the default),
// where the second blend gives its first argument.
template <bool Full>
inline std::uint8_t mixByte(unsigned towards, unsigned own, unsigned w, unsigned s) {
  const int o = static_cast<int>(own);
  const int a = mixOne(static_cast<int>(towards), o, static_cast<int>(w));
  if (Full) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(mixOne(a, o, static_cast<int>(s)));
}

#if defined(__SSE2__)
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
#endif

#if defined(__SSE2__)
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
#endif

// Pixels a group of lanes blends at once: sixteen in the AVX2 build, else
// eight. The planes must have room for the bytes up to the next group past
// a call's pixels for its last group to be blended whole.
constexpr int kLanes = ORU_SCAN_WIDE ? 16 : 8;

#if ORU_SCAN_WIDE
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
#endif

// Blends count bytes of a line of one plane a byte at a time, the i-th
// d[i x dStep] toward s[i x sStep] with weight w0 + i x dw. Full: strength
// is 256.
template <bool Full>
inline void blendBytes(std::uint8_t* __restrict d, std::ptrdiff_t dStep,
                       const std::uint8_t* __restrict s, std::ptrdiff_t sStep, int count, int w0,
                       int dw, unsigned strength) {
  for (int i = 0; i < count; ++i) {
    std::uint8_t& own = d[i * dStep];
    own = mixByte<Full>(s[i * sStep], own, static_cast<unsigned>(w0 + i * dw), strength);
  }
}

// The same blend of count bytes along a row in each of N planes, bytes dAt
// on of d[c] toward sAt on of s[c], eight at a time, the planes of a group
// of eight together so that they share its weights. Every byte depends on
// its own pixels alone, so a run goes up in memory whatever its direction.
// padded: the bytes up to the next eight after the run may be read and
// written back as read, so that a last group of fewer than eight is blended
// eight at a time too.
template <int N, bool Full>
ORU_ALWAYS_INLINE void blendRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                                 std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count, int w0, int dw,
                                 unsigned strength, bool padded) {
  int i = 0;
#if ORU_SCAN_WIDE
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
  if (i >= count) return;
#elif defined(__SSE2__)
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
    return;
  }
#else
  (void)padded;
#endif
  for (int c = 0; c < N; ++c) {
    blendBytes<Full>(d[c] + dAt + i, 1, s[c] + sAt + i, 1, count - i, w0 + i * dw, dw, strength);
  }
}

// Both half-runs of a short call along a row in one pass, span bytes from
// dAt on in each of N planes with the step pixel at lane `at` left alone:
// the lanes below it blend toward sLow on with weights wLow, wLow + dwLow,
// ..., those above toward sHigh on with wHigh, wHigh + dwHigh, ... (both
// counted from the span's first byte). The halves touch different bytes
// and read only the source, so blending them together changes nothing.
// The planes have room for the bytes up to the next group of kLanes after
// the span.
#if ORU_SCAN_MASKED
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

// 32 lanes a group, the lanes of each half and the pixels the call leaves
// alone chosen by masks: the bytes past the span and the step pixel are
// read but never stored.
template <int N, bool Full>
ORU_ALWAYS_INLINE void blendSpanRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                                     std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh,
                                     int span, int at, int wLow, int dwLow, int wHigh, int dwHigh,
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
  const std::uint64_t used =
      (span >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << span) - 1) & ~(std::uint64_t{1} << at);
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
ORU_ALWAYS_INLINE void spanWithStep(std::uint8_t* const d[], const std::uint8_t* const s[],
                                    std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh,
                                    int span, int at, int wLow, int dwLow, int wHigh, int dwHigh,
                                    unsigned strength, bool blends) {
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
#elif ORU_SCAN_WIDE
template <int N, bool Full>
ORU_ALWAYS_INLINE void blendSpanRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                                     std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh,
                                     int span, int at, int wLow, int dwLow, int wHigh, int dwHigh,
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
    const __m256i used =
        _mm256_andnot_si256(_mm256_cmpeq_epi16(lane, stepLane), _mm256_cmpgt_epi16(spanEnd, lane));
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
#elif defined(__SSE2__)
template <int N, bool Full>
ORU_ALWAYS_INLINE void blendSpanRows(std::uint8_t* const d[], const std::uint8_t* const s[],
                                     std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh,
                                     int span, int at, int wLow, int dwLow, int wHigh, int dwHigh,
                                     unsigned strength) {
  const __m128i zero = _mm_setzero_si128();
  const Mix8<Full> mix(strength);
  const __m128i lanes = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), eight = _mm_set1_epi16(8);
  __m128i lane = lanes;
  __m128i low = Mix8<Full>::weights(wLow, dwLow), high = Mix8<Full>::weights(wHigh, dwHigh);
  const __m128i lowStep = Mix8<Full>::weightStep(dwLow), highStep = Mix8<Full>::weightStep(dwHigh);
  const __m128i stepLane = _mm_set1_epi16(static_cast<short>(at));
  const __m128i spanEnd = _mm_set1_epi16(static_cast<short>(span));
  auto load = [&](const std::uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  };
  for (int i = 0; i < span; i += 8) {
    const __m128i below = _mm_cmplt_epi16(lane, stepLane);
    const __m128i used =
        _mm_andnot_si128(_mm_cmpeq_epi16(lane, stepLane), _mm_cmplt_epi16(lane, spanEnd));
    const __m128i w =
        _mm_and_si128(used, _mm_or_si128(_mm_and_si128(below, low), _mm_andnot_si128(below, high)));
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
#endif

// The blend of blendBytes down a column of one plane, d and s a plane's row
// apart: eight bytes at a time gathered into a register.
template <bool Full>
inline void blendColumn(std::uint8_t* __restrict d, std::ptrdiff_t dStep,
                        const std::uint8_t* __restrict s, std::ptrdiff_t sStep, int count, int w0,
                        int dw, unsigned strength) {
  int i = 0;
#if defined(__SSE2__)
  const Mix8<Full> mix(strength);
  __m128i w = Mix8<Full>::weights(w0, dw);
  const __m128i wStep = Mix8<Full>::weightStep(dw);
  for (; i + 8 <= count; i += 8, w = _mm_add_epi16(w, wStep)) {
    std::uint8_t* dAt = d + i * dStep;
    scatterBytes(dAt, dStep, mix(gatherBytes(s + i * sStep, sStep), gatherBytes(dAt, dStep), w));
  }
#endif
  blendBytes<Full>(d + i * dStep, dStep, s + i * sStep, sStep, count - i, w0 + i * dw, dw,
                   strength);
}

// A call's step pixel, at `at` in each of N planes, its neighbours along the
// line `along` before and after it: the mean of those as they now stand.
// blends: false for a call that blends nothing, which leaves it as it is.
template <int N, bool Full>
ORU_ALWAYS_INLINE void stepPixel(std::uint8_t* const d[], std::ptrdiff_t at, std::ptrdiff_t along,
                                 int strength, bool blends = true) {
  for (int c = 0; c < N; ++c) {
    std::uint8_t* step = d[c] + at;
    const std::uint8_t own = *step, mean = blend(step[along], step[-along], 128);
    const std::uint8_t result = Full ? mean : blend(mean, own, strength);
    *step = blends ? result : own;
  }
}

// 128 / (l + 1) for a half-run of l >= 0 pixels, without a division: the
// kernels are called often, on short runs mostly.
struct WeightSteps {
  std::uint8_t of[128];
  constexpr WeightSteps() : of() {
    for (int l = 0; l < 128; ++l) of[l] = static_cast<std::uint8_t>(128 / (l + 1));
  }
};
constexpr WeightSteps kWeightSteps;
inline int weightStep(int l) {
  return l < 128 ? kWeightSteps.of[l] : 0;
}

// One kernel call straight on planes: the bytes that
// kernel_body::run leaves through the module's byte routines. src and dst
// are distinct planes; every pixel the call reaches lies in them.
// Lined: a kernel of direction 3 or 4 on a column laid out as a row (the
// planes' x is the column's y, their y the column's x), so that its pixels
// lie next to each other.
// Calls along a row whose half-runs and step span at most this many pixels
// blend both halves together.
constexpr int kSpanLanes = 2 * kLanes;
// Lanes a group of blendSpanRows blends at once.
constexpr int kSpanGroup = ORU_SCAN_MASKED ? 32 : kLanes;
// Where the lanes are masked, calls along a line of at most this many
// pixels are spanWithStep's: its 32 lanes hold them and a pixel either side.
constexpr int kStepSpan = 30;

// Full: strength is 256, where the strength blend leaves each byte as the
// first blend made it.
template <int Direction, class Channel, bool Lined, bool Full>
void planeKernelAt(const PlaneSet& src, const PlaneSet& dst, int strength, int runStart,
                   int stepPos, int runEnd, int line) {
  static constexpr kernel_body::Geometry g = [] {
    kernel_body::Geometry geometry = kernel_body::kGeometry[Direction - 1];
    if (Lined) geometry.alongRow = true;
    return geometry;
  }();
  int blendStart = 0, blendEnd = 0;
  if (!kernel_body::blendSpan<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) return;
  const unsigned sw = static_cast<unsigned>(strength);
  const int l1 = (stepPos - blendStart) * g.step, l2 = (blendEnd - stepPos) * g.step;
  const int inc1 = weightStep(l1), inc2 = weightStep(l2);
  // The first half-run: pixel blendStart + (k - 1) * step has weight k * inc1;
  // the second: pixel stepPos + k * step has weight 128 - k * inc2 (k from 1).
  // Each is handed over from its lowest pixel up.
  long long p1 = blendStart, p2 = stepPos + 1LL;
  int w1 = inc1, dw1 = inc1, w2 = 128 - inc2, dw2 = -inc2;
  if (g.step < 0) {
    p1 = stepPos + 1LL;
    w1 = l1 * inc1;
    dw1 = -inc1;
    p2 = static_cast<long long>(stepPos) - l2;
    w2 = 128 - l2 * inc2;
    dw2 = inc2;
  }
  // Where pixel p of the line, or of its neighbour line side, lies in the
  // planes of a set (they share their geometry): from the set's origin,
  // where line 0 has position 0, side steps across and p along the line.
  // In long long, as a plane's coordinates may lie far from 0 (a preview's
  // window); only the offset itself must fit.
  struct Origin {
    long long base, across, along;
  };
  auto originOf = [line](const PlaneSet& ps) {
    if (g.alongRow) return Origin{(line - ps.originY) * ps.stride - ps.originX, ps.stride, 1};
    return Origin{line - ps.originX - ps.originY * ps.stride, 1, ps.stride};
  };
  const Origin dO = originOf(dst), sO = originOf(src);
  auto at = [](const Origin& o, long long p, int side) {
    return static_cast<std::ptrdiff_t>(o.base + side * o.across + p * o.along);
  };
  const std::ptrdiff_t dStep = at(dO, stepPos, 0);
  const std::ptrdiff_t dAlong = static_cast<std::ptrdiff_t>(dO.along);
  const std::ptrdiff_t sAlong = static_cast<std::ptrdiff_t>(sO.along);
  constexpr int first = Channel::kAlpha ? 3 : 0, channels = Channel::kAlpha ? 1 : 3;
  std::uint8_t* d[channels];
  const std::uint8_t* s[channels];
  for (int c = 0; c < channels; ++c) {
    d[c] = dst.plane[first + c];
    s[c] = src.plane[first + c];
  }
  // Whether the planes hold the bytes up to the next group of kSpanGroup
  // after count bytes from dAt in dst and from sAt in src.
  auto roomFor = [&](std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count) {
    const std::size_t end = static_cast<std::size_t>((count + kSpanGroup - 1) & ~(kSpanGroup - 1));
    return dst.size >= static_cast<std::size_t>(dAt) + end &&
           src.size >= static_cast<std::size_t>(sAt) + end;
  };
  // A half-run: along a row from four pixels on eight at a time with its
  // channels together, down a column from sixteen on gathered eight at a
  // time channel by channel, the others a pixel at a time.
  auto halfRun = [&](std::ptrdiff_t dAt, std::ptrdiff_t sAt, int count, int w0, int dw) {
    if (g.alongRow && count >= 4) {
      // The last group of fewer than eight too, where the planes have room.
      blendRows<channels, Full>(d, s, dAt, sAt, count, w0, dw, sw, roomFor(dAt, sAt, count));
      return;
    }
    if (!g.alongRow && count >= 16) {
      for (int c = 0; c < channels; ++c) {
        blendColumn<Full>(d[c] + dAt, dAlong, s[c] + sAt, sAlong, count, w0, dw, sw);
      }
      return;
    }
    for (int i = 0; i < count; ++i, dAt += dAlong, sAt += sAlong, w0 += dw) {
      for (int c = 0; c < channels; ++c) {
        d[c][dAt] = mixByte<Full>(s[c][sAt], d[c][dAt], static_cast<unsigned>(w0), sw);
      }
    }
  };
  bool blended = false;
#if defined(__SSE2__)
  // A short call along a row: both halves at once, eight lanes at a time.
  if (g.alongRow) {
    const long long lo = g.step > 0 ? blendStart : blendEnd;
    const int span = l1 + l2 + 1;
    if (span <= kSpanLanes) {
      // The first half-run is below the step in memory when the line goes up.
      const long long pLow = g.step > 0 ? p1 : p2, pHigh = g.step > 0 ? p2 : p1;
      const int wLow = g.step > 0 ? w1 : w2, dwLow = g.step > 0 ? dw1 : dw2;
      const int wHigh = g.step > 0 ? w2 : w1, dwHigh = g.step > 0 ? dw2 : dw1;
      const int sideLow = g.step > 0 ? g.firstSide : -g.firstSide;
      const std::ptrdiff_t dAt = at(dO, lo, 0), sLow = at(sO, lo, sideLow),
                           sHigh = at(sO, lo, -sideLow);
      if (roomFor(dAt, std::max(sLow, sHigh), span)) {
        blendSpanRows<channels, Full>(d, s, dAt, sLow, sHigh, span, static_cast<int>(stepPos - lo),
                                      wLow + static_cast<int>(lo - pLow) * dwLow, dwLow,
                                      wHigh + static_cast<int>(lo - pHigh) * dwHigh, dwHigh, sw);
        blended = true;
      }
    }
  }
#endif
  if (!blended) {
    halfRun(at(dO, p1, 0), at(sO, p1, g.firstSide), l1, w1, dw1);
    halfRun(at(dO, p2, 0), at(sO, p2, -g.firstSide), l2, w2, dw2);
  }
  stepPixel<channels, Full>(d, dStep, dAlong, strength);
}
template <int Direction, class Channel, bool Lined = false>
void planeKernel(const PlaneSet& src, const PlaneSet& dst, int strength, int runStart, int stepPos,
                 int runEnd, int line) {
  if (strength == 256) {
    planeKernelAt<Direction, Channel, Lined, true>(src, dst, strength, runStart, stepPos, runEnd,
                                                   line);
  } else {
    planeKernelAt<Direction, Channel, Lined, false>(src, dst, strength, runStart, stepPos, runEnd,
                                                    line);
  }
}

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

// out[i] = the largest channel difference of pixels i of p and q, given as
// rows of each of their N channels, for count <= kChunk pixels.
template <int N>
inline void largestDifferences(const std::uint8_t* const p[], const std::uint8_t* const q[],
                               int count, std::uint8_t* __restrict out) {
  {
    const std::uint8_t* __restrict a = p[0];
    const std::uint8_t* __restrict b = q[0];
    for (int i = 0; i < count; ++i) out[i] = absDiff(a[i], b[i]);
  }
  for (int c = 1; c < N; ++c) {
    const std::uint8_t* __restrict a = p[c];
    const std::uint8_t* __restrict b = q[c];
    for (int i = 0; i < count; ++i) out[i] = std::max(out[i], absDiff(a[i], b[i]));
  }
}

#if defined(__SSE2__)
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

#if ORU_SCAN_WIDE
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
#endif
// Bit i: whether byte i of d is at least the byte of atLeast.
inline std::uint64_t atLeastMask(__m128i d, __m128i atLeast) {
  return static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(d, atLeast), d)));
}
#else
// 64 bytes of 0 or 1 as the bits of a word, byte i as bit i. Each multiply
// gathers the low bits of eight bytes into its top byte (x86 is little-endian).
inline std::uint64_t packBits(const std::uint8_t* ones) {
  std::uint64_t bits = 0;
  for (int b = 0; b < 8; ++b) {
    std::uint64_t u;
    std::memcpy(&u, ones + 8 * b, sizeof u);
    bits |= ((u * 0x0102040810204080ULL) >> 56) << (8 * b);
  }
  return bits;
}

// Bit i of the word: whether d[i] >= atLeast, for i < count; 0 past count.
inline std::uint64_t atLeastBits(const std::uint8_t* d, int count, std::uint8_t atLeast) {
  alignas(16) std::uint8_t ones[kChunk];
  for (int i = 0; i < count; ++i) ones[i] = d[i] >= atLeast ? 1 : 0;
  for (int i = count; i < kChunk; ++i) ones[i] = 0;
  return packBits(ones);
}
#endif

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

#if defined(__SSE2__)
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
#if ORU_SCAN_WIDE
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
#endif

// Transposes a 64 x 64 matrix of bits: bit j of word i becomes bit i of word j.
// Sixteen words at a time (32 with registers of 256 bits): their bytes
// turned into columns (byte b of each word in one register), from which each
// top bit in turn gives a column of the matrix sixteen (32) bits at a time.
template <class U>
inline void transposeBitsBy(std::uint64_t a[64]) {
  using V = typename U::V;
  constexpr int kRows = U::kBytes, kGroups = 64 / kRows;
  typename U::Mask out[64][kGroups];
  for (int g = 0; g < kGroups; ++g) {
    const std::uint64_t* rows = a + kRows * g;
    // Bytes 0 .. 7 of eight words (and of the eight 16 on in the high half):
    // even bytes in the low half of each 128 bits.
    auto eight = [](const std::uint64_t* r, V v[4]) {
      const V t0 = U::lo8(U::word(r), U::word(r + 1));
      const V t1 = U::lo8(U::word(r + 2), U::word(r + 3));
      const V t2 = U::lo8(U::word(r + 4), U::word(r + 5));
      const V t3 = U::lo8(U::word(r + 6), U::word(r + 7));
      const V u0 = U::lo16(t0, t1), u1 = U::hi16(t0, t1);
      const V u2 = U::lo16(t2, t3), u3 = U::hi16(t2, t3);
      v[0] = U::lo32(u0, u2);  // bytes 0 and 1
      v[1] = U::hi32(u0, u2);  // bytes 2 and 3
      v[2] = U::lo32(u1, u3);  // bytes 4 and 5
      v[3] = U::hi32(u1, u3);  // bytes 6 and 7
    };
    V low[4], high[4];
    eight(rows, low);
    eight(rows + 8, high);
    for (int k = 0; k < 4; ++k) {
      V column[2] = {U::lo64(low[k], high[k]), U::hi64(low[k], high[k])};
      for (int h = 0; h < 2; ++h) {
        const int b = 2 * k + h;
        V v = column[h];
        for (int bit = 7; bit >= 0; --bit, v = U::twice(v)) out[8 * b + bit][g] = U::topBits(v);
      }
    }
  }
  std::memcpy(a, out, sizeof out);
}
inline void transposeBits(std::uint64_t a[64]) {
#if ORU_SCAN_WIDE
  transposeBitsBy<Unpack256>(a);
#else
  transposeBitsBy<Unpack128>(a);
#endif
}
#else
inline void transposeBits(std::uint64_t a[64]) {
  std::uint64_t m = 0x00000000ffffffffULL;
  for (int j = 32; j != 0; j >>= 1, m ^= (m << j)) {
    for (int k = 0; k < 64; k = ((k | j) + 1) & ~j) {
      const std::uint64_t t = ((a[k] >> j) ^ a[k | j]) & m;
      a[k] ^= t << j;
      a[k | j] ^= t;
    }
  }
}
#endif

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
struct Run {
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

  Run(const Area* a, const Layout* l, std::uint8_t* b) : area(a), layout(l), block(b) {
    for (int c = 0; c < 4; ++c) gridPlane[c] = block + layout->grid[c == 3 ? 0 : c];
    gridStride = static_cast<long long>(layout->gridW);
    gridOffset = -layout->gridY * gridStride - layout->gridX;
  }

  // Channel c (0 .. 3) of pixel (x, y) of the grid.
  const std::uint8_t* at(int c, long long x, long long y) const {
    return gridPlane[c] + static_cast<std::size_t>(y * gridStride + x + gridOffset);
  }
};

// Asks for the cache lines of bytes x0 .. x0 + count - 1 of grid row y in
// each channel's plane, ahead of reads the processor does not foresee.
template <int N, int First>
ORU_ALWAYS_INLINE void prefetchGridRow(const Run& run, long long x0, long long y, int count) {
#if defined(__GNUC__)
  for (int c = 0; c < N; ++c) {
    const std::uint8_t* p = run.at(First + c, x0, y);
    __builtin_prefetch(p, 0, 3);
    __builtin_prefetch(p + count - 1, 0, 3);
  }
#else
  (void)run, (void)x0, (void)y, (void)count;
#endif
}

// The slope measure at (x, y), as katamuki or katamuki_a takes it: over the
// four 2 x 2 blocks around the pixel, the differences of the rising pairs
// minus those of the falling pairs; 0 where x < 1 or y < 1.
template <int N, int First>
int slopeAt(const Run& run, long long x, long long y) {
  if (x < 1 || y < 1) return 0;
  const std::size_t stride = run.layout->gridW;
#if defined(__SSE2__)
  // Each row of the 3 x 3 pixels as four bytes x - 1 .. x + 2 of each
  // channel, a channel to a 32-bit lane. The fourth byte is never used; at
  // the grid's last row and column it is the first byte of what follows the
  // grid plane in the block, so the read stays inside the block.
  const std::uint8_t* corner[N];
  for (int c = 0; c < N; ++c) corner[c] = run.at(First + c, x - 1, y - 1);
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
  const __m128i low = _mm_set1_epi32(0xffff), high = _mm_set1_epi32(static_cast<int>(0xffff0000u));
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
#else
  int sum = 0;
  for (int c = 0; c < N; ++c) {
    const std::uint8_t* above = run.at(First + c, x - 1, y - 1);
    for (int r = 0; r < 2; ++r, above += stride) {
      const std::uint8_t* below = above + stride;
      for (int i = 0; i < 2; ++i) {
        sum += absDiff(above[i + 1], below[i]) - absDiff(above[i], below[i + 1]);
      }
    }
  }
  return sum;
#endif
}

// The blocks whose top-left pixels are (x0 .. x0 + count - 1, y): the
// differences of the rising pair minus those of the falling pair. out has
// room for blockRowRoom(count) values.
template <int N, int First>
void blockRow(const Run& run, long long x0, long long y, int count, std::int16_t* __restrict out) {
  const std::uint8_t *top[N], *bottom[N];
  for (int c = 0; c < N; ++c) {
    top[c] = run.at(First + c, x0, y);
    bottom[c] = run.at(First + c, x0, y + 1);
  }
#if ORU_SCAN_WIDE
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
#elif defined(__SSE2__)
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
#else
  for (int i = 0; i < count; ++i) {
    int rise = 0, fall = 0;
    for (int c = 0; c < N; ++c) {
      rise += absDiff(top[c][i + 1], bottom[c][i]);
      fall += absDiff(top[c][i], bottom[c][i + 1]);
    }
    out[i] = static_cast<std::int16_t>(rise - fall);
  }
#endif
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
void slopeRows(const Run& run, long long x0, long long y0, int rows, int count, std::int16_t* out,
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
    if (stride != 0 && y + 4 <= run.layout->gridY + static_cast<long long>(run.layout->gridH) - 1) {
      prefetchGridRow<N, First>(run, x0 - 1, y + 4, count + 3);
    }
    if (!haveAbove) blockRow<N, First>(run, x0 - 1, y - 1, count + 1, blocks[above]);
    blockRow<N, First>(run, x0 - 1, y, count + 1, blocks[above ^ 1]);
    addBlocks(blocks[above], blocks[above ^ 1], x0, count, out);
    above ^= 1;
    haveAbove = true;
  }
}

template <int N, int First>
void slopeSpan(const Run& run, long long x0, long long y, int count, std::int16_t* out) {
  slopeRows<N, First>(run, x0, y, 1, count, out, 0);
}

// A slope measure not yet taken.
constexpr std::int16_t kNoSlope = INT16_MIN;

// Whether pixels (xa, ya) and (xb, yb) of the grid differ by more than 95 in
// some channel: a test the step tests ask for only where it decides, so it
// is made from the grid when asked for rather than kept as a map.
template <int N, int First>
bool differBy95(const Run& run, long long xa, long long ya, long long xb, long long yb) {
  for (int c = 0; c < N; ++c) {
    if (absDiff(*run.at(First + c, xa, ya), *run.at(First + c, xb, yb)) > 95) return true;
  }
  return false;
}
// The same test for 64 pairs: bit i for pixels (xa + i, ya) and (xb + i, yb).
// Past the end of a grid row the loads read on into the next one, which the
// rows asked for always have; those bits are not used.
template <int N, int First>
std::uint64_t differBy95Bits(const Run& run, long long xa, long long ya, long long xb,
                             long long yb) {
  const std::uint8_t *p[N], *q[N];
  for (int c = 0; c < N; ++c) {
    p[c] = run.at(First + c, xa, ya);
    q[c] = run.at(First + c, xb, yb);
  }
#if ORU_SCAN_WIDE
  const __m256i limit = _mm256_set1_epi8(96);
  std::uint64_t bits = 0;
  for (int g = 0; g < 64; g += 32) {
    __m256i largest = _mm256_setzero_si256();
    for (int c = 0; c < N; ++c) {
      largest = _mm256_max_epu8(largest, absDiff32(load32(p[c] + g), load32(q[c] + g)));
    }
    bits |= atLeastMask32(largest, limit) << g;
  }
  return bits;
#elif defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(96);
  std::uint64_t bits = 0;
  for (int g = 0; g < 64; g += 16) {
    bits |= atLeastMask(largestDifference16<N>(p, q, g), limit) << g;
  }
  return bits;
#else
  alignas(16) std::uint8_t d[kChunk];
  largestDifferences<N>(p, q, kChunk, d);
  return atLeastBits(d, kChunk, 96);
#endif
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
void edgeMapRow(const Run& run, int r, bool flat) {
  const Layout& l = *run.layout;
  const Area& a = *run.area;
  std::uint64_t* maps[kMaps];
  for (int k = 0; k < kMaps; ++k) maps[k] = reinterpret_cast<std::uint64_t*>(run.block + l.map[k]);
  const int count = l.nx + 2;
  const std::size_t mapRows = static_cast<std::size_t>(l.ny) + 2, row = static_cast<std::size_t>(r);
  for (int k = 0; k < kMaps; ++k) maps[k][(l.mapWords - 1) * mapRows + row] = 0;
  if (flat && run.atLeast != 0) {
    for (std::size_t k = 0; k + 1 < l.mapWords; ++k) {
      for (int m = 0; m < kMaps; ++m) maps[m][k * mapRows + row] = 0;
    }
    return;
  }
  const long long x = a.xFirst - 1LL, y = a.yFirst - 1LL + r;
  const std::uint8_t *cur[N], *below[N];
  for (int c = 0; c < N; ++c) {
    cur[c] = run.at(First + c, x, y);
    below[c] = run.at(First + c, x, y + 1);
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
#if defined(__SSE2__)
    // Sixteen positions at a time, each test's bits straight from the
    // bytes' top bits. Past the last position the loads read on into the
    // next row, or past the grid's last row into what follows it in the
    // block; those bits are cleared.
    std::uint64_t bits[kMaps] = {};
#if ORU_SCAN_WIDE
    // Thirty-two positions at a time.
    const __m256i limit = _mm256_set1_epi8(static_cast<char>(run.atLeast));
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
      bits[kBelowMap] |= atLeastMask32(below, limit) << g;
      bits[kRightMap] |= atLeastMask32(right, limit) << g;
      bits[kFallMap] |= atLeastMask32(fall, limit) << g;
      bits[kRiseMap] |= atLeastMask32(rise, limit) << g;
    }
#else
    const __m128i limit = _mm_set1_epi8(static_cast<char>(run.atLeast));
    for (int g = 0; g < n; g += 16) {
      const __m128i below = largestDifference16<N>(c0, b0, g);
      const __m128i right = largestDifference16<N>(c0, c1, g);
      const __m128i fall = largestDifference16<N>(c0, b1, g);
      const __m128i rise = largestDifference16<N>(c1, b0, g);
      bits[kBelowMap] |= atLeastMask(below, limit) << g;
      bits[kRightMap] |= atLeastMask(right, limit) << g;
      bits[kFallMap] |= atLeastMask(fall, limit) << g;
      bits[kRiseMap] |= atLeastMask(rise, limit) << g;
    }
#endif
    const std::uint64_t used = n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1;
    for (int m = 0; m < kMaps; ++m) maps[m][k * mapRows + row] = bits[m] & used;
#else
    alignas(16) std::uint8_t d[4][kChunk];
    largestDifferences<N>(c0, b0, n, d[0]);
    largestDifferences<N>(c0, c1, n, d[1]);
    largestDifferences<N>(c0, b1, n, d[2]);
    largestDifferences<N>(c1, b0, n, d[3]);
    maps[kBelowMap][k * mapRows + row] = atLeastBits(d[0], n, run.atLeast);
    maps[kRightMap][k * mapRows + row] = atLeastBits(d[1], n, run.atLeast);
    maps[kFallMap][k * mapRows + row] = atLeastBits(d[2], n, run.atLeast);
    maps[kRiseMap][k * mapRows + row] = atLeastBits(d[3], n, run.atLeast);
#endif
  }
}

// Fills the grid with channels First .. First + N - 1 of the width x height
// planes `source` and makes the edge maps from it, a row after the grid row
// it needs, while those rows are still near. True when the grid holds one
// byte throughout.
template <int N, int First>
bool fillGridAndMaps(const Run& run, std::uint8_t* const source[4], int width, int height) {
  const Layout& l = *run.layout;
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
      const std::uint8_t* row = run.block + l.grid[c] + j * l.gridW;
      f.v[c] = row[0];
      if (l.gridW > 1 && std::memcmp(row, row + 1, l.gridW - 1) != 0) f.flat = false;
    }
    return f;
  };
  fillGridRows(l, run.block, source, width, height, First, N, 0, 2);
  const Flat first = flatRow(0);
  Flat before = flatRow(1);
  bool uniform = first.same(before);
  for (int r = 0; r < l.ny + 2; ++r) {
    const std::size_t j = static_cast<std::size_t>(r) + 2;
    fillGridRows(l, run.block, source, width, height, First, N, j, j + 1);
    const Flat here = flatRow(j);
    uniform = uniform && first.same(here);
    edgeMapRow<N, First>(run, r, before.same(here));
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
// The walk of a line is a machine of two states: between runs or in a run.
// Between runs, a position with an edge opens a run there and is its step at
// once if the step test passes with the slope before it taken as 0 (s1); in
// a run, a position with no edge drops the run, and one that passes the step
// test (s2) is its step. After a step or a dropped run the walk is between
// runs again; the line's last position closes a run open there. Every test
// depends on the source alone, so s1 and s2 are bits of the positions, s2
// implies s1, and whether the walk comes to position m + 1 between runs is
// a carry:
//   out(m + 1) = a(m) | (out(m) & b(m)),  a = !edge | s2,  b = !edge | s1.
// Along a row that is the carry of an addition, a word of positions at a
// time; down the columns of a strip it is a word of columns, a row at a time.
// The kernel calls then come from the bits of the steps alone.

// The step tests of 64 positions from their slope measures k[i], the
// measures of the positions before them along the walk (before[i]) and after
// them (after[i]). cand holds the positions with an edge whose pixel differs
// from the next; across95 those whose across pixel differs from the next by
// more than 95 (where cand has them).
#if ORU_SCAN_WIDE
// Bit i: whether a[i] > b[i], for 64 values.
inline std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
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
#elif defined(__SSE2__)
// Bit i: whether a[i] > b[i], for 64 values.
inline std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
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
#else
inline std::uint64_t greaterBits(const std::int16_t* a, const std::int16_t* b) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= static_cast<std::uint64_t>(a[i] > b[i]) << i;
  return bits;
}
#endif

alignas(16) constexpr std::int16_t kZeroSlopes[64] = {};

template <bool Negative>
void stepBits(const std::int16_t* k, const std::int16_t* before, const std::int16_t* after,
              std::uint64_t cand, std::uint64_t across95, std::uint64_t* s1, std::uint64_t* s2) {
  // k is steeper than o where Negative ? k <= o : k >= o.
  auto notSteeper = [&](const std::int16_t* o) {
    return Negative ? greaterBits(k, o) : greaterBits(o, k);
  };
  const std::uint64_t sign = Negative ? greaterBits(kZeroSlopes, k) : greaterBits(k, kZeroSlopes);
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

// ---- Kernels along a line -------------------------------------------------------

// The kernel calls of one line whose pixels lie next to each other in the
// planes: a row of a row pass, or a column of a group copied into lines.
// What every call of the line shares is found once, when the line is set,
// so that a call costs its own work alone: where the planes have room for
// the lanes past its pixels, both half-runs of a call are blended together,
// a group of kLanes at a time, and then the step pixel. Calls that span more
// than kLineSpan pixels, or reach the planes' ends, are planeKernelAt's.
template <int Direction, class Channel, bool Lined>
class LineKernel {
 public:
  static constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;

  LineKernel(const PlaneSet& src, const PlaneSet& dst, int strength)
      : src_(src), dst_(dst), strength_(strength) {
    for (int c = 0; c < N; ++c) {
      d_[c] = dst.plane[First + c];
      s_[c] = src.plane[First + c];
    }
  }

  // The line of the calls that follow: row `line`, or column `line` as
  // the planes lay it out.
  void setLine(int line) {
    line_ = line;
    const long long d = (line - dst_.originY) * dst_.stride - dst_.originX;
    const long long s = (line - src_.originY) * src_.stride - src_.originX;
    dBase_ = d;
    sFirst_ = s + g.firstSide * src_.stride;
    sSecond_ = s - g.firstSide * src_.stride;
    // The planes hold the bytes of positions below roomEnd_ on all three
    // lines (none where their size is not known).
    const long long sHigh = std::max(sFirst_, sSecond_);
    roomEnd_ = dst_.size == 0 || src_.size == 0
                   ? LLONG_MIN
                   : std::min(static_cast<long long>(dst_.size) - d,
                              static_cast<long long>(src_.size) - sHigh);
  }

  ORU_ALWAYS_INLINE void call(int runStart, int stepPos, int runEnd) {
    if (strength_ == 256) {
      callAt<true>(runStart, stepPos, runEnd);
    } else {
      callAt<false>(runStart, stepPos, runEnd);
    }
  }

 private:
  static constexpr kernel_body::Geometry g = [] {
    kernel_body::Geometry geometry = kernel_body::kGeometry[Direction - 1];
    geometry.alongRow = true;
    return geometry;
  }();

  template <bool Full>
  ORU_ALWAYS_INLINE void callAt(int runStart, int stepPos, int runEnd) {
    int blendStart = 0, blendEnd = 0;
    if (!kernel_body::blendBounds<Direction>(runStart, stepPos, runEnd, &blendStart, &blendEnd)) {
      return;
    }
    // A call that blends nothing changes nothing. It goes the way of the
    // short calls, without a branch (there are many such calls and no
    // pattern to them): its lanes have weight 0 and its step pixel is left
    // as it is, or where the lanes are masked nothing is stored.
    const bool blends = !(blendStart == stepPos && blendEnd == stepPos);
    const int l1 = (stepPos - blendStart) * g.step, l2 = (blendEnd - stepPos) * g.step;
    const int span = l1 + l2 + 1;
    const long long lo = g.step > 0 ? blendStart : blendEnd;
#if defined(__SSE2__)
    // Calls short enough need no room past their pixels where the lanes
    // are masked.
    const bool roomy =
        span <= kLineSpan && lo + ((span + kSpanGroup - 1) & ~(kSpanGroup - 1)) <= roomEnd_;
    if (roomy || (ORU_SCAN_MASKED && span <= kStepSpan)) {
      // Both half-runs are shorter than the table.
      const int inc1 = kWeightSteps.of[l1], inc2 = kWeightSteps.of[l2];
      // Lane i is position lo + i. Going up the line the first half-run lies
      // below the step: weights (i + 1) inc1 toward the first neighbour line,
      // and above it 128 - (i - l1) inc2 toward the second. Going down it is
      // the other way round: 128 - (l2 - i) inc2 below, toward the second
      // line, and (l1 + l2 + 1 - i) inc1 above, toward the first.
      const bool up = g.step > 0;
      const int wLow = up ? inc1 : 128 - l2 * inc2, dwLow = up ? inc1 : inc2;
      const int wHigh = up ? 128 + l1 * inc2 : (l1 + l2 + 1) * inc1, dwHigh = up ? -inc2 : -inc1;
      const std::ptrdiff_t dAt = static_cast<std::ptrdiff_t>(dBase_ + lo);
      const std::ptrdiff_t sLow = static_cast<std::ptrdiff_t>((up ? sFirst_ : sSecond_) + lo);
      const std::ptrdiff_t sHigh = static_cast<std::ptrdiff_t>((up ? sSecond_ : sFirst_) + lo);
      const unsigned strength = static_cast<unsigned>(strength_);
#if ORU_SCAN_MASKED
      if (span <= kStepSpan) {
        spanWithStep<N, Full>(d_, s_, dAt, sLow, sHigh, span, up ? l1 : l2, wLow, dwLow, wHigh,
                              dwHigh, strength, blends);
        return;
      }
#endif
      blendSpanRows<N, Full>(d_, s_, dAt, sLow, sHigh, span, up ? l1 : l2, wLow, dwLow, wHigh,
                             dwHigh, strength);
      stepPixel<N, Full>(d_, static_cast<std::ptrdiff_t>(dBase_ + stepPos), 1, strength_, blends);
      return;
    }
#endif
    planeKernelAt<Direction, Channel, Lined, Full>(src_, dst_, strength_, runStart, stepPos, runEnd,
                                                   line_);
  }

  // Calls spanning at most this many pixels take the lanes.
  static constexpr int kLineSpan = 64;
  static_assert(kLineSpan <= sizeof kWeightSteps.of, "a half-run's step from the table unchecked");

  const PlaneSet &src_, &dst_;
  int strength_;
  int line_ = 0;
  std::uint8_t* d_[N];
  const std::uint8_t* s_[N];
  long long dBase_ = 0, sFirst_ = 0, sSecond_ = 0, roomEnd_ = LLONG_MIN;
};

// ---- Passes ----------------------------------------------------------------------

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
ORU_ALWAYS_INLINE void prefetchRowAhead(const Run& run, int y, Has&& has) {
#if defined(__GNUC__)
  const Area& a = *run.area;
  const Layout& l = *run.layout;
  if (y + kRowsAhead > a.yLast) return;
  const std::size_t m = static_cast<std::size_t>(y + kRowsAhead - a.yFirst);
  for (std::size_t k = 0; k < l.mapWords; ++k) {
    if (!has(k, m)) continue;
    // Word k holds positions 64k - 1 .. 64k + 62.
    const int x = a.xFirst + 64 * static_cast<int>(k) - 1;
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* d = run.dst.plane[First + c] + run.dst.at(x, y + kRowsAhead);
      __builtin_prefetch(d, 1, 3);
      __builtin_prefetch(d + 63, 1, 3);
    }
    for (int dy = -1; dy <= 1; ++dy) prefetchGridRow<N, First>(run, x - 1, y + kRowsAhead + dy, 66);
  }
#else
  (void)run, (void)y, (void)has;
#endif
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
  RowView(const Run& run, int y, std::uint64_t* s1, std::uint64_t* s2)
      : run_(run), y_(y), s1_(s1), s2_(s2) {
    const Layout& l = *run.layout;
    n = l.nx;
    words_ = l.mapWords;
    auto row = [&](EdgeMap map, int dy) {
      return MapRow{reinterpret_cast<const std::uint64_t*>(run.block + l.map[map]) +
                        static_cast<std::size_t>(y + 1LL + dy - run.area->yFirst),
                    static_cast<std::size_t>(l.ny) + 2};
    };
    // Current against across, next, diagonal; next against diagonal; across
    // against next.
    edges_ = row(kBelowMap, 0);
    curNext_ = row(kRightMap, 0);
    curDiag_ = row(Direction == 1 ? kRiseMap : kFallMap, -1);
    nextDiag_ = row(kBelowMap, -1);
    slopes_ = reinterpret_cast<std::int16_t*>(run.block + l.rowSlopes) + 1;
    known_ = run.block + l.rowKnown;
    blocks_ = reinterpret_cast<std::int16_t*>(run.block + l.rowBlocks);
    blocksOf_ = reinterpret_cast<long long*>(run.block + l.rowBlocksOf);
    listedWords_ = reinterpret_cast<std::uint32_t*>(run.block + l.rowWords);
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
          slopeAt<N, First>(run_, static_cast<long long>(run_.area->xFirst) + m, y_));
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
      const long long x = run_.area->xFirst + lo;
      const int count = static_cast<int>(hi - lo + 1);
      addBlocks(blocks(k, y_ - 1LL, x - 1, count + 1), blocks(k, y_, x - 1, count + 1), x, count,
                ks + (lo - own + 1));
    }
    std::memcpy(slopes_ + lo, ks + (lo - own + 1),
                static_cast<std::size_t>(hi - lo + 1) * sizeof(std::int16_t));
    known_[k] = 1;
    // Across (x, y + 1) against next (x + step, y) for the word's positions.
    const long long x = run_.area->xFirst + own;
    const std::uint64_t across95 = differBy95Bits<N, First>(run_, x, y_ + 1LL, x + kStep, y_);
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
      blockRow<N, First>(run_, x0, y, count, out);
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
        const long long x = run_.area->xFirst + static_cast<long long>(m);
        return differBy95<N, First>(run_, x, y_ + 1LL, x + kStep, y_);
      };
      auto before = [&] { return slope(m - kStep); };
      auto after = [&] { return slope(m + kStep); };
      stepBit<kNegative>(slope(m), across95, before, after, std::uint64_t{1} << at, &s1, &s2);
    }
    s1_[k] = s1;
    s2_[k] = s2;
  }

  const Run& run_;
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
void rowPass(const Run& run) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  const Area& a = *run.area;
  const Layout& l = *run.layout;
  auto bits = [&](std::size_t at) { return reinterpret_cast<std::uint64_t*>(run.block + at); };
  std::uint64_t *backS1 = bits(l.backS1), *backS2 = bits(l.backS2);
  if constexpr (Direction == 1) {
    // No row's blocks are kept yet.
    long long* blocksOf = reinterpret_cast<long long*>(run.block + l.rowBlocksOf);
    std::fill(blocksOf, blocksOf + 2 * l.mapWords, LLONG_MIN);
    // The second pass's steps: none where this pass lists no word, which the
    // second pass's look ahead reads too.
    const std::size_t words = static_cast<std::size_t>(l.ny) * l.mapWords;
    std::fill(backS1, backS1 + words, std::uint64_t{0});
    std::fill(backS2, backS2 + words, std::uint64_t{0});
  }
  // The words of row m to look ahead in: those with edges for the first pass
  // (the maps have a row above the first), those with steps for the second.
  const std::uint64_t* below = reinterpret_cast<const std::uint64_t*>(run.block + l.map[kBelowMap]);
  const std::size_t mapRows = static_cast<std::size_t>(l.ny) + 2;
  auto hasWork = [&](std::size_t k, std::size_t m) {
    if constexpr (Direction == 1) {
      return MapRow{below + m + 1, mapRows}[k] != 0;
    } else {
      const std::size_t at = m * l.mapWords + k;
      return (backS1[at] | backS2[at]) != 0;
    }
  };
  LineKernel<Direction, Channel, false> kernel(run.src, run.dst, run.strength);
  for (int y = a.yFirst; y <= a.yLast; ++y) {
    prefetchRowAhead<N, First>(run, y, hasWork);
    const std::size_t back = static_cast<std::size_t>(y - a.yFirst) * l.mapWords;
    auto emit = [&](int r, int p, int e) {
      const int runStart = a.xFirst + r, stepPos = a.xFirst + p, runEnd = a.xFirst + e;
      if (comeToCall<Direction, Channel>(runStart, stepPos, runEnd, y)) {
        kernel.call(runStart, stepPos, runEnd);
      }
    };
    if constexpr (Direction == 1) {
      RowView<1, N, First> line(run, y, bits(l.rowS1), bits(l.rowS2));
      if (!line.start()) continue;
      kernel.setLine(y);
      line.findSteps();
      RowView<2, N, First> other(run, y, backS1 + back, backS2 + back);
      other.startAfter(line);
      other.findSteps();
      line.walk(emit);
    } else {
      RowView<2, N, First> line(run, y, backS1 + back, backS2 + back);
      if (!line.start()) continue;
      kernel.setLine(y);
      line.walk(emit);
    }
  }
}

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

  StripView(const Run& run, int x0, int w) : run_(run), x0_(x0), w_(w) {
    const Layout& l = *run.layout;
    n = l.ny;
    mapRows_ = static_cast<std::size_t>(l.ny) + 2;
    auto map = [&](EdgeMap k) {
      return reinterpret_cast<const std::uint64_t*>(run.block + l.map[k]) + 1;
    };
    // Current against across, next, diagonal; next against diagonal; across
    // against next; each at row m of these.
    right_ = map(kRightMap);
    curNext_ = map(kBelowMap);
    curDiag_ = map(Direction == 3 ? kRiseMap : kFallMap);
    auto words = [&](std::size_t at) { return reinterpret_cast<std::uint64_t*>(run.block + at); };
    edges_ = words(l.stripEdges);
    flagWords_ = words(l.stripFlags);
    s1_ = words(l.stripS1);
    s2_ = words(l.stripS2);
    steps_ = words(l.stripSteps);
    columnChunks_ = words(l.stripColumnChunks);
    starts_ = words(l.stripStarts);
    stops_ = words(l.stripStops);
    goesOn_ = words(l.stripGoesOn);
    slopes_ = reinterpret_cast<std::int16_t*>(run.block + l.stripSlopes) + kStrip;
    state_ = run.block + l.stripDone;
    flagsDone_ = run.block + l.stripFlagsDone;
    stopsDone_ = run.block + l.stripStopsDone;
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
            prefetchGridRow<N, First>(run_, x0_ - 1LL, run_.area->yFirst + m + 5LL, w_ + 3);
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
      if (anySteps) transposeBits(steps);
      if (anyStarts) transposeBits(starts);
      // Chunk c's columns with steps, turned below into column j's chunks.
      columnChunks_[c] = anySteps;
    }
    // For each column, its chunks with steps, 64 chunks a word.
    for (int b = 0; b < chunkCount; b += kStrip) {
      std::uint64_t* words = columnChunks_ + b;
      std::fill(words + std::min(kStrip, chunkCount - b), words + kStrip, std::uint64_t{0});
      transposeBits(words);
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
    return static_cast<std::size_t>(static_cast<long long>(x0_) + j - run_.area->xFirst + 1);
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
    transposeBits(words);
    transposeBits(on);
  }
  // The slope measure at row m (-1 .. n) of column j: taken when first asked
  // for, unless its chunk's are taken all at once.
  int slope(int m, int j) {
    const int c = (m < 0 ? 0 : m >= n ? n - 1 : m) >> kChunkShift;
    if (state_[c] == kNotYet) fill(c);
    std::int16_t& v = slopes_[static_cast<std::ptrdiff_t>(m) * kStrip + j];
    if (v == kNoSlope) {
      v = static_cast<std::int16_t>(slopeAt<N, First>(
          run_, static_cast<long long>(x0_) + j, static_cast<long long>(run_.area->yFirst) + m));
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
      slopeRows<N, First>(run_, x0_, run_.area->yFirst + m0 - 1LL, m1 - m0 + 2, w_,
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
        const long long y = run_.area->yFirst + static_cast<long long>(m);
        const std::uint64_t across95 = differBy95Bits<N, First>(run_, x0_ + kSide, y, x0_, y + 1);
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
                        y = run_.area->yFirst + static_cast<long long>(m);
        return differBy95<N, First>(run_, x + kSide, y, x, y + 1);
      };
      auto before = [&] { return slope(m - 1, j); };
      auto after = [&] { return slope(m + 1, j); };
      stepBit<kNegative>(slope(m, j), across95, before, after, std::uint64_t{1} << j, &s1, &s2);
    }
    s1_[m] = s1;
    s2_[m] = s2;
  }

  const Run& run_;
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

#if defined(__SSE2__)
// Bytes 0 .. 7 of sixteen rows (row r at p + r * stride) to eight lines of
// sixteen bytes (line k, byte k of every row, at out + k * lineStride).
inline void rowsToLines(const std::uint8_t* p, std::ptrdiff_t stride, std::uint8_t* out,
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
inline void linesToRows(const std::uint8_t* in, std::size_t lineStride, std::uint8_t* p,
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
#endif

#if defined(__SSE2__)
// Transposes sixteen rows r[0 .. 15] of sixteen bytes into sixteen lines
// (line k, byte k of every row, in out[k]); in each 128-bit half apart
// where the registers are wider.
template <class U>
inline void transposeBytes(const typename U::V r[16], typename U::V out[16]) {
  using V = typename U::V;
  // a[8h + j]: bytes 8h .. 8h + 7 of rows 2j and 2j + 1, a byte of each
  // row to a 16-bit lane.
  V a[16];
  for (int j = 0; j < 8; ++j) {
    a[j] = U::lo8(r[2 * j], r[2 * j + 1]);
    a[8 + j] = U::hi8(r[2 * j], r[2 * j + 1]);
  }
  // b[8h + 2j + e]: bytes 8h + 4e .. 8h + 4e + 3 of rows 4j .. 4j + 3, a
  // byte of each row to a 32-bit lane.
  V b[16];
  for (int h = 0; h < 2; ++h) {
    for (int j = 0; j < 4; ++j) {
      b[8 * h + 2 * j] = U::lo16(a[8 * h + 2 * j], a[8 * h + 2 * j + 1]);
      b[8 * h + 2 * j + 1] = U::hi16(a[8 * h + 2 * j], a[8 * h + 2 * j + 1]);
    }
  }
  for (int h = 0; h < 2; ++h) {
    for (int e = 0; e < 2; ++e) {
      // Bytes 8h + 4e + t of rows 0 .. 7 (q 0) and 8 .. 15 (q 1), two
      // bytes of eight rows a register: t 0 and 1 in lo, 2 and 3 in hi.
      V lo[2], hi[2];
      for (int q = 0; q < 2; ++q) {
        const V x = b[8 * h + 4 * q + e], y = b[8 * h + 4 * q + 2 + e];
        lo[q] = U::lo32(x, y);
        hi[q] = U::hi32(x, y);
      }
      V* line = out + 8 * h + 4 * e;
      line[0] = U::lo64(lo[0], lo[1]);
      line[1] = U::hi64(lo[0], lo[1]);
      line[2] = U::lo64(hi[0], hi[1]);
      line[3] = U::hi64(hi[0], hi[1]);
    }
  }
}

// Transposes sixteen rows of sixteen bytes (row r at in + r * inStride) into
// sixteen rows of sixteen bytes (row k, byte k of every row, at out + k *
// outStride): rows to lines and lines back to rows alike.
inline void transposeBytes16(const std::uint8_t* in, std::ptrdiff_t inStride, std::uint8_t* out,
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
#endif

#if ORU_SCAN_WIDE
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
#endif

// Columns xLo .. xHi of a column pass laid out as rows: position y of column
// x at (y, x) of the lines, so that a column's pixels lie next to each
// other; the destination's columns in `dst`, the source's from xLo - 1 to
// xHi + 1 in `src`. Rows yFirst - 1 .. yLast + 1 are copied, all that the
// columns' kernels reach; each kernel reaches its own column alone in the
// destination, so the columns of a group may be copied together.
template <int N, int First>
struct ColumnLines {
  const Run& run;
  PlaneSet src{}, dst{};
  int length;
  int xLo = 0, xHi = -1;

  explicit ColumnLines(const Run& r) : run(r) {
    const Layout& l = *run.layout;
    length = l.ny + 2;
    std::uint8_t* at = run.block + l.columnLine;
    const std::size_t size = l.columnLineSize;
    for (int c = 0; c < N; ++c) {
      dst.plane[First + c] = at + c * kStrip * size;
      src.plane[First + c] = at + (3 * kStrip + c * (kStrip + 2)) * size;
    }
    dst.originX = src.originX = run.area->yFirst - 1LL;
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
    const int y0 = run.area->yFirst - 1, w = hi - lo + 1;
    const std::size_t size = static_cast<std::size_t>(dst.stride);
    const std::ptrdiff_t dStride = static_cast<std::ptrdiff_t>(run.dst.stride),
                         sStride = static_cast<std::ptrdiff_t>(run.src.stride);
    for (int c = 0; c < N; ++c) {
      const std::uint8_t* from = run.dst.plane[First + c] + run.dst.at(lo, y0);
      const std::uint8_t* left = run.src.plane[First + c] + run.src.at(lo - 1, y0);
      std::uint8_t* d = dst.plane[First + c];
      std::uint8_t* s = src.plane[First + c];
      int i = 0;
#if defined(__SSE2__)
      if (w == kColumnGroup) {
        // Sixteen rows at a time; the source's ten columns as columns 0 .. 7
        // and 2 .. 9.
        for (; i + 16 <= length; i += 16, from += 16 * dStride, left += 16 * sStride) {
          rowsToLines(from, dStride, d + i, size);
          rowsToLines(left, sStride, s + i, size);
          rowsToLines(left + 2, sStride, s + 2 * size + i, size);
        }
      } else if (w == kStrip) {
        // Sixteen rows and sixteen columns at a time; the source's 66
        // columns as columns 0 .. 63 and 50 .. 65.
        const std::ptrdiff_t line = static_cast<std::ptrdiff_t>(size);
        for (; i + 16 <= length; i += 16, from += 16 * dStride, left += 16 * sStride) {
#if defined(__GNUC__)
          // The rows two groups on, asked for ahead: the strip's bytes of
          // each row lie a plane's row apart, and the passes before have
          // long since moved them out of the nearer caches.
          if (i + 32 + 16 <= length) {
            for (int r = 0; r < 16; ++r) {
              const std::uint8_t* f = from + (32 + r) * dStride;
              const std::uint8_t* l = left + (32 + r) * sStride;
              __builtin_prefetch(f);
              __builtin_prefetch(f + 63);
              __builtin_prefetch(l);
              __builtin_prefetch(l + 65);
            }
          }
#endif
#if ORU_SCAN_WIDE
          for (int k = 0; k < kStrip; k += 32) {
            transposeBytes16Pair<true, false>(from + k, nullptr, dStride, d + k * size + i,
                                              d + (k + 16) * size + i, line);
            transposeBytes16Pair<true, false>(left + k, nullptr, sStride, s + k * size + i,
                                              s + (k + 16) * size + i, line);
          }
#else
          for (int k = 0; k < kStrip; k += 16) {
            transposeBytes16(from + k, dStride, d + k * size + i, line);
            transposeBytes16(left + k, sStride, s + k * size + i, line);
          }
#endif
          transposeBytes16(left + 50, sStride, s + 50 * size + i, line);
        }
      }
#endif
      for (; i < length; ++i, from += dStride, left += sStride) {
        for (int k = 0; k < w; ++k) d[k * size + i] = from[k];
        for (int k = 0; k < w + 2; ++k) s[k * size + i] = left[k];
      }
    }
  }
  // Copies the columns' destination bytes back.
  void giveBack() {
    const int y0 = run.area->yFirst - 1, w = xHi - xLo + 1;
    const std::size_t size = static_cast<std::size_t>(dst.stride);
    const std::ptrdiff_t dStride = static_cast<std::ptrdiff_t>(run.dst.stride);
    for (int c = 0; c < N; ++c) {
      std::uint8_t* to = run.dst.plane[First + c] + run.dst.at(xLo, y0);
      const std::uint8_t* d = dst.plane[First + c];
      int i = 0;
#if defined(__SSE2__)
      if (w == kColumnGroup) {
        for (; i + 16 <= length; i += 16, to += 16 * dStride) linesToRows(d + i, size, to, dStride);
      } else if (w == kStrip) {
        const std::ptrdiff_t line = static_cast<std::ptrdiff_t>(size);
        for (; i + 16 <= length; i += 16, to += 16 * dStride) {
#if ORU_SCAN_WIDE
          for (int k = 0; k < kStrip; k += 32) {
            transposeBytes16Pair<false, true>(d + k * size + i, d + (k + 16) * size + i, line,
                                              to + k, nullptr, dStride);
          }
#else
          for (int k = 0; k < kStrip; k += 16) {
            transposeBytes16(d + k * size + i, line, to + k, dStride);
          }
#endif
        }
      }
#endif
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
  explicit HeldCalls(const Run& run)
      : run_(run),
        calls_(reinterpret_cast<HeldCall*>(run.block + run.layout->heldCalls)),
        order_(reinterpret_cast<std::uint16_t*>(run.block + run.layout->heldOrder)),
        bands_(reinterpret_cast<std::uint32_t*>(run.block + run.layout->heldBands)),
        bandCount_(static_cast<int>(heldBands(static_cast<std::size_t>(run.layout->ny)))) {}

  void hold(int runStart, int stepPos, int runEnd, int line) {
    if (count_ == kHeldCalls) flush();
    calls_[count_++] = HeldCall{runStart, stepPos, runEnd, line};
  }
  // Makes the calls held, band after band.
  void flush() {
    if (count_ == 0) return;
    const int yFirst = run_.area->yFirst;
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
      planeKernel<Direction, Channel>(run_.src, run_.dst, run_.strength, c.runStart, c.stepPos,
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
#if defined(__GNUC__)
    constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
    const std::ptrdiff_t dRow = static_cast<std::ptrdiff_t>(run_.dst.stride);
    const std::ptrdiff_t gRow = static_cast<std::ptrdiff_t>(run_.layout->gridW);
    const std::size_t d = run_.dst.at(c.line, c.stepPos);
    for (int k = 0; k < N; ++k) {
      const std::uint8_t* p = run_.dst.plane[First + k] + d;
      const std::uint8_t* g = run_.at(First + k, c.line, c.stepPos);
      for (int r = -1; r <= 1; ++r) {
        __builtin_prefetch(p + r * dRow, 1, 3);
        __builtin_prefetch(g + r * gRow, 0, 3);
      }
    }
#else
    (void)c;
#endif
  }

  const Run& run_;
  HeldCall* calls_;
  std::uint16_t* order_;  // the calls' indices, band after band
  std::uint32_t* bands_;  // bandCount_ + 1 counts
  int bandCount_;
  int count_ = 0;
};

// Directions 3 and 4: lines are columns, from the first to the last for 3 and
// from the last to the first for 4; positions run down each column.
template <int Direction, class Channel>
// Out of line in the AVX2 build: inlined into the scan as a whole there,
// the column passes leave the inliner no room for the kernels in the row
// passes' walks (measured: the SSE2 build does better with them inline).
ORU_NOINLINE_IF_WIDE void columnPass(const Run& run) {
  constexpr int N = Channels<Channel>::kCount, First = Channels<Channel>::kFirst;
  const Area& a = *run.area;
  ColumnLines<N, First> lines(run);
  LineKernel<Direction, Channel, true> lined(lines.src, lines.dst, run.strength);
  int linedColumn = 0;
  bool linedSet = false;
  HeldCalls<Direction, Channel> held(run);
  const int nx = run.layout->nx;
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
    StripView<Direction, N, First> strip(run, x0, x1 - x0 + 1);
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

// The four passes of one channel group, with its source planes in the grid
// and its edge maps made.
template <class Channel>
void passes(const Run& run) {
  rowPass<1, Channel>(run);
  rowPass<2, Channel>(run);
  columnPass<3, Channel>(run);
  columnPass<4, Channel>(run);
}

// The passes over area, reading the source from `source` (width x height
// planes) through a grid in block, smoothing dst. The colour passes change
// no alpha byte, so an alpha plane that is also dst is still the source
// when they are done.
void scanPlanes(const FilterInstance* inst, const Area& area, const Layout& layout,
                std::uint8_t* block, std::uint8_t* const source[4], int width, int height,
                const PlaneSet& dst) {
  const int mode = inst->workMode;
  Run run(&area, &layout, block);
  run.dst = dst;
  run.src.originX = layout.gridX;
  run.src.originY = layout.gridY;
  run.src.stride = static_cast<long long>(layout.gridW);
  // The grid planes are followed by the rest of the block; the last of them
  // lies highest.
  run.src.size = layout.total - layout.grid[(mode & 1) ? 2 : 0];
  run.atLeast = static_cast<std::uint8_t>(differenceLimit(inst->workThreshold) + 1);
  run.strength = strengthWeight(inst->workStrength);
  // A strip narrower than kStrip leaves the measures of the columns past it
  // as they were; those are never used, but they are compared with the rest
  // a row at a time.
  std::memset(block + layout.stripSlopes, 0, (layout.gridH - 2) * kStrip * sizeof(std::int16_t));
  // A grid of one byte throughout in each channel (an opaque frame's alpha,
  // say) gives no edge and no call where an edge needs a difference of 1 or
  // more; a Threshold above 256 makes every position an edge, even there.
  if (mode & 1) {
    const bool uniform = fillGridAndMaps<3, 0>(run, source, width, height);
    for (int c = 0; c < 3; ++c) run.src.plane[c] = block + layout.grid[c];
    run.src.plane[3] = nullptr;
    if (!uniform || run.atLeast == 0) passes<ColourChannel>(run);
  }
  if (mode & 2) {
    run.src.size = layout.total - layout.grid[0];
    const bool uniform = fillGridAndMaps<1, 3>(run, source, width, height);
    for (int c = 0; c < 3; ++c) run.src.plane[c] = nullptr;
    run.src.plane[3] = block + layout.grid[0];
    if (!uniform || run.atLeast == 0) passes<AlphaChannel>(run);
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
  Run run(&a, &layout, block);
  for (int i = 0; i < count; ++i) {
    if (eachAlone) {
      out[i] = alpha ? slopeAt<1, 3>(run, x0 + i, y) : slopeAt<3, 0>(run, x0 + i, y);
    } else if (i % kChunk == 0) {
      const int n = std::min(kChunk, count - i);
      std::int16_t span[kChunk];
      if (alpha) {
        slopeSpan<1, 3>(run, x0 + i, y, n, span);
      } else {
        slopeSpan<3, 0>(run, x0 + i, y, n, span);
      }
      for (int k = 0; k < n; ++k) out[i + k] = span[k];
    }
  }
  heapFree(block);
  return true;
}

}  // namespace

extern const PlaneScanEntries kEntries = {needsBlock, smoothFrame, smoothPreview, kernel, slopes};

}  // namespace ORU_SCAN_NAMESPACE
ORU_SCAN_TARGET_END
