// Samples as the oru program reads and writes image files, for the doors
// that hand a host's pixels to the kit: 8-bit b as the float nearest b / 255,
// 16-bit as / 65535, floats as they are; back clamped to 0..1, scaled and
// rounded (floats as the module stores them). A door that converts this way
// gives what `oru filter` writes for a file of the same type, byte for byte.
#pragma once

#include <algorithm>
#include <cstdint>

namespace oru_doors {

template <typename T>
struct FileSamples;
template <>
struct FileSamples<std::uint8_t> {
  static float in(std::uint8_t v) { return static_cast<float>(v) / 255.0f; }
  static std::uint8_t out(float v) {
    v = std::min(1.0f, std::max(0.0f, v));  // NaN fails both comparisons and becomes 0
    return static_cast<std::uint8_t>(v * 255.0f + 0.5f);
  }
};
template <>
struct FileSamples<std::uint16_t> {
  static float in(std::uint16_t v) { return static_cast<float>(v) / 65535.0f; }
  static std::uint16_t out(float v) {
    v = std::min(1.0f, std::max(0.0f, v));
    return static_cast<std::uint16_t>(v * 65535.0f + 0.5f);
  }
};
template <>
struct FileSamples<float> {
  static float in(float v) { return v; }
  static float out(float v) { return v; }
};
template <>
struct FileSamples<double> {
  static float in(double v) { return static_cast<float>(v); }
  static double out(float v) { return v; }
};

}  // namespace oru_doors
