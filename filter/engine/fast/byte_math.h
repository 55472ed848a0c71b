// The scan's blends and differences one byte at a time: what every build's
// lanes compute many at once, and what the scan does with the bytes left
// over. Part of a build of the scan (scan_build.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/scan_build.h"

ORU_SCAN_OPEN

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

inline std::uint8_t absDiff(std::uint8_t a, std::uint8_t b) {
  return a > b ? a - b : b - a;
}

ORU_SCAN_CLOSE
