// The pictures that cost the most. The scan's own work grows with the
// pixels alone, but every kernel call blends half of its run on either side
// of the step, so the cost of a frame still depends on the picture through
// the blending its result needs. Each picture here is timed per pixel
// through the loaded module, like the realistic frames, and set against the
// realistic frame of the same size (counter vs_typical: how many times its
// time per pixel the picture takes). Times are the CPU time of the running
// thread, each figure the best of its runs.
//
// Pictures: flat grey, noise, a one-pixel checkerboard, dense stair-steps
// (black and white diagonal lines, a step at every pixel), stripes (two-row
// bands: every run ends at the row's last position), and the terrace: a
// three-by-three tile in five greys at whose every position a run starts that
// is followed to the row's end, so that the pixels its kernels blend grow
// with the width squared. The terrace runs at a fixed height and doubling
// widths.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/test_frames.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/kernel_body.h"
#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/kernels.h"
#include "filter/oru.h"
#include "filter/sample_convert.h"
#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"

namespace oru_bench {

namespace {

using oru_runner::HostFrame;
using Painter = std::function<void(HostFrame&)>;

void grey(HostFrame& frame, int x, int y, float v) {
  for (int c = 0; c < 4; ++c) frame.in(c, x, y) = v;
}

void paintFlat(HostFrame& frame) {
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) grey(frame, x, y, 0.5f);
}

// The realistic frame rendered opaque (alpha 1 everywhere), as most renders
// without a matte are: the alpha passes have nothing to find.
void paintOpaque(HostFrame& frame) {
  paintRenderedFrame(frame);
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) frame.in(3, x, y) = 1.0f;
}

void paintNoise(HostFrame& frame) {
  std::mt19937 random(8);
  std::uniform_real_distribution<float> sample(0.0f, 1.0f);
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x)
      for (int c = 0; c < 4; ++c) frame.in(c, x, y) = sample(random);
}

void paintChecker(HostFrame& frame) {
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) grey(frame, x, y, static_cast<float>((x + y) % 2));
}

void paintStairs(HostFrame& frame) {
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) grey(frame, x, y, (x + y) % 3 == 2 ? 1.0f : 0.0f);
}

void paintStripes(HostFrame& frame) {
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x) grey(frame, x, y, (y / 2) % 2 ? 1.0f : 0.0f);
}

// Bytes of the terrace tile, row by row (found by searching three-by-three
// tiles for the most positions scanned).
void paintTerrace(HostFrame& frame) {
  static const int tile[3][3] = {{255, 64, 0}, {0, 0, 255}, {64, 192, 128}};
  for (int y = 0; y < frame.height(); ++y)
    for (int x = 0; x < frame.width(); ++x)
      grey(frame, x, y, static_cast<float>(tile[y % 3][x % 3] / 255.0));
}

}  // namespace

// CPU time of this thread: the machine may be shared, and a frame run is
// single-threaded.
double threadNanoseconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + static_cast<double>(t.tv_nsec);
}

namespace {

// Nanoseconds per pixel of one frame run of frame on a new instance (smoothing
// on, target RGBA, the defaults), best of runs.
double nanosecondsPerPixel(HostFrame& frame, int runs) {
  oru_runner::FilterHandle handle(loadedModule());
  double best = 0;
  for (int i = 0; i < runs; ++i) {
    double start = threadNanoseconds();
    frame.run([&](const FilterAccess& a) { handle.process(a); });
    double took = threadNanoseconds() - start;
    if (i == 0 || took < best) best = took;
  }
  return best / (static_cast<double>(frame.width()) * frame.height());
}

// The realistic frame's time per pixel at a size, measured again after every
// picture (best of three runs) on a frame kept for the size. On a machine
// shared with other virtual machines the same frame takes up to a third
// longer in some stretches of a run than in others: a picture is set against
// the realistic frame of its own stretch.
double typicalNanosecondsPerPixel(int width, int height) {
  static std::map<std::pair<int, int>, std::unique_ptr<HostFrame>> frames;
  std::unique_ptr<HostFrame>& frame = frames[std::make_pair(width, height)];
  if (!frame) {
    frame = std::make_unique<HostFrame>(width, height);
    paintRenderedFrame(*frame);
  }
  return nanosecondsPerPixel(*frame, 3);
}

// The last figures of each picture and size, in the order first measured.
struct Figure {
  std::string picture;
  int width, height;
  double nsPerPixel, vsTypical;
};
std::vector<Figure> figures;

void keepFigure(const Figure& figure) {
  for (Figure& f : figures) {
    if (f.picture == figure.picture && f.width == figure.width && f.height == figure.height) {
      f = figure;
      return;
    }
  }
  figures.push_back(figure);
}

// threshold: the instance's Threshold, as a scene may load it.
void runPicture(benchmark::State& state, const std::string& name, const Painter& paint,
                int threshold = 224) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  HostFrame frame(width, height);
  paint(frame);
  oru_runner::FilterHandle handle(loadedModule());
  handle.get()->threshold = threshold;
  // The best run, as the realistic frame's figure is its best of three:
  // the mean would set the machine's slow stretches against the other's
  // fast ones.
  double best = 0;
  for (auto _ : state) {
    double start = threadNanoseconds();
    frame.run([&](const FilterAccess& a) { handle.process(a); });
    const double took = threadNanoseconds() - start;
    if (best == 0 || took < best) best = took;
  }
  const double pixels = static_cast<double>(width) * height;
  const double perPixel = best / pixels;
  const double ratio = perPixel / typicalNanosecondsPerPixel(width, height);
  state.counters["ns/pixel"] = perPixel;
  state.counters["vs_typical"] = ratio;
  keepFigure({name, width, height, perPixel, ratio});
}

#define ORU_PICTURE(name, painter)              \
  void picture##name(benchmark::State& state) { \
    runPicture(state, #name, painter);          \
  }                                             \
  BENCHMARK(picture##name)->ArgNames({"w", "h"})->Args({1920, 1080})->Unit(benchmark::kMillisecond)

ORU_PICTURE(Flat, paintFlat);
ORU_PICTURE(Opaque, paintOpaque);
ORU_PICTURE(Noise, paintNoise)->Args({240, 48})->Args({1920, 48});
ORU_PICTURE(Checker, paintChecker);
ORU_PICTURE(Stairs, paintStairs);
ORU_PICTURE(Stripes, paintStripes);

// The terrace at a fixed height and doubling widths: per pixel, the kernels'
// work grows with the width. Twice the height costs the same per pixel, so a
// 1920 x 1080 terrace takes the 1920-wide figure per pixel (seconds a frame,
// too long to time here).
void pictureTerrace(benchmark::State& state) {
  runPicture(state, "Terrace", paintTerrace);
}
BENCHMARK(pictureTerrace)
    ->ArgNames({"w", "h"})
    ->Args({240, 48})
    ->Args({480, 48})
    ->Args({960, 48})
    ->Args({1920, 48})
    ->Args({1920, 96})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Noise at Threshold 255, the panel's highest: nearly every pair of pixels
// differs, and runs are followed far along their lines, so noise costs like
// the terrace, its time per pixel growing with the width.
void pictureNoiseThreshold255(benchmark::State& state) {
  runPicture(state, "Noise t255", paintNoise, 255);
}
BENCHMARK(pictureNoiseThreshold255)
    ->ArgNames({"w", "h"})
    ->Args({240, 48})
    ->Args({480, 48})
    ->Args({960, 48})
    ->Args({1920, 48})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// ---- The scan alone ---------------------------------------------------------------
//
// The engine's byte-plane scan, run straight on the frame's bytes (the
// engine's own code linked in, not the loaded module), to tell the scan from
// the kernels: kernel pixels per pixel (the pixels the kernel calls blend,
// which the result needs and which grow with the width on the terrace), the
// scan's time per pixel with the kernels left out (flat over the widths: the
// scan is linear), and the whole smoothing's time per pixel.

long long kernelPixels = 0, kernelCalls = 0;
void countKernelPixels(int direction, bool, int runStart, int stepPos, int runEnd, int) {
  using kernel_body::pixelsWritten;
  ++kernelCalls;
  switch (direction) {
    case 1:
      kernelPixels += pixelsWritten<1>(runStart, stepPos, runEnd);
      break;
    case 2:
      kernelPixels += pixelsWritten<2>(runStart, stepPos, runEnd);
      break;
    case 3:
      kernelPixels += pixelsWritten<3>(runStart, stepPos, runEnd);
      break;
    default:
      kernelPixels += pixelsWritten<4>(runStart, stepPos, runEnd);
      break;
  }
}

struct ScanFigure {
  std::string picture;
  int width, height;
  double callsPerPixel, kernelPixelsPerPixel, scanNsPerPixel, smoothNsPerPixel;
};
std::vector<ScanFigure> scanFigures;

void runScan(benchmark::State& state, const std::string& name, const Painter& paint,
             int threshold) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const bool kernels = state.range(2) != 0;
  HostFrame frame(width, height);
  paint(frame);
  std::vector<std::uint8_t> source[4], planes[4];
  for (int c = 0; c < 4; ++c)
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) source[c].push_back(sampleToByte(frame.in(c, x, y)));
  FilterInstance inst{};
  inst.width = width;
  inst.height = height;
  inst.workMode = 3;
  inst.workThreshold = threshold;
  inst.workStrength = 100;
  inst.pixelOps = frameRunOps();
  std::size_t bytes = 0;
  if (!frameScanNeedsBlock(width, height, 3, threshold, &bytes)) {
    state.SkipWithError("no scan");
    return;
  }
  std::vector<std::uint8_t> block(bytes);
  auto reset = [&] {
    for (int c = 0; c < 4; ++c) {
      planes[c] = source[c];
      inst.planes[c] = planes[c].data();
    }
  };
  kernelPixels = 0;
  kernelCalls = 0;
  reset();
  kernelTrace = countKernelPixels;
  smoothFramePlanes(nullptr, &inst, block.data());
  kernelTrace = nullptr;
  const double pixels = static_cast<double>(width) * height;

  kernelCallsSkipped = !kernels;
  double total = 0;
  for (auto _ : state) {
    reset();
    double start = threadNanoseconds();
    smoothFramePlanes(nullptr, &inst, block.data());
    total += threadNanoseconds() - start;
  }
  kernelCallsSkipped = false;
  const double perPixel = total / static_cast<double>(state.iterations()) / pixels;
  state.counters["ns/pixel"] = perPixel;
  state.counters["kernel_px/px"] = static_cast<double>(kernelPixels) / pixels;
  state.counters["calls/px"] = static_cast<double>(kernelCalls) / pixels;
  ScanFigure* f = nullptr;
  for (ScanFigure& g : scanFigures)
    if (g.picture == name && g.width == width && g.height == height) f = &g;
  if (!f) {
    scanFigures.push_back({name, width, height, 0, 0, 0, 0});
    f = &scanFigures.back();
  }
  f->callsPerPixel = static_cast<double>(kernelCalls) / pixels;
  f->kernelPixelsPerPixel = static_cast<double>(kernelPixels) / pixels;
  (kernels ? f->smoothNsPerPixel : f->scanNsPerPixel) = perPixel;
}

void scanWidths(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "kernels"});
  for (int kernels : {0, 1})
    for (int w : {240, 480, 960, 1920}) b->Args({w, 96, kernels});
  b->Unit(benchmark::kMillisecond);
}

void scanRendered(benchmark::State& state) {
  runScan(state, "Rendered", paintRenderedFrame, 224);
}
void scanTerrace(benchmark::State& state) {
  runScan(state, "Terrace", paintTerrace, 224);
}
void scanNoise(benchmark::State& state) {
  runScan(state, "Noise", paintNoise, 224);
}
void scanNoiseThreshold255(benchmark::State& state) {
  runScan(state, "Noise t255", paintNoise, 255);
}
BENCHMARK(scanRendered)->Apply(scanWidths);
BENCHMARK(scanTerrace)->Apply(scanWidths);
BENCHMARK(scanNoise)->Apply(scanWidths);
BENCHMARK(scanNoiseThreshold255)->Apply(scanWidths);

}  // namespace

void printWorstCases() {
  if (figures.empty()) return;
  std::printf("\n%-10s %10s %12s %12s\n", "picture", "frame", "ns/pixel", "vs typical");
  for (const Figure& f : figures) {
    std::string size = std::to_string(f.width) + "x" + std::to_string(f.height);
    std::printf("%-10s %10s %12.1f %12.2f\n", f.picture.c_str(), size.c_str(), f.nsPerPixel,
                f.vsTypical);
  }
}

void printScanFigures() {
  if (scanFigures.empty()) return;
  std::printf("\nThe scan alone (the engine's byte-plane scan on the frame's bytes)\n");
  std::printf("%-10s %10s %10s %14s %14s %14s %12s\n", "picture", "frame", "calls/px",
              "kernel px/px", "scan ns/px", "smooth ns/px", "ns/kernel px");
  for (const ScanFigure& f : scanFigures) {
    std::string size = std::to_string(f.width) + "x" + std::to_string(f.height);
    const double perKernelPixel =
        f.kernelPixelsPerPixel > 0
            ? (f.smoothNsPerPixel - f.scanNsPerPixel) / f.kernelPixelsPerPixel
            : 0;
    std::printf("%-10s %10s %10.2f %14.2f %14.1f %14.1f %12.2f\n", f.picture.c_str(), size.c_str(),
                f.callsPerPixel, f.kernelPixelsPerPixel, f.scanNsPerPixel, f.smoothNsPerPixel,
                perKernelPixel);
  }
}

}  // namespace oru_bench
