#include "openfx/ofx_images.h"

#include <algorithm>
#include <cstdint>

#include "doors/file_samples.h"

namespace oru_ofx {

namespace {

template <typename T>
using Samples = oru_doors::FileSamples<T>;

template <typename T>
T* rowOf(const ImageView& image, int y) {
  return reinterpret_cast<T*>(static_cast<char*>(image.data) +
                              static_cast<long>(y - image.y1) * image.rowBytes);
}

template <typename T>
void readAs(const ImageView& source, Planes& planes) {
  const int n = source.channels;
  std::size_t i = 0;
  for (int y = source.y2 - 1; y >= source.y1; --y) {
    const T* pixel = rowOf<T>(source, y);
    for (int x = source.x1; x < source.x2; ++x, ++i, pixel += n) {
      float a = n == 4 ? Samples<T>::in(pixel[3]) : 1.0f;
      float unpremultiply = source.premultiplied && n == 4 && a > 0.0f ? a : 1.0f;
      for (int c = 0; c < 3; ++c) planes[c][i] = Samples<T>::in(pixel[c]) / unpremultiply;
      planes[3][i] = a;
    }
  }
}

template <typename T>
void writeAs(const Planes& results, const ImageView& source, const ImageView& output,
             const int window[4]) {
  const int n = output.channels;
  const int x1 = std::max(window[0], output.x1), x2 = std::min(window[2], output.x2);
  const int y1 = std::max(window[1], output.y1), y2 = std::min(window[3], output.y2);
  for (int y = y1; y < y2; ++y) {
    T* pixel = rowOf<T>(output, y) + static_cast<std::ptrdiff_t>(x1 - output.x1) * n;
    const bool rowInSource = y >= source.y1 && y < source.y2;
    // The planes hold the source's rows from the top one down.
    const std::size_t row = rowInSource ? std::size_t(source.y2 - 1 - y) * source.width() : 0;
    for (int x = x1; x < x2; ++x, pixel += n) {
      if (!rowInSource || x < source.x1 || x >= source.x2) {
        std::fill(pixel, pixel + n, T(0));
        continue;
      }
      const std::size_t i = row + std::size_t(x - source.x1);
      const float a = results[3][i];
      const float premultiply = output.premultiplied && n == 4 ? a : 1.0f;
      for (int c = 0; c < 3; ++c) pixel[c] = Samples<T>::out(results[c][i] * premultiply);
      if (n == 4) pixel[3] = Samples<T>::out(a);
    }
  }
}

}  // namespace

Planes readPlanes(const ImageView& source) {
  Planes planes;
  for (auto& plane : planes) plane.resize(std::size_t(source.width()) * source.height());
  switch (source.depth) {
    case Depth::kByte:
      readAs<std::uint8_t>(source, planes);
      break;
    case Depth::kShort:
      readAs<std::uint16_t>(source, planes);
      break;
    case Depth::kFloat:
      readAs<float>(source, planes);
      break;
  }
  return planes;
}

void writePlanes(const Planes& results, const ImageView& source, const ImageView& output,
                 const int window[4]) {
  switch (output.depth) {
    case Depth::kByte:
      writeAs<std::uint8_t>(results, source, output, window);
      break;
    case Depth::kShort:
      writeAs<std::uint16_t>(results, source, output, window);
      break;
    case Depth::kFloat:
      writeAs<float>(results, source, output, window);
      break;
  }
}

}  // namespace oru_ofx
