// Raw frame files: what is written is read back, and a damaged file is
// refused with a message that names it and the problem.
#include "rawhost/raw_frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "runner/host/host_error.h"
#include "tests/test_support.h"

namespace {

using oru_rawhost::RawFrame;

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// The message of the HostError that reading path throws, or "" when none.
std::string readError(const std::string& path) {
  try {
    oru_rawhost::readFramesFile(path);
  } catch (const oru_runner::HostError& e) {
    return e.what();
  }
  return "";
}

TEST(RawFrames, FramesComeBackAsWritten) {
  std::string dir = oru_test::freshTempDir("raw_frames_round_trip");
  std::vector<RawFrame> frames(2);
  frames[0].resize(3, 2, 0.25f);
  frames[0].planes[3][5] = -0.0f;
  frames[0].settings = oru_runner::settingsBlockFromText("1 50 200");
  frames[1].resize(1, 1, 1.5f);
  oru_rawhost::writeFramesFile(dir + "/f", frames);

  std::vector<RawFrame> back = oru_rawhost::readFramesFile(dir + "/f");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].width, 3);
  EXPECT_EQ(back[0].height, 2);
  EXPECT_EQ(oru_runner::settingsText(back[0].settings), "1 50 200");
  EXPECT_TRUE(std::signbit(back[0].planes[3][5]));
  EXPECT_EQ(back[0].planes[2], frames[0].planes[2]);
  EXPECT_EQ(back[1].planes[0][0], 1.5f);
}

TEST(RawFrames, DamagedFilesAreRefusedByName) {
  std::string dir = oru_test::freshTempDir("raw_frames_damaged");
  std::vector<RawFrame> frames(1);
  frames[0].resize(4, 4);
  oru_rawhost::writeFramesFile(dir + "/good", frames);
  std::string good = bytesOf(dir + "/good");

  struct Case {
    const char* name;
    std::string bytes;
    const char* problem;
  };
  std::string hugeWidth = good;
  hugeWidth.replace(12, 4, "\xff\xff\xff\x7f");  // the width, little-endian
  const Case cases[] = {
      {"short", good.substr(0, good.size() - 1), "ends inside a plane"},
      {"trailing", good + "x", "1 bytes after the last frame"},
      {"kind", "ORURESLT" + good.substr(8), "not a ORUFRAME file"},
      {"empty", "", "ends inside the file's kind"},
      {"size", hugeWidth, "has size 2147483647 x 4"},
  };
  for (const Case& c : cases) {
    std::string path = dir + "/" + c.name;
    writeBytes(path, c.bytes);
    std::string message = readError(path);
    EXPECT_NE(message.find(path), std::string::npos) << c.name << ": " << message;
    EXPECT_NE(message.find(c.problem), std::string::npos) << c.name << ": " << message;
  }
  EXPECT_NE(readError(dir + "/missing").find("no such file"), std::string::npos);
}

}  // namespace
