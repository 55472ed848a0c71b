// The jagged-edge scan: which kernel calls it makes, in which order, for
// which pictures and settings.
#include "filter/engine/reference/scan.h"

#include <gtest/gtest.h>

#include <climits>

#include "filter/engine/engine.h"
#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/slope.h"
#include "tests/engine_support.h"

namespace {

using oru_test::EngineRig;
using oru_test::Image;
using oru_test::KernelCall;

constexpr Pixel kBlack{0, 0, 0, 0};
constexpr Pixel kWhite{255, 255, 255, 0};

Image staircaseImage(Pixel on = kBlack, Pixel off = kWhite) {
  Image img(20, 10);
  img.paint(oru_test::staircase, on, off);
  return img;
}

std::vector<KernelCall> colourList(bool alpha = false) {
  return {{1, alpha, 16, 18, 18, 2}, {1, alpha, 12, 15, 18, 3}, {1, alpha, 8, 11, 15, 4},
          {1, alpha, 4, 7, 11, 5},   {1, alpha, 1, 3, 7, 6},    {2, alpha, 3, 1, 1, 6},
          {3, alpha, 6, 6, 6, 3},    {3, alpha, 5, 5, 5, 7},    {3, alpha, 4, 4, 4, 11},
          {3, alpha, 3, 3, 3, 15}};
}

std::vector<KernelCall> scan(const Image& src, int mode, int threshold = 224) {
  EngineRig rig(src, src);
  rig.instance()->workMode = mode;
  rig.instance()->workThreshold = threshold;
  EXPECT_EQ(smooth(nullptr, rig.instance(), 1), 0);
  return rig.calls();
}

TEST(Scan, StaircaseColourCalls) {
  EXPECT_EQ(scan(staircaseImage(), 1), colourList());
}

TEST(Scan, KernelWritesDoNotChangeTheCalls) {
  // The destination is the source's copy being smoothed; detection reads
  // only the source, so the list is the same whatever the kernels write.
  Image src = staircaseImage();
  EngineRig rig(src, src);
  smooth(nullptr, rig.instance(), 1);
  EXPECT_EQ(rig.calls(), colourList());
  EXPECT_GT(rig.dstWrites(), 0);
}

TEST(Scan, StaircaseAsPreviewAreaRunsOnOverTheRepeatedBorder) {
  // Scanned as the 80 x 60 window of zoom 2, both direction-1 runs that met
  // the frame's last column run on to the window's last position 78.
  Image src = staircaseImage();
  EngineRig rig(src, src);
  FilterInstance* inst = rig.instance();
  inst->zoom = 2;
  smooth(nullptr, inst, 0);
  std::vector<KernelCall> expected = colourList();
  expected[0] = {1, false, 16, 78, 78, 2};
  expected[1] = {1, false, 12, 15, 78, 3};
  EXPECT_EQ(rig.calls(), expected);
}

TEST(Scan, PreviewRoutinesScanTheWindowOfTheWorkingPlanes) {
  // The same through the real preview routines: source readB, destination
  // the preview planes.
  Image src = staircaseImage();
  FilterInstance inst{};
  inst.width = 20;
  inst.height = 10;
  std::vector<std::uint8_t> preview[4];
  for (int c = 0; c < 4; ++c) {
    inst.planes[c] = src.c[c].data();
    preview[c].assign(kPreviewPlaneSize, 7);
    inst.previewPlanes[c] = preview[c].data();
  }
  inst.pixelOps = previewRunOps();
  inst.workMode = 1;
  inst.workThreshold = 224;
  inst.workStrength = 100;
  inst.zoom = 2;
  EngineRig tracer(Image(1, 1), Image(1, 1));  // only for the call trace
  smooth(nullptr, &inst, 0);
  EXPECT_EQ(tracer.calls().size(), 10u);
  EXPECT_EQ(tracer.calls()[0], (KernelCall{1, false, 16, 78, 78, 2}));
  // Writes landed in the preview planes only; the source is untouched.
  Image again = staircaseImage();
  EXPECT_EQ(src.c[0], again.c[0]);
  EXPECT_NE(preview[0][3 * kPreviewWidth + 13], 7);
}

TEST(Scan, AlphaOnlyAndBothChannels) {
  // Flat colour, the staircase in alpha: the same ten calls from the alpha kernels.
  Image alphaStairs = staircaseImage(Pixel{9, 9, 9, 0}, Pixel{9, 9, 9, 255});
  EXPECT_EQ(scan(alphaStairs, 2), colourList(true));
  EXPECT_TRUE(scan(alphaStairs, 1).empty());

  Image both = staircaseImage(Pixel{0, 0, 0, 0}, Pixel{255, 255, 255, 255});
  std::vector<KernelCall> expected = colourList(false);
  for (const auto& c : colourList(true)) expected.push_back(c);
  EXPECT_EQ(scan(both, 3), expected);
  EXPECT_EQ(scan(both, 1), colourList(false));
  EXPECT_EQ(scan(both, 2), colourList(true));
  EXPECT_TRUE(scan(both, 0).empty());
  EXPECT_TRUE(scan(both, 4).empty());
  EXPECT_EQ(scan(both, INT_MIN + 3), expected) << "only bits 0 and 1 count";
}

TEST(Scan, MirroredStaircasesAreFoundByTheMirroredDirection) {
  // Mirror about the columns: direction 2 takes direction 1's steps.
  Image mirrored(20, 10);
  mirrored.paint([](int x, int y) { return oru_test::staircase(19 - x, y); }, kBlack, kWhite);
  std::vector<KernelCall> calls = scan(mirrored, 1);
  std::vector<KernelCall> dir2;
  for (const auto& c : calls)
    if (c.direction == 2) dir2.push_back(c);
  std::vector<KernelCall> expected;
  for (const auto& c : colourList())
    if (c.direction == 1)
      expected.push_back({2, false, 19 - c.runStart, 19 - c.stepPos, 19 - c.runEnd, c.line});
  EXPECT_EQ(dir2, expected);

  // Transposed: the column boundary moves toward lower x as y grows, found by
  // direction 3 with the rows and columns of direction 1 exchanged.
  Image transposed(10, 20);
  transposed.paint([](int x, int y) { return oru_test::staircase(y, x); }, kBlack, kWhite);
  calls = scan(transposed, 1);
  std::vector<KernelCall> dir3, expected3;
  for (const auto& c : calls)
    if (c.direction == 3) dir3.push_back(c);
  for (const auto& c : colourList())
    if (c.direction == 1) expected3.push_back({3, false, c.runStart, c.stepPos, c.runEnd, c.line});
  EXPECT_EQ(dir3, expected3);

  // Transposed and mirrored about the columns: direction 4.
  Image t2(10, 20);
  t2.paint([](int x, int y) { return oru_test::staircase(y, 9 - x); }, kBlack, kWhite);
  calls = scan(t2, 1);
  std::vector<KernelCall> dir4, expected4;
  for (const auto& c : calls)
    if (c.direction == 4) dir4.push_back(c);
  for (const auto& c : colourList())
    if (c.direction == 1)
      expected4.push_back({4, false, c.runStart, c.stepPos, c.runEnd, 9 - c.line});
  EXPECT_EQ(dir4, expected4);
}

TEST(Scan, AreasTooSmallGiveNoCalls) {
  Image noisy(2, 9);
  noisy.paint([](int x, int y) { return (x + y) % 2; }, kBlack, kWhite);
  EXPECT_TRUE(scan(noisy, 3).empty());
  Image wide(9, 2);
  wide.paint([](int x, int y) { return (x + y) % 2; }, kBlack, kWhite);
  EXPECT_TRUE(scan(wide, 3).empty());
  EXPECT_TRUE(scan(Image(0, 0), 3).empty());
}

TEST(Scan, LimitIsExclusiveAndThresholdsAtTheEnds) {
  // Row 2 and beyond differ from the rows above by d in R only: a straight
  // edge, closed once per row-2 line at the last position.
  auto edge = [](int d) {
    Image img(6, 5, Pixel{100, 50, 50, 0});
    for (int y = 2; y < 5; ++y)
      for (int x = 0; x < 6; ++x)
        img.set(x, y, Pixel{static_cast<std::uint8_t>(100 + d), 50, 50, 0});
    return img;
  };
  const KernelCall straight{1, false, 1, 4, 4, 1};
  EXPECT_TRUE(scan(edge(32), 1).empty()) << "a difference equal to the limit is alike";
  std::vector<KernelCall> calls = scan(edge(33), 1);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], straight);
  EXPECT_TRUE(scan(edge(155), 1, 0).empty()) << "threshold 0 finds nothing";
  EXPECT_TRUE(scan(edge(1), 1, 255).empty());
  EXPECT_EQ(scan(edge(2), 1, 255)[0], straight) << "threshold 255: 2 or more is an edge";
}

TEST(Scan, ThresholdOutsideItsRangeNeedsNoRangeCheck) {
  // Above 256 every pair differs; below 0 none does; no int overflows.
  Image flat(6, 6, Pixel{10, 10, 10, 0});
  EXPECT_FALSE(scan(flat, 1, 257).empty());
  EXPECT_EQ(scan(flat, 1, INT_MAX), scan(flat, 1, 257));
  EXPECT_TRUE(scan(staircaseImage(), 1, -1).empty());
  EXPECT_TRUE(scan(staircaseImage(), 1, INT_MIN).empty());
  EXPECT_EQ(differenceLimit(INT_MIN), 256);
  EXPECT_EQ(differenceLimit(INT_MAX), -1);
  EXPECT_EQ(differenceLimit(224), 32);
  EXPECT_EQ(differenceLimit(0), 256);
  EXPECT_EQ(differenceLimit(255), 1);
}

TEST(Scan, RunWithoutStepIsDroppedAndResumeFindsASecondStep) {
  // A bump in row 2 from x = 1 to 3 that ends straight (the pixels after it
  // are alike their across pixel again): no step, no call in direction 1.
  Image bump(12, 6, kWhite);
  for (int x = 0; x < 12; ++x)
    for (int y = 3; y < 6; ++y) bump.set(x, y, kBlack);
  for (int x = 4; x < 12; ++x) bump.set(x, 3, kWhite);
  for (const auto& c : scan(bump, 1)) {
    if (c.direction != 1) continue;
    EXPECT_NE(c.line, 2) << c;
  }

  // Two steps on one edge: after the first call the scan resumes after its
  // step and finds the second step within the same line.
  Image two(24, 8);
  two.paint([](int x, int y) { return y >= (x < 8 ? 5 : x < 16 ? 4 : 3); }, kBlack, kWhite);
  std::vector<KernelCall> row3, row4;
  for (const auto& c : scan(two, 1)) {
    if (c.direction == 1 && c.line == 4) row4.push_back(c);
    if (c.direction == 1 && c.line == 3) row3.push_back(c);
  }
  ASSERT_EQ(row4.size(), 1u);
  EXPECT_EQ(row4[0], (KernelCall{1, false, 1, 7, 15, 4}));
  ASSERT_EQ(row3.size(), 1u);
  EXPECT_EQ(row3[0], (KernelCall{1, false, 8, 15, 22, 3}));
}

TEST(Scan, OutermostLinesAreNeverPositionsOrLines) {
  Image noisy(9, 7);
  noisy.paint([](int x, int y) { return (x * 7 + y * 3) % 5 < 2; }, kBlack, kWhite);
  for (const auto& c : scan(noisy, 1)) {
    const int lineLast = c.direction <= 2 ? 5 : 7, posLast = c.direction <= 2 ? 7 : 5;
    EXPECT_GE(c.line, 1) << c;
    EXPECT_LE(c.line, lineLast) << c;
    for (int p : {c.runStart, c.stepPos, c.runEnd}) {
      EXPECT_GE(p, 1) << c;
      EXPECT_LE(p, posLast) << c;
    }
    if (c.direction == 2) {
      EXPECT_GE(c.runStart, c.stepPos);
      EXPECT_GE(c.stepPos, c.runEnd);
    } else {
      EXPECT_LE(c.runStart, c.stepPos);
      EXPECT_LE(c.stepPos, c.runEnd);
    }
  }
}

TEST(Scan, AccessIsHandedOnToEveryWrite) {
  Image src = staircaseImage();
  EngineRig rig(src, src);
  const FilterAccess* marker = reinterpret_cast<const FilterAccess*>(&rig);
  smooth(marker, rig.instance(), 1);
  ASSERT_FALSE(rig.writeAccesses().empty());
  for (const FilterAccess* a : rig.writeAccesses()) EXPECT_EQ(a, marker);
}

TEST(Scan, AbsurdPreviewPlacementsStayDefined) {
  Image src = staircaseImage();
  EngineRig rig(src, src);
  FilterInstance* inst = rig.instance();
  for (int zoom : {-5, 9, 31, 1000, INT_MIN}) {
    inst->zoom = zoom;
    inst->viewX = INT_MAX - 100;
    inst->viewY = INT_MIN;
    smooth(nullptr, inst, 0);
  }
  inst->zoom = 9;  // 320 >> 9 = 0 columns
  inst->viewX = inst->viewY = 0;
  size_t before = rig.calls().size();
  smooth(nullptr, inst, 0);
  EXPECT_EQ(rig.calls().size(), before);
}

}  // namespace

namespace {

// The scan as its rules tell it, with every read made and the slope measure
// taken at every position of an open run: the fast scan must make exactly
// the same kernel calls.
std::vector<KernelCall> literalScan(FilterInstance* inst, int limit, bool alpha) {
  struct Dir {
    bool row;
    int step, across, lineStep;
    bool negative;
  };
  const Dir dirs[4] = {{true, 1, 1, 1, true},
                       {true, -1, 1, 1, false},
                       {false, 1, 1, 1, true},
                       {false, 1, -1, -1, false}};
  PixelReadFunc get = alpha ? inst->pixelOps.getSrcA : inst->pixelOps.getSrc;
  auto differ = [&](const Pixel& p, const Pixel& q, int l) {
    return alpha ? cmpdata_a(&p, &q, l) : cmpdata(&p, &q, l);
  };
  std::vector<KernelCall> calls;
  const int xF = 1, xL = inst->width - 2, yF = 1, yL = inst->height - 2;
  for (int di = 0; di < 4; ++di) {
    const Dir& d = dirs[di];
    const int lo = d.row ? yF : xF, hi = d.row ? yL : xL;
    const int pLo = d.row ? xF : yF, pHi = d.row ? xL : yL;
    const int first = d.step > 0 ? pLo : pHi, last = d.step > 0 ? pHi : pLo;
    for (int line = d.lineStep > 0 ? lo : hi; line >= lo && line <= hi; line += d.lineStep) {
      auto at = [&](int s, int side, Pixel* p) {
        d.row ? get(inst, s, line + side, p) : get(inst, line + side, s, p);
      };
      auto slope = [&](int s) {
        int x = d.row ? s : line, y = d.row ? line : s;
        return alpha ? katamuki_a(inst, x, y) : katamuki(inst, x, y);
      };
      int state = 0, runStart = 0, stepPos = 0, prevSlope = 0;
      for (int s = first; s >= pLo && s <= pHi; s += d.step) {
        Pixel cur, across, next, diag;
        at(s, 0, &cur);
        at(s, d.across, &across);
        at(s + d.step, 0, &next);
        at(s + d.step, -d.across, &diag);
        const int e = differ(cur, across, limit);
        if (state == 0 && e) state = 1, runStart = s, prevSlope = 0;
        if (state == 1 && !e) state = 0;
        if (state == 2 && !differ(cur, diag, limit)) {
          state = 0;
          calls.push_back({di + 1, alpha, runStart, stepPos, s, line});
          s = stepPos;
          continue;
        }
        if (state == 1) {
          const int k = slope(s);
          const bool sign = d.negative ? k <= prevSlope && k < 0 : k >= prevSlope && k > 0;
          if (differ(cur, next, limit) && sign) {
            const int kn = slope(s + d.step);
            if ((d.negative ? k <= kn : k >= kn) || !differ(across, next, 95))
              state = 2, stepPos = s;
          }
          prevSlope = k;
          if (s == last) state = 2, stepPos = s;
        }
        if (state == 2 && (!differ(next, diag, limit) || s == last)) {
          state = 0;
          calls.push_back({di + 1, alpha, runStart, stepPos, s, line});
          s = stepPos;
        }
      }
    }
  }
  return calls;
}

TEST(Scan, SameCallsAsTheLiteralScanOnRandomPictures) {
  std::uint32_t seed = 7;
  auto rnd = [&seed](int n) {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int>((seed >> 8) % n);
  };
  for (int round = 0; round < 300; ++round) {
    const int w = 3 + rnd(14), h = 3 + rnd(14);
    Image img(w, h);
    // Few levels, mostly in blobs, so that edges, runs and steps are common.
    const int levels = 2 + rnd(3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int v = rnd(4) == 0 ? rnd(levels) : ((x / (1 + round % 3) + y / (1 + round % 4)) % levels);
        auto b = static_cast<std::uint8_t>(v * 255 / (levels - 1));
        img.set(x, y,
                Pixel{b, static_cast<std::uint8_t>(rnd(2) ? b : 255 - b), b,
                      static_cast<std::uint8_t>(255 - b)});
      }
    const int threshold = round % 5 == 0 ? 255 : 224;
    EngineRig rig(img, img);
    rig.instance()->workMode = 3;
    rig.instance()->workThreshold = threshold;
    smooth(nullptr, rig.instance(), 1);
    std::vector<KernelCall> expected = literalScan(rig.instance(), 256 - threshold, false);
    for (const auto& c : literalScan(rig.instance(), 256 - threshold, true)) expected.push_back(c);
    ASSERT_EQ(rig.calls(), expected) << "round " << round << ", " << w << " x " << h;
  }
}

}  // namespace
