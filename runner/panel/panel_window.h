// The windowed back end of the panel services: a running panel becomes a
// real window (FLTK) whose widgets show the panel's model and turn a
// person's input into the module's callbacks.
#pragma once

#include <memory>
#include <optional>

#include "runner/panel/panel_host.h"

namespace oru_runner {

// True when DISPLAY names an X display: the dialog belongs in a window there.
bool displayNamed();

struct ScreenSize {
  int width, height;
};
// Opens the named display for the window and gives the size of its default
// screen, or nothing when it cannot be opened. The connection stays open
// for the window.
std::optional<ScreenSize> openDisplay();

class WindowBackend : public PanelBackend {
 public:
  WindowBackend();
  ~WindowBackend() override;

  // Shows the panel as a window and runs it until the user closes it
  // (openDisplay() first; without a display the panel closes at once).
  void run(PanelHost& host, PanelModel& panel) override;
  void controlDrawn(ControlModel& control, int mode) override;
  void panelPainted(PanelModel& panel) override;

 private:
  struct Window;
  std::unique_ptr<Window> window_;
};

}  // namespace oru_runner
