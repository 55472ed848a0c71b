// Where a filter's stores go when the host keeps no float output planes (a
// writer that quantises each sample into the file's type as it comes, or an
// array of the caller's). Pixels are numbered row after row; stores outside
// the frame never arrive.
#pragma once

#include <cstddef>

namespace oru_runner {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void colour(std::size_t pixel, const float* rgb) = 0;
  virtual void alpha(std::size_t pixel, float alpha) = 0;
};

}  // namespace oru_runner
