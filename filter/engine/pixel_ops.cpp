// The twelve pixel routines. Each clamps its coordinates into the store it
// addresses before touching memory, so callers may address neighbours
// outside it. A store of zero width or height holds no pixel: reads give
// zeros and writes do nothing. Indexes are formed in size_t: a frame may have
// more pixels than an int can count.
#include "filter/engine/pixel_ops.h"

#include <cstddef>
#include <cstdint>

#include "filter/sample_convert.h"

namespace {

// Clamps (x, y) into a width x height store: x < 0, y < 0, x >= width,
// y >= height, in this order. False when the store is empty.
inline bool clampInto(int& x, int& y, int width, int height) {
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  if (x >= width) x = width - 1;
  if (y >= height) y = height - 1;
  return (x | y) >= 0;
}

inline std::size_t planeIndex(const FilterInstance* inst, int x, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(inst->width) +
         static_cast<std::size_t>(x);
}

// The preview window is always the full 320 x 240, whatever the zoom.
inline std::size_t previewIndex(const FilterInstance* inst, int x, int y) {
  long long px = static_cast<long long>(x) - inst->viewX;
  long long py = static_cast<long long>(y) - inst->viewY;
  if (px < 0) px = 0;
  if (py < 0) py = 0;
  if (px > kPreviewWidth - 1) px = kPreviewWidth - 1;
  if (py > kPreviewHeight - 1) py = kPreviewHeight - 1;
  return static_cast<std::size_t>(py) * kPreviewWidth + static_cast<std::size_t>(px);
}

// A missing row reads as samples of 0.
inline std::uint8_t frameSample(const FilterInstance* inst, int channel, int x, int y) {
  const float* row = inst->lineTable[channel][y];
  return row ? sampleToByte(row[x]) : 0;
}

}  // namespace

extern "C" {

void readB(FilterInstance* instance, int x, int y, Pixel* out) {
  if (!clampInto(x, y, instance->width, instance->height)) {
    *out = Pixel{0, 0, 0, 0};
    return;
  }
  std::size_t i = planeIndex(instance, x, y);
  *out = Pixel{instance->planes[0][i], instance->planes[1][i], instance->planes[2][i], 0};
}

void readF(FilterInstance* instance, int x, int y, Pixel* out) {
  if (!clampInto(x, y, instance->width, instance->height)) {
    *out = Pixel{0, 0, 0, 0};
    return;
  }
  *out = Pixel{frameSample(instance, 0, x, y), frameSample(instance, 1, x, y),
               frameSample(instance, 2, x, y), 0};
}

void readP(FilterInstance* instance, int x, int y, Pixel* out) {
  std::size_t i = previewIndex(instance, x, y);
  *out = Pixel{instance->previewPlanes[0][i], instance->previewPlanes[1][i],
               instance->previewPlanes[2][i], 0};
}

void readB_a(FilterInstance* instance, int x, int y, Pixel* out) {
  if (!clampInto(x, y, instance->width, instance->height)) {
    *out = Pixel{0, 0, 0, 0};
    return;
  }
  *out = Pixel{0, 0, 0, instance->planes[3][planeIndex(instance, x, y)]};
}

void readF_a(FilterInstance* instance, int x, int y, Pixel* out) {
  if (!clampInto(x, y, instance->width, instance->height)) {
    *out = Pixel{0, 0, 0, 0};
    return;
  }
  *out = Pixel{0, 0, 0, frameSample(instance, 3, x, y)};
}

void readP_a(FilterInstance* instance, int x, int y, Pixel* out) {
  *out = Pixel{0, 0, 0, instance->previewPlanes[3][previewIndex(instance, x, y)]};
}

void writeB(const FilterAccess* /*access*/, FilterInstance* instance, int x, int y,
            const Pixel* in) {
  if (!clampInto(x, y, instance->width, instance->height)) return;
  std::size_t i = planeIndex(instance, x, y);
  instance->planes[0][i] = in->r;
  instance->planes[1][i] = in->g;
  instance->planes[2][i] = in->b;
}

void writeF(const FilterAccess* access, FilterInstance* instance, int x, int y, const Pixel* in) {
  if (!access || !clampInto(x, y, instance->width, instance->height)) return;
  const float rgb[3] = {byteToSample(in->r), byteToSample(in->g), byteToSample(in->b)};
  access->storeColour(x, y, rgb);
}

void writeP(const FilterAccess* /*access*/, FilterInstance* instance, int x, int y,
            const Pixel* in) {
  std::size_t i = previewIndex(instance, x, y);
  instance->previewPlanes[0][i] = in->r;
  instance->previewPlanes[1][i] = in->g;
  instance->previewPlanes[2][i] = in->b;
}

void writeB_a(const FilterAccess* /*access*/, FilterInstance* instance, int x, int y,
              const Pixel* in) {
  if (!clampInto(x, y, instance->width, instance->height)) return;
  instance->planes[3][planeIndex(instance, x, y)] = in->a;
}

void writeF_a(const FilterAccess* access, FilterInstance* instance, int x, int y, const Pixel* in) {
  if (!access || !clampInto(x, y, instance->width, instance->height)) return;
  access->storeAlpha(x, y, byteToSample(in->a));
}

void writeP_a(const FilterAccess* /*access*/, FilterInstance* instance, int x, int y,
              const Pixel* in) {
  instance->previewPlanes[3][previewIndex(instance, x, y)] = in->a;
}

}  // extern "C"

PixelOps frameRunOps() {
  return PixelOps{readF, readB, writeB, readF_a, readB_a, writeB_a};
}

PixelOps previewRunOps() {
  return PixelOps{readB, readP, writeP, readB_a, readP_a, writeP_a};
}
