#include "runner/cli/early_workers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "runner/cli/image_commands.h"
#include "runner/cli/interrupts.h"
#include "runner/frames/frame_sequence.h"

namespace oru_runner {

namespace {

// How many frames the run of o will do, as the filter command works it out;
// 0 for a single image or when it cannot be worked out here.
std::size_t sequenceFrames(const FilterOptions& o) {
  try {
    if (o.input.empty() || o.output.empty() || o.workerFd >= 0) return 0;
    FramePattern in(o.input, !o.noSequence);
    if (!in.isSequence()) return 0;
    std::vector<int> frames = namedFrames(in, o.frames);
    if (!o.chunk.empty()) frames = sliceOf(frames, parseChunk(o.chunk));
    return frames.size();
  } catch (const std::exception&) {
    return 0;
  }
}

// The worker's life: the image commands loaded, then the frames once the
// run says go. A failure to load them is the run's to report.
int serveEarly(const FilterOptions& o, int go, int report, int queue) {
  const ImageCommands* commands = nullptr;
  try {
    commands = &imageCommands();
  } catch (const std::exception&) {
    return 1;
  }
  char byte = 0;
  ssize_t n;
  while ((n = read(go, &byte, 1)) < 0 && errno == EINTR) {
  }
  close(go);
  if (n != 1) return 0;
  FilterOptions worker = o;
  worker.workerFd = report;
  worker.workerQueueFd = queue;
  worker.early = nullptr;
  try {
    return commands->filter(worker);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: %s\n", e.what());
    return 1;
  }
}

}  // namespace

EarlyStart::EarlyStart(const FilterOptions& o) {
  const int others = workerCount(o.jobs, sequenceFrames(o)) - 1;
  if (others < 1) return;
  workers_.queueFd = makeQueueFd();
  if (workers_.queueFd < 0) return;
  std::fflush(nullptr);
  const pid_t parent = getpid();
  for (int w = 0; w < others; ++w) {
    int report[2], go[2];
    if (!makeWorkerPipe(report)) break;
    if (!makeWorkerPipe(go)) {
      close(report[0]);
      close(report[1]);
      break;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      if (!endWithParent(parent)) _exit(0);
      // Only its own ends stay open: a worker that held another's would keep
      // that one's pipe from closing.
      close(report[0]);
      close(go[1]);
      for (const EarlyWorkers::Lane& lane : workers_.lanes) {
        close(lane.fd);
        close(lane.goFd);
      }
      const int code = serveEarly(o, go[0], report[1], workers_.queueFd);
      std::fflush(nullptr);
      _exit(code);
    }
    close(report[1]);
    close(go[0]);
    if (pid < 0) {
      close(report[0]);
      close(go[1]);
      break;
    }
    workers_.lanes.push_back(EarlyWorkers::Lane{pid, report[0], go[1]});
  }
}

EarlyStart::~EarlyStart() {
  // A worker not taken is still loading or waiting for its go, with nothing
  // of its own to tidy away.
  for (EarlyWorkers::Lane& lane : workers_.lanes) {
    if (lane.goFd >= 0) close(lane.goFd);
    if (lane.fd >= 0) close(lane.fd);
    if (lane.pid > 0) kill(lane.pid, SIGKILL);
  }
  for (EarlyWorkers::Lane& lane : workers_.lanes) {
    if (lane.pid <= 0) continue;
    int status;
    while (waitpid(lane.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (workers_.queueFd >= 0) close(workers_.queueFd);
}

}  // namespace oru_runner
