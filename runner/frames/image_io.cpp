#include "runner/frames/image_io.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "runner/cli/interrupts.h"
#include "runner/frames/atomic_file.h"
#include "runner/host/host_error.h"

namespace oru_runner {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

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

// Every sample of the file in its stored type.
template <typename T>
std::vector<T> readStored(OIIO::ImageInput& in, ImageFrame& frame, OIIO::TypeDesc type) {
  std::vector<T> raw(static_cast<std::size_t>(frame.width) * frame.height * frame.layout.nchannels);
  Clock::time_point start = Clock::now();
  bool ok = in.read_image(0, 0, 0, frame.layout.nchannels, type, raw.data());
  frame.librarySeconds += secondsSince(start);
  if (!ok) {
    throw HostError(frame.path, "cannot read the pixels: " +
                                    cleanMessage(in.geterror(), frame.path, "the file"));
  }
  return raw;
}

// The stored samples into the four planes, and into frame.samples when the
// file has channels the module does not see.
template <typename T, typename Convert>
void spread(const std::vector<T>& raw, ImageFrame& frame, Convert convert) {
  std::size_t pixels = static_cast<std::size_t>(frame.width) * frame.height;
  std::size_t channels = static_cast<std::size_t>(frame.layout.nchannels);
  for (int p = 0; p < 4; ++p) {
    int channel = p < 3 ? frame.colourChannels[p] : frame.alphaChannel;
    std::vector<float>& plane = frame.planes[p];
    if (channel < 0) {
      plane.assign(pixels, p < 3 ? 0.0f : 1.0f);
      continue;
    }
    plane.resize(pixels);
    const T* from = raw.data() + channel;
    for (std::size_t i = 0; i < pixels; ++i) plane[i] = convert(from[i * channels]);
  }
  bool extra = false;
  for (int c = 0; c < frame.layout.nchannels; ++c) {
    extra = extra || (c != frame.alphaChannel && c != frame.colourChannels[0] &&
                      c != frame.colourChannels[1] && c != frame.colourChannels[2]);
  }
  if (extra) {
    frame.samples.resize(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) frame.samples[i] = convert(raw[i]);
  }
}

// Stored integers as floats: a division, not a multiplication by the
// reciprocal, so that a stored byte b arrives as the float nearest b / 255,
// which the module turns back into b. One table entry per stored value.
template <typename T>
struct ToFloat {
  explicit ToFloat(float scale) {
    static const std::vector<float> values = [scale] {
      std::vector<float> v(std::size_t{std::numeric_limits<T>::max()} + 1);
      for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i) / scale;
      return v;
    }();
    table = values.data();
  }
  float operator()(T v) const { return table[v]; }
  const float* table;
};

// A sample in 0..1 as the nearest stored value (NaN as 0).
template <typename T>
struct Quantise {
  float scale;
  T operator()(float v) const {
    v = std::min(1.0f, std::max(0.0f, v));  // NaN fails both comparisons and becomes 0
    return static_cast<T>(v * scale + 0.5f);
  }
};
struct AsFloat {
  float operator()(float v) const { return v; }
};

// The channels of the output file interleaved: the module's planes in place
// of the channels it saw, the source's samples for the rest.
template <typename T, typename Convert>
std::vector<T> interleave(const ImageFrame& source, const OutputPlanes& output,
                          const std::vector<int>& kept, Convert convert) {
  std::size_t pixels = static_cast<std::size_t>(source.width) * source.height;
  std::size_t inChannels = static_cast<std::size_t>(source.layout.nchannels);
  std::size_t outChannels = kept.size();
  std::vector<T> samples(pixels * outChannels);
  for (std::size_t k = 0; k < outChannels; ++k) {
    int c = kept[k];
    const std::vector<float>* plane = nullptr;
    if (c == source.alphaChannel) plane = output[3];
    for (int p = 0; p < 3 && !plane; ++p) {
      if (source.colourChannels[p] == c) plane = output[p];
    }
    T* to = samples.data() + k;
    if (plane) {
      const float* from = plane->data();
      for (std::size_t i = 0; i < pixels; ++i) to[i * outChannels] = convert(from[i]);
    } else {
      const float* from = source.samples.data() + c;
      for (std::size_t i = 0; i < pixels; ++i) to[i * outChannels] = convert(from[i * inChannels]);
    }
  }
  return samples;
}

}  // namespace

ImageFrame readImage(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) throw HostError(path, "no such file");
  if (fs::is_directory(path, ec)) throw HostError(path, "is a folder, not an image file");

  // Samples as stored: no premultiplying of files that keep unassociated alpha.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  Clock::time_point opening = Clock::now();
  auto in = OIIO::ImageInput::open(path, &config);
  double openSeconds = secondsSince(opening);
  if (!in) {
    std::string message = OIIO::geterror();
    if (message.find("could not find a format reader") != std::string::npos) {
      throw HostError(path, "cannot read the image: not in a format OpenImageIO knows");
    }
    throw HostError(path, "cannot read the image: " + cleanMessage(message, path, "file"));
  }

  ImageFrame frame;
  frame.path = path;
  frame.librarySeconds = openSeconds;
  frame.layout = in->spec();
  const OIIO::ImageSpec& layout = frame.layout;
  if (layout.deep) throw HostError(path, "deep images are not supported");
  if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0) {
    throw HostError(path, "the image is empty");
  }
  if (layout.depth > 1) throw HostError(path, "volume images are not supported");
  if (static_cast<long long>(layout.width) * layout.height > kMaxPixels) {
    throw HostError(path, "the image is too large (" + std::to_string(layout.width) + " x " +
                              std::to_string(layout.height) + ")");
  }
  frame.width = layout.width;
  frame.height = layout.height;

  // Alpha is the channel the file calls alpha; colour the first three others,
  // or the one other channel of a grey file.
  frame.alphaChannel = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels
                           ? layout.alpha_channel
                           : -1;
  std::vector<int> colour;
  for (int c = 0; c < layout.nchannels; ++c) {
    if (c != frame.alphaChannel) colour.push_back(c);
  }
  for (int i = 0; i < 3; ++i) {
    if (colour.size() >= 3) {
      frame.colourChannels[i] = colour[i];
    } else if (!colour.empty()) {
      frame.colourChannels[i] = colour[0];
    }
  }

  bool single = layout.channelformats.empty();
  if (single && layout.format == OIIO::TypeDesc::UINT8) {
    spread(readStored<std::uint8_t>(*in, frame, layout.format), frame,
           ToFloat<std::uint8_t>(255.0f));
  } else if (single && layout.format == OIIO::TypeDesc::UINT16) {
    spread(readStored<std::uint16_t>(*in, frame, layout.format), frame,
           ToFloat<std::uint16_t>(65535.0f));
  } else {
    spread(readStored<float>(*in, frame, OIIO::TypeDesc::FLOAT), frame, [](float v) { return v; });
  }
  in->close();
  return frame;
}

bool canWriteFormat(const std::string& path) {
  // From the library's format lists, not by making a writer: a writer can
  // start the library's threads, and the worker processes are forked later.
  std::string extension = fs::path(path).extension().string();
  if (extension.size() < 2) return false;
  extension.erase(0, 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::string writers = "," + std::string(OIIO::get_string_attribute("output_format_list")) + ",";
  for (const auto& [format, extensions] : OIIO::get_extension_map()) {
    if (writers.find("," + format + ",") == std::string::npos) continue;
    if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) return true;
  }
  return false;
}

double writeImage(const std::string& path, const ImageFrame& source, const OutputPlanes& output) {
  double librarySeconds = 0;
  std::error_code ec;
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  if (fs::is_directory(folder, ec) && access(folder.c_str(), W_OK) != 0) {
    throw HostError(path, "the output folder is not writable");
  }

  replaceFileAtomically(path, [&](const std::string& temporary) {
    TemporaryFileNote note(temporary);
    auto out = OIIO::ImageOutput::create(temporary);
    if (!out) {
      OIIO::geterror();
      throw HostError(path, "no image format is known for the extension \"" +
                                fs::path(path).extension().string() + "\"");
    }

    // The source's channels, minus alpha when the format cannot hold it.
    const OIIO::ImageSpec& in = source.layout;
    bool keepAlpha = source.hasAlpha() && out->supports("alpha");
    std::vector<int> kept;
    for (int c = 0; c < in.nchannels; ++c) {
      if (c != source.alphaChannel || keepAlpha) kept.push_back(c);
    }

    OIIO::ImageSpec layout = in;
    layout.channelformats.clear();
    layout.nchannels = static_cast<int>(kept.size());
    layout.channelnames.clear();
    layout.alpha_channel = -1;
    for (int k = 0; k < layout.nchannels; ++k) {
      layout.channelnames.push_back(in.channel_name(kept[k]));
      if (kept[k] == source.alphaChannel) layout.alpha_channel = k;
    }
    if (!out->supports("tiles")) layout.tile_width = layout.tile_height = layout.tile_depth = 0;
    layout.attribute("oiio:UnassociatedAlpha", 1);
    // The image library's message for a file it cannot create gives no reason.
    if (FILE* probe = std::fopen(temporary.c_str(), "wb")) {
      std::fclose(probe);
    } else {
      throw HostError(
          path, std::string("cannot create a file in the output folder: ") + std::strerror(errno));
    }
    Clock::time_point opening = Clock::now();
    bool opened = out->open(temporary, layout);
    librarySeconds += secondsSince(opening);
    if (!opened) {
      throw HostError(
          path, "cannot write the image: " + cleanMessage(out->geterror(), temporary, "the file"));
    }

    OIIO::TypeDesc written = out->spec().format;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
    std::vector<float> floats;
    const void* data;
    OIIO::TypeDesc given = written;
    if (written == OIIO::TypeDesc::UINT8) {
      bytes = interleave<std::uint8_t>(source, output, kept, Quantise<std::uint8_t>{255.0f});
      data = bytes.data();
    } else if (written == OIIO::TypeDesc::UINT16) {
      words = interleave<std::uint16_t>(source, output, kept, Quantise<std::uint16_t>{65535.0f});
      data = words.data();
    } else {
      floats = interleave<float>(source, output, kept, AsFloat{});
      data = floats.data();
      given = OIIO::TypeDesc::FLOAT;
    }
    Clock::time_point start = Clock::now();
    bool ok = out->write_image(given, data);
    ok = out->close() && ok;
    librarySeconds += secondsSince(start);
    if (!ok) {
      throw HostError(
          path, "cannot write the image: " + cleanMessage(out->geterror(), temporary, "the file"));
    }
  });
  return librarySeconds;
}

}  // namespace oru_runner
