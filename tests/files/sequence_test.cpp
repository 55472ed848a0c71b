// Frame sequences: name patterns, frame ranges, render-farm slices, worker
// processes, and what happens when a frame is missing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "runner/frames/frame_sequence.h"
#include "runner/frames/image_io.h"
#include "runner/host/host_error.h"
#include "tests/files/file_support.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace oru_file_test;
using oru_runner::FramePattern;
using oru_runner::HostError;

using oru_test::errorOf;

TEST(FramePatterns, HashesAndPrintfPlaces) {
  EXPECT_EQ(FramePattern("shot.####.exr").fileFor(7), "shot.0007.exr");
  EXPECT_EQ(FramePattern("shot.#.exr").fileFor(12), "shot.12.exr");
  EXPECT_EQ(FramePattern("renders/v#2/shot_%04d.png").fileFor(31), "renders/v#2/shot_0031.png");
  EXPECT_EQ(FramePattern("shot_%d.png").fileFor(31), "shot_31.png");
  EXPECT_EQ(FramePattern("shot_%06d.png").fileFor(1234567), "shot_1234567.png");
  FramePattern single("still.png");
  EXPECT_FALSE(single.isSequence());
  EXPECT_EQ(single.fileFor(3), "still.png");
  EXPECT_NE(errorOf([] { FramePattern("a_##_%04d.png"); }).find("more than one place"),
            std::string::npos);
  EXPECT_NE(errorOf([] { FramePattern("a_%4d.png"); }).find("use %04d"), std::string::npos);
}

TEST(FramePatterns, FramesOnDiskAreThoseThePatternWouldName) {
  std::string dir = oru_test::freshTempDir("seq_on_disk");
  for (const char* name : {"f.0003.png", "f.0001.png", "f.0010.png", "f.01.png", "f.abcd.png",
                           "f.0002.exr", "g.0004.png", "f.12345.png"}) {
    std::ofstream(dir + "/" + name) << "x";
  }
  EXPECT_EQ(FramePattern(dir + "/f.####.png").framesOnDisk(), (std::vector<int>{1, 3, 10, 12345}));
  EXPECT_EQ(FramePattern(dir + "/f.%d.png").framesOnDisk(), (std::vector<int>{12345}));
}

TEST(FrameRanges, FormsAndMistakes) {
  using oru_runner::parseFrameRange;
  EXPECT_EQ(parseFrameRange("1-5"), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(parseFrameRange("10-20x4"), (std::vector<int>{10, 14, 18}));
  EXPECT_EQ(parseFrameRange("7"), (std::vector<int>{7}));
  EXPECT_EQ(parseFrameRange("0-0"), (std::vector<int>{0}));
  for (const char* bad :
       {"", "5-1", "1-10x0", "a-b", "1-", "-3", "1-10x", "1..10", "1-9999999999"}) {
    std::string message = errorOf([&] { parseFrameRange(bad); });
    EXPECT_NE(message.find("--frames"), std::string::npos) << bad << ": " << message;
  }
}

TEST(FrameChunks, SlicesCoverTheRangeExactlyOnce) {
  using oru_runner::parseChunk;
  using oru_runner::sliceOf;
  EXPECT_EQ(parseChunk("3/10").index, 3);
  EXPECT_EQ(parseChunk("3/10").count, 10);
  for (const char* bad : {"0/4", "5/4", "1/0", "1", "a/b", "1/4/2"}) {
    EXPECT_NE(errorOf([&] { parseChunk(bad); }).find("--chunk"), std::string::npos) << bad;
  }
  for (int frames : {1, 7, 48, 100}) {
    for (int slices : {1, 3, 4, 7, 10, 60}) {
      std::vector<int> all = oru_runner::parseFrameRange("1-" + std::to_string(frames));
      std::vector<int> joined;
      std::size_t smallest = all.size(), largest = 0;
      for (int k = 1; k <= slices; ++k) {
        std::vector<int> part = sliceOf(all, {k, slices});
        smallest = std::min(smallest, part.size());
        largest = std::max(largest, part.size());
        joined.insert(joined.end(), part.begin(), part.end());
      }
      EXPECT_EQ(joined, all) << frames << " frames in " << slices << " slices";
      EXPECT_LE(largest - smallest, 1u) << frames << " frames in " << slices << " slices";
    }
  }
}

TEST(ImageReading, SamplesAsStoredWithAlphaOneWhenThereIsNone) {
  std::string dir = oru_test::freshTempDir("seq_reading");
  makeImage(dir + "/rgb.exr", 4, 3, 3, OIIO::TypeDesc::FLOAT, [](int x, int, int c) {
    return c == 0 ? 2.5f : c == 1 ? -0.75f : x * 0.25f;
  });
  oru_runner::ImageFrame frame = oru_runner::readImage(dir + "/rgb.exr");
  EXPECT_FALSE(frame.hasAlpha());
  EXPECT_EQ(frame.planes[0][5], 2.5f);
  EXPECT_EQ(frame.planes[1][5], -0.75f);
  EXPECT_EQ(frame.planes[2][3], 0.75f);
  EXPECT_EQ(frame.planes[3][7], 1.0f);

  makeImage(dir + "/ga.png", 4, 3, 2, OIIO::TypeDesc::UINT8,
            [](int x, int, int c) { return c == 3 ? x / 255.0f : 200 / 255.0f; });
  frame = oru_runner::readImage(dir + "/ga.png");
  ASSERT_TRUE(frame.hasAlpha());
  for (int p = 0; p < 3; ++p) EXPECT_EQ(frame.planes[p][1], 200 / 255.0f);
  // Alpha as stored, not premultiplied into the colour.
  EXPECT_EQ(frame.planes[3][1], 1 / 255.0f);
}

// ---- Sequences through the program --------------------------------------------

class Sequence : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = oru_test::freshTempDir(std::string("seq_") +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir + "/in");
  }
  void makeFrames(const std::vector<int>& frames) {
    for (int f : frames) {
      makeImage(frameName("in", f), 32, 24, 4, OIIO::TypeDesc::UINT8, jaggedPicture(f));
    }
  }
  std::string frameName(const std::string& sub, int f) const {
    char name[32];
    std::snprintf(name, sizeof name, "/f.%04d.png", f);
    return dir + "/" + sub + name;
  }
  std::string fileBytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir;
};

TEST_F(Sequence, EveryFrameIsTheModulesOutput) {
  makeFrames({1, 2, 3});
  fs::create_directories(dir + "/out");
  OruRun run = runOru(dir + "/in/f.####.png -o " + dir + "/out/f.####.png --frames 1-3 -j 1");
  ASSERT_EQ(run.code, 0) << run.output;
  for (int f = 1; f <= 3; ++f) {
    Planes input = planesOf(readStored(frameName("in", f)), 3);
    Planes expected = reference(input, "2 100 224");
    Stored out = readStored(frameName("out", f));
    ASSERT_EQ(out.samples.size(), expected.p[0].size() * 4);
    int mismatches = 0;
    for (std::size_t i = 0; i < expected.p[0].size(); ++i) {
      for (int c = 0; c < 4; ++c) {
        mismatches += out.samples[i * 4 + c] != std::lround(expected.p[c][i] * 255.0);
      }
    }
    EXPECT_EQ(mismatches, 0) << "frame " << f;
  }
}

TEST_F(Sequence, AMissingFrameFailsAloneAndIsNamed) {
  makeFrames({1, 2, 4, 5});
  fs::create_directories(dir + "/out");
  for (const char* jobs : {"1", "2"}) {
    fs::remove_all(dir + "/out");
    fs::create_directories(dir + "/out");
    OruRun run =
        runOru(dir + "/in/f.%04d.png -o " + dir + "/out/f.%04d.png --frames 1-5 -j " + jobs);
    EXPECT_EQ(run.code, 1) << run.output;
    EXPECT_NE(run.output.find("in/f.0003.png: no such file"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1 of 5 frames failed: 3"), std::string::npos) << run.output;
    EXPECT_EQ(filesIn(dir + "/out"),
              (std::vector<std::string>{"f.0001.png", "f.0002.png", "f.0004.png", "f.0005.png"}))
        << "-j " << jobs;
  }

  // --fail-fast: nothing after the failed frame is started.
  fs::remove_all(dir + "/out");
  fs::create_directories(dir + "/out");
  OruRun fast =
      runOru(dir + "/in/f.####.png -o " + dir + "/out/f.####.png --frames 1-5 -j 1 --fail-fast");
  EXPECT_EQ(fast.code, 1);
  EXPECT_NE(fast.output.find("2 not started"), std::string::npos) << fast.output;
  EXPECT_EQ(filesIn(dir + "/out"), (std::vector<std::string>{"f.0001.png", "f.0002.png"}));

  // Without --frames the frames are the files present.
  fs::remove_all(dir + "/out");
  fs::create_directories(dir + "/out");
  OruRun present = runOru(dir + "/in/f.####.png -o " + dir + "/out/f.####.png -j 2");
  EXPECT_EQ(present.code, 0) << present.output;
  EXPECT_EQ(filesIn(dir + "/out").size(), 4u);
}

TEST_F(Sequence, AnyNumberOfWorkersWritesTheSameFiles) {
  std::vector<int> frames{1, 2, 3, 4, 5, 6, 7};
  makeFrames(frames);
  std::map<std::string, std::vector<std::string>> results;
  for (const char* jobs : {"1", "2", "3"}) {
    std::string out = dir + "/j" + jobs;
    fs::create_directories(out);
    OruRun run = runOru(dir + "/in/f.####.png -o " + out + "/f.####.png -j " + jobs);
    ASSERT_EQ(run.code, 0) << run.output;
    // Not a terminal: no progress line, only the last line of what was done.
    EXPECT_EQ(run.output.rfind("oru: 7 frames: 7 written, 0 skipped (outputs exist), 0 failed; " +
                                   std::string(jobs) + " process",
                               0),
              0u)
        << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    for (int f : frames) results[jobs].push_back(fileBytes(frameName(std::string("j") + jobs, f)));
  }
  EXPECT_EQ(results["1"], results["2"]);
  EXPECT_EQ(results["1"], results["3"]);
  for (const std::string& bytes : results["1"]) EXPECT_FALSE(bytes.empty());
}

// Every format through forked workers: the image library must not have
// started threads in the parent before the fork (a worker would hang).
TEST_F(Sequence, WorkersHandleEveryFormat) {
  for (const char* ext : {".exr", ".tif", ".png"}) {
    std::string in = dir + "/in/g.####" + ext;
    for (int f = 1; f <= 4; ++f) {
      char name[32];
      std::snprintf(name, sizeof name, "/in/g.%04d%s", f, ext);
      makeImage(dir + name, 24, 16, 4,
                std::string(ext) == ".exr" ? OIIO::TypeDesc::HALF : OIIO::TypeDesc::UINT8,
                jaggedPicture(f));
    }
    for (const char* jobs : {"1", "2"}) {
      std::string out = dir + "/j" + jobs + ext;
      fs::create_directories(out);
      OruRun run = runOru(in + " -o " + out + "/g.####" + ext + " -v -j " + jobs);
      ASSERT_EQ(run.code, 0) << run.output;
      EXPECT_NE(run.output.find(std::string("; ") + jobs + " process"), std::string::npos)
          << run.output;
    }
    for (int f = 1; f <= 4; ++f) {
      char name[32];
      std::snprintf(name, sizeof name, "/g.%04d%s", f, ext);
      EXPECT_EQ(readStored(dir + "/j1" + ext + name).samples,
                readStored(dir + "/j2" + ext + name).samples)
          << name;
    }
  }
}

TEST_F(Sequence, ChunksOfTheCommandLineCoverTheRangeOnce) {
  makeFrames({1, 2, 3, 4, 5, 6, 7});
  fs::create_directories(dir + "/out");
  std::map<int, int> written;
  static const std::regex line("-> .*/out/f\\.([0-9]{4})\\.png");
  for (int k = 1; k <= 3; ++k) {
    OruRun run = runOru(dir + "/in/f.####.png -o " + dir +
                        "/out/f.####.png --frames 1-7 -v -j 2 --chunk " + std::to_string(k) + "/3");
    ASSERT_EQ(run.code, 0) << run.output;
    for (std::sregex_iterator it(run.output.begin(), run.output.end(), line), end; it != end;
         ++it) {
      ++written[std::stoi((*it)[1])];
    }
  }
  EXPECT_EQ(written, (std::map<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}}));
  EXPECT_EQ(filesIn(dir + "/out").size(), 7u);

  // More slices than frames: some slices are empty, and that is no failure.
  OruRun empty =
      runOru(dir + "/in/f.####.png -o " + dir + "/out/f.####.png --frames 1-2 --chunk 2/5");
  EXPECT_EQ(empty.code, 0) << empty.output;
}

TEST_F(Sequence, PatternMistakesAndOverwrites) {
  makeFrames({1, 2, 10});
  fs::create_directories(dir + "/out");
  struct Case {
    std::string arguments, words;
  };
  std::string in = dir + "/in/f.####.png";
  for (const Case& k : std::vector<Case>{
           {in + " -o " + dir + "/out/single.png", "the output needs a place for the frame number"},
           {frameName("in", 1) + " -o " + dir + "/out/f.####.png", "the input has none"},
           {dir + "/in/g.####.png -o " + dir + "/out/g.####.png", "no files match"},
           {in + " -o " + dir + "/in/f.####.png", "would overwrite the input"},
           // Another padding can land an output on another input frame.
           {dir + "/in/f.#.png -o " + dir + "/in/f.#0.png --frames 1-10",
            "in/f.10.png: the output"},
           {in + " -o " + dir + "/out/f.####.png --frames 3-1", "--frames 3-1"},
           {in + " -o " + dir + "/out/f.####.png --chunk 4/3", "--chunk 4/3"},
       }) {
    // With -j 2 the worker started before the checks is let go unheard:
    // the problem is said once.
    OruRun run = runOru(k.arguments + " -j 2");
    EXPECT_EQ(run.code, 1) << k.arguments << "\n" << run.output;
    EXPECT_NE(run.output.find(k.words), std::string::npos) << k.arguments << "\n" << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
  }
  EXPECT_TRUE(filesIn(dir + "/out").empty());
}

}  // namespace
