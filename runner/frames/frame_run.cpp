#include "runner/frames/frame_run.h"

#include "runner/host/host_error.h"

namespace oru_runner {

void filterFrame(FilterHandle& filter, const std::string& file, HostFrame& frame) {
  long before[2] = {frame.colourStores(), frame.alphaStores()};
  frame.run([&](const FilterAccess& access) { filter.process(access); });
  long pixels = static_cast<long>(frame.width()) * frame.height();
  long colour = frame.colourStores() - before[0];
  long alpha = frame.alphaStores() - before[1];
  if (colour < pixels || alpha < pixels) {
    throw HostError(file, "the module did not store the whole frame (" + std::to_string(colour) +
                              " colour and " + std::to_string(alpha) + " alpha stores for " +
                              std::to_string(pixels) + " pixels); it may be out of memory");
  }
}

}  // namespace oru_runner
