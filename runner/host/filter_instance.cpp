#include "runner/host/filter_instance.h"

#include "runner/host/host_error.h"

namespace oru_runner {

FilterHandle::FilterHandle(const LoadedModule& module) : module_(module) {
  if (!module.handlerActive()) throw HostError(module.path(), "handler server is not active");
  instance_ = module.instanceCallbacks().createFunc(nullptr);
  if (!instance_) throw HostError(module.path(), "module could not create a filter instance");
}

FilterHandle::~FilterHandle() {
  module_.instanceCallbacks().destroyFunc(instance_);
}

std::string FilterHandle::describe() const {
  DescribeFunc describe = module_.instanceCallbacks().describeFunc;
  const char* text = describe ? describe(instance_) : nullptr;
  return text ? text : "";
}

void FilterHandle::load(const SettingsBlock& block) {
  BlockReader reader(block);
  module_.instanceCallbacks().loadFunc(instance_, reader.state());
}

SettingsBlock FilterHandle::save() const {
  BlockWriter writer;
  module_.instanceCallbacks().saveFunc(instance_, writer.state());
  return writer.block();
}

void FilterHandle::process(const FilterAccess& access) {
  module_.handler().processFunc(instance_, &access);
}

std::string FilterHandle::options() {
  if (!module_.interfaceActive() || !module_.interfaceRecord().optionsFunc) {
    throw HostError(module_.path(), "interface server is not active");
  }
  const char* message = module_.interfaceRecord().optionsFunc(instance_);
  return message ? message : "";
}

}  // namespace oru_runner
