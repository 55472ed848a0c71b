#include <filesystem>
#include <string>
#include <system_error>

#include "runner/cli/commands.h"

namespace oru_runner {

// Where an installed oru finds its module, relative to the folder the
// program is installed in (from the install's own folder layout).
#ifndef ORU_INSTALLED_MODULE_DIR
#define ORU_INSTALLED_MODULE_DIR "../lib/oru"
#endif

std::string defaultModulePath() {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) self.clear();
  fs::path installed;
  if (!self.empty()) {
    fs::path beside = self.parent_path() / "oru.p";
    if (fs::exists(beside, ec)) return beside.string();
    installed = (self.parent_path() / ORU_INSTALLED_MODULE_DIR / "oru.p").lexically_normal();
    if (fs::exists(installed, ec)) return installed.string();
  }
#if defined(ORU_BUILD_MODULE_PATH)
  // A program run from the build folder, or copied out of it.
  if (installed.empty() || fs::exists(ORU_BUILD_MODULE_PATH, ec)) return ORU_BUILD_MODULE_PATH;
#endif
  // Nothing found: name the place the install puts the module.
  return installed.empty() ? std::string("oru.p") : installed.string();
}

}  // namespace oru_runner
