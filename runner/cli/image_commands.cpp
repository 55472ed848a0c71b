// What oru-images.so exports: its commands, for the oru program.
#include "runner/cli/image_commands.h"

extern "C" __attribute__((visibility("default"))) const oru_runner::ImageCommands*
oruImageCommands() {
  static const oru_runner::ImageCommands commands{oru_runner::runFilter, oru_runner::runDialog};
  return &commands;
}
