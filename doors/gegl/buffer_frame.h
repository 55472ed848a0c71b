// A GEGL buffer as the host kit's frame: the format the module is handed a
// buffer in, and one whole-image pass from the input buffer to the output.
#pragma once

#include <gegl.h>

#include "runner/host/kit.h"

namespace oru_gegl {

// RGBA in the source's own encoding and space: linear, perceptual or with
// the space's curve, straight or premultiplied alpha, as the source has
// them; 8-bit where the source is 8-bit, float otherwise.
const Babl* workingFormat(const Babl* source);

// Reads box of input in format, runs filter over it, writes the results to
// the same box of output. input is only read.
void smoothBuffer(oru_kit::Filter& filter, GeglBuffer* input, GeglBuffer* output,
                  const GeglRectangle& box, const Babl* format);

}  // namespace oru_gegl
