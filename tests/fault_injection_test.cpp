// Allocation failures driven for real through the test heap: every
// allocation that creating an instance or processing a frame makes is made to
// fail in turn, and the instance must be left as promised, hold nothing it
// should not, store nothing it should not, and work on the next call.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/heap.h"
#include "filter/oru.h"
#include "tests/frame_host.h"
#include "tests/heap_scope.h"

namespace {

using oru_test::FrameHost;
using oru_test::HeapScope;

// A two-colour staircase with a soft alpha, so that smoothing has work to do.
void fillStaircase(FrameHost& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      float v = y >= frame.height() - 1 - x / 2 ? 0.0f : 1.0f;
      for (int c = 0; c < 3; ++c) frame.in(c, x, y) = v;
      frame.in(3, x, y) = 1.0f - v * 0.5f;
    }
  }
}

// Every pixel was stored exactly once, colour and alpha, with samples in 0..1.
void expectWholeOutput(const FrameHost& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      ASSERT_EQ(frame.colourStores(x, y), 1) << x << "," << y;
      ASSERT_EQ(frame.alphaStores(x, y), 1) << x << "," << y;
      for (int c = 0; c < 4; ++c) {
        ASSERT_GE(frame.out(c, x, y), 0.0f);
        ASSERT_LE(frame.out(c, x, y), 1.0f);
      }
    }
  }
  EXPECT_EQ(frame.badCalls(), 0);
}

// Allocations that one call of f makes when none fails.
template <typename F>
long allocationsOf(F f) {
  oru_test::stopFailing();
  f();
  return heapHooks.allocations;
}

TEST(FaultInjection, EachAllocationOfCreateFailsInTurn) {
  HeapScope heap;
  long count = allocationsOf([] { OruDestroy(OruCreate(nullptr)); });
  ASSERT_EQ(count, 5) << "the record and four preview planes";

  for (long n = 0; n < count; ++n) {
    SCOPED_TRACE(n);
    oru_test::failAllocationFromNow(n);
    FilterInstance* inst = OruCreate(nullptr);
    oru_test::stopFailing();
    if (n == 0) {
      EXPECT_EQ(inst, nullptr);
      EXPECT_EQ(heapHooks.live, 0);
    } else {
      // No preview, but frames are processed as by any instance.
      ASSERT_NE(inst, nullptr);
      EXPECT_EQ(inst->createError, 1);
      EXPECT_EQ(heapHooks.live, 1);
      FrameHost frame(9, 7);
      fillStaircase(frame);
      frame.process(inst);
      EXPECT_EQ(inst->processError, 0);
      EXPECT_EQ(inst->createError, 1) << "never changes after creation";
      expectWholeOutput(frame);
      OruDestroy(inst);
      EXPECT_EQ(heapHooks.live, 0);
    }
    FilterInstance* next = OruCreate(nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->createError, 0);
    OruDestroy(next);
    EXPECT_EQ(heapHooks.live, 0);
  }
}

// What a failed frame run must leave of the instance: compared field by field
// with the state before the call.
struct Snapshot {
  std::uint8_t* planes[4];
  int width, height;
  std::uint8_t processed;
  long live;
  explicit Snapshot(const FilterInstance* inst)
      : width(inst->width), height(inst->height), processed(inst->processed), live(heapHooks.live) {
    std::memcpy(planes, inst->planes, sizeof planes);
  }
};

// The frame that fails is 6 x 4: its line tables (4 row pointers) and its
// planes (24 bytes) differ in size, so the failed size tells which it was.
constexpr int kFailW = 6, kFailH = 4;
constexpr std::size_t kLineTableSize = kFailH * sizeof(const float*);
constexpr std::size_t kPlaneSize = kFailW * kFailH;
static_assert(kLineTableSize != kPlaneSize, "line tables and planes must differ in size");

TEST(FaultInjection, EachAllocationOfAFrameRunFailsInTurn) {
  HeapScope heap;
  FrameHost failing(kFailW, kFailH);
  fillStaircase(failing);

  long count;
  {
    FilterInstance* inst = OruCreate(nullptr);
    count = allocationsOf([&] { failing.process(inst); });
    OruDestroy(inst);
  }
  ASSERT_EQ(count, 9) << "four line tables, four planes and the smoothing run's block";
  EXPECT_EQ(heapHooks.live, 0);

  // Once on an instance that never had a frame, once after a 7 x 5 frame.
  for (bool hadFrame : {false, true}) {
    for (long n = 0; n < count; ++n) {
      SCOPED_TRACE(testing::Message() << "allocation " << n << (hadFrame ? ", after a frame" : ""));
      FilterInstance* inst = OruCreate(nullptr);
      ASSERT_NE(inst, nullptr);
      if (hadFrame) {
        FrameHost earlier(7, 5);
        fillStaircase(earlier);
        earlier.process(inst);
        ASSERT_EQ(inst->processed, 1);
      }
      const Snapshot before(inst);
      failing.clearOutput();

      oru_test::failAllocationFromNow(n);
      failing.process(inst);
      long attempts = heapHooks.allocations;
      oru_test::stopFailing();

      EXPECT_EQ(inst->processError, 1);
      EXPECT_EQ(failing.totalStores(), 0) << "nothing is stored into the output";
      EXPECT_EQ(inst->width, before.width);
      EXPECT_EQ(inst->height, before.height);
      EXPECT_EQ(inst->processed, before.processed);
      if (oru_test::failedSize() == kLineTableSize) {
        EXPECT_EQ(attempts, 4) << "all four tables are attempted, no plane";
        EXPECT_EQ(heapHooks.live, before.live) << "only this call's tables are released";
        for (int c = 0; c < 4; ++c) EXPECT_EQ(inst->planes[c], before.planes[c]);
      } else {
        // A plane, or the smoothing run's block after the four planes.
        const bool block = oru_test::failedSize() != kPlaneSize;
        EXPECT_EQ(attempts, block ? 9 : 8) << "all four planes are attempted";
        EXPECT_EQ(block, n == 8);
        for (int c = 0; c < 4; ++c) EXPECT_EQ(inst->planes[c], nullptr);
        EXPECT_EQ(heapHooks.live, before.live - (hadFrame ? 4 : 0))
            << "the old planes are gone, no new ones and no tables are held";
      }

      // The next call succeeds and clears the error.
      failing.clearOutput();
      failing.process(inst);
      EXPECT_EQ(inst->processError, 0);
      EXPECT_EQ(inst->processed, 1);
      EXPECT_EQ(inst->width, kFailW);
      EXPECT_EQ(inst->height, kFailH);
      expectWholeOutput(failing);
      EXPECT_EQ(heapHooks.live, 5 + 4) << "record, preview planes and working planes, no block";
      OruDestroy(inst);
      EXPECT_EQ(heapHooks.live, 0);
    }
  }
}

}  // namespace
