// What the tests share: where the built files are, and small host records.
#pragma once

#include <cstdio>
#include <string>

#include "runner/host/host_error.h"
#include "runner/host/loaded_module.h"

namespace oru_test {

inline std::string moduleFile() {
  return ORU_MODULE_FILE;
}
inline std::string fixtureFile(const std::string& name) {
  return std::string(ORU_FIXTURE_DIR) + "/fixture_" + name + ".p";
}
// A fresh, empty folder for one test's files.
std::string freshTempDir(const std::string& name);

// The message of the HostError that f throws, or "" when it throws none.
template <typename F>
std::string errorOf(F f) {
  try {
    f();
  } catch (const oru_runner::HostError& e) {
    return e.what();
  }
  return "";
}

// Runs a shell command and gives what it printed on standard output.
std::string commandOutput(const std::string& command, int* exitCode = nullptr);

// The Windows module to check: $ORU_WINDOWS_MODULE when set (as for the
// copy in the Windows zip), else the one this build cross-built.
std::string windowsModuleFile();

// The cross-built Windows module and what inspects and runs it. A name is
// empty when this build has no such file or tool.
struct WindowsBuild {
  std::string module = windowsModuleFile();
  std::string rawhost = ORU_WINDOWS_RAWHOST_FILE;
  std::string objdump = ORU_MINGW_OBJDUMP;
  std::string wine = ORU_WINE;
  std::string winePrefix = ORU_WINE_PREFIX;
  // The same sources built for 64-bit Windows, and the 64-bit Wine loader.
  std::string module64 = ORU_WINDOWS64_MODULE_FILE;
  std::string rawhost64 = ORU_WINDOWS64_RAWHOST_FILE;
  std::string wine64 = ORU_WINE64;
  std::string winePrefix64 = ORU_WINE64_PREFIX;
};

// True where the Windows checks must run (ORU_REQUIRE_WINDOWS=1, as in CI):
// a missing cross compiler or Wine is then a failure, not a skip.
bool windowsChecksRequired();

}  // namespace oru_test

// Skips the test with the reason when the condition fails, or fails it where
// the Windows checks are required.
#define ORU_NEED_WINDOWS(condition, reason)             \
  do {                                                  \
    if (!(condition)) {                                 \
      if (oru_test::windowsChecksRequired()) {          \
        FAIL() << (reason) << " (ORU_REQUIRE_WINDOWS)"; \
      }                                                 \
      GTEST_SKIP() << (reason);                         \
    }                                                   \
  } while (0)
