#include "runner/panel/panel_script.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "runner/frames/input_file.h"
#include "runner/host/host_error.h"

namespace oru_runner {

namespace {

struct Grammar {
  ScriptAction::Kind kind;
  int numbers;      // integers the action takes
  bool onOff;       // takes "on" or "off"
  bool item;        // takes an item name or number
  const char* use;  // for messages
};

const std::map<std::string, Grammar>& grammar() {
  static const std::map<std::string, Grammar> g = {
      {"view", {ScriptAction::View, 0, false, true, "view ITEM"}},
      {"zoom", {ScriptAction::Zoom, 1, false, false, "zoom N"}},
      {"update", {ScriptAction::Update, 0, false, false, "update"}},
      {"auto", {ScriptAction::Auto, 0, true, false, "auto on|off"}},
      {"drag", {ScriptAction::Drag, 4, false, false, "drag X1 Y1 X2 Y2"}},
      {"enable", {ScriptAction::Enable, 0, true, false, "enable on|off"}},
      {"target", {ScriptAction::Target, 0, false, true, "target ITEM"}},
      {"threshold", {ScriptAction::Threshold, 1, false, false, "threshold N"}},
      {"strength", {ScriptAction::Strength, 1, false, false, "strength N"}},
      {"move", {ScriptAction::Move, 2, false, false, "move X Y"}},
      {"close", {ScriptAction::Close, 0, false, false, "close"}},
  };
  return g;
}

bool parseInt(const std::string& text, int* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < -2147483647L - 1 || v > 2147483647L) return false;
  *out = static_cast<int>(v);
  return true;
}

std::string at(int line) {
  return "line " + std::to_string(line) + ": ";
}

// An item chosen by name (any case) or by number.
int findItem(const std::vector<std::string>& items, const ScriptAction& a) {
  if (a.word.empty()) return a.numbers[0];
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (strcasecmp(items[i].c_str(), a.word.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string itemList(const std::vector<std::string>& items) {
  std::string list;
  for (const auto& i : items) list += (list.empty() ? "" : ", ") + i;
  return list;
}

}  // namespace

Script parseScript(const std::string& text, const std::string& file) {
  Script script;
  script.file = file;
  std::istringstream lines(text);
  std::string raw;
  int lineNo = 0;
  bool closed = false;
  while (std::getline(lines, raw)) {
    ++lineNo;
    std::string content = raw.substr(0, raw.find('#'));
    std::istringstream words(content);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty()) continue;

    auto found = grammar().find(w[0]);
    if (found == grammar().end()) {
      throw HostError(file, at(lineNo) + "unknown action \"" + w[0] + "\"");
    }
    const Grammar& g = found->second;
    if (closed) throw HostError(file, at(lineNo) + "\"" + w[0] + "\" after close");
    const std::size_t wanted = 1 + g.numbers + (g.onOff || g.item ? 1 : 0);
    if (w.size() != wanted) {
      throw HostError(file, at(lineNo) + "expected \"" + g.use + "\"");
    }
    ScriptAction a{g.kind, lineNo, {0, 0, 0, 0}, ""};
    for (int i = 0; i < g.numbers; ++i) {
      if (!parseInt(w[1 + i], &a.numbers[i])) {
        throw HostError(file,
                        at(lineNo) + "\"" + w[1 + i] + "\" is not a whole number (" + g.use + ")");
      }
    }
    if (g.onOff) {
      if (w[1] != "on" && w[1] != "off") {
        throw HostError(file, at(lineNo) + "expected on or off, not \"" + w[1] + "\"");
      }
      a.numbers[0] = w[1] == "on" ? 1 : 0;
    }
    if (g.item && !parseInt(w[1], &a.numbers[0])) a.word = w[1];
    if (a.kind == ScriptAction::Close) closed = true;
    script.actions.push_back(a);
  }
  return script;
}

Script readScriptFile(const std::string& path) {
  // A script is a few lines a person wrote or a recording: a megabyte is
  // far more than any, and a FIFO or a device is refused before it is read.
  constexpr std::uintmax_t kMostScriptBytes = 1 << 20;
  return parseScript(readSmallFile(path, kMostScriptBytes), path);
}

std::string playScript(PanelHost& host, PanelModel& panel, const Script& script) {
  XPanelModel* xp = host.xpanelOf(panel);
  auto control = [&panel](const char* type) { return panel.find(type); };

  for (const ScriptAction& a : script.actions) {
    const std::string where = at(a.line);
    auto needs = [&](ControlModel* c, const char* what) -> std::string {
      if (!c) return where + "the panel has no " + what;
      if (!c->takesInput()) return where + "the " + what + " is not active";
      return "";
    };
    // Property-panel controls are found by their labels.
    auto formId = [&](const char* label) {
      if (xp) {
        for (const auto& row : xp->controls) {
          if (row.label && std::strcmp(row.label, label) == 0) return static_cast<int>(row.id);
        }
      }
      return 0;
    };
    auto formValue = [&](const char* what, int value) -> std::string {
      const int id = formId(what);
      if (!id) return where + "the property panel has no " + what + " control";
      auto range = xp->ranges.find(id);
      if (range != xp->ranges.end() &&
          (value < range->second.first || value > range->second.second)) {
        return where + what + " " + std::to_string(value) + " is outside " +
               std::to_string(range->second.first) + " to " + std::to_string(range->second.second);
      }
      host.setFormValue(*xp, id, value);
      return "";
    };

    std::string problem;
    switch (a.kind) {
      case ScriptAction::View: {
        ControlModel* c = control("PopupControl");
        problem = needs(c, "view popup");
        if (!problem.empty()) break;
        int item = findItem(c->items, a);
        if (item < 0 || item >= static_cast<int>(c->items.size())) {
          problem = where + "the view popup offers " + itemList(c->items);
          break;
        }
        host.choose(*c, item);
        break;
      }
      case ScriptAction::Zoom: {
        ControlModel* c = control("HSlideControl");
        problem = needs(c, "zoom slider");
        if (!problem.empty()) break;
        if (a.numbers[0] < c->minimum || a.numbers[0] > c->maximum) {
          problem = where + "zoom " + std::to_string(a.numbers[0]) + " is outside " +
                    std::to_string(c->minimum) + " to " + std::to_string(c->maximum);
          break;
        }
        host.choose(*c, a.numbers[0]);
        break;
      }
      case ScriptAction::Update: {
        ControlModel* c = control("ButtonControl");
        problem = needs(c, "update button");
        if (problem.empty()) host.press(*c);
        break;
      }
      case ScriptAction::Auto: {
        ControlModel* c = control("BoolControl");
        problem = needs(c, "Auto toggle");
        if (problem.empty()) host.setToggle(*c, a.numbers[0] != 0);
        break;
      }
      case ScriptAction::Drag: {
        ControlModel* c = control("DragAreaControl");
        problem = needs(c, "canvas");
        if (problem.empty()) {
          host.drag(*c, a.numbers[0], a.numbers[1], a.numbers[2], a.numbers[3]);
        }
        break;
      }
      case ScriptAction::Enable:
        problem = formValue("Enable", a.numbers[0]);
        break;
      case ScriptAction::Target: {
        std::vector<std::string> items;
        if (xp && xp->choices.count(formId("Target"))) items = xp->choices.at(formId("Target"));
        int item = findItem(items, a);
        if (item < 0 || item >= static_cast<int>(items.size())) {
          problem = where + "Target offers " + itemList(items);
          break;
        }
        problem = formValue("Target", item);
        break;
      }
      case ScriptAction::Threshold:
        problem = formValue("Threshold", a.numbers[0]);
        break;
      case ScriptAction::Strength:
        problem = formValue("Strength", a.numbers[0]);
        break;
      case ScriptAction::Move:
        host.move(panel, a.numbers[0], a.numbers[1]);
        break;
      case ScriptAction::Close:
        host.close(panel);
        return "";
    }
    if (!problem.empty()) {
      host.close(panel);
      return problem;
    }
  }
  host.close(panel);
  return "";
}

ScriptRecorder::ScriptRecorder(PanelHost& host) : host_(host) {
  host_.onUserAction = [this](const UserAction& a) { record(a); };
}

ScriptRecorder::~ScriptRecorder() {
  host_.onUserAction = nullptr;
}

void ScriptRecorder::record(const UserAction& a) {
  auto line = [this](const std::string& s) { text_ += s + "\n"; };
  auto item = [](const std::vector<std::string>& items, int index) {
    return index >= 0 && index < static_cast<int>(items.size()) ? items[index]
                                                                : std::to_string(index);
  };
  const std::string type = a.control ? a.control->typeName : "";
  switch (a.kind) {
    case UserAction::Choose:
      if (type == "PopupControl") line("view " + item(a.control->items, a.value));
      if (type == "HSlideControl") line("zoom " + std::to_string(a.value));
      break;
    case UserAction::Press:
      if (type == "ButtonControl") line("update");
      break;
    case UserAction::Toggle:
      if (type == "BoolControl") line(std::string("auto ") + (a.value ? "on" : "off"));
      break;
    case UserAction::DragReport:
      if (a.moving) {
        line("drag " + std::to_string(lastX_) + " " + std::to_string(lastY_) + " " +
             std::to_string(a.x) + " " + std::to_string(a.y));
      }
      lastX_ = a.x;
      lastY_ = a.y;
      break;
    case UserAction::FormValue: {
      const XPanelControlRow* row = a.xpanel->control(a.id);
      if (!row || !row->label) break;
      std::string word = row->label;
      for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (word == "enable") {
        line(std::string("enable ") + (a.value ? "on" : "off"));
      } else if (word == "target") {
        auto choices = a.xpanel->choices.find(a.id);
        line("target " + (choices == a.xpanel->choices.end() ? std::to_string(a.value)
                                                             : item(choices->second, a.value)));
      } else if (word == "threshold" || word == "strength") {
        line(word + " " + std::to_string(a.value));
      }
      break;
    }
    case UserAction::Move:
      line("move " + std::to_string(a.x) + " " + std::to_string(a.y));
      break;
    case UserAction::Close:
      line("close");
      break;
  }
}

}  // namespace oru_runner
