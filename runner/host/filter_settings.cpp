#include "runner/host/filter_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace oru_runner {

namespace {
const char* const kTargetNames[] = {"rgb", "alpha", "rgba"};
}

std::optional<FilterSettings> settingsFromBlock(const SettingsBlock& block) {
  std::string text = settingsText(block);
  // strtol, not sscanf: a number too large for an int is refused, not undefined.
  int values[3];
  const char* at = text.c_str();
  for (int& value : values) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(at, &end, 10);
    if (end == at || errno == ERANGE || v < INT_MIN || v > INT_MAX) return std::nullopt;
    value = static_cast<int>(v);
    at = end;
  }
  return FilterSettings{values[0], values[1], values[2]};
}

SettingsBlock blockFromSettings(const FilterSettings& s) {
  char text[64];
  std::snprintf(text, sizeof text, "%d %d %d", s.target, s.strength, s.threshold);
  return settingsBlockFromText(text);
}

std::string settingsProblem(const FilterSettings& s) {
  std::string problem;
  auto add = [&](const std::string& what) { problem += (problem.empty() ? "" : "; ") + what; };
  if (s.target < 0 || s.target > 2) {
    add("target " + std::to_string(s.target) + " is not 0 (rgb), 1 (alpha) or 2 (rgba)");
  }
  if (s.threshold < 0 || s.threshold > 255) {
    add("threshold " + std::to_string(s.threshold) + " is outside 0 to 255");
  }
  if (s.strength < 0 || s.strength > 100) {
    add("strength " + std::to_string(s.strength) + " is outside 0 to 100");
  }
  return problem;
}

int targetFromName(const std::string& name) {
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (int t = 0; t < 3; ++t) {
    if (lower == kTargetNames[t]) return t;
  }
  return -1;
}

std::string targetName(int target) {
  return target >= 0 && target <= 2 ? kTargetNames[target] : std::to_string(target);
}

}  // namespace oru_runner
