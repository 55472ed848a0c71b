// The float planes a door hands the host kit for one frame.
#pragma once

#include <sys/mman.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "doors/file_samples.h"

namespace oru_doors {

using Planes = std::array<std::vector<float>, 4>;

// A plane of pixels samples. A 1920 x 1080 frame's planes are 33 MB of fresh
// memory whose first touch costs a page fault every 4 KB (some 20 ms where
// faults are dear); where the kernel keeps huge pages for regions that ask,
// the plane asks before it is touched.
inline std::vector<float> makePlane(std::size_t pixels) {
  std::vector<float> plane;
  plane.reserve(pixels);
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const auto begin = (reinterpret_cast<std::uintptr_t>(plane.data()) + kHuge - 1) & ~(kHuge - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(plane.data() + pixels) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  plane.resize(pixels);
  return plane;
}

// One channel of interleaved RGBA samples as a plane, the samples read as
// the oru program reads a file of their type.
template <typename T>
std::vector<float> planeOf(const T* rgba, std::size_t pixels, std::size_t channel) {
  std::vector<float> plane = makePlane(pixels);
  for (std::size_t i = 0; i < pixels; ++i) plane[i] = FileSamples<T>::in(rgba[i * 4 + channel]);
  return plane;
}

}  // namespace oru_doors
