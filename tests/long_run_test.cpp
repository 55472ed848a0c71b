// One instance over a long session: a thousand frames of changing sizes,
// from 1 x 1 to 1920 x 1080 (mostly small, a few full-size), with settings
// that change between frames and the options dialog opened and closed
// (headless) between some of them. What the instance holds must not grow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "filter/heap.h"
#include "filter/oru.h"
#include "runner/host/host_services.h"
#include "runner/panel/panel_host.h"
#include "tests/frame_host.h"
#include "tests/heap_scope.h"
#include "tests/host_objects.h"

namespace {

using oru_runner::PanelHost;
using oru_test::FrameHost;

// A user who looks at the last frame: picks a zoom and a view, updates the
// preview, drags it about, sets Auto and changes the threshold.
void lookAtPreview(PanelHost& host, oru_runner::PanelModel& panel, int i) {
  host.choose(*panel.controls.at(CTRL_ZOOM_SLIDER), i % 4);
  host.choose(*panel.controls.at(CTRL_VIEW_POPUP), i % 2);
  host.press(*panel.controls.at(CTRL_UPDATE_BUTTON));
  host.drag(*panel.controls.at(CTRL_CANVAS), 160, 120, 160 - 37 * (i % 5), 120 - 23 * (i % 3), 64);
  host.setToggle(*panel.controls.at(CTRL_AUTO_TOGGLE), i % 3 == 0);
  if (oru_runner::XPanelModel* xpanel = host.xpanelOf(panel)) {
    host.setFormValue(*xpanel, 0x8003, 200 + i % 50);
  }
}

struct Size {
  int width, height;
};

// Frame i of the session: the extremes first, then four full-size frames
// spread over the run, some medium ones, and small ones for the rest.
Size sessionFrame(int i, std::mt19937& random) {
  const Size fixed[] = {{1, 1}, {1920, 1}, {1, 1080}, {2, 2}, {3, 3}};
  if (i < 5) return fixed[i];
  if (i % 250 == 100) return {1920, 1080};
  if (i % 40 == 7) {
    return {std::uniform_int_distribution<int>(65, 800)(random),
            std::uniform_int_distribution<int>(65, 600)(random)};
  }
  std::uniform_int_distribution<int> small(1, 64);
  return {small(random), small(random)};
}

// A picture with edges in every direction, a soft alpha, and values outside
// 0..1 now and then.
void paint(FrameHost& frame, int seed) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      bool inside = (x * 3 + y * 5 + seed) % 97 < 48;
      frame.in(0, x, y) = inside ? 1.0f : 0.0f;
      frame.in(1, x, y) = static_cast<float>((x + seed) % 256) / 255.0f;
      frame.in(2, x, y) = (x ^ y) & 4 ? 1.25f : -0.5f;
      frame.in(3, x, y) = inside ? 0.75f : 0.25f;
    }
  }
}

// Resident memory of this process, in bytes.
long residentBytes() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * sysconf(_SC_PAGESIZE);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureResident = false;  // the sanitizer keeps freed memory
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasureResident = false;
#else
constexpr bool kMeasureResident = true;
#endif
#else
constexpr bool kMeasureResident = true;
#endif

TEST(LongRun, AThousandFramesOfChangingSizesHoldNoMoreThanTheLastFrame) {
  oru_test::HeapScope heap;
  FilterInstance* inst = OruCreate(nullptr);
  ASSERT_NE(inst, nullptr);
  const long baseline = heapHooks.live;  // the record and the preview planes
  std::mt19937 random(8);
  long residentAfterFirstLarge = 0;
  oru_runner::HeadlessBackend backend;
  PanelHost host(&backend);
  global_func = oru_runner::hostLookup;
  int openings = 0;

  for (int i = 0; i < 1000; ++i) {
    Size size = sessionFrame(i, random);
    SCOPED_TRACE(testing::Message() << "frame " << i << ": " << size.width << " x " << size.height);
    inst->target = i % 3;
    inst->enable = i % 17 != 0;
    inst->strength = (i * 37) % 101;
    inst->threshold = (i * 53) % 256;

    FrameHost frame(size.width, size.height);
    paint(frame, i);
    frame.process(inst);
    ASSERT_EQ(inst->processError, 0);
    ASSERT_EQ(inst->width, size.width);
    ASSERT_EQ(inst->height, size.height);
    ASSERT_EQ(frame.totalStores(), 2L * size.width * size.height);
    ASSERT_EQ(frame.badCalls(), 0);
    ASSERT_EQ(heapHooks.live, baseline + 4) << "only the working planes of the last frame";

    if (i % 23 == 0) {
      backend.setPlayer(
          [i](PanelHost& h, oru_runner::PanelModel& panel) { lookAtPreview(h, panel, i); });
      ASSERT_EQ(OruOptions(inst), nullptr);
      ++openings;
      ASSERT_EQ(host.counts().runPanel, openings);
      ASSERT_EQ(oru_test::unfreedHostObjects(host), 0);
      ASSERT_EQ(heapHooks.live, baseline + 4) << "the dialog holds nothing after it closed";
    }

    if (size.width == 1920 && size.height == 1080 && residentAfterFirstLarge == 0) {
      residentAfterFirstLarge = residentBytes();
    }
  }
  if (kMeasureResident && residentAfterFirstLarge > 0) {
    // Later full-size frames reuse the memory of the first one.
    EXPECT_LT(residentBytes() - residentAfterFirstLarge, 16L << 20);
  }
  OruDestroy(inst);
  EXPECT_EQ(heapHooks.live, 0);
}

}  // namespace
