// Spreading the frames of a sequence over worker processes. Each worker is a
// fresh run of this program (fork and exec) that sets itself up once (its own
// module and filter instance), takes frames from a queue shared with the
// parent and reports each on a pipe; the parent does frames of its own on a
// thread meanwhile, and gathers what happened to every frame. With one
// worker everything runs in this process.
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
  int deadWorker = 0;  // the worker process that died with the frame under way, if one did
};

// Does one frame and notes where its time went; throws HostError when it fails.
using FrameWork = std::function<void(int frame, FrameTimes& times)>;
// Run once in every worker before its first frame; gives the worker's work.
// A HostError thrown here fails the worker's frames with its message.
using WorkerSetup = std::function<FrameWork()>;
// Called in the calling process, one outcome at a time, as frames finish.
using OutcomeSink = std::function<void(const FrameOutcome&)>;

// Does every frame with the given number of workers: this process and
// workers - 1 worker processes take the frames of the list in turn, each the
// next one not yet taken as soon as it is free, so that a lane that starts
// late or gets slow frames does fewer. failFast stops all workers after the
// first failed frame (frames under way still finish). Frames that were never
// started have no outcome. An interrupt (SIGINT, SIGTERM) lets the frames
// under way finish and starts no more.
// The command line of a worker process that reports on the file descriptor
// fd and takes its frames from the queue on queueFd (by calling
// serveFrames); argument 0 is the program's path.
using WorkerCommand = std::function<std::vector<std::string>(int fd, int queueFd)>;

// The cores this process may run on (its CPU affinity, as taskset or a
// batch system's cpuset leaves it), at least 1.
int usableCores();

// Each worker holds a frame's buffers (some 100 MB for 1920 x 1080): a run
// takes no more than these, whatever -j asks for.
constexpr int kMaxWorkerProcesses = 256;
constexpr int kWorkersPerCore = 4;
int mostWorkers();

// The workers of a run of frames: requested, or the usable cores when that
// is 0, no more than mostWorkers(), and no more than one a frame.
int workerCount(int requested, std::size_t frames);

// The descriptors on which a worker process reports and finds its queue.
constexpr int kWorkerFd = 3;
constexpr int kQueueFd = 4;

// A pipe for a worker (close-on-exec), its ends above the descriptors a
// worker's are moved to; false, with errno set, when it cannot be made.
bool makeWorkerPipe(int fds[2]);

// A memfd for a frame queue, above the descriptors a worker's are moved to;
// -1 when it cannot be made.
int makeQueueFd();

// Worker processes started before the image commands were loaded, so that
// they load them while this process does: each waits for a byte on its go
// pipe before it serves frames from the queue on queueFd (a memfd, still
// empty), and ends quietly when the pipe closes instead. runFrames takes
// over what it uses and sets it to -1 (pids and descriptors); whoever
// started them closes and reaps the rest.
struct EarlyWorkers {
  struct Lane {
    int pid = -1;
    int fd = -1;    // the read end of its report pipe
    int goFd = -1;  // the write end of its go pipe
  };
  int queueFd = -1;
  std::vector<Lane> lanes;
};

// Gives the number of processes used (1: this process alone). early, when
// not null, gives worker processes started already; more are started as
// needed.
int runFrames(const std::vector<int>& frames, int workers, bool failFast, const WorkerSetup& setup,
              const WorkerCommand& command, const OutcomeSink& sink, EarlyWorkers* early = nullptr);

// The worker's side: sets up, takes frames from the queue on queueFd until
// none is left, does each and reports it on fd, stopping early after an
// interrupt. Gives the exit code of the worker.
int serveFrames(int fd, int queueFd, const WorkerSetup& setup);

}  // namespace oru_runner
