// The commands that read and write image files (filter, dialog) live in a
// library of their own, oru-images.so, which brings in the image library and
// its few hundred shared libraries. The oru program loads it only when one
// of these commands runs, so that --help, --version and describe start at
// once.
#pragma once

#include "runner/cli/commands.h"

namespace oru_runner {

struct ImageCommands {
  int (*filter)(const FilterOptions& options);
  int (*dialog)(const DialogOptions& options);
};

// The name oru-images.so exports its commands under.
constexpr const char* kImageCommandsEntry = "oruImageCommands";
using ImageCommandsEntry = const ImageCommands* (*)();

// The commands of oru-images.so, loaded on the first call (beside the
// program, then where an install puts it, then where the build made it);
// throws HostError naming the library when it cannot be loaded.
const ImageCommands& imageCommands();

}  // namespace oru_runner
