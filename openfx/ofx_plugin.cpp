// The OpenFX plug-in Oru: one image effect in the Filter and General
// contexts, written against the OpenFX C API. It describes the three
// settings, fetches the host's images, hands the whole source frame to an
// oru_kit::Filter (one per effect instance, living from frame to frame) and
// writes the results back into the output image.
//
// Render thread safety is instance-safe: a Filter carries its sequence from
// frame to frame and is used by one thread at a time, while the kit's
// process-wide lock keeps the module's callbacks from ever running at once,
// so several instances may render on several threads.
#include <cstring>
#include <exception>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "openfx/ofx_images.h"
#include "runner/host/kit.h"

#ifndef ORU_VERSION_MAJOR
#define ORU_VERSION_MAJOR 1
#define ORU_VERSION_MINOR 0
#endif
#ifndef ORU_BUILD_MODULE_PATH
#define ORU_BUILD_MODULE_PATH ""
#endif
#ifndef ORU_OFX_MODULE_DIR
#define ORU_OFX_MODULE_DIR "../../../../../lib/oru"
#endif

namespace {

OfxHost* host = nullptr;
const OfxPropertySuiteV1* props = nullptr;
const OfxImageEffectSuiteV1* effects = nullptr;
const OfxParameterSuiteV1* params = nullptr;
std::shared_ptr<oru_kit::Module> module;

const char* const kTarget = "target";
const char* const kThreshold = "threshold";
const char* const kStrength = "strength";

// One effect instance: its filter, its clips and its parameters.
struct Instance {
  std::unique_ptr<oru_kit::Filter> filter;
  OfxImageClipHandle source = nullptr, output = nullptr;
  OfxParamHandle target = nullptr, threshold = nullptr, strength = nullptr;
};

OfxPropertySetHandle effectProps(OfxImageEffectHandle effect) {
  OfxPropertySetHandle set = nullptr;
  effects->getPropertySet(effect, &set);
  return set;
}

Instance* instanceOf(OfxImageEffectHandle effect) {
  void* data = nullptr;
  props->propGetPointer(effectProps(effect), kOfxPropInstanceData, 0, &data);
  return static_cast<Instance*>(data);
}

void setStrings(OfxPropertySetHandle set, const char* name,
                std::initializer_list<const char*> values) {
  int i = 0;
  for (const char* value : values) props->propSetString(set, name, i++, value);
}

OfxStatus describe(OfxImageEffectHandle effect) {
  OfxPropertySetHandle set = effectProps(effect);
  props->propSetString(set, kOfxPropLabel, 0, "Oru");
  props->propSetString(set, kOfxImageEffectPluginPropGrouping, 0, "Filter");
  props->propSetString(set, kOfxPropPluginDescription, 0,
                       "Finds the stair-steps of jagged edges and blends them away, in colour, "
                       "alpha or both.");
  setStrings(set, kOfxImageEffectPropSupportedContexts,
             {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
  setStrings(set, kOfxImageEffectPropSupportedPixelDepths,
             {kOfxBitDepthFloat, kOfxBitDepthShort, kOfxBitDepthByte});
  // The scan follows whole lines: the whole frame, never tiles.
  props->propSetInt(set, kOfxImageEffectPropSupportsTiles, 0, 0);
  props->propSetInt(set, kOfxImageEffectPropSupportsMultipleClipDepths, 0, 0);
  props->propSetString(set, kOfxImageEffectPluginRenderThreadSafety, 0,
                       kOfxImageEffectRenderInstanceSafe);
  props->propSetInt(set, kOfxImageEffectPluginPropHostFrameThreading, 0, 0);
  return kOfxStatOK;
}

void defineClip(OfxImageEffectHandle effect, const char* name) {
  OfxPropertySetHandle clip = nullptr;
  effects->clipDefine(effect, name, &clip);
  setStrings(clip, kOfxImageEffectPropSupportedComponents,
             {kOfxImageComponentRGBA, kOfxImageComponentRGB});
  props->propSetInt(clip, kOfxImageEffectPropSupportsTiles, 0, 0);
}

OfxPropertySetHandle defineParam(OfxParamSetHandle set, const char* type, const char* name,
                                 const char* label, const char* hint) {
  OfxPropertySetHandle param = nullptr;
  params->paramDefine(set, type, name, &param);
  props->propSetString(param, kOfxPropLabel, 0, label);
  props->propSetString(param, kOfxParamPropHint, 0, hint);
  return param;
}

void defineInteger(OfxParamSetHandle set, const char* name, const char* label, const char* hint,
                   int low, int high, int byDefault) {
  OfxPropertySetHandle param = defineParam(set, kOfxParamTypeInteger, name, label, hint);
  props->propSetInt(param, kOfxParamPropDefault, 0, byDefault);
  props->propSetInt(param, kOfxParamPropMin, 0, low);
  props->propSetInt(param, kOfxParamPropMax, 0, high);
  props->propSetInt(param, kOfxParamPropDisplayMin, 0, low);
  props->propSetInt(param, kOfxParamPropDisplayMax, 0, high);
}

OfxStatus describeInContext(OfxImageEffectHandle effect) {
  defineClip(effect, kOfxImageEffectSimpleSourceClipName);
  defineClip(effect, kOfxImageEffectOutputClipName);
  OfxParamSetHandle set = nullptr;
  effects->getParamSet(effect, &set);
  const oru_kit::Settings byDefault;
  OfxPropertySetHandle target =
      defineParam(set, kOfxParamTypeChoice, kTarget, "Target",
                  "Which channels are smoothed: the colour, the alpha matte, or both");
  setStrings(target, kOfxParamPropChoiceOption, {"RGB", "Alpha", "RGBA"});
  props->propSetInt(target, kOfxParamPropDefault, 0, byDefault.target);
  defineInteger(set, kThreshold, "Threshold",
                "Edge sensitivity: two neighbouring pixels count as different when one channel "
                "differs by more than 256 - threshold (in 8-bit steps). Higher finds fainter "
                "edges; 0 finds none",
                0, 255, byDefault.threshold);
  defineInteger(set, kStrength, "Strength",
                "How far the pixels on both sides of a stair-step are blended toward the "
                "neighbouring line, in percent",
                0, 100, byDefault.strength);
  return kOfxStatOK;
}

OfxStatus createInstance(OfxImageEffectHandle effect) {
  auto instance = std::make_unique<Instance>();
  instance->filter = std::make_unique<oru_kit::Filter>(module);
  effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &instance->source, nullptr);
  effects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &instance->output, nullptr);
  OfxParamSetHandle set = nullptr;
  effects->getParamSet(effect, &set);
  params->paramGetHandle(set, kTarget, &instance->target, nullptr);
  params->paramGetHandle(set, kThreshold, &instance->threshold, nullptr);
  params->paramGetHandle(set, kStrength, &instance->strength, nullptr);
  props->propSetPointer(effectProps(effect), kOfxPropInstanceData, 0, instance.release());
  return kOfxStatOK;
}

OfxStatus destroyInstance(OfxImageEffectHandle effect) {
  delete instanceOf(effect);
  props->propSetPointer(effectProps(effect), kOfxPropInstanceData, 0, nullptr);
  return kOfxStatOK;
}

// The output covers what the source covers, and a frame needs all of it.
OfxStatus sourceRegion(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs,
                       OfxPropertySetHandle outArgs, const char* property) {
  OfxTime time = 0;
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  OfxRectD region{};
  OfxStatus status = effects->clipGetRegionOfDefinition(instanceOf(effect)->source, time, &region);
  if (status != kOfxStatOK) return status;
  props->propSetDoubleN(outArgs, property, 4, &region.x1);
  return kOfxStatOK;
}

// An image fetched from a clip, released when done with.
class ClipImage {
 public:
  ClipImage(OfxImageClipHandle clip, OfxTime time) {
    if (effects->clipGetImage(clip, time, nullptr, &image_) != kOfxStatOK) image_ = nullptr;
  }
  ~ClipImage() {
    if (image_) effects->clipReleaseImage(image_);
  }
  ClipImage(const ClipImage&) = delete;
  ClipImage& operator=(const ClipImage&) = delete;
  // The image's layout; false when there is none or it is of a kind not described.
  bool view(oru_ofx::ImageView& view) const {
    if (!image_) return false;
    char* depth = nullptr;
    char* components = nullptr;
    char* premultiplication = nullptr;
    int rowBytes = 0;
    props->propGetPointer(image_, kOfxImagePropData, 0, &view.data);
    props->propGetIntN(image_, kOfxImagePropBounds, 4, &view.x1);
    props->propGetInt(image_, kOfxImagePropRowBytes, 0, &rowBytes);
    props->propGetString(image_, kOfxImageEffectPropPixelDepth, 0, &depth);
    props->propGetString(image_, kOfxImageEffectPropComponents, 0, &components);
    props->propGetString(image_, kOfxImageEffectPropPreMultiplication, 0, &premultiplication);
    view.rowBytes = rowBytes;
    view.premultiplied =
        premultiplication && !std::strcmp(premultiplication, kOfxImagePreMultiplied);
    const std::string d = depth ? depth : "", c = components ? components : "";
    view.depth = d == kOfxBitDepthByte    ? oru_ofx::Depth::kByte
                 : d == kOfxBitDepthShort ? oru_ofx::Depth::kShort
                                          : oru_ofx::Depth::kFloat;
    view.channels = c == kOfxImageComponentRGB ? 3 : 4;
    const bool known =
        (d == kOfxBitDepthByte || d == kOfxBitDepthShort || d == kOfxBitDepthFloat) &&
        (c == kOfxImageComponentRGB || c == kOfxImageComponentRGBA);
    return view.data && known && view.x2 >= view.x1 && view.y2 >= view.y1;
  }

 private:
  OfxPropertySetHandle image_ = nullptr;
};

// The module's stores into float planes.
class PlaneStores : public oru_kit::Stores {
 public:
  explicit PlaneStores(oru_ofx::Planes& planes) : planes_(planes) {}
  void colour(std::size_t pixel, const float* rgb) override {
    for (int c = 0; c < 3; ++c) planes_[c][pixel] = rgb[c];
  }
  void alpha(std::size_t pixel, float alpha) override { planes_[3][pixel] = alpha; }

 private:
  oru_ofx::Planes& planes_;
};

int intValue(OfxParamHandle param, OfxTime time) {
  int value = 0;
  params->paramGetValueAtTime(param, time, &value);
  return value;
}

OfxStatus render(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs) {
  Instance& instance = *instanceOf(effect);
  OfxTime time = 0;
  int window[4] = {0, 0, 0, 0};
  props->propGetDouble(inArgs, kOfxPropTime, 0, &time);
  props->propGetIntN(inArgs, kOfxImageEffectPropRenderWindow, 4, window);

  oru_kit::Settings settings{intValue(instance.target, time), intValue(instance.threshold, time),
                             intValue(instance.strength, time)};
  const oru_kit::Settings now = instance.filter->settings();
  if (settings.target != now.target || settings.threshold != now.threshold ||
      settings.strength != now.strength) {
    instance.filter->setSettings(settings);
  }

  ClipImage source(instance.source, time), output(instance.output, time);
  oru_ofx::ImageView in, out;
  if (!source.view(in) || !output.view(out)) return kOfxStatFailed;
  oru_ofx::Planes results;
  if (in.width() > 0 && in.height() > 0) {
    for (auto& plane : results) plane.resize(std::size_t(in.width()) * in.height());
    PlaneStores stores(results);
    instance.filter->process(in.width(), in.height(), oru_ofx::readPlanes(in), stores);
  }
  oru_ofx::writePlanes(results, in, out, window);
  return kOfxStatOK;
}

OfxStatus load() {
  if (!props || !effects || !params) return kOfxStatErrMissingHostFeature;
  const std::string path = oru_kit::findModule(reinterpret_cast<const void*>(&load),
                                               ORU_OFX_MODULE_DIR, ORU_BUILD_MODULE_PATH);
  module = std::make_shared<oru_kit::Module>(path);
  return kOfxStatOK;
}

OfxStatus act(const std::string& action, OfxImageEffectHandle effect, OfxPropertySetHandle inArgs,
              OfxPropertySetHandle outArgs) {
  if (action == kOfxActionLoad) return load();
  if (action == kOfxActionUnload) {
    module.reset();
    return kOfxStatOK;
  }
  if (action == kOfxActionDescribe) return describe(effect);
  if (action == kOfxImageEffectActionDescribeInContext) return describeInContext(effect);
  if (action == kOfxActionCreateInstance) return createInstance(effect);
  if (action == kOfxActionDestroyInstance) return destroyInstance(effect);
  if (action == kOfxImageEffectActionGetRegionOfDefinition) {
    return sourceRegion(effect, inArgs, outArgs, kOfxImageEffectPropRegionOfDefinition);
  }
  if (action == kOfxImageEffectActionGetRegionsOfInterest) {
    return sourceRegion(effect, inArgs, outArgs,
                        "OfxImageClipPropRoI_" kOfxImageEffectSimpleSourceClipName);
  }
  if (action == kOfxImageEffectActionRender) return render(effect, inArgs);
  return kOfxStatReplyDefault;
}

OfxStatus mainEntry(const char* action, const void* handle, OfxPropertySetHandle inArgs,
                    OfxPropertySetHandle outArgs) {
  try {
    return act(action, static_cast<OfxImageEffectHandle>(const_cast<void*>(handle)), inArgs,
               outArgs);
  } catch (const std::bad_alloc&) {
    return kOfxStatErrMemory;
  } catch (const std::exception& e) {
    // What went wrong (a module that cannot be loaded, a frame not stored
    // whole) to the host: on the instance, or with no handle where the
    // handle is none (Load) or a descriptor's.
    const auto* messages = host ? static_cast<const OfxMessageSuiteV1*>(
                                      host->fetchSuite(host->host, kOfxMessageSuite, 1))
                                : nullptr;
    const bool onInstance = std::strcmp(action, kOfxActionLoad) &&
                            std::strcmp(action, kOfxActionDescribe) &&
                            std::strcmp(action, kOfxImageEffectActionDescribeInContext);
    if (messages) {
      messages->message(onInstance ? const_cast<void*>(handle) : nullptr, kOfxMessageError, "",
                        "Oru: %s", e.what());
    }
    return kOfxStatFailed;
  }
}

void setHost(OfxHost* given) {
  host = given;
  props =
      static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
  effects = static_cast<const OfxImageEffectSuiteV1*>(
      host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
  params =
      static_cast<const OfxParameterSuiteV1*>(host->fetchSuite(host->host, kOfxParameterSuite, 1));
}

OfxPlugin plugin = {kOfxImageEffectPluginApi, 1,       "org.oru.Oru", ORU_VERSION_MAJOR,
                    ORU_VERSION_MINOR,        setHost, mainEntry};

}  // namespace

// The bundle's two exports; everything else stays inside it.
#define ORU_OFX_EXPORT extern "C" __attribute__((visibility("default")))
ORU_OFX_EXPORT int OfxGetNumberOfPlugins(void) {
  return 1;
}
ORU_OFX_EXPORT OfxPlugin* OfxGetPlugin(int nth) {
  return nth == 0 ? &plugin : nullptr;
}
