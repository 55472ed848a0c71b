#include "tests/test_support.h"

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace oru_test {

std::string freshTempDir(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(ORU_TEST_TMP_DIR) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::string commandOutput(const std::string& command, int* exitCode) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string windowsModuleFile() {
  const char* value = std::getenv("ORU_WINDOWS_MODULE");
  return value && *value ? value : ORU_WINDOWS_MODULE_FILE;
}

bool windowsChecksRequired() {
  const char* value = std::getenv("ORU_REQUIRE_WINDOWS");
  return value && *value && std::strcmp(value, "0") != 0;
}

}  // namespace oru_test
