// oru describe: the module as a host sees it.
#include <cstdio>
#include <memory>

#include "runner/cli/commands.h"
#include "runner/host/filter_instance.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"

namespace oru_runner {

namespace {

int describe(const std::string& modulePath) {
  LoadedModule module(modulePath);
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

}  // namespace

CommandRun addDescribeCommand(CLI::App& app) {
  CLI::App* command = app.add_subcommand("describe", "Show the module as a host sees it");
  auto modulePath = std::make_shared<std::string>();
  addModuleOption(*command, *modulePath);
  return [command, modulePath]() -> int {
    if (!command->parsed()) return -1;
    return describe(*modulePath);
  };
}

}  // namespace oru_runner
