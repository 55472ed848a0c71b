// The runner's panel, raster and property-panel services ("LWPanelServices",
// "RasterServices", "LWXPanel").
//
// PanelHost keeps the whole model of what the module builds: panels and
// their controls, rasters, property panels, each with every value the
// module gave or the user set. It answers the module's calls from that model
// and turns user actions into the module's callbacks, as a host does. How a
// panel is shown while it runs is a back end's business (PanelBackend): the
// headless one plays a script of user actions; a windowed one draws the same
// model and feeds it real input.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/panel_services.h"

namespace oru_runner {

struct PanelModel;

enum class ControlState { Created, Drawn, Disabled, Hidden };

struct ControlModel;

// What the module holds as a control: the routines it calls, then the way
// back to the model.
struct ControlHandle {
  PanelControl functions;
  ControlModel* model;
};

struct ControlModel {
  ControlHandle handle{};
  PanelModel* panel = nullptr;
  int index = 0;  // in the order the module made its controls

  std::string typeName;
  std::string label;
  // The description record as it stood at newControl: word 0 the type code,
  // words 1 to 3 as the module left them.
  int descType = 0;
  std::array<HostWord, 3> descWords{};
  // Decoded from the description, by type.
  std::vector<std::string> items;  // choices
  int width = 0, height = 0;       // the drawing area
  int minimum = 0, maximum = 0;    // ranges
  void* xpanel = nullptr;          // property-panel holders

  int x = 0, y = 0;
  int value = 0;             // choices, ranges, toggles
  std::array<int, 3> vec{};  // drag areas: x, y, 0 on press / 1 on move
  ControlEventFunc event = nullptr;
  ControlDrawFunc draw = nullptr;
  void* userData = nullptr;
  ControlState state = ControlState::Created;
  std::vector<int> drawModes;  // every drawControl mode, in order

  PanelControl* asControl() { return &handle.functions; }
  bool takesInput() const { return state == ControlState::Drawn; }
};

struct PanelModel {
  std::string title;
  int x = 0, y = 0, width = 0, height = 0;
  PanelDrawFunc draw = nullptr;
  void* userData = nullptr;
  std::vector<std::unique_ptr<ControlModel>> controls;
  bool running = false;
  bool freed = false;
  // What rasters have been copied onto the panel: width x height RGB,
  // background grey where nothing was copied.
  std::vector<std::uint8_t> pixels;

  // The first control of the given type name, or null.
  ControlModel* find(const std::string& typeName) const;
  void resizePixels();
};

struct RasterModel {
  int width = 0, height = 0;
  bool freed = false;
  std::vector<std::uint8_t> rgb;  // width x height x 3
};

struct XPanelModel {
  int kind = 0;
  bool freed = false;
  std::vector<XPanelControlRow> controls;  // as given, without the end row
  std::vector<XPanelDataRow> data;
  std::map<int, std::vector<std::string>> choices;  // from the hints
  std::map<int, std::pair<int, int>> ranges;        // id: minimum, maximum
  std::vector<int> idList;                          // the further id-list hint
  XPanelChangeFunc change = nullptr;
  std::map<int, void*> userData;
  std::map<int, int> values;

  const XPanelControlRow* control(int id) const;
};

class PanelHost;

// One thing a user did to a panel, as PanelHost reports it to an observer.
struct UserAction {
  enum Kind { Choose, Press, Toggle, DragReport, FormValue, Move, Close };
  Kind kind;
  ControlModel* control = nullptr;  // Choose, Press, Toggle, DragReport
  XPanelModel* xpanel = nullptr;    // FormValue
  int id = 0;                       // FormValue: the control id
  int value = 0;                    // the item, value or on (1) / off (0)
  int x = 0, y = 0;                 // DragReport: the point; Move: the position
  bool moving = false;              // DragReport: a move (else the press)
};

// How a running panel is shown.
class PanelBackend {
 public:
  virtual ~PanelBackend() = default;
  // Runs the panel until it is closed: returns when panel.running is false
  // or the back end has nothing more to do.
  virtual void run(PanelHost& host, PanelModel& panel) = 0;
  // A control was drawn (mode as the module asked), or a raster was copied
  // onto the panel.
  virtual void controlDrawn(ControlModel& /*control*/, int /*mode*/) {}
  virtual void panelPainted(PanelModel& /*panel*/) {}
};

// The headless back end: hands the running panel to a function (a script
// player, a test), then closes it.
class HeadlessBackend : public PanelBackend {
 public:
  using Player = std::function<void(PanelHost& host, PanelModel& panel)>;
  explicit HeadlessBackend(Player player = nullptr) : player_(std::move(player)) {}
  void setPlayer(Player player) { player_ = std::move(player); }
  void run(PanelHost& host, PanelModel& panel) override;

 private:
  Player player_;
};

class PanelHost {
 public:
  static constexpr const char* kPanelServices = "LWPanelServices";
  static constexpr const char* kRasterServices = "RasterServices";
  static constexpr const char* kXPanelServices = "LWXPanel";

  // Offers the three services through hostLookup; the destructor withdraws
  // them. One PanelHost at a time.
  explicit PanelHost(PanelBackend* backend = nullptr);
  ~PanelHost();
  PanelHost(const PanelHost&) = delete;
  PanelHost& operator=(const PanelHost&) = delete;

  void setBackend(PanelBackend* backend) { backend_ = backend; }
  // Withdraws one service (its lookup answers null), or offers it again.
  void withdraw(const std::string& service);
  void offer(const std::string& service);

  // ---- What the module sees -----------------------------------------------
  void setScreen(int width, int height) { screen_ = {width, height}; }
  // When set, newPanel / newRaster / newXPanel give null.
  bool failNewPanel = false;
  bool failNewRaster = false;
  bool failNewXPanel = false;
  // When set, every writeFormValue is reported through the change callback.
  bool reportPushedValues = false;

  // ---- The model ------------------------------------------------------------
  // Everything the module made, in the order it made it; freed models are
  // kept (marked freed) until the host goes, so that they can be looked at.
  const std::vector<std::unique_ptr<PanelModel>>& panels() const { return panels_; }
  const std::vector<std::unique_ptr<RasterModel>>& rasters() const { return rasters_; }
  const std::vector<std::unique_ptr<XPanelModel>>& xpanels() const { return xpanels_; }
  PanelModel* lastPanel() const { return panels_.empty() ? nullptr : panels_.back().get(); }
  RasterModel* lastRaster() const { return rasters_.empty() ? nullptr : rasters_.back().get(); }
  XPanelModel* lastXPanel() const { return xpanels_.empty() ? nullptr : xpanels_.back().get(); }
  // The property panel that a panel's holder control shows, or null.
  XPanelModel* xpanelOf(const PanelModel& panel) const;

  struct Counts {
    long newPanel = 0, freePanel = 0, runPanel = 0;
    long newRaster = 0, freeRaster = 0, fillBox = 0, copyToPanel = 0;
    long newXPanel = 0, freeXPanel = 0, changeEvents = 0;
  };
  const Counts& counts() const { return counts_; }
  void resetCounts() { counts_ = Counts{}; }

  // ---- User actions -------------------------------------------------------------
  // Each gives false, and calls nothing, when the control takes no input
  // (hidden, disabled or never drawn).
  bool choose(ControlModel& control, int item);  // choices and ranges alike
  bool press(ControlModel& control);
  bool setToggle(ControlModel& control, bool on);
  // A drag on an area from one point to another, in the area's own
  // coordinates: a first report with third value 0, then moves of at most
  // step pixels along each axis (longer ones for a drag of more than 256
  // steps, which always ends after 256 moves).
  bool drag(ControlModel& control, int fromX, int fromY, int toX, int toY, int step = 8);
  // One report of a drag: moving false for the press, true for each move.
  bool dragReport(ControlModel& control, int x, int y, bool moving);
  // The user sets a property-panel value: the change callback gets event 2.
  void setFormValue(XPanelModel& xpanel, int id, int value);
  void move(PanelModel& panel, int x, int y);
  void close(PanelModel& panel);
  // Draws a control as a host does on its own, e.g. when a window is exposed.
  void drawControl(ControlModel& control, int mode);

  // Told of every user action above that was taken, after the module's
  // callback returned.
  std::function<void(const UserAction&)> onUserAction;

  // The host behind a module's call.
  static PanelHost& current();
  static ControlModel& modelOf(PanelControl* control);
  static PanelModel& modelOf(void* panel) { return *static_cast<PanelModel*>(panel); }

 private:
  friend struct ServiceCalls;
  void fire(ControlModel& control);
  void tell(const UserAction& action) {
    if (onUserAction) onUserAction(action);
  }

  PanelBackend* backend_;
  HeadlessBackend defaultBackend_;
  std::array<int, 2> screen_{1920, 1080};
  std::vector<std::unique_ptr<PanelModel>> panels_;
  std::vector<std::unique_ptr<RasterModel>> rasters_;
  std::vector<std::unique_ptr<XPanelModel>> xpanels_;
  Counts counts_;
};

}  // namespace oru_runner
