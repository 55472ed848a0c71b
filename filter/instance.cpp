// The life of a filter instance: create, copy, describe, destroy, and the
// small callbacks that have nothing to do.
#include <cstring>

#include "filter/heap.h"
#include "filter/oru.h"

namespace {

void freePlanes(std::uint8_t* planes[4]) {
  for (int c = 0; c < 4; ++c) {
    heapFree(planes[c]);
    planes[c] = nullptr;
  }
}

}  // namespace

extern "C" {

FilterInstance* OruCreate(void* /*context*/) {
  FilterInstance* inst = static_cast<FilterInstance*>(heapAllocZeroed(sizeof(FilterInstance)));
  if (!inst) return nullptr;

  std::strcpy(inst->name, oruName);
  inst->panelX = -1;
  inst->panelY = -1;
  inst->target = TARGET_RGBA;
  inst->enable = 1;
  inst->strength = 100;
  inst->threshold = 224;
  inst->workStrength = 100;
  inst->workThreshold = 224;

  // Zero-filled: a preview of a frame smaller than the window reads bytes
  // outside the copied window, and those must not be whatever the heap held.
  bool failed = false;
  for (int c = 0; c < 4; ++c) {
    inst->previewPlanes[c] = static_cast<std::uint8_t*>(heapAllocZeroed(kPreviewPlaneSize));
    if (!inst->previewPlanes[c]) failed = true;
  }
  if (failed) {
    freePlanes(inst->previewPlanes);
    inst->createError = 1;
  }
  return inst;
}

void OruDestroy(FilterInstance* instance) {
  if (!instance) return;
  freePlanes(instance->planes);
  freePlanes(instance->previewPlanes);
  heapFree(instance);
}

int OruCopy(FilterInstance* from, FilterInstance* to) {
  // Everything travels except what describes the destination's own buffers.
  FilterInstance own = *to;
  std::memcpy(to, from, sizeof(FilterInstance));
  std::memcpy(to->planes, own.planes, sizeof own.planes);
  std::memcpy(to->previewPlanes, own.previewPlanes, sizeof own.previewPlanes);
  std::memcpy(to->lineTable, own.lineTable, sizeof own.lineTable);
  to->width = own.width;
  to->height = own.height;
  to->processed = own.processed;
  to->processError = own.processError;
  to->createError = own.createError;
  return 0;
}

const char* OruDescribe(FilterInstance* instance) { return instance->name; }

int OruUseItems(FilterInstance* /*instance*/) { return 0; }

void OruChangeID(FilterInstance* /*instance*/, void* /*idList*/) {}

unsigned int OruFlags(FilterInstance* /*instance*/) { return 0; }

}  // extern "C"
