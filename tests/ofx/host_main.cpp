// oru-ofx-test-host: loads the Oru OpenFX bundle from OFX_PLUGIN_PATH (or
// /usr/OFX/Plugins) as a compositor does, and
//   describe                 prints what the effect describes
//   render [OPTIONS] STEP... renders image files through one instance:
//     STEP is IN OUT TARGET THRESHOLD STRENGTH (a render; TARGET 0 RGB,
//     1 Alpha, 2 RGBA) or "new" (the instance destroyed and made again)
//     --layout packed|padded|top-down|offset   how the host lays rows out
//     --premultiplied                          the source clip's colour is
//                                              premultiplied
// A file is shown as a compositor shows it: its top row at the highest y.
// The host offers the one pixel depth of the files (8-bit byte, 16-bit
// short, else float), RGB or RGBA. Exits 1 with a message on any failure.
#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/ofx/test_host.h"

namespace OH = OFX::Host;
using oru_ofx_test::Layout;
using oru_ofx_test::Picture;

namespace {

const char* const kPluginId = "org.oru.Oru";

OIIO::TypeDesc sampleType(const std::string& depth) {
  return depth == kOfxBitDepthByte    ? OIIO::TypeDesc::UINT8
         : depth == kOfxBitDepthShort ? OIIO::TypeDesc::UINT16
                                      : OIIO::TypeDesc::FLOAT;
}

// The samples as stored, the file's top row at the highest y.
Picture readPicture(const std::string& path, Layout layout) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) throw std::runtime_error(path + ": " + OIIO::geterror());
  const OIIO::ImageSpec& stored = in->spec();
  if (stored.nchannels != 3 && stored.nchannels != 4) {
    throw std::runtime_error(path + ": neither RGB nor RGBA");
  }
  const std::string depth = stored.format == OIIO::TypeDesc::UINT8    ? kOfxBitDepthByte
                            : stored.format == OIIO::TypeDesc::UINT16 ? kOfxBitDepthShort
                                                                      : kOfxBitDepthFloat;
  Picture p =
      oru_ofx_test::makePicture(depth, stored.nchannels, stored.width, stored.height, layout);
  const OIIO::stride_t pixel = OIIO::stride_t(p.channels) * p.sampleBytes();
  // Row r of the file at y = y2 - 1 - r: the file's rows run down the plane.
  if (!in->read_image(0, 0, 0, p.channels, sampleType(depth), p.row(p.bounds.y2 - 1), pixel,
                      -p.rowBytes)) {
    throw std::runtime_error(path + ": " + in->geterror());
  }
  return p;
}

void writePicture(const std::string& path, const Picture& p) {
  OIIO::ImageSpec written(p.width(), p.height(), p.channels, sampleType(p.depth));
  if (p.channels == 4) written.attribute("oiio:UnassociatedAlpha", 1);
  auto out = OIIO::ImageOutput::create(path);
  if (!out || !out->open(path, written) ||
      !out->write_image(written.format, p.row(p.bounds.y2 - 1),
                        OIIO::stride_t(p.channels) * p.sampleBytes(), -p.rowBytes) ||
      !out->close()) {
    throw std::runtime_error(path + ": " + (out ? out->geterror() : OIIO::geterror()));
  }
}

void check(OfxStatus status, const char* what) {
  if (status != kOfxStatOK && status != kOfxStatReplyDefault) {
    throw std::runtime_error(std::string(what) + " failed (status " + std::to_string(status) + ")");
  }
}

std::string joined(OH::Property::Set& set, const char* name) {
  std::string text;
  for (int i = 0; i < set.getDimension(name); ++i) {
    text += (i ? " " : "") + set.getStringProperty(name, i);
  }
  return text;
}

void describe(OH::ImageEffect::ImageEffectPlugin& plugin) {
  OH::Property::Set& effect = plugin.getDescriptor().getProps();
  std::cout << "plugin " << plugin.getIdentifier() << " " << plugin.getVersionMajor() << "."
            << plugin.getVersionMinor() << "\nbundle " << plugin.getBinary()->getBundlePath()
            << "\nlabel " << effect.getStringProperty(kOfxPropLabel) << "\ngrouping "
            << effect.getStringProperty(kOfxImageEffectPluginPropGrouping) << "\ncontexts";
  for (const std::string& context : plugin.getContexts()) std::cout << " " << context;
  std::cout << "\ndepths " << joined(effect, kOfxImageEffectPropSupportedPixelDepths) << "\ntiles "
            << effect.getIntProperty(kOfxImageEffectPropSupportsTiles) << "\nthread safety "
            << effect.getStringProperty(kOfxImageEffectPluginRenderThreadSafety) << "\n";
  OH::ImageEffect::Descriptor* filter = plugin.getContext(kOfxImageEffectContextFilter);
  if (!filter) throw std::runtime_error("no Filter context");
  for (const auto& [name, clip] : filter->getClips()) {
    std::cout << "clip " << name << " "
              << joined(clip->getProps(), kOfxImageEffectPropSupportedComponents) << " tiles "
              << clip->getProps().getIntProperty(kOfxImageEffectPropSupportsTiles) << "\n";
  }
  for (OH::Param::Descriptor* param : filter->getParamList()) {
    OH::Property::Set& p = param->getProperties();
    std::cout << "param " << param->getName() << " " << param->getType() << " "
              << p.getStringProperty(kOfxPropLabel) << " default "
              << p.getIntProperty(kOfxParamPropDefault);
    if (param->getType() == kOfxParamTypeChoice) {
      std::cout << " options " << joined(p, kOfxParamPropChoiceOption);
    } else {
      std::cout << " range " << p.getIntProperty(kOfxParamPropMin) << ".."
                << p.getIntProperty(kOfxParamPropMax);
    }
    std::cout << "\n  " << p.getStringProperty(kOfxParamPropHint) << "\n";
  }
}

// One render of the instance: IN into OUT with the settings given.
void render(oru_ofx_test::Effect& effect, const std::vector<std::string>& step, Layout layout) {
  effect.source = readPicture(step[0], layout);
  const char* names[3] = {"target", "threshold", "strength"};
  for (int i = 0; i < 3; ++i) {
    auto* param = dynamic_cast<OH::Param::IntegerInstance*>(effect.getParam(names[i]));
    auto* choice = dynamic_cast<OH::Param::ChoiceInstance*>(effect.getParam(names[i]));
    const int value = std::stoi(step[2 + i]);
    check(param ? param->set(value) : choice ? choice->set(value) : kOfxStatFailed, names[i]);
  }
  if (!effect.getClipPreferences()) throw std::runtime_error("clip preferences failed");
  const OfxPointD scale{1.0, 1.0};
  OfxRectD rod{};
  check(effect.getRegionOfDefinitionAction(0, scale, rod), "region of definition");
  const OfxRectI& b = effect.source.bounds;
  if (rod.x1 != b.x1 || rod.y1 != b.y1 || rod.x2 != b.x2 || rod.y2 != b.y2) {
    throw std::runtime_error("the output's region of definition is not the source's");
  }
  // Whatever part is rendered, the whole source is asked for.
  std::map<OH::ImageEffect::ClipInstance*, OfxRectD> rois;
  const OfxRectD corner{rod.x1, rod.y1, rod.x1 + 2, rod.y1 + 2};
  check(effect.getRegionOfInterestAction(0, scale, corner, rois), "regions of interest");
  for (const auto& [clip, roi] : rois) {
    if (roi.x1 != rod.x1 || roi.y1 != rod.y1 || roi.x2 != rod.x2 || roi.y2 != rod.y2) {
      throw std::runtime_error("the source's region of interest is not the whole source");
    }
  }
  OH::ImageEffect::ClipInstance* output = effect.getClip(kOfxImageEffectOutputClipName);
  effect.output = oru_ofx_test::makePicture(
      output->getPixelDepth(), output->getComponents() == kOfxImageComponentRGB ? 3 : 4,
      b.x2 - b.x1, b.y2 - b.y1, layout);
  check(effect.beginRenderAction(0, 0, 1, false, scale, true, false), "begin render");
  check(effect.renderAction(0, kOfxImageFieldNone, b, scale, true, false, false), "render");
  check(effect.endRenderAction(0, 0, 1, false, scale, true, false), "end render");
  writePicture(step[1], effect.output);
}

std::unique_ptr<oru_ofx_test::Effect> newEffect(OH::ImageEffect::ImageEffectPlugin& plugin,
                                                bool premultiplied) {
  std::unique_ptr<oru_ofx_test::Effect> effect(dynamic_cast<oru_ofx_test::Effect*>(
      plugin.createInstance(kOfxImageEffectContextFilter, nullptr)));
  if (!effect) throw std::runtime_error("no instance in the Filter context");
  effect->sourcePremultiplication =
      premultiplied ? kOfxImagePreMultiplied : kOfxImageUnPreMultiplied;
  check(effect->createInstanceAction(), "create instance");
  return effect;
}

Layout layoutNamed(const std::string& name) {
  if (name == "packed") return Layout::kPacked;
  if (name == "padded") return Layout::kPadded;
  if (name == "top-down") return Layout::kTopDown;
  if (name == "offset") return Layout::kOffset;
  throw std::runtime_error("no layout " + name);
}

// The depth of the first file rendered: the one depth the host offers.
std::string depthOf(const std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "new" && args[i].rfind("--", 0) != 0 && args[i - 1] != "--layout") {
      return readPicture(args[i], Layout::kPacked).depth;
    }
  }
  return kOfxBitDepthFloat;
}

int run(const std::vector<std::string>& args) {
  if (args.empty() || (args[0] != "describe" && args[0] != "render")) {
    throw std::runtime_error("usage: oru-ofx-test-host describe | render [OPTIONS] STEP...");
  }
  oru_ofx_test::Host host(depthOf(args));
  OH::ImageEffect::PluginCache effects(host);
  // The plug-ins are unloaded before the cache of effects goes.
  struct Unload {
    ~Unload() { OH::PluginCache::clearPluginCache(); }
  } unload;
  effects.registerInCache(*OH::PluginCache::getPluginCache());
  OH::PluginCache::getPluginCache()->scanPluginFiles();
  OH::ImageEffect::ImageEffectPlugin* plugin = effects.getPluginById(kPluginId);
  if (!plugin) throw std::runtime_error(std::string("no plug-in ") + kPluginId + " found");
  if (args[0] == "describe") {
    describe(*plugin);
    return 0;
  }
  Layout layout = Layout::kPacked;
  bool premultiplied = false;
  std::size_t i = 1;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--premultiplied") {
      premultiplied = true;
    } else if (args[i] == "--layout" && i + 1 < args.size()) {
      layout = layoutNamed(args[++i]);
    } else {
      throw std::runtime_error("unknown option " + args[i]);
    }
  }
  auto effect = newEffect(*plugin, premultiplied);
  while (i < args.size()) {
    if (args[i] == "new") {
      effect.reset();
      effect = newEffect(*plugin, premultiplied);
      ++i;
      continue;
    }
    if (i + 5 > args.size())
      throw std::runtime_error("a render step is IN OUT TARGET THRESHOLD STRENGTH");
    render(*effect, std::vector<std::string>(args.begin() + i, args.begin() + i + 5), layout);
    i += 5;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "oru-ofx-test-host: " << e.what() << "\n";
    return 1;
  }
}
