#include "runner/host/kit.h"

#include <dlfcn.h>

#include <filesystem>
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
using Lock = std::lock_guard<std::recursive_mutex>;

std::recursive_mutex& moduleLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::string findModule(const void* callerAddress, const std::string& installedFromCaller,
                       const char* buildPath) {
  std::error_code ec;
  fs::path installed;
  Dl_info info{};
  if (callerAddress && dladdr(callerAddress, &info) && info.dli_fname) {
    fs::path folder = fs::absolute(info.dli_fname, ec).parent_path();
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

void Filter::process(int width, int height, std::array<std::vector<float>, 4>&& planes,
                     Stores& stores) {
  long colour = 0, alpha = 0;
  {
    Lock lock(moduleLock());
    oru_runner::HostFrame frame(width, height, std::move(planes), stores);
    frame.run([&](const FilterAccess& access) { instance_->handle.process(access); });
    colour = frame.colourStores();
    alpha = frame.alphaStores();
  }
  long pixels = static_cast<long>(width) * height;
  if (colour < pixels || alpha < pixels) {
    throw Error(Error::kFrame, "the module did not store the whole frame (" +
                                   std::to_string(colour) + " colour and " + std::to_string(alpha) +
                                   " alpha stores for " + std::to_string(pixels) +
                                   " pixels); it may be out of memory");
  }
}

}  // namespace oru_kit
