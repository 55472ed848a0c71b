// oru: the command line of the runner, our stand-in for the host. Every
// subcommand, option, help text and default is defined here, and this is the
// one file that includes CLI11; each command then runs from its options
// (runner/cli/commands.h).
#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "runner/cli/commands.h"
#include "runner/cli/early_workers.h"
#include "runner/cli/image_commands.h"
#include "runner/cli/progress.h"
#include "runner/cli/workers.h"
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

// A whole decimal number: digits with an optional sign, leading zeros
// allowed and meaning nothing (not octal), nothing else (no 0x, no spaces).
int decimal(const std::string& option, const std::string& text) {
  std::size_t at = text.size() > 1 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  bool digits = at < text.size();
  long long value = 0;
  for (std::size_t i = at; i < text.size() && digits; ++i) {
    digits = text[i] >= '0' && text[i] <= '9';
    value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 40);
  }
  if (!digits)
    throw CLI::ValidationError(option, "expected a whole decimal number, not \"" + text + "\"");
  value = text[0] == '-' ? -value : value;
  if (value < INT32_MIN || value > INT32_MAX) {
    throw CLI::ValidationError(option, "the number " + text + " is out of range");
  }
  return static_cast<int>(value);
}

// An int option read as decimal (CLI11's own reading takes 010 as octal).
CLI::Option* addNumber(CLI::App& command, const std::string& name, std::optional<int>& value,
                       const std::string& help) {
  return command.add_option_function<std::string>(
      name, [&value, name](const std::string& text) { value = decimal(name, text); }, help);
}

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
  addNumber(*command, "--threshold", o.threshold,
            "Edge sensitivity 0..255 (default 224): two pixels differ when a channel "
            "differs by more than 256 - threshold");
  addNumber(*command, "--strength", o.strength, "Blend strength in percent 0..100 (default 100)");
  command->add_option("--settings", o.settingsFile,
                      "Load a saved settings block (flags win over it)");
  command->add_option("--save-settings", o.saveSettingsFile,
                      "Write the settings block the module saves (INPUT may be left out)");
  command->add_option("--frames", o.frames,
                      "Frames of the sequence: FIRST-LAST[xSTEP] (default: the files present)");
  command->add_option("--chunk", o.chunk,
                      "Only the K-th of N equal slices of the frames, K/N (for render farms)");
  command->add_option_function<std::string>(
      "-j,--jobs",
      [&o](const std::string& text) {
        o.jobs = decimal("--jobs", text);
        if (o.jobs < 1) {
          throw CLI::ValidationError("--jobs", "expected 1 or more workers, not " + text);
        }
      },
      "Workers for a sequence, this process among them (default: the number of cores; at most " +
          std::to_string(kWorkersPerCore) + " a core)");
  command->add_flag("--no-sequence", o.noSequence,
                    "Take INPUT and OUTPUT as single files even when they hold # or %d");
  command
      ->add_option("--write-attribute", o.writeAttributes,
                   "NAME=VALUE for the image writer, e.g. png:compressionLevel=6 (default 2), "
                   "compression=piz for EXR (default: the input's); may be repeated")
      ->allow_extra_args(false);
  command->add_flag("--fail-fast", o.failFast, "Stop a sequence at the first failed frame");
  command->add_flag("--skip-existing", o.skipExisting,
                    "Leave out frames whose output is there already (finished by an earlier "
                    "run: outputs only appear whole), e.g. when a farm task runs again");
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

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // Every error one line and exit code 1, as for the errors of a run.
    std::string message = printableLine(e.what());
    while (!message.empty() && message.back() == ' ') message.pop_back();
    std::fprintf(stderr, "oru: %s (see oru --help)\n", message.c_str());
    return 1;
  }
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
    std::fprintf(stderr, "oru: %s\n", printableLine(e.what()).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace oru_runner

int main(int argc, char** argv) {
  // A file size limit (ulimit -f) makes a write fail with "file too large",
  // which the writer reports for its file, instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  return oru_runner::runCommandLine(argc, argv);
}
