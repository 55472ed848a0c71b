#include "tests/ofx/test_host.h"

#include <cstdarg>
#include <cstdio>

namespace oru_ofx_test {

namespace OH = OFX::Host;

int Picture::sampleBytes() const {
  return depth == kOfxBitDepthByte ? 1 : depth == kOfxBitDepthShort ? 2 : 4;
}

Picture makePicture(const std::string& depth, int channels, int width, int height, Layout layout) {
  Picture p;
  p.depth = depth;
  p.channels = channels;
  p.bounds = layout == Layout::kOffset ? OfxRectI{-7, 5, width - 7, height + 5}
                                       : OfxRectI{0, 0, width, height};
  const long packed = long(width) * channels * p.sampleBytes();
  const long stride = layout == Layout::kPadded ? packed + 3 * channels * p.sampleBytes() : packed;
  p.storage.assign(std::size_t(stride) * height, 0);
  if (layout == Layout::kTopDown) {
    // The highest row first in memory: row y1 is the last one.
    p.rowBytes = -stride;
    p.data = p.storage.data() + std::size_t(stride) * (height - 1);
  } else {
    p.rowBytes = stride;
    p.data = p.storage.data();
  }
  return p;
}

namespace {

OfxStatus print(const char* type, const char* format, va_list args) {
  std::fprintf(stderr, "ofx %s: ", type ? type : "message");
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  return kOfxStatOK;
}

// An image over a picture the effect holds (no copy).
class Image : public OH::ImageEffect::Image {
 public:
  Image(OH::ImageEffect::ClipInstance& clip, const Picture& p)
      : OH::ImageEffect::Image(clip, 1.0, 1.0, p.data, p.bounds, p.bounds,
                               static_cast<int>(p.rowBytes), kOfxImageFieldNone, "") {}
};

class Clip : public OH::ImageEffect::ClipInstance {
 public:
  Clip(Effect& effect, OH::ImageEffect::ClipDescriptor& descriptor)
      : ClipInstance(&effect, descriptor), effect_(effect) {}
  const std::string& getUnmappedBitDepth() const override { return picture().depth; }
  const std::string& getUnmappedComponents() const override {
    static const std::string rgb = kOfxImageComponentRGB, rgba = kOfxImageComponentRGBA;
    return picture().channels == 3 ? rgb : rgba;
  }
  const std::string& getPremult() const override {
    return isOutput() ? effect_.getOutputPreMultiplication() : effect_.sourcePremultiplication;
  }
  double getAspectRatio() const override { return 1.0; }
  double getFrameRate() const override { return 25.0; }
  void getFrameRange(double& start, double& end) const override { start = end = 0.0; }
  const std::string& getFieldOrder() const override {
    static const std::string none = kOfxImageFieldNone;
    return none;
  }
  bool getConnected() const override { return true; }
  double getUnmappedFrameRate() const override { return 25.0; }
  void getUnmappedFrameRange(double& start, double& end) const override { start = end = 0.0; }
  bool getContinuousSamples() const override { return false; }
  OH::ImageEffect::Image* getImage(OfxTime, const OfxRectD*) override {
    return new Image(*this, picture());
  }
  OfxRectD getRegionOfDefinition(OfxTime) const override {
    const OfxRectI& b = picture().bounds;
    return OfxRectD{double(b.x1), double(b.y1), double(b.x2), double(b.y2)};
  }

 private:
  const Picture& picture() const { return isOutput() ? effect_.output : effect_.source; }
  Effect& effect_;
};

// A parameter that keeps one value, its default to begin with.
template <typename Base>
class Value : public Base {
 public:
  Value(OH::Param::Descriptor& descriptor, OH::Param::SetInstance* set)
      : Base(descriptor, set),
        value_(descriptor.getProperties().getIntProperty(kOfxParamPropDefault)) {}
  OfxStatus get(int& v) override { return v = value_, kOfxStatOK; }
  OfxStatus get(OfxTime, int& v) override { return get(v); }
  OfxStatus set(int v) override { return value_ = v, kOfxStatOK; }
  OfxStatus set(OfxTime, int v) override { return set(v); }

 private:
  int value_;
};

}  // namespace

Host::Host(const std::string& depth) {
  _properties.setStringProperty(kOfxPropName, "org.oru.TestHost");
  _properties.setStringProperty(kOfxPropLabel, "Oru test host");
  _properties.setIntProperty(kOfxImageEffectPropSupportsTiles, 0);
  _properties.setIntProperty(kOfxImageEffectPropSupportsMultiResolution, 0);
  _properties.setIntProperty(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedComponents, kOfxImageComponentRGBA, 0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedComponents, kOfxImageComponentRGB, 1);
  _properties.setStringProperty(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextFilter,
                                0);
  _properties.setStringProperty(kOfxImageEffectPropSupportedPixelDepths, depth, 0);
  _properties.setIntProperty(kOfxParamHostPropMaxParameters, -1);
}

OH::ImageEffect::Instance* Host::newInstance(void*, OH::ImageEffect::ImageEffectPlugin* plugin,
                                             OH::ImageEffect::Descriptor& desc,
                                             const std::string& context) {
  return new Effect(plugin, desc, context);
}
OH::ImageEffect::Descriptor* Host::makeDescriptor(OH::ImageEffect::ImageEffectPlugin* plugin) {
  return new OH::ImageEffect::Descriptor(plugin);
}
OH::ImageEffect::Descriptor* Host::makeDescriptor(const OH::ImageEffect::Descriptor& rootContext,
                                                  OH::ImageEffect::ImageEffectPlugin* plugin) {
  return new OH::ImageEffect::Descriptor(rootContext, plugin);
}
OH::ImageEffect::Descriptor* Host::makeDescriptor(const std::string& bundlePath,
                                                  OH::ImageEffect::ImageEffectPlugin* plugin) {
  return new OH::ImageEffect::Descriptor(bundlePath, plugin);
}
OfxStatus Host::vmessage(const char* type, const char*, const char* format, va_list args) {
  return print(type, format, args);
}
OfxStatus Host::setPersistentMessage(const char* type, const char*, const char* format,
                                     va_list args) {
  return print(type, format, args);
}

Effect::Effect(OH::ImageEffect::ImageEffectPlugin* plugin, OH::ImageEffect::Descriptor& desc,
               const std::string& context)
    : Instance(plugin, desc, context, false) {}

const std::string& Effect::getDefaultOutputFielding() const {
  static const std::string none = kOfxImageFieldNone;
  return none;
}
OH::ImageEffect::ClipInstance* Effect::newClipInstance(OH::ImageEffect::Instance*,
                                                       OH::ImageEffect::ClipDescriptor* descriptor,
                                                       int) {
  return new Clip(*this, *descriptor);
}
OH::Param::Instance* Effect::newParam(const std::string&, OH::Param::Descriptor& descriptor) {
  if (descriptor.getType() == kOfxParamTypeInteger) {
    return new Value<OH::Param::IntegerInstance>(descriptor, this);
  }
  if (descriptor.getType() == kOfxParamTypeChoice) {
    return new Value<OH::Param::ChoiceInstance>(descriptor, this);
  }
  return nullptr;  // a kind of parameter this host does not offer
}
OfxStatus Effect::vmessage(const char* type, const char*, const char* format, va_list args) {
  return print(type, format, args);
}
OfxStatus Effect::setPersistentMessage(const char* type, const char*, const char* format,
                                       va_list args) {
  return print(type, format, args);
}
void Effect::getProjectSize(double& x, double& y) const {
  x = source.width();
  y = source.height();
}
void Effect::getProjectOffset(double& x, double& y) const {
  x = source.bounds.x1;
  y = source.bounds.y1;
}
void Effect::getProjectExtent(double& x, double& y) const {
  x = source.bounds.x2;
  y = source.bounds.y2;
}

}  // namespace oru_ofx_test
