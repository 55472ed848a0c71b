// The options dialog: a panel titled "Oru 1.10b" holding the property panel,
// the preview controls and the preview canvas, run modally by the host.
#include "ui/options.h"

#include "ui/ctrl.h"
#include "ui/xctrl.h"

namespace {

const char kPanelsMissing[] = "Could not access Panels global!";
const char kPanelFailed[] = "Could not create requester panel!";

constexpr int kPanelWidth = 324;
constexpr int kPanelHeight = 370;

struct ControlLayout {
  const char* typeName;
  const char* label;
  int x, y;
  ControlEventFunc event;
};

// In the order of FilterInstance::controls.
const ControlLayout kLayout[kControlCount] = {
    {"XPanelControl", "", 0, 0, nullptr},
    {"PopupControl", "", 4, 102, cb_ORU_POP_PREV},
    {"HSlideControl", "", 80, 102, cb_ORU_SLI_ZOOM},
    {"ButtonControl", "update", 160, 102, cb_ORU_BUT_REF},
    {"BoolControl", "Auto", 220, 102, cb_ORU_BOOL_AUTO},
    {"DragAreaControl", "", 4, 128, cb_ORU_CNV_PREV},
};

// Writes the words of `desc` that control index uses; the others keep what
// they held.
void describeControl(FilterInstance* inst, int index) {
  switch (index) {
    case CTRL_XPANEL:
      desc.type = DESC_XPANEL;
      desc.word[2].pointer = inst->xpanel;
      break;
    case CTRL_VIEW_POPUP:
      desc.type = DESC_CHOICE;
      desc.word[0].items = pop_data;
      desc.word[1].value = 64;
      break;
    case CTRL_ZOOM_SLIDER:
      desc.type = DESC_RANGE;
      desc.word[0].value = 56;
      desc.word[1].value = 0;
      desc.word[2].value = 3;
      break;
    case CTRL_UPDATE_BUTTON:
      desc.type = DESC_AREA;
      desc.word[0].value = 48;
      desc.word[1].value = 0;
      break;
    case CTRL_AUTO_TOGGLE:
      desc.type = DESC_TOGGLE;
      break;
    case CTRL_CANVAS:
      desc.type = DESC_AREA;
      desc.word[0].value = kPreviewWidth;
      desc.word[1].value = kPreviewHeight;
      break;
  }
}

void writeInt(PanelControl* control, int code, int value) {
  ival.word[0].value = value;
  control->writeControlAttr(control, code, &ival);
}

// The dialog's handles are only valid while it is open.
void forgetDialog(FilterInstance* inst) {
  inst->panel = nullptr;
  inst->xpanel = nullptr;
  inst->raster = nullptr;
  for (int i = 0; i < kControlCount; ++i) {
    inst->controls[i] = nullptr;
    inst->controlLive[i] = 0;
  }
}

}  // namespace

extern "C" {

void redraw(void* /*panel*/, void* /*userData*/, int /*mode*/) {}

const char* OruOptions(FilterInstance* inst) {
  PanelServicesTable* ps =
      static_cast<PanelServicesTable*>(global_func ? global_func("LWPanelServices", 0) : nullptr);
  if (!ps) return kPanelsMissing;
  // Handles left from an earlier opening (or copied from another instance)
  // must not be reached while this one is built.
  forgetDialog(inst);

  void* panel = ps->newPanel("Oru 1.10b", ps);
  if (!panel) return kPanelFailed;

  // Building stops at the first step that fails, and gives back what the
  // steps before it made.
  inst->rasterFuncs = static_cast<RasterServicesTable*>(global_func("RasterServices", 0));
  inst->raster =
      inst->rasterFuncs ? inst->rasterFuncs->newRaster(kPreviewWidth, kPreviewHeight, 0) : nullptr;
  if (!inst->raster) {
    ps->freePanel(panel);
    forgetDialog(inst);
    return kPanelFailed;
  }
  if (!CreateXPanel(inst)) {
    inst->rasterFuncs->freeRaster(inst->raster);
    ps->freePanel(panel);
    forgetDialog(inst);
    return kPanelFailed;
  }

  PanelControl* made[kControlCount];
  for (int i = 0; i < kControlCount; ++i) {
    describeControl(inst, i);
    made[i] = ps->newControl(panel, kLayout[i].typeName, &desc, kLayout[i].label);
  }
  for (int i = 0; i < kControlCount; ++i) {
    writeInt(made[i], CTL_X, kLayout[i].x);
    writeInt(made[i], CTL_Y, kLayout[i].y);
  }

  inst->panelFuncs = ps;
  inst->panel = panel;
  for (int i = 0; i < kControlCount; ++i) {
    inst->controls[i] = made[i];
    inst->controlLive[i] = 0;
  }

  for (int i = CTRL_VIEW_POPUP; i <= CTRL_CANVAS; ++i) {
    made[i]->writeControlAttr(made[i], CTL_USER_DATA, inst);
    made[i]->writeControlAttr(made[i], CTL_EVENT_FUNC, reinterpret_cast<void*>(kLayout[i].event));
  }
  ps->writePanelAttr(panel, PAN_DRAW_FUNC, reinterpret_cast<void*>(&redraw));
  ps->writePanelAttr(panel, PAN_USER_DATA, inst);

  PanelControl* canvas = made[CTRL_CANVAS];
  canvas->writeControlAttr(canvas, CTL_DRAW_FUNC, reinterpret_cast<void*>(&draw_ORU_CNV_PREV));
  canvas->writeControlAttr(canvas, CTL_USER_DATA, inst);

  int size = kPanelWidth;
  ps->writePanelAttr(panel, PAN_W, &size);
  size = kPanelHeight;
  ps->writePanelAttr(panel, PAN_H, &size);

  inst->viewX = inst->viewY = 0;
  inst->dragX = inst->dragY = 0;
  inst->refreshPreview = inst->autoUpdate;

  int x = inst->panelX;
  int y = inst->panelY;
  if (x == -1 || y == -1) {
    const int* screen = ps->displayTable->screenMetrics();
    x = (screen[0] - kPanelWidth) / 2;
    y = (screen[1] - kPanelHeight) / 2;
  }
  ps->writePanelAttr(panel, PAN_X, &x);
  ps->writePanelAttr(panel, PAN_Y, &y);

  RedrawPanel(inst);
  ps->runPanel(panel, 1);

  ps->readPanelAttr(panel, PAN_X, &ival.word[0].value);
  inst->panelX = ival.word[0].value;
  ps->readPanelAttr(panel, PAN_Y, &ival.word[0].value);
  inst->panelY = ival.word[0].value;

  inst->xpanelFuncs->freeXPanel(inst->xpanel);
  ps->freePanel(panel);
  inst->rasterFuncs->freeRaster(inst->raster);
  forgetDialog(inst);
  return nullptr;
}

}  // extern "C"
