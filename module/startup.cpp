#include "module/module.h"

// Called by the host once after loading the module; the value is the host's
// to interpret.
extern "C" int Startup(void) { return 4; }
