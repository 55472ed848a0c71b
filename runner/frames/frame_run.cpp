#include "runner/frames/frame_run.h"

#include "runner/host/host_error.h"

namespace oru_runner {

void filterFrame(FilterHandle& filter, const std::string& file, HostFrame& frame) {
  long before[2] = {frame.colourStores(), frame.alphaStores()};
  frame.run([&](const FilterAccess& access) { filter.process(access); });
  const std::string problem =
      unstoredPixels(frame.colourStores() - before[0], frame.alphaStores() - before[1],
                     static_cast<long>(frame.width()) * frame.height());
  if (!problem.empty()) throw HostError(file, problem);
}

}  // namespace oru_runner
