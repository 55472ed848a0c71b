#include "module/module.h"

// Called by the host once before unloading the module. There is nothing to
// release: instances own their buffers and are destroyed by the host.
extern "C" void Shutdown(void) {}
