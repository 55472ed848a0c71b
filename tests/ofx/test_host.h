// A small OpenFX host on the OpenFX host support library, for the tests:
// one image-effect instance whose source clip shows a picture held in
// memory and whose output clip renders into another. Only what a filter
// with integer and choice parameters needs.
#pragma once

#include <memory>
#include <string>
#include <vector>

// The host support headers need one another in this order.
// clang-format off
#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxhBinary.h"
#include "ofxhPropertySuite.h"
#include "ofxhClip.h"
#include "ofxhParam.h"
#include "ofxhMemory.h"
#include "ofxhImageEffect.h"
#include "ofxhPluginAPICache.h"
#include "ofxhPluginCache.h"
#include "ofxhHost.h"
#include "ofxhImageEffectAPI.h"
// clang-format on

namespace oru_ofx_test {

// A frame as the host keeps it: bounds with y growing upward, row y at
// data + (y - y1) * rowBytes.
struct Picture {
  std::string depth = kOfxBitDepthFloat;  // kOfxBitDepthByte, Short or Float
  int channels = 4;                       // 3 RGB, 4 RGBA
  OfxRectI bounds{0, 0, 0, 0};
  long rowBytes = 0;
  char* data = nullptr;
  std::vector<char> storage;

  Picture() = default;
  Picture(Picture&&) = default;  // data stays in the storage it points into
  Picture& operator=(Picture&&) = default;
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  int width() const { return bounds.x2 - bounds.x1; }
  int height() const { return bounds.y2 - bounds.y1; }
  int sampleBytes() const;
  char* row(int y) const { return data + (y - bounds.y1) * rowBytes; }
};

// How the host lays its pictures out: rows packed, rows padded, rows top
// down in memory (negative row bytes), or bounds away from the origin.
enum class Layout { kPacked, kPadded, kTopDown, kOffset };

// An empty picture of the given kind and size, laid out as asked.
Picture makePicture(const std::string& depth, int channels, int width, int height, Layout layout);

// The host: it offers the one pixel depth of its pictures.
class Host : public OFX::Host::ImageEffect::Host {
 public:
  explicit Host(const std::string& depth);
  OFX::Host::ImageEffect::Instance* newInstance(void* clientData,
                                                OFX::Host::ImageEffect::ImageEffectPlugin* plugin,
                                                OFX::Host::ImageEffect::Descriptor& desc,
                                                const std::string& context) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(
      OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(
      const OFX::Host::ImageEffect::Descriptor& rootContext,
      OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OFX::Host::ImageEffect::Descriptor* makeDescriptor(
      const std::string& bundlePath, OFX::Host::ImageEffect::ImageEffectPlugin* plugin) override;
  OfxStatus vmessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus setPersistentMessage(const char* type, const char* id, const char* format,
                                 va_list args) override;
  OfxStatus clearPersistentMessage() override { return kOfxStatOK; }
};

// One effect instance with its source picture and the output it renders.
class Effect : public OFX::Host::ImageEffect::Instance {
 public:
  Effect(OFX::Host::ImageEffect::ImageEffectPlugin* plugin,
         OFX::Host::ImageEffect::Descriptor& desc, const std::string& context);

  Picture source;
  std::string sourcePremultiplication = kOfxImageUnPreMultiplied;
  Picture output;

  const std::string& getDefaultOutputFielding() const override;
  OFX::Host::ImageEffect::ClipInstance* newClipInstance(
      OFX::Host::ImageEffect::Instance* plugin, OFX::Host::ImageEffect::ClipDescriptor* descriptor,
      int index) override;
  OFX::Host::Param::Instance* newParam(const std::string& name,
                                       OFX::Host::Param::Descriptor& descriptor) override;
  OfxStatus vmessage(const char* type, const char* id, const char* format, va_list args) override;
  OfxStatus setPersistentMessage(const char* type, const char* id, const char* format,
                                 va_list args) override;
  OfxStatus clearPersistentMessage() override { return kOfxStatOK; }
  void getProjectSize(double& x, double& y) const override;
  void getProjectOffset(double& x, double& y) const override;
  void getProjectExtent(double& x, double& y) const override;
  double getProjectPixelAspectRatio() const override { return 1.0; }
  double getEffectDuration() const override { return 1.0; }
  double getFrameRate() const override { return 25.0; }
  double getFrameRecursive() const override { return 0.0; }
  void getRenderScaleRecursive(double& x, double& y) const override { x = y = 1.0; }
  OfxStatus editBegin(const std::string&) override { return kOfxStatOK; }
  OfxStatus editEnd() override { return kOfxStatOK; }
  void progressStart(const std::string&, const std::string&) override {}
  void progressEnd() override {}
  bool progressUpdate(double) override { return true; }
  double timeLineGetTime() override { return 0.0; }
  void timeLineGotoTime(double) override {}
  void timeLineGetBounds(double& t1, double& t2) override { t1 = t2 = 0.0; }
};

}  // namespace oru_ofx_test
