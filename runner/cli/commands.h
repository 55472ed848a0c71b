// The subcommands of the oru program. Each adds itself to the app and runs
// when chosen; a run gives the process exit code.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace oru_runner {

using CommandRun = std::function<int()>;

// The oru.p beside the oru program, else the installed one (ORU_INSTALLED_MODULE_DIR
// from the program's folder), else the one the build produced.
std::string defaultModulePath();

// Adds --module to a subcommand, defaulting to defaultModulePath().
void addModuleOption(CLI::App& command, std::string& modulePath);

CommandRun addDescribeCommand(CLI::App& app);
CommandRun addFilterCommand(CLI::App& app);
CommandRun addDialogCommand(CLI::App& app);

}  // namespace oru_runner
