// The runner's global lookup function: the services it offers to the module
// by name. A name that is not offered answers null, as for a host without a
// user interface.
#pragma once

#include <string>

namespace oru_runner {

// The lookup the runner hands to every activation.
void* hostLookup(const char* serviceName, int useMode);

// Offers table under name (null withdraws it).
void offerService(const std::string& name, void* table);
// Withdraws every service.
void withdrawAllServices();

}  // namespace oru_runner
