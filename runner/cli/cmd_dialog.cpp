// oru dialog: the module's options dialog on a frame, in a window on the
// display DISPLAY names, else (or with --script or --headless) played by a
// script in the headless back end.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "runner/cli/commands.h"
#include "runner/frames/atomic_file.h"
#include "runner/frames/file_roles.h"
#include "runner/frames/frame_run.h"
#include "runner/frames/image_io.h"
#include "runner/frames/input_file.h"
#include "runner/host/filter_instance.h"
#include "runner/host/filter_settings.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_error.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"
#include "runner/panel/panel_host.h"
#include "runner/panel/panel_picture.h"
#include "runner/panel/panel_script.h"
#include "runner/panel/panel_window.h"

namespace oru_runner {

namespace {

// Reads an image file as the frame the host hands over (runner/frames/image_io.h).
std::unique_ptr<HostFrame> readFrame(const std::string& path) {
  ImageFrame image = readImage(path);
  auto frame = std::make_unique<HostFrame>(image.width, image.height);
  for (int c = 0; c < 4; ++c) frame->input(c).swap(image.planes[c]);
  return frame;
}

// The files the dialog writes (the settings on close, the picture, the
// recording) are none of those it reads, nor one another.
void refuseClashes(const DialogOptions& o) {
  std::vector<FileRole> reads{{o.input, "frame"}, {o.modulePath, "module"}};
  if (!o.script.empty()) reads.push_back({o.script, "--script file"});
  std::vector<FileRole> writes;
  if (!o.settings.empty()) writes.push_back({o.settings, "--settings file"});
  if (!o.screenshot.empty()) writes.push_back({o.screenshot, "--screenshot file"});
  if (!o.record.empty()) writes.push_back({o.record, "--record file"});
  oru_runner::refuseClashes(reads, writes);
}

// The settings file the dialog starts from, when it exists: it is saved over
// on close, so it must hold a settings block and nothing else.
std::optional<SettingsBlock> existingSettings(const std::string& path) {
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return std::nullopt;
  SettingsBlock block = readSettingsFile(path);
  if (!settingsFromBlock(block)) {
    throw HostError(path,
                    "not a settings block, and the dialog would save over it on close; "
                    "give the name of a settings file or of a new one");
  }
  return block;
}

}  // namespace

int runDialog(const DialogOptions& o) {
  refuseClashes(o);
  requireRegularFile(o.input);
  Script script;
  if (!o.script.empty()) script = readScriptFile(o.script);
  const std::optional<SettingsBlock> startFrom = existingSettings(o.settings);

  LoadedModule module(o.modulePath);
  module.activateHandler(hostLookup);
  module.activateInterface(hostLookup);
  FilterHandle instance(module);
  if (startFrom) instance.load(*startFrom);

  // The preview shows the last frame the filter took.
  std::unique_ptr<HostFrame> frame = readFrame(o.input);
  // A display that is named but does not answer is an error, not a reason
  // to play the dialog headless: the person would see nothing happen.
  const bool inWindow = !o.headless && o.script.empty() && displayNamed();
  std::optional<ScreenSize> screen;
  if (inWindow && !(screen = openDisplay())) {
    throw HostError(std::string("display ") + std::getenv("DISPLAY"),
                    "cannot open the display (use --headless without one)");
  }
  filterFrame(instance, o.input, *frame);

  std::string scriptProblem;
  // The picture is taken as the dialog closes and saved once all went well.
  std::optional<Picture> picture;
  std::string pictureProblem;
  auto takePicture = [&](PanelHost&, PanelModel& panel) {
    if (o.screenshot.empty()) return;
    // Nothing may be thrown through the module's call to runPanel.
    try {
      picture = renderPanelPicture(panel);
    } catch (const std::exception& e) {
      pictureProblem = e.what();
    }
  };

  HeadlessBackend headless([&](PanelHost& host, PanelModel& panel) {
    scriptProblem = playScript(host, panel, script);
    takePicture(host, panel);
  });
  // A window shows the picture as the person left it.
  class PictureOnClose : public WindowBackend {
   public:
    explicit PictureOnClose(std::function<void(PanelHost&, PanelModel&)> take)
        : take_(std::move(take)) {}
    void run(PanelHost& host, PanelModel& panel) override {
      WindowBackend::run(host, panel);
      take_(host, panel);
    }

   private:
    std::function<void(PanelHost&, PanelModel&)> take_;
  } windowed(takePicture);

  PanelHost host(inWindow ? static_cast<PanelBackend*>(&windowed) : &headless);
  ScriptRecorder recorder(host);
  for (const auto& service : o.withdrawn) host.withdraw(service);
  if (screen) host.setScreen(screen->width, screen->height);

  std::string message = instance.options();
  if (!message.empty()) throw HostError(module.path(), "the options dialog failed: " + message);
  if (!scriptProblem.empty()) throw HostError(o.script, scriptProblem);
  if (!pictureProblem.empty()) throw HostError(o.screenshot, pictureProblem);

  if (picture) savePicturePng(*picture, o.screenshot);
  if (!o.record.empty()) writeFileAtomically(o.record, recorder.text());
  const SettingsBlock saved = instance.save();
  if (!o.settings.empty()) writeSettingsFile(o.settings, saved);
  int target = 2, strength = 100, threshold = 224;
  if (std::sscanf(settingsText(saved).c_str(), "%d %d %d", &target, &strength, &threshold) == 3) {
    const char* names[] = {"rgb", "alpha", "rgba"};
    const std::string name = target >= 0 && target <= 2 ? names[target] : std::to_string(target);
    std::printf("oru filter --target %s --threshold %d --strength %d\n", name.c_str(), threshold,
                strength);
  }
  return 0;
}

}  // namespace oru_runner
