#include "runner/host/loaded_module.h"

#include <cstdio>
#include <cstring>

#include "runner/host/host_error.h"

namespace oru_runner {

namespace {

std::string hex(std::uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path) : library_(path) {
  descriptor_ = static_cast<const ModuleDescriptor*>(library_.symbol("_mod_descrip"));
  if (!descriptor_) throw HostError(path, "not an Oru host module (no _mod_descrip export)");
  if (descriptor_->magic != kModuleMagic) {
    throw HostError(path, "module descriptor has magic " + hex(descriptor_->magic) + ", expected " +
                              hex(kModuleMagic));
  }
  if (descriptor_->layoutVersion != kModuleLayoutVersion) {
    throw HostError(path, "module descriptor has layout version " +
                              std::to_string(descriptor_->layoutVersion) + ", expected " +
                              std::to_string(kModuleLayoutVersion));
  }
  if (!descriptor_->serverTable) throw HostError(path, "module descriptor has no server table");
  if (descriptor_->startupHook) startupResult_ = descriptor_->startupHook();
}

LoadedModule::~LoadedModule() {
  if (descriptor_->shutdownHook) descriptor_->shutdownHook();
}

const ServerRecord* LoadedModule::findServer(const char* className) const {
  for (const ServerRecord* row = descriptor_->serverTable; row->className; ++row) {
    if (std::strcmp(row->className, className) == 0) return row;
  }
  return nullptr;
}

void LoadedModule::activate(const char* className, GlobalFunc lookup, void* record) {
  const ServerRecord* server = findServer(className);
  if (!server || !server->activateFunc) {
    throw HostError(path(), std::string("module offers no \"") + className + "\" server");
  }
  int result = server->activateFunc(kHostApiVersion, lookup, record);
  if (result != 0) {
    throw HostError(path(), std::string("\"") + className + "\" server refused activation (" +
                                std::to_string(result) + ")");
  }
}

void LoadedModule::activateHandler(GlobalFunc lookup) {
  InstanceCallbacks callbacks{};
  ItemCallbacks items{};
  HandlerRecord record{};
  record.instanceCallbacks = &callbacks;
  record.itemCallbacks = &items;
  activate("ImageFilterHandler", lookup, &record);
  if (!callbacks.createFunc || !callbacks.destroyFunc || !record.processFunc) {
    throw HostError(path(), "\"ImageFilterHandler\" activation left its callbacks empty");
  }
  instanceCallbacks_ = callbacks;
  itemCallbacks_ = items;
  handler_ = record;
  handler_.instanceCallbacks = &instanceCallbacks_;
  handler_.itemCallbacks = &itemCallbacks_;
  handlerActive_ = true;
}

void LoadedModule::activateInterface(GlobalFunc lookup) {
  InterfaceRecord record{};
  activate("ImageFilterInterface", lookup, &record);
  interface_ = record;
  interfaceActive_ = true;
}

}  // namespace oru_runner
