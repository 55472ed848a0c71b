// Raw frame files: frames in, results out, as plain little-endian binary, so
// that a host program needs no image library.
//
// Frames file:  "ORUFRAME", u32 count, then per frame
//               i32 width, i32 height, the 120-byte settings block to load,
//               four planes R, G, B, A of width x height float32, row after row.
// Results file: "ORURESLT", u32 count, then per frame
//               i32 width, i32 height, the module's calls of the frame's
//               callbacks as u32 colour stores, alpha stores, row fetches,
//               the 120-byte block the module saved, four output planes
//               R, G, B, A as above.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runner/host/settings_block.h"

namespace oru_rawhost {

// Frames larger than this in either direction are refused as damaged input.
constexpr int kMaxRawSide = 16384;

struct RawPlanes {
  int width = 0;
  int height = 0;
  std::vector<float> planes[4];  // R, G, B, A

  // Gives planes of the size, every sample set to fill.
  void resize(int w, int h, float fill = 0.0f);
  std::size_t pixels() const { return static_cast<std::size_t>(width) * height; }
};

struct RawFrame : RawPlanes {
  oru_runner::SettingsBlock settings{};
};

struct RawResult : RawPlanes {
  std::uint32_t colourStores = 0;
  std::uint32_t alphaStores = 0;
  std::uint32_t rowFetches = 0;
  oru_runner::SettingsBlock saved{};
};

// Readers throw HostError naming the file for a missing, damaged or short file.
std::vector<RawFrame> readFramesFile(const std::string& path);
std::vector<RawResult> readResultsFile(const std::string& path);
// Writers replace the file atomically.
void writeFramesFile(const std::string& path, const std::vector<RawFrame>& frames);
void writeResultsFile(const std::string& path, const std::vector<RawResult>& results);

}  // namespace oru_rawhost
