#include "doors/gegl/buffer_frame.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "doors/frame_planes.h"
#include "doors/rgba_stores.h"

namespace oru_gegl {
namespace {

// Interleaved samples into planes, a plane a task on GEGL's threads (a
// failure there is thrown again here).
template <typename T>
oru_doors::Planes planesOf(const std::vector<T>& samples, std::size_t pixels) {
  oru_doors::Planes planes;
  std::mutex guard;
  std::exception_ptr failure;
  gegl_parallel_distribute_range(planes.size(), 0.0, [&](gsize first, gsize count) {
    try {
      for (gsize c = first; c < first + count; ++c) {
        planes[c] = oru_doors::planeOf(samples.data(), pixels, c);
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(guard);
      failure = std::current_exception();
    }
  });
  if (failure) std::rethrow_exception(failure);
  return planes;
}

// The box of input, read once as interleaved samples that then take the
// results (what the module does not store stays as it came).
template <typename T>
void smoothAs(oru_kit::Filter& filter, GeglBuffer* input, GeglBuffer* output,
              const GeglRectangle& box, const Babl* format) {
  const std::size_t pixels = static_cast<std::size_t>(box.width) * box.height;
  std::vector<T> samples(pixels * 4);
  gegl_buffer_get(input, &box, 1.0, format, samples.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  oru_doors::Planes planes = planesOf(samples, pixels);
  oru_doors::RgbaStores<T> stores(samples.data());
  filter.process(box.width, box.height, std::move(planes), stores);
  gegl_buffer_set(output, &box, 0, format, samples.data(), GEGL_AUTO_ROWSTRIDE);
}

}  // namespace

const Babl* workingFormat(const Babl* source) {
  if (!source) return babl_format("R'G'B'A float");
  const int flags = babl_get_model_flags(babl_format_get_model(source));
  const bool associated = flags & BABL_MODEL_FLAG_ASSOCIATED;
  std::string name = flags & BABL_MODEL_FLAG_LINEAR       ? (associated ? "RaGaBaA" : "RGBA")
                     : flags & BABL_MODEL_FLAG_PERCEPTUAL ? (associated ? "R~aG~aB~aA" : "R~G~B~A")
                                                          : (associated ? "R'aG'aB'aA" : "R'G'B'A");
  name += babl_format_get_type(source, 0) == babl_type("u8") ? " u8" : " float";
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
