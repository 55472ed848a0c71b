// oru describe: the module as a host sees it.
#include <cstdio>

#include "runner/cli/commands.h"
#include "runner/host/filter_instance.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"

namespace oru_runner {

int runDescribe(const DescribeOptions& o) {
  LoadedModule module(o.modulePath);
  const ModuleDescriptor& d = module.descriptor();
  std::printf("module      %s\n", module.path().c_str());
  std::printf("descriptor  magic 0x%08llx, layout version %llu, machine 0x%llx\n",
              static_cast<unsigned long long>(d.magic),
              static_cast<unsigned long long>(d.layoutVersion),
              static_cast<unsigned long long>(d.machineCode));
  std::printf("startup     returned %d\n", module.startupResult());
  for (const ServerRecord* row = d.serverTable; row->className; ++row) {
    std::printf("server      %-22s \"%s\"\n", row->className,
                row->serverName ? row->serverName : "");
  }

  module.activateHandler(hostLookup);
  module.activateInterface(hostLookup);
  FilterHandle instance(module);
  std::printf("instance    \"%s\"\n", instance.describe().c_str());
  std::printf("settings    \"%s\" (target strength threshold)\n",
              settingsText(instance.save()).c_str());
  return 0;
}

}  // namespace oru_runner
