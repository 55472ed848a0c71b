// The byte-plane scan against the scan through the routine table: for the
// module's own routines both must make the same kernel calls in the same
// order and leave the same bytes, on every picture, setting, window and
// zoom. The worked examples of the scan, the slope measure and the kernels
// are run through the byte-plane form as well.
#include "filter/engine/fast/plane_scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "filter/engine/engine.h"
#include "filter/engine/pixel_ops.h"
#include "filter/engine/reference/kernels.h"
#include "filter/engine/reference/scan.h"
#include "filter/engine/reference/slope.h"
#include "filter/engine/scan_area.h"
#include "filter/heap.h"
#include "filter/sample_convert.h"
#include "tests/engine_support.h"
#include "tests/frame_host.h"

namespace {

using oru_test::Image;
using oru_test::KernelCall;

std::vector<KernelCall>* traced = nullptr;
void trace(int direction, bool alpha, int runStart, int stepPos, int runEnd, int line) {
  traced->push_back({direction, alpha, runStart, stepPos, runEnd, line});
}

// Records the kernel calls while it lives.
struct Tracing {
  std::vector<KernelCall> calls;
  Tracing() {
    traced = &calls;
    kernelTrace = trace;
  }
  ~Tracing() {
    kernelTrace = nullptr;
    traced = nullptr;
  }
};

struct Settings {
  int mode = 3, threshold = 224, strength = 100;
};

std::string describe(const Image& img, const Settings& s) {
  std::ostringstream out;
  out << img.width << " x " << img.height << ", mode " << s.mode << ", threshold " << s.threshold
      << ", strength " << s.strength;
  return out.str();
}

// Where two sets of planes first differ, or "" when they do not.
std::string firstDifference(const std::vector<std::uint8_t> a[4],
                            const std::vector<std::uint8_t> b[4], int width) {
  for (int c = 0; c < 4; ++c) {
    for (std::size_t i = 0; i < a[c].size(); ++i) {
      if (a[c][i] != b[c][i]) {
        std::ostringstream out;
        out << "channel " << c << " at (" << i % width << ", " << i / width << "): " << int(a[c][i])
            << " against " << int(b[c][i]);
        return out.str();
      }
    }
  }
  return "";
}

// One frame run of both scans over src: the kernel calls and the smoothed planes.
struct FrameResult {
  std::vector<KernelCall> calls;
  std::vector<std::uint8_t> planes[4];
};

void setUp(FilterInstance& inst, const Image& src, const Settings& s) {
  inst.width = src.width;
  inst.height = src.height;
  inst.workMode = s.mode;
  inst.workThreshold = s.threshold;
  inst.workStrength = s.strength;
}

// The table scan with the frame-run routines, reading host rows that hold
// every byte as the float it came from.
FrameResult tableFrameRun(const Image& src, const Settings& s) {
  FrameResult r;
  FilterInstance inst{};
  setUp(inst, src, s);
  std::vector<float> rows[4];
  std::vector<const float*> table[4];
  for (int c = 0; c < 4; ++c) {
    r.planes[c] = src.c[c];
    inst.planes[c] = r.planes[c].data();
    for (std::uint8_t b : src.c[c]) rows[c].push_back(byteToSample(b));
    for (int y = 0; y < src.height; ++y) table[c].push_back(rows[c].data() + y * src.width);
    inst.lineTable[c] = table[c].data();
  }
  inst.pixelOps = frameRunOps();
  Tracing t;
  smoothThroughTable(nullptr, &inst, 1);
  r.calls = t.calls;
  return r;
}

FrameResult planeFrameRun(const Image& src, const Settings& s) {
  FrameResult r;
  FilterInstance inst{};
  setUp(inst, src, s);
  for (int c = 0; c < 4; ++c) {
    r.planes[c] = src.c[c];
    inst.planes[c] = r.planes[c].data();
  }
  inst.pixelOps = frameRunOps();
  std::size_t bytes = 0;
  if (!frameScanNeedsBlock(src.width, src.height, s.mode, s.threshold, &bytes)) return r;
  std::vector<std::uint8_t> block(bytes);
  Tracing t;
  smoothFramePlanes(nullptr, &inst, block.data());
  r.calls = t.calls;
  return r;
}

::testing::AssertionResult sameFrameRun(const Image& src, const Settings& s) {
  const FrameResult table = tableFrameRun(src, s), planes = planeFrameRun(src, s);
  if (table.calls != planes.calls) {
    std::size_t i = 0;
    while (i < table.calls.size() && i < planes.calls.size() && table.calls[i] == planes.calls[i])
      ++i;
    std::ostringstream out;
    out << describe(src, s) << ": kernel call " << i << " of " << table.calls.size() << " is ";
    if (i < planes.calls.size())
      out << planes.calls[i];
    else
      out << "missing";
    out << ", the table scan's ";
    if (i < table.calls.size())
      out << table.calls[i];
    else
      out << "none";
    return ::testing::AssertionFailure() << out.str();
  }
  const std::string diff = firstDifference(planes.planes, table.planes, src.width);
  if (!diff.empty()) return ::testing::AssertionFailure() << describe(src, s) << ": " << diff;
  return ::testing::AssertionSuccess();
}

// ---- Pictures ------------------------------------------------------------------

enum class Kind { Greys, ColourNoise, AlphaOnly, Both, Opaque };

Image randomPicture(std::mt19937& rng, int w, int h, Kind kind) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<std::uint8_t> levels;
  const int count = 2 + pick(4);
  for (int i = 0; i < count; ++i) levels.push_back(static_cast<std::uint8_t>(pick(256)));
  auto level = [&] { return levels[pick(count)]; };
  auto byte = [&] { return static_cast<std::uint8_t>(pick(256)); };
  Image img(w, h);
  const std::uint8_t flat = byte();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Pixel p{};
      switch (kind) {
        case Kind::Greys: {
          const std::uint8_t v = level();
          p = Pixel{v, v, v, v};
          break;
        }
        case Kind::ColourNoise:
          p = Pixel{byte(), byte(), byte(), byte()};
          break;
        case Kind::AlphaOnly:
          p = Pixel{flat, flat, flat, level()};
          break;
        case Kind::Opaque: {
          const std::uint8_t v = level();
          p = Pixel{v, static_cast<std::uint8_t>(255 - v), v, 255};
          break;
        }
        case Kind::Both: {
          const std::uint8_t v = level();
          p = Pixel{v, static_cast<std::uint8_t>(255 - v), v, level()};
          break;
        }
      }
      img.set(x, y, p);
    }
  }
  return img;
}

// The three-by-three tile in five greys at whose every position a run starts
// that is followed to the row's end.
Image terrace(int w, int h) {
  static const int tile[3][3] = {{255, 64, 0}, {0, 0, 255}, {64, 192, 128}};
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t v = static_cast<std::uint8_t>(tile[y % 3][x % 3]);
      img.set(x, y, Pixel{v, v, v, v});
    }
  return img;
}

Image staircase(bool colour, bool alpha) {
  Image img(20, 10, Pixel{255, 255, 255, 255});
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      if (oru_test::staircase(x, y)) {
        Pixel p = img.at(x, y);
        if (colour) p.r = p.g = p.b = 0;
        if (alpha) p.a = 0;
        img.set(x, y, p);
      }
  return img;
}

const int kThresholds[] = {INT_MIN, -5, 0, 1, 100, 161, 200, 224, 240, 254, 255, 256, 300, INT_MAX};
const int kModes[] = {0, 1, 2, 3, -1, INT_MIN};
const int kStrengths[] = {0, 50, 100};

// The scan is built in plain C++ everywhere, for SSE2 where the compiler
// builds for it and, where the processor has them, for AVX2 and for
// AVX-512: each test of this suite runs once with each build the module has
// and the processor runs (0: the best of them, run only where that is
// AVX-512).
class PlaneScanBuilds : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    if (GetParam() == 1 && !planeScanHasSse2()) GTEST_SKIP() << "no SSE2 build here";
    if (GetParam() == 2 && !planeScanHasAvx2()) GTEST_SKIP() << "no AVX2 here";
    if (GetParam() == 0 && !planeScanHasAvx512()) GTEST_SKIP() << "no AVX-512 here";
    planeScanBuild = GetParam();
  }
  void TearDown() override { planeScanBuild = 0; }
};
INSTANTIATE_TEST_SUITE_P(Each, PlaneScanBuilds, ::testing::Values(3, 1, 2, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == 3   ? "Portable"
                                              : info.param == 1 ? "SSE2"
                                              : info.param == 2 ? "AVX2"
                                                                : "AVX512");
                         });

TEST_P(PlaneScanBuilds, RandomSmallPicturesGiveTheTableScansCallsAndBytes) {
  std::mt19937 rng(20261208);
  for (int n = 0; n < 3000; ++n) {
    const int w = 1 + static_cast<int>(rng() % (n % 10 == 0 ? 140 : 18));
    const int h = 1 + static_cast<int>(rng() % (n % 10 == 5 ? 140 : 18));
    const Kind kind = static_cast<Kind>(n % 5);
    const Image img = randomPicture(rng, w, h, kind);
    Settings s;
    s.mode = kModes[rng() % 6];
    s.threshold = kThresholds[rng() % 14];
    s.strength = kStrengths[rng() % 3];
    if (n % 3 == 0) s.threshold = 150 + static_cast<int>(rng() % 106);
    ASSERT_TRUE(sameFrameRun(img, s)) << "picture " << n;
  }
}

TEST_P(PlaneScanBuilds, WorstCasePicturesGiveTheTableScansCallsAndBytes) {
  std::mt19937 rng(7);
  for (const Settings& s : {Settings{3, 224, 100}, Settings{3, 255, 100}, Settings{1, 255, 50}}) {
    EXPECT_TRUE(sameFrameRun(terrace(150, 40), s));
    EXPECT_TRUE(sameFrameRun(terrace(41, 130), s));
    EXPECT_TRUE(sameFrameRun(randomPicture(rng, 150, 40, Kind::ColourNoise), s));
    EXPECT_TRUE(sameFrameRun(randomPicture(rng, 40, 150, Kind::ColourNoise), s));
  }
  // Columns of more than 64 chunks of 64 rows, flat but for rows of greys
  // in the second chunk and in the 67th, and greys throughout.
  const Image greys = randomPicture(rng, 9, 4300, Kind::Greys);
  Image patches(greys.width, greys.height, Pixel{90, 90, 90, 90});
  for (int y = 0; y < greys.height; ++y)
    for (int x = 0; x < greys.width; ++x)
      if ((y >= 70 && y < 120) || (y >= 4230 && y < 4280)) patches.set(x, y, greys.at(x, y));
  EXPECT_TRUE(sameFrameRun(patches, Settings{}));
  EXPECT_TRUE(sameFrameRun(greys, Settings{}));
}

TEST_P(PlaneScanBuilds, WorkedStaircaseExamples) {
  const std::vector<KernelCall> colour = {{1, false, 16, 18, 18, 2}, {1, false, 12, 15, 18, 3},
                                          {1, false, 8, 11, 15, 4},  {1, false, 4, 7, 11, 5},
                                          {1, false, 1, 3, 7, 6},    {2, false, 3, 1, 1, 6},
                                          {3, false, 6, 6, 6, 3},    {3, false, 5, 5, 5, 7},
                                          {3, false, 4, 4, 4, 11},   {3, false, 3, 3, 3, 15}};
  std::vector<KernelCall> alpha = colour;
  for (KernelCall& c : alpha) c.alpha = true;
  std::vector<KernelCall> both = colour;
  both.insert(both.end(), alpha.begin(), alpha.end());

  EXPECT_EQ(planeFrameRun(staircase(true, false), {1, 224, 100}).calls, colour);
  EXPECT_EQ(planeFrameRun(staircase(false, true), {2, 224, 100}).calls, alpha);
  EXPECT_EQ(planeFrameRun(staircase(true, true), {3, 224, 100}).calls, both);
  EXPECT_TRUE(planeFrameRun(staircase(true, true), {3, 0, 100}).calls.empty());
  for (int mode : {1, 2, 3})
    for (int strength : {0, 50, 100})
      EXPECT_TRUE(sameFrameRun(staircase(true, true), {mode, 224, strength}));
}

// ---- Preview ---------------------------------------------------------------------

struct PreviewCase {
  int viewX, viewY, zoom;
};

// One preview run over the working planes src, the preview planes starting
// as `start`: the table scan when throughTable, else smooth's own choice.
FrameResult previewRun(const Image& src, const Settings& s, const PreviewCase& v,
                       const Image& start, bool throughTable, bool* tookPlanes = nullptr) {
  FrameResult r;
  FilterInstance inst{};
  setUp(inst, src, s);
  std::vector<std::uint8_t> working[4];
  for (int c = 0; c < 4; ++c) {
    working[c] = src.c[c];
    inst.planes[c] = working[c].data();
    r.planes[c] = start.c[c];
    inst.previewPlanes[c] = r.planes[c].data();
  }
  inst.viewX = v.viewX;
  inst.viewY = v.viewY;
  inst.zoom = v.zoom;
  inst.pixelOps = previewRunOps();
  Tracing t;
  const long before = heapHooks.allocations;
  if (throughTable) {
    smoothThroughTable(nullptr, &inst, 0);
  } else {
    smooth(nullptr, &inst, 0);
  }
  if (tookPlanes) *tookPlanes = heapHooks.allocations != before;
  r.calls = t.calls;
  return r;
}

TEST_P(PlaneScanBuilds, PreviewWindowsAtEveryZoomGiveTheTableScansCallsAndBytes) {
  std::mt19937 rng(240);
  const int zooms[] = {0, 1, 2, 3, -1, 4, 31, 40};
  int planeRuns = 0;
  for (int n = 0; n < 160; ++n) {
    // Frames smaller than the window and larger than it.
    const int w =
        n % 4 == 0 ? 330 + static_cast<int>(rng() % 60) : 1 + static_cast<int>(rng() % 40);
    const int h =
        n % 4 == 0 ? 250 + static_cast<int>(rng() % 40) : 1 + static_cast<int>(rng() % 40);
    // Large windows of fine noise at high thresholds cost the table scan
    // seconds: the large frames are greys at the default threshold.
    const bool large = n % 4 == 0;
    const Image img = randomPicture(rng, w, h, large ? Kind::Greys : static_cast<Kind>(n % 4));
    const Image start = randomPicture(rng, kPreviewWidth, kPreviewHeight, Kind::ColourNoise);
    Settings s{1 + static_cast<int>(rng() % 3), large ? 224 : 200 + static_cast<int>(rng() % 56),
               kStrengths[rng() % 3]};
    PreviewCase v{static_cast<int>(rng() % (w + 20)) - 10, static_cast<int>(rng() % (h + 20)) - 10,
                  zooms[n % 8]};
    if (n % 16 == 3) v = {INT_MAX, INT_MIN, 0};
    if (n % 16 == 7) v = {INT_MAX - 100, INT_MAX - 60, 1};
    if (n % 16 == 11) v = {INT_MIN, INT_MIN + 3, 2};
    if (n % 16 == 15) v = {-1000, 5000, 3};
    bool tookPlanes = false;
    const FrameResult table = previewRun(img, s, v, start, true);
    const FrameResult planes = previewRun(img, s, v, start, false, &tookPlanes);
    planeRuns += tookPlanes;
    SCOPED_TRACE(testing::Message() << "case " << n << ": " << describe(img, s) << ", view "
                                    << v.viewX << ", " << v.viewY << " zoom " << v.zoom);
    ASSERT_EQ(planes.calls, table.calls);
    ASSERT_EQ(firstDifference(planes.planes, table.planes, kPreviewWidth), "");
  }
  EXPECT_GT(planeRuns, 100) << "most windows take the byte-plane scan";
}

TEST(PlaneScan, TakesTheWideBuildsWhereTheProcessorHasThem) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(_WIN32)
  // The compiler's own reading of the processor, the system's part included.
  __builtin_cpu_init();
  const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                   __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("lzcnt") &&
                   __builtin_cpu_supports("popcnt");
  EXPECT_EQ(planeScanHasAvx2(), has);
  const bool wide = has && __builtin_cpu_supports("avx512f") &&
                    __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  EXPECT_EQ(planeScanHasAvx512(), wide);
#else
  GTEST_SKIP() << "no reading of the processor to check against here";
#endif
}

TEST(PlaneScan, ViewsAtTheEndsOfTheIntRangeScanWhatLiesInsideIt) {
  // A window that begins past the last int has no position; one that ends
  // there is cut two short of it. Neither wraps round to the other end.
  FilterInstance inst{};
  inst.viewX = INT_MAX;
  inst.viewY = INT_MIN;
  const Area beyond = scanArea(&inst, 0);
  EXPECT_FALSE(hasPositions(beyond));
  inst.viewX = INT_MAX - 100;
  const Area cut = scanArea(&inst, 0);
  EXPECT_EQ(cut.xFirst, INT_MAX - 99);
  EXPECT_EQ(cut.xLast, INT_MAX - 2);
  EXPECT_EQ(cut.yFirst, INT_MIN + 2);
  EXPECT_EQ(cut.yLast, INT_MIN + 238);
}

TEST_P(PlaneScanBuilds, PreviewWorkedExampleRunsOnOverTheRepeatedBorder) {
  std::vector<KernelCall> expected = {{1, false, 16, 78, 78, 2}, {1, false, 12, 15, 78, 3},
                                      {1, false, 8, 11, 15, 4},  {1, false, 4, 7, 11, 5},
                                      {1, false, 1, 3, 7, 6},    {2, false, 3, 1, 1, 6},
                                      {3, false, 6, 6, 6, 3},    {3, false, 5, 5, 5, 7},
                                      {3, false, 4, 4, 4, 11},   {3, false, 3, 3, 3, 15}};
  const Image src = staircase(true, false);
  bool tookPlanes = false;
  const Image start(kPreviewWidth, kPreviewHeight);
  EXPECT_EQ(previewRun(src, {1, 224, 100}, {0, 0, 2}, start, false, &tookPlanes).calls, expected);
  EXPECT_TRUE(tookPlanes);
}

TEST(PlaneScan, OtherRoutinesAreCalledAsInstalled) {
  // The preview set with one slot replaced is not the module's own: every
  // read goes through the routines again.
  const Image src = staircase(true, true);
  oru_test::EngineRig rig(src, src);
  rig.instance()->workMode = 3;
  const long before = heapHooks.allocations;
  smooth(nullptr, rig.instance(), 0);
  EXPECT_EQ(heapHooks.allocations, before);
  EXPECT_GT(rig.srcReads(), 0);
}

// ---- Slope measure and kernels ---------------------------------------------------

TEST_P(PlaneScanBuilds, SlopeMeasuresAreThoseOfTheRoutines) {
  std::mt19937 rng(3);
  for (int n = 0; n < 200; ++n) {
    const int w = 1 + static_cast<int>(rng() % 12), h = 1 + static_cast<int>(rng() % 12);
    Image img = randomPicture(rng, w, h, static_cast<Kind>(n % 4));
    FilterInstance inst{};
    inst.width = w;
    inst.height = h;
    std::uint8_t* planes[4];
    for (int c = 0; c < 4; ++c) planes[c] = inst.planes[c] = img.c[c].data();
    inst.pixelOps = previewRunOps();  // getSrc readB, getSrcA readB_a
    for (bool alpha : {false, true}) {
      for (bool eachAlone : {false, true}) {
        for (int y = -1; y <= h + 1; ++y) {
          int got[20];
          ASSERT_TRUE(planeSlopes(planes, w, h, alpha, eachAlone, y, -2, w + 4, got));
          for (int x = -2; x < w + 2; ++x) {
            const int want = alpha ? katamuki_a(&inst, x, y) : katamuki(&inst, x, y);
            ASSERT_EQ(got[x + 2], want)
                << x << ", " << y << (alpha ? " alpha" : " colour") << (eachAlone ? " alone" : "");
          }
        }
      }
    }
  }
}

TEST_P(PlaneScanBuilds, SlopeWorkedValues) {
  // Black against white around (2, 2) of a 5 x 5 picture.
  struct Case {
    bool (*black)(int u, int v);
    int measure;
  };
  const Case cases[] = {
      {[](int, int v) { return v > 2; }, 0},
      {[](int u, int) { return u > 2; }, 0},
      {[](int u, int v) { return u + v > 4; }, -2295},
      {[](int u, int v) { return u - v > 0; }, 2295},
      {[](int u, int v) { return v > 2 || (v == 2 && u > 2); }, -1530},
      {[](int u, int v) { return v > 2 || (v == 2 && u < 2); }, 1530},
      {[](int u, int v) { return u == 2 && v == 2; }, 0},
  };
  for (const Case& c : cases) {
    Image img(5, 5);
    img.paint(c.black, Pixel{0, 0, 0, 0}, Pixel{255, 255, 255, 255});
    std::uint8_t* planes[4];
    for (int k = 0; k < 4; ++k) planes[k] = img.c[k].data();
    int colour = 0, alpha = 0;
    ASSERT_TRUE(planeSlopes(planes, 5, 5, false, true, 2, 2, 1, &colour));
    ASSERT_TRUE(planeSlopes(planes, 5, 5, true, false, 2, 2, 1, &alpha));
    EXPECT_EQ(colour, c.measure);
    EXPECT_EQ(alpha, c.measure / 3);
  }
}

PlaneSet planesOf(Image& img) {
  return PlaneSet{
      {img.c[0].data(), img.c[1].data(), img.c[2].data(), img.c[3].data()}, 0, 0, img.width};
}

TEST_P(PlaneScanBuilds, KernelWorkedExample) {
  // Row 1 is 100 in the destination; rows 2 and 0 are 200 and 0 in the source.
  for (bool alpha : {false, true}) {
    for (int strength : {100, 50}) {
      Image src(9, 3, Pixel{0, 0, 0, 0}), dst(9, 3, Pixel{100, 100, 100, 100});
      for (int x = 0; x < 9; ++x) src.set(x, 2, Pixel{200, 200, 200, 200});
      PlaneSet s = planesOf(src), d = planesOf(dst);
      runPlaneKernel(1, alpha, s, d, strength, 0, 4, 8, 1);
      const std::vector<int> want = strength == 100 ? std::vector<int>{116, 133, 100, 66, 83}
                                                    : std::vector<int>{108, 117, 100, 83, 92};
      for (int x = 0; x < 9; ++x) {
        const Pixel p = dst.at(x, 1);
        const int expected = x >= 2 && x <= 6 ? want[x - 2] : 100;
        EXPECT_EQ(alpha ? p.a : p.r, expected) << x;
        EXPECT_EQ(alpha ? p.r : p.a, 100) << "the other channels are untouched";
      }
    }
  }
}

TEST_P(PlaneScanBuilds, KernelsGiveTheTableKernelsBytes) {
  // Every direction, channel group and short or long run, on random planes,
  // against the kernels through the module's B routines.
  std::mt19937 rng(11);
  const KernelFunc table[8] = {smooth1,   smooth2,   smooth3,   smooth4,
                               smooth1_a, smooth2_a, smooth3_a, smooth4_a};
  for (int n = 0; n < 2000; ++n) {
    const int size = 300;
    const int direction = 1 + n % 4;
    const bool alpha = (n / 4) % 2;
    Image src = randomPicture(rng, 12, size, Kind::ColourNoise);
    if (direction <= 2) src = randomPicture(rng, size, 12, Kind::ColourNoise);
    Image dst = randomPicture(rng, src.width, src.height, Kind::ColourNoise);
    Image expected = dst;
    const int line = 1 + static_cast<int>(rng() % 10);
    const int span = n % 5 == 0 ? 290 : 12;
    int a = 1 + static_cast<int>(rng() % span), b = 1 + static_cast<int>(rng() % span),
        c = 1 + static_cast<int>(rng() % span);
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    if (a > b) std::swap(a, b);
    if (direction == 2) std::swap(a, c);
    const int strength = kStrengths[n % 3];

    FilterInstance inst{};
    inst.width = src.width;
    inst.height = src.height;
    for (int k = 0; k < 4; ++k) inst.planes[k] = expected.c[k].data();
    // The source is read from src through the B routines of a second instance.
    static FilterInstance* source = nullptr;
    FilterInstance srcInst{};
    srcInst.width = src.width;
    srcInst.height = src.height;
    for (int k = 0; k < 4; ++k) srcInst.planes[k] = src.c[k].data();
    source = &srcInst;
    auto fromSource = [](FilterInstance*, int x, int y, Pixel* p) { readB(source, x, y, p); };
    auto fromSourceA = [](FilterInstance*, int x, int y, Pixel* p) { readB_a(source, x, y, p); };
    inst.pixelOps = PixelOps{fromSource, readB, writeB, fromSourceA, readB_a, writeB_a};
    inst.workStrength = strength;
    table[(alpha ? 4 : 0) + direction - 1](nullptr, &inst, a, b, c, line);

    PlaneSet s = planesOf(src), d = planesOf(dst);
    runPlaneKernel(direction, alpha, s, d, strength, a, b, c, line);
    ASSERT_EQ(firstDifference(dst.c, expected.c, dst.width), "")
        << "smooth" << direction << (alpha ? "_a" : "") << "(" << a << ", " << b << ", " << c
        << ", " << line << ")";
  }
}

// ---- Through the frame driver ----------------------------------------------------

TEST_P(PlaneScanBuilds, FrameRunsStoreWhatTheTableScanGives) {
  // OruProcess takes the byte-plane scan; its stored output must be the
  // table scan's planes, for every target.
  std::mt19937 rng(5);
  for (int n = 0; n < 24; ++n) {
    const int w = 3 + static_cast<int>(rng() % 90), h = 3 + static_cast<int>(rng() % 70);
    const Image img = randomPicture(rng, w, h, static_cast<Kind>(n % 4));
    const int target = n % 3;
    const int threshold = 200 + static_cast<int>(rng() % 56);
    const FrameResult want = tableFrameRun(img, {target + 1, threshold, 100});

    oru_test::FrameHost host(w, h);
    for (int c = 0; c < 4; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) host.in(c, x, y) = byteToSample(img.c[c][y * w + x]);
    FilterInstance* inst = OruCreate(nullptr);
    inst->target = target;
    inst->threshold = threshold;
    Tracing t;
    host.process(inst);
    EXPECT_EQ(t.calls, want.calls) << n;
    for (int c = 0; c < 4; ++c)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(host.out(c, x, y), byteToSample(want.planes[c][y * w + x]))
              << n << ": channel " << c << " at " << x << ", " << y;
    OruDestroy(inst);
  }
}

}  // namespace
