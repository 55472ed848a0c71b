// The options dialog: building, failures, position, the controls it makes
// and the property panel.
#include <cstring>

#include "tests/dialog_support.h"
#include "ui/ctrl.h"
#include "ui/xctrl.h"

namespace oru_test {
namespace {

TEST_F(DialogTest, BuildsThePanelItsControlsAndFreesThemOnClose) {
  int runs = 0;
  EXPECT_EQ(open([&](PanelModel& panel) {
              ++runs;
              EXPECT_EQ(panel.title, "Oru 1.10b");
              EXPECT_EQ(panel.width, 324);
              EXPECT_EQ(panel.height, 370);
              EXPECT_EQ(panel.userData, inst);
              ASSERT_EQ(panel.controls.size(), 6u);

              struct Expected {
                const char* type;
                const char* label;
                int descType, x, y, width, height;
                ControlEventFunc event;
              } expected[] = {
                  {"XPanelControl", "", 20, 0, 0, 0, 0, nullptr},
                  {"PopupControl", "", 9, 4, 102, 64, 20, cb_ORU_POP_PREV},
                  {"HSlideControl", "", 15, 80, 102, 56, 20, cb_ORU_SLI_ZOOM},
                  {"ButtonControl", "update", 19, 160, 102, 48, 0, cb_ORU_BUT_REF},
                  {"BoolControl", "Auto", 8, 220, 102, 0, 20, cb_ORU_BOOL_AUTO},
                  {"DragAreaControl", "", 19, 4, 128, 320, 240, cb_ORU_CNV_PREV},
              };
              for (int i = 0; i < 6; ++i) {
                SCOPED_TRACE(i);
                ControlModel& c = control(panel, i);
                EXPECT_EQ(c.typeName, expected[i].type);
                EXPECT_EQ(c.label, expected[i].label);
                EXPECT_EQ(c.descType, expected[i].descType);
                EXPECT_EQ(c.x, expected[i].x);
                EXPECT_EQ(c.y, expected[i].y);
                if (i > 0) {
                  EXPECT_EQ(c.width, expected[i].width);
                  EXPECT_EQ(c.userData, inst);
                }
                EXPECT_EQ(c.event, expected[i].event);
                EXPECT_EQ(inst->controls[i], c.asControl());
                EXPECT_EQ(inst->controlLive[i], 1);
                // RedrawPanel drew every control once.
                EXPECT_EQ(c.drawModes, std::vector<int>{DRAW_NORMAL});
              }
              EXPECT_EQ(control(panel, 0).xpanel, inst->xpanel);
              EXPECT_EQ(control(panel, 1).items, (std::vector<std::string>{"RGB", "Alpha"}));
              EXPECT_EQ(control(panel, 2).minimum, 0);
              EXPECT_EQ(control(panel, 2).maximum, 3);
              EXPECT_EQ(control(panel, 5).draw, draw_ORU_CNV_PREV);
              EXPECT_EQ(control(panel, 0).draw, nullptr);
            }),
            nullptr);
  EXPECT_EQ(runs, 1);
  const auto& n = host.counts();
  EXPECT_EQ(n.newPanel, 1);
  EXPECT_EQ(n.freePanel, 1);
  EXPECT_EQ(n.newRaster, 1);
  EXPECT_EQ(n.freeRaster, 1);
  EXPECT_EQ(n.newXPanel, 1);
  EXPECT_EQ(n.freeXPanel, 1);
  EXPECT_TRUE(host.lastPanel()->freed);
  EXPECT_TRUE(host.lastRaster()->freed);
  EXPECT_TRUE(host.lastXPanel()->freed);
  EXPECT_EQ(host.lastRaster()->width, 320);
  EXPECT_EQ(host.lastRaster()->height, 240);
  // The handles of a closed dialog are not kept.
  EXPECT_EQ(inst->panel, nullptr);
  for (int i = 0; i < kControlCount; ++i) EXPECT_EQ(inst->controls[i], nullptr);
}

TEST_F(DialogTest, TheHolderKeepsTheSizeWordsTheLastControlLeft) {
  open();
  open([&](PanelModel& panel) {
    // The second opening's holder sees the canvas's 320 and 240 of the first.
    EXPECT_EQ(control(panel, 0).descWords[0].value, 320);
    EXPECT_EQ(control(panel, 0).descWords[1].value, 240);
  });
}

// Each failing step gives its message, runs no panel and leaves nothing
// made behind.
TEST_F(DialogTest, EachBuildingFailureGivesItsMessageAndRunsNoPanel) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* message;
  } cases[] = {
      {"no panel services", [&] { host.withdraw(PanelHost::kPanelServices); },
       "Could not access Panels global!"},
      {"newPanel null", [&] { host.failNewPanel = true; }, "Could not create requester panel!"},
      {"no raster services", [&] { host.withdraw(PanelHost::kRasterServices); },
       "Could not create requester panel!"},
      {"newRaster null", [&] { host.failNewRaster = true; }, "Could not create requester panel!"},
      {"no property panels", [&] { host.withdraw(PanelHost::kXPanelServices); },
       "Could not create requester panel!"},
      {"newXPanel null", [&] { host.failNewXPanel = true; }, "Could not create requester panel!"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    host.resetCounts();
    bool ran = false;
    const char* message = open([&](PanelModel&) { ran = true; });
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message, c.message);
    EXPECT_FALSE(ran);
    EXPECT_EQ(host.counts().runPanel, 0);
    // What building made is given back.
    for (const auto& p : host.panels()) EXPECT_TRUE(p->freed);
    for (const auto& r : host.rasters()) EXPECT_TRUE(r->freed);
    for (const auto& x : host.xpanels()) EXPECT_TRUE(x->freed);
    EXPECT_EQ(inst->panel, nullptr);
    EXPECT_EQ(inst->raster, nullptr);
    for (const char* s :
         {PanelHost::kPanelServices, PanelHost::kRasterServices, PanelHost::kXPanelServices}) {
      host.offer(s);
    }
    host.failNewPanel = host.failNewRaster = host.failNewXPanel = false;
  }
  // A later step is not tried after an earlier one failed.
  host.failNewRaster = true;
  host.resetCounts();
  open();
  EXPECT_EQ(host.counts().newXPanel, 0);
}

TEST_F(DialogTest, OpensCentredUnlessAPositionIsRemembered) {
  struct Case {
    int screenW, screenH, rememberedX, rememberedY, x, y;
  } cases[] = {
      {1920, 1080, -1, -1, 798, 355},
      {1920, 1080, -1, 200, 798, 355},  // one -1 is enough to centre both
      {1920, 1080, 50, -1, 798, 355},
      {1023, 768, -1, -1, 349, 199},
      {300, 300, -1, -1, -12, -35},  // (300 - 324) / 2 truncates toward zero
      {301, 301, -1, -1, -11, -34},
      {1920, 1080, 10, 20, 10, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.screenW << "x" << c.screenH << " at " << c.rememberedX
                                      << "," << c.rememberedY);
    host.setScreen(c.screenW, c.screenH);
    inst->panelX = c.rememberedX;
    inst->panelY = c.rememberedY;
    open([&](PanelModel& panel) {
      EXPECT_EQ(panel.x, c.x);
      EXPECT_EQ(panel.y, c.y);
    });
    EXPECT_EQ(inst->panelX, c.x);
    EXPECT_EQ(inst->panelY, c.y);
  }
}

TEST_F(DialogTest, RemembersWhereThePanelWasMovedToForTheNextOpening) {
  open([&](PanelModel& panel) { host.move(panel, 123, 45); });
  EXPECT_EQ(inst->panelX, 123);
  EXPECT_EQ(inst->panelY, 45);
  open([&](PanelModel& panel) {
    EXPECT_EQ(panel.x, 123);
    EXPECT_EQ(panel.y, 45);
  });
}

TEST_F(DialogTest, ReopeningAfterAPanStartsAtTheCornerWithTheSameChannelAndZoom) {
  giveFrame(1000, 800, where);
  open([&](PanelModel& panel) {
    host.choose(control(panel, 1), 1);
    host.choose(control(panel, 2), 2);
    host.drag(control(panel, 5), 200, 200, 20, 50);
    EXPECT_EQ(inst->viewX, 180);
    EXPECT_EQ(inst->viewY, 150);
  });
  inst->autoUpdate = 1;
  open([&](PanelModel& panel) {
    EXPECT_EQ(inst->viewX, 0);
    EXPECT_EQ(inst->viewY, 0);
    EXPECT_EQ(inst->dragX, 0);
    EXPECT_EQ(inst->dragY, 0);
    EXPECT_EQ(inst->refreshPreview, 1) << "the opening takes Auto";
    EXPECT_EQ(control(panel, 1).value, 1);
    EXPECT_EQ(control(panel, 2).value, 2);
    EXPECT_EQ(control(panel, 4).value, 1);
  });
}

TEST_F(DialogTest, PropertyPanelIsBuiltFromTheTablesAndShowsTheSettings) {
  inst->enable = 0;
  inst->target = 1;
  inst->threshold = 200;
  inst->strength = 40;
  open([&](PanelModel& panel) {
    XPanelModel& xp = xpanel(panel);
    EXPECT_EQ(xp.kind, 2);
    ASSERT_EQ(xp.controls.size(), 4u);
    const char* labels[] = {"Enable", "Target", "Threshold", "Strength"};
    const char* classes[] = {"iBoolean", "iPopChoice", "integer", "integer"};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(xp.controls[i].id, 0x8001 + i);
      EXPECT_STREQ(xp.controls[i].label, labels[i]);
      EXPECT_STREQ(xp.controls[i].controlClass, classes[i]);
      EXPECT_EQ(xp.data[i].id, 0x8001 + i);
      EXPECT_STREQ(xp.data[i].name, labels[i]);
      EXPECT_STREQ(xp.data[i].dataType, "integer");
    }
    EXPECT_EQ(xp.choices[0x8002], (std::vector<std::string>{"RGB", "Alpha", "RGBA"}));
    EXPECT_EQ(xp.ranges[0x8003], std::make_pair(0, 255));
    EXPECT_EQ(xp.ranges[0x8004], std::make_pair(0, 100));
    EXPECT_EQ(xp.idList, std::vector<int>{0x8004});
    EXPECT_EQ(xp.change, cb_ORUxpanel);
    EXPECT_EQ(xp.userData[0], inst);
    EXPECT_EQ(xp.values[0x8001], 0);
    EXPECT_EQ(xp.values[0x8002], 1);
    EXPECT_EQ(xp.values[0x8003], 200);
    EXPECT_EQ(xp.values[0x8004], 40);
  });
}

TEST_F(DialogTest, PropertyPanelChangesGoStraightIntoTheInstance) {
  open([&](PanelModel& panel) {
    XPanelModel& xp = xpanel(panel);
    host.setFormValue(xp, 0x8001, 0);
    EXPECT_EQ(inst->enable, 0);
    host.setFormValue(xp, 0x8001, 0x101);  // the low byte
    EXPECT_EQ(inst->enable, 1);
    host.setFormValue(xp, 0x8002, 0);
    EXPECT_EQ(inst->target, 0);
    // Not clamped: the ranges are the hints' business.
    host.setFormValue(xp, 0x8003, 300);
    EXPECT_EQ(inst->threshold, 300);
    host.setFormValue(xp, 0x8004, -5);
    EXPECT_EQ(inst->strength, -5);
    // Another id, and events other than a new value, change nothing.
    host.setFormValue(xp, 0x8009, 7);
    xp.values[0x8004] = 77;
    cb_ORUxpanel(&xp, 0x8004, 0x8004, 1);
    EXPECT_EQ(inst->strength, -5);
    // With Auto off nothing is redrawn.
    EXPECT_EQ(control(panel, 5).drawModes.size(), 1u);
    EXPECT_EQ(inst->refreshPreview, 0);
  });
  // After closing the changes stay.
  EXPECT_EQ(inst->threshold, 300);
}

TEST_F(DialogTest, WithAutoOnThresholdAndStrengthRedrawTheCanvasButTargetDoesNot) {
  inst->autoUpdate = 1;
  open([&](PanelModel& panel) {
    XPanelModel& xp = xpanel(panel);
    auto& canvasDraws = control(panel, 5).drawModes;
    inst->refreshPreview = 0;
    host.setFormValue(xp, 0x8002, 1);  // "Alpha"
    host.setFormValue(xp, 0x8001, 0);
    EXPECT_EQ(inst->target, 1);
    EXPECT_EQ(canvasDraws.size(), 1u);
    EXPECT_EQ(inst->refreshPreview, 0);

    host.setFormValue(xp, 0x8003, 100);
    EXPECT_EQ(inst->refreshPreview, 1);
    EXPECT_EQ(canvasDraws.back(), DRAW_REFRESH);
    inst->refreshPreview = 0;
    host.setFormValue(xp, 0x8004, 50);
    EXPECT_EQ(inst->refreshPreview, 1);
    EXPECT_EQ(canvasDraws.size(), 3u);
  });
}

// A host that reports the values the dialog pushes, while the dialog is
// still being built and before the canvas exists, must not make the module
// redraw a canvas of an earlier opening.
TEST_F(DialogTest, PushedValuesReportedDuringBuildingRedrawNothing) {
  inst->autoUpdate = 1;
  host.reportPushedValues = true;
  open();
  host.resetCounts();
  EXPECT_EQ(open([&](PanelModel&) {}), nullptr);
  EXPECT_EQ(host.counts().changeEvents, 8) << "four values at building, four before running";
  // Only the pushes after the canvas exists (RedrawPanel's) redraw it.
  const auto& draws = host.lastPanel()->controls[5]->drawModes;
  EXPECT_EQ(draws.front(), DRAW_NORMAL);
  EXPECT_EQ(std::count(draws.begin(), draws.end(), DRAW_REFRESH), 2);
}

TEST_F(DialogTest, RedrawConSetsStatesAsItsModeSays) {
  open([&](PanelModel& panel) {
    struct Case {
      int mode, live;
      std::vector<int> draws;
    } cases[] = {{0, 0, {DRAW_HIDE}}, {1, 0, {DRAW_DISABLED}}, {2, 1, {DRAW_NORMAL}}, {7, 1, {}}};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.mode);
      for (auto& m : panel.controls) m->drawModes.clear();
      RedrawCon(inst, 2, c.mode);
      EXPECT_EQ(inst->controlLive[2], c.live);
      EXPECT_EQ(control(panel, 2).drawModes, c.draws);
    }

    for (auto& m : panel.controls) m->drawModes.clear();
    RedrawConS(inst, 1, 4, 1);
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(inst->controlLive[i], i >= 1 && i <= 4 ? 0 : 1) << i;
      EXPECT_EQ(control(panel, i).drawModes.size(), i >= 1 && i <= 4 ? 1u : 0u) << i;
    }
    RedrawConS(inst, 4, 3, 2);  // first above last: none
    EXPECT_EQ(inst->controlLive[3], 0);
  });
}

TEST_F(DialogTest, ControlsDoNothingWhileTheirFlagIsClear) {
  giveFrame(320, 240, where);
  open([&](PanelModel& panel) {
    RedrawConS(inst, 1, 5, 1);
    for (auto& m : panel.controls) m->drawModes.clear();
    control(panel, 1).value = 1;
    control(panel, 2).value = 3;
    control(panel, 4).value = 1;
    cb_ORU_POP_PREV(control(panel, 1).asControl(), inst);
    cb_ORU_SLI_ZOOM(control(panel, 2).asControl(), inst);
    cb_ORU_BUT_REF(control(panel, 3).asControl(), inst);
    cb_ORU_BOOL_AUTO(control(panel, 4).asControl(), inst);
    EXPECT_EQ(inst->previewChannel, 0);
    EXPECT_EQ(inst->zoom, 0);
    EXPECT_EQ(inst->autoUpdate, 0);
    EXPECT_EQ(inst->refreshPreview, 0);
    // The canvas follows drags whatever its flag.
    control(panel, 5).vec = {10, 10, 0};
    cb_ORU_CNV_PREV(control(panel, 5).asControl(), inst);
    EXPECT_EQ(inst->dragX, 10);
    EXPECT_EQ(control(panel, 5).drawModes.size(), 0u);
  });
}

TEST_F(DialogTest, ZoomOutsideTheSliderIsKeptWithinIt) {
  open([&](PanelModel& panel) {
    control(panel, 2).value = 9;
    cb_ORU_SLI_ZOOM(control(panel, 2).asControl(), inst);
    EXPECT_EQ(inst->zoom, 3);
    control(panel, 2).value = -1;
    cb_ORU_SLI_ZOOM(control(panel, 2).asControl(), inst);
    EXPECT_EQ(inst->zoom, 0);
  });
}

}  // namespace
}  // namespace oru_test
