#include "tests/engine_support.h"

#include <ostream>

#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/kernels.h"

namespace oru_test {

namespace {
EngineRig* rig = nullptr;
int clampTo(int v, int n) {
  return v < 0 ? 0 : v >= n ? n - 1 : v;
}
}  // namespace

Image::Image(int w, int h, Pixel fill) : width(w), height(h) {
  const std::uint8_t v[4] = {fill.r, fill.g, fill.b, fill.a};
  for (int k = 0; k < 4; ++k) c[k].assign(static_cast<std::size_t>(w) * h, v[k]);
}

Pixel Image::at(int x, int y) const {
  std::size_t i = static_cast<std::size_t>(clampTo(y, height)) * width + clampTo(x, width);
  return Pixel{c[0][i], c[1][i], c[2][i], c[3][i]};
}

void Image::set(int x, int y, Pixel p) {
  std::size_t i = static_cast<std::size_t>(clampTo(y, height)) * width + clampTo(x, width);
  c[0][i] = p.r;
  c[1][i] = p.g;
  c[2][i] = p.b;
  c[3][i] = p.a;
}

void Image::paint(const std::function<bool(int, int)>& f, Pixel on, Pixel off) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) set(x, y, f(x, y) ? on : off);
}

std::ostream& operator<<(std::ostream& out, const KernelCall& c) {
  return out << (c.alpha ? "smooth" : "smooth") << c.direction << (c.alpha ? "_a" : "") << "("
             << c.runStart << ", " << c.stepPos << ", " << c.runEnd << ", " << c.line << ")";
}

EngineRig::EngineRig(const Image& source, const Image& destination)
    : source_(source), destination_(destination) {
  rig = this;
  kernelTrace = trace;
  inst_.width = source_.width;
  inst_.height = source_.height;
  for (int k = 0; k < 4; ++k) inst_.planes[k] = source_.c[k].data();
  inst_.pixelOps = PixelOps{getSrc, getDst, putDst, getSrcA, getDstA, putDstA};
  inst_.workStrength = 100;
  inst_.workThreshold = 224;
  inst_.workMode = 1;
}

EngineRig::~EngineRig() {
  kernelTrace = nullptr;
  rig = nullptr;
}

void EngineRig::getSrc(FilterInstance* i, int x, int y, Pixel* out) {
  ++rig->srcReads_;
  readB(i, x, y, out);
}
void EngineRig::getSrcA(FilterInstance* i, int x, int y, Pixel* out) {
  ++rig->srcReads_;
  readB_a(i, x, y, out);
}
void EngineRig::getDst(FilterInstance*, int x, int y, Pixel* out) {
  ++rig->dstReads_;
  Pixel p = rig->destination_.at(x, y);
  *out = Pixel{p.r, p.g, p.b, 0};
}
void EngineRig::getDstA(FilterInstance*, int x, int y, Pixel* out) {
  ++rig->dstReads_;
  *out = Pixel{0, 0, 0, rig->destination_.at(x, y).a};
}
void EngineRig::putDst(const FilterAccess* a, FilterInstance*, int x, int y, const Pixel* in) {
  ++rig->dstWrites_;
  rig->writeAccesses_.push_back(a);
  Pixel p = rig->destination_.at(x, y);
  rig->destination_.set(x, y, Pixel{in->r, in->g, in->b, p.a});
}
void EngineRig::putDstA(const FilterAccess* a, FilterInstance*, int x, int y, const Pixel* in) {
  ++rig->dstWrites_;
  rig->writeAccesses_.push_back(a);
  Pixel p = rig->destination_.at(x, y);
  p.a = in->a;
  rig->destination_.set(x, y, p);
}
void EngineRig::trace(int direction, bool alpha, int runStart, int stepPos, int runEnd, int line) {
  rig->calls_.push_back(KernelCall{direction, alpha, runStart, stepPos, runEnd, line});
}

bool staircase(int x, int y) {
  return y >= 7 - x / 4;
}

}  // namespace oru_test
