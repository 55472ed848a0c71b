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
#include "runner/frames/frame_run.h"
#include "runner/frames/image_io.h"
#include "runner/host/filter_instance.h"
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

}  // namespace

int runDialog(const DialogOptions& o) {
  Script script;
  if (!o.script.empty()) script = readScriptFile(o.script);

  LoadedModule module(o.modulePath);
  module.activateHandler(hostLookup);
  module.activateInterface(hostLookup);
  FilterHandle instance(module);
  std::error_code ec;
  if (!o.settings.empty() && std::filesystem::exists(o.settings, ec)) {
    instance.load(readSettingsFile(o.settings));
  }

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
  std::unique_ptr<HostError> pictureError;
  auto takePicture = [&](PanelHost&, PanelModel& panel) {
    if (o.screenshot.empty()) return;
    // Nothing may be thrown through the module's call to runPanel.
    try {
      savePicturePng(renderPanelPicture(panel), o.screenshot);
    } catch (const HostError& e) {
      pictureError = std::make_unique<HostError>(e);
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
  if (pictureError) throw *pictureError;

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
