// The options dialog under test: the module's instance, the runner's
// headless panel host, and frames put straight into the working planes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "filter/heap.h"
#include "filter/oru.h"
#include "runner/host/host_services.h"
#include "runner/panel/panel_host.h"

namespace oru_test {

using oru_runner::ControlModel;
using oru_runner::HeadlessBackend;
using oru_runner::PanelHost;
using oru_runner::PanelModel;
using oru_runner::XPanelModel;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    global_func = oru_runner::hostLookup;
    inst = OruCreate(nullptr);
    ASSERT_NE(inst, nullptr);
  }
  void TearDown() override { OruDestroy(inst); }

  // Opens the dialog; play acts on the panel while it is open.
  const char* open(std::function<void(PanelModel&)> play = {}) {
    backend.setPlayer([play](PanelHost&, PanelModel& panel) {
      if (play) play(panel);
    });
    return OruOptions(inst);
  }

  // Gives the instance a last frame, as a frame run leaves it: the planes
  // hold pixel(x, y) for every pixel.
  void giveFrame(int width, int height, const std::function<Pixel(int, int)>& pixel) {
    for (int c = 0; c < 4; ++c) {
      heapFree(inst->planes[c]);
      inst->planes[c] = static_cast<std::uint8_t*>(heapAlloc(static_cast<size_t>(width) * height));
    }
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        Pixel p = pixel(x, y);
        const int at = y * width + x;
        inst->planes[0][at] = p.r;
        inst->planes[1][at] = p.g;
        inst->planes[2][at] = p.b;
        inst->planes[3][at] = p.a;
      }
    }
    inst->width = width;
    inst->height = height;
    inst->processed = 1;
  }

  // A frame in which every pixel tells where it is.
  static Pixel where(int x, int y) {
    return Pixel{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                 static_cast<std::uint8_t>(x + y), static_cast<std::uint8_t>(x ^ y)};
  }

  static ControlModel& control(PanelModel& panel, int index) { return *panel.controls.at(index); }
  XPanelModel& xpanel(PanelModel& panel) { return *host.xpanelOf(panel); }
  const std::uint8_t* rasterPixel(int x, int y) {
    auto* raster = host.lastRaster();
    return &raster->rgb[(static_cast<size_t>(y) * raster->width + x) * 3];
  }

  HeadlessBackend backend;
  PanelHost host{&backend};
  FilterInstance* inst = nullptr;
};

}  // namespace oru_test
