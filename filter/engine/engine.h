// The edge smoothing engine's entry: one smoothing run over the whole frame
// (fullFrame nonzero) or over the preview window (fullFrame zero), through the
// routines and work settings the caller installed in the instance.
#pragma once

#include "filter/oru.h"

extern "C" {
// Always 0. access is only handed on to the kernels' write routines.
ORU_EXPORT int smooth(const FilterAccess* access, FilterInstance* instance, int fullFrame);
}
