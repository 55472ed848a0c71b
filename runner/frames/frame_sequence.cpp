#include "runner/frames/frame_sequence.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "runner/host/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

// A non-negative decimal number filling all of text, or -1.
long long parseCount(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
  }
  return std::stoll(text);
}

}  // namespace

FramePattern::FramePattern(const std::string& text, bool numbered) : text_(text) {
  if (!numbered) return;
  // Only the file name part holds the number; folders are taken as they are.
  std::size_t nameStart = text.find_last_of('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  static const std::regex place("#+|%(0?)([1-9]?)d");
  std::string name = text.substr(nameStart);
  auto begin = std::sregex_iterator(name.begin(), name.end(), place);
  auto end = std::sregex_iterator();
  long found = std::distance(begin, end);
  if (found == 0) return;
  if (found > 1) throw HostError(text, "the name holds more than one place for the frame number");
  const std::smatch& m = *begin;
  sequence_ = true;
  prefix_ = text.substr(0, nameStart + m.position(0));
  suffix_ = text.substr(nameStart + m.position(0) + m.length(0));
  if (m.str(0)[0] == '#') {
    padding_ = static_cast<int>(m.length(0));
  } else {
    padding_ = m.str(2).empty() ? 0 : std::atoi(m.str(2).c_str());
    if (m.str(1).empty() && padding_ > 0) {
      throw HostError(text, "use %0" + m.str(2) + "d: frame numbers are padded with zeros");
    }
  }
}

std::string FramePattern::fileFor(int frame) const {
  if (!sequence_) return text_;
  std::string number = std::to_string(frame);
  if (static_cast<int>(number.size()) < padding_) {
    number.insert(0, padding_ - number.size(), '0');
  }
  return prefix_ + number + suffix_;
}

std::vector<int> namedFrames(const FramePattern& pattern, const std::string& range) {
  return range.empty() ? pattern.framesOnDisk() : parseFrameRange(range);
}

std::vector<int> FramePattern::framesOnDisk() const {
  std::vector<int> frames;
  if (!sequence_) return frames;
  fs::path folder = fs::path(prefix_).parent_path();
  std::string namePrefix = fs::path(prefix_ + "x").filename().string();
  namePrefix.pop_back();
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
  if (ec) return frames;
  for (const fs::directory_entry& entry : it) {
    std::string name = entry.path().filename().string();
    if (name.size() <= namePrefix.size() + suffix_.size()) continue;
    if (name.compare(0, namePrefix.size(), namePrefix) != 0) continue;
    if (name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) != 0) continue;
    std::string digits =
        name.substr(namePrefix.size(), name.size() - namePrefix.size() - suffix_.size());
    long long frame = parseCount(digits);
    // Only names this pattern would give for that frame count.
    if (frame < 0 || fileFor(static_cast<int>(frame)) != prefix_ + digits + suffix_) continue;
    frames.push_back(static_cast<int>(frame));
  }
  std::sort(frames.begin(), frames.end());
  return frames;
}

std::vector<int> parseFrameRange(const std::string& text) {
  static const std::regex form("([0-9]+)(?:-([0-9]+)(?:x([0-9]+))?)?");
  std::smatch m;
  auto bad = [&](const std::string& why) { return HostError("--frames " + text, why); };
  if (!std::regex_match(text, m, form)) {
    throw bad("expected FIRST-LAST, FIRST-LASTxSTEP or FRAME, for example 1-48 or 1-48x2");
  }
  long long first = parseCount(m.str(1));
  long long last = m[2].matched ? parseCount(m.str(2)) : first;
  long long step = m[3].matched ? parseCount(m.str(3)) : 1;
  if (first < 0 || last < 0 || step < 0) throw bad("frame numbers must be below 1000000000");
  if (last < first) throw bad("the last frame comes before the first");
  if (step < 1) throw bad("the step must be at least 1");
  if ((last - first) / step + 1 > kMostFrames) {
    throw bad("a run takes at most " + std::to_string(kMostFrames) +
              " frames; give a shorter range");
  }
  std::vector<int> frames;
  for (long long f = first; f <= last; f += step) frames.push_back(static_cast<int>(f));
  return frames;
}

Chunk parseChunk(const std::string& text) {
  static const std::regex form("([0-9]+)/([0-9]+)");
  std::smatch m;
  if (!std::regex_match(text, m, form)) {
    throw HostError("--chunk " + text,
                    "expected K/N, for example 3/10 for the third of ten slices");
  }
  long long k = parseCount(m.str(1));
  long long n = parseCount(m.str(2));
  if (n < 1 || k < 1 || k > n) {
    throw HostError("--chunk " + text, "K must run from 1 to N, and N must be at least 1");
  }
  return Chunk{static_cast<int>(k), static_cast<int>(n)};
}

std::vector<int> sliceOf(const std::vector<int>& frames, const Chunk& chunk) {
  long long size = static_cast<long long>(frames.size());
  long long begin = size * (chunk.index - 1) / chunk.count;
  long long end = size * chunk.index / chunk.count;
  return std::vector<int>(frames.begin() + begin, frames.begin() + end);
}

}  // namespace oru_runner
