// The preview canvas of the options dialog and the callbacks of its
// controls, plus the module-wide records through which controls are
// described and their values pass.
#pragma once

#include "filter/oru.h"
#include "host/panel_services.h"

extern "C" {
ORU_EXPORT extern ControlDesc desc;
ORU_EXPORT extern ValueRecord ival;
ORU_EXPORT extern ValueRecord ivecval;
// Items of the view popup: previewChannel 0 colour, 1 alpha.
ORU_EXPORT extern const char* const pop_data[];

// The canvas's draw callback: paints the preview window into the raster
// and copies it onto the canvas.
ORU_EXPORT void draw_ORU_CNV_PREV(PanelControl* canvas, void* instance, int mode);
ORU_EXPORT void cb_ORU_POP_PREV(PanelControl* control, void* instance);
ORU_EXPORT void cb_ORU_SLI_ZOOM(PanelControl* control, void* instance);
ORU_EXPORT void cb_ORU_BUT_REF(PanelControl* control, void* instance);
ORU_EXPORT void cb_ORU_BOOL_AUTO(PanelControl* control, void* instance);
ORU_EXPORT void cb_ORU_CNV_PREV(PanelControl* control, void* instance);

// Draws every control and pushes the instance's values into them.
ORU_EXPORT void RedrawPanel(FilterInstance* instance);
// Sets one control's state: mode 0 hidden, 1 disabled, 2 live; other modes
// do nothing. The index is not checked.
ORU_EXPORT void RedrawCon(FilterInstance* instance, int index, int mode);
// RedrawCon for each control from first to last inclusive, in rising order.
ORU_EXPORT void RedrawConS(FilterInstance* instance, int first, int last, int mode);
}

// Asks the host to redraw the preview canvas, when the dialog has one: the
// property panel may report values while the dialog is still being built.
inline void redrawCanvas(FilterInstance* instance) {
  PanelControl* canvas = instance->controls[CTRL_CANVAS];
  if (canvas) canvas->drawControl(canvas, DRAW_REFRESH);
}
