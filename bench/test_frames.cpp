#include "bench/test_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace oru_bench {

namespace {

// A fixed linear congruential sequence: the frames never depend on the
// library's random engines.
struct Sequence {
  std::uint32_t state = 12345;
  std::uint32_t next() { return state = state * 1664525u + 1013904223u; }
  double unit() { return (next() >> 8) / 16777216.0; }
  int upTo(int n) { return static_cast<int>(unit() * n); }
};

struct Painter {
  oru_runner::HostFrame& f;
  void put(int x, int y, const float rgb[3], float alpha) {
    if (x < 0 || y < 0 || x >= f.width() || y >= f.height()) return;
    for (int c = 0; c < 3; ++c) f.in(c, x, y) = rgb[c];
    f.in(3, x, y) = alpha;
  }
};

void colourOf(Sequence& seq, float rgb[3]) {
  for (int c = 0; c < 3; ++c) rgb[c] = static_cast<float>(seq.unit());
}

}  // namespace

void paintRenderedFrame(oru_runner::HostFrame& frame) {
  const int w = frame.width(), h = frame.height();
  const double scale = h / 1080.0;
  Painter p{frame};
  Sequence seq;

  // Background: a soft gradient, no alpha.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float rgb[3] = {static_cast<float>(x) / w, static_cast<float>(y) / h,
                            0.5f + 0.4f * static_cast<float>(std::sin(x * 0.002 + y * 0.003))};
      p.put(x, y, rgb, 0.0f);
    }

  // Hard-edged discs and rotated boxes, sampled once per pixel (no coverage).
  for (int i = 0; i < 40; ++i) {
    float rgb[3];
    colourOf(seq, rgb);
    const double cx = seq.unit() * w, cy = seq.unit() * h;
    const double r = (40 + seq.unit() * 160) * scale;
    const double angle = seq.unit() * 3.14159, ca = std::cos(angle), sa = std::sin(angle);
    const bool disc = i % 2 == 0;
    for (int y = std::max(0, int(cy - r)); y < std::min(h, int(cy + r) + 1); ++y)
      for (int x = std::max(0, int(cx - r)); x < std::min(w, int(cx + r) + 1); ++x) {
        const double dx = x - cx, dy = y - cy;
        const double u = dx * ca + dy * sa, v = -dx * sa + dy * ca;
        if (disc ? dx * dx + dy * dy <= r * r : std::abs(u) <= r * 0.7 && std::abs(v) <= r * 0.4)
          p.put(x, y, rgb, 1.0f);
      }
  }

  // Thin lines at every angle, one pixel wide.
  for (int i = 0; i < 60; ++i) {
    float rgb[3];
    colourOf(seq, rgb);
    int x0 = seq.upTo(w), y0 = seq.upTo(h), x1 = seq.upTo(w), y1 = seq.upTo(h);
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    for (int err = dx + dy;;) {
      p.put(x0, y0, rgb, 1.0f);
      if (x0 == x1 && y0 == y1) break;
      const int e2 = 2 * err;
      if (e2 >= dy) err += dy, x0 += sx;
      if (e2 <= dx) err += dx, y0 += sy;
    }
  }

  // Text: blocks of lines of 5 x 7 glyphs, each glyph dot a square of 2 pixels.
  const int dot = std::max(1, static_cast<int>(2 * scale));
  for (int block = 0; block < 12; ++block) {
    float rgb[3];
    colourOf(seq, rgb);
    const int bx = seq.upTo(w), by = seq.upTo(h);
    for (int line = 0; line < 6; ++line)
      for (int ch = 0; ch < 30; ++ch) {
        const std::uint32_t glyph = seq.next();
        for (int gy = 0; gy < 7; ++gy)
          for (int gx = 0; gx < 5; ++gx) {
            if (!((glyph >> ((gy * 5 + gx) % 32)) & 1)) continue;
            for (int sy = 0; sy < dot; ++sy)
              for (int sx = 0; sx < dot; ++sx)
                p.put(bx + (ch * 6 + gx) * dot + sx, by + (line * 9 + gy) * dot + sy, rgb, 1.0f);
          }
      }
  }
}

}  // namespace oru_bench
