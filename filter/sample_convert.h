// Conversions between the host's float samples and the engine's bytes. The
// single-sample ones work on the float's bits with integer arithmetic only,
// and the row conversion uses only steps that never round, so that every
// build (x87 or SSE, any precision mode) gives the same bytes and floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sample_convert {

// b / 255 rounded to the nearest float, as a bit pattern. b * 2^k / 255 is
// never exactly halfway between two floats (255 is odd), so there are no ties.
constexpr std::uint32_t byteToFloatBits(unsigned b) {
  if (b == 0) return 0;
  if (b >= 255) return 0x3f800000u;  // 1.0
  // Exponent e with 2^e <= b / 255 < 2^(e+1), e in -8 .. -1.
  int e = -1;
  while ((static_cast<std::uint64_t>(b) << -e) < 255) --e;
  // 24-bit mantissa q = b * 2^(23 - e) / 255, rounded to nearest.
  std::uint64_t num = static_cast<std::uint64_t>(b) << (23 - e);
  std::uint64_t q = num / 255, r = num % 255;
  if (2 * r > 255) ++q;
  if (q == (1u << 24)) {
    q >>= 1;
    ++e;
  }
  return static_cast<std::uint32_t>(e + 127) << 23 | static_cast<std::uint32_t>(q - (1u << 23));
}

struct ByteToFloatTable {
  std::uint32_t bits[256];
  constexpr ByteToFloatTable() : bits() {
    for (unsigned b = 0; b < 256; ++b) bits[b] = byteToFloatBits(b);
  }
};

inline constexpr ByteToFloatTable kByteToFloat{};

}  // namespace sample_convert

// b / 255.0 rounded to the nearest 32-bit float.
inline float byteToSample(std::uint8_t b) {
  float f;
  std::memcpy(&f, &sample_convert::kByteToFloat.bits[b], sizeof f);
  return f;
}

// A sample clamped to 0.0 .. 1.0, times 255, truncated toward zero; exact.
// Not a number and every negative value (also -0.0) give 0; 1.0 and above,
// +infinity included, give 255.
inline std::uint8_t sampleToByte(float v) {
  std::uint32_t u;
  std::memcpy(&u, &v, sizeof u);
  if (u >= 0x3f800000u) return u <= 0x7f800000u ? 255 : 0;  // >= 1.0 : NaN or negative
  // 0 <= v < 1: v = m * 2^(e - 150). Below 2^-8 the product is under 1.
  std::uint32_t e = u >> 23;
  if (e < 119) return 0;
  std::uint32_t m = (u & 0x7fffffu) | 0x800000u;
  return static_cast<std::uint8_t>((m * 255u) >> (150 - e));  // m * 255 < 2^32
}

// A row of samples to bytes, each as sampleToByte gives it. With SSE2 four
// at a time: clamped to 0 .. 1 in single precision (maxps gives its second
// operand, 0, for a NaN and for -0.0), then times 255 in double precision,
// where the product of a 24-bit mantissa and 255 is exact, and truncated.
// No step rounds, so the rounding mode and the flush-to-zero and
// denormals-are-zero flags (a denormal gives 0 either way) change nothing.
inline void samplesToBytes(const float* in, std::uint8_t* out, std::size_t n) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
  const __m128d scale = _mm_set1_pd(255.0);
  auto four = [&](std::size_t at) {
    const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + at), zero), one);
    const __m128i lo = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(v), scale));
    const __m128i hi = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), scale));
    return _mm_unpacklo_epi64(lo, hi);
  };
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_packs_epi32(four(i), four(i + 4));
    const __m128i b = _mm_packs_epi32(four(i + 8), four(i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < n; ++i) out[i] = sampleToByte(in[i]);
}
