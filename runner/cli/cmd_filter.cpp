// oru filter: smooths the jagged edges of image files and frame sequences,
// handing every frame to a filter instance of the module as a host does.
#include <OpenImageIO/imageio.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "runner/cli/commands.h"
#include "runner/cli/interrupts.h"
#include "runner/cli/progress.h"
#include "runner/cli/workers.h"
#include "runner/frames/file_roles.h"
#include "runner/frames/frame_sequence.h"
#include "runner/frames/image_io.h"
#include "runner/frames/stale_temporaries.h"
#include "runner/host/filter_settings.h"
#include "runner/host/host_error.h"
#include "runner/host/kit.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

// The settings block the frames are filtered with: the module's defaults,
// then the settings file, then the flags; everything checked against the
// dialog's ranges.
SettingsBlock settingsFor(const FilterOptions& o, const SettingsBlock& defaults) {
  std::optional<FilterSettings> settings = settingsFromBlock(defaults);
  FilterSettings s = settings ? *settings : FilterSettings{};
  if (!o.settingsFile.empty()) {
    SettingsBlock block = readSettingsFile(o.settingsFile);
    std::optional<FilterSettings> saved = settingsFromBlock(block);
    // Its bytes are not shown: the file may be anything (an image given by mistake).
    if (!saved) {
      throw HostError(o.settingsFile,
                      "not a settings block: a settings file begins with three numbers "
                      "(target, strength, threshold), e.g. \"2 100 224\"");
    }
    s = *saved;
  }
  if (o.target) {
    s.target = targetFromName(*o.target);
    if (s.target < 0) throw HostError("--target " + *o.target, "expected rgb, alpha or rgba");
  }
  if (o.threshold) {
    if (*o.threshold < 0 || *o.threshold > 255) {
      throw HostError("--threshold " + std::to_string(*o.threshold), "expected 0 to 255");
    }
    s.threshold = *o.threshold;
  }
  if (o.strength) {
    if (*o.strength < 0 || *o.strength > 100) {
      throw HostError("--strength " + std::to_string(*o.strength), "expected 0 to 100");
    }
    s.strength = *o.strength;
  }
  std::string problem = settingsProblem(s);
  if (!problem.empty()) throw HostError(o.settingsFile, problem);
  return blockFromSettings(s);
}

// --write-attribute NAME=VALUE, each split at its first "=".
WriteAttributes parseWriteAttributes(const std::vector<std::string>& given) {
  WriteAttributes attributes;
  for (const std::string& a : given) {
    std::size_t at = a.find('=');
    if (at == std::string::npos || at == 0) {
      throw HostError("--write-attribute " + a,
                      "expected NAME=VALUE, e.g. png:compressionLevel=6 or compression=piz");
    }
    attributes.emplace_back(a.substr(0, at), a.substr(at + 1));
  }
  return attributes;
}

// Every file the run writes (each frame's output, the saved settings) must be
// a file of its own: never one it reads, never one of its other outputs.
void refuseClashes(const FilterOptions& o, const FramePattern& in, const FramePattern& out,
                   const std::vector<int>& allFrames, const std::vector<int>& mine) {
  std::vector<FileRole> reads;
  std::vector<FileRole> writes;
  reads.push_back({o.modulePath, "module"});
  if (!o.settingsFile.empty()) reads.push_back({o.settingsFile, "settings file"});
  if (!o.input.empty()) {
    for (int f : allFrames) reads.push_back({in.fileFor(f), "input"});
    for (int f : mine) writes.push_back({out.fileFor(f), "output"});
  }
  if (!o.saveSettingsFile.empty()) writes.push_back({o.saveSettingsFile, "--save-settings file"});
  oru_runner::refuseClashes(reads, writes);
}

void checkOutputFolder(const std::string& output) {
  fs::path folder = fs::path(output).parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  if (!fs::exists(folder, ec)) throw HostError(output, "the output folder does not exist");
  if (!fs::is_directory(folder, ec)) throw HostError(output, "the output folder is not a folder");
}

// Everything one process needs to filter frames: its own module and instance.
class FrameFilter {
 public:
  FrameFilter(const std::string& modulePath, const SettingsBlock& block,
              const WriteAttributes& attributes)
      : instance_(std::make_shared<oru_kit::Module>(modulePath)), attributes_(attributes) {
    instance_.setBlock(block);
  }

  void run(const std::string& inFile, const std::string& outFile, FrameTimes& times) {
    try {
      runFrame(inFile, outFile, times);
    } catch (const std::bad_alloc&) {
      throw HostError(inFile, "not enough memory to filter this frame");
    } catch (const oru_kit::Error& e) {
      throw HostError(inFile, e.what());
    }
  }

 private:
  void runFrame(const std::string& inFile, const std::string& outFile, FrameTimes& times) {
    using Clock = std::chrono::steady_clock;
    auto seconds = [](Clock::time_point from) {
      return std::chrono::duration<double>(Clock::now() - from).count();
    };
    Clock::time_point start = Clock::now();
    ImageFrame frame = readImage(inFile);
    times.read = seconds(start);
    times.decode = frame.librarySeconds;

    // The planes move into the host frame, and the module's stores go
    // straight into the output file's samples: nothing is copied.
    start = Clock::now();
    times.filter = 0;
    times.encode = writeImage(outFile, frame, attributes_, [&](FrameSink& sink) {
      Clock::time_point filtering = Clock::now();
      instance_.process(frame.width, frame.height, std::move(frame.planes), sink);
      times.filter = seconds(filtering);
    });
    times.write = seconds(start) - times.filter;
  }

  oru_kit::Filter instance_;
  WriteAttributes attributes_;
};

std::string frameList(const std::vector<int>& frames) {
  std::string text;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (i == 20) return text + ", ... (" + std::to_string(frames.size()) + " in all)";
    text += (i ? ", " : "") + std::to_string(frames[i]);
  }
  return text;
}

void printTiming(const FrameTimes& sum, int frames, double wall) {
  double total = sum.read + sum.filter + sum.write;
  double own = total - sum.decode - sum.filter - sum.encode;
  auto share = [&](double part) { return total > 0 ? 100 * part / total : 0.0; };
  auto each = [&](double part) { return frames > 0 ? 1000 * part / frames : 0.0; };
  std::fprintf(stderr,
               "oru: timing: %d frames in %.2f s, %.2f frames/s; per frame %.1f ms: "
               "decoding %.1f ms (%.1f%%), the module %.1f ms (%.1f%%), encoding %.1f ms "
               "(%.1f%%), the runner's own work %.1f ms (%.1f%%)\n",
               frames, wall, wall > 0 ? frames / wall : 0.0, each(total), each(sum.decode),
               share(sum.decode), each(sum.filter), share(sum.filter), each(sum.encode),
               share(sum.encode), each(own), share(own));
}

// This program's command line as it was started, with the program's own
// path first: a worker process is started with it.
std::vector<std::string> ownCommandLine() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::vector<std::string> arguments;
  for (std::string a; std::getline(in, a, '\0');) arguments.push_back(a);
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (arguments.empty()) arguments.emplace_back();
  if (!ec) arguments[0] = self.string();
  return arguments;
}

// Loads the module once to learn its defaults, checks the settings, and gives
// the block every frame's instance is loaded with and the block it saves.
struct PreparedSettings {
  SettingsBlock load;
  SettingsBlock save;
};
PreparedSettings prepareSettings(const FilterOptions& o, bool worker) {
  oru_kit::Filter instance(std::make_shared<oru_kit::Module>(o.modulePath));
  SettingsBlock block = settingsFor(o, instance.block());
  instance.setBlock(block);
  PreparedSettings prepared{block, instance.block()};
  if (!worker && o.verbose) {
    FilterSettings s = settingsFromBlock(prepared.save).value_or(FilterSettings{});
    std::fprintf(stderr, "oru: settings: target %s, strength %d, threshold %d\n",
                 targetName(s.target).c_str(), s.strength, s.threshold);
  }
  return prepared;
}

// --save-settings, once the run has done all it was asked to.
void saveSettings(const FilterOptions& o, const PreparedSettings& settings) {
  if (o.saveSettingsFile.empty()) return;
  writeSettingsFile(o.saveSettingsFile, settings.save);
  if (o.verbose)
    std::fprintf(stderr, "oru: saved the settings in %s\n", o.saveSettingsFile.c_str());
}

// A frame's buffers are large (a 1920 x 1080 frame takes some 100 MB in
// floats) and are made anew for every frame. Left to its defaults the C
// library maps each one fresh from the system and returns it afterwards, and
// every frame pays for faulting the pages in again; keep them instead.
void keepFrameBuffersInTheHeap() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

}  // namespace

int runFilter(const FilterOptions& o) {
  if (o.quiet && o.verbose)
    throw HostError("oru filter", "--quiet and --verbose exclude each other");

  // Settings first: they are checked before any image.
  const bool worker = o.workerFd >= 0;
  const PreparedSettings settings = prepareSettings(o, worker);
  const SettingsBlock& block = settings.load;
  if (o.input.empty()) {
    if (o.saveSettingsFile.empty()) {
      throw HostError("oru filter", "give an input image (oru filter INPUT -o OUTPUT)");
    }
    refuseClashes(o, FramePattern(""), FramePattern(""), {}, {});
    saveSettings(o, settings);
    return 0;
  }
  if (o.output.empty()) throw HostError(o.input, "give an output name with -o OUTPUT");

  const FramePattern in(o.input, !o.noSequence);
  const FramePattern out(o.output, !o.noSequence);
  if (in.isSequence() != out.isSequence()) {
    throw HostError(o.output, in.isSequence()
                                  ? "the input is a frame sequence: the output needs a place for "
                                    "the frame number too (#### or %04d)"
                                  : "the output has a place for a frame number, the input has none "
                                    "(--no-sequence takes both names as they are)");
  }
  if (!in.isSequence() && (!o.frames.empty() || !o.chunk.empty())) {
    throw HostError(o.input,
                    "--frames and --chunk need a frame sequence (#### or %04d in the name)");
  }

  std::vector<int> allFrames{0};
  if (in.isSequence()) {
    allFrames = namedFrames(in, o.frames);
    if (allFrames.empty()) throw HostError(o.input, "no files match the frame pattern");
  }
  std::vector<int> frames = allFrames;
  if (!o.chunk.empty()) frames = sliceOf(allFrames, parseChunk(o.chunk));
  // --skip-existing: an output that is there was finished by an earlier run
  // (outputs only ever appear whole, by a rename), so its frame is left out.
  std::vector<int> skipped;
  if (o.skipExisting) {
    std::vector<int> left;
    for (int f : frames) {
      std::error_code ec;
      (fs::is_regular_file(out.fileFor(f), ec) ? skipped : left).push_back(f);
    }
    frames.swap(left);
  }
  const WriteAttributes attributes = parseWriteAttributes(o.writeAttributes);
  const std::string modulePath = o.modulePath;
  const int cores = usableCores();
  const int jobs = workerCount(o.jobs, frames.size());
  WorkerSetup setup = [&, jobs, cores]() -> FrameWork {
    // The workers share the cores: the image library's threads keep to the
    // share of one, so that workers x threads is no more than the cores.
    int threads = std::max(1, cores / jobs);
    OIIO::attribute("threads", threads);
    OIIO::attribute("exr_threads", threads);
    auto filter = std::make_shared<FrameFilter>(modulePath, block, attributes);
    return [filter, &in, &out](int frame, FrameTimes& times) {
      filter->run(in.fileFor(frame), out.fileFor(frame), times);
    };
  };
  // A worker process serves frames of a run its parent has checked.
  if (worker) return serveFrames(o.workerFd, o.workerQueueFd, setup);

  checkOutputFolder(o.output);
  if (!canWriteFormat(out.fileFor(allFrames.front()))) {
    throw HostError(o.output, "no image format is known for the extension \"" +
                                  fs::path(o.output).extension().string() + "\"");
  }
  checkWriteAttributes(out.fileFor(allFrames.front()), attributes);
  refuseClashes(o, in, out, allFrames, frames);

  // Temporary files of these outputs that a killed run left behind.
  std::vector<std::string> outputs;
  for (int f : frames) outputs.push_back(out.fileFor(f));
  for (int f : skipped) outputs.push_back(out.fileFor(f));
  const int stale = removeStaleTemporaries(outputs);
  if (stale > 0 && o.verbose) {
    std::fprintf(stderr, "oru: removed %d temporary file%s left by an earlier run\n", stale,
                 stale == 1 ? "" : "s");
  }

  if (o.verbose) {
    for (int f : skipped) {
      std::fprintf(stderr, "oru: %s exists, skipped\n", out.fileFor(f).c_str());
    }
  }
  keepFrameBuffersInTheHeap();
  if (!in.isSequence() && !skipped.empty()) {
    if (!o.quiet)
      std::fprintf(stderr, "oru: %s exists, skipped (--skip-existing)\n", o.output.c_str());
    saveSettings(o, settings);
    return 0;
  }
  if (!in.isSequence()) {
    installInterruptHandlers(false);
    OIIO::attribute("threads", cores);
    FrameFilter filter(modulePath, block, attributes);
    FrameTimes times;
    filter.run(o.input, o.output, times);
    if (o.verbose) std::fprintf(stderr, "oru: %s -> %s\n", o.input.c_str(), o.output.c_str());
    if (o.timing) printTiming(times, 1, times.read + times.filter + times.write);
    if (stopRequested()) {
      std::fprintf(stderr, "oru: interrupted; the frame under way was finished and written to %s\n",
                   o.output.c_str());
      return kInterruptedExit;
    }
    saveSettings(o, settings);
    return 0;
  }

  const std::string slice = o.chunk.empty() ? "" : "chunk " + o.chunk + ": ";
  if (frames.empty()) {
    if (!o.quiet) {
      std::fprintf(stderr, "oru: %s%zu frames: 0 written, %zu skipped (outputs exist), 0 failed\n",
                   slice.c_str(), skipped.size(), skipped.size());
    }
    saveSettings(o, settings);
    return 0;
  }
  if (o.jobs > mostWorkers() && !o.quiet) {
    std::fprintf(stderr, "oru: -j %d: using %d workers (at most %d a core)\n", o.jobs, jobs,
                 kWorkersPerCore);
  }

  WorkerCommand command = [](int fd, int queueFd) {
    std::vector<std::string> arguments = ownCommandLine();
    arguments.insert(arguments.end(), {"--worker-fd", std::to_string(fd), "--worker-queue",
                                       std::to_string(queueFd)});
    return arguments;
  };

  Progress progress(static_cast<int>(frames.size()), !o.quiet && !o.verbose && stderrIsTerminal());
  std::vector<int> failed;
  FrameTimes sum;
  bool announced = false;
  int used = runFrames(
      frames, jobs, o.failFast, setup, command,
      [&](const FrameOutcome& outcome) {
        if (stopRequested() && !announced && !o.quiet) {
          announced = true;
          progress.message(
              "oru: interrupted; finishing the frames under way (again to stop at once)");
        }
        progress.frameDone();
        sum.read += outcome.times.read;
        sum.filter += outcome.times.filter;
        sum.write += outcome.times.write;
        sum.decode += outcome.times.decode;
        sum.encode += outcome.times.encode;
        if (outcome.deadWorker > 0)
          removeTemporariesOf(out.fileFor(outcome.frame), outcome.deadWorker);
        if (!outcome.ok) {
          failed.push_back(outcome.frame);
          progress.message("oru: frame " + std::to_string(outcome.frame) + ": " + outcome.message);
        } else if (o.verbose) {
          progress.message("oru: " + in.fileFor(outcome.frame) + " -> " +
                           out.fileFor(outcome.frame));
        }
      },
      o.early);
  progress.finish();

  int done = progress.done();
  int total = static_cast<int>(frames.size());
  if (o.timing) printTiming(sum, done, progress.seconds());
  std::sort(failed.begin(), failed.end());
  if (!failed.empty()) {
    std::fprintf(stderr, "oru: %zu of %d frames failed: %s\n", failed.size(), total,
                 frameList(failed).c_str());
  }
  if (done < total) {
    std::fprintf(stderr, "oru: stopped %s; %d of %d frames were written, %d not started\n",
                 stopRequested() ? "by an interrupt" : "after the first failure (--fail-fast)",
                 done - static_cast<int>(failed.size()), total, total - done);
  }
  // The last line says what became of every frame of the run (or slice):
  // what a batch system's log shows of a task.
  if (!o.quiet) {
    const int written = done - static_cast<int>(failed.size());
    std::string line = "oru: " + slice + std::to_string(total + skipped.size()) +
                       " frames: " + std::to_string(written) + " written, " +
                       std::to_string(skipped.size()) + " skipped (outputs exist), " +
                       std::to_string(failed.size()) + " failed";
    if (done < total) line += ", " + std::to_string(total - done) + " not started";
    char speed[96];
    std::snprintf(speed, sizeof speed, "; %d process%s, %.1f frames/s", used, used == 1 ? "" : "es",
                  progress.seconds() > 0 ? done / progress.seconds() : 0.0);
    std::fprintf(stderr, "%s%s\n", line.c_str(), speed);
  }
  if (stopRequested()) return kInterruptedExit;
  if (!failed.empty() || done < total) return 1;
  saveSettings(o, settings);
  return 0;
}

}  // namespace oru_runner
