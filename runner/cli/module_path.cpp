#include <filesystem>
#include <system_error>

#include "runner/cli/commands.h"

namespace oru_runner {

std::string defaultModulePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    std::filesystem::path beside = self.parent_path() / "oru.p";
    if (std::filesystem::exists(beside, ec)) return beside.string();
  }
#if defined(ORU_BUILD_MODULE_PATH)
  return ORU_BUILD_MODULE_PATH;
#else
  return "oru.p";
#endif
}

void addModuleOption(CLI::App& command, std::string& modulePath) {
  modulePath = defaultModulePath();
  command.add_option("--module", modulePath, "The module file to load")->default_str(modulePath);
}

}  // namespace oru_runner
