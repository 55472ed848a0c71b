// Finding and loading oru-images.so for the oru program.
#include <dlfcn.h>

#include <string>

#include "runner/cli/image_commands.h"
#include "runner/host/host_error.h"

namespace oru_runner {

// The library the build made, for a program run from the build folder.
#ifndef ORU_BUILD_IMAGES_PATH
#define ORU_BUILD_IMAGES_PATH nullptr
#endif

namespace {

const ImageCommands& load() {
  const std::string path = partPath("oru-images.so", ORU_BUILD_IMAGES_PATH);
  // Never closed: the image library's threads and handlers live as long as
  // the process.
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
  if (!handle) {
    // dlerror names the file itself first.
    const char* error = dlerror();
    std::string why = error ? error : "?";
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    throw HostError(path, "cannot load the image commands: " + why);
  }
  auto entry = reinterpret_cast<ImageCommandsEntry>(dlsym(handle, kImageCommandsEntry));
  const ImageCommands* commands = entry ? entry() : nullptr;
  if (!commands) {
    throw HostError(path, std::string("not oru's image commands (no ") + kImageCommandsEntry + ")");
  }
  return *commands;
}

}  // namespace

const ImageCommands& imageCommands() {
  static const ImageCommands& commands = load();
  return commands;
}

}  // namespace oru_runner
