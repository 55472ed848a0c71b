// What the module made through the runner's panel services and has not
// freed yet: panels, rasters and property panels together.
#pragma once

#include "runner/panel/panel_host.h"

namespace oru_test {

inline long unfreedHostObjects(const oru_runner::PanelHost& host) {
  long held = 0;
  for (const auto& panel : host.panels()) held += !panel->freed;
  for (const auto& raster : host.rasters()) held += !raster->freed;
  for (const auto& xpanel : host.xpanels()) held += !xpanel->freed;
  return held;
}

}  // namespace oru_test
