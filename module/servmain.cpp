// The module descriptor and the server table: the only things the host looks
// up by name when it loads the module.
#include "filter/oru.h"
#include "module/module.h"

extern "C" {

const ServerRecord ServerDesc[3] = {
    {"ImageFilterHandler", oruName, OruHandler, nullptr},
    {"ImageFilterInterface", oruName, OruInterface, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

const ModuleDescriptor _mod_descrip = {
    kModuleMagic, kModuleLayoutVersion, kModuleMachineCode, Startup, Shutdown, ServerDesc,
};

}  // extern "C"
