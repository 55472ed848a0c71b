// The twelve pixel routines: clamping, conversions, which bytes they move.
#include "filter/engine/pixel_ops.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "runner/host/frame_access.h"

namespace {

// An instance with 6 x 4 working planes holding R = x, G = y, B = x + y,
// A = 10 x + y, and preview planes holding the same code of the preview pixel.
struct Stores {
  FilterInstance inst{};
  std::vector<std::uint8_t> planes[4], preview[4];
  Stores() {
    inst.width = 6;
    inst.height = 4;
    for (int c = 0; c < 4; ++c) {
      planes[c].resize(24);
      preview[c].resize(kPreviewPlaneSize);
      inst.planes[c] = planes[c].data();
      inst.previewPlanes[c] = preview[c].data();
    }
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) fill(planes, y * 6 + x, x, y);
    for (int y = 0; y < kPreviewHeight; ++y)
      for (int x = 0; x < kPreviewWidth; ++x) fill(preview, y * kPreviewWidth + x, x, y);
  }
  static void fill(std::vector<std::uint8_t>* p, int i, int x, int y) {
    p[0][i] = static_cast<std::uint8_t>(x);
    p[1][i] = static_cast<std::uint8_t>(y);
    p[2][i] = static_cast<std::uint8_t>(x + y);
    p[3][i] = static_cast<std::uint8_t>(10 * x + y);
  }
};

void expectPixel(const Pixel& p, int r, int g, int b, int a) {
  EXPECT_EQ(p.r, r);
  EXPECT_EQ(p.g, g);
  EXPECT_EQ(p.b, b);
  EXPECT_EQ(p.a, a);
}

TEST(PixelOps, WorkingPlanesClampAndMoveOnlyTheirBytes) {
  Stores s;
  Pixel p{9, 9, 9, 9};
  readB(&s.inst, -5, 3, &p);
  expectPixel(p, 0, 3, 3, 0);
  readB(&s.inst, 16, 14, &p);
  expectPixel(p, 5, 3, 8, 0);
  readB_a(&s.inst, 2, 1, &p);
  expectPixel(p, 0, 0, 0, 21);
  readB_a(&s.inst, 100, -100, &p);
  expectPixel(p, 0, 0, 0, 50);

  Pixel w{200, 201, 202, 203};
  writeB(nullptr, &s.inst, -1, -1, &w);
  readB(&s.inst, 0, 0, &p);
  expectPixel(p, 200, 201, 202, 0);
  EXPECT_EQ(s.planes[3][0], 0) << "writeB ignores A";
  writeB_a(nullptr, &s.inst, 9, 9, &w);
  EXPECT_EQ(s.planes[3][23], 203);
  EXPECT_EQ(s.planes[0][23], 5) << "writeB_a ignores R, G, B";
}

TEST(PixelOps, PreviewPlanesAreTheFullWindowAtTheViewOffset) {
  Stores s;
  s.inst.viewX = 100;
  s.inst.viewY = 50;
  s.inst.zoom = 3;  // the window is 320 x 240 whatever the zoom
  Pixel p;
  readP(&s.inst, 99, 50, &p);
  expectPixel(p, 0, 0, 0, 0);
  readP(&s.inst, 500, 400, &p);
  expectPixel(p, 319 & 255, 239, (319 + 239) & 255, 0);
  readP_a(&s.inst, 102, 53, &p);
  expectPixel(p, 0, 0, 0, 23);
  Pixel w{1, 2, 3, 4};
  writeP(nullptr, &s.inst, 103, 51, &w);
  writeP_a(nullptr, &s.inst, 103, 51, &w);
  const int i = 1 * kPreviewWidth + 3;
  EXPECT_EQ(s.preview[0][i], 1);
  EXPECT_EQ(s.preview[2][i], 3);
  EXPECT_EQ(s.preview[3][i], 4);
  // Offsets that would overflow an int clamp like any other.
  s.inst.viewX = INT_MIN;
  readP(&s.inst, INT_MAX, 0, &p);
  EXPECT_EQ(p.r, 319 & 255);
}

TEST(PixelOps, EmptyStoresReadZerosAndIgnoreWrites) {
  FilterInstance inst{};
  inst.width = 5;  // height 0, no planes
  Pixel p{9, 9, 9, 9}, w{1, 2, 3, 4};
  readB(&inst, 2, 2, &p);
  expectPixel(p, 0, 0, 0, 0);
  p = Pixel{9, 9, 9, 9};
  readF_a(&inst, 0, 0, &p);
  expectPixel(p, 0, 0, 0, 0);
  writeB(nullptr, &inst, 0, 0, &w);
  writeB_a(nullptr, &inst, 0, 0, &w);
  oru_runner::HostFrame frame(5, 0);
  frame.run([&](const FilterAccess& a) { writeF(&a, &inst, 0, 0, &w); });
  EXPECT_EQ(frame.colourStores(), 0);
}

// An instance reading the host rows of frame through its line tables.
struct FrameStores {
  FilterInstance inst{};
  std::vector<const float*> tables[4];
  explicit FrameStores(oru_runner::HostFrame& frame) {
    inst.width = frame.width();
    inst.height = frame.height();
    for (int c = 0; c < 4; ++c) {
      for (int y = 0; y < frame.height(); ++y)
        tables[c].push_back(frame.input(c).data() + static_cast<std::size_t>(y) * frame.width());
      inst.lineTable[c] = tables[c].data();
    }
  }
};

TEST(PixelOps, HostFrameReadsConvertAndClamp) {
  oru_runner::HostFrame frame(3, 2);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  frame.in(0, 1, 1) = 0.5f;
  frame.in(1, 1, 1) = 2.0f;
  frame.in(2, 1, 1) = -1.0f;
  frame.in(3, 1, 1) = 0.999f;
  frame.in(0, 2, 0) = nan;
  frame.in(1, 2, 0) = inf;
  frame.in(2, 2, 0) = 3e9f;
  frame.in(3, 2, 0) = -inf;
  FrameStores s(frame);
  Pixel p{9, 9, 9, 9};
  readF(&s.inst, 1, 1, &p);
  expectPixel(p, 127, 255, 0, 0);
  readF_a(&s.inst, 1, 1, &p);
  expectPixel(p, 0, 0, 0, 254);
  readF(&s.inst, 7, -3, &p);  // clamps to (2, 0)
  expectPixel(p, 0, 255, 255, 0);
  readF_a(&s.inst, 2, 0, &p);
  expectPixel(p, 0, 0, 0, 0);
  // A row the host did not give reads as zeros.
  s.tables[1][1] = nullptr;
  readF(&s.inst, 1, 1, &p);
  expectPixel(p, 127, 0, 0, 0);
}

TEST(PixelOps, HostFrameWritesConvertAndClampToTheInstance) {
  oru_runner::HostFrame frame(4, 3);
  FilterInstance inst{};
  inst.width = 2;  // the instance's size bounds the writes, not the frame's
  inst.height = 2;
  Pixel w{255, 0, 127, 51};
  frame.run([&](const FilterAccess& a) {
    writeF(&a, &inst, 1, 1, &w);
    writeF_a(&a, &inst, 1, 1, &w);
    writeF(&a, &inst, 3, 2, &w);
    writeF_a(&a, &inst, -4, 2, &w);
  });
  EXPECT_EQ(frame.out(0, 1, 1), 1.0f);
  EXPECT_EQ(frame.out(1, 1, 1), 0.0f);
  EXPECT_EQ(frame.out(2, 1, 1), static_cast<float>(127 / 255.0));
  EXPECT_EQ(frame.out(3, 1, 1), static_cast<float>(51 / 255.0));
  EXPECT_EQ(frame.out(3, 0, 1), static_cast<float>(51 / 255.0));
  EXPECT_EQ(frame.out(0, 3, 2), 0.0f);
  EXPECT_EQ(frame.colourStores(), 2);
  EXPECT_EQ(frame.alphaStores(), 2);
  // No access (a preview run): nothing to store into.
  writeF(nullptr, &inst, 0, 0, &w);
  writeF_a(nullptr, &inst, 0, 0, &w);
}

TEST(PixelOps, TheTwoRoutineSets) {
  PixelOps f = frameRunOps(), p = previewRunOps();
  EXPECT_EQ(f.getSrc, readF);
  EXPECT_EQ(f.getDst, readB);
  EXPECT_EQ(f.putDst, writeB);
  EXPECT_EQ(f.getSrcA, readF_a);
  EXPECT_EQ(f.getDstA, readB_a);
  EXPECT_EQ(f.putDstA, writeB_a);
  EXPECT_EQ(p.getSrc, readB);
  EXPECT_EQ(p.getDst, readP);
  EXPECT_EQ(p.putDst, writeP);
  EXPECT_EQ(p.getSrcA, readB_a);
  EXPECT_EQ(p.getDstA, readP_a);
  EXPECT_EQ(p.putDstA, writeP_a);
}

TEST(PixelOps, IndexesBeyondTheIntRange) {
  // 70000 x 40000 = 2.8e9 pixels: y * width overflows an int. The plane is
  // reserved address space; only the touched pages are ever backed.
  const std::size_t size = std::size_t{70000} * 40000;
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (block == MAP_FAILED) GTEST_SKIP() << "no address space for the plane";
  FilterInstance inst{};
  inst.width = 70000;
  inst.height = 40000;
  inst.planes[3] = static_cast<std::uint8_t*>(block);
  Pixel w{0, 0, 0, 77}, p;
  writeB_a(nullptr, &inst, 80000, 50000, &w);
  EXPECT_EQ(inst.planes[3][size - 1], 77);
  readB_a(&inst, 69999, 39999, &p);
  EXPECT_EQ(p.a, 77);
  munmap(block, size);
}

}  // namespace
