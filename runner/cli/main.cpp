// oru: the command line of the runner, our stand-in for the host.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <vector>

#include "runner/cli/commands.h"
#include "runner/host/host_error.h"

#ifndef ORU_VERSION
#define ORU_VERSION "dev"
#endif

int main(int argc, char** argv) {
  // Named, not taken from argv[0], so that usage lines (and the man page) say "oru".
  CLI::App app{"oru: smooths the jagged edges of rendered frames with the Oru module", "oru"};
  app.set_version_flag("--version", "oru " ORU_VERSION);
  app.require_subcommand(1);

  std::vector<oru_runner::CommandRun> commands;
  commands.push_back(oru_runner::addDescribeCommand(app));
  commands.push_back(oru_runner::addFilterCommand(app));
  commands.push_back(oru_runner::addDialogCommand(app));

  CLI11_PARSE(app, argc, argv);
  try {
    for (auto& run : commands) {
      int code = run();
      if (code >= 0) return code;
    }
  } catch (const oru_runner::HostError& e) {
    std::fprintf(stderr, "oru: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: %s\n", e.what());
    return 1;
  }
  return 0;
}
