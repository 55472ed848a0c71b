#include "module/module.h"

// An empty list of user names: two zero words. Nothing in the module reads it.
extern "C" const void* const UserNames[2] = {nullptr, nullptr};
