#include "runner/panel/panel_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hor_Slider.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace oru_runner {

bool displayNamed() {
  const char* name = std::getenv("DISPLAY");
  return name && *name;
}

// FLTK ends the whole program when it cannot open the display, so the
// display is opened here and handed to it. The one connection serves every
// question about the display too. A server that has just started may refuse
// connections for a moment: a refusal is tried again for a second before the
// display counts as failed.
std::optional<ScreenSize> openDisplay() {
  for (int attempt = 0; !fl_display && attempt < 10; ++attempt) {
    if (attempt > 0) usleep(100 * 1000);
    if (::Display* display = XOpenDisplay(nullptr)) fl_open_display(display);
  }
  if (!fl_display) return std::nullopt;
  return ScreenSize{DisplayWidth(fl_display, fl_screen), DisplayHeight(fl_display, fl_screen)};
}

namespace {

// The drag area: shows what the module copied onto the panel there, and
// reports presses (third value 0) and drags (1) in its own coordinates.
class CanvasWidget : public Fl_Widget {
 public:
  CanvasWidget(PanelHost& host, ControlModel& control)
      : Fl_Widget(control.x, control.y, control.width, control.height),
        host_(host),
        control_(control) {}

  void draw() override {
    const PanelModel& panel = *control_.panel;
    const int x0 = std::max(0, x()), y0 = std::max(0, y());
    const int x1 = std::min(panel.width, x() + w()), y1 = std::min(panel.height, y() + h());
    if (x1 <= x0 || y1 <= y0 || panel.pixels.empty()) return;
    fl_draw_image(&panel.pixels[(static_cast<std::size_t>(y0) * panel.width + x0) * 3], x0, y0,
                  x1 - x0, y1 - y0, 3, panel.width * 3);
  }

  int handle(int event) override {
    switch (event) {
      case FL_PUSH:
        host_.dragReport(control_, Fl::event_x() - x(), Fl::event_y() - y(), false);
        return 1;
      case FL_DRAG:
        host_.dragReport(control_, Fl::event_x() - x(), Fl::event_y() - y(), true);
        return 1;
      case FL_RELEASE:
        return 1;
      default:
        return Fl_Widget::handle(event);
    }
  }

 private:
  PanelHost& host_;
  ControlModel& control_;
};

void addItems(Fl_Choice* choice, const std::vector<std::string>& items) {
  for (const auto& item : items) choice->add(item.c_str());
}

}  // namespace

struct WindowBackend::Window {
  PanelHost* host = nullptr;
  PanelModel* panel = nullptr;
  XPanelModel* xpanel = nullptr;
  std::unique_ptr<Fl_Double_Window> window;
  std::map<const ControlModel*, Fl_Widget*> widgets;
  std::map<int, Fl_Widget*> formWidgets;  // by property-panel id
  CanvasWidget* canvas = nullptr;
  // What each control widget's callback acts on.
  struct Binding {
    Window* window;
    ControlModel* control;
  };
  std::vector<std::unique_ptr<Binding>> bindings;

  void* bind(ControlModel& control) {
    bindings.push_back(std::make_unique<Binding>(Binding{this, &control}));
    return bindings.back().get();
  }
  // Runs a user action, then shows what the module made of it.
  template <typename Action>
  static void act(void* data, Action action) {
    auto* t = static_cast<Binding*>(data);
    action(*t->window->host, *t->control);
    t->window->showValues();
  }

  void build();
  // The user closed the window: the panel keeps where it stood.
  void finish() {
    if (window->x() != panel->x || window->y() != panel->y) {
      host->move(*panel, window->x(), window->y());
    }
    host->close(*panel);
  }
  void buildXPanel(const ControlModel& holder);
  void showValues();
  void showState(const ControlModel& control, Fl_Widget* widget);
};

void WindowBackend::Window::build() {
  window = std::make_unique<Fl_Double_Window>(panel->x, panel->y, panel->width, panel->height,
                                              panel->title.c_str());
  window->callback(
      [](Fl_Widget* w, void* data) {
        static_cast<WindowBackend::Window*>(data)->finish();
        w->hide();
      },
      this);

  for (auto& owned : panel->controls) {
    ControlModel& c = *owned;
    Fl_Widget* widget = nullptr;
    const std::string& type = c.typeName;
    if (type == "XPanelControl") {
      buildXPanel(c);
      continue;
    } else if (type == "PopupControl") {
      auto* choice = new Fl_Choice(c.x, c.y, c.width, 20);
      addItems(choice, c.items);
      choice->callback(
          [](Fl_Widget* w, void* data) {
            act(data, [w](PanelHost& h, ControlModel& m) {
              h.choose(m, static_cast<Fl_Choice*>(w)->value());
            });
          },
          bind(c));
      widget = choice;
    } else if (type == "HSlideControl") {
      auto* slider = new Fl_Hor_Slider(c.x, c.y, c.width, 20);
      slider->bounds(c.minimum, c.maximum);
      slider->step(1);
      slider->align(FL_ALIGN_RIGHT);
      slider->callback(
          [](Fl_Widget* w, void* data) {
            act(data, [w](PanelHost& h, ControlModel& m) {
              // A slider reports every step of a drag; only new values count.
              const int v = static_cast<int>(static_cast<Fl_Slider*>(w)->value());
              if (m.value != v) h.choose(m, v);
            });
          },
          bind(c));
      widget = slider;
    } else if (type == "ButtonControl") {
      auto* button = new Fl_Button(c.x, c.y, c.width, 20, c.label.c_str());
      button->callback(
          [](Fl_Widget*, void* data) {
            act(data, [](PanelHost& h, ControlModel& m) { h.press(m); });
          },
          bind(c));
      widget = button;
    } else if (type == "BoolControl") {
      auto* check = new Fl_Check_Button(c.x, c.y, 70, 20, c.label.c_str());
      check->callback(
          [](Fl_Widget* w, void* data) {
            act(data, [w](PanelHost& h, ControlModel& m) {
              h.setToggle(m, static_cast<Fl_Check_Button*>(w)->value() != 0);
            });
          },
          bind(c));
      widget = check;
    } else if (type == "DragAreaControl") {
      canvas = new CanvasWidget(*host, c);
      widget = canvas;
    } else {
      widget = new Fl_Box(FL_BORDER_BOX, c.x, c.y, std::max(c.width, 20), std::max(c.height, 20),
                          c.label.c_str());
    }
    widgets[&c] = widget;
  }
  window->end();
  showValues();
}

void WindowBackend::Window::buildXPanel(const ControlModel& holder) {
  xpanel = static_cast<XPanelModel*>(holder.xpanel);
  if (!xpanel) return;
  int row = holder.y + 8;
  for (const auto& c : xpanel->controls) {
    const int id = c.id;
    new Fl_Box(FL_NO_BOX, holder.x + 10, row, 78, 20, c.label);
    auto* labelBox = static_cast<Fl_Box*>(window->child(window->children() - 1));
    labelBox->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);

    const std::string cls = c.controlClass ? c.controlClass : "";
    Fl_Widget* widget;
    if (cls == "iBoolean") {
      widget = new Fl_Check_Button(holder.x + 90, row, 20, 20);
    } else if (xpanel->choices.count(id)) {
      auto* choice = new Fl_Choice(holder.x + 90, row, 80, 20);
      addItems(choice, xpanel->choices.at(id));
      widget = choice;
    } else {
      auto* slider = new Fl_Value_Slider(holder.x + 90, row, 222, 20);
      slider->type(FL_HOR_NICE_SLIDER);
      auto range = xpanel->ranges.find(id);
      if (range != xpanel->ranges.end()) {
        slider->bounds(range->second.first, range->second.second);
      }
      slider->step(1);
      slider->textsize(12);
      widget = slider;
    }
    widget->callback(
        [](Fl_Widget* w, long formId) {
          auto* self = static_cast<WindowBackend::Window*>(w->window()->user_data());
          int v;
          if (auto* choice = dynamic_cast<Fl_Choice*>(w)) {
            v = choice->value();
          } else if (auto* valuator = dynamic_cast<Fl_Valuator*>(w)) {
            v = static_cast<int>(valuator->value());
          } else {
            v = static_cast<Fl_Button*>(w)->value();
          }
          const int id = static_cast<int>(formId);
          auto old = self->xpanel->values.find(id);
          if (old == self->xpanel->values.end() || old->second != v) {
            self->host->setFormValue(*self->xpanel, id, v);
          }
          self->showValues();
        },
        static_cast<long>(id));
    formWidgets[id] = widget;
    row += 22;
  }
}

void WindowBackend::Window::showState(const ControlModel& c, Fl_Widget* widget) {
  switch (c.state) {
    case ControlState::Hidden:
      widget->hide();
      break;
    case ControlState::Disabled:
      widget->show();
      widget->deactivate();
      break;
    default:
      widget->show();
      widget->activate();
      break;
  }
}

// Makes every widget show what the model holds: the module may have
// changed any value or state in a callback.
void WindowBackend::Window::showValues() {
  for (auto& [model, widget] : widgets) {
    const ControlModel& c = *model;
    showState(c, widget);
    if (auto* choice = dynamic_cast<Fl_Choice*>(widget)) {
      if (c.value >= 0 && c.value < choice->size() - 1) choice->value(c.value);
    } else if (auto* slider = dynamic_cast<Fl_Slider*>(widget)) {
      slider->value(c.value);
      slider->copy_label(std::to_string(c.value).c_str());
    } else if (auto* check = dynamic_cast<Fl_Check_Button*>(widget)) {
      check->value(c.value != 0);
    }
  }
  if (!xpanel) return;
  for (auto& [id, widget] : formWidgets) {
    auto found = xpanel->values.find(id);
    const int v = found == xpanel->values.end() ? 0 : found->second;
    if (auto* choice = dynamic_cast<Fl_Choice*>(widget)) {
      if (v >= 0 && v < choice->size() - 1) choice->value(v);
    } else if (auto* valuator = dynamic_cast<Fl_Valuator*>(widget)) {
      valuator->value(v);
    } else if (auto* check = dynamic_cast<Fl_Check_Button*>(widget)) {
      check->value(v != 0);
    }
  }
}

WindowBackend::WindowBackend() = default;
WindowBackend::~WindowBackend() = default;

void WindowBackend::run(PanelHost& host, PanelModel& panel) {
  // Without the display openDisplay() opens, FLTK would end the program.
  if (!fl_display) {
    host.close(panel);
    return;
  }
  window_ = std::make_unique<Window>();
  window_->host = &host;
  window_->panel = &panel;
  window_->build();
  window_->window->user_data(window_.get());
  window_->window->show();
  while (panel.running && window_->window->shown()) Fl::wait(0.2);
  window_->finish();
  window_->window->hide();
  Fl::flush();
  window_.reset();
}

void WindowBackend::controlDrawn(ControlModel& control, int /*mode*/) {
  if (!window_) return;
  auto found = window_->widgets.find(&control);
  if (found == window_->widgets.end()) return;
  window_->showState(control, found->second);
  found->second->redraw();
}

void WindowBackend::panelPainted(PanelModel& /*panel*/) {
  if (window_ && window_->canvas) window_->canvas->redraw();
}

}  // namespace oru_runner
