// A module file loaded the way the host loads it: the library, its
// descriptor, Startup on load and Shutdown before unload, and the callback
// tables that activating its servers filled.
#pragma once

#include <memory>
#include <string>

#include "host/host_records.h"
#include "runner/host/shared_library.h"

namespace oru_runner {

class LoadedModule {
 public:
  // Opens the module at path, checks its descriptor and calls Startup.
  // Throws HostError naming the file for every problem.
  explicit LoadedModule(const std::string& path);
  // Calls Shutdown, then closes the library.
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  const std::string& path() const { return library_.path(); }
  const SharedLibrary& library() const { return library_; }
  const ModuleDescriptor& descriptor() const { return *descriptor_; }
  int startupResult() const { return startupResult_; }

  // The server row of the given class, or null.
  const ServerRecord* findServer(const char* className) const;

  // Activates "ImageFilterHandler" with version 4 and lookup, and keeps the
  // tables it filled. Throws HostError when the server is missing or refuses.
  void activateHandler(GlobalFunc lookup);
  // The same for "ImageFilterInterface".
  void activateInterface(GlobalFunc lookup);

  bool handlerActive() const { return handlerActive_; }
  bool interfaceActive() const { return interfaceActive_; }
  const HandlerRecord& handler() const { return handler_; }
  const InstanceCallbacks& instanceCallbacks() const { return instanceCallbacks_; }
  const ItemCallbacks& itemCallbacks() const { return itemCallbacks_; }
  const InterfaceRecord& interfaceRecord() const { return interface_; }

 private:
  void activate(const char* className, GlobalFunc lookup, void* record);

  SharedLibrary library_;
  const ModuleDescriptor* descriptor_ = nullptr;
  int startupResult_ = 0;
  InstanceCallbacks instanceCallbacks_{};
  ItemCallbacks itemCallbacks_{};
  HandlerRecord handler_{};
  InterfaceRecord interface_{};
  bool handlerActive_ = false;
  bool interfaceActive_ = false;
};

}  // namespace oru_runner
