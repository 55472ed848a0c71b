// Any small frame with any settings through OruProcess. Every pixel must be
// stored once, colour and alpha, as finite samples in 0..1; without
// smoothing the output is the quantised input; afterwards the working planes
// hold the unsmoothed frame.
//
// Input: width (0..64), height (0..64), target, strength, threshold (4 bytes
// each, any int), enable (any byte), then two bytes per sample, R G B A of
// each pixel row by row: a kind and a value (see sampleFrom). Samples past the
// end of the input are 0.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filter/heap.h"
#include "filter/oru.h"
#include "tests/frame_host.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int word() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    int w;
    std::memcpy(&w, &v, sizeof w);
    return w;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Mostly exact multiples of 1/255 (the output of an earlier pass), else the
// samples that a renderer should not produce but might.
float sampleFrom(std::uint8_t kind, std::uint8_t value) {
  const float inf = std::numeric_limits<float>::infinity();
  switch (kind % 12) {
    case 8:
      return value & 1 ? -std::numeric_limits<float>::quiet_NaN()
                       : std::numeric_limits<float>::quiet_NaN();
    case 9:
      return value & 1 ? -inf : inf;
    case 10: {  // denormals and values just around 0 and 1
      const float near[] = {FLT_TRUE_MIN,
                            -FLT_TRUE_MIN,
                            FLT_MIN,
                            -0.0f,
                            std::nextafter(1.0f, 2.0f),
                            std::nextafter(1.0f, 0.0f),
                            std::nextafter(0.0f, -1.0f),
                            0.5f};
      return near[value % 8] * (value & 8 ? 1.0f : static_cast<float>(value >> 4) + 1.0f);
    }
    case 11: {  // huge, and just beyond the int range once times 255
      const float huge[] = {FLT_MAX,    -FLT_MAX,      1e10f, -1e10f,
                            8421505.0f, 2147483648.0f, 1e30f, 2.0f};
      return huge[value % 8];
    }
    default:
      return static_cast<float>(value / 255.0);
  }
}

// Working plane bytes that the driver keeps for a sample: clamped, times 255,
// truncated; what is not a number becomes 0.
int expectedByte(float v) {
  return oru_test::sampleToByte(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const int width = in.byte() % 65;
  const int height = in.byte() % 65;

  FilterInstance* inst = OruCreate(nullptr);
  check(inst != nullptr);
  inst->target = in.word();
  inst->strength = in.word();
  inst->threshold = in.word();
  inst->enable = in.byte();

  oru_test::FrameHost frame(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) {
        std::uint8_t kind = in.byte();
        frame.in(c, x, y) = sampleFrom(kind, in.byte());
      }
    }
  }

  frame.process(inst);
  check(frame.badCalls() == 0);
  check(inst->processError == 0);

  const bool smoothed = inst->enable == 1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      check(frame.colourStores(x, y) == 1 && frame.alphaStores(x, y) == 1);
      for (int c = 0; c < 4; ++c) {
        float v = frame.out(c, x, y);
        check(std::isfinite(v) && v >= 0.0f && v <= 1.0f);
        float quantised = static_cast<float>(expectedByte(frame.in(c, x, y)) / 255.0);
        if (!smoothed) check(v == quantised);
      }
    }
  }

  if (width > 0 && height > 0) {
    check(inst->processed == 1 && inst->width == width && inst->height == height);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < 4; ++c) {
          check(inst->planes[c][y * width + x] == expectedByte(frame.in(c, x, y)));
        }
      }
    }
  }

  OruDestroy(inst);
  check(heapHooks.live == 0);
  return 0;
}
