// oru filter end to end: image files in, image files out, through the oru
// program, checked against the module driven directly through its callbacks.
#include <OpenImageIO/half.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "tests/files/file_support.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace oru_file_test;

constexpr int kW = 40;
constexpr int kH = 30;

// Every sample of a stored file against the reference planes, at the
// file's bit depth.
void expectMatches(const Stored& out, const Planes& expected, int alphaChannel) {
  ASSERT_EQ(out.layout.width, expected.width);
  ASSERT_EQ(out.layout.height, expected.height);
  int colour = out.layout.nchannels - (alphaChannel >= 0 ? 1 : 0);
  int mismatches = 0;
  for (int y = 0; y < expected.height; ++y) {
    for (int x = 0; x < expected.width; ++x) {
      for (int c = 0; c < out.layout.nchannels; ++c) {
        int p = c == alphaChannel ? 3 : (colour >= 3 ? c : 0);
        double v = expected.p[p][static_cast<std::size_t>(y) * expected.width + x];
        double want;
        if (out.layout.format == OIIO::TypeDesc::UINT8) {
          want = std::lround(v * 255.0);
        } else if (out.layout.format == OIIO::TypeDesc::UINT16) {
          want = std::lround(v * 65535.0);
        } else if (out.layout.format == OIIO::TypeDesc::HALF) {
          want = static_cast<float>(half(static_cast<float>(v)));
        } else {
          want = static_cast<float>(v);
        }
        if (out.at(x, y, c) != want && ++mismatches <= 5) {
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << out.at(x, y, c)
                        << ", expected " << want;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The reference output differs from the input: the picture has stair-steps
// the filter smooths, so a runner that copied its input would be caught.
void expectSmoothed(const Planes& in, const Planes& out) {
  int changed = 0;
  for (int p = 0; p < 4; ++p) {
    for (std::size_t i = 0; i < in.p[p].size(); ++i) {
      changed += std::fabs(in.p[p][i] - out.p[p][i]) > 1.5f / 255;
    }
  }
  EXPECT_GT(changed, 0);
}

struct Format {
  const char* name;
  const char* extension;
  int channels;
  OIIO::TypeDesc type;
};

void PrintTo(const Format& f, std::ostream* os) {
  *os << f.name;
}

class FilterFormats : public ::testing::TestWithParam<Format> {};

TEST_P(FilterFormats, OutputIsTheModulesOutputAtTheFilesDepth) {
  const Format& f = GetParam();
  std::string dir = oru_test::freshTempDir(std::string("files_format_") + f.name);
  std::string in = dir + "/in" + f.extension;
  std::string out = dir + "/out" + f.extension;
  makeImage(in, kW, kH, f.channels, f.type, jaggedPicture());

  OruRun run = runOru(in + " -o " + out);
  ASSERT_EQ(run.code, 0) << run.output;
  Stored stored = readStored(out);
  EXPECT_EQ(stored.layout.nchannels, f.channels);
  EXPECT_EQ(stored.layout.format, f.type);
  int alpha = f.channels == 4 || f.channels == 2 ? f.channels - 1 : -1;
  EXPECT_EQ(stored.layout.alpha_channel, alpha);

  Planes input = planesOf(readStored(in), alpha);
  Planes expected = reference(input, "2 100 224");
  expectSmoothed(input, expected);
  expectMatches(stored, expected, alpha);
  // Nothing but the output is left in the folder.
  EXPECT_EQ(filesIn(dir).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Files, FilterFormats,
                         ::testing::Values(Format{"png8_rgba", ".png", 4, OIIO::TypeDesc::UINT8},
                                           Format{"png8_rgb", ".png", 3, OIIO::TypeDesc::UINT8},
                                           Format{"png8_grey", ".png", 1, OIIO::TypeDesc::UINT8},
                                           Format{"png16_rgba", ".png", 4, OIIO::TypeDesc::UINT16},
                                           Format{"tiff16_rgb", ".tif", 3, OIIO::TypeDesc::UINT16},
                                           Format{"tga_rgba", ".tga", 4, OIIO::TypeDesc::UINT8},
                                           Format{"exr_half", ".exr", 4, OIIO::TypeDesc::HALF},
                                           Format{"exr_float", ".exr", 3, OIIO::TypeDesc::FLOAT}),
                         [](const ::testing::TestParamInfo<Format>& info) {
                           return std::string(info.param.name);
                         });

TEST(FilterFiles, FloatSamplesReachTheModuleAsStored) {
  std::string dir = oru_test::freshTempDir("files_exr_range");
  std::string in = dir + "/in.exr";
  std::string out = dir + "/out.exr";
  // Over-bright and negative samples next to ordinary ones.
  Picture picture = [](int x, int y, int c) -> float {
    float base = jaggedPicture()(x, y, c);
    if (c == 3) return base;
    return 3 * x > 2 * y ? base * 3.0f : base - 0.7f;
  };
  makeImage(in, kW, kH, 4, OIIO::TypeDesc::FLOAT, picture);
  OruRun run = runOru(in + " -o " + out + " --target rgb --threshold 250 --strength 60");
  ASSERT_EQ(run.code, 0) << run.output;
  Planes input = planesOf(readStored(in), 3);
  bool above = false, below = false;
  for (float v : input.p[0]) {
    above = above || v > 1.0f;
    below = below || v < 0.0f;
  }
  ASSERT_TRUE(above && below);
  expectMatches(readStored(out), reference(input, "0 60 250"), 3);
}

// Uniform frames have no edges: the output is the frame as the module turns
// samples into bytes (clamped to 0..1, times 255, truncated) and back.
TEST(FilterFiles, UniformFramesComeBackQuantised) {
  std::string dir = oru_test::freshTempDir("files_uniform");
  struct Case {
    float sample;
    float expected;
  };
  for (Case k : {Case{0.5f, 127.0f / 255}, Case{1.5f, 1.0f}, Case{-0.2f, 0.0f},
                 Case{0.999f, 254.0f / 255}}) {
    std::string in = dir + "/in.exr";
    std::string out = dir + "/out.exr";
    makeImage(in, 8, 6, 4, OIIO::TypeDesc::FLOAT, [&](int, int, int) { return k.sample; });
    OruRun run = runOru(in + " -o " + out);
    ASSERT_EQ(run.code, 0) << run.output;
    Stored stored = readStored(out);
    for (double v : stored.samples) ASSERT_EQ(v, k.expected) << "sample " << k.sample;
  }
}

// With threshold 0 no two pixels count as different, so nothing is smoothed:
// every byte value comes back unchanged, in an 8-bit file and as b / 255 in floats.
TEST(FilterFiles, EveryByteValueSurvivesTheRoundTrip) {
  std::string dir = oru_test::freshTempDir("files_bytes");
  Picture ramp = [](int x, int y, int c) {
    return static_cast<float>((x + 16 * y + 85 * c) % 256) / 255.0f;
  };
  for (const char* ext : {".png", ".exr"}) {
    std::string in = dir + "/in" + ext;
    std::string out = dir + "/out" + ext;
    makeImage(in, 16, 16, 4,
              std::string(ext) == ".png" ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT, ramp);
    OruRun run = runOru(in + " -o " + out + " --threshold 0");
    ASSERT_EQ(run.code, 0) << run.output;
    EXPECT_EQ(readStored(out).samples, readStored(in).samples) << ext;
  }
}

TEST(FilterFiles, FormatFollowsTheOutputName) {
  std::string dir = oru_test::freshTempDir("files_convert");
  std::string in = dir + "/in.png";
  makeImage(in, kW, kH, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  Planes expected = reference(planesOf(readStored(in), 3), "2 100 224");

  ASSERT_EQ(runOru(in + " -o " + dir + "/out.tif").code, 0);
  Stored tiff = readStored(dir + "/out.tif");
  EXPECT_EQ(tiff.layout.format, OIIO::TypeDesc::UINT8);
  expectMatches(tiff, expected, 3);

  // OpenEXR holds no bytes: the nearest it has.
  ASSERT_EQ(runOru(in + " -o " + dir + "/out.exr").code, 0);
  Stored exr = readStored(dir + "/out.exr");
  EXPECT_EQ(exr.layout.format, OIIO::TypeDesc::HALF);
  expectMatches(exr, expected, 3);

  // JPEG holds no alpha: written without it.
  OruRun jpeg = runOru(in + " -o " + dir + "/out.jpg");
  ASSERT_EQ(jpeg.code, 0) << jpeg.output;
  EXPECT_EQ(readStored(dir + "/out.jpg").layout.nchannels, 3);
}

// Writer attributes change how a file is packed, never its samples; the
// EXR compression is the input's unless one is given.
TEST(FilterFiles, WriteAttributesChangeThePackingOnly) {
  std::string dir = oru_test::freshTempDir("files_write_attributes");
  std::string in = dir + "/in.png";
  makeImage(in, kW, kH, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  Planes expected = reference(planesOf(readStored(in), 3), "2 100 224");
  auto bytes = [](const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  for (const char* level : {"", " --write-attribute png:compressionLevel=9",
                            " --write-attribute png:compressionLevel=0 --write-attribute "
                            "png:filter=16"}) {
    OruRun run = runOru(in + " -o " + dir + "/out.png" + level);
    ASSERT_EQ(run.code, 0) << run.output;
    expectMatches(readStored(dir + "/out.png"), expected, 3);
    fs::rename(dir + "/out.png", dir + "/out" + std::to_string(std::strlen(level)) + ".png");
  }
  std::set<std::string> packings;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename() != "in.png") packings.insert(bytes(entry.path().string()));
  }
  EXPECT_EQ(packings.size(), 3u);

  std::string exr = dir + "/in.exr";
  OIIO::ImageSpec piz;
  piz.attribute("compression", "piz");
  makeImage(exr, kW, kH, 4, OIIO::TypeDesc::HALF, jaggedPicture(), &piz);
  ASSERT_EQ(runOru(exr + " -o " + dir + "/kept.exr").code, 0);
  EXPECT_EQ(readStored(dir + "/kept.exr").layout.get_string_attribute("compression"), "piz");
  ASSERT_EQ(runOru(exr + " -o " + dir + "/zip.exr --write-attribute compression=zip").code, 0);
  EXPECT_EQ(readStored(dir + "/zip.exr").layout.get_string_attribute("compression"), "zip");

  OruRun bad = runOru(in + " -o " + dir + "/bad.png --write-attribute png:compressionLevel");
  EXPECT_EQ(bad.code, 1);
  EXPECT_TRUE(contains(bad.output, "--write-attribute png:compressionLevel: expected NAME=VALUE"))
      << bad.output;
  EXPECT_FALSE(fs::exists(dir + "/bad.png"));
}

// Channels the module does not see (here a depth channel) come out as read.
TEST(FilterFiles, ExtraChannelsPassThrough) {
  std::string dir = oru_test::freshTempDir("files_extra_channels");
  std::string in = dir + "/in.exr";
  std::string out = dir + "/out.exr";
  OIIO::ImageSpec layout(kW, kH, 5, OIIO::TypeDesc::FLOAT);
  layout.channelnames = {"R", "G", "B", "A", "Z"};
  layout.alpha_channel = 3;
  layout.z_channel = 4;
  std::vector<float> samples;
  Picture picture = jaggedPicture();
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 4; ++c) samples.push_back(picture(x, y, c));
      samples.push_back(100.0f + x * 0.37f - y);
    }
  }
  auto file = OIIO::ImageOutput::create(in);
  ASSERT_TRUE(file && file->open(in, layout));
  ASSERT_TRUE(file->write_image(OIIO::TypeDesc::FLOAT, samples.data()));
  file->close();

  ASSERT_EQ(runOru(in + " -o " + out).code, 0);
  Stored stored = readStored(out);
  ASSERT_EQ(stored.layout.nchannels, 5);
  // The reader sorts channels; find them by name.
  int z = stored.layout.channelindex("Z");
  ASSERT_GE(z, 0);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) ASSERT_EQ(stored.at(x, y, z), 100.0f + x * 0.37f - y);
  }
  Stored input = readStored(in);
  Planes planes = planesOf(input, input.layout.alpha_channel);
  Planes expected = reference(planes, "2 100 224");
  for (int c : {0, 1, 2}) {
    int file = stored.layout.channelindex(std::string(1, "RGB"[c]));
    EXPECT_EQ(stored.at(5, 7, file), expected.p[c][7 * kW + 5]);
  }
}

// Whatever metadata the input carries comes out again: resolution, colour
// space names, descriptions.
TEST(FilterFiles, KeepsTheMetadata) {
  std::string dir = oru_test::freshTempDir("files_metadata");
  OIIO::ImageSpec extra;
  extra.attribute("XResolution", 300.0f);
  extra.attribute("YResolution", 300.0f);
  extra.attribute("ResolutionUnit", "in");
  extra.attribute("oiio:ColorSpace", "Linear");
  extra.attribute("ImageDescription", "shot 12, take 3");
  for (const char* ext : {".tif", ".exr", ".png"}) {
    std::string in = dir + "/in" + ext;
    std::string out = dir + "/out" + ext;
    makeImage(in, kW, kH, 3, OIIO::TypeDesc::UINT16, jaggedPicture(), &extra);
    ASSERT_EQ(runOru(in + " -o " + out).code, 0);
    OIIO::ImageSpec before = readStored(in).layout;
    OIIO::ImageSpec after = readStored(out).layout;
    EXPECT_EQ(after.get_string_attribute("ImageDescription"), "shot 12, take 3") << ext;
    EXPECT_NEAR(after.get_float_attribute("XResolution"), 300.0f, 0.01f) << ext;
    for (const OIIO::ParamValue& p : before.extra_attribs) {
      EXPECT_EQ(after.metadata_val(p), before.metadata_val(p)) << ext << " " << p.name();
    }
  }
}

// ---- Settings ----------------------------------------------------------------------

TEST(FilterSettingsFiles, FlagsAndSettingsFilesGoTheSameWay) {
  std::string dir = oru_test::freshTempDir("files_settings");
  std::string in = dir + "/in.png";
  makeImage(in, kW, kH, 4, OIIO::TypeDesc::UINT8, jaggedPicture());

  // Saving needs no image: the block is what the module saves.
  std::string saved = dir + "/alpha.oru";
  OruRun save = runOru("--target alpha --threshold 200 --strength 40 --save-settings " + saved);
  ASSERT_EQ(save.code, 0) << save.output;
  std::string block = fileBytes(saved);
  ASSERT_EQ(block.size(), 120u);
  EXPECT_EQ(std::string(block.c_str()), "1 40 200");

  ASSERT_EQ(
      runOru(in + " -o " + dir + "/flags.png --target alpha --threshold 200 --strength 40").code,
      0);
  ASSERT_EQ(runOru(in + " -o " + dir + "/file.png --settings " + saved).code, 0);
  EXPECT_EQ(fileBytes(dir + "/flags.png"), fileBytes(dir + "/file.png"));
  Planes input = planesOf(readStored(in), 3);
  expectMatches(readStored(dir + "/file.png"), reference(input, "1 40 200"), 3);

  // Flags win over the file; what they leave alone comes from it.
  ASSERT_EQ(runOru(in + " -o " + dir + "/mixed.png --settings " + saved +
                   " --strength 70 --save-settings " + dir + "/mixed.oru")
                .code,
            0);
  EXPECT_EQ(std::string(fileBytes(dir + "/mixed.oru").c_str()), "1 70 200");
  expectMatches(readStored(dir + "/mixed.png"), reference(input, "1 70 200"), 3);

  // Without flags or a file the module's own defaults apply.
  ASSERT_EQ(runOru("--save-settings " + dir + "/defaults.oru").code, 0);
  EXPECT_EQ(std::string(fileBytes(dir + "/defaults.oru").c_str()), "2 100 224");
}

TEST(FilterSettingsFiles, OutOfRangeValuesAreRefused) {
  std::string dir = oru_test::freshTempDir("files_settings_range");
  std::string in = dir + "/in.png";
  makeImage(in, 8, 8, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  struct Case {
    std::string flags, words;
  };
  std::ofstream(dir + "/wild.oru", std::ios::binary)
      << std::string("7 300 -5") + std::string(112, '\0');
  std::ofstream(dir + "/short.oru", std::ios::binary) << "2 100 224";
  std::ofstream(dir + "/words.oru", std::ios::binary)
      << std::string("hello") + std::string(115, '\0');
  for (const Case& k :
       {Case{"--threshold 256", "--threshold 256: expected 0 to 255"},
        Case{"--threshold -1", "--threshold -1: expected 0 to 255"},
        Case{"--strength 101", "--strength 101: expected 0 to 100"},
        Case{"--target rgbx", "--target rgbx: expected rgb, alpha or rgba"},
        Case{"--settings " + dir + "/wild.oru", "wild.oru: target 7"},
        Case{"--settings " + dir + "/short.oru", "short.oru: settings file holds 9"},
        Case{"--settings " + dir + "/words.oru", "words.oru: not a settings block"},
        Case{"--settings " + dir + "/none.oru", "none.oru: no such file"}}) {
    OruRun run = runOru(in + " -o " + dir + "/out.png " + k.flags);
    EXPECT_EQ(run.code, 1) << k.flags;
    EXPECT_TRUE(contains(run.output, k.words)) << k.flags << ": " << run.output;
    EXPECT_FALSE(fs::exists(dir + "/out.png")) << k.flags;
  }
  // A flag may mend what the file gets wrong.
  OruRun mended = runOru(in + " -o " + dir + "/out.png --settings " + dir +
                         "/wild.oru --target rgb --strength 50 --threshold 5");
  EXPECT_EQ(mended.code, 0) << mended.output;
}

// ---- Errors ------------------------------------------------------------------------

TEST(FilterErrors, EveryProblemNamesTheFileAndWritesNothing) {
  std::string dir = oru_test::freshTempDir("files_errors");
  std::string good = dir + "/good.png";
  makeImage(good, kW, kH, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  std::ofstream(dir + "/text.png") << "this is not an image\n";
  std::ofstream(dir + "/text.xyz") << "this is not an image either\n";
  std::string whole = fileBytes(good);
  std::ofstream(dir + "/cut.png", std::ios::binary) << whole.substr(0, whole.size() / 2);
  fs::create_directory(dir + "/folder.png");
  fs::create_symlink(good, dir + "/link.png");
  std::ofstream(dir + "/plain") << "a file, not a folder";

  struct Case {
    std::string arguments, file, words;
  };
  std::string out = dir + "/out/x.png";
  fs::create_directory(dir + "/out");
  for (const Case& k : std::vector<Case>{
           {dir + "/missing.png -o " + out, "missing.png", "no such file"},
           {dir + "/text.png -o " + out, "text.png", "cannot read the image"},
           {dir + "/text.xyz -o " + out, "text.xyz", "cannot read the image"},
           {dir + "/cut.png -o " + out, "cut.png", "cannot read the pixels"},
           {dir + "/folder.png -o " + out, "folder.png", "is a folder"},
           {good + " -o " + dir + "/out/x.xyz", "x.xyz", "no image format is known"},
           {good + " -o " + good, "good.png", "would overwrite the input"},
           {good + " -o " + dir + "/../files_errors/good.png", "good.png",
            "would overwrite the input"},
           {good + " -o " + dir + "/link.png", "link.png", "would overwrite the input"},
           {dir + "/link.png -o " + good, "good.png", "would overwrite the input"},
           {good + " -o " + dir + "/nowhere/x.png", "nowhere/x.png",
            "output folder does not exist"},
           {good + " -o " + dir + "/plain/x.png", "plain/x.png", "output folder is not a folder"},
           {good + " -o /proc/oru-test.png", "/proc/oru-test.png", "cannot create a file"},
           {good, "good.png", "give an output name"},
           {"", "oru filter", "give an input image"},
           {good + " -o " + out + " --frames 1-3", "good.png", "need a frame sequence"},
       }) {
    OruRun run = runOru(k.arguments);
    EXPECT_EQ(run.code, 1) << k.arguments << "\n" << run.output;
    EXPECT_TRUE(contains(run.output, k.file)) << k.arguments << "\n" << run.output;
    EXPECT_TRUE(contains(run.output, k.words)) << k.arguments << "\n" << run.output;
  }
  EXPECT_TRUE(filesIn(dir + "/out").empty());
  EXPECT_EQ(fileBytes(good), whole);
}

TEST(FilterErrors, AModuleThatCannotBeLoaded) {
  std::string dir = oru_test::freshTempDir("files_bad_module");
  makeImage(dir + "/in.png", 8, 8, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  OruRun run = runOru(dir + "/in.png -o " + dir + "/out.png --module " + dir + "/none.p");
  EXPECT_EQ(run.code, 1);
  EXPECT_TRUE(contains(run.output, "none.p")) << run.output;
}

TEST(FilterCommand, HelpAndVersion) {
  OruRun help = runOru("--help");
  EXPECT_EQ(help.code, 0);
  EXPECT_TRUE(contains(help.output, "--threshold")) << help.output;
  EXPECT_TRUE(contains(help.output, "Examples:")) << help.output;
  OruRun version = oru_file_test::OruRun{};
  version.output = oru_test::commandOutput(std::string(ORU_PROGRAM) + " --version", &version.code);
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(contains(version.output, "oru ")) << version.output;
}

}  // namespace
