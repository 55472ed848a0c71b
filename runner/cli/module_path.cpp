#include <filesystem>
#include <string>
#include <system_error>

#include "runner/cli/commands.h"

namespace oru_runner {

// Where an installed oru finds its module and libraries, relative to the
// folder the program is installed in (from the install's own folder layout).
#ifndef ORU_INSTALLED_MODULE_DIR
#define ORU_INSTALLED_MODULE_DIR "../lib/oru"
#endif

std::string partPath(const std::string& name, const char* buildPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self.clear();
  fs::path installed;
  if (!self.empty()) {
    fs::path beside = self.parent_path() / name;
    if (fs::exists(beside, ec)) return beside.string();
    installed = (self.parent_path() / ORU_INSTALLED_MODULE_DIR / name).lexically_normal();
    if (fs::exists(installed, ec)) return installed.string();
  }
  // A program run from the build folder, or copied out of it.
  if (buildPath && (installed.empty() || fs::exists(buildPath, ec))) return buildPath;
  // Nothing found: name the place the install puts it.
  return installed.empty() ? name : installed.string();
}

// The module the build made, for a program run from the build folder.
#ifndef ORU_BUILD_MODULE_PATH
#define ORU_BUILD_MODULE_PATH nullptr
#endif

std::string defaultModulePath() {
  return partPath("oru.p", ORU_BUILD_MODULE_PATH);
}

}  // namespace oru_runner
