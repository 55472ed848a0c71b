// oru dialog: the module's options dialog on a frame, in a window when a
// display is there, else (or with --script or --headless) played by a
// script in the headless back end.
#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "runner/atomic_file.h"
#include "runner/commands.h"
#include "runner/filter_instance.h"
#include "runner/frame_access.h"
#include "runner/host_error.h"
#include "runner/host_services.h"
#include "runner/loaded_module.h"
#include "runner/panel_host.h"
#include "runner/panel_picture.h"
#include "runner/panel_script.h"
#include "runner/panel_window.h"

namespace oru_runner {

namespace {

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

// Reads an image file as a frame: R, G, B and A as the host hands them over
// (grey fills all three colours; without alpha the frame is opaque).
std::unique_ptr<HostFrame> readImage(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw HostError(path, "no such image file");
  auto in = OIIO::ImageInput::open(path);
  if (!in) throw HostError(path, "cannot read image: " + OIIO::geterror());
  const OIIO::ImageSpec& spec = in->spec();
  const int channels = spec.nchannels;
  std::vector<float> pixels(static_cast<std::size_t>(spec.width) * spec.height * channels);
  if (!in->read_image(0, 0, 0, channels, OIIO::TypeDesc::FLOAT, pixels.data())) {
    throw HostError(path, "cannot read image: " + in->geterror());
  }
  auto frame = std::make_unique<HostFrame>(spec.width, spec.height);
  const std::size_t n = static_cast<std::size_t>(spec.width) * spec.height;
  for (std::size_t i = 0; i < n; ++i) {
    const float* p = &pixels[i * channels];
    frame->input(0)[i] = p[0];
    frame->input(1)[i] = channels >= 3 ? p[1] : p[0];
    frame->input(2)[i] = channels >= 3 ? p[2] : p[0];
    frame->input(3)[i] = channels >= 4 ? p[3] : (channels == 2 ? p[1] : 1.0f);
  }
  return frame;
}

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
  readImage(o.input)->run([&instance](const FilterAccess& access) { instance.process(access); });

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

  const bool inWindow = !o.headless && o.script.empty() && displayAvailable();
  PanelHost host(inWindow ? static_cast<PanelBackend*>(&windowed) : &headless);
  ScriptRecorder recorder(host);
  for (const auto& service : o.withdrawn) host.withdraw(service);
  if (inWindow) {
    const ScreenSize screen = displaySize();
    host.setScreen(screen.width, screen.height);
  }

  std::string message = instance.options();
  if (!message.empty()) throw HostError(module.path(), "the options dialog failed: " + message);
  if (windowed.displayFailed()) {
    const char* display = std::getenv("DISPLAY");
    throw HostError(std::string("display ") + (display ? display : ""),
                    "cannot open the display (use --headless without one)");
  }
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

}  // namespace

CommandRun addDialogCommand(CLI::App& app) {
  CLI::App* command =
      app.add_subcommand("dialog", "Open the options dialog on a frame and play a script in it");
  auto o = std::make_shared<DialogOptions>();
  addModuleOption(*command, o->modulePath);
  command->add_option("INPUT", o->input, "The frame: an image file")->required();
  command->add_option("--script", o->script, "User actions, one a line");
  command->add_option("--screenshot", o->screenshot, "Save a picture of the dialog (PNG)");
  command->add_option("--settings", o->settings,
                      "Settings block: loaded first when it exists, saved on close");
  command->add_option("--record", o->record,
                      "Write what the user did as a script that plays it again");
  command
      ->add_option("--withdraw", o->withdrawn,
                   "Run as a host that does not offer this service (LWPanelServices, "
                   "RasterServices or LWXPanel)")
      ->check(CLI::IsMember(
          {PanelHost::kPanelServices, PanelHost::kRasterServices, PanelHost::kXPanelServices}));
  command->add_flag("--headless", o->headless,
                    "No window: play --script (or nothing) in the scripted back end");
  return [command, o]() -> int {
    if (!command->parsed()) return -1;
    return runDialog(*o);
  };
}

}  // namespace oru_runner
