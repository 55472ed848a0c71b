// What a host may report to the dialog that no user could do, and what a
// script may ask of the runner's panel host: pointer positions at the ends
// of the int range. Found by the dialog fuzzer.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "tests/dialog_support.h"

namespace {

using HostileDialog = oru_test::DialogTest;

// A move from 10 to INT_MIN is a distance beyond the int range: the view must
// go to the frame's far edge, not wrap around to a negative offset.
TEST_F(HostileDialog, DragReportsAtTheIntLimitsMoveTheViewToTheFrameEdges) {
  giveFrame(1000, 800, where);
  int afterFarLeft[2] = {-1, -1}, afterFarRight[2] = {-1, -1};
  EXPECT_EQ(open([&](oru_runner::PanelModel& panel) {
              oru_runner::ControlModel& canvas = control(panel, CTRL_CANVAS);
              host.dragReport(canvas, 10, 10, false);
              host.dragReport(canvas, INT_MIN, INT_MIN, true);
              afterFarLeft[0] = inst->viewX;
              afterFarLeft[1] = inst->viewY;
              host.dragReport(canvas, INT_MAX, INT_MAX, true);
              afterFarRight[0] = inst->viewX;
              afterFarRight[1] = inst->viewY;
            }),
            nullptr);
  EXPECT_EQ(afterFarLeft[0], 1000 - 320);
  EXPECT_EQ(afterFarLeft[1], 800 - 240);
  EXPECT_EQ(afterFarRight[0], 0);
  EXPECT_EQ(afterFarRight[1], 0);
}

// Drags between far points: the host's steps must not overflow, and a drag
// must end at its last point after a bounded number of reports rather than
// after hundreds of millions (each one a canvas redraw).
TEST_F(HostileDialog, DragsBetweenFarPointsEndAtTheirLastPointSoon) {
  giveFrame(400, 300, where);
  struct Far {
    int fromX, fromY, toX, toY;
  };
  const Far drags[] = {{-(1 << 30), 0, (1 << 30) - 1, 0}, {INT_MIN, INT_MAX, INT_MAX, INT_MIN}};
  for (const Far& far : drags) {
    long reports = 0;
    int lastX = 0, lastY = 0;
    host.onUserAction = [&](const oru_runner::UserAction& action) {
      if (action.kind != oru_runner::UserAction::DragReport) return;
      lastX = action.x;
      lastY = action.y;
      // Far too many: let the rest of the drag go by without redraws.
      if (++reports > 2000) action.control->state = oru_runner::ControlState::Hidden;
    };
    EXPECT_EQ(open([&](oru_runner::PanelModel& panel) {
                host.drag(control(panel, CTRL_CANVAS), far.fromX, far.fromY, far.toX, far.toY);
              }),
              nullptr);
    EXPECT_LE(reports, 1 + 256);
    EXPECT_EQ(lastX, far.toX);
    EXPECT_EQ(lastY, far.toY);
    // The pointer went right: the frame followed it to its left edge.
    EXPECT_EQ(inst->viewX, 0);
  }
}

// Short drags keep their steps of at most step pixels.
TEST_F(HostileDialog, AnOrdinaryDragKeepsItsSteps) {
  giveFrame(400, 300, where);
  std::vector<int> xs;
  host.onUserAction = [&](const oru_runner::UserAction& action) {
    if (action.kind == oru_runner::UserAction::DragReport) xs.push_back(action.x);
  };
  open([&](oru_runner::PanelModel& panel) {
    host.drag(control(panel, CTRL_CANVAS), 0, 0, 20, 0, 8);
  });
  EXPECT_EQ(xs, (std::vector<int>{0, 8, 16, 20}));
}

}  // namespace
