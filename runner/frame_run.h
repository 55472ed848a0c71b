// One frame through a filter instance, as a host hands it over: the four
// input planes behind fetchLine, the four output planes behind storeColour
// and storeAlpha.
#pragma once

#include <string>
#include <vector>

#include "runner/filter_instance.h"

namespace oru_runner {

// Runs the instance's process callback on a width x height frame with the
// input planes R, G, B, A and gives the output planes. Throws HostError
// naming file when the module did not store every pixel of the output (it
// could not get its buffers): a frame is never written half-filtered.
void filterFrame(FilterHandle& filter, const std::string& file, int width, int height,
                 const std::vector<float> (&input)[4], std::vector<float> (&output)[4]);

}  // namespace oru_runner
