// The settings in force for one smoothing run, copied from the instance's
// settings by each caller of smooth.
#pragma once

#include <climits>

#include "filter/oru.h"

// workMode = target + 1 (1 colour, 2 alpha, 3 both). For INT_MAX, whose
// + 1 overflows, it wraps to INT_MIN: the low bits are those of target + 1.
inline int workModeOf(int target) {
  return target == INT_MAX ? INT_MIN : target + 1;
}

inline void copyWorkSettings(FilterInstance* instance) {
  instance->workStrength = instance->strength;
  instance->workThreshold = instance->threshold;
  instance->workMode = workModeOf(instance->target);
}
