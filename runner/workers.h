// Spreading the frames of a sequence over worker processes. Each worker is a
// process of its own (fork), sets itself up once (its own module and filter
// instance) and does its frames in order; the parent gathers what happened
// to every frame. With one worker everything runs in this process.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace oru_runner {

// Where the time of one frame went, in seconds.
struct FrameTimes {
  double read = 0;    // reading the input file into planes
  double decode = 0;  // of that, inside the image library
  double filter = 0;  // the module's process callback
  double write = 0;   // writing the output planes into a file
  double encode = 0;  // of that, inside the image library
};

struct FrameOutcome {
  int frame = 0;
  bool ok = false;
  std::string message;  // why it failed
  FrameTimes times;
};

// Does one frame and notes where its time went; throws HostError when it fails.
using FrameWork = std::function<void(int frame, FrameTimes& times)>;
// Run once in every worker before its first frame; gives the worker's work.
// A HostError thrown here fails the worker's frames with its message.
using WorkerSetup = std::function<FrameWork()>;
// Called in the calling process, one outcome at a time, as frames finish.
using OutcomeSink = std::function<void(const FrameOutcome&)>;

// Does every frame with the given number of workers; worker w of N takes
// frames w, w + N, w + 2N, ... of the list. failFast stops all workers after
// the first failed frame (frames under way still finish). Frames that were
// never started have no outcome. An interrupt (SIGINT, SIGTERM) lets the
// frames under way finish and starts no more.
void runFrames(const std::vector<int>& frames, int workers, bool failFast, const WorkerSetup& setup,
               const OutcomeSink& sink);

}  // namespace oru_runner
