// The command line's frame numbers: any text as a frame range, a chunk and a
// file name pattern. A range is refused with a message or gives at most the
// most frames a run takes, in order; the slices of a chunk count cover those
// frames once, in order; every frame has a name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "runner/frames/frame_sequence.h"
#include "runner/host/host_error.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace oru_runner;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts(3);
  for (std::size_t i = 0, part = 0; i < text.size() && part < 3; ++i) {
    if (text[i] == '\n') {
      ++part;
    } else if (part < 3) {
      parts[part] += text[i];
    }
  }
  std::vector<int> frames;
  try {
    frames = parseFrameRange(parts[0]);
    check(!frames.empty() && static_cast<long long>(frames.size()) <= kMostFrames);
    for (std::size_t i = 1; i < frames.size(); ++i) check(frames[i - 1] < frames[i]);
  } catch (const HostError&) {
    frames = {1, 2, 3};
  }
  try {
    const Chunk chunk = parseChunk(parts[1]);
    std::vector<int> joined;
    for (int k = 1; k <= chunk.count && k <= 64; ++k) {
      for (int f : sliceOf(frames, Chunk{k, chunk.count})) joined.push_back(f);
    }
    if (chunk.count <= 64) check(joined == frames);
  } catch (const HostError&) {
  }
  try {
    const FramePattern pattern(parts[2]);
    for (int f : {frames.front(), frames.back()})
      check(!pattern.fileFor(f).empty() || parts[2].empty());
  } catch (const HostError&) {
  }
  return 0;
}
