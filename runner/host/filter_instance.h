// One filter instance as the host holds it: an opaque pointer made and
// released through the module's instance callbacks.
#pragma once

#include <string>

#include "runner/host/loaded_module.h"
#include "runner/host/settings_block.h"

namespace oru_runner {

class FilterHandle {
 public:
  // Creates an instance through the handler's create callback. Throws
  // HostError when the module gives none.
  explicit FilterHandle(const LoadedModule& module);
  ~FilterHandle();
  FilterHandle(const FilterHandle&) = delete;
  FilterHandle& operator=(const FilterHandle&) = delete;

  FilterInstance* get() const { return instance_; }
  std::string describe() const;
  // Hands the module a settings block, as a host restoring a scene does.
  void load(const SettingsBlock& block);
  // The block that the module writes when the host saves a scene.
  SettingsBlock save() const;
  void process(const FilterAccess& access);
  // Runs the options dialog; gives the module's failure message, or empty.
  std::string options();

 private:
  const LoadedModule& module_;
  FilterInstance* instance_ = nullptr;
};

}  // namespace oru_runner
