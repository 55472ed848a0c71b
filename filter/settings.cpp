// The saved settings: one 120-byte block holding the text "%d %d %d" of
// target, strength and threshold, a zero byte, and zero filler.
#include <climits>
#include <cstdio>
#include <cstring>

#include "filter/oru.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads one "%d" number from text at *pos, the way scanf does: leading white
// space, an optional sign, then digits. Gives false (and moves nothing) when
// no number starts there. A number outside the int range is read past but not
// stored (*fits = false), where scanf's behaviour would be undefined.
bool readInt(const char* text, std::size_t* pos, int* value, bool* fits) {
  std::size_t p = *pos;
  while (isSpace(text[p])) ++p;
  bool negative = false;
  if (text[p] == '+' || text[p] == '-') {
    negative = text[p] == '-';
    ++p;
  }
  if (!isDigit(text[p])) return false;

  // Accumulate toward the negative side, which holds INT_MIN.
  long long magnitude = 0;
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  *fits = true;
  for (; isDigit(text[p]); ++p) {
    if (*fits) {
      magnitude = magnitude * 10 + (text[p] - '0');
      if (magnitude > limit) *fits = false;
    }
  }
  if (*fits) *value = static_cast<int>(negative ? -magnitude : magnitude);
  *pos = p;
  return true;
}

}  // namespace

extern "C" {

int OruSave(FilterInstance* instance, const SaveState* state) {
  char block[kSettingsBlockSize] = {};
  std::snprintf(block, sizeof block, "%d %d %d", instance->target, instance->strength,
                instance->threshold);
  state->writeBlock(state->writeHandle, block, kSettingsBlockSize);
  return 0;
}

int OruLoad(FilterInstance* instance, const LoadState* state) {
  // One byte more than the block, always zero: text without a zero byte of
  // its own ends after the 120th byte.
  char text[kSettingsBlockSize + 1] = {};
  state->readBlock(state->readHandle, text, kSettingsBlockSize);
  text[kSettingsBlockSize] = '\0';

  // Fields are filled in order until a number is missing; fields not parsed,
  // and numbers that do not fit an int, keep the instance's current values.
  int* fields[3] = {&instance->target, &instance->strength, &instance->threshold};
  std::size_t pos = 0;
  for (int* field : fields) {
    int value = 0;
    bool fits = false;
    if (!readInt(text, &pos, &value, &fits)) break;
    if (fits) *field = value;
  }
  return 0;
}

}  // extern "C"
