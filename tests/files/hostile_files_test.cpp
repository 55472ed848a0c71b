// Files that are not what they claim to be, and disks that refuse what is
// written: each case gives the oru program such a file or place and says
// what must happen and which files it leaves. After every case no temporary
// file is left, the inputs are as they were, and every line printed is
// oru's own (no image library's line, no raw byte of a file).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "tests/files/file_support.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace oru_file_test;

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// An uncompressed RGB TIFF with its directory before the pixels (as many
// programs write it; libtiff puts it last), of width x height.
std::string directoryFirstTiff(int width, int height) {
  std::string t("II*\0\x08\0\0\0", 8);
  auto u16 = [&t](unsigned v) { t += {static_cast<char>(v & 255), static_cast<char>(v >> 8)}; };
  auto u32 = [&u16](unsigned v) { u16(v & 0xffff), u16(v >> 16); };
  auto entry = [&](unsigned tag, unsigned type, unsigned value, unsigned count = 1) {
    u16(tag), u16(type), u32(count), u32(value);
  };
  const unsigned entries = 9, bitsAt = 8 + 2 + entries * 12 + 4, pixelsAt = bitsAt + 6;
  const unsigned bytes = static_cast<unsigned>(width * height * 3);
  u16(entries);
  entry(256, 3, width), entry(257, 3, height), entry(258, 3, bitsAt, 3), entry(259, 3, 1);
  entry(262, 3, 2), entry(273, 4, pixelsAt), entry(277, 3, 3), entry(278, 3, height);
  entry(279, 4, bytes);
  u32(0);
  u16(8), u16(8), u16(8);
  for (unsigned i = 0; i < bytes; ++i) t += static_cast<char>(i * 7);
  return t;
}

// A PNG whose header claims 16000 x 16000 RGBA pixels, with one small IDAT.
std::string lyingPng() {
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  auto crc = [](const std::string& bytes) {
    std::uint32_t c = 0xffffffff;
    for (unsigned char b : bytes) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >> 1) : c >> 1;
    }
    return ~c;
  };
  auto chunk = [&](const std::string& type, const std::string& data) {
    return be32(static_cast<std::uint32_t>(data.size())) + type + data + be32(crc(type + data));
  };
  return std::string("\x89PNG\r\n\x1a\n", 8) +
         chunk("IHDR", be32(16000) + be32(16000) + std::string("\x08\x06\0\0\0", 5)) +
         chunk("IDAT", std::string("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10)) +
         chunk("IEND", "");
}

// The same samples with associated alpha (no mark) and unassociated alpha.
void alphaTiffs(const std::string& dir) {
  for (bool associated : {true, false}) {
    OIIO::ImageSpec layout(16, 8, 4, OIIO::TypeDesc::UINT8);
    layout.alpha_channel = 3;
    if (!associated) layout.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<unsigned char> samples(16 * 8 * 4);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      samples[i] = static_cast<unsigned char>(i % 4 == 3 ? 64 + i % 192 : (i * 5) % 64);
    }
    std::string path = dir + (associated ? "/associated.tif" : "/unassociated.tif");
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, layout) &&
                out->write_image(OIIO::TypeDesc::UINT8, samples.data()) && out->close());
  }
}

struct FileCase {
  const char* name;
  std::string setup;    // shell commands run first in the case's folder
  std::string command;  // a shell line run in the case's folder; {oru} is the program,
                        // {in} the folder of prepared inputs, {full} a small disk,
                        // {memory} a limit for ulimit -v that a small frame stays within,
                        // {nobody} runs what follows as nobody (when this is root)
  int code;
  std::string words;         // what oru must print: "A&B" both, "A|B" either
  std::string outputs = {};  // files the run writes in the case's folder, by name
  std::function<void(const std::string& dir)> check = {};
};

void PrintTo(const FileCase& c, std::ostream* out) {
  *out << c.name;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at; (at = text.find(from)) != std::string::npos;)
    text.replace(at, from.size(), to);
  return text;
}

class HostileFiles : public ::testing::TestWithParam<FileCase> {
 protected:
  static void SetUpTestSuite() {
    in_ = madeOnce("hostile_files_inputs", [](const std::string& in) {
      makeImage(in + "/a.png", 24, 16, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
      makeImage(in + "/noise.png", 512, 512, 4, OIIO::TypeDesc::UINT8,
                [](int x, int y, int c) { return noise(x, y, c); });
      for (int f = 1; f <= 3; ++f)
        fs::copy(in + "/noise.png", in + "/f.000" + std::to_string(f) + ".png");
      makeImage(in + "/big.png", 3000, 3000, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
      makeImage(in + "/noise.jpg", 256, 256, 3, OIIO::TypeDesc::UINT8,
                [](int x, int y, int c) { return noise(x, y, c); });
      OIIO::ImageSpec lzw;
      lzw.attribute("compression", "lzw");
      makeImage(
          in + "/noise.tif", 256, 256, 4, OIIO::TypeDesc::UINT8,
          [](int x, int y, int c) { return noise(x, y, c); }, &lzw);
      for (const char* name : {"noise.png", "noise.jpg"}) {
        std::string whole = fileBytes(in + "/" + name);
        writeBytes(in + "/cut-" + name, whole.substr(0, whole.size() / 2));
      }
      std::string tiff = fileBytes(in + "/noise.tif");
      tiff.replace(tiff.size() / 2, 2000, 2000, 'Z');
      writeBytes(in + "/damaged.tif", tiff);
      std::string first = directoryFirstTiff(64, 64);
      writeBytes(in + "/cut-first.tif", first.substr(0, first.size() / 2));
      writeBytes(in + "/lie.png", lyingPng());
      alphaTiffs(in);
      std::string locked = in + "/locked.png";
      fs::copy(in + "/a.png", locked);
      fs::permissions(locked, fs::perms::none);
    });
    inputs_ = new std::map<std::string, std::string>(filesWithBytes(in_));
  }

  // The smallest ulimit -v (in KB) under which a small frame is filtered,
  // in steps of 64 MB, and 64 MB more: well below what a 3000 x 3000 frame
  // needs (its planes alone take 144 MB).
  static std::string memoryLimit() {
    static const std::string limit = [] {
      const std::string dir =
          oru_test::freshTempDir("hostile_files_memory_" + std::to_string(getpid()));
      for (long kb = 256 << 10; kb < 4L << 20; kb += 64 << 10) {
        int code = -1;
        oru_test::commandOutput("cd '" + dir + "' && ulimit -v " + std::to_string(kb) + " && " +
                                    ORU_PROGRAM + " filter '" + in_ +
                                    "/a.png' -o o.png >/dev/null 2>&1",
                                &code);
        if (code == 0) return std::to_string(kb + (64 << 10));
      }
      return std::string();
    }();
    return limit;
  }

  static std::string in_;
  static std::map<std::string, std::string>* inputs_;
};
std::string HostileFiles::in_;
std::map<std::string, std::string>* HostileFiles::inputs_;

// Every alternative of one of words' "&" parts is missing from output.
bool says(const std::string& output, const std::string& words) {
  std::istringstream parts(words);
  for (std::string part; std::getline(parts, part, '&');) {
    bool found = false;
    std::istringstream either(part);
    for (std::string text; std::getline(either, text, '|');)
      found = found || contains(output, text);
    if (!found) return false;
  }
  return true;
}

TEST_P(HostileFiles, FailsAloneAndLeavesNothingHalfWritten) {
  const FileCase& c = GetParam();
  const std::string dir = std::string(ORU_TEST_TMP_DIR) + "/hostile_files_" + c.name;
  const std::string full = dir + "/full";
  std::string command = c.command;
  oru_test::commandOutput("umount '" + full + "' 2>/dev/null");
  oru_test::freshTempDir(std::string("hostile_files_") + c.name);
  // A disk that is full after 200 KB, where the system lets a test mount
  // one; else a file size limit of 4 KB, which fails writes the same way.
  bool mounted = false;
  if (contains(command, "{full}")) {
    fs::create_directory(full);
    int code = -1;
    oru_test::commandOutput("mount -t tmpfs -o size=200k tmpfs '" + full + "' 2>&1", &code);
    mounted = code == 0;
    if (!mounted) {
      std::cout << "(no tmpfs could be mounted: a file size limit stands for the full disk)\n";
      command = "trap '' XFSZ; ulimit -f 4; " + command;
    }
  }
  if (contains(command, "{memory}")) {
    if (memoryLimit().empty()) GTEST_SKIP() << "no memory limit lets a small frame through";
    command = replaced(command, "{memory}", memoryLimit());
  }
  if (contains(command, "{nobody}") && geteuid() == 0) {
    if (oru_test::commandOutput("command -v setpriv").empty()) {
      GTEST_SKIP() << "root reads any file, and setpriv is missing to run as nobody";
    }
    const std::string nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
    if (oru_test::commandOutput(nobody + " test -x " + ORU_PROGRAM + " -a -r '" + in_ +
                                "/a.png' && echo yes") != "yes\n") {
      GTEST_SKIP() << "nobody cannot reach the program or the test's files";
    }
    command = replaced(command, "{nobody}", nobody);
  }
  command = replaced(command, "{nobody}", "");
  command =
      replaced(replaced(replaced(command, "{oru}", ORU_PROGRAM), "{in}", in_), "{full}", full);

  int code = 0;
  oru_test::commandOutput("cd '" + dir + "' && { " + (c.setup.empty() ? ":" : c.setup) + "; }",
                          &code);
  ASSERT_EQ(code, 0) << c.setup;
  writeBytes(dir + "/run.sh", command + "\n");
  const auto before = filesWithBytes(dir);
  const std::string output = oru_test::commandOutput(
      "cd '" + dir + "' && timeout -s KILL 60 sh run.sh 2>&1 </dev/null", &code);
  std::string leftOnDisk;
  if (fs::exists(full)) {
    for (const std::string& name : filesIn(full)) leftOnDisk += name == "filler" ? "" : name + " ";
  }
  if (mounted) oru_test::commandOutput("umount '" + full + "'");

  EXPECT_EQ(code, c.code) << command << "\n" << output;
  EXPECT_TRUE(says(output, c.words)) << command << "\n" << output;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(line.rfind("oru", 0), 0u) << "not oru's line: " << line;
    for (unsigned char b : line) EXPECT_TRUE(b >= 0x20 && b < 0x7f) << "a raw byte in: " << line;
  }
  EXPECT_EQ(leftOnDisk, "") << "left on the small disk";

  const auto after = filesWithBytes(dir);
  std::istringstream written(c.outputs);
  std::set<std::string> outputs{std::istream_iterator<std::string>(written), {}};
  for (const auto& [name, bytes] : after) {
    EXPECT_TRUE(outputs.count(name) || (before.count(name) && before.at(name) == bytes))
        << c.name << " wrote " << name;
  }
  for (const std::string& name : outputs) EXPECT_TRUE(after.count(name)) << "no " << name;
  EXPECT_TRUE(filesWithBytes(in_) == *inputs_) << c.name << " changed an input";
  if (c.check && !::testing::Test::HasFailure()) c.check(dir);
}

const std::string kFull = "no space left on device|file too large";

// Each of the three frames fails alone, and the summary says so.
std::string kFullFrames(const std::string& ext) {
  std::string words = kFull + "&3 of 3 frames failed";
  for (int f = 1; f <= 3; ++f) {
    words += "&o.000" + std::to_string(f) + "." + ext + ": cannot write the image: ";
  }
  return words;
}

// The associated TIFF keeps its mark and its stored samples; as a PNG, which
// holds straight alpha, its colour is divided by alpha.
void alphaKept(const std::string& dir) {
  Stored associated = readStored(dir + "/a.tif"), straight = readStored(dir + "/u.tif");
  EXPECT_EQ(associated.layout.get_int_attribute("oiio:UnassociatedAlpha", 0), 0);
  EXPECT_EQ(straight.layout.get_int_attribute("oiio:UnassociatedAlpha", 0), 1);
  EXPECT_EQ(associated.samples, straight.samples);
  Stored png = readStored(dir + "/a.png");
  for (int x = 0; x < 16; ++x) {
    double alpha = associated.at(x, 3, 3) / 255.0;
    if (alpha < 0.25) continue;
    EXPECT_NEAR(png.at(x, 3, 0), std::min(255.0, associated.at(x, 3, 0) / alpha), 1.0) << x;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFiles,
    ::testing::Values(
        // Full disks: the frame fails, names the output and the cause; later frames are tried.
        FileCase{"full_png", "", "{oru} filter {in}/noise.png -o {full}/o.png", 1, kFull},
        FileCase{"full_jpg", "", "{oru} filter {in}/noise.png -o {full}/o.jpg", 1, kFull},
        FileCase{"full_tif", "", "{oru} filter {in}/noise.png -o {full}/o.tif", 1, kFull},
        FileCase{"full_exr", "", "{oru} filter {in}/noise.png -o {full}/o.exr", 1, kFull},
        FileCase{"full_sequence_j1", "", "{oru} filter {in}/f.####.png -o {full}/o.####.png -j 1",
                 1, kFullFrames("png")},
        FileCase{"full_sequence_j2_jpg", "",
                 "{oru} filter {in}/f.####.png -o {full}/o.####.jpg -j 2", 1, kFullFrames("jpg")},
        FileCase{"full_dialog_picture", "",
                 "head -c 300000 /dev/zero > {full}/filler 2>/dev/null; {oru} dialog {in}/a.png "
                 "--headless --screenshot {full}/shot.png",
                 1, "shot.png: cannot write the file: "},
        // Inputs that are not regular files, or not readable.
        FileCase{"fifo", "mkfifo p.png", "{oru} filter p.png -o o.png", 1, "is a pipe"},
        FileCase{"device", "", "{oru} filter /dev/zero -o o.png", 1, "is a device"},
        FileCase{"unreadable", "", "{nobody} {oru} filter {in}/locked.png -o o.png", 1,
                 "locked.png: cannot read the image: permission denied"},
        // Files cut short or damaged: an error, never a partial frame.
        FileCase{"cut_png", "", "{oru} filter {in}/cut-noise.png -o o.png", 1,
                 "cut-noise.png: cannot read the pixels"},
        FileCase{"cut_jpg", "", "{oru} filter {in}/cut-noise.jpg -o o.png", 1,
                 "cut-noise.jpg: cannot read the pixels"},
        FileCase{"cut_tif", "", "{oru} filter {in}/cut-first.tif -o o.png", 1,
                 "cut-first.tif: cannot read the pixels"},
        FileCase{"damaged_tif", "", "{oru} filter {in}/damaged.tif -o o.png", 1,
                 "damaged.tif: cannot read the pixels"},
        // Claimed sizes and memory: the frame fails, naming the file.
        FileCase{"lying_header", "", "ulimit -v {memory}; {oru} filter {in}/lie.png -o o.png", 1,
                 "lie.png: cannot read the image: it claims 16000 x 16000 pixels"},
        FileCase{"no_memory", "", "ulimit -v {memory}; {oru} filter {in}/big.png -o o.png", 1,
                 "not enough memory for a 3000 x 3000 frame"},
        // Alpha as the input has it.
        FileCase{"associated_alpha", "",
                 "{oru} filter {in}/associated.tif -o a.tif && {oru} filter {in}/unassociated.tif "
                 "-o u.tif && {oru} filter {in}/associated.tif -o a.png",
                 0, "", "a.tif u.tif a.png", alphaKept},
        // Attributes that would change the samples, or that no writer knows.
        FileCase{"lossy_compression", "",
                 "{oru} filter {in}/a.png -o o.exr --write-attribute compression=dwaa", 1,
                 "compression=dwaa: would change the samples"},
        FileCase{"lossy_for_half", "",
                 "{oru} filter {in}/a.png -o o.exr --write-attribute compression=b44", 1,
                 "compression=b44: would change the samples of this half image"},
        FileCase{"unknown_compression", "",
                 "{oru} filter {in}/a.png -o o.tif --write-attribute compression=zstd9", 1,
                 "not a compression the tiff writer knows"}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

}  // namespace
