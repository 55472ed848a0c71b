#include "doors/gegl/buffer_frame.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "doors/file_samples.h"

namespace oru_gegl {
namespace {

template <typename T>
using Samples = oru_doors::FileSamples<T>;

template <typename T>
class PixelStores : public oru_kit::Stores {
 public:
  explicit PixelStores(T* pixels) : pixels_(pixels) {}
  void colour(std::size_t pixel, const float* rgb) override {
    for (int c = 0; c < 3; ++c) pixels_[pixel * 4 + c] = Samples<T>::out(rgb[c]);
  }
  void alpha(std::size_t pixel, float alpha) override {
    pixels_[pixel * 4 + 3] = Samples<T>::out(alpha);
  }

 private:
  T* pixels_;
};

template <typename T>
void smoothAs(oru_kit::Filter& filter, GeglBuffer* input, GeglBuffer* output,
              const GeglRectangle& box, const Babl* format) {
  const std::size_t pixels = static_cast<std::size_t>(box.width) * box.height;
  std::vector<T> samples(pixels * 4);
  gegl_buffer_get(input, &box, 1.0, format, samples.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  std::array<std::vector<float>, 4> planes;
  for (auto& plane : planes) plane.resize(pixels);
  for (std::size_t i = 0; i < pixels; ++i) {
    for (int c = 0; c < 4; ++c) planes[c][i] = Samples<T>::in(samples[i * 4 + c]);
  }
  // What the module leaves unstored stays as it came in.
  PixelStores<T> stores(samples.data());
  filter.process(box.width, box.height, std::move(planes), stores);
  gegl_buffer_set(output, &box, 0, format, samples.data(), GEGL_AUTO_ROWSTRIDE);
}

bool perceptual(const Babl* format) {
  const std::string model = babl_get_name(babl_format_get_model(format));
  return model.find('\'') != std::string::npos || model.find('~') != std::string::npos;
}

}  // namespace

const Babl* workingFormat(const Babl* source) {
  const bool eightBit = source && babl_format_get_type(source, 0) == babl_type("u8");
  const bool linear = source && !perceptual(source);
  const std::string name = std::string(linear ? "RGBA" : "R'G'B'A") + (eightBit ? " u8" : " float");
  return babl_format_with_space(name.c_str(), source);
}

void smoothBuffer(oru_kit::Filter& filter, GeglBuffer* input, GeglBuffer* output,
                  const GeglRectangle& box, const Babl* format) {
  if (babl_format_get_type(format, 0) == babl_type("u8")) {
    smoothAs<std::uint8_t>(filter, input, output, box, format);
  } else {
    smoothAs<float>(filter, input, output, box, format);
  }
}

}  // namespace oru_gegl
