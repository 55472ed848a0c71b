// The options dialog's preview: how long the canvas takes to answer a
// change, measured through the runner's headless panel host exactly as a
// user's action reaches the module.
//
//   build/dialog_bench
#include <benchmark/benchmark.h>

#include <functional>

#include "bench/test_frames.h"
#include "filter/engine/engine.h"
#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/scan.h"
#include "filter/oru.h"
#include "filter/work_settings.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_services.h"
#include "runner/panel/panel_host.h"

namespace {

using oru_runner::ControlModel;
using oru_runner::HeadlessBackend;
using oru_runner::HostFrame;
using oru_runner::PanelHost;
using oru_runner::PanelModel;

// Processes a frame of the given size, opens the dialog, and hands the
// running panel to measure.
void withDialog(int width, int height,
                const std::function<void(PanelHost&, PanelModel&)>& measure) {
  global_func = oru_runner::hostLookup;
  FilterInstance* inst = OruCreate(nullptr);
  {
    HostFrame frame(width, height);
    oru_bench::paintRenderedFrame(frame);
    frame.run([inst](const FilterAccess& access) { OruProcess(inst, &access); });
  }
  HeadlessBackend backend(measure);
  PanelHost host(&backend);
  OruOptions(inst);
  OruDestroy(inst);
}

ControlModel& control(PanelModel& panel, int index) {
  return *panel.controls.at(index);
}

// "update": the window of the frame is smoothed again and painted.
void PreviewRecompute(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  withDialog(width, height, [&](PanelHost& host, PanelModel& panel) {
    host.choose(control(panel, 2), static_cast<int>(state.range(2)));
    for (auto _ : state) host.press(control(panel, 3));
  });
}
BENCHMARK(PreviewRecompute)
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 3})
    ->Args({3840, 2160, 0})
    ->Unit(benchmark::kMillisecond);

// A Threshold change with Auto on: what moving the slider costs.
void ThresholdChangeWithAuto(benchmark::State& state) {
  withDialog(1920, 1080, [&](PanelHost& host, PanelModel& panel) {
    host.setToggle(control(panel, 4), true);
    oru_runner::XPanelModel& xp = *host.xpanelOf(panel);
    int threshold = 200;
    for (auto _ : state) host.setFormValue(xp, 0x8003, threshold++ % 2 ? 200 : 201);
  });
}
BENCHMARK(ThresholdChangeWithAuto)->Unit(benchmark::kMillisecond);

// One drag move: the frame as it came in, painted at the new place.
void PanRedraw(benchmark::State& state) {
  withDialog(1920, 1080, [&](PanelHost& host, PanelModel& panel) {
    ControlModel& canvas = control(panel, 5);
    host.dragReport(canvas, 100, 100, false);
    int step = 0;
    for (auto _ : state) host.dragReport(canvas, 100 + (step++ % 2), 100, true);
  });
}
BENCHMARK(PanRedraw)->Unit(benchmark::kMillisecond);

}  // namespace

// The smoothing part of a recompute alone, without the copy into the window
// or the painting: the window in the middle of a processed 1920 x 1080
// frame at zoom 0, by the engine's own choice of scan (fast: 1) and through
// the routine table (0), the reference it is proven against.
void PreviewSmoothingOnly(benchmark::State& state) {
  global_func = oru_runner::hostLookup;
  FilterInstance* inst = OruCreate(nullptr);
  HostFrame frame(1920, 1080);
  oru_bench::paintRenderedFrame(frame);
  frame.run([inst](const FilterAccess& access) { OruProcess(inst, &access); });
  inst->viewX = (1920 - kPreviewWidth) / 2;
  inst->viewY = (1080 - kPreviewHeight) / 2;
  inst->zoom = 0;
  inst->pixelOps = previewRunOps();
  copyWorkSettings(inst);
  const bool fast = state.range(0) != 0;
  for (auto _ : state) {
    if (fast) {
      smooth(nullptr, inst, 0);
    } else {
      smoothThroughTable(nullptr, inst, 0);
    }
  }
  state.SetLabel(fast ? "byte-plane scan" : "through the routine table");
  OruDestroy(inst);
}
BENCHMARK(PreviewSmoothingOnly)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
