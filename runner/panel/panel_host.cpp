#include "runner/panel/panel_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runner/host/host_services.h"

namespace oru_runner {

namespace {

PanelHost* currentHost = nullptr;

constexpr std::uint8_t kPanelGrey = 0xc8;

int clampInt(int v, int lo, int hi) {
  return std::max(lo, std::min(v, hi));
}

}  // namespace

ControlModel* PanelModel::find(const std::string& typeName) const {
  for (const auto& c : controls) {
    if (c->typeName == typeName) return c.get();
  }
  return nullptr;
}

void PanelModel::resizePixels() {
  pixels.assign(static_cast<std::size_t>(std::max(width, 0)) * std::max(height, 0) * 3, kPanelGrey);
}

const XPanelControlRow* XPanelModel::control(int id) const {
  for (const auto& row : controls) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

void HeadlessBackend::run(PanelHost& host, PanelModel& panel) {
  if (player_) player_(host, panel);
}

// The routines of the three tables. The host behind them is the current one.
struct ServiceCalls {
  // ---- Panels ----
  static void* newPanel(const char* title, PanelServicesTable*) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.newPanel;
    if (host.failNewPanel) return nullptr;
    auto panel = std::make_unique<PanelModel>();
    panel->title = title ? title : "";
    host.panels_.push_back(std::move(panel));
    return host.panels_.back().get();
  }
  static void freePanel(void* handle) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.freePanel;
    if (handle) PanelHost::modelOf(handle).freed = true;
  }
  static int runPanel(void* handle, int) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.runPanel;
    PanelModel& panel = PanelHost::modelOf(handle);
    panel.running = true;
    if (panel.draw) panel.draw(handle, panel.userData, DRAW_NORMAL);
    host.backend_->run(host, panel);
    panel.running = false;
    return 1;
  }
  static void readPanelAttr(void* handle, int code, void* out) {
    PanelModel& panel = PanelHost::modelOf(handle);
    int* to = static_cast<int*>(out);
    switch (code) {
      case PAN_X:
        *to = panel.x;
        break;
      case PAN_Y:
        *to = panel.y;
        break;
      case PAN_W:
        *to = panel.width;
        break;
      case PAN_H:
        *to = panel.height;
        break;
      case PAN_DRAW_FUNC:
        *static_cast<PanelDrawFunc*>(out) = panel.draw;
        break;
      case PAN_USER_DATA:
        *static_cast<void**>(out) = panel.userData;
        break;
      default:
        break;
    }
  }
  static void writePanelAttr(void* handle, int code, void* value) {
    PanelModel& panel = PanelHost::modelOf(handle);
    const int* from = static_cast<const int*>(value);
    switch (code) {
      case PAN_X:
        panel.x = *from;
        break;
      case PAN_Y:
        panel.y = *from;
        break;
      case PAN_W:
        panel.width = *from;
        panel.resizePixels();
        break;
      case PAN_H:
        panel.height = *from;
        panel.resizePixels();
        break;
      case PAN_DRAW_FUNC:
        panel.draw = reinterpret_cast<PanelDrawFunc>(value);
        break;
      case PAN_USER_DATA:
        panel.userData = value;
        break;
      default:
        break;
    }
  }
  static PanelControl* newControl(void* handle, const char* typeName, ControlDesc* d,
                                  const char* label) {
    PanelModel& panel = PanelHost::modelOf(handle);
    auto control = std::make_unique<ControlModel>();
    ControlModel& c = *control;
    c.handle.functions = {&drawControl, &readControlAttr, &writeControlAttr};
    c.handle.model = &c;
    c.panel = &panel;
    c.index = static_cast<int>(panel.controls.size());
    c.typeName = typeName ? typeName : "";
    c.label = label ? label : "";
    c.descType = d->type;
    std::copy(std::begin(d->word), std::end(d->word), c.descWords.begin());
    switch (d->type) {
      case DESC_CHOICE:
        for (const char* const* item = d->word[0].items; item && *item; ++item) {
          c.items.push_back(*item);
        }
        c.width = d->word[1].value;
        c.height = 20;
        break;
      case DESC_RANGE:
        c.width = d->word[0].value;
        c.height = 20;
        c.minimum = d->word[1].value;
        c.maximum = d->word[2].value;
        break;
      case DESC_AREA:
        c.width = d->word[0].value;
        c.height = d->word[1].value;
        break;
      case DESC_XPANEL:
        c.xpanel = d->word[2].pointer;
        break;
      default:
        c.height = 20;
        break;
    }
    panel.controls.push_back(std::move(control));
    return c.asControl();
  }
  static const int* screenMetrics() { return PanelHost::current().screen_.data(); }

  // ---- Controls ----
  static void drawControl(PanelControl* handle, int mode) {
    PanelHost::current().drawControl(PanelHost::modelOf(handle), mode);
  }
  static void readControlAttr(PanelControl* handle, int code, void* value) {
    ControlModel& c = PanelHost::modelOf(handle);
    ValueRecord* out = static_cast<ValueRecord*>(value);
    auto put = [out](int v) {
      out->type = VALUE_INT;
      out->word[0].value = v;
    };
    switch (code) {
      case CTL_X:
        put(c.x);
        break;
      case CTL_Y:
        put(c.y);
        break;
      case CTL_VALUE:
        if (c.typeName == "DragAreaControl") {
          out->type = VALUE_IVEC;
          for (int i = 0; i < 3; ++i) out->word[i].value = c.vec[i];
        } else {
          put(c.value);
        }
        break;
      case CTL_AREA_X:
        put(c.x);
        break;
      case CTL_AREA_Y:
        put(c.y);
        break;
      case CTL_AREA_W:
        put(c.width);
        break;
      case CTL_AREA_H:
        put(c.height);
        break;
      case CTL_PANEL:
        out->type = VALUE_INT;
        out->word[0].pointer = c.panel;
        break;
      default:
        break;
    }
  }
  static void writeControlAttr(PanelControl* handle, int code, void* value) {
    ControlModel& c = PanelHost::modelOf(handle);
    const ValueRecord* in = static_cast<const ValueRecord*>(value);
    switch (code) {
      case CTL_X:
        c.x = in->word[0].value;
        break;
      case CTL_Y:
        c.y = in->word[0].value;
        break;
      case CTL_VALUE:
        if (in->type == VALUE_IVEC) {
          for (int i = 0; i < 3; ++i) c.vec[i] = in->word[i].value;
        } else {
          c.value = in->word[0].value;
        }
        break;
      case CTL_DRAW_FUNC:
        c.draw = reinterpret_cast<ControlDrawFunc>(value);
        break;
      case CTL_EVENT_FUNC:
        c.event = reinterpret_cast<ControlEventFunc>(value);
        break;
      case CTL_USER_DATA:
        c.userData = value;
        break;
      default:
        break;
    }
  }

  // ---- Rasters ----
  static void fillBox(void* handle, int r, int g, int b, int x, int y, int w, int h) {
    ++PanelHost::current().counts_.fillBox;
    RasterModel& raster = *static_cast<RasterModel*>(handle);
    const int x0 = clampInt(x, 0, raster.width), x1 = clampInt(x + w, 0, raster.width);
    const int y0 = clampInt(y, 0, raster.height), y1 = clampInt(y + h, 0, raster.height);
    for (int row = y0; row < y1; ++row) {
      std::uint8_t* p = &raster.rgb[(static_cast<std::size_t>(row) * raster.width + x0) * 3];
      for (int col = x0; col < x1; ++col) {
        *p++ = static_cast<std::uint8_t>(r);
        *p++ = static_cast<std::uint8_t>(g);
        *p++ = static_cast<std::uint8_t>(b);
      }
    }
  }
  static void* newRaster(int width, int height, int) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.newRaster;
    if (host.failNewRaster || width <= 0 || height <= 0) return nullptr;
    auto raster = std::make_unique<RasterModel>();
    raster->width = width;
    raster->height = height;
    // A new raster is black.
    raster->rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
    host.rasters_.push_back(std::move(raster));
    return host.rasters_.back().get();
  }
  static void freeRaster(void* handle) {
    ++PanelHost::current().counts_.freeRaster;
    if (handle) static_cast<RasterModel*>(handle)->freed = true;
  }
  static void copyToPanel(void* rasterHandle, int srcX, int srcY, void* panelHandle, int x, int y,
                          int w, int h) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.copyToPanel;
    const RasterModel& raster = *static_cast<RasterModel*>(rasterHandle);
    PanelModel& panel = PanelHost::modelOf(panelHandle);
    for (int j = 0; j < h; ++j) {
      const int sy = srcY + j, dy = y + j;
      if (sy < 0 || sy >= raster.height || dy < 0 || dy >= panel.height) continue;
      for (int i = 0; i < w; ++i) {
        const int sx = srcX + i, dx = x + i;
        if (sx < 0 || sx >= raster.width || dx < 0 || dx >= panel.width) continue;
        std::memcpy(&panel.pixels[(static_cast<std::size_t>(dy) * panel.width + dx) * 3],
                    &raster.rgb[(static_cast<std::size_t>(sy) * raster.width + sx) * 3], 3);
      }
    }
    if (host.backend_) host.backend_->panelPainted(panel);
  }

  // ---- Property panels ----
  static XPanelModel& xpanel(void* handle) { return *static_cast<XPanelModel*>(handle); }
  static void* newXPanel(int kind, const XPanelControlRow* rows) {
    PanelHost& host = PanelHost::current();
    ++host.counts_.newXPanel;
    if (host.failNewXPanel) return nullptr;
    auto xp = std::make_unique<XPanelModel>();
    xp->kind = kind;
    for (const XPanelControlRow* row = rows; row && row->id; ++row) xp->controls.push_back(*row);
    host.xpanels_.push_back(std::move(xp));
    return host.xpanels_.back().get();
  }
  static void freeXPanel(void* handle) {
    ++PanelHost::current().counts_.freeXPanel;
    if (handle) xpanel(handle).freed = true;
  }
  static void describeValues(void* handle, const XPanelDataRow* rows, XPanelGetFunc,
                             XPanelSetFunc) {
    for (const XPanelDataRow* row = rows; row && row->id; ++row)
      xpanel(handle).data.push_back(*row);
  }
  static void applyHints(void* handle, int, const std::uintptr_t* hints) {
    XPanelModel& xp = xpanel(handle);
    const std::uintptr_t* h = hints;
    while (h && *h) {
      const std::uintptr_t tag = *h++;
      if (tag == XPHINT_CHOICE_ITEMS) {
        const int id = static_cast<int>(*h++);
        auto items = reinterpret_cast<const char* const*>(*h++);
        ++h;  // the 0 after the item list
        for (; items && *items; ++items) xp.choices[id].push_back(*items);
      } else if (tag == XPHINT_INT_RANGE) {
        const int id = static_cast<int>(h[0]);
        xp.ranges[id] = {static_cast<int>(h[1]), static_cast<int>(h[2])};
        h += 4;
      } else if (tag == XPHINT_ID_LIST) {
        while (*h) xp.idList.push_back(static_cast<int>(*h++));
        ++h;
      } else if (tag == XPHINT_CHANGE_FUNC) {
        xp.change = reinterpret_cast<XPanelChangeFunc>(*h++);
      } else {
        // A hint this host does not know: its length is unknown, so stop.
        break;
      }
    }
  }
  static void* readUserData(void* handle, int id) {
    auto& data = xpanel(handle).userData;
    auto found = data.find(id);
    return found == data.end() ? nullptr : found->second;
  }
  static void writeUserData(void* handle, int id, void* data) {
    xpanel(handle).userData[id] = data;
  }
  static void* readFormValue(void* handle, int id) {
    auto& values = xpanel(handle).values;
    auto found = values.find(id);
    return found == values.end() ? nullptr : &found->second;
  }
  static void writeFormValue(void* handle, int id, void* value) {
    PanelHost& host = PanelHost::current();
    XPanelModel& xp = xpanel(handle);
    xp.values[id] = *static_cast<const int*>(value);
    if (host.reportPushedValues && xp.change) {
      ++host.counts_.changeEvents;
      xp.change(handle, id, id, XPANEL_EVENT_VALUE);
    }
  }
};

namespace {

DisplayTable displayTable = [] {
  DisplayTable t{};
  t.screenMetrics = &ServiceCalls::screenMetrics;
  return t;
}();

PanelServicesTable panelTable = [] {
  PanelServicesTable t{};
  t.newPanel = &ServiceCalls::newPanel;
  t.freePanel = &ServiceCalls::freePanel;
  t.runPanel = &ServiceCalls::runPanel;
  t.readPanelAttr = &ServiceCalls::readPanelAttr;
  t.writePanelAttr = &ServiceCalls::writePanelAttr;
  t.newControl = &ServiceCalls::newControl;
  t.displayTable = &displayTable;
  return t;
}();

RasterServicesTable rasterTable = [] {
  RasterServicesTable t{};
  t.fillBox = &ServiceCalls::fillBox;
  t.newRaster = &ServiceCalls::newRaster;
  t.freeRaster = &ServiceCalls::freeRaster;
  t.copyToPanel = &ServiceCalls::copyToPanel;
  return t;
}();

XPanelServicesTable xpanelTable = [] {
  XPanelServicesTable t{};
  t.newXPanel = &ServiceCalls::newXPanel;
  t.freeXPanel = &ServiceCalls::freeXPanel;
  t.describeValues = &ServiceCalls::describeValues;
  t.applyHints = &ServiceCalls::applyHints;
  t.readUserData = &ServiceCalls::readUserData;
  t.writeUserData = &ServiceCalls::writeUserData;
  t.readFormValue = &ServiceCalls::readFormValue;
  t.writeFormValue = &ServiceCalls::writeFormValue;
  return t;
}();

void* tableOf(const std::string& service) {
  if (service == PanelHost::kPanelServices) return &panelTable;
  if (service == PanelHost::kRasterServices) return &rasterTable;
  if (service == PanelHost::kXPanelServices) return &xpanelTable;
  return nullptr;
}

}  // namespace

PanelHost::PanelHost(PanelBackend* backend) : backend_(backend ? backend : &defaultBackend_) {
  if (currentHost) std::abort();  // one host at a time
  currentHost = this;
  for (const char* s : {kPanelServices, kRasterServices, kXPanelServices}) offer(s);
}

PanelHost::~PanelHost() {
  for (const char* s : {kPanelServices, kRasterServices, kXPanelServices}) withdraw(s);
  currentHost = nullptr;
}

void PanelHost::withdraw(const std::string& service) {
  offerService(service, nullptr);
}
void PanelHost::offer(const std::string& service) {
  offerService(service, tableOf(service));
}

PanelHost& PanelHost::current() {
  if (!currentHost) std::abort();
  return *currentHost;
}

ControlModel& PanelHost::modelOf(PanelControl* control) {
  return *reinterpret_cast<ControlHandle*>(control)->model;
}

XPanelModel* PanelHost::xpanelOf(const PanelModel& panel) const {
  for (const auto& c : panel.controls) {
    if (c->descType == DESC_XPANEL && c->xpanel) return static_cast<XPanelModel*>(c->xpanel);
  }
  return nullptr;
}

void PanelHost::drawControl(ControlModel& c, int mode) {
  c.drawModes.push_back(mode);
  switch (mode) {
    case DRAW_HIDE:
      c.state = ControlState::Hidden;
      break;
    case DRAW_NORMAL:
      c.state = ControlState::Drawn;
      break;
    case DRAW_DISABLED:
      c.state = ControlState::Disabled;
      break;
    default:
      break;  // a redraw keeps the state
  }
  if (mode != DRAW_HIDE && c.state != ControlState::Hidden && c.draw) {
    c.draw(c.asControl(), c.userData, mode);
  }
  if (backend_) backend_->controlDrawn(c, mode);
}

void PanelHost::fire(ControlModel& c) {
  if (c.event) c.event(c.asControl(), c.userData);
}

bool PanelHost::choose(ControlModel& c, int item) {
  if (!c.takesInput()) return false;
  c.value = item;
  fire(c);
  tell({UserAction::Choose, &c, nullptr, 0, item});
  return true;
}

bool PanelHost::press(ControlModel& c) {
  if (!c.takesInput()) return false;
  fire(c);
  tell({UserAction::Press, &c});
  return true;
}

bool PanelHost::setToggle(ControlModel& c, bool on) {
  if (!c.takesInput()) return false;
  c.value = on ? 1 : 0;
  fire(c);
  tell({UserAction::Toggle, &c, nullptr, 0, c.value});
  return true;
}

bool PanelHost::drag(ControlModel& c, int fromX, int fromY, int toX, int toY, int step) {
  if (!dragReport(c, fromX, fromY, false)) return false;
  // The points may lie anywhere in the int range: distances are taken wide.
  // A drag longer than kMaxDragMoves steps takes longer steps instead, so
  // that it ends after at most kMaxDragMoves moves.
  constexpr long long kMaxDragMoves = 256;
  const long long dx = static_cast<long long>(toX) - fromX;
  const long long dy = static_cast<long long>(toY) - fromY;
  const long long longest = std::max(std::llabs(dx), std::llabs(dy));
  long long s = std::max(step, 1);
  if (longest > s * kMaxDragMoves) s = (longest + kMaxDragMoves - 1) / kMaxDragMoves;
  long long x = fromX, y = fromY;
  while (x != toX || y != toY) {
    x += std::clamp(toX - x, -s, s);
    y += std::clamp(toY - y, -s, s);
    dragReport(c, static_cast<int>(x), static_cast<int>(y), true);
  }
  return true;
}

bool PanelHost::dragReport(ControlModel& c, int x, int y, bool moving) {
  if (!c.takesInput()) return false;
  c.vec = {x, y, moving ? 1 : 0};
  fire(c);
  tell({UserAction::DragReport, &c, nullptr, 0, 0, x, y, moving});
  return true;
}

void PanelHost::setFormValue(XPanelModel& xp, int id, int value) {
  xp.values[id] = value;
  if (xp.change) {
    ++counts_.changeEvents;
    xp.change(&xp, id, id, XPANEL_EVENT_VALUE);
  }
  tell({UserAction::FormValue, nullptr, &xp, id, value});
}

void PanelHost::move(PanelModel& panel, int x, int y) {
  panel.x = x;
  panel.y = y;
  tell({UserAction::Move, nullptr, nullptr, 0, 0, x, y});
}

void PanelHost::close(PanelModel& panel) {
  if (!panel.running) return;
  panel.running = false;
  tell({UserAction::Close});
}

}  // namespace oru_runner
