// The OpenFX bundle in the test host (oru-ofx-test-host): what it describes,
// and frames rendered through one instance against `oru filter`'s files.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/files/file_support.h"
#include "tests/test_support.h"

namespace oru_file_test {
namespace {

struct HostRun {
  int code = -1;
  std::string output;
};
HostRun runHost(const std::string& arguments) {
  HostRun run;
  run.output =
      oru_test::commandOutput("OFX_PLUGIN_PATH=" ORU_OFX_PLUGIN_PATH " timeout 120 " +
                                  std::string(ORU_OFX_TEST_HOST) + " " + arguments + " 2>&1",
                              &run.code);
  return run;
}

TEST(OfxBundle, DescribesOneFilterOfWholeFramesWithTheThreeSettings) {
  HostRun run = runHost("describe");
  ASSERT_EQ(run.code, 0) << run.output;
  // The hints are checked for being there, not for their words.
  std::istringstream lines(run.output);
  std::string described, line;
  while (std::getline(lines, line)) {
    if (line.rfind("  ", 0) == 0) {
      EXPECT_GT(line.size(), 20u) << "a hint too short: " << line;
    } else {
      described += line + "\n";
    }
  }
  EXPECT_EQ(described, "plugin org.oru.Oru " ORU_OFX_VERSION
                       "\n"
                       "bundle " ORU_OFX_PLUGIN_PATH
                       "/Oru.ofx.bundle\n"
                       "label Oru\n"
                       "grouping Filter\n"
                       "contexts OfxImageEffectContextFilter OfxImageEffectContextGeneral\n"
                       "depths OfxBitDepthFloat OfxBitDepthShort OfxBitDepthByte\n"
                       "tiles 0\n"
                       "thread safety OfxImageEffectRenderInstanceSafe\n"
                       "clip Output OfxImageComponentRGBA OfxImageComponentRGB tiles 0\n"
                       "clip Source OfxImageComponentRGBA OfxImageComponentRGB tiles 0\n"
                       "param target OfxParamTypeChoice Target default 2 options RGB Alpha RGBA\n"
                       "param threshold OfxParamTypeInteger Threshold default 224 range 0..255\n"
                       "param strength OfxParamTypeInteger Strength default 100 range 0..100\n");
}

// A file rendered through one instance with the defaults, with other
// settings, and again with the defaults after the instance was destroyed
// and made again; the host offers the file's depth only and lays its rows
// out as the case says.
struct Case {
  const char* name;
  const char* file;    // in the inputs folder
  const char* layout;  // the test host's --layout
  const char* other;   // TARGET THRESHOLD STRENGTH, as the host takes them
  const char* otherFlags;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const char* const kInputs = "ofx_inputs";

std::string inputs() {
  return madeOnce(kInputs, [](const std::string& folder) {
    oru_test::commandOutput("cp " ORU_SAMPLE " " + folder + "/sample.png");
    makeImage(folder + "/rgb8.png", 61, 47, 3, OIIO::TypeDesc::UINT8, jaggedPicture(3));
    makeImage(folder + "/rgba16.png", 53, 41, 4, OIIO::TypeDesc::UINT16, jaggedPicture(1));
    makeImage(folder + "/rgbaf.exr", 57, 45, 4, OIIO::TypeDesc::FLOAT, jaggedPicture(2));
  });
}

void expectSameSamples(const std::string& actual, const std::string& expected) {
  Stored a = readStored(actual), e = readStored(expected);
  ASSERT_EQ(a.layout.nchannels, e.layout.nchannels) << actual;
  ASSERT_EQ(a.layout.format, e.layout.format) << actual;
  ASSERT_EQ(a.samples.size(), e.samples.size()) << actual;
  std::size_t differ = 0;
  for (std::size_t i = 0; i < a.samples.size(); ++i) differ += a.samples[i] != e.samples[i];
  EXPECT_EQ(differ, 0u) << actual << " and " << expected << " differ in " << differ << " samples";
}

class OfxRenders : public ::testing::TestWithParam<Case> {};

TEST_P(OfxRenders, EqualOruFilterThroughOneInstanceAndANewOne) {
  const Case& c = GetParam();
  const std::string in = inputs() + "/" + c.file;
  const std::string dir = oru_test::freshTempDir(std::string("ofx_") + c.name);
  const std::string ext = std::string(c.file).substr(std::string(c.file).rfind('.'));
  auto at = [&](const char* name) { return dir + "/" + name + ext; };

  HostRun run = runHost("render --layout " + std::string(c.layout) + " " + in + " " + at("first") +
                        " 2 224 100 " + in + " " + at("other") + " " + c.other + " new " + in +
                        " " + at("again") + " 2 224 100");
  ASSERT_EQ(run.code, 0) << run.output;
  OruRun defaults = runOru(in + " -o " + at("defaults") + " --quiet");
  OruRun other = runOru(in + " -o " + at("other_oru") + " --quiet " + c.otherFlags);
  ASSERT_EQ(defaults.code, 0) << defaults.output;
  ASSERT_EQ(other.code, 0) << other.output;
  expectSameSamples(at("first"), at("defaults"));
  expectSameSamples(at("other"), at("other_oru"));
  expectSameSamples(at("again"), at("defaults"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, OfxRenders,
    ::testing::Values(Case{"sample_byte", "sample.png", "packed", "1 180 60",
                           "--target alpha --threshold 180 --strength 60"},
                      Case{"rgb_byte_top_down", "rgb8.png", "top-down", "0 200 50",
                           "--target rgb --threshold 200 --strength 50"},
                      Case{"rgba_short_padded", "rgba16.png", "padded", "2 255 30",
                           "--threshold 255 --strength 30"},
                      Case{"rgba_float_offset", "rgbaf.exr", "offset", "0 100 100",
                           "--target rgb --threshold 100"}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A premultiplied source is smoothed as its straight colour: the result is
// the straight result premultiplied. Pixels of alpha 0 hold no colour (0
// here, as in any premultiplied image) and are handed over as they are.
TEST(OfxPremultiplied, GivesTheStraightResultPremultiplied) {
  const std::string dir = oru_test::freshTempDir("ofx_premultiplied");
  // Alphas of 1, 1/2 and 0: premultiplying and dividing again is exact.
  Picture base = jaggedPicture(4);
  auto alpha = [&](int x, int y) {
    float a = base(x, y, 3);
    return a == 1.0f ? 1.0f : (x + y) % 3 == 0 ? 0.5f : 0.0f;
  };
  Picture straight = [&](int x, int y, int c) {
    float a = alpha(x, y);
    return c == 3 ? a : a > 0.0f ? base(x, y, c) : 0.0f;
  };
  Picture premultiplied = [&](int x, int y, int c) {
    return c == 3 ? alpha(x, y) : straight(x, y, c) * alpha(x, y);
  };
  makeImage(dir + "/straight.exr", 59, 43, 4, OIIO::TypeDesc::FLOAT, straight);
  makeImage(dir + "/premultiplied.exr", 59, 43, 4, OIIO::TypeDesc::FLOAT, premultiplied);
  HostRun a = runHost("render " + dir + "/straight.exr " + dir + "/a.exr 2 224 100");
  HostRun b =
      runHost("render --premultiplied " + dir + "/premultiplied.exr " + dir + "/b.exr 2 224 100");
  ASSERT_EQ(a.code, 0) << a.output;
  ASSERT_EQ(b.code, 0) << b.output;

  Stored s = readStored(dir + "/a.exr"), p = readStored(dir + "/b.exr");
  ASSERT_EQ(s.samples.size(), p.samples.size());
  std::size_t differ = 0, smoothedAlphaZero = 0;
  for (int y = 0; y < s.layout.height; ++y) {
    for (int x = 0; x < s.layout.width; ++x) {
      const float sa = float(s.at(x, y, 3));
      smoothedAlphaZero += alpha(x, y) == 0.0f && sa > 0.0f;
      differ += p.at(x, y, 3) != sa;
      for (int c = 0; c < 3; ++c) differ += float(p.at(x, y, c)) != float(s.at(x, y, c)) * sa;
    }
  }
  EXPECT_EQ(differ, 0u);
  // The edges reach into pixels that had no alpha.
  EXPECT_GT(smoothedAlphaZero, 0u);
}

}  // namespace
}  // namespace oru_file_test
