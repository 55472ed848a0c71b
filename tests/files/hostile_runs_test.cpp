// The oru program run as a careless or hostile user runs it: side files named
// after inputs, odd numbers, pipes and devices where files belong, runs cut
// short by Ctrl-C, kill -9 and stale temporary files. Each case says what
// must happen and what must be left on disk; after every case the files that
// were there are unchanged (unless the case names them as its outputs), no
// temporary file is left, and nothing unprintable reached the terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/files/file_support.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace oru_file_test;

std::vector<std::string> temporariesIn(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : filesIn(dir)) {
    if (name.find(".tmp-") != std::string::npos) found.push_back(name);
  }
  return found;
}

bool printable(const std::string& text) {
  for (unsigned char c : text) {
    if ((c < 0x20 && c != '\n') || c == 0x7F) return false;
  }
  return true;
}

// ---- Runs refused or mended before any work --------------------------------

struct RunCase {
  const char* name;
  std::string setup;    // shell commands run first in the case's folder
  std::string command;  // oru's arguments, run in the folder
  int code;
  std::string words;  // in what oru printed
  // Files the run writes ("NAME", or "NAME=TEXT" for a settings block, with
  // _ for a space) or
  // removes ("-NAME"); every other file must be left as it was.
  std::string changes;
};

void PrintTo(const RunCase& c, std::ostream* out) {
  *out << c.name;
}

class HostileRuns : public ::testing::TestWithParam<RunCase> {};

TEST_P(HostileRuns, RefuseOrMendAndLeaveEveryOtherFileAsItWas) {
  const RunCase& c = GetParam();
  const std::string dir = oru_test::freshTempDir(std::string("hostile_") + c.name);
  makeImage(dir + "/a.png", 24, 16, 4, OIIO::TypeDesc::UINT8, jaggedPicture());
  int code = 0;
  oru_test::commandOutput("cd '" + dir + "' && { " + (c.setup.empty() ? ":" : c.setup) + "; }",
                          &code);
  ASSERT_EQ(code, 0) << c.setup;
  const auto before = filesWithBytes(dir);

  const std::string output = oru_test::commandOutput(
      "cd '" + dir + "' && timeout 60 " + ORU_PROGRAM + " " + c.command + " 2>&1 </dev/null",
      &code);
  EXPECT_EQ(code, c.code) << c.command << "\n" << output;
  EXPECT_TRUE(contains(output, c.words)) << c.command << "\n" << output;
  EXPECT_TRUE(printable(output)) << c.command << "\n" << output;

  std::map<std::string, std::string> written;
  std::set<std::string> removed;
  std::istringstream names(c.changes);
  for (std::string item; names >> item;) {
    const std::size_t at = item.find('=');
    if (item[0] == '-') {
      removed.insert(item.substr(1));
    } else {
      std::string text = at == std::string::npos ? "" : item.substr(at + 1);
      std::replace(text.begin(), text.end(), '_', ' ');
      written[item.substr(0, at)] = text;
    }
  }
  const auto after = filesWithBytes(dir);
  for (const auto& [name, bytes] : before) {
    if (written.count(name)) continue;
    EXPECT_EQ(after.count(name), removed.count(name) ? 0u : 1u) << c.command << ": " << name;
    if (after.count(name)) {
      EXPECT_EQ(after.at(name), bytes) << c.command << " changed " << name;
    }
  }
  for (const auto& [name, bytes] : after) {
    EXPECT_TRUE(before.count(name) || written.count(name)) << c.command << " wrote " << name;
  }
  for (const auto& [name, text] : written) {
    ASSERT_TRUE(after.count(name)) << c.command << " did not write " << name;
    // A settings block: its text, then zeros to 120 bytes.
    if (!text.empty()) {
      EXPECT_EQ(std::string(after.at(name).c_str()), text) << c.command;
    }
  }
}

std::string deadPid() {
  for (int pid = 4000000; pid > 1000; pid -= 997) {
    if (kill(pid, 0) != 0 && errno == ESRCH) return std::to_string(pid);
  }
  return "999999";
}

const std::string kBlock = "printf '2 50 224' | dd of=s.oru bs=120 conv=sync 2>/dev/null";
const std::string kSequence = "for f in 1 2 3; do cp a.png f.000$f.png; done";

INSTANTIATE_TEST_SUITE_P(
    Files, HostileRuns,
    ::testing::Values(
        // No file written that is read, nor two writes onto one file.
        RunCase{"save_over_input", "", "filter a.png -o b.png --save-settings a.png", 1,
                "--save-settings file would overwrite the input a.png", ""},
        RunCase{"save_over_output", "", "filter a.png -o b.png --save-settings ./b.png", 1,
                "would land on the same file as the output", ""},
        RunCase{"save_over_hard_link", "ln a.png h.png",
                "filter a.png -o b.png --save-settings h.png", 1, "would overwrite the input", ""},
        RunCase{"save_over_settings", kBlock,
                "filter a.png -o b.png --settings s.oru --save-settings "
                "../hostile_save_over_settings/s.oru",
                1, "would overwrite the settings file", ""},
        RunCase{"save_over_a_frame", kSequence,
                "filter f.####.png -o o.####.png --save-settings f.0003.png", 1,
                "would overwrite the input", ""},
        RunCase{"output_over_the_module", "cp \"$(dirname " ORU_PROGRAM ")/oru.p\" m.p",
                "filter a.png -o b.png --module m.p --save-settings ./m.p", 1,
                "would overwrite the module", ""},
        RunCase{"save_only_after_success", "", "filter missing.png -o b.png --save-settings s.oru",
                1, "missing.png", ""},
        RunCase{"save_alone", "", "filter --strength 30 --save-settings s.oru", 0, "",
                "s.oru=2_30_224"},
        RunCase{"dialog_picture_over_frame", "", "dialog a.png --headless --screenshot ./a.png", 1,
                "would overwrite the frame", ""},
        RunCase{"dialog_record_over_link", "ln -s a.png l.png",
                "dialog a.png --headless --record l.png", 1, "would overwrite the frame", ""},
        RunCase{"dialog_settings_over_frame", "", "dialog a.png --headless --settings a.png", 1,
                "would overwrite the frame", ""},
        RunCase{"dialog_settings_not_a_block", "cp a.png b.png",
                "dialog a.png --headless --settings b.png", 1, "not a settings block", ""},
        RunCase{"dialog_two_outputs_one_file", "",
                "dialog a.png --headless --screenshot p.png --record ./p.png", 1,
                "same file as the --screenshot file", ""},
        RunCase{"dialog_writes_after_success", "printf 'no such action\\n' > bad.txt",
                "dialog a.png --headless --script bad.txt --screenshot p.png --settings n.oru", 1,
                "bad.txt", ""},
        // Numbers are decimal, and counts are bounded.
        RunCase{"leading_zero_is_decimal", "",
                "filter a.png -o b.png --strength 050 --threshold 0200 --save-settings s.oru", 0,
                "", "b.png s.oru=2_50_200"},
        RunCase{"hex_refused", "", "filter a.png -o b.png --threshold 0x10", 1,
                "expected a whole decimal number", ""},
        RunCase{"no_workers_refused", kSequence, "filter f.####.png -o o.####.png -j 0", 1,
                "expected 1 or more workers", ""},
        RunCase{"negative_workers_refused", kSequence, "filter f.####.png -o o.####.png -j -1", 1,
                "expected 1 or more workers", ""},
        RunCase{"workers_clamped", kSequence, "filter f.####.png -o o.####.png -j 1000", 0,
                "-j 1000: using", "o.0001.png o.0002.png o.0003.png"},
        RunCase{"huge_frame_range", kSequence,
                "filter f.####.png -o o.####.png --frames 1-999999999", 1, "at most 1000000 frames",
                ""},
        RunCase{"unknown_option_one_line", "", "filter a.png -o b.png --bogus", 1,
                "oru: The following argument was not expected: --bogus", ""},
        // Pipes, devices and folders where files belong; raw bytes never shown.
        RunCase{"settings_device", "", "filter a.png -o b.png --settings /dev/zero", 1,
                "/dev/zero: is a device", ""},
        RunCase{"settings_fifo", "mkfifo p", "filter a.png -o b.png --settings p", 1,
                "p: is a pipe (FIFO)", ""},
        RunCase{"settings_folder", "mkdir d", "filter a.png -o b.png --settings d", 1,
                "d: is a folder", ""},
        RunCase{"settings_garbage",
                "printf '\\001\\033[2J\\377' | dd of=g.oru bs=120 conv=sync 2>/dev/null",
                "filter a.png -o b.png --settings g.oru", 1, "not a settings block", ""},
        RunCase{"script_device", "", "dialog a.png --headless --script /dev/zero", 1, "is a device",
                ""},
        RunCase{"script_fifo", "mkfifo p", "dialog a.png --headless --script p", 1,
                "is a pipe (FIFO)", ""},
        RunCase{"script_binary", "", "dialog a.png --headless --script a.png", 1,
                "unknown action \"\\x89PNG\"", ""},
        // A name with # read as a single file when asked.
        RunCase{"hash_in_a_single_name", "cp a.png 'take#1.png'",
                "filter --no-sequence 'take#1.png' -o 'out#1.png'", 0, "", "out#1.png"},
        // Temporary files of killed runs: this run's own outputs' only, writer gone.
        RunCase{"stale_temporaries",
                kSequence + "; touch .o.0001.png.tmp-" + deadPid() + "-0.png .x.png.tmp-" +
                    deadPid() + "-0.png .o.0002.png.tmp-" + std::to_string(getpid()) + "-0.png",
                "filter f.####.png -o o.####.png --frames 1-2", 0, "",
                "o.0001.png o.0002.png -.o.0001.png.tmp-" + deadPid() + "-0.png"}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

// ---- Runs cut short ----------------------------------------------------------

// How a run is cut short: interrupts to the whole process group (as a
// terminal's Ctrl-C) or to the main process alone, or kill -9 of a worker or
// of the main process.
enum class Cut { kGroup, kMain, kKillWorker, kKillMain };

struct StopCase {
  const char* name;
  int jobs;  // 0: a single image
  Cut cut;
  int interrupts;
};

void PrintTo(const StopCase& c, std::ostream* out) {
  *out << c.name;
}

constexpr int kStopFrames = 6;
const std::string kPacking =
    " --write-attribute png:compressionLevel=9 --write-attribute png:filter=248";

// Frames slow enough to be caught under way: noise packed at zlib level 9.
class CutShort : public ::testing::TestWithParam<StopCase> {
 protected:
  static void SetUpTestSuite() {
    frames_ = madeOnce("hostile_stop_frames", [](const std::string& folder) {
      for (int f = 1; f <= kStopFrames; ++f) {
        makeImage(folder + "/n.000" + std::to_string(f) + ".png", 1200, 1200, 4,
                  OIIO::TypeDesc::UINT8, [f](int x, int y, int c) { return noise(x, y, c, f); });
      }
    });
  }

  // Starts oru in a process group of its own, its messages into a file.
  pid_t start(const std::string& out, int jobs) {
    const std::string input = frames_ + (jobs == 0 ? "/n.0001.png" : "/n.####.png");
    const std::string output = out + (jobs == 0 ? "/o.0001.png" : "/o.####.png");
    std::vector<std::string> args{ORU_PROGRAM,
                                  "filter",
                                  input,
                                  "-o",
                                  output,
                                  "--write-attribute",
                                  "png:compressionLevel=9",
                                  "--write-attribute",
                                  "png:filter=248"};
    if (jobs > 0) args.insert(args.end(), {"-j", std::to_string(jobs)});
    messages_ = out + "/../" + fs::path(out).filename().string() + ".messages";
    const pid_t pid = fork();
    if (pid == 0) {
      setsid();
      freopen(messages_.c_str(), "w", stderr);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  // The temporary files in out once some (written by another process than
  // not, when given) are there.
  static std::vector<std::string> underWay(const std::string& out, pid_t not_ = 0) {
    for (int i = 0; i < 400; ++i) {
      std::vector<std::string> found;
      for (const std::string& name : temporariesIn(out)) {
        if (not_ == 0 || !contains(name, ".tmp-" + std::to_string(not_) + "-"))
          found.push_back(name);
      }
      if (!found.empty()) return found;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return {};
  }

  // The exit code, or -signal.
  static int waitFor(pid_t pid) {
    int status = 0;
    for (int i = 0; i < 1200 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }

  // True once no process of the group is left (within ten seconds: a
  // worker under the sanitizers looks for leaks before it ends).
  static bool groupGone(pid_t group) {
    for (int i = 0; i < 200; ++i) {
      if (kill(-group, 0) != 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  // Every output there is whole: it reads back in full.
  static void expectWhole(const std::string& out) {
    for (const std::string& name : filesIn(out)) {
      if (contains(name, ".tmp-")) continue;
      EXPECT_EQ(readStored(out + "/" + name).layout.width, 1200) << name;
    }
  }

  static std::string frames_;
  std::string messages_;
};
std::string CutShort::frames_;

TEST_P(CutShort, FramesUnderWayFinishOrVanishAndNothingIsLeft) {
  const StopCase& c = GetParam();
  const std::string out = oru_test::freshTempDir(std::string("hostile_stop_") + c.name);
  const pid_t pid = start(out, c.jobs);
  const std::vector<std::string> seen = underWay(out, c.cut == Cut::kKillWorker ? pid : 0);
  ASSERT_FALSE(seen.empty()) << "no frame was seen under way";
  for (int i = 0; i < c.interrupts; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(c.cut == Cut::kGroup ? -pid : pid, SIGINT);
  }
  if (c.cut == Cut::kKillWorker) {
    const std::string& name = seen.front();
    const std::size_t at = name.find(".tmp-") + 5;
    kill(std::stoi(name.substr(at)), SIGKILL);
  }
  // The main process is killed once a frame is finished, as a farm node dies
  // in the middle of a slice.
  std::map<std::string, std::string> finished;
  if (c.cut == Cut::kKillMain) {
    for (int i = 0; i < 400 && finished.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      for (const auto& [name, bytes] : filesWithBytes(out)) {
        if (!contains(name, ".tmp-")) finished[name] = bytes;
      }
    }
    kill(pid, SIGKILL);
  }

  const int code = waitFor(pid);
  const std::string messages = fileBytes(messages_);
  EXPECT_TRUE(groupGone(pid)) << "a worker outlived the run";
  EXPECT_TRUE(printable(messages)) << messages;
  expectWhole(out);
  std::vector<std::string> left = temporariesIn(out);
  if (c.cut == Cut::kKillMain) {
    // Only the killed process's own temporary can be left; the same run
    // again with --skip-existing removes it, leaves the finished frames as
    // they are and does the rest.
    EXPECT_EQ(code, -SIGKILL);
    for (const std::string& name : left)
      EXPECT_TRUE(contains(name, "-" + std::to_string(pid) + "-"));
    ASSERT_FALSE(finished.empty());
    int again = 0;
    const std::string said = oru_test::commandOutput(
        std::string(ORU_PROGRAM) + " filter " + frames_ + "/n.####.png -o " + out +
            "/o.####.png -j 2 --skip-existing" + kPacking + " 2>&1",
        &again);
    EXPECT_EQ(again, 0) << said;
    // The frames finished before the kill (some more may have finished
    // between the look and the kill) are skipped.
    std::smatch counts;
    ASSERT_TRUE(std::regex_search(said, counts, std::regex("(\\d+) written, (\\d+) skipped")))
        << said;
    EXPECT_GE(std::stoul(counts[2]), finished.size()) << said;
    EXPECT_EQ(std::stoi(counts[1]) + std::stoi(counts[2]), kStopFrames) << said;
    EXPECT_EQ(filesIn(out).size(), static_cast<std::size_t>(kStopFrames));
    for (const auto& [name, bytes] : finished) EXPECT_TRUE(fileBytes(out + "/" + name) == bytes);
    expectWhole(out);
    return;
  }
  EXPECT_TRUE(left.empty()) << left.front();
  if (c.cut == Cut::kKillWorker) {
    EXPECT_EQ(code, 1) << messages;
    EXPECT_TRUE(contains(messages, "ended by signal 9")) << messages;
    EXPECT_EQ(filesIn(out).size(), static_cast<std::size_t>(kStopFrames - 1));
    return;
  }
  EXPECT_EQ(code, 130) << messages;
  if (c.interrupts == 1) {
    // Every frame seen under way was finished and written.
    for (const std::string& name : seen) {
      const std::string output = name.substr(1, name.find(".tmp-") - 1);
      EXPECT_TRUE(fs::exists(out + "/" + output)) << output << "\n" << messages;
    }
    EXPECT_TRUE(
        contains(messages, c.jobs == 0 ? "finished and written" : "stopped by an interrupt"))
        << messages;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CutShort,
                         ::testing::Values(StopCase{"single_ctrl_c", 0, Cut::kGroup, 1},
                                           StopCase{"single_twice", 0, Cut::kMain, 2},
                                           StopCase{"j1_ctrl_c", 1, Cut::kGroup, 1},
                                           StopCase{"j2_ctrl_c", 2, Cut::kGroup, 1},
                                           StopCase{"j3_ctrl_c", 3, Cut::kGroup, 1},
                                           StopCase{"j3_main_once", 3, Cut::kMain, 1},
                                           StopCase{"j1_main_twice", 1, Cut::kMain, 2},
                                           StopCase{"j2_ctrl_c_twice", 2, Cut::kGroup, 2},
                                           StopCase{"j3_main_twice", 3, Cut::kMain, 2},
                                           StopCase{"j3_worker_killed", 3, Cut::kKillWorker, 0},
                                           StopCase{"j3_main_killed", 3, Cut::kKillMain, 0}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
