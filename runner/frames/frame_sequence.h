// Frame sequences on the command line: file name patterns with a frame
// number in them, frame ranges, and the slices a render farm hands out.
#pragma once

#include <string>
#include <vector>

namespace oru_runner {

// A file name with a place for the frame number: "####" (one digit per #,
// zero-padded) or printf style "%d" / "%04d". Names without one are single files.
class FramePattern {
 public:
  // Throws HostError naming text when it holds more than one place for the
  // number. With numbered false the name is a single file whatever it holds.
  explicit FramePattern(const std::string& text, bool numbered = true);

  bool isSequence() const { return sequence_; }
  const std::string& text() const { return text_; }
  // The file name of a frame (the text itself for a single file).
  std::string fileFor(int frame) const;
  // The frames whose files exist, in order.
  std::vector<int> framesOnDisk() const;

 private:
  std::string text_;
  std::string prefix_, suffix_;
  int padding_ = 0;
  bool sequence_ = false;
};

// The most frames one run takes (its list is made before any frame is done).
constexpr long long kMostFrames = 1000000;

// "FIRST-LAST", "FIRST-LASTxSTEP" or "FRAME", with FIRST <= LAST and STEP >= 1;
// frames are not negative, and there are at most kMostFrames of them. Throws
// HostError naming the option on any other text.
std::vector<int> parseFrameRange(const std::string& text);

// The frames a sequence run names: those of range (parseFrameRange), or the
// files present when range is empty.
std::vector<int> namedFrames(const FramePattern& pattern, const std::string& range);

// "K/N" with 1 <= K <= N. Throws HostError naming the option otherwise.
struct Chunk {
  int index = 1;  // K, from 1
  int count = 1;  // N
};
Chunk parseChunk(const std::string& text);

// Slice K of N equal, contiguous slices of frames: slices of neighbouring K
// meet without a gap or an overlap, and together they hold every frame once.
std::vector<int> sliceOf(const std::vector<int>& frames, const Chunk& chunk);

}  // namespace oru_runner
