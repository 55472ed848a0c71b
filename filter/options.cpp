// The options dialog. (Placeholder until the dialog lands.)
#include "filter/oru.h"

extern "C" const char* OruOptions(FilterInstance* /*instance*/) { return nullptr; }
