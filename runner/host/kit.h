// The host kit: a module loaded as the host loads it, one filter instance,
// its settings and its frames, behind one small header. It knows nothing of
// image files, the command line or windows. The oru program's frame path,
// the raw-frame host and every door (Python, GEGL, frei0r, OpenFX) are its
// clients. It is a facade over the classes beside it (LoadedModule,
// FilterHandle, HostFrame); only `oru describe` and `oru dialog`, which show
// the module's own records and its dialog, use those directly.
//
// Every call into a loaded module (start-up, shut-down, an instance's
// callbacks, a frame) runs under one process-wide lock: the module's
// callbacks never run at the same time in one process, so threads may share
// a module and hold filters of their own.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "runner/host/frame_sink.h"

namespace oru_kit {

// What went wrong, for a client that maps errors onto its own kinds.
class Error : public std::runtime_error {
 public:
  enum Kind { kModule, kSettings, kFrame };
  Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// The lock every call into a module is made under. It is recursive, so a
// client may hold it (std::lock_guard) around several kit calls.
class ModuleLock {
 public:
  void lock();
  void unlock();
};
ModuleLock& moduleLock();

// The module file a program finds: oru.p beside the file that holds
// callerAddress (a function of the caller's), else oru.p in the folder
// installedFromCaller names relative to that file's folder, else buildPath
// when that file exists. When none is there, the installed place is named.
std::string findModule(const void* callerAddress, const std::string& installedFromCaller,
                       const char* buildPath);

// The three saved settings: target 0 rgb, 1 alpha, 2 rgba; threshold 0 to
// 255; strength 0 to 100.
struct Settings {
  int target = 2;
  int threshold = 224;
  int strength = 100;
};
// What is out of range, in words; empty when all is in range.
std::string settingsProblem(const Settings& settings);
// "rgb", "alpha", "rgba" (any case) to 0, 1, 2; -1 for anything else.
int targetFromName(const std::string& name);
std::string targetName(int target);

constexpr std::size_t kBlockSize = 120;
using Block = std::array<char, kBlockSize>;

// A loaded module with its servers active, as the host activates them. Loading and unloading run
// under the module lock. Throws Error(kModule) naming the file.
class Module {
 public:
  explicit Module(const std::string& path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  const std::string& path() const;

 private:
  friend class Filter;
  struct Loaded;
  std::unique_ptr<Loaded> loaded_;
};

// Where a frame's results go, pixel by pixel (pixels numbered row after row).
using Stores = oru_runner::FrameSink;

// The calls the module made for one frame. Stores outside the frame are
// counted here and never reach the stores.
struct FrameCalls {
  long colourStores = 0;
  long alphaStores = 0;
  long rowFetches = 0;
};

// One filter instance, living from frame to frame of a sequence. A Filter
// itself is used by one thread at a time; the module lock covers the rest.
class Filter {
 public:
  explicit Filter(std::shared_ptr<Module> module);
  ~Filter();
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  const Module& module() const { return *module_; }
  // The settings as the module saves them. Setting refuses values out of
  // range with Error(kSettings).
  Settings settings() const;
  void setSettings(const Settings& settings);
  // The saved settings block (the 120 bytes of a settings file).
  Block block() const;
  void setBlock(const Block& block);

  // Filters one frame: four input planes R, G, B, A of width x height
  // samples each (taken over), the results to stores. Throws Error(kFrame)
  // when the module did not store every pixel.
  void process(int width, int height, std::array<std::vector<float>, 4>&& planes, Stores& stores);
  // The same without the check, for a host that reports the calls itself.
  FrameCalls run(int width, int height, std::array<std::vector<float>, 4>&& planes, Stores& stores);

 private:
  std::shared_ptr<Module> module_;
  struct Instance;
  std::unique_ptr<Instance> instance_;
};

}  // namespace oru_kit
