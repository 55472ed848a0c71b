// The three saved settings as the runner reads and writes them: the values in
// a settings block, the ranges the options dialog allows, and the names the
// command line uses for the target.
#pragma once

#include <optional>
#include <string>

#include "runner/host/settings_block.h"

namespace oru_runner {

struct FilterSettings {
  int target = 2;  // 0 RGB, 1 Alpha, 2 RGBA
  int strength = 100;
  int threshold = 224;
};

// The three numbers of a block ("target strength threshold"), or nothing
// when its text does not begin with three integers.
std::optional<FilterSettings> settingsFromBlock(const SettingsBlock& block);

// The block the module reads these settings from.
SettingsBlock blockFromSettings(const FilterSettings& settings);

// What is out of the dialog's ranges (target rgb, alpha or rgba; threshold
// 0 to 255; strength 0 to 100), in words; empty when all is in range.
std::string settingsProblem(const FilterSettings& settings);

// "rgb", "alpha", "rgba" (any case) to 0, 1, 2; -1 for anything else.
int targetFromName(const std::string& name);
// 0, 1, 2 to "rgb", "alpha", "rgba"; the number as text for anything else.
std::string targetName(int target);

}  // namespace oru_runner
