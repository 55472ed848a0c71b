#include "runner/cli/workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>

#include "runner/cli/interrupts.h"
#include "runner/host/host_error.h"

namespace oru_runner {

namespace {

FrameOutcome doFrame(const FrameWork& work, int frame) {
  FrameOutcome outcome;
  outcome.frame = frame;
  try {
    work(frame, outcome.times);
    outcome.ok = true;
  } catch (const std::exception& e) {
    outcome.message = e.what();
  }
  return outcome;
}

// One outcome on the pipe: frame, ok, message length, the times, message bytes.
// Both ends are the same program, so the times go over as they lie in memory.
void writeAll(int fd, const void* data, std::size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, at, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(3);  // the parent is gone
    at += n;
    size -= static_cast<std::size_t>(n);
  }
}

void sendOutcome(int fd, const FrameOutcome& outcome) {
  std::int32_t head[3] = {outcome.frame, outcome.ok ? 1 : 0,
                          static_cast<std::int32_t>(outcome.message.size())};
  std::string record(reinterpret_cast<const char*>(head), sizeof head);
  record.append(reinterpret_cast<const char*>(&outcome.times), sizeof outcome.times);
  record += outcome.message;
  writeAll(fd, record.data(), record.size());
}

}  // namespace

int usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int serveFrames(int fd, const std::vector<int>& frames, const WorkerSetup& setup) {
  installInterruptHandlers(true);
  FrameWork work;
  std::string setupProblem;
  try {
    work = setup();
  } catch (const std::exception& e) {
    setupProblem = e.what();
  }
  for (int frame : frames) {
    if (stopRequested()) break;
    FrameOutcome outcome;
    if (setupProblem.empty()) {
      outcome = doFrame(work, frame);
    } else {
      outcome.frame = frame;
      outcome.message = setupProblem;
    }
    sendOutcome(fd, outcome);
  }
  close(fd);
  return 0;
}

namespace {

struct Worker {
  pid_t pid = -1;
  int fd = -1;
  std::string buffer;
  std::set<int> pending;  // frames without an outcome yet
};

// Takes every whole record out of the worker's buffer.
void takeOutcomes(Worker& worker, std::vector<FrameOutcome>& out) {
  constexpr std::size_t kHead = 3 * sizeof(std::int32_t) + sizeof(FrameTimes);
  while (worker.buffer.size() >= kHead) {
    std::int32_t head[3];
    FrameOutcome outcome;
    std::memcpy(head, worker.buffer.data(), sizeof head);
    std::memcpy(&outcome.times, worker.buffer.data() + sizeof head, sizeof outcome.times);
    std::size_t length = static_cast<std::size_t>(head[2]);
    if (worker.buffer.size() < kHead + length) break;
    outcome.frame = head[0];
    outcome.ok = head[1] != 0;
    outcome.message = worker.buffer.substr(kHead, length);
    worker.buffer.erase(0, kHead + length);
    worker.pending.erase(outcome.frame);
    out.push_back(outcome);
  }
}

std::string endOf(int status) {
  if (WIFSIGNALED(status)) {
    return std::string("the worker process was ended by signal ") +
           std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  }
  return "the worker process ended early (exit code " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

int runFrames(const std::vector<int>& frames, int workers, bool failFast, const WorkerSetup& setup,
              const WorkerCommand& command, const OutcomeSink& sink) {
  installInterruptHandlers(true);
  if (workers > static_cast<int>(frames.size())) workers = static_cast<int>(frames.size());

  if (workers <= 1) {
    if (frames.empty()) return 1;
    FrameWork work = setup();
    for (int frame : frames) {
      if (stopRequested()) break;
      FrameOutcome outcome = doFrame(work, frame);
      sink(outcome);
      if (!outcome.ok && failFast) break;
    }
    return 1;
  }

  std::fflush(nullptr);
  std::vector<Worker> pool(workers);
  for (int w = 0; w < workers; ++w) {
    std::vector<int> mine;
    for (std::size_t i = w; i < frames.size(); i += workers) mine.push_back(frames[i]);
    int fds[2];
    if (pipe(fds) != 0) {
      throw HostError("oru", std::string("cannot make a pipe: ") + strerror(errno));
    }
    // The arguments are made before the fork: after it, only exec.
    std::vector<std::string> arguments = command(mine, kWorkerFd);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw HostError("oru", std::string("cannot start a worker: ") + strerror(errno));
    if (pid == 0) {
      // A fresh program, not a copy of this one: the image library keeps
      // threads, and a copy made by fork would inherit their locks.
      if (dup2(fds[1], kWorkerFd) < 0) _exit(127);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    pool[w].pid = pid;
    pool[w].fd = fds[0];
    pool[w].pending.insert(mine.begin(), mine.end());
  }

  bool stopping = false;
  auto stopAll = [&] {
    if (stopping) return;
    stopping = true;
    for (Worker& worker : pool) {
      if (worker.pid > 0) kill(worker.pid, SIGTERM);
    }
  };

  std::size_t open = pool.size();
  while (open > 0) {
    std::vector<pollfd> watch;
    std::vector<Worker*> owners;
    for (Worker& worker : pool) {
      if (worker.fd >= 0) {
        watch.push_back(pollfd{worker.fd, POLLIN, 0});
        owners.push_back(&worker);
      }
    }
    int ready = poll(watch.data(), watch.size(), -1);
    if (ready < 0 && errno == EINTR) {
      // An interrupt meant for this process alone is passed on.
      if (stopRequested()) stopAll();
      continue;
    }
    for (std::size_t i = 0; i < watch.size(); ++i) {
      if (!(watch[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Worker& worker = *owners[i];
      char chunk[4096];
      ssize_t n = read(worker.fd, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      std::vector<FrameOutcome> outcomes;
      if (n > 0) {
        worker.buffer.append(chunk, static_cast<std::size_t>(n));
        takeOutcomes(worker, outcomes);
      } else {
        close(worker.fd);
        worker.fd = -1;
        --open;
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
        worker.pid = -1;
        bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        // Frames a worker took down with it failed; frames a stop left
        // unstarted have no outcome.
        if (!clean && !stopping && !stopRequested()) {
          for (int frame : worker.pending)
            outcomes.push_back(FrameOutcome{frame, false, endOf(status), {}});
        }
        worker.pending.clear();
      }
      for (const FrameOutcome& outcome : outcomes) {
        sink(outcome);
        if (!outcome.ok && failFast) stopAll();
      }
    }
  }
  return workers;
}

}  // namespace oru_runner
