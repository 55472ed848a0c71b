// The property panel: built from four static tables, filled from the
// instance, and written back into the instance at every change.
#include "ui/xctrl.h"

#include "ui/ctrl.h"

extern "C" {

const XPanelControlRow c_list[] = {
    {XID_ENABLE, "Enable", "iBoolean"},
    {XID_TARGET, "Target", "iPopChoice"},
    {XID_THRESHOLD, "Threshold", "integer"},
    {XID_STRENGTH, "Strength", "integer"},
    {0, nullptr, nullptr},
};

const XPanelDataRow d_descrip[] = {
    {XID_ENABLE, "Enable", "integer"},
    {XID_TARGET, "Target", "integer"},
    {XID_THRESHOLD, "Threshold", "integer"},
    {XID_STRENGTH, "Strength", "integer"},
    {0, nullptr, nullptr},
};

// Item index = target: 0 colour only, 1 alpha only, 2 both.
const char* const xpop_type[] = {"RGB", "Alpha", "RGBA", nullptr};

const std::uintptr_t hint[] = {
    XPHINT_CHOICE_ITEMS,
    XID_TARGET,
    reinterpret_cast<std::uintptr_t>(xpop_type),
    0,
    XPHINT_INT_RANGE,
    XID_STRENGTH,
    0,
    100,
    1,
    XPHINT_INT_RANGE,
    XID_THRESHOLD,
    0,
    255,
    1,
    XPHINT_ID_LIST,
    XID_STRENGTH,
    0,
    XPHINT_CHANGE_FUNC,
    reinterpret_cast<std::uintptr_t>(&cb_ORUxpanel),
    0,
};

int CreateXPanel(FilterInstance* instance) {
  instance->xpanelFuncs =
      static_cast<XPanelServicesTable*>(global_func ? global_func("LWXPanel", 0) : nullptr);
  // A host that offers panels but no property panels cannot show this dialog.
  if (!instance->xpanelFuncs) return 0;
  XPanelServicesTable* xp = instance->xpanelFuncs;
  instance->xpanel = xp->newXPanel(XPANEL_KIND_FORM, c_list);
  if (!instance->xpanel) return 0;
  xp->applyHints(instance->xpanel, 0, hint);
  xp->describeValues(instance->xpanel, d_descrip, nullptr, nullptr);
  xp->writeUserData(instance->xpanel, 0, instance);
  SetXCtrl(instance);
  return 1;
}

void SetXCtrl(FilterInstance* instance) {
  XPanelServicesTable* xp = instance->xpanelFuncs;
  int value = static_cast<std::int8_t>(instance->enable);
  xp->writeFormValue(instance->xpanel, XID_ENABLE, &value);
  value = instance->target;
  xp->writeFormValue(instance->xpanel, XID_TARGET, &value);
  value = instance->threshold;
  xp->writeFormValue(instance->xpanel, XID_THRESHOLD, &value);
  value = instance->strength;
  xp->writeFormValue(instance->xpanel, XID_STRENGTH, &value);
}

void cb_ORUxpanel(void* xpanel, int controlId, int /*valueId*/, int event) {
  XPanelServicesTable* xp =
      static_cast<XPanelServicesTable*>(global_func ? global_func("LWXPanel", 0) : nullptr);
  if (!xp) return;
  FilterInstance* instance = static_cast<FilterInstance*>(xp->readUserData(xpanel, 0));
  if (event != XPANEL_EVENT_VALUE || !instance) return;
  const int* value = static_cast<const int*>(xp->readFormValue(instance->xpanel, controlId));
  if (!value) return;

  switch (controlId) {
    case XID_ENABLE:
      instance->enable = static_cast<std::uint8_t>(*value);
      return;
    case XID_TARGET:
      instance->target = *value;
      return;
    case XID_THRESHOLD:
      instance->threshold = *value;
      break;
    case XID_STRENGTH:
      instance->strength = *value;
      break;
    default:
      return;
  }
  if (instance->autoUpdate == 1) {
    instance->refreshPreview = 1;
    redrawCanvas(instance);
  }
}

}  // extern "C"
