// What the tests share: where the built files are, and small host records.
#pragma once

#include <cstdio>
#include <string>

#include "runner/host_error.h"
#include "runner/loaded_module.h"

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

}  // namespace oru_test
