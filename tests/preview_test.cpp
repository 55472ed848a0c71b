// The preview canvas: what it paints, where the window goes, panning, the
// view popup, zoom, "update" and "Auto".
#include "filter/engine/pixel_ops.h"
#include "tests/dialog_support.h"
#include "ui/ctrl.h"

namespace oru_test {
namespace {

class PreviewTest : public DialogTest {
 protected:
  // Repaints the canvas from the working planes and gives the fillBox calls.
  long repaint(PanelModel& panel) {
    const long before = host.counts().fillBox;
    inst->refreshPreview = 0;
    host.drawControl(control(panel, 5), DRAW_REFRESH);
    return host.counts().fillBox - before;
  }
  // The canvas pixel (x, y) as it stands on the panel.
  const std::uint8_t* onPanel(PanelModel& panel, int x, int y) {
    return &panel.pixels[(static_cast<size_t>(128 + y) * panel.width + 4 + x) * 3];
  }
};

TEST_F(PreviewTest, BeforeAnyFramePaintsNothing) {
  inst->autoUpdate = 1;
  EXPECT_EQ(open([&](PanelModel& panel) {
              host.press(control(panel, 3));
              host.choose(control(panel, 2), 2);
              host.drag(control(panel, 5), 0, 0, 30, 30);
            }),
            nullptr);
  EXPECT_EQ(host.counts().fillBox, 0);
  EXPECT_EQ(host.counts().copyToPanel, 0);
}

TEST_F(PreviewTest, PaintsNothingWhileABufferFailureIsRecorded) {
  giveFrame(320, 240, where);
  for (int which = 0; which < 2; ++which) {
    inst->processError = which == 0;
    inst->createError = which == 1;
    open([&](PanelModel& panel) { host.press(control(panel, 3)); });
    EXPECT_EQ(host.counts().fillBox, 0);
    EXPECT_EQ(host.counts().copyToPanel, 0);
  }
  inst->createError = 0;
}

TEST_F(PreviewTest, OneFillBoxPerWindowPixelAtEachZoom) {
  giveFrame(640, 480, where);
  const long expected[] = {76800, 19200, 4800, 1200};
  open([&](PanelModel& panel) {
    for (int zoom = 0; zoom < 4; ++zoom) {
      SCOPED_TRACE(zoom);
      host.choose(control(panel, 2), zoom);
      EXPECT_EQ(repaint(panel), expected[zoom]);
    }
  });
}

TEST_F(PreviewTest, PaintsTheFrameAsItCameInAndCopiesTheWholeRaster) {
  giveFrame(400, 300, where);
  open([&](PanelModel& panel) {
    const long copies = host.counts().copyToPanel;
    repaint(panel);
    EXPECT_EQ(host.counts().copyToPanel - copies, 1);
    for (int y : {0, 17, 239}) {
      for (int x : {0, 5, 319}) {
        const Pixel p = where(x, y);
        const std::uint8_t* r = rasterPixel(x, y);
        EXPECT_EQ(r[0], p.r);
        EXPECT_EQ(r[1], p.g);
        EXPECT_EQ(r[2], p.b);
        EXPECT_EQ(0, std::memcmp(onPanel(panel, x, y), r, 3)) << "copied onto the canvas";
      }
    }
  });
}

TEST_F(PreviewTest, AlphaViewPaintsGreyFromAlphaAlone) {
  giveFrame(320, 240, [](int x, int y) {
    return Pixel{200, 10, 60, static_cast<std::uint8_t>((x * 3 + y) & 0xff)};
  });
  open([&](PanelModel& panel) {
    host.choose(control(panel, 1), 1);
    EXPECT_EQ(inst->previewChannel, 1);
    for (int y : {0, 100}) {
      for (int x : {0, 1, 250}) {
        const std::uint8_t a = static_cast<std::uint8_t>((x * 3 + y) & 0xff);
        const std::uint8_t* r = rasterPixel(x, y);
        EXPECT_EQ(r[0], a);
        EXPECT_EQ(r[1], a);
        EXPECT_EQ(r[2], a);
      }
    }
  });
}

TEST_F(PreviewTest, SmallFramePaintsItsOwnSizeAndStaysAtTheCorner) {
  giveFrame(100, 50, where);
  open([&](PanelModel& panel) {
    EXPECT_EQ(repaint(panel), 100 * 50);
    host.drag(control(panel, 5), 50, 50, 0, 0);
    EXPECT_EQ(inst->viewX, 0);
    EXPECT_EQ(inst->viewY, 0);
    host.drag(control(panel, 5), 0, 0, 90, 40);
    EXPECT_EQ(inst->viewX, 0);
    EXPECT_EQ(inst->viewY, 0);
    // The raster outside 100 x 50 keeps what it held: a new raster is black.
    EXPECT_EQ(rasterPixel(99, 49)[0], 99);
    for (auto [x, y] : {std::pair{100, 0}, {0, 50}, {319, 239}}) {
      const std::uint8_t* r = rasterPixel(x, y);
      EXPECT_EQ(r[0] | r[1] | r[2], 0) << x << "," << y;
    }
  });
}

TEST_F(PreviewTest, LargeFrameAtZoom2PaintsSquaresAndKeepsTheViewInside) {
  giveFrame(1000, 800, where);
  open([&](PanelModel& panel) {
    host.choose(control(panel, 2), 2);
    EXPECT_EQ(repaint(panel), 80 * 60);
    // Each frame pixel is a 4 x 4 square.
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) EXPECT_EQ(rasterPixel(x, y)[0], x / 4) << x << "," << y;
    }
    ControlModel& canvas = control(panel, 5);
    const int moves[][4] = {{300, 200, 0, 0},   {0, 0, 300, 200}, {310, 230, 0, 0},
                            {10, 10, 319, 239}, {0, 0, 319, 239}, {319, 239, 0, 0},
                            {319, 239, 0, 0},   {319, 239, 0, 0}, {0, 0, 319, 239}};
    for (const auto& m : moves) {
      host.drag(canvas, m[0], m[1], m[2], m[3]);
      EXPECT_GE(inst->viewX, 0);
      EXPECT_LE(inst->viewX, 920);
      EXPECT_GE(inst->viewY, 0);
      EXPECT_LE(inst->viewY, 740);
    }
    for (int i = 0; i < 4; ++i) host.drag(canvas, 0, 0, 319, 239);
    EXPECT_EQ(inst->viewX, 0);
    EXPECT_EQ(inst->viewY, 0);
    for (int i = 0; i < 4; ++i) host.drag(canvas, 319, 239, 0, 0);
    EXPECT_EQ(inst->viewX, 920);
    EXPECT_EQ(inst->viewY, 740);
    EXPECT_EQ(rasterPixel(0, 0)[0], static_cast<std::uint8_t>(920));
    EXPECT_EQ(rasterPixel(319, 239)[1], static_cast<std::uint8_t>(740 + 59));
  });
}

TEST_F(PreviewTest, DraggingFarLeftPushesTheViewAndTheDrawFitsItBack) {
  giveFrame(500, 300, where);
  open([&](PanelModel& panel) {
    ControlModel& canvas = control(panel, 5);
    canvas.vec = {300, 10, 0};
    cb_ORU_CNV_PREV(canvas.asControl(), inst);
    // One report far to the left moves the view by the whole distance (the
    // host's redraw is held back here to see it); the draw fits it back.
    canvas.draw = nullptr;
    canvas.vec = {-700, 10, 1};
    cb_ORU_CNV_PREV(canvas.asControl(), inst);
    EXPECT_EQ(inst->viewX, 1000) << "pushed up by the drag";
    canvas.draw = draw_ORU_CNV_PREV;
    host.drawControl(canvas, DRAW_REFRESH);
    EXPECT_EQ(inst->viewX, 500 - 320);
    EXPECT_EQ(inst->viewY, 0);
    EXPECT_EQ(inst->refreshPreview, 0);
    EXPECT_EQ(inst->dragX, -700);
  });
}

TEST_F(PreviewTest, AFirstReportThatIsAlreadyAMoveCountsFromTheLastPoint) {
  giveFrame(2000, 2000, where);
  open([&](PanelModel& panel) {
    ControlModel& canvas = control(panel, 5);
    canvas.vec = {-30, -40, 1};  // right after opening the last point is 0, 0
    cb_ORU_CNV_PREV(canvas.asControl(), inst);
    EXPECT_EQ(inst->viewX, 30);
    EXPECT_EQ(inst->viewY, 40);
    // Every zoom moves one frame pixel per canvas pixel.
    host.choose(control(panel, 2), 3);
    host.drag(canvas, 100, 100, 90, 95);
    EXPECT_EQ(inst->viewX, 40);
    EXPECT_EQ(inst->viewY, 45);
  });
}

TEST_F(PreviewTest, AutoOnRecomputesOnAZoomChangeAndAutoOffDoesNot) {
  giveFrame(640, 480, where);
  open([&](PanelModel& panel) {
    host.setToggle(control(panel, 4), false);
    host.choose(control(panel, 2), 1);
    EXPECT_EQ(inst->refreshPreview, 0);
    EXPECT_NE(inst->pixelOps.getSrc, readB) << "shows the frame as it came in";
    EXPECT_EQ(rasterPixel(2, 0)[0], 1) << "at the new zoom";

    host.setToggle(control(panel, 4), true);
    EXPECT_EQ(inst->autoUpdate, 1);
    EXPECT_EQ(inst->refreshPreview, 0) << "the toggle alone redraws nothing";
    host.choose(control(panel, 2), 2);
    EXPECT_EQ(inst->refreshPreview, 1);
    EXPECT_EQ(inst->pixelOps.getSrc, readB);
    EXPECT_EQ(inst->pixelOps.getDst, readP);
    EXPECT_EQ(inst->pixelOps.putDst, writeP);
    EXPECT_EQ(inst->pixelOps.getSrcA, readB_a);
    EXPECT_EQ(inst->pixelOps.getDstA, readP_a);
    EXPECT_EQ(inst->pixelOps.putDstA, writeP_a);
  });
}

TEST_F(PreviewTest, TheRecomputeTakesTheCurrentSettingsAndTheWindowOfTheFrame) {
  giveFrame(700, 500, where);
  inst->strength = 60;
  inst->threshold = 180;
  inst->target = 1;
  inst->enable = 0;  // the preview smooths all the same
  open([&](PanelModel& panel) {
    host.drag(control(panel, 5), 100, 100, 0, 20);
    host.press(control(panel, 3));
    EXPECT_EQ(inst->refreshPreview, 1);
    EXPECT_EQ(inst->workStrength, 60);
    EXPECT_EQ(inst->workThreshold, 180);
    EXPECT_EQ(inst->workMode, 2);
    EXPECT_EQ(inst->pixelOps.getSrc, readB);
    // The window was copied into the preview planes at its own origin.
    EXPECT_EQ(inst->viewX, 100);
    EXPECT_EQ(inst->viewY, 80);
    const Pixel corner = where(100, 80);
    EXPECT_EQ(inst->previewPlanes[0][0], corner.r);
    EXPECT_EQ(inst->previewPlanes[1][0], corner.g);
    // A drag shows the frame as it came in again.
    host.drag(control(panel, 5), 0, 0, 1, 1);
    EXPECT_EQ(inst->refreshPreview, 0);
  });
}

TEST_F(PreviewTest, ViewPopupAndUpdateRedrawTheCanvas) {
  giveFrame(320, 240, where);
  open([&](PanelModel& panel) {
    auto& draws = control(panel, 5).drawModes;
    host.choose(control(panel, 1), 1);
    EXPECT_EQ(draws.back(), DRAW_REFRESH);
    EXPECT_EQ(inst->refreshPreview, 0);
    host.press(control(panel, 3));
    EXPECT_EQ(inst->refreshPreview, 1);
    EXPECT_EQ(draws.size(), 3u);
    host.setToggle(control(panel, 4), true);
    EXPECT_EQ(draws.size(), 3u) << "the toggle does not redraw";
  });
}

}  // namespace
}  // namespace oru_test
