// The per-frame callback. (Placeholder until the engine lands: it writes the
// frame back unchanged.)
#include "filter/oru.h"

extern "C" void OruProcess(FilterInstance* /*instance*/, const FilterAccess* /*access*/) {}
