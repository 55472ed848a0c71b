#include "runner/host/kit.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <filesystem>
#if !defined(_WIN32)
#include <mutex>
#endif
#include <new>
#include <utility>

#include "runner/host/filter_instance.h"
#include "runner/host/filter_settings.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_error.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"

namespace oru_kit {

namespace fs = std::filesystem;

// A Windows critical section is recursive; the Windows cross build's thread
// model has no std::recursive_mutex.
#if defined(_WIN32)
struct NativeLock {
  NativeLock() { InitializeCriticalSection(&section); }
  void lock() { EnterCriticalSection(&section); }
  void unlock() { LeaveCriticalSection(&section); }
  CRITICAL_SECTION section;
};
#else
using NativeLock = std::recursive_mutex;
#endif

namespace {

// Made in place on first use and never destroyed: a client's static Module
// may be released by a static destructor that runs after this one would
// have. Nothing of it is on the heap, so nothing is left behind when a
// plug-in holding the kit is unloaded.
NativeLock& nativeLock() {
  alignas(NativeLock) static unsigned char storage[sizeof(NativeLock)];
  static NativeLock* const lock = new (storage) NativeLock;
  return *lock;
}

}  // namespace

void ModuleLock::lock() {
  nativeLock().lock();
}
void ModuleLock::unlock() {
  nativeLock().unlock();
}

ModuleLock& moduleLock() {
  static ModuleLock lock;  // no state: trivially destroyed
  return lock;
}

namespace {

// Holds the module lock for a scope.
class Lock {
 public:
  explicit Lock(ModuleLock& lock) : lock_(lock) { lock_.lock(); }
  ~Lock() { lock_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  ModuleLock& lock_;
};

}  // namespace

namespace {

// The file of the program or library that holds address; empty when unknown.
fs::path fileHolding(const void* address) {
  if (!address) return {};
#if defined(_WIN32)
  HMODULE holder = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &holder)) {
    return {};
  }
  char name[MAX_PATH];
  DWORD length = GetModuleFileNameA(holder, name, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return fs::path(std::string(name, length));
#else
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  return fs::path(info.dli_fname);
#endif
}

}  // namespace

std::string findModule(const void* callerAddress, const std::string& installedFromCaller,
                       const char* buildPath) {
  std::error_code ec;
  fs::path installed;
  fs::path caller = fileHolding(callerAddress);
  if (!caller.empty()) {
    fs::path folder = fs::absolute(caller, ec).parent_path();
    fs::path beside = folder / "oru.p";
    if (fs::exists(beside, ec)) return beside.string();
    installed = (folder / installedFromCaller / "oru.p").lexically_normal();
    if (fs::exists(installed, ec)) return installed.string();
  }
  if (buildPath && *buildPath && fs::exists(buildPath, ec)) return buildPath;
  return installed.empty() ? "oru.p" : installed.string();
}

std::string settingsProblem(const Settings& s) {
  return oru_runner::settingsProblem({s.target, s.strength, s.threshold});
}
int targetFromName(const std::string& name) {
  return oru_runner::targetFromName(name);
}
std::string targetName(int target) {
  return oru_runner::targetName(target);
}

struct Module::Loaded {
  explicit Loaded(const std::string& path) : module(path) {
    module.activateHandler(oru_runner::hostLookup);
    module.activateInterface(oru_runner::hostLookup);
  }
  oru_runner::LoadedModule module;
};

Module::Module(const std::string& path) {
  Lock lock(moduleLock());
  try {
    loaded_ = std::make_unique<Loaded>(path);
  } catch (const oru_runner::HostError& e) {
    throw Error(Error::kModule, e.what());
  }
}

Module::~Module() {
  Lock lock(moduleLock());
  loaded_.reset();
}

const std::string& Module::path() const {
  return loaded_->module.path();
}

struct Filter::Instance {
  explicit Instance(const oru_runner::LoadedModule& module) : handle(module) {}
  oru_runner::FilterHandle handle;
};

Filter::Filter(std::shared_ptr<Module> module) : module_(std::move(module)) {
  Lock lock(moduleLock());
  try {
    instance_ = std::make_unique<Instance>(module_->loaded_->module);
  } catch (const oru_runner::HostError& e) {
    throw Error(Error::kModule, e.what());
  }
}

Filter::~Filter() {
  Lock lock(moduleLock());
  instance_.reset();
}

Block Filter::block() const {
  Lock lock(moduleLock());
  return instance_->handle.save();
}

void Filter::setBlock(const Block& block) {
  Lock lock(moduleLock());
  instance_->handle.load(block);
}

Settings Filter::settings() const {
  oru_runner::FilterSettings s =
      oru_runner::settingsFromBlock(block()).value_or(oru_runner::FilterSettings{});
  return {s.target, s.threshold, s.strength};
}

void Filter::setSettings(const Settings& s) {
  std::string problem = settingsProblem(s);
  if (!problem.empty()) throw Error(Error::kSettings, problem);
  setBlock(oru_runner::blockFromSettings({s.target, s.strength, s.threshold}));
}

FrameCalls Filter::run(int width, int height, std::array<std::vector<float>, 4>&& planes,
                       Stores& stores) {
  Lock lock(moduleLock());
  oru_runner::HostFrame frame(width, height, std::move(planes), stores);
  frame.run([&](const FilterAccess& access) { instance_->handle.process(access); });
  return {frame.colourStores(), frame.alphaStores(), frame.rowFetches()};
}

void Filter::process(int width, int height, std::array<std::vector<float>, 4>&& planes,
                     Stores& stores) {
  const FrameCalls calls = run(width, height, std::move(planes), stores);
  const std::string problem = oru_runner::unstoredPixels(calls.colourStores, calls.alphaStores,
                                                         static_cast<long>(width) * height);
  if (!problem.empty()) throw Error(Error::kFrame, problem);
}

}  // namespace oru_kit
