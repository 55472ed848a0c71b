// The slope measure on two-colour neighbourhoods.
#include "filter/engine/reference/slope.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/engine_support.h"

namespace {

using oru_test::EngineRig;
using oru_test::Image;

constexpr Pixel kBlack{0, 0, 0, 0};
constexpr Pixel kWhite{255, 255, 255, 255};

// The measure at (3, 3) of a 7 x 7 picture; black where f(u, v) with u, v
// relative to (3, 3).
int measureAt(const std::function<bool(int, int)>& black, Pixel on = kBlack, Pixel off = kWhite,
              bool alpha = false) {
  Image img(7, 7);
  img.paint([&](int x, int y) { return black(x - 3, y - 3); }, on, off);
  EngineRig rig(img, img);
  return alpha ? katamuki_a(rig.instance(), 3, 3) : katamuki(rig.instance(), 3, 3);
}

TEST(Slope, WorkedValues) {
  EXPECT_EQ(measureAt([](int, int v) { return v > 0; }), 0);
  EXPECT_EQ(measureAt([](int u, int) { return u > 0; }), 0);
  EXPECT_EQ(measureAt([](int u, int v) { return u + v > 0; }), -2295);
  EXPECT_EQ(measureAt([](int u, int v) { return u - v > 0; }), 2295);
  EXPECT_EQ(measureAt([](int u, int v) { return v > 0 || (v == 0 && u >= 1); }), -1530);
  EXPECT_EQ(measureAt([](int u, int v) { return v > 0 || (v == 0 && u <= -1); }), 1530);
  EXPECT_EQ(measureAt([](int u, int v) { return u == 0 && v == 0; }), 0);
  EXPECT_EQ(measureAt([](int, int) { return false; }), 0);
}

TEST(Slope, SymmetriesOfTheMeasure) {
  auto stair = [](int u, int v) { return v > 0 || (v == 0 && u >= 1); };
  // Exchanging the colours keeps it; mirroring about the column or the row negates it.
  EXPECT_EQ(measureAt(stair, kWhite, kBlack), -1530);
  EXPECT_EQ(measureAt([&](int u, int v) { return stair(-u, v); }), 1530);
  EXPECT_EQ(measureAt([&](int u, int v) { return stair(u, -v); }), 1530);
  auto odd = [](int u, int v) { return (u * 5 + v * 3 + 9) % 4 == 0; };
  int k = measureAt(odd);
  EXPECT_EQ(measureAt([&](int u, int v) { return odd(-u, v); }), -k);
  EXPECT_EQ(measureAt([&](int u, int v) { return odd(u, -v); }), -k);
}

TEST(Slope, ZeroAtTheFirstColumnOrRowWithoutReading) {
  Image img(5, 5);
  img.paint([](int x, int y) { return x + y > 3; }, kBlack, kWhite);
  EngineRig rig(img, img);
  EXPECT_EQ(katamuki(rig.instance(), 0, 2), 0);
  EXPECT_EQ(katamuki(rig.instance(), 2, 0), 0);
  EXPECT_EQ(katamuki_a(rig.instance(), 0, 0), 0);
  EXPECT_EQ(rig.srcReads(), 0);
  EXPECT_EQ(katamuki(rig.instance(), 2, 2), -2295);
  EXPECT_EQ(rig.srcReads(), 9);
}

TEST(Slope, StraightEdgeMeetingTheBorderMeasuresZero) {
  // At the last column and row the clamped reads repeat the border.
  Image img(5, 5);
  img.paint([](int, int y) { return y >= 4; }, kBlack, kWhite);
  EngineRig rig(img, img);
  EXPECT_EQ(katamuki(rig.instance(), 4, 3), 0);
  EXPECT_EQ(katamuki(rig.instance(), 4, 4), 0);
}

TEST(Slope, ColourAndAlphaLookOnlyAtTheirChannels) {
  auto diag = [](int u, int v) { return u + v > 0; };
  // Colour differs, alpha flat: only the colour measure sees it; and the other way round.
  EXPECT_EQ(measureAt(diag, Pixel{0, 0, 0, 7}, Pixel{255, 255, 255, 7}, true), 0);
  EXPECT_EQ(measureAt(diag, Pixel{0, 0, 0, 7}, Pixel{255, 255, 255, 7}, false), -2295);
  EXPECT_EQ(measureAt(diag, Pixel{9, 9, 9, 0}, Pixel{9, 9, 9, 255}, false), 0);
  EXPECT_EQ(measureAt(diag, Pixel{9, 9, 9, 0}, Pixel{9, 9, 9, 255}, true), -765);
  Pixel a{10, 20, 30, 0}, b{13, 15, 30, 0};
  EXPECT_EQ(kata_s(&a, &b), 8);
  EXPECT_EQ(kata_s(&b, &a), 8);
}

}  // namespace
