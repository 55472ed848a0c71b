#include "rawhost/float_frame.h"

#include <cstddef>
#include <cstdlib>

namespace oru_rawhost {

namespace {
FloatFrameAccess* current = nullptr;
}

FloatFrameAccess::FloatFrameAccess(int width, int height, const float* const input[4],
                                   float* const output[4])
    : width_(width), height_(height) {
  for (int c = 0; c < 4; ++c) {
    input_[c] = input[c];
    output_[c] = output[c];
  }
  zeroRow_ = static_cast<float*>(
      std::calloc(static_cast<std::size_t>(width > 0 ? width : 1), sizeof(float)));
  access_.frameWidth = width;
  access_.frameHeight = height;
  access_.fetchLine = &FloatFrameAccess::fetchLine;
  access_.storeColour = &FloatFrameAccess::storeColour;
  access_.storeAlpha = &FloatFrameAccess::storeAlpha;
  current = this;
}

FloatFrameAccess::~FloatFrameAccess() {
  current = nullptr;
  std::free(zeroRow_);
}

bool FloatFrameAccess::inFrame(int x, int y) const {
  return x >= 0 && y >= 0 && x < width_ && y < height_;
}

const float* FloatFrameAccess::fetchLine(int lineType, int y) {
  FloatFrameAccess* self = current;
  int channel = lineType - LINE_RED;
  if (channel < 0 || channel > 3 || !self->inFrame(0, y)) {
    ++self->strayCalls_;
    return self->zeroRow_;
  }
  return self->input_[channel] + static_cast<std::size_t>(y) * self->width_;
}

void FloatFrameAccess::storeColour(int x, int y, const float* rgb) {
  FloatFrameAccess* self = current;
  if (!self->inFrame(x, y)) {
    ++self->strayCalls_;
    return;
  }
  std::size_t at = static_cast<std::size_t>(y) * self->width_ + x;
  for (int c = 0; c < 3; ++c) self->output_[c][at] = rgb[c];
}

void FloatFrameAccess::storeAlpha(int x, int y, float alpha) {
  FloatFrameAccess* self = current;
  if (!self->inFrame(x, y)) {
    ++self->strayCalls_;
    return;
  }
  self->output_[3][static_cast<std::size_t>(y) * self->width_ + x] = alpha;
}

}  // namespace oru_rawhost
