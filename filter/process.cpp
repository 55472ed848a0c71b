// The per-frame callback: the frame into the working planes, the smoothing
// run, every pixel back to the host, and the planes refilled with the
// unsmoothed frame for the preview.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "filter/engine/engine.h"
#include "filter/engine/fast/plane_scan.h"
#include "filter/engine/pixel_ops.h"
#include "filter/heap.h"
#include "filter/sample_convert.h"
#include "filter/work_settings.h"

namespace {

constexpr int kLineTypes[4] = {LINE_RED, LINE_GREEN, LINE_BLUE, LINE_ALPHA};

// a * b, or false when it does not fit a size_t.
bool sizeProduct(std::size_t a, std::size_t b, std::size_t* product) {
  if (b != 0 && a > static_cast<std::size_t>(-1) / b) return false;
  *product = a * b;
  return true;
}

void releaseLineTables(FilterInstance* inst) {
  for (auto& table : inst->lineTable) {
    heapFree(table);
    table = nullptr;
  }
}

void releasePlanes(FilterInstance* inst) {
  for (auto& plane : inst->planes) {
    heapFree(plane);
    plane = nullptr;
  }
}

// Allocates all four blocks of size bytes, attempting every one; on any
// failure releases those it got and gives false.
template <typename T>
bool allocateFour(T* blocks[4], std::size_t size, bool sizeFits) {
  bool ok = true;
  for (int c = 0; c < 4; ++c) {
    blocks[c] = sizeFits ? static_cast<T*>(heapAlloc(size)) : nullptr;
    if (!blocks[c]) ok = false;
  }
  if (!ok) {
    for (int c = 0; c < 4; ++c) {
      heapFree(blocks[c]);
      blocks[c] = nullptr;
    }
  }
  return ok;
}

// Fetches every row of the four channels and converts it into the planes,
// top to bottom. The first fill keeps the rows in the line tables. A row the
// host does not give (null) fills as samples of 0.
void fillPlanes(FilterInstance* inst, const FilterAccess* access, bool keepRows) {
  const std::size_t width = static_cast<std::size_t>(inst->width);
  for (int y = 0; y < inst->height; ++y) {
    const float* rows[4];
    for (int c = 0; c < 4; ++c) rows[c] = access->fetchLine(kLineTypes[c], y);
    if (keepRows) {
      for (int c = 0; c < 4; ++c) inst->lineTable[c][y] = rows[c];
    }
    for (int c = 0; c < 4; ++c) {
      std::uint8_t* out = inst->planes[c] + static_cast<std::size_t>(y) * width;
      const float* row = rows[c];
      if (!row) {
        std::memset(out, 0, width);
        continue;
      }
      samplesToBytes(row, out, width);
    }
  }
}

// Every pixel of the planes to the host's output, colour before alpha: for
// each pixel what readB and writeF, then readB_a and writeF_a, give the host,
// read straight from the planes.
void writeOutput(FilterInstance* inst, const FilterAccess* access) {
  const std::size_t width = static_cast<std::size_t>(inst->width);
  for (int y = 0; y < inst->height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * width;
    const std::uint8_t* r = inst->planes[0] + row;
    const std::uint8_t* g = inst->planes[1] + row;
    const std::uint8_t* b = inst->planes[2] + row;
    const std::uint8_t* a = inst->planes[3] + row;
    for (int x = 0; x < inst->width; ++x) {
      const float rgb[3] = {byteToSample(r[x]), byteToSample(g[x]), byteToSample(b[x])};
      access->storeColour(x, y, rgb);
      access->storeAlpha(x, y, byteToSample(a[x]));
    }
  }
}

}  // namespace

extern "C" void OruProcess(FilterInstance* instance, const FilterAccess* access) {
  instance->pixelOps = frameRunOps();
  copyWorkSettings(instance);

  const int frameWidth = access->frameWidth, frameHeight = access->frameHeight;
  if (frameWidth <= 0 || frameHeight <= 0) {
    // An empty frame: no pixel to fetch, smooth or store. It is the last
    // frame now, held without planes.
    releasePlanes(instance);
    instance->processError = 0;
    instance->width = frameWidth > 0 ? frameWidth : 0;
    instance->height = frameHeight > 0 ? frameHeight : 0;
    instance->processed = 1;
    return;
  }

  std::size_t tableSize = 0;
  bool tableFits =
      sizeProduct(static_cast<std::size_t>(frameHeight), sizeof(const float*), &tableSize);
  if (!allocateFour(instance->lineTable, tableSize, tableFits)) {
    instance->processError = 1;
    return;
  }

  // The last frame's planes serve again for a frame of its size, as the
  // frames of a sequence are: the fill writes every byte of them. Giving
  // them back and taking new ones would cost the system's fresh pages on
  // every frame.
  const bool keepPlanes = instance->planes[0] && instance->planes[1] && instance->planes[2] &&
                          instance->planes[3] && instance->width == frameWidth &&
                          instance->height == frameHeight;
  if (!keepPlanes) {
    releasePlanes(instance);
    std::size_t planeSize = 0;
    bool planeFits = sizeProduct(static_cast<std::size_t>(frameWidth),
                                 static_cast<std::size_t>(frameHeight), &planeSize);
    if (!allocateFour(instance->planes, planeSize, planeFits)) {
      instance->processError = 1;
      releaseLineTables(instance);
      return;
    }
  }

  // A smoothing run reads its source from a copy of the freshly filled planes,
  // the same bytes as the host's rows; it is held only while the run lasts.
  std::size_t scanSize = 0;
  void* scanBlock = nullptr;
  if (instance->enable == 1 && frameScanNeedsBlock(frameWidth, frameHeight, instance->workMode,
                                                   instance->workThreshold, &scanSize)) {
    scanBlock = scanSize ? heapAlloc(scanSize) : nullptr;
    if (!scanBlock) {
      instance->processError = 1;
      releasePlanes(instance);
      releaseLineTables(instance);
      return;
    }
  }

  instance->processError = 0;
  instance->width = frameWidth;
  instance->height = frameHeight;
  fillPlanes(instance, access, true);
  instance->processed = 1;
  if (scanBlock) {
    smoothFramePlanes(access, instance, scanBlock);
    heapFree(scanBlock);
  }
  writeOutput(instance, access);
  fillPlanes(instance, access, false);
  releaseLineTables(instance);
}
