// Deterministic frames that look like rendered output: gradients, hard-edged
// (aliased) shapes, thin lines and blocks of text-like glyphs, with an alpha
// matte that covers the objects. The same size always gives the same frame.
#pragma once

#include "runner/frame_access.h"

namespace oru_bench {

void paintRenderedFrame(oru_runner::HostFrame& frame);

}  // namespace oru_bench
