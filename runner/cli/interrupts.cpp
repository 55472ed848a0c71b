#include "runner/cli/interrupts.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace oru_runner {

namespace {

volatile std::sig_atomic_t stopFlag = 0;
volatile std::sig_atomic_t stopAtOnce = 0;
volatile std::sig_atomic_t temporaryNoted = 0;
char temporaryPath[4096];

extern "C" void onInterrupt(int) {
  if (stopFlag || stopAtOnce) {
    if (temporaryNoted) unlink(temporaryPath);
    _exit(130);
  }
  stopFlag = 1;
}

}  // namespace

void installInterruptHandlers(bool finishFirst) {
  stopAtOnce = finishFirst ? 0 : 1;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() {
  return stopFlag != 0;
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
