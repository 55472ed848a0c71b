// Any settings block into OruLoad, then OruSave and a small frame through
// OruProcess. A block saved from what was loaded must load back to the same
// settings, and the frame must come back whole and in range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "filter/oru.h"
#include "runner/host/settings_block.h"
#include "tests/frame_host.h"

namespace {

// A host that delivers only the bytes the input has (at most a block).
struct ShortReader {
  const std::uint8_t* data;
  int size;
  static int readBlock(void* handle, char* buffer, int length) {
    auto* self = static_cast<ShortReader*>(handle);
    int n = self->size < length ? self->size : length;
    std::memcpy(buffer, self->data, static_cast<std::size_t>(n));
    return n;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

// A staircase with a little texture in every channel, so that every pass of
// the scan has something to find.
void fillFrame(oru_test::FrameHost& frame) {
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      bool dark = y >= 6 - x / 3;
      for (int c = 0; c < 4; ++c) {
        frame.in(c, x, y) =
            dark ? 0.1f * static_cast<float>(c) : 1.0f - 0.01f * static_cast<float>(x);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FilterInstance* inst = OruCreate(nullptr);
  check(inst != nullptr);
  FilterInstance before;
  std::memcpy(&before, inst, sizeof before);

  int delivered = size < kSettingsBlockSize ? static_cast<int>(size) : kSettingsBlockSize;
  ShortReader reader{data, delivered};
  LoadState load{nullptr, &reader, &ShortReader::readBlock};
  check(OruLoad(inst, &load) == 0);
  // Only the three saved settings may change.
  FilterInstance expected;
  std::memcpy(&expected, &before, sizeof expected);
  expected.target = inst->target;
  expected.strength = inst->strength;
  expected.threshold = inst->threshold;
  check(std::memcmp(&expected, inst, sizeof expected) == 0);

  oru_runner::BlockWriter writer;
  check(OruSave(inst, writer.state()) == 0);
  check(writer.bytesWritten() == kSettingsBlockSize);
  const oru_runner::SettingsBlock& saved = writer.block();
  check(std::memchr(saved.data(), 0, saved.size()) != nullptr);

  FilterInstance* again = OruCreate(nullptr);
  check(again != nullptr);
  oru_runner::BlockReader readBack(saved);
  OruLoad(again, readBack.state());
  check(again->target == inst->target && again->strength == inst->strength &&
        again->threshold == inst->threshold);
  OruDestroy(again);

  oru_test::FrameHost frame(9, 8);
  fillFrame(frame);
  frame.process(inst);
  check(frame.badCalls() == 0);
  for (int y = 0; y < frame.height(); ++y) {
    for (int x = 0; x < frame.width(); ++x) {
      for (int c = 0; c < 4; ++c) {
        float v = frame.out(c, x, y);
        check(v == oru_test::FrameHost::kNotStored || (v >= 0.0f && v <= 1.0f));
      }
    }
  }
  OruDestroy(inst);
  return 0;
}
