// The Windows module under Wine computes exactly what the native module
// computes: the same raw-frame host, built both ways, gives both modules the
// same frames, and the outputs and saved blocks must match byte for byte,
// also when the host leaves the floating-point unit in an unusual mode. The
// 32-bit build is the one the host loads; the 64-bit build of the same
// sources runs where 32-bit programs cannot.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <set>
#include <sstream>

#include "filter/oru.h"
#include "rawhost/raw_frames.h"
#include "tests/test_support.h"

namespace {

using oru_rawhost::RawFrame;
using oru_rawhost::RawResult;

// ---- The frames ------------------------------------------------------------------

// Aliased drawing: every shape covers the pixels whose centres lie inside it,
// so its edges are the stair-steps the filter looks for.
class Painter {
 public:
  Painter(RawFrame& frame, unsigned seed) : frame_(frame), random_(seed) {}

  float unit() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(random_); }
  float level() { return static_cast<float>(pick(256)) / 255.0f; }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  void set(int x, int y, int channel, float value) {
    frame_.planes[channel][static_cast<std::size_t>(y) * frame_.width + x] = value;
  }

  // A background, then shapes of colour and, separately, shapes of alpha.
  void scene(int shapes) {
    float base[4] = {level(), level(), level(), 1.0f};
    for (int y = 0; y < frame_.height; ++y) {
      for (int x = 0; x < frame_.width; ++x) {
        for (int c = 0; c < 4; ++c) set(x, y, c, base[c]);
      }
    }
    for (int i = 0; i < shapes; ++i) {
      bool alpha = i % 3 == 2;
      float value[3] = {level(), level(), level()};
      if (alpha) value[0] = pick(2) ? 0.0f : unit();
      shape([&](int x, int y) {
        if (alpha) {
          set(x, y, 3, value[0]);
        } else {
          for (int c = 0; c < 3; ++c) set(x, y, c, value[c]);
        }
      });
    }
  }

  // Every sample drawn at random: edges everywhere, as in the smallest frames.
  void noise() {
    for (auto& plane : frame_.planes) {
      for (float& sample : plane) sample = pick(2) ? level() : unit();
    }
  }

  // Samples outside 0 to 1, infinities, NaNs and tiny values here and there.
  void wild(int count) {
    const float values[] = {-0.5f,
                            1.5f,
                            -0.0f,
                            2.0f,
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::max(),
                            std::nextafter(1.0f, 2.0f)};
    for (int i = 0; i < count; ++i) {
      set(pick(frame_.width), pick(frame_.height), pick(4), values[pick(std::size(values))]);
    }
  }

 private:
  template <typename Fill>
  void shape(Fill fill) {
    float w = static_cast<float>(frame_.width), h = static_cast<float>(frame_.height);
    float cx = unit() * w, cy = unit() * h;
    int kind = pick(3);
    // A disc, a half plane at a random slope, or a slanted band.
    float r = (0.05f + 0.3f * unit()) * std::max(w, h);
    float angle = unit() * 6.2831853f;
    float nx = std::cos(angle), ny = std::sin(angle);
    float width = 1.0f + unit() * 0.1f * std::max(w, h);
    for (int y = 0; y < frame_.height; ++y) {
      for (int x = 0; x < frame_.width; ++x) {
        float dx = x + 0.5f - cx, dy = y + 0.5f - cy;
        float along = dx * nx + dy * ny;
        bool inside = kind == 0   ? dx * dx + dy * dy < r * r
                      : kind == 1 ? along > 0.0f
                                  : std::fabs(along) < width;
        if (inside) fill(x, y);
      }
    }
  }

  RawFrame& frame_;
  std::mt19937 random_;
};

RawFrame frame(int width, int height, const std::string& settings) {
  RawFrame f;
  f.resize(width, height);
  f.settings = oru_runner::settingsBlockFromText(settings);
  return f;
}

// Values for the conversion checks: every byte value k / 255 and the floats
// on either side of it, and the edges of the float range.
std::vector<float> conversionValues() {
  std::vector<float> values;
  for (int k = 0; k < 256; ++k) {
    float v = static_cast<float>(k) / 255.0f;
    values.push_back(v);
    values.push_back(std::nextafter(v, -1.0f));
    values.push_back(std::nextafter(v, 2.0f));
  }
  const float edges[] = {-std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::max(),
                         -1.0f,
                         -std::numeric_limits<float>::min(),
                         -std::numeric_limits<float>::denorm_min(),
                         -0.0f,
                         std::numeric_limits<float>::denorm_min(),
                         std::numeric_limits<float>::min(),
                         0.5f,
                         1.0f - 0.5f / 255.0f,
                         1.5f,
                         255.0f,
                         256.0f,
                         std::numeric_limits<float>::max(),
                         std::numeric_limits<float>::infinity(),
                         std::numeric_limits<float>::quiet_NaN(),
                         -std::numeric_limits<float>::quiet_NaN()};
  values.insert(values.end(), std::begin(edges), std::end(edges));
  return values;
}

// Threshold 0: no two bytes differ by more than 256, so nothing is smoothed
// and every output sample is the input converted to a byte and back.
constexpr const char* kConversionSettings = "2 100 0";

RawFrame conversionFrame() {
  std::vector<float> values = conversionValues();
  RawFrame f = frame(static_cast<int>(values.size()), 1, kConversionSettings);
  // Each channel sees the values in another order.
  for (std::size_t i = 0; i < values.size(); ++i) {
    for (int c = 0; c < 4; ++c) f.planes[c][i] = values[(i + 7 * c) % values.size()];
  }
  return f;
}

std::vector<RawFrame> frameSet() {
  std::vector<RawFrame> frames;
  unsigned seed = 1;
  auto add = [&](int w, int h, const std::string& settings, int shapes, int wild) {
    RawFrame f = frame(w, h, settings);
    Painter paint(f, seed++);
    if (w * h < 64) {
      paint.noise();
    } else {
      paint.scene(shapes);
    }
    if (wild) paint.wild(wild);
    frames.push_back(std::move(f));
  };

  frames.push_back(conversionFrame());

  // The smallest frames, one and two pixels wide or high, and odd sizes.
  const int tiny[][2] = {{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 3}, {3, 2},  {2, 9},
                         {9, 2}, {1, 7}, {7, 1}, {3, 3}, {5, 7}, {13, 11}};
  for (const auto& size : tiny) {
    for (const char* settings : {"2 100 255", "0 50 200", "1 100 128"}) {
      add(size[0], size[1], settings, 0, 0);
    }
  }
  for (const char* settings : {"2 100 224", "2 100 255"}) {
    add(2, 64, settings, 6, 0);
    add(64, 2, settings, 6, 0);
  }

  // Every pass (colour, alpha, both) at several thresholds and strengths.
  const char* pairs[] = {"224 100", "255 100", "128 50", "1 100",
                         "32 37",   "200 1",   "224 0",  "0 100"};
  for (int target = 0; target < 3; ++target) {
    for (const char* pair : pairs) add(97, 61, std::to_string(target) + " " + pair, 12, 0);
  }

  // Settings outside their ranges, and blocks that set only some fields or none.
  for (const char* settings : {"-1 100 224", "3 100 224", "2 150 224", "2 -20 224", "2 100 300",
                               "2 100 -5", "", "x y z", "1 60", "0"}) {
    add(41, 29, settings, 8, 0);
  }

  add(333, 187, "2 75 240", 30, 200);
  add(256, 128, "2 100 224", 20, 0);
  add(1920, 1080, "2 100 224", 60, 500);
  return frames;
}

// ---- Checks ----------------------------------------------------------------------

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::uint32_t bits(float value) {
  std::uint32_t b;
  std::memcpy(&b, &value, sizeof b);
  return b;
}

// Names the first few samples in which two results differ.
void describeDifferences(const std::vector<RawFrame>& frames, const std::vector<RawResult>& native,
                         const std::vector<RawResult>& windows) {
  ASSERT_EQ(native.size(), windows.size());
  int reported = 0;
  const char* channels = "RGBA";
  for (std::size_t i = 0; i < native.size() && reported < 10; ++i) {
    const RawResult& a = native[i];
    const RawResult& b = windows[i];
    std::string what = "frame " + std::to_string(i) + " (" + std::to_string(a.width) + " x " +
                       std::to_string(a.height) + ", \"" +
                       oru_runner::settingsText(frames[i].settings) + "\")";
    EXPECT_EQ(a.saved, b.saved) << what << ": saved blocks differ";
    EXPECT_EQ(a.colourStores, b.colourStores) << what;
    EXPECT_EQ(a.alphaStores, b.alphaStores) << what;
    EXPECT_EQ(a.rowFetches, b.rowFetches) << what;
    for (int c = 0; c < 4 && reported < 10; ++c) {
      for (std::size_t p = 0; p < a.pixels() && reported < 10; ++p) {
        if (bits(a.planes[c][p]) == bits(b.planes[c][p])) continue;
        ADD_FAILURE() << what << ": " << channels[c] << " at (" << p % a.width << ", "
                      << p / a.width << ") native " << a.planes[c][p] << ", Windows "
                      << b.planes[c][p] << " (input " << frames[i].planes[c][p] << ")";
        ++reported;
      }
    }
  }
}

// The byte a sample becomes: clamped to 0 to 1, times 255, truncated toward
// zero. The product is the exact one (a float times 255 fits a double), not
// one rounded to a float first: just below k / 255 gives k - 1.
int expectedByte(float sample) {
  if (!(sample > 0.0f)) return 0;
  if (sample >= 1.0f) return 255;
  return static_cast<int>(static_cast<double>(sample) * 255.0);
}

// Which passes changed a frame: colour (R, G, B) and alpha, against the
// input converted to bytes and back.
void changedChannels(const RawFrame& in, const RawResult& out, bool* colour, bool* alpha) {
  *colour = *alpha = false;
  for (int c = 0; c < 4; ++c) {
    for (std::size_t p = 0; p < in.pixels(); ++p) {
      float unsmoothed = static_cast<float>(expectedByte(in.planes[c][p])) / 255.0f;
      if (bits(out.planes[c][p]) != bits(unsmoothed)) (c < 3 ? *colour : *alpha) = true;
    }
  }
}

// The frame set exercises every pass: each target changes some frame, in
// the channels of its passes only.
void checkPasses(const std::vector<RawFrame>& frames, const std::vector<RawResult>& results) {
  int changed[3][2] = {};  // [target][colour, alpha]
  for (std::size_t i = 1; i < frames.size(); ++i) {
    int target = 0, strength = 0, threshold = 0;
    std::string text = oru_runner::settingsText(frames[i].settings);
    if (std::sscanf(text.c_str(), "%d %d %d", &target, &strength, &threshold) != 3) continue;
    if (target < 0 || target > 2 || strength < 1 || strength > 100) continue;
    if (threshold < 1 || threshold > 255) continue;
    bool colour = false, alpha = false;
    changedChannels(frames[i], results[i], &colour, &alpha);
    if (target == TARGET_RGB) {
      EXPECT_FALSE(alpha) << "frame " << i << " \"" << text << "\"";
    }
    if (target == TARGET_ALPHA) {
      EXPECT_FALSE(colour) << "frame " << i << " \"" << text << "\"";
    }
    changed[target][0] += colour;
    changed[target][1] += alpha;
  }
  EXPECT_GT(changed[TARGET_RGB][0], 0) << "no frame smoothed in colour alone";
  EXPECT_GT(changed[TARGET_ALPHA][1], 0) << "no frame smoothed in alpha alone";
  EXPECT_GT(changed[TARGET_RGBA][0], 0) << "no frame smoothed in colour and alpha";
  EXPECT_GT(changed[TARGET_RGBA][1], 0) << "no frame smoothed in colour and alpha";
}

// What every result must be, whichever build made it: each pixel stored once
// in colour and once in alpha, every sample one of the 256 byte values over
// 255; the conversion frame converted exactly.
void checkResults(const char* build, const std::vector<RawFrame>& frames,
                  const std::vector<RawResult>& results) {
  SCOPED_TRACE(build);
  ASSERT_EQ(results.size(), frames.size());
  std::set<std::uint32_t> byteValues;
  for (int k = 0; k < 256; ++k) byteValues.insert(bits(static_cast<float>(k) / 255.0f));

  for (std::size_t i = 0; i < frames.size(); ++i) {
    const RawFrame& in = frames[i];
    const RawResult& out = results[i];
    ASSERT_EQ(out.width, in.width);
    ASSERT_EQ(out.height, in.height);
    EXPECT_EQ(out.colourStores, out.pixels()) << "frame " << i;
    EXPECT_EQ(out.alphaStores, out.pixels()) << "frame " << i;
    int bad = 0;
    for (int c = 0; c < 4; ++c) {
      for (std::size_t p = 0; p < out.pixels(); ++p) {
        if (!byteValues.count(bits(out.planes[c][p])) && bad++ < 3) {
          ADD_FAILURE() << "frame " << i << " channel " << c << " pixel " << p << " is "
                        << out.planes[c][p] << ", not a byte over 255";
        }
      }
    }
  }

  checkPasses(frames, results);

  // Frame 0: the conversions alone.
  const RawFrame& in = frames[0];
  const RawResult& out = results[0];
  ASSERT_EQ(oru_runner::settingsText(in.settings), kConversionSettings);
  int bad = 0;
  for (int c = 0; c < 4; ++c) {
    for (std::size_t p = 0; p < in.pixels(); ++p) {
      float sample = in.planes[c][p];
      if (std::isnan(sample)) continue;  // which byte a NaN becomes is the module's own
      float expected = static_cast<float>(expectedByte(sample)) / 255.0f;
      if (bits(out.planes[c][p]) != bits(expected) && bad++ < 10) {
        ADD_FAILURE() << "sample " << sample << " (bits " << std::hex << bits(sample) << std::dec
                      << ") came back as " << out.planes[c][p] << ", expected " << expected;
      }
    }
  }
  EXPECT_EQ(oru_runner::settingsText(out.saved), kConversionSettings);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string shellQuoted(const std::string& text) {
  return "'" + text + "'";
}

// A foreign build of the raw-frame host and module, and what runs it: Wine
// for a Windows build, qemu-user for another processor's.
struct WineRun {
  std::string rawhost, module;
  std::string wine;           // the loader, or the wine script
  std::string prefix;         // a prefix of its own inside the build, made once
  std::string arch;           // WINEARCH of the prefix: win32 or win64
  std::string launcher = "";  // when set, the command that runs the host instead of Wine
};

// Runs the frame set through the native host and module and through the
// Windows ones under Wine, each also in the odd floating-point mode, and
// compares the results files byte for byte.
void compareWithNative(const WineRun& windows, const std::string& name) {
  std::string dir = oru_test::freshTempDir(name);
  std::vector<RawFrame> frames = frameSet();
  std::string framesFile = dir + "/frames";
  oru_rawhost::writeFramesFile(framesFile, frames);

  // No display, no downloads of add-ons.
  std::string wine =
      "env -u DISPLAY WINEPREFIX=" + shellQuoted(windows.prefix) + " WINEARCH=" + windows.arch +
      " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' " + shellQuoted(windows.wine);
  if (!windows.launcher.empty()) wine = windows.launcher;
  auto start = std::chrono::steady_clock::now();
  if (windows.launcher.empty() && !std::filesystem::exists(windows.prefix + "/system.reg")) {
    int code = 0;
    std::string out = oru_test::commandOutput(wine + " wineboot --init 2>&1", &code);
    ASSERT_EQ(code, 0) << "wineboot failed: " << out;
  }
  double prefixSeconds = secondsSince(start);

  // Each run writes a results file in dir and gives the seconds it took. The
  // Windows host finds its files relative to the folder it runs in.
  auto run = [&](bool underWine, const std::string& mode, const std::string& results) {
    std::string command = underWine
                              ? wine + " " + shellQuoted(windows.rawhost) + " " + mode + " " +
                                    shellQuoted(windows.module) + " frames " + results
                              : shellQuoted(ORU_RAWHOST_FILE) + " " + mode + " " +
                                    shellQuoted(oru_test::moduleFile()) + " frames " + results;
    auto begin = std::chrono::steady_clock::now();
    int code = 0;
    std::string out =
        oru_test::commandOutput("cd " + shellQuoted(dir) + " && " + command + " 2>&1", &code);
    EXPECT_EQ(code, 0) << results << ": " << out;
    return secondsSince(begin);
  };
  double nativeSeconds = run(false, "", "native");
  run(false, "--odd-float-mode", "native-odd");
  double wineSeconds = run(true, "", "windows");
  run(true, "--odd-float-mode", "windows-odd");
  ASSERT_FALSE(::testing::Test::HasFailure());
  std::printf("native run %.2f s, wine prefix %.2f s, foreign run %.2f s (%zu frames)\n",
              nativeSeconds, prefixSeconds, wineSeconds, frames.size());

  std::vector<RawResult> native = oru_rawhost::readResultsFile(dir + "/native");
  checkResults("native", frames, native);
  std::string nativeBytes = readBytes(dir + "/native");
  for (const char* other : {"windows", "windows-odd", "native-odd"}) {
    SCOPED_TRACE(other);
    std::vector<RawResult> results = oru_rawhost::readResultsFile(dir + "/" + other);
    checkResults(other, frames, results);
    if (readBytes(dir + "/" + other) != nativeBytes) {
      ADD_FAILURE() << "the results files differ";
      describeDifferences(frames, native, results);
    }
  }
  // The files are large: keep them only to look into a failure.
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir);
}

// The module the host loads. Wine runs 32-bit programs with a 32-bit loader,
// which some kernels cannot execute (no 32-bit system calls): there the run
// is skipped, also where the Windows checks are required: no package would
// make it run. The 64-bit run below stands in for it.
TEST(WindowsUnderWine, GivesByteIdenticalResultsToTheNativeModule) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS(!windows.module.empty() && !windows.rawhost.empty(),
                   "no i686-w64-mingw32 cross compiler: the Windows module is not built "
                   "(scripts/install-deps installs g++-mingw-w64-i686)");
  ORU_NEED_WINDOWS(!windows.wine.empty(),
                   "no wine: the Windows module is not run (scripts/install-deps installs wine32)");
  int code = 0;
  std::string version =
      oru_test::commandOutput(shellQuoted(windows.wine) + " --version 2>&1", &code);
  while (!version.empty() && std::isspace(static_cast<unsigned char>(version.back()))) {
    version.pop_back();
  }
  if (code == 126 || version.find("Exec format error") != std::string::npos) {
    GTEST_SKIP() << "this machine cannot run 32-bit x86 programs (" << windows.wine
                 << " --version: " << version << ")";
  }
  compareWithNative({windows.rawhost, windows.module, windows.wine, windows.winePrefix, "win32"},
                    "windows_under_wine");
}

// The same sources built for 64-bit Windows, by the same compiler family
// against the same C runtime and without its start-up code, under the 64-bit
// Wine loader: the Windows build's results wherever 32-bit programs cannot run.
TEST(WindowsUnderWine64, GivesByteIdenticalResultsToTheNativeModule) {
  oru_test::WindowsBuild windows;
  ORU_NEED_WINDOWS(!windows.module64.empty() && !windows.rawhost64.empty(),
                   "no x86_64-w64-mingw32 cross compiler: the 64-bit Windows module is not "
                   "built (scripts/install-deps installs g++-mingw-w64-x86-64)");
  ORU_NEED_WINDOWS(!windows.wine64.empty(),
                   "no wine64: the 64-bit Windows module is not run (scripts/install-deps "
                   "installs wine64)");
  compareWithNative(
      {windows.rawhost64, windows.module64, windows.wine64, windows.winePrefix64, "win64"},
      "windows_under_wine64");
}

// The same sources built for 64-bit ARM Linux (the engine's portable build),
// run under qemu-user: the bytes of the native module.
TEST(Arm64UnderQemu, GivesByteIdenticalResultsToTheNativeModule) {
  const std::string module = ORU_ARM64_MODULE_FILE, rawhost = ORU_ARM64_RAWHOST_FILE;
  ORU_NEED_WINDOWS(!module.empty() && !rawhost.empty(),
                   "no aarch64-linux-gnu-g++: the 64-bit ARM module is not built "
                   "(scripts/install-deps installs g++-aarch64-linux-gnu)");
  ORU_NEED_WINDOWS(std::string(ORU_QEMU_AARCH64) != "",
                   "no qemu-aarch64: the 64-bit ARM module is not run (scripts/install-deps "
                   "installs qemu-user)");
  WineRun arm{rawhost, module, "", "", ""};
  arm.launcher = shellQuoted(ORU_QEMU_AARCH64) + " -L /usr/aarch64-linux-gnu";
  compareWithNative(arm, "arm64_under_qemu");
}

}  // namespace
