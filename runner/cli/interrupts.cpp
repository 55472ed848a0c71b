#include "runner/cli/interrupts.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace oru_runner {

static_assert(kEndWorkerSignal == SIGUSR1, "workers are ended by SIGUSR1");

namespace {

volatile std::sig_atomic_t stopFlag = 0;
volatile std::sig_atomic_t temporaryNoted = 0;
char temporaryPath[4096];

// Worker processes, by pid (0: a free place). A run has at most as many
// workers as kMaxWorkerProcesses in workers.h allows.
constexpr int kWorkerPlaces = 256;
volatile std::sig_atomic_t workerPids[kWorkerPlaces] = {};

void removeTemporary() {
  if (temporaryNoted) unlink(temporaryPath);
}

// Tells every worker to stop at once and waits for each, up to two seconds
// in all; one that has not ended by then is killed.
void endWorkers() {
  for (int i = 0; i < kWorkerPlaces; ++i) {
    if (workerPids[i] > 0) kill(static_cast<pid_t>(workerPids[i]), SIGUSR1);
  }
  const timespec pause{0, 10 * 1000 * 1000};
  for (int round = 0; round < 200; ++round) {
    bool waiting = false;
    for (int i = 0; i < kWorkerPlaces; ++i) {
      const pid_t pid = static_cast<pid_t>(workerPids[i]);
      if (pid <= 0) continue;
      int status;
      const pid_t ended = waitpid(pid, &status, WNOHANG);
      if (ended == pid || (ended < 0 && errno != EINTR)) {
        workerPids[i] = 0;
      } else {
        waiting = true;
      }
    }
    if (!waiting) return;
    nanosleep(&pause, nullptr);
  }
  for (int i = 0; i < kWorkerPlaces; ++i) {
    const pid_t pid = static_cast<pid_t>(workerPids[i]);
    if (pid <= 0) continue;
    kill(pid, SIGKILL);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

extern "C" void onInterrupt(int) {
  if (!stopFlag) {
    stopFlag = 1;
    return;
  }
  const int saved = errno;
  endWorkers();
  removeTemporary();
  errno = saved;
  _exit(130);
}

extern "C" void onEndWorker(int) {
  removeTemporary();
  _exit(130);
}

// Handles signal with handler, one handler at a time: a second interrupt
// waits for the first's handler.
void handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void installInterruptHandlers(bool workerProcess) {
  handle(SIGINT, onInterrupt);
  handle(SIGTERM, onInterrupt);
  if (workerProcess) handle(SIGUSR1, onEndWorker);
}

bool stopRequested() {
  return stopFlag != 0;
}

void noteWorkerProcess(int pid) {
  for (int i = 0; i < kWorkerPlaces; ++i) {
    if (workerPids[i] == 0) {
      workerPids[i] = pid;
      return;
    }
  }
}

void forgetWorkerProcess(int pid) {
  for (int i = 0; i < kWorkerPlaces; ++i) {
    if (workerPids[i] == pid) workerPids[i] = 0;
  }
}

bool endWithParent(int parentPid) {
  if (prctl(PR_SET_PDEATHSIG, SIGUSR1) != 0) return true;
  return getppid() == parentPid;
}

TemporaryFileNote::TemporaryFileNote(const std::string& path) {
  if (path.size() >= sizeof temporaryPath) return;
  temporaryNoted = 0;
  std::memcpy(temporaryPath, path.c_str(), path.size() + 1);
  temporaryNoted = 1;
}

TemporaryFileNote::~TemporaryFileNote() {
  temporaryNoted = 0;
}

}  // namespace oru_runner
