// A host's side of one frame, for tests, fuzzers and benchmarks: four input
// planes of float samples handed out row by row through fetchLine, four output
// planes filled by storeColour and storeAlpha, and a record of every call the
// module made. Header only, so that any test program can use it.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

#include "filter/oru.h"

namespace oru_test {

class FrameHost {
 public:
  // Output samples hold this until the module stores one.
  static constexpr float kNotStored = -7.0f;

  FrameHost(int width, int height) : width_(width), height_(height) {
    std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (int c = 0; c < 4; ++c) {
      input_[c].assign(n, 0.0f);
      output_[c].assign(n, kNotStored);
    }
    colourStores_.assign(n, 0);
    alphaStores_.assign(n, 0);
    access_.frameWidth = width;
    access_.frameHeight = height;
    access_.fetchLine = &FrameHost::fetchLine;
    access_.storeColour = &FrameHost::storeColour;
    access_.storeAlpha = &FrameHost::storeAlpha;
  }

  int width() const { return width_; }
  int height() const { return height_; }
  const FilterAccess* access() const { return &access_; }

  // Channel c: 0 R, 1 G, 2 B, 3 A.
  float& in(int c, int x, int y) { return input_[c][index(x, y)]; }
  float out(int c, int x, int y) const { return output_[c][index(x, y)]; }
  int colourStores(int x, int y) const { return colourStores_[index(x, y)]; }
  int alphaStores(int x, int y) const { return alphaStores_[index(x, y)]; }
  long totalStores() const { return storeCalls_; }
  // Calls outside the frame, unknown line types, stores of non-finite values.
  long badCalls() const { return badCalls_; }

  // Hands the frame to OruProcess, as the host does after rendering it.
  void process(FilterInstance* instance) {
    current() = this;
    OruProcess(instance, &access_);
    current() = nullptr;
  }

  // Forgets what the module stored.
  void clearOutput() {
    for (auto& plane : output_) plane.assign(plane.size(), kNotStored);
    colourStores_.assign(colourStores_.size(), 0);
    alphaStores_.assign(alphaStores_.size(), 0);
    storeCalls_ = 0;
    badCalls_ = 0;
  }

 private:
  // The host's frame callbacks carry no handle: the frame being processed is
  // the one whose process() runs.
  static FrameHost*& current() {
    static FrameHost* frame = nullptr;
    return frame;
  }
  std::size_t index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }
  bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }

  static const float* fetchLine(int lineType, int y) {
    FrameHost* self = current();
    int c = lineType - LINE_RED;
    if (!self || c < 0 || c > 3 || y < 0 || y >= self->height_) {
      if (self) ++self->badCalls_;
      return nullptr;
    }
    return self->input_[c].data() + static_cast<std::size_t>(y) * self->width_;
  }
  // The frame a store call is for, counted; null when (x, y) lies outside it.
  static FrameHost* storeTarget(int x, int y) {
    FrameHost* self = current();
    ++self->storeCalls_;
    if (self->inside(x, y)) return self;
    ++self->badCalls_;
    return nullptr;
  }
  void storeSample(int c, std::size_t i, float v) {
    if (!std::isfinite(v)) ++badCalls_;
    output_[c][i] = v;
  }
  static void storeColour(int x, int y, const float* rgb) {
    FrameHost* self = storeTarget(x, y);
    if (!self) return;
    std::size_t i = self->index(x, y);
    for (int c = 0; c < 3; ++c) self->storeSample(c, i, rgb[c]);
    ++self->colourStores_[i];
  }
  static void storeAlpha(int x, int y, float alpha) {
    FrameHost* self = storeTarget(x, y);
    if (!self) return;
    std::size_t i = self->index(x, y);
    self->storeSample(3, i, alpha);
    ++self->alphaStores_[i];
  }

  int width_, height_;
  std::vector<float> input_[4];
  std::vector<float> output_[4];
  std::vector<int> colourStores_, alphaStores_;
  long storeCalls_ = 0;
  long badCalls_ = 0;
  FilterAccess access_{};
};

// The byte a host sample becomes in the working planes: clamped to 0..1,
// times 255, truncated. Not-a-number becomes 0.
inline int sampleToByte(float v) {
  if (!(v >= 0.0f)) return 0;
  if (v > 1.0f) return 255;
  return static_cast<int>(static_cast<double>(v) * 255.0);
}

}  // namespace oru_test
