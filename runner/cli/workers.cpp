#include "runner/cli/workers.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
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

// The frames of a run and which is the next to be taken, in memory that the
// parent and its workers share: a memfd that the workers inherit.
struct QueueHead {
  std::atomic<std::int32_t> next;
  std::int32_t count;
};
static_assert(std::atomic<std::int32_t>::is_always_lock_free,
              "the queue is shared between processes");

class FrameQueue {
 public:
  // A new queue of frames, for the parent, in the memfd fd (which it takes
  // over) or, when fd is -1, in one of its own.
  FrameQueue(const std::vector<int>& frames, int fd) {
    const std::size_t size = sizeof(QueueHead) + frames.size() * sizeof(std::int32_t);
    fd_ = fd >= 0 ? fd : makeQueueFd();
    if (fd_ < 0 || ftruncate(fd_, static_cast<off_t>(size)) != 0 || !map(size)) {
      const std::string why = strerror(errno);
      if (fd_ >= 0) ::close(fd_);
      throw HostError("oru", "cannot make the frame queue: " + why);
    }
    head_->next.store(0);
    head_->count = static_cast<std::int32_t>(frames.size());
    std::copy(frames.begin(), frames.end(), list());
  }
  // The parent's queue, for a worker: false when fd is not one.
  bool open(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(QueueHead))) return false;
    fd_ = fd;
    if (!map(static_cast<std::size_t>(st.st_size))) return false;
    const std::size_t room = (size_ - sizeof(QueueHead)) / sizeof(std::int32_t);
    return head_->count >= 0 && static_cast<std::size_t>(head_->count) <= room;
  }
  FrameQueue() = default;
  FrameQueue(const FrameQueue&) = delete;
  FrameQueue& operator=(const FrameQueue&) = delete;
  ~FrameQueue() {
    if (head_) munmap(head_, size_);
    if (fd_ >= 0) ::close(fd_);
  }

  int fd() const { return fd_; }
  // Takes the next frame; false when none is left.
  bool take(int* frame) {
    const std::int32_t i = head_->next.fetch_add(1);
    if (i < 0 || i >= head_->count) return false;
    *frame = list()[i];
    return true;
  }
  // No frame is taken after this.
  void stop() { head_->next.store(head_->count); }

 private:
  bool map(std::size_t size) {
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (at == MAP_FAILED) return false;
    head_ = static_cast<QueueHead*>(at);
    size_ = size;
    return true;
  }
  std::int32_t* list() const { return reinterpret_cast<std::int32_t*>(head_ + 1); }

  int fd_ = -1;
  QueueHead* head_ = nullptr;
  std::size_t size_ = 0;
};

// One record on the pipe: frame, state, message length, the times, message
// bytes. Both ends are the same program, so the times go over as they lie in
// memory. A frame is announced when it is taken, so that the parent knows
// which frame a worker that dies took down with it.
enum RecordState : std::int32_t { kFailed = 0, kDone = 1, kTaken = 2 };

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

void sendRecord(int fd, const FrameOutcome& outcome, RecordState state) {
  std::int32_t head[3] = {outcome.frame, state, static_cast<std::int32_t>(outcome.message.size())};
  std::string record(reinterpret_cast<const char*>(head), sizeof head);
  record.append(reinterpret_cast<const char*>(&outcome.times), sizeof outcome.times);
  record += outcome.message;
  writeAll(fd, record.data(), record.size());
}

// Takes frames from the queue and reports each on fd until none is left or
// the run is to stop.
void serveQueue(int fd, FrameQueue& queue, const WorkerSetup& setup) {
  FrameWork work;
  std::string setupProblem;
  try {
    work = setup();
  } catch (const std::exception& e) {
    setupProblem = e.what();
  }
  int frame = 0;
  while (!stopRequested() && queue.take(&frame)) {
    FrameOutcome outcome;
    outcome.frame = frame;
    sendRecord(fd, outcome, kTaken);
    if (setupProblem.empty()) {
      outcome = doFrame(work, frame);
    } else {
      outcome.message = setupProblem;
    }
    sendRecord(fd, outcome, outcome.ok ? kDone : kFailed);
  }
}

}  // namespace

int makeQueueFd() {
  const int fd = memfd_create("oru-frames", MFD_CLOEXEC);
  if (fd < 0) return -1;
  // Well above the descriptors a worker's are moved to.
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return moved;
}

bool makeWorkerPipe(int fds[2]) {
  int made[2];
  if (pipe(made) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    fds[i] = fcntl(made[i], F_DUPFD_CLOEXEC, 10);
    close(made[i]);
  }
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  const int error = errno;
  for (int i = 0; i < 2; ++i)
    if (fds[i] >= 0) close(fds[i]);
  errno = error;
  return false;
}

int usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

int mostWorkers() {
  return std::min(kMaxWorkerProcesses, kWorkersPerCore * usableCores());
}

int workerCount(int requested, std::size_t frames) {
  const int wanted = std::min(requested > 0 ? requested : usableCores(), mostWorkers());
  return static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(wanted), frames));
}

int serveFrames(int fd, int queueFd, const WorkerSetup& setup) {
  installInterruptHandlers(true);
  // Reports to a parent that has gone fail as writes, not as a signal.
  signal(SIGPIPE, SIG_IGN);
  FrameQueue queue;
  if (!queue.open(queueFd)) {
    std::fprintf(stderr, "oru: a worker process was started without its frame queue\n");
    return 2;
  }
  serveQueue(fd, queue, setup);
  close(fd);
  return 0;
}

namespace {

// A lane of the run: a worker process, or the parent's own thread (pid -1).
struct Worker {
  pid_t pid = -1;
  int fd = -1;
  std::string buffer;
  std::set<int> pending;  // frames taken without an outcome yet
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
    outcome.ok = head[1] == kDone;
    outcome.message = worker.buffer.substr(kHead, length);
    worker.buffer.erase(0, kHead + length);
    if (head[1] == kTaken) {
      worker.pending.insert(outcome.frame);
      continue;
    }
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
              const WorkerCommand& command, const OutcomeSink& sink, EarlyWorkers* early) {
  installInterruptHandlers(false);
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
  int queueFd = -1;
  if (early) std::swap(queueFd, early->queueFd);
  FrameQueue queue(frames, queueFd);
  // This process's own lane reports on a pipe too.
  int own[2];
  if (!makeWorkerPipe(own)) {
    throw HostError("oru", std::string("cannot make a pipe: ") + strerror(errno));
  }
  std::vector<Worker> pool(workers);
  int lanes = 1;
  // Workers started already are told to go (a byte; one that has died
  // takes none); those not needed are let go by closing their pipe.
  if (early) {
    struct sigaction ignore = {};
    struct sigaction previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    for (EarlyWorkers::Lane& lane : early->lanes) {
      if (lanes < workers && lane.pid > 0) {
        const char go = 1;
        while (write(lane.goFd, &go, 1) < 0 && errno == EINTR) {
        }
        noteWorkerProcess(lane.pid);
        pool[lanes].pid = lane.pid;
        pool[lanes].fd = lane.fd;
        lane.pid = lane.fd = -1;
        ++lanes;
      }
      if (lane.goFd >= 0) close(lane.goFd);
      lane.goFd = -1;
    }
    sigaction(SIGPIPE, &previous, nullptr);
  }
  // Lane 0 is this process's thread, the others worker processes, all
  // started before the thread: after a fork only exec runs, but a thread
  // busy in the image library is best not there at all.
  for (int w = lanes; w < workers; ++w) {
    int fds[2];
    if (!makeWorkerPipe(fds)) break;  // the lanes started do the frames
    // The arguments are made before the fork: after it, only exec.
    std::vector<std::string> arguments = command(kWorkerFd, kQueueFd);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      break;  // the lanes started do the frames
    }
    if (pid == 0) {
      // A fresh program, not a copy of this one: the image library keeps
      // threads, and a copy made by fork would inherit their locks.
      // A worker ends with the run: it must not outlive a parent that was killed.
      if (!endWithParent(parent)) _exit(127);
      if (dup2(fds[1], kWorkerFd) < 0 || dup2(queue.fd(), kQueueFd) < 0) _exit(127);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    noteWorkerProcess(pid);
    pool[w].pid = pid;
    pool[w].fd = fds[0];
    ++lanes;
  }

  pool[0].fd = own[0];
  // Interrupts go to the thread that watches the workers.
  sigset_t interrupts, previous;
  sigemptyset(&interrupts);
  sigaddset(&interrupts, SIGINT);
  sigaddset(&interrupts, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
  std::thread lane([&queue, &setup, fd = own[1]] {
    serveQueue(fd, queue, setup);
    close(fd);
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  // Stopping takes no more frames from the queue; the frames under way, in
  // every lane, finish and are written. A worker is not signalled: one that
  // took the interrupt from the terminal itself must not take a second.
  auto stopAll = [&] { queue.stop(); };

  try {
    std::size_t open = 0;
    for (const Worker& worker : pool) open += worker.fd >= 0 ? 1 : 0;
    while (open > 0) {
      // An interrupt meant for this process alone is passed on through the queue.
      if (stopRequested()) stopAll();
      std::vector<pollfd> watch;
      std::vector<Worker*> owners;
      for (Worker& worker : pool) {
        if (worker.fd >= 0) {
          watch.push_back(pollfd{worker.fd, POLLIN, 0});
          owners.push_back(&worker);
        }
      }
      int ready = poll(watch.data(), watch.size(), -1);
      if (ready < 0 && errno == EINTR) continue;
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
          if (worker.pid > 0) {
            while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
            }
          }
          forgetWorkerProcess(worker.pid);
          // The frame a worker took down with it failed; frames a stop left
          // unstarted have no outcome.
          for (int frame : worker.pending) {
            FrameOutcome lost{frame, false, endOf(status), {}};
            lost.deadWorker = worker.pid;
            outcomes.push_back(lost);
          }
          worker.pid = -1;
          worker.pending.clear();
        }
        for (const FrameOutcome& outcome : outcomes) {
          sink(outcome);
          if (!outcome.ok && failFast) stopAll();
        }
      }
    }
  } catch (...) {
    stopAll();
    lane.join();
    throw;
  }
  lane.join();
  return lanes;
}

}  // namespace oru_runner
