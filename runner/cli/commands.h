// The subcommands of the oru program: what each is given on the command
// line, and the run of each, which gives the process exit code. The command
// line itself (options, help texts, parsing) is runner/cli/command_line.cpp,
// the one file that includes CLI11: it is slow to compile.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace oru_runner {

// A part of oru (the module, a library) named name: the one beside the oru
// program, else the installed one (ORU_INSTALLED_MODULE_DIR from the
// program's folder), else the one the build produced at buildPath (if any).
std::string partPath(const std::string& name, const char* buildPath);
// The module's partPath.
std::string defaultModulePath();

// oru describe
struct DescribeOptions {
  std::string modulePath;
};

// oru filter. The settings left unset keep what the settings file or the
// module gives.
struct FilterOptions {
  std::string modulePath;
  std::string input;
  std::string output;
  std::optional<std::string> target;
  std::optional<int> threshold;
  std::optional<int> strength;
  std::string settingsFile;
  std::string saveSettingsFile;
  std::string frames;
  std::string chunk;
  int jobs = 0;               // 0: the usable cores
  bool noSequence = false;    // INPUT and OUTPUT are single files whatever they hold
  bool skipExisting = false;  // frames whose output is there are not done again
  bool failFast = false;
  bool quiet = false;
  bool verbose = false;
  bool timing = false;
  std::vector<std::string> writeAttributes;  // NAME=VALUE for the image writer
  // Set in a worker process started by -j: where it reports and where it
  // takes its frames from.
  int workerFd = -1;
  int workerQueueFd = -1;
  // Worker processes the oru program started before it loaded the image
  // commands, for a sequence run with -j (none: null).
  struct EarlyWorkers* early = nullptr;
};

// oru dialog
struct DialogOptions {
  std::string modulePath;
  std::string input;
  std::string script;
  std::string screenshot;
  std::string settings;
  std::string record;
  std::vector<std::string> withdrawn;
  bool headless = false;
};

int runDescribe(const DescribeOptions& options);
int runFilter(const FilterOptions& options);
int runDialog(const DialogOptions& options);

}  // namespace oru_runner
