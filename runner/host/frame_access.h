// A frame as the host hands it to a filter: four float channels R, G, B, A in,
// four float channels out, and the FilterAccess record whose callbacks reach
// them. The record's callbacks are plain C functions without user data, so
// the frame whose call is running is held as "the current frame".
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "runner/host/frame_sink.h"

namespace oru_runner {

// What is wrong when a module made fewer colour or alpha stores than a
// frame has pixels (it could not get its buffers, and says so to nobody);
// empty when it stored every pixel.
std::string unstoredPixels(long colourStores, long alphaStores, long pixels);

class HostFrame {
 public:
  // All samples in and out start at 0.
  HostFrame(int width, int height);
  // A frame over the given input planes (width x height samples each, taken
  // over without a copy) whose stores go to sink, which must outlive the
  // frame. Such a frame has no float output planes.
  HostFrame(int width, int height, std::array<std::vector<float>, 4>&& input, FrameSink& sink);
  ~HostFrame();
  HostFrame(const HostFrame&) = delete;
  HostFrame& operator=(const HostFrame&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }

  // Channel 0 R, 1 G, 2 B, 3 A; row after row.
  std::vector<float>& input(int channel) { return in_[channel]; }
  float& in(int channel, int x, int y) { return in_[channel][index(x, y)]; }
  const std::vector<float>& output(int channel) const { return out_[channel]; }
  float out(int channel, int x, int y) const { return out_[channel][index(x, y)]; }

  // Calls made by the filter so far. Stores outside the frame are counted
  // and otherwise ignored.
  long colourStores() const { return colourStores_; }
  long alphaStores() const { return alphaStores_; }
  long rowFetches() const { return rowFetches_; }

  // The record for a process call; its callbacks reach the current frame.
  const FilterAccess& access() const { return access_; }
  // Runs call(access()) with this frame as the current frame.
  void run(const std::function<void(const FilterAccess&)>& call);

 private:
  std::size_t index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
           static_cast<std::size_t>(x);
  }
  static const float* fetchLine(int lineType, int y);
  static void storeColour(int x, int y, const float* rgb);
  static void storeAlpha(int x, int y, float alpha);

  void setUpAccess(int width, int height);

  int width_, height_;
  std::vector<float> in_[4], out_[4];
  FrameSink* sink_ = nullptr;
  long colourStores_ = 0, alphaStores_ = 0, rowFetches_ = 0;
  FilterAccess access_{};
};

}  // namespace oru_runner
