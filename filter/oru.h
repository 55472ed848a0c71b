// The Oru filter: the instance record, the routine table through which the
// engine reaches pixels, and every callback the module hands to the host.
#pragma once

#include <cstdint>

#include "host/export.h"
#include "host/host_records.h"

// Host service tables of the options dialog; only their pointers live here
// (host/panel_services.h declares them).
struct PanelServicesTable;
struct RasterServicesTable;
struct XPanelServicesTable;
struct PanelControl;

// Four bytes R, G, B, A: the unit in which the scan, the slope measure and the
// kernels read and write pixels. Colour routines use R, G, B; alpha routines A.
struct Pixel {
  std::uint8_t r, g, b, a;
};

extern "C" {
// Read routines fill *out with the pixel (x, y) of their store.
typedef void (*PixelReadFunc)(FilterInstance* instance, int x, int y, Pixel* out);
// Write routines store *in at (x, y); access is null in a preview run.
typedef void (*PixelWriteFunc)(const FilterAccess* access, FilterInstance* instance, int x, int y,
                               const Pixel* in);
}

struct PixelOps {
  PixelReadFunc getSrc;
  PixelReadFunc getDst;
  PixelWriteFunc putDst;
  PixelReadFunc getSrcA;
  PixelReadFunc getDstA;
  PixelWriteFunc putDstA;
};

constexpr int kControlCount = 6;
constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 240;
constexpr int kPreviewPlaneSize = kPreviewWidth * kPreviewHeight;  // 76800 bytes
constexpr int kDescriptionSize = 128;

// Indexes into FilterInstance::controls and controlLive.
enum DialogControl {
  CTRL_XPANEL = 0,
  CTRL_VIEW_POPUP = 1,
  CTRL_ZOOM_SLIDER = 2,
  CTRL_UPDATE_BUTTON = 3,
  CTRL_AUTO_TOGGLE = 4,
  CTRL_CANVAS = 5,
};

// Values of `target` (and `workMode` - 1).
enum Target { TARGET_RGB = 0, TARGET_ALPHA = 1, TARGET_RGBA = 2 };

// One filter instance. The field order is part of the module's design: keep it.
struct FilterInstance {
  char name[kDescriptionSize];  // "Oru": what OruDescribe returns

  // Options dialog handles, valid only while OruOptions runs.
  PanelServicesTable* panelFuncs;
  XPanelServicesTable* xpanelFuncs;
  void* panel;
  void* xpanel;
  PanelControl* controls[kControlCount];
  std::uint8_t controlLive[kControlCount];
  int panelX, panelY;  // where the dialog was last closed; -1 = centre it
  RasterServicesTable* rasterFuncs;
  void* raster;

  std::uint8_t processed;  // 1 once the working planes hold a frame

  // Settings. target, strength and threshold are saved with the scene.
  int target;
  std::uint8_t enable;
  int strength;
  int threshold;

  // Preview settings.
  int previewChannel;
  int zoom;
  std::uint8_t autoUpdate;

  std::uint8_t processError;  // the last OruProcess could not get its buffers
  std::uint8_t createError;   // OruCreate could not get the preview planes
  int refreshPreview;         // nonzero: the preview shows the smoothed window
  int viewX, viewY;           // frame pixel at the preview window's top-left
  int dragX, dragY;           // last canvas point of the current drag

  // Settings in force for the current smoothing run.
  int workStrength;
  int workThreshold;
  int workMode;  // bit 0: colour passes, bit 1: alpha passes

  std::uint8_t* planes[4];         // working planes R, G, B, A: width x height each
  std::uint8_t* previewPlanes[4];  // preview planes R, G, B, A: 320 x 240 each
  const float** lineTable[4];      // during OruProcess only: fetched rows per channel
  int width, height;               // size of the frame in planes
  PixelOps pixelOps;
};

// The text "Oru": the server name of both servers and every instance's description.
extern const char oruName[];

// ---- Activation ------------------------------------------------------------------

extern "C" {
// The host's global lookup function, kept by the last handler activation.
ORU_EXPORT extern GlobalFunc global_func;

// Not exported: the host reaches them through ServerDesc.
int OruHandler(int version, GlobalFunc lookup, void* record);
int OruInterface(int version, GlobalFunc lookup, void* record);
}

// ---- Instance callbacks (reached by the host only through the records) --------------

extern "C" {

FilterInstance* OruCreate(void* context);
void OruDestroy(FilterInstance* instance);
int OruCopy(FilterInstance* from, FilterInstance* to);
const char* OruDescribe(FilterInstance* instance);
int OruUseItems(FilterInstance* instance);
void OruChangeID(FilterInstance* instance, void* idList);
unsigned int OruFlags(FilterInstance* instance);
int OruLoad(FilterInstance* instance, const LoadState* state);
int OruSave(FilterInstance* instance, const SaveState* state);
void OruProcess(FilterInstance* instance, const FilterAccess* access);
const char* OruOptions(FilterInstance* instance);
}  // extern "C"
