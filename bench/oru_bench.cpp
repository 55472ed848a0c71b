// Times OruProcess as the host calls it: oru.p loaded through the runner's
// loader, one instance, one frame per iteration, smoothing on (RGBA,
// defaults) and off (enable 0: the conversion floor). Prints CPU ms per frame,
// megapixels per second and the ratio on / off for each frame size, both from
// the separate runs and as the median of frames timed in turns.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <vector>

#include "bench/test_frames.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/oru.h"
#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"

oru_runner::LoadedModule& oru_bench::loadedModule() {
  static oru_runner::LoadedModule m = [] { return oru_runner::LoadedModule(ORU_MODULE_FILE); }();
  return m;
}

namespace {

oru_runner::LoadedModule& module() {
  return oru_bench::loadedModule();
}

// Milliseconds per frame of the last run of each (width, smoothing) case.
std::map<std::pair<int, bool>, double> msPerFrame;

void processFrames(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const bool smoothing = state.range(2) != 0;
  oru_runner::FilterHandle handle(module());
  // enable is not a saved setting: the bench sets it in the instance record,
  // whose layout it shares with the module.
  handle.get()->enable = smoothing ? 1 : 0;
  oru_runner::HostFrame frame(width, height);
  oru_bench::paintRenderedFrame(frame);

  // CPU time of this thread, as for the worst cases: the machine may be shared.
  double total = 0;
  for (auto _ : state) {
    const double start = oru_bench::threadNanoseconds();
    frame.run([&](const FilterAccess& a) { handle.process(a); });
    total += oru_bench::threadNanoseconds() - start;
  }
  msPerFrame[{width, smoothing}] = total / 1e6 / static_cast<double>(state.iterations());
  state.counters["MP/s"] = benchmark::Counter(width * static_cast<double>(height) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(smoothing ? "smoothing on (RGBA, defaults)" : "smoothing off");
}

BENCHMARK(processFrames)
    ->ArgNames({"w", "h", "on"})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond);

// The ratio on / off of the same frame, the two timed in turns on two
// instances, off first in one pair and on first in the next: on a machine
// shared with other virtual machines the times of whole stretches of a run
// swing by a third, which the separate runs above each meet at another
// moment. The median of the pairs' ratios.
std::map<int, double> pairedRatio;

void frameRatio(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  oru_runner::FilterHandle on(module()), off(module());
  on.get()->enable = 1;
  off.get()->enable = 0;
  oru_runner::HostFrame frame(width, height);
  oru_bench::paintRenderedFrame(frame);
  auto time = [&](oru_runner::FilterHandle& handle) {
    const double start = oru_bench::threadNanoseconds();
    frame.run([&](const FilterAccess& a) { handle.process(a); });
    return oru_bench::threadNanoseconds() - start;
  };
  std::vector<double> ratios;
  for (auto _ : state) {
    const bool onFirst = ratios.size() % 2 == 1;
    const double first = time(onFirst ? on : off), second = time(onFirst ? off : on);
    ratios.push_back(onFirst ? first / second : second / first);
  }
  std::sort(ratios.begin(), ratios.end());
  const std::size_t n = ratios.size();
  const double median = n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
  pairedRatio[width] = median;
  state.counters["on/off"] = median;
  state.SetLabel("median of on / off, timed in turns");
}

BENCHMARK(frameRatio)
    ->ArgNames({"w", "h"})
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  module().activateHandler(oru_runner::hostLookup);
  // The scan's figures (the engine linked in) with the build ORU_BENCH_SCAN_BUILD
  // names, as the tests name them (1 SSE2, 2 AVX2, 3 portable; 0 or unset: the
  // best the processor runs). The loaded module always takes the best.
  if (const char* build = std::getenv("ORU_BENCH_SCAN_BUILD")) planeScanBuild = std::atoi(build);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  // The module chooses its scan's build as the engine linked in here does.
  std::printf("\nThe scan's build on this processor: %s\n",
              planeScanHasAvx512() ? "AVX-512"
              : planeScanHasAvx2() ? "AVX2"
              : planeScanHasSse2() ? "SSE2 (no AVX2, BMI1, BMI2, LZCNT and POPCNT here)"
                                   : "portable (no SSE2 build)");
  std::printf("\n%-10s %12s %12s %10s %10s %8s %8s\n", "frame", "on ms", "off ms", "on MP/s",
              "off MP/s", "on/off", "in turns");
  for (int width : {1920, 3840}) {
    auto on = msPerFrame.find({width, true}), off = msPerFrame.find({width, false});
    if (on == msPerFrame.end() || off == msPerFrame.end()) continue;
    const double mp = width * (width * 9.0 / 16.0) / 1e6;
    auto paired = pairedRatio.find(width);
    std::printf("%-10s %12.2f %12.2f %10.1f %10.1f %8.2f",
                width == 1920 ? "1920x1080" : "3840x2160", on->second, off->second,
                mp / on->second * 1e3, mp / off->second * 1e3, on->second / off->second);
    if (paired != pairedRatio.end()) {
      std::printf(" %8.2f", paired->second);
    } else {
      std::printf(" %8s", "-");
    }
    std::printf("\n");
  }
  oru_bench::printWorstCases();
  oru_bench::printScanFigures();
  return 0;
}
