// Any sequence of user actions on the options dialog, played through the
// runner's headless panel host: popup items, zoom values and drag points of
// any size (far outside the canvas), property-panel values out of range,
// redraws, and several openings of the dialog on one instance. Every host
// object the dialog makes must be freed when it closes, and the dialog holds
// no heap memory of its own.
//
// Input: the frame's width and height (0 = no frame yet), then actions, one
// byte each, with their numbers (see Input::number). An input that starts
// with '#' is the text of a script for the runner's script player instead:
// it must parse or be refused with a HostError, and then play.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filter/heap.h"
#include "filter/oru.h"
#include "runner/host/host_error.h"
#include "runner/host/host_services.h"
#include "runner/panel/panel_host.h"
#include "runner/panel/panel_script.h"
#include "tests/frame_host.h"
#include "tests/host_objects.h"

namespace {

using oru_runner::ControlModel;
using oru_runner::HeadlessBackend;
using oru_runner::PanelHost;
using oru_runner::PanelModel;

void check(bool ok) {
  if (!ok) std::abort();
}

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Mostly small numbers around the canvas and the controls' ranges, now
  // and then any int.
  int number() {
    std::uint8_t kind = byte();
    if (kind & 1) {
      std::uint32_t v = 0;
      for (int i = 0; i < 4; ++i) v = v << 8 | byte();
      int n;
      std::memcpy(&n, &v, sizeof n);
      return n;
    }
    return static_cast<int>(static_cast<std::int8_t>(byte())) * (kind >> 1 & 7 ? 3 : 1);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A threshold above 255 makes every preview recompute cost seconds (the
// scan's worst case, timed in the benchmarks): kept to 255 here, while the
// frame fuzzer takes thresholds of any size.
int cappedThreshold(int value) {
  return value > 224 ? 224 + value % 32 : value;
}

// Plays actions from the input on the running panel until a close action
// or the end of the input.
void play(Input& in, PanelHost& host, PanelModel& panel) {
  ControlModel& popup = *panel.controls.at(CTRL_VIEW_POPUP);
  ControlModel& zoom = *panel.controls.at(CTRL_ZOOM_SLIDER);
  ControlModel& update = *panel.controls.at(CTRL_UPDATE_BUTTON);
  ControlModel& autoToggle = *panel.controls.at(CTRL_AUTO_TOGGLE);
  ControlModel& canvas = *panel.controls.at(CTRL_CANVAS);
  oru_runner::XPanelModel* xpanel = host.xpanelOf(panel);
  while (!in.done()) {
    switch (in.byte() % 10) {
      case 0:
        host.choose(popup, in.number());
        break;
      case 1:
        host.choose(zoom, in.number());
        break;
      case 2:
        host.press(update);
        break;
      case 3:
        host.setToggle(autoToggle, in.byte() & 1);
        break;
      case 4: {
        int x = in.number(), y = in.number();
        host.dragReport(canvas, x, y, in.byte() & 1);
        break;
      }
      case 5: {
        int x1 = in.number(), y1 = in.number(), x2 = in.number(), y2 = in.number();
        // Long drags move in steps: keep them to a few hundred reports.
        host.drag(canvas, x1 % 600, y1 % 600, x2 % 600, y2 % 600, 64);
        break;
      }
      case 6: {
        int id = 0x8001 + in.byte() % 4;
        int value = in.number();
        if (id == 0x8003) value = cappedThreshold(value);
        if (xpanel) host.setFormValue(*xpanel, id, value);
        break;
      }
      case 7: {
        int x = in.number(), y = in.number();
        host.move(panel, x, y);
        break;
      }
      case 8:
        host.drawControl(canvas, in.byte() % 4);
        break;
      default:
        return;  // close
    }
  }
}

// The last frame, as a frame run leaves it; the conversion alone is enough
// here.
void giveFrame(FilterInstance* inst, int width, int height) {
  oru_test::FrameHost frame(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c)
        frame.in(c, x, y) = static_cast<float>(((x / 3 + y / 2 + c) % 4) / 3.0);
  inst->enable = 0;
  frame.process(inst);
  inst->enable = 1;
}

void playScriptText(const std::uint8_t* data, std::size_t size) {
  oru_runner::Script script;
  try {
    script =
        oru_runner::parseScript(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
  } catch (const oru_runner::HostError&) {
    return;
  }
  for (oru_runner::ScriptAction& action : script.actions) {
    if (action.kind == oru_runner::ScriptAction::Threshold) {
      action.numbers[0] = cappedThreshold(action.numbers[0]);
    }
  }
  HeadlessBackend backend;
  PanelHost host(&backend);
  global_func = oru_runner::hostLookup;
  FilterInstance* inst = OruCreate(nullptr);
  check(inst != nullptr);
  giveFrame(inst, 133, 100);
  backend.setPlayer(
      [&](PanelHost& h, PanelModel& panel) { oru_runner::playScript(h, panel, script); });
  check(OruOptions(inst) == nullptr);
  check(oru_test::unfreedHostObjects(host) == 0);
  OruDestroy(inst);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0 && data[0] == '#') {
    playScriptText(data + 1, size - 1);
    return 0;
  }
  Input in(data, size);
  const int width = in.byte() * 3 % 401, height = in.byte() * 3 % 301;

  HeadlessBackend backend;
  PanelHost host(&backend);
  global_func = oru_runner::hostLookup;
  FilterInstance* inst = OruCreate(nullptr);
  check(inst != nullptr);
  if (width > 0 && height > 0) giveFrame(inst, width, height);

  const long held = heapHooks.live;
  backend.setPlayer([&](PanelHost& h, PanelModel& panel) { play(in, h, panel); });
  for (int opening = 0; opening < 3 && (opening == 0 || !in.done()); ++opening) {
    check(OruOptions(inst) == nullptr);
    check(oru_test::unfreedHostObjects(host) == 0);
    check(heapHooks.live == held);
    check(inst->zoom >= 0 && inst->zoom <= 3);
  }
  OruDestroy(inst);
  return 0;
}
