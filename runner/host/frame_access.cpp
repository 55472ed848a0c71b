#include "runner/host/frame_access.h"

#include <utility>

namespace oru_runner {

namespace {
HostFrame* current = nullptr;
}

std::string unstoredPixels(long colourStores, long alphaStores, long pixels) {
  if (colourStores >= pixels && alphaStores >= pixels) return {};
  return "the module did not store the whole frame (" + std::to_string(colourStores) +
         " colour and " + std::to_string(alphaStores) + " alpha stores for " +
         std::to_string(pixels) + " pixels); it may be out of memory";
}

HostFrame::HostFrame(int width, int height)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0) {
  for (int c = 0; c < 4; ++c) {
    in_[c].assign(index(0, height_), 0.0f);
    out_[c].assign(index(0, height_), 0.0f);
  }
  setUpAccess(width, height);
}

HostFrame::HostFrame(int width, int height, std::array<std::vector<float>, 4>&& input,
                     FrameSink& sink)
    : width_(width > 0 ? width : 0), height_(height > 0 ? height : 0), sink_(&sink) {
  for (int c = 0; c < 4; ++c) {
    in_[c] = std::move(input[c]);
    in_[c].resize(index(0, height_), 0.0f);
  }
  setUpAccess(width, height);
}

void HostFrame::setUpAccess(int width, int height) {
  access_.frameWidth = width;
  access_.frameHeight = height;
  access_.fetchLine = fetchLine;
  access_.storeColour = storeColour;
  access_.storeAlpha = storeAlpha;
}

HostFrame::~HostFrame() {
  if (current == this) current = nullptr;
}

void HostFrame::run(const std::function<void(const FilterAccess&)>& call) {
  HostFrame* outer = current;
  current = this;
  call(access_);
  current = outer;
}

const float* HostFrame::fetchLine(int lineType, int y) {
  HostFrame* f = current;
  if (!f) return nullptr;
  ++f->rowFetches_;
  int channel = lineType - LINE_RED;
  if (channel < 0 || channel > 3 || y < 0 || y >= f->height_) return nullptr;
  return f->in_[channel].data() + f->index(0, y);
}

void HostFrame::storeColour(int x, int y, const float* rgb) {
  HostFrame* f = current;
  if (!f) return;
  ++f->colourStores_;
  if (x < 0 || y < 0 || x >= f->width_ || y >= f->height_) return;
  if (f->sink_) return f->sink_->colour(f->index(x, y), rgb);
  for (int c = 0; c < 3; ++c) f->out_[c][f->index(x, y)] = rgb[c];
}

void HostFrame::storeAlpha(int x, int y, float alpha) {
  HostFrame* f = current;
  if (!f) return;
  ++f->alphaStores_;
  if (x < 0 || y < 0 || x >= f->width_ || y >= f->height_) return;
  if (f->sink_) return f->sink_->alpha(f->index(x, y), alpha);
  f->out_[3][f->index(x, y)] = alpha;
}

}  // namespace oru_runner
