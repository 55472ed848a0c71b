// The module's entry as the host sees it: the descriptor, the server table,
// the user-names table and the start-up and shut-down hooks.
#pragma once

#include "host/export.h"
#include "host/host_records.h"

extern "C" {
ORU_EXPORT extern const ModuleDescriptor _mod_descrip;
ORU_EXPORT extern const ServerRecord ServerDesc[3];
ORU_EXPORT extern const void* const UserNames[2];
ORU_EXPORT int Startup(void);
ORU_EXPORT void Shutdown(void);
}
