// Scripts of user actions for the headless back end: one action a line.
//
//   view ITEM              choose a view popup item, by name ("RGB") or number
//   zoom N                 set the zoom slider
//   update                 press "update"
//   auto on|off            set the "Auto" toggle
//   drag X1 Y1 X2 Y2       drag on the canvas, in canvas pixels
//   enable on|off          the property panel's Enable
//   target ITEM            Target, by name ("Alpha") or number
//   threshold N            Threshold
//   strength N             Strength
//   move X Y               move the panel on the screen
//   close                  close the panel (also done after the last line)
//
// Blank lines and everything after '#' are ignored.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "runner/panel/panel_host.h"

namespace oru_runner {

struct ScriptAction {
  enum Kind { View, Zoom, Update, Auto, Drag, Enable, Target, Threshold, Strength, Move, Close };
  Kind kind;
  int line;                    // from 1
  std::array<int, 4> numbers;  // as the action needs them
  std::string word;            // an item given by name
};

struct Script {
  std::string file;  // named in error messages
  std::vector<ScriptAction> actions;
};

// Parses a script. Throws HostError(file, "line N: ...") for anything it
// does not understand.
Script parseScript(const std::string& text, const std::string& file);
// Reads and parses a script file.
Script readScriptFile(const std::string& path);

// Plays the script on a running panel, then closes it. Gives an empty text,
// or "line N: ..." for an action the panel cannot take (the panel is closed
// then too). Throws nothing: it runs inside the module's call to runPanel.
std::string playScript(PanelHost& host, PanelModel& panel, const Script& script);

// Writes down what a user does to the panels of a host as a script that
// plays it again: each drag report becomes a drag from the last point.
class ScriptRecorder {
 public:
  explicit ScriptRecorder(PanelHost& host);
  ~ScriptRecorder();
  ScriptRecorder(const ScriptRecorder&) = delete;
  ScriptRecorder& operator=(const ScriptRecorder&) = delete;

  const std::string& text() const { return text_; }

 private:
  void record(const UserAction& action);
  PanelHost& host_;
  std::string text_;
  int lastX_ = 0, lastY_ = 0;
};

}  // namespace oru_runner
