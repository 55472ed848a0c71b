// Ctrl-C and SIGTERM during a run. The first one, however it arrives (to
// this process alone, or to the whole process group as a terminal sends it),
// lets every frame under way finish and be written, and starts no more. A
// second one ends the run at once: each worker process is told to stop
// (it removes its temporary file and exits), this process removes the
// temporary file it is writing, and no half-written file is left behind.
#pragma once

#include <string>

namespace oru_runner {

// The exit code of a run that an interrupt stopped (128 + SIGINT, as a shell reports it).
constexpr int kInterruptedExit = 130;

// Installs the handlers of SIGINT and SIGTERM. A worker process also takes
// SIGUSR1, which its parent sends (and the system sends when the parent
// dies) to end it at once.
void installInterruptHandlers(bool workerProcess);

// True once an interrupt asked the run to stop.
bool stopRequested();

// The worker processes a second interrupt must end before this one ends.
void noteWorkerProcess(int pid);
void forgetWorkerProcess(int pid);

// The signal by which a worker process is ended at once.
constexpr int kEndWorkerSignal = 10;  // SIGUSR1 on Linux

// In a child process between fork and exec (or a forked worker's first
// step): ends the child with kEndWorkerSignal when parentPid dies. False
// when the parent is gone already.
bool endWithParent(int parentPid);

// Names the temporary file being written while it lives.
class TemporaryFileNote {
 public:
  explicit TemporaryFileNote(const std::string& path);
  ~TemporaryFileNote();
  TemporaryFileNote(const TemporaryFileNote&) = delete;
  TemporaryFileNote& operator=(const TemporaryFileNote&) = delete;
};

}  // namespace oru_runner
