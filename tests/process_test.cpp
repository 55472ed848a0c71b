// The frame driver: what a frame run stores into the host's output, what it
// keeps in the instance, and how it fails.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <vector>

#include "filter/engine/pixel_ops.h"
#include "filter/heap.h"
#include "filter/oru.h"
#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"
#include "runner/host/settings_block.h"
#include "tests/test_support.h"

namespace {

using oru_runner::HostFrame;

struct Instance {
  FilterInstance* inst = OruCreate(nullptr);
  ~Instance() { OruDestroy(inst); }
  FilterInstance* operator->() { return inst; }
  void process(HostFrame& frame) {
    frame.run([&](const FilterAccess& a) { OruProcess(inst, &a); });
  }
};

void fillAll(HostFrame& f, float v) {
  for (int c = 0; c < 4; ++c)
    for (float& s : f.input(c)) s = v;
}

// 10 x 5, colour white above the edge and black below it, alpha 1.0: the
// edge lies between rows 2 and 3 for x < 5 and between rows 1 and 2 from x = 5.
HostFrame& stepFrame(HostFrame& f) {
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) {
      float v = y >= (x < 5 ? 3 : 2) ? 0.0f : 1.0f;
      for (int c = 0; c < 3; ++c) f.in(c, x, y) = v;
      f.in(3, x, y) = 1.0f;
    }
  return f;
}

// The smoothed colour bytes of stepFrame with the RGB target and defaults,
// worked out by hand from its four kernel calls: smooth1 (5, 8, 8, 1) and
// (1, 4, 8, 2), smooth2 (4, 1, 1, 2), smooth3 (2, 2, 2, 4) (writes nothing).
int expectedStepByte(int x, int y) {
  static const int row1[10] = {255, 255, 255, 255, 255, 255, 213, 171, 213, 255};
  static const int row2[10] = {255, 199, 143, 143, 129, 86, 44, 0, 0, 0};
  if (y == 1) return row1[x];
  if (y == 2) return row2[x];
  return y >= 3 ? 0 : 255;
}

void expectStepResult(const HostFrame& f) {
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) {
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(f.out(c, x, y), static_cast<float>(expectedStepByte(x, y) / 255.0))
            << "channel " << c << " at " << x << ", " << y;
      ASSERT_EQ(f.out(3, x, y), 1.0f);
    }
}

TEST(Process, DisabledFrameIsQuantisedAndClamped) {
  Instance in;
  in->enable = 0;
  HostFrame half(7, 3);
  fillAll(half, 0.5f);
  in.process(half);
  for (int c = 0; c < 4; ++c)
    for (float s : half.output(c)) ASSERT_EQ(s, static_cast<float>(127 / 255.0));
  EXPECT_EQ(half.colourStores(), 21);
  EXPECT_EQ(half.alphaStores(), 21);

  HostFrame outside(4, 4);
  for (int c = 0; c < 4; ++c)
    for (std::size_t i = 0; i < 16; ++i) outside.input(c)[i] = i % 2 ? 1.5f : -0.2f;
  in.process(outside);
  for (int c = 0; c < 4; ++c)
    for (std::size_t i = 0; i < 16; ++i) ASSERT_EQ(outside.output(c)[i], i % 2 ? 1.0f : 0.0f);
}

TEST(Process, EveryByteLevelComesBackUnchanged) {
  Instance in;
  in->enable = 0;
  HostFrame f(256, 4);
  for (int c = 0; c < 4; ++c)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 256; ++x)
        f.in(c, x, y) = static_cast<float>(((x + 37 * c) % 256) / 255.0);
  in.process(f);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(f.output(c), f.input(c)) << c;
}

TEST(Process, SmoothedFrameMatchesTheHandWorkedResult) {
  Instance in;
  in->target = TARGET_RGB;
  HostFrame f(10, 5);
  in.process(stepFrame(f));
  expectStepResult(f);
  // The planes hold the frame as it came in, not the smoothed output.
  EXPECT_EQ(in->planes[0][2 * 10 + 4], 255);
  EXPECT_EQ(in->planes[0][2 * 10 + 5], 0);
  EXPECT_EQ(in->planes[0][1 * 10 + 7], 255);
  EXPECT_EQ(in->processed, 1);
  EXPECT_EQ(in->processError, 0);
  EXPECT_EQ(in->width, 10);
  EXPECT_EQ(in->height, 5);
  for (auto* table : in->lineTable) EXPECT_EQ(table, nullptr);
  // Two fills of four rows per line.
  EXPECT_EQ(f.rowFetches(), 2 * 4 * 5);
  // The work settings and the frame-run routines stay installed.
  EXPECT_EQ(in->workMode, 1);
  EXPECT_EQ(in->workStrength, 100);
  EXPECT_EQ(in->workThreshold, 224);
  EXPECT_EQ(in->pixelOps.getSrc, readF);
  EXPECT_EQ(in->pixelOps.putDstA, writeB_a);
}

TEST(Process, SmoothingRunsOnlyWhenEnableIsExactlyOne) {
  for (int enable : {0, 2, 255}) {
    Instance in;
    in->enable = static_cast<std::uint8_t>(enable);
    in->target = TARGET_RGB;
    HostFrame f(10, 5);
    in.process(stepFrame(f));
    EXPECT_EQ(f.output(0), f.input(0)) << enable;
  }
}

TEST(Process, AlphaTargetSmoothsOnlyAlpha) {
  // The step picture in alpha, flat colour.
  Instance in;
  in->target = TARGET_ALPHA;
  HostFrame f(10, 5), ref(10, 5);
  stepFrame(ref);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) {
      for (int c = 0; c < 3; ++c) f.in(c, x, y) = 0.25f;
      f.in(3, x, y) = ref.in(0, x, y);
    }
  in.process(f);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) {
      ASSERT_EQ(f.out(3, x, y), static_cast<float>(expectedStepByte(x, y) / 255.0))
          << x << "," << y;
      ASSERT_EQ(f.out(0, x, y), static_cast<float>(63 / 255.0));
    }
}

// Stores recorded in order, through a wrapped access record.
std::vector<int> storeLog;
HostFrame* logged = nullptr;
FilterAccess loggedAccess;
void logColour(int x, int y, const float* rgb) {
  storeLog.push_back((y * 100 + x) * 2);
  logged->access().storeColour(x, y, rgb);
}
void logAlpha(int x, int y, float a) {
  storeLog.push_back((y * 100 + x) * 2 + 1);
  logged->access().storeAlpha(x, y, a);
}

TEST(Process, EveryPixelIsStoredColourFirstRowByRow) {
  Instance in;
  HostFrame f(10, 5);
  stepFrame(f);
  logged = &f;
  storeLog.clear();
  loggedAccess = f.access();
  loggedAccess.storeColour = logColour;
  loggedAccess.storeAlpha = logAlpha;
  f.run([&](const FilterAccess&) { OruProcess(in.inst, &loggedAccess); });
  std::vector<int> expected;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) {
      expected.push_back((y * 100 + x) * 2);
      expected.push_back((y * 100 + x) * 2 + 1);
    }
  EXPECT_EQ(storeLog, expected);
}

// fetchLine that gives no row for channel G of row 1.
HostFrame* holey = nullptr;
const float* fetchWithHole(int lineType, int y) {
  if (lineType == LINE_GREEN && y == 1) return nullptr;
  return holey->access().fetchLine(lineType, y);
}

TEST(Process, MissingRowsReadAsZero) {
  for (int enable : {0, 1}) {
    Instance in;
    in->enable = static_cast<std::uint8_t>(enable);
    HostFrame f(10, 5);
    fillAll(f, 0.75f);
    holey = &f;
    FilterAccess access = f.access();
    access.fetchLine = fetchWithHole;
    f.run([&](const FilterAccess&) { OruProcess(in.inst, &access); });
    EXPECT_EQ(f.colourStores(), 50);
    for (int x = 0; x < 10; ++x) {
      EXPECT_EQ(f.out(0, x, 1), static_cast<float>(191 / 255.0));
      if (enable == 0) {
        EXPECT_EQ(f.out(1, x, 1), 0.0f) << x;
      }
    }
    EXPECT_EQ(in->planes[1][1 * 10 + 4], 0);
    EXPECT_EQ(in->planes[1][2 * 10 + 4], 191);
  }
}

TEST(Process, SecondFrameOfAnotherSizeReplacesThePlanes) {
  Instance in;
  HostFrame a(10, 5), b(3, 7);
  in.process(stepFrame(a));
  fillAll(b, 1.0f);
  in.process(b);
  EXPECT_EQ(in->width, 3);
  EXPECT_EQ(in->height, 7);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(in->planes[c][20], 255);
  EXPECT_EQ(b.colourStores(), 21);
  for (int c = 0; c < 4; ++c)
    for (float s : b.output(c)) EXPECT_EQ(s, 1.0f);
}

TEST(Process, EmptyFramesStoreNothingAndHoldNoPlanes) {
  for (auto size : {std::pair<int, int>{0, 5}, {5, 0}, {0, 0}, {-3, 4}, {4, INT_MIN}}) {
    Instance in;
    HostFrame first(10, 5);
    in.process(stepFrame(first));
    heapHooks.allocations = 0;
    HostFrame empty(size.first, size.second);
    in.process(empty);
    EXPECT_EQ(empty.colourStores() + empty.alphaStores() + empty.rowFetches(), 0);
    EXPECT_EQ(heapHooks.allocations, 0) << "nothing allocated";
    EXPECT_EQ(in->processError, 0);
    EXPECT_EQ(in->processed, 1);
    EXPECT_EQ(in->width, size.first > 0 ? size.first : 0);
    EXPECT_EQ(in->height, size.second > 0 ? size.second : 0);
    for (auto* plane : in->planes) EXPECT_EQ(plane, nullptr);
    // Reads of the empty planes are harmless, and the next frame works.
    Pixel p{1, 1, 1, 1};
    readB(in.inst, 3, 3, &p);
    EXPECT_EQ(p.r, 0);
    HostFrame next(10, 5);
    in.process(stepFrame(next));
    EXPECT_EQ(next.colourStores(), 50);
  }
}

long failingAllocation = -1;
bool failChosen(long n, std::size_t) {
  return n == failingAllocation;
}
bool failHuge(long, std::size_t size) {
  return size > (std::size_t{1} << 30);
}

TEST(Process, EachLineTableAndPlaneFailureTakesTheFailurePath) {
  // Allocations 0 to 3 are the line tables, 4 to 7 the planes.
  for (long n = 0; n < 8; ++n) {
    Instance in;
    HostFrame first(10, 5);
    in.process(stepFrame(first));
    std::uint8_t* before[4];
    for (int c = 0; c < 4; ++c) before[c] = in->planes[c];
    const long live = heapHooks.live;

    heapHooks.allocations = 0;
    failingAllocation = n;
    heapHooks.shouldFail = failChosen;
    HostFrame second(6, 4);
    fillAll(second, 0.5f);
    in.process(second);
    heapHooks.shouldFail = nullptr;

    EXPECT_EQ(heapHooks.allocations, 8 - (n < 4 ? 4 : 0)) << "all four of the kind attempted";
    EXPECT_EQ(in->processError, 1) << n;
    EXPECT_EQ(second.colourStores() + second.alphaStores() + second.rowFetches(), 0) << n;
    for (auto* table : in->lineTable) EXPECT_EQ(table, nullptr);
    EXPECT_EQ(in->processed, 1);
    EXPECT_EQ(in->width, 10) << "the previous frame's size stays";
    EXPECT_EQ(in->height, 5);
    if (n < 4) {
      for (int c = 0; c < 4; ++c) EXPECT_EQ(in->planes[c], before[c]) << "planes kept";
      EXPECT_EQ(heapHooks.live, live);
    } else {
      for (auto* plane : in->planes) EXPECT_EQ(plane, nullptr);
      EXPECT_EQ(heapHooks.live, live - 4);
    }

    HostFrame third(6, 4);
    fillAll(third, 0.5f);
    in.process(third);
    EXPECT_EQ(in->processError, 0);
    EXPECT_EQ(in->width, 6);
    EXPECT_EQ(third.colourStores(), 24);
    EXPECT_EQ(heapHooks.live, live - 4 + 4);
  }
}

TEST(Process, FramesOfTheSameSizeKeepThePlanesAndGiveWhatANewInstanceGives) {
  Instance in, fresh;
  in->target = fresh->target = TARGET_RGB;
  HostFrame a(10, 5), b(10, 5), alone(10, 5);
  fillAll(a, 0.25f);
  in.process(a);
  std::uint8_t* planes[4];
  for (int c = 0; c < 4; ++c) planes[c] = in->planes[c];

  // The second frame: its own picture, no new planes, the first frame's
  // bytes nowhere in the result.
  heapHooks.allocations = 0;
  in.process(stepFrame(b));
  EXPECT_EQ(heapHooks.allocations, 5) << "the line tables and the smoothing run's block";
  for (int c = 0; c < 4; ++c) EXPECT_EQ(in->planes[c], planes[c]);
  expectStepResult(b);
  fresh.process(stepFrame(alone));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(b.output(c), alone.output(c));

  // The block failing on such a frame still gives the planes back.
  const long live = heapHooks.live;
  heapHooks.allocations = 0;
  failingAllocation = 4;
  heapHooks.shouldFail = failChosen;
  HostFrame c(10, 5);
  in.process(stepFrame(c));
  heapHooks.shouldFail = nullptr;
  EXPECT_EQ(in->processError, 1);
  EXPECT_EQ(c.colourStores() + c.alphaStores(), 0);
  for (auto* plane : in->planes) EXPECT_EQ(plane, nullptr);
  EXPECT_EQ(heapHooks.live, live - 4);
}

TEST(Process, FramesTooLargeToHoldFailCleanly) {
  // An access record that claims a huge frame; its rows are never fetched.
  Instance in;
  HostFrame small(1, 1);
  for (auto size : {std::pair<int, int>{INT_MAX, INT_MAX}, {INT_MAX, 3}, {3, INT_MAX}}) {
    FilterAccess access = small.access();
    access.frameWidth = size.first;
    access.frameHeight = size.second;
    heapHooks.shouldFail = failHuge;  // no test machine may really hand these out
    const long live = heapHooks.live;
    small.run([&](const FilterAccess&) { OruProcess(in.inst, &access); });
    heapHooks.shouldFail = nullptr;
    EXPECT_EQ(in->processError, 1);
    EXPECT_EQ(heapHooks.live, live);
    EXPECT_EQ(small.rowFetches() + small.colourStores(), 0);
    for (auto* table : in->lineTable) EXPECT_EQ(table, nullptr);
  }
}

TEST(Process, SettingsFromAnUncheckedBlockStayDefined) {
  // target INT_MAX: workMode wraps to INT_MIN, no pass runs.
  Instance in;
  in->target = INT_MAX;
  HostFrame f(10, 5);
  in.process(stepFrame(f));
  EXPECT_EQ(in->workMode, INT_MIN);
  EXPECT_EQ(f.output(0), f.input(0));
  // target 2: 3; target -1: 0; target 4: 5 (colour only).
  in->target = 4;
  HostFrame g(10, 5);
  in.process(stepFrame(g));
  EXPECT_EQ(in->workMode, 5);
  expectStepResult(g);

  // Strength far above 100 acts as 100; a threshold of INT_MIN finds nothing.
  Instance strong;
  strong->target = TARGET_RGB;
  strong->strength = 100000000;
  HostFrame h(10, 5);
  strong.process(stepFrame(h));
  expectStepResult(h);
  strong->threshold = INT_MIN;
  strong->strength = INT_MIN;
  HostFrame k(10, 5);
  strong.process(stepFrame(k));
  EXPECT_EQ(k.output(0), k.input(0));
  strong->threshold = INT_MAX;  // every pair differs: smoothing everywhere, still defined
  HostFrame m(10, 5);
  strong.process(stepFrame(m));
  EXPECT_EQ(m.colourStores(), 50);
}

TEST(Process, ThroughTheLoadedModuleAsTheHostCallsIt) {
  oru_runner::LoadedModule module(oru_test::moduleFile());
  module.activateHandler(oru_runner::hostLookup);
  oru_runner::FilterHandle handle(module);
  handle.load(oru_runner::settingsBlockFromText("0 100 224"));
  HostFrame f(10, 5);
  stepFrame(f);
  f.run([&](const FilterAccess& a) { handle.process(a); });
  expectStepResult(f);
  EXPECT_EQ(f.colourStores(), 50);
  EXPECT_EQ(f.alphaStores(), 50);
}

}  // namespace
