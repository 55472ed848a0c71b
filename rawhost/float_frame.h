// The host's side of one process call over a frame held in memory: four
// float planes in (R, G, B, A), four float planes out, reached by the module
// through a FilterAccess record.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace oru_rawhost {

class FloatFrameAccess {
 public:
  // The planes hold width x height samples each, row after row; both sets
  // must outlive this object. Only one FloatFrameAccess may exist at a time:
  // the host's line and store callbacks carry no context of their own.
  FloatFrameAccess(int width, int height, const float* const input[4], float* const output[4]);
  ~FloatFrameAccess();
  FloatFrameAccess(const FloatFrameAccess&) = delete;
  FloatFrameAccess& operator=(const FloatFrameAccess&) = delete;

  const FilterAccess& access() const { return access_; }
  // Calls that named a line type, row or pixel outside the frame. A sound
  // module makes none; they are answered with a row of zeros or ignored.
  std::uint32_t strayCalls() const { return strayCalls_; }

 private:
  static const float* fetchLine(int lineType, int y);
  static void storeColour(int x, int y, const float* rgb);
  static void storeAlpha(int x, int y, float alpha);
  bool inFrame(int x, int y) const;

  int width_, height_;
  const float* input_[4];
  float* output_[4];
  float* zeroRow_;
  std::uint32_t strayCalls_ = 0;
  FilterAccess access_{};
};

}  // namespace oru_rawhost
