// Spreading the frames of a sequence over worker processes. Each worker is a
// fresh run of this program (fork and exec) that sets itself up once (its own
// module and filter instance), does its frames in order and reports each on
// a pipe; the parent gathers what happened to every frame. With one worker
// everything runs in this process.
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
// The command line of a worker process that does frames and reports on the
// file descriptor fd (by calling serveFrames); argument 0 is the program's path.
using WorkerCommand =
    std::function<std::vector<std::string>(const std::vector<int>& frames, int fd)>;

// The cores this process may run on (its CPU affinity, as taskset or a
// batch system's cpuset leaves it), at least 1.
int usableCores();

// The descriptor on which a worker process reports.
constexpr int kWorkerFd = 3;

// Gives the number of worker processes used (1: this process).
int runFrames(const std::vector<int>& frames, int workers, bool failFast, const WorkerSetup& setup,
              const WorkerCommand& command, const OutcomeSink& sink);

// The worker's side: sets up, does the frames in order and reports each on
// fd, stopping early after an interrupt. Gives the exit code of the worker.
int serveFrames(int fd, const std::vector<int>& frames, const WorkerSetup& setup);

}  // namespace oru_runner
