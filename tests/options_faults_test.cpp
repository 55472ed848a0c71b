// The options dialog when the host cannot give what it is built from: each
// service lookup and each panel, raster and property-panel creation fails in
// turn. The dialog gives its message, runs no panel, frees every host object
// it made, holds no memory, and opens normally the next time.
#include <gtest/gtest.h>

#include <string>

#include "filter/heap.h"
#include "tests/dialog_support.h"
#include "tests/host_objects.h"

namespace {

using oru_runner::PanelHost;
using oru_runner::PanelModel;

struct Failure {
  const char* what;
  void (*arm)(PanelHost& host, bool on);
  const char* message;
  std::size_t madeBefore;  // host objects made (then freed) before it
};

void setService(PanelHost& host, const char* service, bool withdrawn) {
  if (withdrawn) {
    host.withdraw(service);
  } else {
    host.offer(service);
  }
}

const char kPanelsMissing[] = "Could not access Panels global!";
const char kPanelFailed[] = "Could not create requester panel!";

// In the order the dialog is built.
const Failure kFailures[] = {
    {"panel services lookup",
     [](PanelHost& h, bool on) { setService(h, PanelHost::kPanelServices, on); }, kPanelsMissing,
     0},
    {"newPanel", [](PanelHost& h, bool on) { h.failNewPanel = on; }, kPanelFailed, 0},
    {"raster services lookup",
     [](PanelHost& h, bool on) { setService(h, PanelHost::kRasterServices, on); }, kPanelFailed, 1},
    {"newRaster", [](PanelHost& h, bool on) { h.failNewRaster = on; }, kPanelFailed, 1},
    {"property-panel services lookup",
     [](PanelHost& h, bool on) { setService(h, PanelHost::kXPanelServices, on); }, kPanelFailed, 2},
    {"newXPanel", [](PanelHost& h, bool on) { h.failNewXPanel = on; }, kPanelFailed, 2},
};

class OptionsFaults : public oru_test::DialogTest {
 protected:
  std::size_t madeObjects() const {
    return host.panels().size() + host.rasters().size() + host.xpanels().size();
  }
  // Every panel, raster and property panel made has been freed.
  void expectEverythingFreed() { EXPECT_EQ(oru_test::unfreedHostObjects(host), 0); }
};

TEST_F(OptionsFaults, EachCreationFailingInTurnGivesItsMessageAndLeavesNothing) {
  giveFrame(40, 30, where);
  const long held = heapHooks.live;
  for (const Failure& failure : kFailures) {
    SCOPED_TRACE(failure.what);
    host.resetCounts();
    bool played = false;
    const std::size_t before = madeObjects();
    failure.arm(host, true);
    const char* message = open([&](PanelModel&) { played = true; });
    failure.arm(host, false);

    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::string(message), failure.message);
    EXPECT_FALSE(played);
    EXPECT_EQ(host.counts().runPanel, 0) << "no panel is run";
    expectEverythingFreed();
    EXPECT_EQ(heapHooks.live, held);
    EXPECT_EQ(inst->panel, nullptr);
    EXPECT_EQ(inst->raster, nullptr);
    EXPECT_EQ(inst->xpanel, nullptr);
    EXPECT_EQ(madeObjects() - before, failure.madeBefore) << "made before the failure";

    // With the host whole again the dialog opens, runs and closes.
    host.resetCounts();
    played = false;
    EXPECT_EQ(open([&](PanelModel&) { played = true; }), nullptr);
    EXPECT_TRUE(played);
    EXPECT_EQ(host.counts().runPanel, 1);
    expectEverythingFreed();
    EXPECT_EQ(heapHooks.live, held);
  }
}

}  // namespace
