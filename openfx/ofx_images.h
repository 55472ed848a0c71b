// A host's OpenFX images as the module takes them and back: four float
// planes R, G, B, A with the picture's top row first, as the oru command line
// hands a file over, and the module's stores quantised as `oru filter`
// writes a file of the same sample type.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace oru_ofx {

enum class Depth { kByte, kShort, kFloat };

// An image as the host lays it out: bounds x1 <= x < x2, y1 <= y < y2 with y
// growing upward; row y at data + (y - y1) * rowBytes (rowBytes may exceed a
// row or be negative).
struct ImageView {
  void* data = nullptr;
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  long rowBytes = 0;
  Depth depth = Depth::kFloat;
  int channels = 4;  // 3 RGB, 4 RGBA
  bool premultiplied = false;
  int width() const { return x2 - x1; }
  int height() const { return y2 - y1; }
};

using Planes = std::array<std::vector<float>, 4>;

// The whole of source into planes, the highest y first. A premultiplied
// source is handed over unpremultiplied (colour over alpha where alpha is
// above 0, as it is where alpha is 0). An RGB source has alpha 1.
Planes readPlanes(const ImageView& source);

// The module's results for source's pixels into output, within the window
// (x1, y1, x2, y2) and output's bounds; window pixels outside the source
// become 0. A premultiplied output gets colour times the resulting alpha.
void writePlanes(const Planes& results, const ImageView& source, const ImageView& output,
                 const int window[4]);

}  // namespace oru_ofx
