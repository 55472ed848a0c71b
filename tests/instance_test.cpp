// Filter instances: defaults, copies, destruction, and the allocation
// failures of creation driven for real through the test heap.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/heap.h"
#include "filter/oru.h"
#include "tests/heap_scope.h"

namespace {

using oru_test::HeapScope;

long failingAllocation = -1;
bool failChosen(long n, std::size_t) { return n == failingAllocation; }

TEST(Instance, NewInstanceHasTheDefaults) {
  HeapScope heap;
  FilterInstance* inst = OruCreate(nullptr);
  ASSERT_NE(inst, nullptr);
  EXPECT_STREQ(OruDescribe(inst), "Oru");
  EXPECT_EQ(inst->target, 2);
  EXPECT_EQ(inst->enable, 1);
  EXPECT_EQ(inst->strength, 100);
  EXPECT_EQ(inst->threshold, 224);
  EXPECT_EQ(inst->previewChannel, 0);
  EXPECT_EQ(inst->zoom, 0);
  EXPECT_EQ(inst->autoUpdate, 0);
  EXPECT_EQ(inst->panelX, -1);
  EXPECT_EQ(inst->panelY, -1);
  EXPECT_EQ(inst->workStrength, 100);
  EXPECT_EQ(inst->workThreshold, 224);
  EXPECT_EQ(inst->workMode, 0);
  EXPECT_EQ(inst->processed, 0);
  EXPECT_EQ(inst->processError, 0);
  EXPECT_EQ(inst->createError, 0);
  EXPECT_EQ(inst->refreshPreview, 0);
  EXPECT_EQ(inst->width, 0);
  EXPECT_EQ(inst->height, 0);
  EXPECT_EQ(inst->panel, nullptr);
  EXPECT_EQ(inst->pixelOps.getSrc, nullptr);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(inst->planes[c], nullptr);
    ASSERT_NE(inst->previewPlanes[c], nullptr);
    // Zero-filled, so that a preview never shows what the heap held.
    for (int i = 0; i < kPreviewPlaneSize; ++i) ASSERT_EQ(inst->previewPlanes[c][i], 0) << i;
  }
  for (int i = 0; i < kControlCount; ++i) {
    EXPECT_EQ(inst->controls[i], nullptr);
    EXPECT_EQ(inst->controlLive[i], 0);
  }
  EXPECT_EQ(heapHooks.live, 5) << "the record and four preview planes";
  OruDestroy(inst);
  EXPECT_EQ(heapHooks.live, 0);
}

TEST(Instance, DestroyingNullDoesNothing) { OruDestroy(nullptr); }

TEST(Instance, RecordAllocationFailureGivesNullAndLeaksNothing) {
  failingAllocation = 0;
  HeapScope heap(failChosen);
  EXPECT_EQ(OruCreate(nullptr), nullptr);
  EXPECT_EQ(heapHooks.allocations, 1) << "nothing more is tried without a record";
  EXPECT_EQ(heapHooks.live, 0);
}

TEST(Instance, EachPreviewPlaneFailureLeavesAUsableInstanceWithoutPreview) {
  for (long plane = 1; plane <= 4; ++plane) {
    failingAllocation = plane;
    HeapScope heap(failChosen);
    FilterInstance* inst = OruCreate(nullptr);
    ASSERT_NE(inst, nullptr);
    EXPECT_EQ(heapHooks.allocations, 5) << "all four planes are attempted";
    EXPECT_EQ(inst->createError, 1);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(inst->previewPlanes[c], nullptr);
    EXPECT_EQ(heapHooks.live, 1) << "only the record is held after failing plane " << plane;
    EXPECT_EQ(inst->target, 2) << "the settings are still the defaults";
    OruDestroy(inst);
    EXPECT_EQ(heapHooks.live, 0);
  }
}

TEST(Instance, CopyCarriesSettingsAndKeepsOwnBuffers) {
  HeapScope heap;
  FilterInstance* from = OruCreate(nullptr);
  FilterInstance* to = OruCreate(nullptr);
  ASSERT_TRUE(from && to);

  // The source has "processed" a frame: give it planes of its own.
  for (auto& plane : from->planes) plane = static_cast<std::uint8_t*>(heapAlloc(6));
  from->width = 3;
  from->height = 2;
  from->processed = 1;
  from->processError = 1;
  from->target = 0;
  from->enable = 0;
  from->strength = 33;
  from->threshold = 7;
  from->previewChannel = 1;
  from->zoom = 3;
  from->autoUpdate = 1;
  from->panelX = 40;
  from->panelY = 50;
  std::strcpy(from->name, "Copied");
  FilterInstance sourceBefore = *from;
  std::uint8_t* ownPreview[4];
  std::memcpy(ownPreview, to->previewPlanes, sizeof ownPreview);

  EXPECT_EQ(OruCopy(from, to), 0);
  EXPECT_EQ(std::memcmp(&sourceBefore, from, sizeof sourceBefore), 0) << "source unchanged";
  EXPECT_EQ(to->target, 0);
  EXPECT_EQ(to->enable, 0);
  EXPECT_EQ(to->strength, 33);
  EXPECT_EQ(to->threshold, 7);
  EXPECT_EQ(to->previewChannel, 1);
  EXPECT_EQ(to->zoom, 3);
  EXPECT_EQ(to->autoUpdate, 1);
  EXPECT_EQ(to->panelX, 40);
  EXPECT_EQ(to->panelY, 50);
  EXPECT_STREQ(OruDescribe(to), "Copied");
  // The destination's own buffers and their state stay its own.
  EXPECT_EQ(to->processed, 0) << "its preview stays empty until it processes a frame";
  EXPECT_EQ(to->processError, 0);
  EXPECT_EQ(to->width, 0);
  EXPECT_EQ(to->height, 0);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(to->planes[c], nullptr);
    EXPECT_EQ(to->previewPlanes[c], ownPreview[c]);
  }

  // Destroying the source, then the destination, releases every block once.
  long frees = heapHooks.frees;
  OruDestroy(from);
  EXPECT_EQ(heapHooks.frees - frees, 9);
  OruDestroy(to);
  EXPECT_EQ(heapHooks.frees - frees, 14);
  EXPECT_EQ(heapHooks.live, 0);
}

TEST(Instance, CopyKeepsTheDestinationsCreateError) {
  failingAllocation = 6;  // the second instance's first preview plane
  HeapScope heap(failChosen);
  FilterInstance* from = OruCreate(nullptr);
  FilterInstance* to = OruCreate(nullptr);
  ASSERT_EQ(from->createError, 0);
  ASSERT_EQ(to->createError, 1);
  OruCopy(from, to);
  EXPECT_EQ(to->createError, 1);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(to->previewPlanes[c], nullptr);
  OruDestroy(from);
  OruDestroy(to);
  EXPECT_EQ(heapHooks.live, 0);
}

}  // namespace
