#include "runner/image_io.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "runner/atomic_file.h"
#include "runner/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

// The module addresses pixels with int arithmetic: keep width x height well inside it.
constexpr long long kMaxPixels = 1LL << 28;

// OpenImageIO repeats the file name in its messages; the runner puts it first
// already. Messages about a temporary file are about the file it becomes.
std::string cleanMessage(std::string message, const std::string& name, const std::string& shown) {
  if (!name.empty()) {
    for (std::size_t at; (at = message.find(name)) != std::string::npos;) {
      message.replace(at, name.size(), shown);
    }
  }
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  std::replace(message.begin(), message.end(), '\n', ' ');
  return message.empty() ? "unknown error" : message;
}

template <typename T>
void readScaled(OIIO::ImageInput& in, const ImageFrame& frame, OIIO::TypeDesc type, float scale,
                std::vector<float>& samples) {
  std::vector<T> raw(samples.size());
  if (!in.read_image(0, 0, 0, frame.spec.nchannels, type, raw.data())) {
    throw HostError(frame.path, "cannot read the pixels: " +
                                    cleanMessage(in.geterror(), frame.path, "the file"));
  }
  // A division, not a multiplication by the reciprocal: a stored byte b must
  // arrive as the float nearest b / 255, which the module turns back into b.
  for (std::size_t i = 0; i < raw.size(); ++i) samples[i] = static_cast<float>(raw[i]) / scale;
}

template <typename T>
std::vector<T> quantise(const std::vector<float>& samples, float scale) {
  std::vector<T> raw(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    float v = samples[i];
    v = std::isnan(v) ? 0.0f : std::min(1.0f, std::max(0.0f, v));
    raw[i] = static_cast<T>(std::lround(v * scale));
  }
  return raw;
}

}  // namespace

ImageFrame readImage(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw HostError(path, "no such file");
  if (fs::is_directory(path, ec)) throw HostError(path, "is a folder, not an image file");

  // Samples as stored: no premultiplying of files that keep unassociated alpha.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) {
    std::string message = OIIO::geterror();
    if (message.find("could not find a format reader") != std::string::npos) {
      throw HostError(path, "cannot read the image: not in a format OpenImageIO knows");
    }
    throw HostError(path, "cannot read the image: " + cleanMessage(message, path, "file"));
  }

  ImageFrame frame;
  frame.path = path;
  frame.spec = in->spec();
  const OIIO::ImageSpec& spec = frame.spec;
  if (spec.deep) throw HostError(path, "deep images are not supported");
  if (spec.width <= 0 || spec.height <= 0 || spec.nchannels <= 0) {
    throw HostError(path, "the image is empty");
  }
  if (spec.depth > 1) throw HostError(path, "volume images are not supported");
  if (static_cast<long long>(spec.width) * spec.height > kMaxPixels) {
    throw HostError(path, "the image is too large (" + std::to_string(spec.width) + " x " +
                              std::to_string(spec.height) + ")");
  }
  frame.width = spec.width;
  frame.height = spec.height;

  std::size_t pixels = static_cast<std::size_t>(frame.width) * frame.height;
  std::size_t channels = static_cast<std::size_t>(spec.nchannels);
  frame.samples.resize(pixels * channels);
  bool single = spec.channelformats.empty();
  if (single && spec.format == OIIO::TypeDesc::UINT8) {
    readScaled<std::uint8_t>(*in, frame, OIIO::TypeDesc::UINT8, 255.0f, frame.samples);
  } else if (single && spec.format == OIIO::TypeDesc::UINT16) {
    readScaled<std::uint16_t>(*in, frame, OIIO::TypeDesc::UINT16, 65535.0f, frame.samples);
  } else if (!in->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT,
                             frame.samples.data())) {
    throw HostError(path, "cannot read the pixels: " + cleanMessage(in->geterror(), path, "file"));
  }
  in->close();

  // Alpha is the channel the file calls alpha; colour the first three others,
  // or the one other channel of a grey file.
  frame.alphaChannel =
      spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels ? spec.alpha_channel : -1;
  std::vector<int> colour;
  for (int c = 0; c < spec.nchannels; ++c) {
    if (c != frame.alphaChannel) colour.push_back(c);
  }
  for (int i = 0; i < 3; ++i) {
    if (colour.size() >= 3) {
      frame.colourChannels[i] = colour[i];
    } else if (!colour.empty()) {
      frame.colourChannels[i] = colour[0];
    }
  }

  for (int p = 0; p < 4; ++p) {
    int channel = p < 3 ? frame.colourChannels[p] : frame.alphaChannel;
    std::vector<float>& plane = frame.planes[p];
    if (channel < 0) {
      plane.assign(pixels, p < 3 ? 0.0f : 1.0f);
      continue;
    }
    plane.resize(pixels);
    for (std::size_t i = 0; i < pixels; ++i) plane[i] = frame.samples[i * channels + channel];
  }
  return frame;
}

bool canWriteFormat(const std::string& path) {
  auto out = OIIO::ImageOutput::create(path);
  if (!out) OIIO::geterror();  // clear the pending message
  return out != nullptr;
}

void writeImage(const std::string& path, const ImageFrame& source,
                const std::vector<float> (&output)[4]) {
  std::error_code ec;
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (fs::is_directory(folder, ec) && access(folder.c_str(), W_OK) != 0) {
    throw HostError(path, "the output folder is not writable");
  }

  replaceFileAtomically(path, [&](const std::string& temporary) {
    auto out = OIIO::ImageOutput::create(temporary);
    if (!out) {
      OIIO::geterror();
      throw HostError(path, "no image format is known for the extension \"" +
                                fs::path(path).extension().string() + "\"");
    }

    // The source's channels, minus alpha when the format cannot hold it.
    const OIIO::ImageSpec& in = source.spec;
    bool keepAlpha = source.hasAlpha() && out->supports("alpha");
    std::vector<int> kept;
    for (int c = 0; c < in.nchannels; ++c) {
      if (c != source.alphaChannel || keepAlpha) kept.push_back(c);
    }

    OIIO::ImageSpec spec = in;
    spec.channelformats.clear();
    spec.nchannels = static_cast<int>(kept.size());
    spec.channelnames.clear();
    spec.alpha_channel = -1;
    for (int k = 0; k < spec.nchannels; ++k) {
      spec.channelnames.push_back(in.channel_name(kept[k]));
      if (kept[k] == source.alphaChannel) spec.alpha_channel = k;
    }
    if (!out->supports("tiles")) spec.tile_width = spec.tile_height = spec.tile_depth = 0;
    spec.attribute("oiio:UnassociatedAlpha", 1);
    // The image library's message for a file it cannot create gives no reason.
    if (FILE* probe = std::fopen(temporary.c_str(), "wb")) {
      std::fclose(probe);
    } else {
      throw HostError(
          path, std::string("cannot create a file in the output folder: ") + std::strerror(errno));
    }
    if (!out->open(temporary, spec)) {
      throw HostError(
          path, "cannot write the image: " + cleanMessage(out->geterror(), temporary, "the file"));
    }

    // The module's planes in place of the channels it saw; the rest as read.
    std::size_t pixels = static_cast<std::size_t>(source.width) * source.height;
    std::size_t inChannels = static_cast<std::size_t>(in.nchannels);
    std::size_t outChannels = kept.size();
    std::vector<float> samples(pixels * outChannels);
    for (std::size_t k = 0; k < outChannels; ++k) {
      int c = kept[k];
      const std::vector<float>* plane = nullptr;
      if (c == source.alphaChannel) plane = &output[3];
      for (int p = 0; p < 3 && !plane; ++p) {
        if (source.colourChannels[p] == c) plane = &output[p];
      }
      for (std::size_t i = 0; i < pixels; ++i) {
        samples[i * outChannels + k] = plane ? (*plane)[i] : source.samples[i * inChannels + c];
      }
    }

    OIIO::TypeDesc written = out->spec().format;
    bool ok;
    if (written == OIIO::TypeDesc::UINT8) {
      ok = out->write_image(written, quantise<std::uint8_t>(samples, 255.0f).data());
    } else if (written == OIIO::TypeDesc::UINT16) {
      ok = out->write_image(written, quantise<std::uint16_t>(samples, 65535.0f).data());
    } else {
      ok = out->write_image(OIIO::TypeDesc::FLOAT, samples.data());
    }
    ok = out->close() && ok;
    if (!ok) {
      throw HostError(
          path, "cannot write the image: " + cleanMessage(out->geterror(), temporary, "the file"));
    }
  });
}

}  // namespace oru_runner
