// The module's stores into interleaved RGBA samples (pixels row after row),
// quantised as the oru program writes a file of that type.
#pragma once

#include <cstddef>

#include "doors/file_samples.h"
#include "runner/host/kit.h"

namespace oru_doors {

template <typename T>
class RgbaStores : public oru_kit::Stores {
 public:
  explicit RgbaStores(T* samples) : samples_(samples) {}
  void colour(std::size_t pixel, const float* rgb) override {
    for (int c = 0; c < 3; ++c) samples_[pixel * 4 + c] = FileSamples<T>::out(rgb[c]);
  }
  void alpha(std::size_t pixel, float alpha) override {
    samples_[pixel * 4 + 3] = FileSamples<T>::out(alpha);
  }

 private:
  T* samples_;
};

}  // namespace oru_doors
