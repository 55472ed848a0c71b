// One frame through a filter instance, as a host hands it over, with the
// check a host owes its user: that the filter stored the whole output frame.
#pragma once

#include <string>

#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"

namespace oru_runner {

// Runs the instance's process callback on frame. Throws HostError naming
// file when the module did not store every pixel of the output (it could not
// get its buffers, and says so to nobody): a frame is never written with
// pixels the filter did not produce.
void filterFrame(FilterHandle& filter, const std::string& file, HostFrame& frame);

}  // namespace oru_runner
