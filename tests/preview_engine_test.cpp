// The smoothed preview against the engine: a frame run over a frame the
// size of the window, and the engine driven directly with the preview
// routines on the same window.
#include <cmath>

#include "filter/engine/engine.h"
#include "filter/engine/pixel_ops.h"
#include "runner/host/frame_access.h"
#include "tests/dialog_support.h"

namespace oru_test {
namespace {

using oru_runner::HostFrame;

// Aliased edges in colour and alpha: slanted bands and hard discs, with
// every sample an exact byte value.
std::uint8_t sampleByte(int channel, int x, int y) {
  const bool band = ((x * 3 + y * 7) / 37) % 2 == 0;
  const int cx = x % 90 - 45, cy = y % 70 - 35;
  const bool disc = cx * cx + cy * cy < 25 * 25;
  switch (channel) {
    case 0:
      return disc ? 230 : (band ? 20 : 160);
    case 1:
      return disc ? 40 : (band ? 90 : 210);
    case 2:
      return band ? 180 : 30;
    default:
      return disc ? 255 : (band ? 0 : 128);
  }
}

class PreviewEngineTest : public DialogTest {
 protected:
  // Runs a frame of the given size through OruProcess; gives its output
  // as bytes, plane by plane.
  std::vector<std::uint8_t> processFrame(int width, int height) {
    HostFrame frame(width, height);
    for (int c = 0; c < 4; ++c) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) frame.in(c, x, y) = sampleByte(c, x, y) / 255.0f;
      }
    }
    frame.run([this](const FilterAccess& access) { OruProcess(inst, &access); });
    std::vector<std::uint8_t> out(static_cast<size_t>(width) * height * 4);
    for (int c = 0; c < 4; ++c) {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          out[(static_cast<size_t>(c) * height + y) * width + x] =
              static_cast<std::uint8_t>(std::lround(frame.out(c, x, y) * 255.0f));
        }
      }
    }
    return out;
  }

  // The preview planes the engine gives for the window at (viewX, viewY)
  // and zoom, driven directly on a fresh instance holding the same frame.
  std::vector<std::uint8_t> engineWindow(int viewX, int viewY, int zoom) {
    FilterInstance* direct = OruCreate(nullptr);
    direct->width = inst->width;
    direct->height = inst->height;
    for (int c = 0; c < 4; ++c) direct->planes[c] = inst->planes[c];
    const int columns = std::min(inst->width, kPreviewWidth >> zoom);
    const int rows = std::min(inst->height, kPreviewHeight >> zoom);
    for (int c = 0; c < 4; ++c) {
      for (int j = 0; j < rows; ++j) {
        for (int k = 0; k < columns; ++k) {
          direct->previewPlanes[c][j * kPreviewWidth + k] =
              inst->planes[c][(viewY + j) * inst->width + viewX + k];
        }
      }
    }
    direct->viewX = viewX;
    direct->viewY = viewY;
    direct->zoom = zoom;
    direct->pixelOps = previewRunOps();
    direct->workStrength = inst->strength;
    direct->workThreshold = inst->threshold;
    direct->workMode = inst->target + 1;
    smooth(nullptr, direct, 0);
    std::vector<std::uint8_t> planes;
    for (int c = 0; c < 4; ++c) {
      planes.insert(planes.end(), direct->previewPlanes[c],
                    direct->previewPlanes[c] + kPreviewPlaneSize);
      direct->planes[c] = nullptr;  // the test instance's own
    }
    OruDestroy(direct);
    return planes;
  }

  std::vector<std::uint8_t> previewPlanes() const {
    std::vector<std::uint8_t> planes;
    for (int c = 0; c < 4; ++c) {
      planes.insert(planes.end(), inst->previewPlanes[c],
                    inst->previewPlanes[c] + kPreviewPlaneSize);
    }
    return planes;
  }
};

TEST_F(PreviewEngineTest, AWholeFrameAtZoom0PreviewsExactlyWhatTheFrameRunGives) {
  inst->threshold = 230;
  inst->strength = 80;
  const std::vector<std::uint8_t> output = processFrame(320, 240);
  ASSERT_EQ(inst->processed, 1);
  open([&](PanelModel& panel) {
    host.press(control(panel, 3));
    // The preview planes, all four channels, are the frame run's output.
    ASSERT_EQ(previewPlanes(), output);
    // And so is the colour the canvas shows...
    for (int y = 0; y < 240; ++y) {
      for (int x = 0; x < 320; ++x) {
        const std::uint8_t* r = rasterPixel(x, y);
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(r[c], output[(c * 240 + y) * 320 + x]) << x << "," << y << " channel " << c;
        }
      }
    }
    // ...and the alpha in the alpha view.
    host.choose(control(panel, 1), 1);
    host.press(control(panel, 3));
    for (int y = 0; y < 240; y += 3) {
      for (int x = 0; x < 320; x += 3) {
        ASSERT_EQ(rasterPixel(x, y)[0], output[(3 * 240 + y) * 320 + x]) << x << "," << y;
      }
    }
  });
  // The smoothing did something: the output differs from the frame.
  int changed = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) changed += output[y * 320 + x] != sampleByte(0, x, y);
  }
  EXPECT_GT(changed, 100);
}

TEST_F(PreviewEngineTest, OtherWindowsMatchTheEngineDrivenDirectly) {
  inst->target = 2;
  processFrame(700, 500);
  struct Case {
    int zoom, dragX, dragY, viewX, viewY;
  } cases[] = {
      {0, 100, 80, 100, 80}, {1, 57, 33, 57, 33}, {2, 900, 900, 620, 440}, {3, 5, 460, 5, 460}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zoom);
    open([&](PanelModel& panel) {
      host.choose(control(panel, 2), c.zoom);
      host.drag(control(panel, 5), c.dragX, c.dragY, 0, 0);
      host.press(control(panel, 3));
      ASSERT_EQ(inst->viewX, c.viewX);
      ASSERT_EQ(inst->viewY, c.viewY);
      // The window part of the planes is what the canvas shows.
      const std::vector<std::uint8_t> expected = engineWindow(c.viewX, c.viewY, c.zoom);
      const int side = 1 << c.zoom;
      for (int j = 0; j < (240 >> c.zoom); ++j) {
        for (int i = 0; i < (320 >> c.zoom); ++i) {
          for (int ch = 0; ch < 4; ++ch) {
            ASSERT_EQ(inst->previewPlanes[ch][j * 320 + i],
                      expected[ch * kPreviewPlaneSize + j * 320 + i])
                << i << "," << j << " channel " << ch;
          }
          const std::uint8_t* r = rasterPixel(i * side + side - 1, j * side + side - 1);
          ASSERT_EQ(r[1], expected[kPreviewPlaneSize + j * 320 + i]) << i << "," << j;
        }
      }
    });
  }
}

TEST_F(PreviewEngineTest, AFrameSmallerThanTheWindowPreviewsTheSameEveryTime) {
  processFrame(100, 50);
  std::vector<std::uint8_t> first;
  for (int round = 0; round < 2; ++round) {
    open([&](PanelModel& panel) {
      host.press(control(panel, 3));
      std::vector<std::uint8_t> shown;
      for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x)
          shown.insert(shown.end(), rasterPixel(x, y), rasterPixel(x, y) + 3);
      }
      if (round == 0) first = shown;
      EXPECT_EQ(shown, first);
      // The window equals the engine on a fresh instance, planes zero-filled.
      const std::vector<std::uint8_t> expected = engineWindow(0, 0, 0);
      for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x) {
          ASSERT_EQ(inst->previewPlanes[0][y * 320 + x], expected[y * 320 + x]) << x << "," << y;
        }
      }
    });
  }
}

// What an earlier, larger frame left in the preview planes beyond the
// window does not reach a small frame's preview.
TEST_F(PreviewEngineTest, ASmallFramePreviewsTheSameAfterALargerOne) {
  processFrame(700, 500);
  open([&](PanelModel& panel) { host.press(control(panel, 3)); });
  processFrame(100, 50);
  open([&](PanelModel& panel) {
    host.press(control(panel, 3));
    const std::vector<std::uint8_t> expected = engineWindow(0, 0, 0);
    for (int c = 0; c < 4; ++c) {
      for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < 100; ++x) {
          ASSERT_EQ(inst->previewPlanes[c][y * 320 + x],
                    expected[c * kPreviewPlaneSize + y * 320 + x])
              << x << "," << y << " channel " << c;
        }
      }
    }
  });
}

}  // namespace
}  // namespace oru_test
