// The options dialog's own routines (OruOptions itself is in filter/oru.h).
#pragma once

#include "filter/oru.h"

extern "C" {
// The panel's draw callback: the panel draws nothing of its own.
ORU_EXPORT void redraw(void* panel, void* userData, int mode);
}
