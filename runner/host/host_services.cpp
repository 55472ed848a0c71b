#include "runner/host/host_services.h"

#include <map>

namespace oru_runner {

namespace {

std::map<std::string, void*>& services() {
  static std::map<std::string, void*> table;
  return table;
}

}  // namespace

void* hostLookup(const char* serviceName, int /*useMode*/) {
  if (!serviceName) return nullptr;
  auto found = services().find(serviceName);
  return found == services().end() ? nullptr : found->second;
}

void offerService(const std::string& name, void* table) {
  if (table) {
    services()[name] = table;
  } else {
    services().erase(name);
  }
}

void withdrawAllServices() {
  services().clear();
}

}  // namespace oru_runner
