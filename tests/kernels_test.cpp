// The colour and alpha kernels: weights, geometry and the two-stage blend.
#include "filter/engine/reference/kernels.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/engine_support.h"

namespace {

using oru_test::EngineRig;
using oru_test::Image;

Pixel grey(int v, int a = 0) {
  auto b = static_cast<std::uint8_t>(v);
  return Pixel{b, b, b, static_cast<std::uint8_t>(a)};
}

// Source: row (or column) line + 1 at `plus`, line - 1 at `minus`; the
// destination's line at `own`. Line 5 of a 12 x 12 picture.
struct LineRig {
  Image src{12, 12, grey(7, 7)}, dst{12, 12, grey(7, 7)};
  LineRig(bool rows, int plus, int minus, int own, bool alpha = false) {
    for (int p = 0; p < 12; ++p) {
      auto at = [&](Image& img, int side, Pixel v) {
        rows ? img.set(p, 5 + side, v) : img.set(5 + side, p, v);
      };
      at(src, +1, alpha ? grey(7, plus) : grey(plus, 7));
      at(src, -1, alpha ? grey(7, minus) : grey(minus, 7));
      at(dst, 0, alpha ? grey(7, own) : grey(own, 7));
    }
  }
};

// The channel byte of the destination along line 5.
std::vector<int> along(const Image& img, bool rows, bool alpha = false) {
  std::vector<int> out;
  for (int p = 0; p < 12; ++p) {
    Pixel px = rows ? img.at(p, 5) : img.at(5, p);
    out.push_back(alpha ? px.a : px.r);
  }
  return out;
}

TEST(Kernels, StrengthWeights) {
  EXPECT_EQ(strengthWeight(100), 256);
  EXPECT_EQ(strengthWeight(75), 192);
  EXPECT_EQ(strengthWeight(50), 128);
  EXPECT_EQ(strengthWeight(33), 84);
  EXPECT_EQ(strengthWeight(10), 25);
  EXPECT_EQ(strengthWeight(1), 2);
  EXPECT_EQ(strengthWeight(0), 0);
  // Outside 0 .. 100 no product overflows; the blend would clamp anyway.
  EXPECT_EQ(strengthWeight(100000000), 256);
  EXPECT_EQ(strengthWeight(INT_MAX), 256);
  EXPECT_EQ(strengthWeight(INT_MIN), 0);
  EXPECT_EQ(strengthWeight(-1), 0);
  EXPECT_EQ(strengthWeight(101), 256) << "258, held to 256";
}

TEST(Kernels, Blend) {
  EXPECT_EQ(blend(200, 100, 256), 200);
  EXPECT_EQ(blend(200, 100, 0), 100);
  EXPECT_EQ(blend(200, 101, 128), 151);
  EXPECT_EQ(blend(200, 100, 1000), 200);
  EXPECT_EQ(blend(200, 100, -5), 100);
  EXPECT_EQ(blend(255, 255, 128), 255);
}

TEST(Kernels, WorkedExampleAtFullAndHalfStrength) {
  for (int strength : {100, 50}) {
    LineRig r(true, 200, 0, 100);
    EngineRig rig(r.src, r.dst);
    rig.instance()->workStrength = strength;
    EXPECT_EQ(smooth1(nullptr, rig.instance(), 0, 4, 8, 5), 0);
    std::vector<int> expected =
        strength == 100
            ? std::vector<int>{100, 100, 116, 133, 100, 66, 83, 100, 100, 100, 100, 100}
            : std::vector<int>{100, 100, 108, 117, 100, 83, 92, 100, 100, 100, 100, 100};
    EXPECT_EQ(along(rig.destination(), true), expected) << strength;
    // G and B alike, A and every other line untouched.
    for (int x = 0; x < 12; ++x) {
      Pixel p = rig.destination().at(x, 5);
      EXPECT_EQ(p.g, p.r);
      EXPECT_EQ(p.b, p.r);
      EXPECT_EQ(p.a, 7);
      EXPECT_EQ(rig.destination().at(x, 4).r, 7);
      EXPECT_EQ(rig.destination().at(x, 6).r, 7);
    }
    // One source and one destination read per half-run pixel, three for the step.
    EXPECT_EQ(rig.srcReads(), 4);
    EXPECT_EQ(rig.dstReads(), 4 + 3);
    EXPECT_EQ(rig.dstWrites(), 5);
  }
}

TEST(Kernels, AlphaWorkedExampleChangesNoColourByte) {
  LineRig r(true, 200, 0, 100, true);
  EngineRig rig(r.src, r.dst);
  smooth1_a(nullptr, rig.instance(), 0, 4, 8, 5);
  EXPECT_EQ(along(rig.destination(), true, true),
            (std::vector<int>{100, 100, 116, 133, 100, 66, 83, 100, 100, 100, 100, 100}));
  EXPECT_EQ(along(rig.destination(), true), std::vector<int>(12, 7));
  LineRig half(true, 200, 0, 100, true);
  EngineRig rig50(half.src, half.dst);
  rig50.instance()->workStrength = 50;
  smooth1_a(nullptr, rig50.instance(), 0, 4, 8, 5);
  EXPECT_EQ(along(rig50.destination(), true, true),
            (std::vector<int>{100, 100, 108, 117, 100, 83, 92, 100, 100, 100, 100, 100}));
}

TEST(Kernels, TheOtherDirectionsMirrorTheGeometry) {
  const std::vector<int> full{100, 100, 116, 133, 100, 66, 83, 100, 100, 100, 100, 100};
  for (bool alpha : {false, true}) {
    // smooth2 runs toward lower x: the mirrored example.
    LineRig r2(true, 200, 0, 100, alpha);
    EngineRig rig2(r2.src, r2.dst);
    (alpha ? smooth2_a : smooth2)(nullptr, rig2.instance(), 8, 4, 0, 5);
    EXPECT_EQ(along(rig2.destination(), true, alpha),
              (std::vector<int>{100, 100, 83, 66, 100, 133, 116, 100, 100, 100, 100, 100}));
    // smooth3 along a column: first half-run toward column line + 1.
    LineRig r3(false, 200, 0, 100, alpha);
    EngineRig rig3(r3.src, r3.dst);
    (alpha ? smooth3_a : smooth3)(nullptr, rig3.instance(), 0, 4, 8, 5);
    EXPECT_EQ(along(rig3.destination(), false, alpha), full);
    // smooth4: first half-run toward column line - 1.
    LineRig r4(false, 0, 200, 100, alpha);
    EngineRig rig4(r4.src, r4.dst);
    (alpha ? smooth4_a : smooth4)(nullptr, rig4.instance(), 0, 4, 8, 5);
    EXPECT_EQ(along(rig4.destination(), false, alpha), full);
  }
}

TEST(Kernels, ColumnKernelsRoundTheRunEndDown) {
  // stepPos + runEnd odd: smooth1's second half-run is 3 long, smooth3's 2.
  LineRig r1(true, 200, 0, 100), r3(false, 200, 0, 100);
  EngineRig rig1(r1.src, r1.dst);
  smooth1(nullptr, rig1.instance(), 0, 4, 9, 5);
  EngineRig rig3(r3.src, r3.dst);
  smooth3(nullptr, rig3.instance(), 0, 4, 9, 5);
  std::vector<int> row = along(rig1.destination(), true), col = along(rig3.destination(), false);
  EXPECT_NE(row[7], 100);
  EXPECT_EQ(col[7], 100);
  EXPECT_EQ(col, (std::vector<int>{100, 100, 116, 133, 100, 66, 83, 100, 100, 100, 100, 100}));
  // Weights 96, 64, 32 for a half-run of 3.
  EXPECT_EQ(row[5], blend(0, 100, 96));
  EXPECT_EQ(row[6], blend(0, 100, 64));
  EXPECT_EQ(row[7], blend(0, 100, 32));
}

// The weights of both half-runs of length l: neighbour 255 against own 0
// gives back the weight itself as the byte.
void halfRunWeights(int l, std::vector<int>* first, std::vector<int>* second) {
  const int step = 300, n = 2 * step;
  Image src(n, 3, grey(255)), dst(n, 3, grey(0));
  EngineRig rig(src, dst);
  smooth1(nullptr, rig.instance(), step - 2 * l, step, step + 2 * l - 1, 1);
  first->clear();
  second->clear();
  for (int k = 1; k <= l; ++k) first->push_back(rig.destination().at(step - l - 1 + k, 1).r);
  for (int k = 1; k <= l; ++k) second->push_back(rig.destination().at(step + k, 1).r);
}

TEST(Kernels, RampWeightTable) {
  const std::vector<std::vector<int>> firsts{
      {64}, {42, 84}, {32, 64, 96}, {25, 50, 75, 100}, {21, 42, 63, 84, 105}};
  const std::vector<std::vector<int>> seconds{
      {64}, {86, 44}, {96, 64, 32}, {103, 78, 53, 28}, {107, 86, 65, 44, 23}};
  std::vector<int> first, second;
  for (int l = 1; l <= 5; ++l) {
    halfRunWeights(l, &first, &second);
    EXPECT_EQ(first, firsts[l - 1]) << l;
    EXPECT_EQ(second, seconds[l - 1]) << l;
  }
  // 64 to 127: inc 1. 128 and more: inc 0, the first half-run unchanged and
  // the second at 128 throughout.
  halfRunWeights(100, &first, &second);
  EXPECT_EQ(first.front(), 1);
  EXPECT_EQ(first.back(), 100);
  EXPECT_EQ(second.front(), 127);
  EXPECT_EQ(second.back(), 28);
  halfRunWeights(128, &first, &second);
  EXPECT_EQ(first, std::vector<int>(128, 0));
  EXPECT_EQ(second, std::vector<int>(128, 128));
}

TEST(Kernels, DegenerateRuns) {
  LineRig r(true, 200, 0, 100);
  {
    EngineRig rig(r.src, r.dst);
    smooth1(nullptr, rig.instance(), 4, 4, 4, 5);
    smooth3_a(nullptr, rig.instance(), 4, 4, 4, 5);
    EXPECT_EQ(rig.dstReads() + rig.srcReads() + rig.dstWrites(), 0);
    // smooth3 with runEnd = stepPos + 1 rounds both ends onto the step.
    smooth3(nullptr, rig.instance(), 4, 4, 5, 5);
    smooth3_a(nullptr, rig.instance(), 4, 4, 5, 5);
    EXPECT_EQ(rig.dstReads() + rig.srcReads() + rig.dstWrites(), 0);
  }
  {
    // smooth1 with the same: pixel 5 at w = 64 toward row 4, then the step
    // pixel from its neighbours, the empty side untouched.
    EngineRig rig(r.src, r.dst);
    rig.destination().set(3, 5, grey(40, 7));
    smooth1(nullptr, rig.instance(), 4, 4, 5, 5);
    std::vector<int> row = along(rig.destination(), true);
    EXPECT_EQ(row[5], blend(0, 100, 64));
    EXPECT_EQ(row[4], blend(row[5], 40, 128));
    EXPECT_EQ(row[3], 40);
    EXPECT_EQ(rig.dstWrites(), 2);
  }
}

TEST(Kernels, ZeroStrengthRewritesEveryVisitedPixelUnchanged) {
  for (bool alpha : {false, true}) {
    LineRig r(true, 200, 0, 100, alpha);
    EngineRig rig(r.src, r.dst);
    rig.instance()->workStrength = 0;
    (alpha ? smooth1_a : smooth1)(nullptr, rig.instance(), 0, 4, 8, 5);
    EXPECT_EQ(rig.dstWrites(), 5);
    EXPECT_EQ(along(rig.destination(), true, alpha), std::vector<int>(12, 100));
  }
}

TEST(Kernels, CallsOutOfScanOrderDoNothing) {
  LineRig r(true, 200, 0, 100);
  EngineRig rig(r.src, r.dst);
  smooth1(nullptr, rig.instance(), 8, 4, 0, 5);
  smooth2(nullptr, rig.instance(), 0, 4, 8, 5);
  smooth3(nullptr, rig.instance(), 4, 2, 8, 5);
  smooth4_a(nullptr, rig.instance(), 0, 6, 3, 5);
  EXPECT_EQ(rig.dstWrites() + rig.dstReads() + rig.srcReads(), 0);
}

}  // namespace

namespace {

// What the kernels hand to the write routines beyond the channel they smooth.
std::vector<Pixel> handed;
void ownWithMarks(FilterInstance*, int, int, Pixel* out) {
  *out = Pixel{1, 2, 3, 100};
}
void neighbour(FilterInstance*, int, int, Pixel* out) {
  *out = Pixel{200, 200, 200, 200};
}
void record(const FilterAccess*, FilterInstance*, int, int, const Pixel* in) {
  handed.push_back(*in);
}

TEST(Kernels, WhatTheWritesAreHanded) {
  FilterInstance inst{};
  inst.pixelOps = PixelOps{neighbour, ownWithMarks, record, neighbour, ownWithMarks, record};
  inst.workStrength = 100;
  // Colour: a new pixel whose A is the own pixel's.
  handed.clear();
  smooth1(nullptr, &inst, 0, 2, 4, 3);
  ASSERT_FALSE(handed.empty());
  for (const Pixel& p : handed) EXPECT_EQ(p.a, 100);
  EXPECT_NE(handed[0].r, 1);
  // Alpha: the own pixel as read, only A replaced.
  handed.clear();
  smooth1_a(nullptr, &inst, 0, 2, 4, 3);
  ASSERT_FALSE(handed.empty());
  for (const Pixel& p : handed) {
    EXPECT_EQ(p.r, 1);
    EXPECT_EQ(p.g, 2);
    EXPECT_EQ(p.b, 3);
  }
  EXPECT_NE(handed[0].a, 100);
}

}  // namespace
