// The preview canvas and the callbacks of the dialog's controls.
#include "ui/ctrl.h"

#include <climits>

#include "filter/engine/engine.h"
#include "filter/engine/pixel_ops.h"
#include "filter/work_settings.h"
#include "ui/xctrl.h"

extern "C" {

ControlDesc desc = {};
ValueRecord ival = {VALUE_INT, {}};
ValueRecord ivecval = {VALUE_IVEC, {}};

const char* const pop_data[] = {"RGB", "Alpha", nullptr};

}  // extern "C"

namespace {

FilterInstance* asInstance(void* data) {
  return static_cast<FilterInstance*>(data);
}

int readValue(PanelControl* control, int code) {
  control->readControlAttr(control, code, &ival);
  return ival.word[0].value;
}

// The view moved by the pointer's way from `from` to `to`. A host may report
// points anywhere in the int range: the sum is taken wide and held to the
// int range (the next draw fits the view onto the frame anyway).
int movedView(int view, int from, int to) {
  const long long moved = static_cast<long long>(view) + from - to;
  return moved < INT_MIN ? INT_MIN : moved > INT_MAX ? INT_MAX : static_cast<int>(moved);
}

// Fits the window onto the frame along one axis: gives the number of frame
// pixels the window spans and moves *view so that the window stays inside.
int fitWindow(int frameSize, int visible, int* view) {
  int span;
  if (frameSize > visible) {
    span = visible;
    if (*view > frameSize - visible) *view = frameSize - visible;
  } else {
    span = frameSize;
    *view = 0;
  }
  if (*view < 0) *view = 0;
  return span;
}

// Copies the window out of the working planes and smooths it there with the
// current settings.
void recomputePreview(FilterInstance* inst, int columns, int rows) {
  for (int c = 0; c < 4; ++c) {
    const std::uint8_t* from = inst->planes[c] + inst->viewY * inst->width + inst->viewX;
    std::uint8_t* to = inst->previewPlanes[c];
    for (int j = 0; j < rows; ++j) {
      for (int k = 0; k < columns; ++k) to[j * kPreviewWidth + k] = from[j * inst->width + k];
    }
  }
  inst->pixelOps = previewRunOps();
  copyWorkSettings(inst);
  smooth(nullptr, inst, 0);
}

}  // namespace

extern "C" {

void draw_ORU_CNV_PREV(PanelControl* canvas, void* data, int mode) {
  FilterInstance* inst = asInstance(data);
  if (mode == DRAW_HIDE || !inst->processed || inst->processError || inst->createError) return;

  int areaX = readValue(canvas, CTL_AREA_X);
  int areaY = readValue(canvas, CTL_AREA_Y);
  int areaW = readValue(canvas, CTL_AREA_W);
  int areaH = readValue(canvas, CTL_AREA_H);
  canvas->readControlAttr(canvas, CTL_PANEL, &ival);
  void* panel = ival.word[0].pointer;

  const int zoom = inst->zoom;
  const int columns = fitWindow(inst->width, kPreviewWidth >> zoom, &inst->viewX);
  const int rows = fitWindow(inst->height, kPreviewHeight >> zoom, &inst->viewY);

  const std::uint8_t* plane[4];
  int stride;
  if (inst->refreshPreview) {
    recomputePreview(inst, columns, rows);
    for (int c = 0; c < 4; ++c) plane[c] = inst->previewPlanes[c];
    stride = kPreviewWidth;
  } else {
    for (int c = 0; c < 4; ++c)
      plane[c] = inst->planes[c] + inst->viewY * inst->width + inst->viewX;
    stride = inst->width;
  }

  RasterServicesTable* rs = inst->rasterFuncs;
  const int side = 1 << zoom;
  for (int j = 0; j < rows; ++j) {
    for (int i = 0; i < columns; ++i) {
      const int at = j * stride + i;
      if (inst->previewChannel == 0) {
        rs->fillBox(inst->raster, plane[0][at], plane[1][at], plane[2][at], i << zoom, j << zoom,
                    side, side);
      } else {
        const int a = plane[3][at];
        rs->fillBox(inst->raster, a, a, a, i << zoom, j << zoom, side, side);
      }
    }
  }
  rs->copyToPanel(inst->raster, 0, 0, panel, areaX, areaY, areaW, areaH);
}

void cb_ORU_POP_PREV(PanelControl* control, void* data) {
  FilterInstance* inst = asInstance(data);
  if (!inst->controlLive[CTRL_VIEW_POPUP]) return;
  inst->previewChannel = readValue(control, CTL_VALUE);
  inst->refreshPreview = inst->autoUpdate;
  redrawCanvas(inst);
}

void cb_ORU_SLI_ZOOM(PanelControl* control, void* data) {
  FilterInstance* inst = asInstance(data);
  if (!inst->controlLive[CTRL_ZOOM_SLIDER]) return;
  int zoom = readValue(control, CTL_VALUE);
  // The slider runs from 0 to 3; a host that reports anything else must not
  // make the window's shifts undefined.
  if (zoom < 0) zoom = 0;
  if (zoom > 3) zoom = 3;
  inst->zoom = zoom;
  inst->refreshPreview = inst->autoUpdate;
  redrawCanvas(inst);
}

void cb_ORU_BUT_REF(PanelControl* /*control*/, void* data) {
  FilterInstance* inst = asInstance(data);
  if (!inst->controlLive[CTRL_UPDATE_BUTTON]) return;
  inst->refreshPreview = 1;
  redrawCanvas(inst);
}

void cb_ORU_BOOL_AUTO(PanelControl* control, void* data) {
  FilterInstance* inst = asInstance(data);
  if (!inst->controlLive[CTRL_AUTO_TOGGLE]) return;
  inst->autoUpdate = static_cast<std::uint8_t>(readValue(control, CTL_VALUE));
}

void cb_ORU_CNV_PREV(PanelControl* control, void* data) {
  FilterInstance* inst = asInstance(data);
  control->readControlAttr(control, CTL_VALUE, &ivecval);
  const int x = ivecval.word[0].value;
  const int y = ivecval.word[1].value;
  if (ivecval.word[2].value != 0) {
    // The frame follows the pointer, one frame pixel per canvas pixel.
    inst->viewX = movedView(inst->viewX, inst->dragX, x);
    inst->viewY = movedView(inst->viewY, inst->dragY, y);
    inst->dragX = x;
    inst->dragY = y;
    inst->refreshPreview = 0;
    redrawCanvas(inst);
    return;
  }
  inst->dragX = x;
  inst->dragY = y;
}

void RedrawPanel(FilterInstance* instance) {
  for (int i = 0; i < kControlCount; ++i) {
    instance->controlLive[i] = 1;
    PanelControl* control = instance->controls[i];
    control->drawControl(control, DRAW_NORMAL);
  }
  SetXCtrl(instance);
  const struct {
    int index;
    int value;
  } values[] = {
      {CTRL_VIEW_POPUP, instance->previewChannel},
      {CTRL_ZOOM_SLIDER, instance->zoom},
      {CTRL_AUTO_TOGGLE, static_cast<std::int8_t>(instance->autoUpdate)},
  };
  for (const auto& v : values) {
    PanelControl* control = instance->controls[v.index];
    ival.word[0].value = v.value;
    control->writeControlAttr(control, CTL_VALUE, &ival);
  }
}

void RedrawCon(FilterInstance* instance, int index, int mode) {
  int drawMode;
  switch (mode) {
    case 0:
      instance->controlLive[index] = 0;
      drawMode = DRAW_HIDE;
      break;
    case 1:
      instance->controlLive[index] = 0;
      drawMode = DRAW_DISABLED;
      break;
    case 2:
      instance->controlLive[index] = 1;
      drawMode = DRAW_NORMAL;
      break;
    default:
      return;
  }
  PanelControl* control = instance->controls[index];
  control->drawControl(control, drawMode);
}

void RedrawConS(FilterInstance* instance, int first, int last, int mode) {
  for (int i = first; i <= last; ++i) RedrawCon(instance, i, mode);
}

}  // extern "C"
