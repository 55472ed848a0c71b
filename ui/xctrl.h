// The property panel of the options dialog: Enable, Target, Threshold and
// Strength, edited in place in the instance.
#pragma once

#include <cstdint>

#include "filter/oru.h"
#include "host/panel_services.h"

// Control and value ids of the four settings.
enum XPanelId {
  XID_ENABLE = 0x8001,
  XID_TARGET = 0x8002,
  XID_THRESHOLD = 0x8003,
  XID_STRENGTH = 0x8004,
};

extern "C" {
ORU_EXPORT extern const XPanelControlRow c_list[];
ORU_EXPORT extern const XPanelDataRow d_descrip[];
ORU_EXPORT extern const char* const xpop_type[];
ORU_EXPORT extern const std::uintptr_t hint[];

// 1 when the property panel exists, 0 when making it failed.
ORU_EXPORT int CreateXPanel(FilterInstance* instance);
// Pushes the instance's four values into the property panel.
ORU_EXPORT void SetXCtrl(FilterInstance* instance);
// The change callback the host calls.
ORU_EXPORT void cb_ORUxpanel(void* xpanel, int controlId, int valueId, int event);
}
