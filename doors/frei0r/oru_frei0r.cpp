// The frei0r filter oru (ffmpeg, Kdenlive, Shotcut and other video hosts):
// RGBA8888 frames through the host kit. One frei0r instance keeps one kit
// filter from frame to frame; the kit serialises calls into the module, so
// a host may run instances on several threads. Samples go over as the oru
// command line reads an 8-bit file and come back quantised as it writes one.
//
// Parameters, in frei0r's conventions so that hosts' generated controls work:
//   0 threshold  double 0..1, Threshold = round(value * 255)
//   1 strength   double 0..1, Strength = round(value * 100)
//   2 colour     bool, smooth the colour  } Target: both rgba, colour only rgb,
//   3 alpha      bool, smooth the alpha   } alpha only alpha; neither: frames pass
extern "C" {  // frei0r.h declares the entry points without C linkage
#include <frei0r.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "doors/frame_planes.h"
#include "doors/rgba_stores.h"
#include "runner/host/kit.h"

#ifndef ORU_BUILD_MODULE_PATH
#define ORU_BUILD_MODULE_PATH ""
#endif
#ifndef ORU_FREI0R_MODULE_DIR
#define ORU_FREI0R_MODULE_DIR "../oru"
#endif

namespace {

std::mutex moduleGuard;
std::shared_ptr<oru_kit::Module> sharedModule;  // loaded by the first instance

std::shared_ptr<oru_kit::Module> loadedModule() {
  std::lock_guard<std::mutex> hold(moduleGuard);
  if (!sharedModule) {
    sharedModule = std::make_shared<oru_kit::Module>(
        oru_kit::findModule(reinterpret_cast<const void*>(&loadedModule), ORU_FREI0R_MODULE_DIR,
                            ORU_BUILD_MODULE_PATH));
  }
  return sharedModule;
}

enum Param { kThreshold, kStrength, kColour, kAlpha, kParams };

struct Instance {
  Instance(unsigned w, unsigned h)
      : width(w), height(h), filter(loadedModule()), settings(filter.settings()) {}
  unsigned width, height;
  oru_kit::Filter filter;
  oru_kit::Settings settings;        // as last handed to the filter
  bool colour = true, alpha = true;  // the Target, as two switches
};

int scaled(double value, int top) {
  if (!(value >= 0.0)) return 0;  // NaN too
  return static_cast<int>(std::lround(std::min(value, 1.0) * top));
}

}  // namespace

// The entry points are all the plug-in exports.
#pragma GCC visibility push(default)
extern "C" {

int f0r_init() {
  return 1;
}

void f0r_deinit() {
  std::lock_guard<std::mutex> hold(moduleGuard);
  sharedModule.reset();
}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "oru";
  info->author = "the Oru developers";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = 1;
  info->minor_version = 10;
  info->num_params = kParams;
  info->explanation = "Smooths the jagged stair-steps of edges in colour, alpha or both";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  static const f0r_param_info_t params[kParams] = {
      {"threshold", F0R_PARAM_DOUBLE,
       "Edge sensitivity (x 255): two neighbouring pixels count as different when one "
       "channel differs by more than 256 - threshold; higher finds fainter edges"},
      {"strength", F0R_PARAM_DOUBLE,
       "How far the pixels on both sides of a stair-step are blended toward the "
       "neighbouring line (x 100 percent)"},
      {"colour", F0R_PARAM_BOOL, "Smooth the colour"},
      {"alpha", F0R_PARAM_BOOL, "Smooth the alpha matte"},
  };
  if (index >= 0 && index < kParams) *info = params[index];
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  if (width == 0 || height == 0 || width > INT32_MAX / height) {
    std::fprintf(stderr, "oru: a %u x %u frame is not accepted\n", width, height);
    return nullptr;
  }
  try {
    return new Instance(width, height);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: %s\n", e.what());
    return nullptr;
  }
}

void f0r_destruct(f0r_instance_t instance) {
  delete static_cast<Instance*>(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  auto* in = static_cast<Instance*>(instance);
  const double value = *static_cast<const double*>(param);
  oru_kit::Settings& s = in->settings;
  switch (index) {
    case kThreshold:
      s.threshold = scaled(value, 255);
      break;
    case kStrength:
      s.strength = scaled(value, 100);
      break;
    case kColour:
      in->colour = value >= 0.5;
      break;
    case kAlpha:
      in->alpha = value >= 0.5;
      break;
    default:
      return;
  }
  s.target = in->colour ? (in->alpha ? 2 : 0) : 1;
  try {
    in->filter.setSettings(s);  // in range by construction; the module may still refuse
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: setting not taken: %s\n", e.what());
  }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
  const auto* in = static_cast<const Instance*>(instance);
  double* value = static_cast<double*>(param);
  switch (index) {
    case kThreshold:
      *value = in->settings.threshold / 255.0;
      break;
    case kStrength:
      *value = in->settings.strength / 100.0;
      break;
    case kColour:
      *value = in->colour ? 1.0 : 0.0;
      break;
    case kAlpha:
      *value = in->alpha ? 1.0 : 0.0;
      break;
    default:
      break;
  }
}

void f0r_update(f0r_instance_t instance, double, const std::uint32_t* inframe,
                std::uint32_t* outframe) {
  auto* in = static_cast<Instance*>(instance);
  const std::size_t pixels = static_cast<std::size_t>(in->width) * in->height;
  const auto* from = reinterpret_cast<const std::uint8_t*>(inframe);
  auto* to = reinterpret_cast<std::uint8_t*>(outframe);
  if (!in->colour && !in->alpha) {  // nothing to smooth: the frame passes unchanged
    std::memmove(to, from, pixels * 4);
    return;
  }
  try {
    oru_doors::Planes planes;
    for (std::size_t c = 0; c < planes.size(); ++c) planes[c] = oru_doors::planeOf(from, pixels, c);
    oru_doors::RgbaStores<std::uint8_t> stores(to);
    in->filter.process(static_cast<int>(in->width), static_cast<int>(in->height), std::move(planes),
                       stores);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru: frame left unsmoothed: %s\n", e.what());
    std::memmove(to, from, pixels * 4);
  }
}

}  // extern "C"
#pragma GCC visibility pop
