// oru: the command line of the runner, our stand-in for the host. Every
// subcommand, option, help text and default is defined here, and this is the
// one file that includes CLI11; each command then runs from its options
// (runner/cli/commands.h).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>

#include "runner/cli/commands.h"
#include "runner/cli/early_workers.h"
#include "runner/cli/image_commands.h"
#include "runner/panel/panel_host.h"

#ifndef ORU_VERSION
#define ORU_VERSION "dev"
#endif

namespace oru_runner {

namespace {

const char* const kFilterExamples = R"(Examples:
  oru filter render.png -o smooth.png
  oru filter render.exr -o smooth.exr --target rgba --threshold 200 --strength 80
  oru filter shot.####.exr -o out/shot.####.exr --frames 1-240
  oru filter shot.%04d.png -o out/shot.%04d.png --frames 1-240 --chunk 3/10
  oru filter --settings scene.oru --strength 50 --save-settings tuned.oru

Settings: --target rgb|alpha|rgba (default rgba), --threshold 0..255 (default
224; higher finds more edges), --strength 0..100 (default 100, percent).
A settings file is a 120-byte block as the module saves it; flags win over it.)";

// Adds --module to a subcommand, defaulting to defaultModulePath().
void addModuleOption(CLI::App& command, std::string& modulePath) {
  modulePath = defaultModulePath();
  command.add_option("--module", modulePath, "The module file to load")->default_str(modulePath);
}

CLI::App* addDescribeCommand(CLI::App& app, DescribeOptions& o) {
  CLI::App* command = app.add_subcommand("describe", "Show the module as a host sees it");
  addModuleOption(*command, o.modulePath);
  return command;
}

CLI::App* addFilterCommand(CLI::App& app, FilterOptions& o) {
  CLI::App* command =
      app.add_subcommand("filter", "Smooth the jagged edges of an image file or a frame sequence");
  command->footer(kFilterExamples);
  command->add_option("input", o.input,
                      "Input image, or a frame sequence with #### or %04d for the frame number");
  command->add_option("-o,--output", o.output,
                      "Output image; for a sequence the same kind of pattern");
  command->add_option("--target", o.target, "What to smooth: rgb, alpha or rgba (default rgba)");
  command->add_option("--threshold", o.threshold,
                      "Edge sensitivity 0..255 (default 224): two pixels differ when a channel "
                      "differs by more than 256 - threshold");
  command->add_option("--strength", o.strength, "Blend strength in percent 0..100 (default 100)");
  command->add_option("--settings", o.settingsFile,
                      "Load a saved settings block (flags win over it)");
  command->add_option("--save-settings", o.saveSettingsFile,
                      "Write the settings block the module saves (INPUT may be left out)");
  command->add_option("--frames", o.frames,
                      "Frames of the sequence: FIRST-LAST[xSTEP] (default: the files present)");
  command->add_option("--chunk", o.chunk,
                      "Only the K-th of N equal slices of the frames, K/N (for render farms)");
  command->add_option("-j,--jobs", o.jobs,
                      "Workers for a sequence, this process among them (default: the number of "
                      "cores)");
  command
      ->add_option("--write-attribute", o.writeAttributes,
                   "NAME=VALUE for the image writer, e.g. png:compressionLevel=6 (default 2), "
                   "compression=piz for EXR (default: the input's); may be repeated")
      ->allow_extra_args(false);
  command->add_flag("--fail-fast", o.failFast, "Stop a sequence at the first failed frame");
  command->add_flag("-q,--quiet", o.quiet, "No progress line and no summary");
  command->add_flag("-v,--verbose", o.verbose, "Name every file written");
  command->add_flag("--timing", o.timing,
                    "Report the share of time spent reading, filtering and writing");
  addModuleOption(*command, o.modulePath);
  // How a worker process started by -j learns its part; not for people.
  command->add_option("--worker-fd", o.workerFd)->group("");
  command->add_option("--worker-queue", o.workerQueueFd)->group("");
  return command;
}

CLI::App* addDialogCommand(CLI::App& app, DialogOptions& o) {
  CLI::App* command =
      app.add_subcommand("dialog", "Open the options dialog on a frame and play a script in it");
  addModuleOption(*command, o.modulePath);
  command->add_option("INPUT", o.input, "The frame: an image file")->required();
  command->add_option("--script", o.script, "User actions, one a line");
  command->add_option("--screenshot", o.screenshot, "Save a picture of the dialog (PNG)");
  command->add_option("--settings", o.settings,
                      "Settings block: loaded first when it exists, saved on close");
  command->add_option("--record", o.record,
                      "Write what the user did as a script that plays it again");
  command
      ->add_option("--withdraw", o.withdrawn,
                   "Run as a host that does not offer this service (LWPanelServices, "
                   "RasterServices or LWXPanel)")
      ->check(CLI::IsMember(
          {PanelHost::kPanelServices, PanelHost::kRasterServices, PanelHost::kXPanelServices}));
  command->add_flag("--headless", o.headless,
                    "No window: play --script (or nothing) in the scripted back end");
  return command;
}

// The command line parsed, then the chosen command run: the process exit code.
int runCommandLine(int argc, char** argv) {
  // Named, not taken from argv[0], so that usage lines (and the man page) say "oru".
  CLI::App app{"oru: smooths the jagged edges of rendered frames with the Oru module", "oru"};
  app.set_version_flag("--version", "oru " ORU_VERSION);
  app.require_subcommand(1);

  DescribeOptions describe;
  FilterOptions filter;
  DialogOptions dialog;
  const CLI::App* describeCommand = addDescribeCommand(app, describe);
  const CLI::App* filterCommand = addFilterCommand(app, filter);
  const CLI::App* dialogCommand = addDialogCommand(app, dialog);

  CLI11_PARSE(app, argc, argv);
  // Every error of a run (a HostError or any other) as one line.
  try {
    if (describeCommand->parsed()) return runDescribe(describe);
    if (filterCommand->parsed()) {
      EarlyStart early(filter);
      filter.early = early.workers();
      return imageCommands().filter(filter);
    }
    if (dialogCommand->parsed()) return imageCommands().dialog(dialog);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace oru_runner

int main(int argc, char** argv) {
  return oru_runner::runCommandLine(argc, argv);
}
