// A picture of a panel as a person would see it: what the module painted
// onto it, with simple drawings of the other controls and their values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runner/panel/panel_host.h"

namespace oru_runner {

// width x height x 3 bytes (RGB), row after row.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

Picture renderPanelPicture(const PanelModel& panel);

// Writes the picture as a PNG file, atomically; throws HostError naming path.
void savePicturePng(const Picture& picture, const std::string& path);

}  // namespace oru_runner
