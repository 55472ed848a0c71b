#include "runner/frames/image_io.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/strutil.h>
#include <fcntl.h>
#include <sys/stat.h>
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
#include <new>

#include "runner/cli/interrupts.h"
#include "runner/frames/atomic_file.h"
#include "runner/frames/image_streams.h"
#include "runner/frames/input_file.h"
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
  message = printableText(message);
  return message.empty() ? "unknown error" : message;
}

std::string frameSize(int width, int height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Rows read at a time: enough for the image library to work in large
// pieces, small beside the planes so that no second copy of the frame is held.
constexpr std::size_t kStripBytes = std::size_t{2} << 20;

// Every sample of the file into the four planes, and into frame.samples
// when the file has channels the module does not see, reading the stored
// type strip by strip (a tiled file in one piece). False when the reader
// fails.
template <typename T, typename Convert>
bool readPixels(OIIO::ImageInput& in, ImageFrame& frame, OIIO::TypeDesc type, Convert convert) {
  const OIIO::ImageSpec& layout = frame.layout;
  std::size_t width = static_cast<std::size_t>(frame.width);
  std::size_t pixels = width * frame.height;
  std::size_t channels = static_cast<std::size_t>(layout.nchannels);
  bool extra = false;
  for (int c = 0; c < layout.nchannels; ++c) {
    extra = extra || (c != frame.alphaChannel && c != frame.colourChannels[0] &&
                      c != frame.colourChannels[1] && c != frame.colourChannels[2]);
  }
  if (extra) frame.samples.resize(pixels * channels);
  for (int p = 0; p < 4; ++p) {
    int channel = p < 3 ? frame.colourChannels[p] : frame.alphaChannel;
    if (channel < 0) {
      frame.planes[p].assign(pixels, p < 3 ? 0.0f : 1.0f);
    } else {
      frame.planes[p].resize(pixels);
    }
  }

  std::size_t rowSamples = width * channels;
  int strip = layout.tile_width > 0 ? frame.height
                                    : static_cast<int>(std::clamp<std::size_t>(
                                          kStripBytes / (rowSamples * sizeof(T)), 1, frame.height));
  std::vector<T> raw(rowSamples * strip);
  for (int top = 0; top < frame.height; top += strip) {
    int rows = std::min(strip, frame.height - top);
    Clock::time_point start = Clock::now();
    bool ok = layout.tile_width > 0 ? in.read_image(0, 0, 0, layout.nchannels, type, raw.data())
                                    : in.read_scanlines(0, 0, layout.y + top, layout.y + top + rows,
                                                        0, 0, layout.nchannels, type, raw.data());
    frame.librarySeconds += secondsSince(start);
    if (!ok) return false;
    std::size_t first = static_cast<std::size_t>(top) * width;
    std::size_t count = static_cast<std::size_t>(rows) * width;
    for (int p = 0; p < 4; ++p) {
      int channel = p < 3 ? frame.colourChannels[p] : frame.alphaChannel;
      if (channel < 0) continue;
      float* to = frame.planes[p].data() + first;
      const T* from = raw.data() + channel;
      for (std::size_t i = 0; i < count; ++i) to[i] = convert(from[i * channels]);
    }
    if (extra) {
      float* to = frame.samples.data() + first * channels;
      for (std::size_t i = 0; i < count * channels; ++i) to[i] = convert(raw[i]);
    }
  }
  return true;
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

// The output file's samples interleaved in its stored type, filled by the
// module's stores as they come; the channels the module does not see are
// taken from the source. They are made at the first store: the module has
// then let go of the memory it smooths with, and they can take its place.
template <typename T, typename Convert>
class OutputSamples : public FrameSink {
 public:
  // kept: the source's channels that the file holds, in order.
  OutputSamples(const ImageFrame& source, const std::vector<int>& kept, Convert convert)
      : source_(source), kept_(kept), convert_(convert) {
    // A grey file's one channel takes the module's R.
    for (std::size_t k = 0; k < kept.size(); ++k) {
      int c = kept[k];
      int plane = c == source.alphaChannel ? 3 : -1;
      for (int p = 0; p < 3 && plane < 0; ++p) {
        if (source.colourChannels[p] == c) plane = p;
      }
      if (plane >= 0) offsets_[plane] = static_cast<int>(k);
    }
  }

  void colour(std::size_t pixel, const float* rgb) override {
    T* at = samples() + pixel * kept_.size();
    for (int p = 0; p < 3; ++p) {
      if (offsets_[p] >= 0) at[offsets_[p]] = convert_(rgb[p]);
    }
  }
  void alpha(std::size_t pixel, float alpha) override {
    if (offsets_[3] >= 0) samples()[pixel * kept_.size() + offsets_[3]] = convert_(alpha);
  }

  T* samples() {
    if (samples_.empty()) make();
    return samples_.data();
  }

 private:
  void make() {
    std::size_t pixels = static_cast<std::size_t>(source_.width) * source_.height;
    std::size_t channels = kept_.size();
    std::size_t inChannels = static_cast<std::size_t>(source_.layout.nchannels);
    samples_.resize(pixels * channels);
    for (std::size_t k = 0; k < channels; ++k) {
      if (std::find(std::begin(offsets_), std::end(offsets_), static_cast<int>(k)) !=
          std::end(offsets_)) {
        continue;
      }
      T* to = samples_.data() + k;
      const float* from = source_.samples.data() + kept_[k];
      for (std::size_t i = 0; i < pixels; ++i) to[i * channels] = convert_(from[i * inChannels]);
    }
  }

  const ImageFrame& source_;
  const std::vector<int>& kept_;
  Convert convert_;
  int offsets_[4] = {-1, -1, -1, -1};  // channel of R, G, B, A in a pixel, -1: not kept
  std::vector<T> samples_;
};

// The module's output through sink, then into the open file out.
template <typename T, typename Convert>
bool writeSamples(OIIO::ImageOutput& out, OIIO::TypeDesc given, const ImageFrame& source,
                  const std::vector<int>& kept, Convert convert,
                  const std::function<void(FrameSink&)>& produce, double& librarySeconds) {
  OutputSamples<T, Convert> sink(source, kept, convert);
  produce(sink);
  LibraryMessages quiet;
  Clock::time_point start = Clock::now();
  bool ok = out.write_image(given, sink.samples());
  librarySeconds += secondsSince(start);
  return ok;
}

// NAME=VALUE as an attribute of layout, typed as WriteAttributes says.
void setAttribute(OIIO::ImageSpec& layout, const std::string& name, const std::string& value) {
  char* end = nullptr;
  errno = 0;
  long whole = std::strtol(value.c_str(), &end, 10);
  if (!value.empty() && *end == '\0' && errno == 0 && whole >= INT32_MIN && whole <= INT32_MAX) {
    layout.attribute(name, static_cast<int>(whole));
    return;
  }
  float number = std::strtof(value.c_str(), &end);
  if (!value.empty() && *end == '\0') {
    layout.attribute(name, number);
  } else {
    layout.attribute(name, value);
  }
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The image library's name of the format the extension of path stands for,
// among the formats of the list ("input_format_list", "output_format_list");
// "" when none.
std::string formatOf(const std::string& path, const char* list) {
  // From the library's format lists, not by making a reader or writer: that
  // can start the library's threads, and the worker processes are forked later.
  std::string extension = lowerCase(fs::path(path).extension().string());
  if (extension.size() < 2) return "";
  extension.erase(0, 1);
  std::string formats = "," + std::string(OIIO::get_string_attribute(list)) + ",";
  for (const auto& [format, extensions] : OIIO::get_extension_map()) {
    if (formats.find("," + format + ",") == std::string::npos) continue;
    if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end()) {
      return format;
    }
  }
  return "";
}

// An input file as this process opened it: a regular file (a FIFO or a
// device is refused before anything waits on it), read through the
// descriptor it was checked by, so that the name cannot change under it.
class InputStream {
 public:
  explicit InputStream(const std::string& path) {
    requireRegularFile(path);
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throw HostError(path, "cannot read the image: " + errorText(errno));
    struct stat about {};
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &about) != 0 || !S_ISREG(about.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || !(file_ = fdopen(fd, "rb"))) {
      close(fd);
      throw HostError(path, "is not a regular file");
    }
    bytes = static_cast<std::uint64_t>(about.st_size);
    proxy = std::make_unique<OIIO::Filesystem::IOFile>(file_, OIIO::Filesystem::IOProxy::Read);
    // For readers that take no proxy: the same open file, by a name.
    procName = "/proc/self/fd/" + std::to_string(fd);
  }
  ~InputStream() {
    proxy.reset();
    std::fclose(file_);
  }
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // The file's first size bytes, wherever its reader is.
  bool read(void* data, std::size_t size) const {
    return pread(fileno(file_), data, size, 0) == static_cast<ssize_t>(size);
  }

  std::unique_ptr<OIIO::Filesystem::IOFile> proxy;
  std::string procName;
  std::uint64_t bytes = 0;

 private:
  FILE* file_ = nullptr;
};

// A reader of path opened on stream: the reader its extension names first,
// then every other one, as the image library does for a file named wrongly.
std::unique_ptr<OIIO::ImageInput> openReader(const std::string& path, InputStream& stream) {
  std::string named = formatOf(path, "input_format_list");
  std::vector<std::string> formats{named};
  for (const std::string& format :
       OIIO::Strutil::splits(OIIO::get_string_attribute("input_format_list"), ",")) {
    // The null reader makes an image of nothing; it is for the name only.
    if (format != named && format != "null") formats.push_back(format);
  }
  std::string problem;
  for (const std::string& format : formats) {
    if (format.empty()) continue;
    auto in = OIIO::ImageInput::create(format);
    if (!in) {
      OIIO::geterror();
      continue;
    }
    OIIO::ImageSpec config, layout;
    config.attribute("oiio:UnassociatedAlpha", 1);  // samples as stored
    std::string name = stream.procName;
    if (in->supports("ioproxy")) {
      stream.proxy->seek(0);
      void* proxy = stream.proxy.get();
      config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
      name = path;
    }
    if (in->open(name, layout, config)) return in;
    std::string error =
        cleanMessage(cleanMessage(in->geterror(), path, "file"), stream.procName, "file");
    if (format == named) problem = error;
  }
  if (problem.empty()) problem = "not in a format OpenImageIO knows";
  throw HostError(path, "cannot read the image: " + problem);
}

// The header's claim of width x height against the file's size: the fewest
// bytes the pixels can be packed into, by what the format allows, must fit
// in the file. Checked before any memory is taken for the pixels.
void checkClaimedSize(const std::string& path, const OIIO::ImageInput& in,
                      const OIIO::ImageSpec& layout, const InputStream& stream) {
  const std::uint64_t width = static_cast<std::uint64_t>(layout.width);
  const std::uint64_t height = static_cast<std::uint64_t>(layout.height);
  const std::string format = in.format_name();
  std::uint64_t least = 0;
  if (format == "png") {
    // The filtered rows (a filter byte and the samples at the bit depth of
    // the header), which deflate packs at best some 1032 bytes into one.
    static const unsigned kSamples[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
    unsigned char header[26] = {};
    if (stream.read(header, sizeof header) && header[25] < 7) {
      std::uint64_t bits = std::uint64_t{header[24]} * kSamples[header[25]];
      least = (1 + (width * bits + 7) / 8) * height / 1100;
    }
  } else if (format == "jpeg") {
    // Huffman coding spends a bit at least on each 8 x 8 block of the
    // component sampled most finely: 512 pixels a byte at most.
    least = width * height / 1024;
  } else if (lowerCase(layout.get_string_attribute("compression")) == "none") {
    // Samples as they are: one of each pixel at least (a palette's index).
    int bits = layout.get_int_attribute("oiio:BitsPerSample", 0);
    for (int c = 0; bits == 0 && c < layout.nchannels; ++c) {
      bits = static_cast<int>(layout.channelformat(c).size() * 8);
    }
    least = width * height * static_cast<std::uint64_t>(bits) / 8;
  }
  if (least > stream.bytes) {
    throw HostError(path, "cannot read the image: it claims " +
                              frameSize(layout.width, layout.height) + " pixels, more than its " +
                              std::to_string(stream.bytes) +
                              " bytes can hold; the file is damaged");
  }
}

// The image's first frame, read as readImage says.
void readFrame(const std::string& path, ImageFrame& frame) {
  InputStream stream(path);
  LibraryMessages quiet;  // the libraries' lines: the error below says it once
  Clock::time_point opening = Clock::now();
  std::unique_ptr<OIIO::ImageInput> in = openReader(path, stream);
  frame.librarySeconds = secondsSince(opening);
  frame.path = path;
  frame.layout = in->spec();
  const OIIO::ImageSpec& layout = frame.layout;
  if (layout.deep) throw HostError(path, "deep images are not supported");
  if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0) {
    throw HostError(path, "the image is empty");
  }
  if (layout.depth > 1) throw HostError(path, "volume images are not supported");
  if (static_cast<long long>(layout.width) * layout.height > kMaxPixels) {
    throw HostError(path, "the image is too large (" + frameSize(layout.width, layout.height) +
                              "; at most " + std::to_string(kMaxPixels) + " pixels)");
  }
  checkClaimedSize(path, *in, layout, stream);
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
  bool ok;
  if (single && layout.format == OIIO::TypeDesc::UINT8) {
    ok = readPixels<std::uint8_t>(*in, frame, layout.format, ToFloat<std::uint8_t>(255.0f));
  } else if (single && layout.format == OIIO::TypeDesc::UINT16) {
    ok = readPixels<std::uint16_t>(*in, frame, layout.format, ToFloat<std::uint16_t>(65535.0f));
  } else {
    ok = readPixels<float>(*in, frame, OIIO::TypeDesc::FLOAT, AsFloat{});
  }
  // A reader that meets the end of a cut file, or damaged data, may fill
  // the rest and only note the problem (libjpeg does).
  if (!ok || in->has_error()) {
    std::string message = in->geterror();
    if (message.empty()) message = quiet.lastLine();
    throw HostError(path, "cannot read the pixels: " + cleanMessage(message, path, "the file"));
  }
  in->close();
}

// The samples a format writer holds when they are not straight alpha: its
// files keep colour unassociated from alpha (it divides by alpha).
bool keepsStraightAlpha(const std::string& format) {
  return format == "png" || format == "targa";
}

// The compressions a writer takes for "compression": those that keep the
// samples, those that keep some sample types only (checked once the type
// written is known), and those known to change them. NAME:N (a level or a
// quality) counts as NAME. The lossy formats' own choices count as keeping
// the samples: those change whatever is chosen.
struct Compressions {
  const char* format;
  const char* lossless;
  const char* someTypes;  // said after the lossless ones
  const char* lossy;
};
const Compressions kCompressions[] = {
    {"openexr", "none rle zips zip piz", "pxr24 b44 b44a", "dwaa dwab"},
    {"tiff", "none lzw zip packbits", "", "jpeg ccittrle"},
    {"png", "default filtered huffman rle fixed", "", ""},
    {"targa", "none rle", "", ""},
    {"iff", "none rle", "", ""},
    {"sgi", "none rle", "", ""},
    {"jpeg", "jpeg", "", ""},
    {"webp", "webp lossless", "", ""},
    {"heif", "heic avif", "", ""},
};

bool listed(const char* names, const std::string& name) {
  return (" " + std::string(names) + " ").find(" " + name + " ") != std::string::npos;
}

std::string commaList(const std::string& names) {
  std::string text = names;
  for (std::size_t at = 0; (at = text.find(' ', at)) != std::string::npos; at += 2) {
    text.replace(at, 1, ", ");
  }
  return text;
}

// The compression's name, without a :N level.
std::string compressionName(const std::string& value) {
  return lowerCase(value.substr(0, value.find(':')));
}

// An OpenEXR compression that keeps some sample types only: pxr24 keeps 24
// of a float's 32 bits, b44 and b44a pack half samples lossily.
void checkCompressionFor(const std::string& format, OIIO::TypeDesc written,
                         const WriteAttributes& attributes) {
  if (format != "openexr") return;
  for (const auto& [name, value] : attributes) {
    if (lowerCase(name) != "compression") continue;
    std::string chosen = compressionName(value);
    bool changes = (chosen == "pxr24" && written == OIIO::TypeDesc::FLOAT) ||
                   ((chosen == "b44" || chosen == "b44a") && written == OIIO::TypeDesc::HALF);
    if (changes) {
      throw HostError("--write-attribute " + name + "=" + value,
                      "would change the samples of this " + std::string(written.c_str()) +
                          " image (" + chosen + " is lossy for them)");
    }
  }
}

// The module's output for source written into the open temporary file
// through out: the samples in the stored type, or as floats when the writer
// divides colour by alpha (so that it rounds once).
bool writeFrame(OIIO::ImageOutput& out, const ImageFrame& source, const std::vector<int>& kept,
                bool asFloat, const std::function<void(FrameSink&)>& produce,
                double& librarySeconds) {
  OIIO::TypeDesc written = out.spec().format;
  if (!asFloat && written == OIIO::TypeDesc::UINT8) {
    return writeSamples<std::uint8_t>(out, written, source, kept, Quantise<std::uint8_t>{255.0f},
                                      produce, librarySeconds);
  }
  if (!asFloat && written == OIIO::TypeDesc::UINT16) {
    return writeSamples<std::uint16_t>(out, written, source, kept,
                                       Quantise<std::uint16_t>{65535.0f}, produce, librarySeconds);
  }
  return writeSamples<float>(out, OIIO::TypeDesc::FLOAT, source, kept, AsFloat{}, produce,
                             librarySeconds);
}

// A writer that writes the file by its name may not report a failed write
// (OpenImageIO's TIFF writer drops libtiff's errors at close). A trial
// write past the file's end, taken back at once, tells whether the disk
// and the file size limit leave room: 0, or the error number of the write.
int trialWrite(int fd) {
  static const std::vector<char> zeros(std::size_t{1} << 16);
  struct stat about {};
  if (fstat(fd, &about) != 0) return errno;
  int error = 0;
  for (off_t at = about.st_size; at < about.st_size + static_cast<off_t>(zeros.size());) {
    ssize_t written = pwrite(fd, zeros.data(), zeros.size() - (at - about.st_size), at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = written < 0 ? errno : ENOSPC;
      break;
    }
    at += written;
  }
  if (ftruncate(fd, about.st_size) != 0 && error == 0) error = errno;
  return error;
}

// Throws unless the file a writer wrote by its name reads back whole; the
// error of the trial write is the cause given.
void checkReadsBack(const std::string& path, const std::string& temporary, int error) {
  LibraryMessages quiet;
  auto in = OIIO::ImageInput::open(temporary);
  std::vector<float> samples;
  bool ok = in != nullptr;
  if (ok) {
    const OIIO::ImageSpec& layout = in->spec();
    samples.resize(static_cast<std::size_t>(layout.image_pixels()) * layout.nchannels);
    ok = in->read_image(0, 0, 0, layout.nchannels, OIIO::TypeDesc::FLOAT, samples.data()) &&
         !in->has_error();
  }
  if (!ok) {
    if (!in) OIIO::geterror();
    throw HostError(path, "cannot write the image: " + errorText(error));
  }
}

}  // namespace

ImageFrame readImage(const std::string& path) {
  ImageFrame frame;
  try {
    readFrame(path, frame);
  } catch (const std::bad_alloc&) {
    throw HostError(path, frame.width > 0 ? "not enough memory for a " +
                                                frameSize(frame.width, frame.height) + " frame"
                                          : "not enough memory to read the image");
  }
  return frame;
}

bool canWriteFormat(const std::string& path) {
  return !formatOf(path, "output_format_list").empty();
}

void checkWriteAttributes(const std::string& outputPath, const WriteAttributes& attributes) {
  std::string format = formatOf(outputPath, "output_format_list");
  if (format == "term") {
    throw HostError(outputPath, "the term format writes to the terminal, not to a file");
  }
  for (const auto& [name, value] : attributes) {
    std::string given = "--write-attribute " + name + "=" + value;
    std::string key = lowerCase(name);
    if (key == "oiio:bitspersample" || key == "oiio:dither" || key == "oiio:unassociatedalpha" ||
        key == "oiio:ioproxy") {
      throw HostError(given, "would change the samples written (or where they go); not taken");
    }
    if (key != "compression" || format.empty()) continue;
    const Compressions* known = nullptr;
    for (const Compressions& c : kCompressions) {
      if (format == c.format) known = &c;
    }
    if (!known) throw HostError(given, "the " + format + " writer has no compression to choose");
    std::string chosen = compressionName(value);
    std::size_t colon = value.find(':');
    bool level = colon == std::string::npos ||
                 (colon + 1 < value.size() &&
                  value.find_first_not_of("0123456789", colon + 1) == std::string::npos);
    std::string lossless = commaList(known->lossless);
    if (*known->someTypes) {
      lossless += "; pxr24 but for float samples, b44 and b44a but for half ones";
    }
    if (listed(known->lossy, chosen)) {
      throw HostError(given, "would change the samples written (" + chosen +
                                 " is lossy); lossless for " + format + ": " + lossless);
    }
    if (!(listed(known->lossless, chosen) || listed(known->someTypes, chosen)) || !level) {
      throw HostError(given,
                      "not a compression the " + format + " writer knows (lossless: " + lossless +
                          (*known->lossy ? "; lossy: " : "") + commaList(known->lossy) + ")");
    }
  }
}

const WriteAttributes kPngWriteDefaults = {{"png:compressionLevel", "2"}, {"png:filter", "8"}};

double writeImage(const std::string& path, const ImageFrame& source,
                  const WriteAttributes& attributes,
                  const std::function<void(FrameSink& sink)>& produce) {
  checkWriteAttributes(path, attributes);
  double librarySeconds = 0;
  auto made = OIIO::ImageOutput::create(path);
  if (!made) {
    OIIO::geterror();
    throw HostError(path, "no image format is known for the extension \"" +
                              fs::path(path).extension().string() + "\"");
  }
  const std::string format = made->format_name();

  // The source's channels, minus alpha when the format cannot hold it.
  const OIIO::ImageSpec& in = source.layout;
  bool keepAlpha = source.hasAlpha() && made->supports("alpha");
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
  if (!made->supports("tiles")) layout.tile_width = layout.tile_height = layout.tile_depth = 0;
  // Alpha stays as the input had it: a file without the mark keeps colour
  // associated (premultiplied), as OpenEXR always does. A writer whose
  // format keeps straight alpha then divides by alpha; a TIFF is marked.
  bool associated = keepAlpha && in.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
  if (associated) {
    layout.erase_attribute("oiio:UnassociatedAlpha");
  } else {
    layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  if (format == "png") {
    for (const auto& [name, value] : kPngWriteDefaults) setAttribute(layout, name, value);
  }
  for (const auto& [name, value] : attributes) setAttribute(layout, name, value);

  try {
    std::string temporary = temporaryNameBeside(path);
    TemporaryFileNote note(temporary);
    FileReplacement file(path, temporary, "the image");
    // The writer goes before the proxy it writes to, and both before the file.
    FileWriteProxy proxy(file.descriptor());
    std::unique_ptr<OIIO::ImageOutput> out = std::move(made);
    // Through a proxy, OpenImageIO 2.4's TIFF writer loses the chain of
    // directories when it adds an Exif one: libtiff writes the file by its
    // name, and reports a failed write (not at the close: see trialWrite).
    bool proxied = out->supports("ioproxy") && format != "tiff";
    if (proxied) out->set_ioproxy(&proxy);
    bool ok;
    {
      LibraryMessages quiet;
      Clock::time_point opening = Clock::now();
      ok = out->open(temporary, layout);
      librarySeconds += secondsSince(opening);
    }
    if (ok) {
      checkCompressionFor(format, out->spec().format, attributes);
      ok = writeFrame(*out, source, kept, associated && keepsStraightAlpha(format), produce,
                      librarySeconds);
      LibraryMessages quiet;
      Clock::time_point closing = Clock::now();
      ok = out->close() && ok;
      librarySeconds += secondsSince(closing);
    }
    // The disk's own error tells more than what the library made of it.
    int error = proxied ? proxy.finish() : trialWrite(file.descriptor());
    if (error != 0 && (proxied || !ok)) file.fail(error);
    if (!ok) {
      throw HostError(
          path, "cannot write the image: " + cleanMessage(out->geterror(), temporary, "the file"));
    }
    // A full disk or file size limit now: the writer may have met it unawares.
    if (error != 0) checkReadsBack(path, temporary, error);
    file.commit(0);
  } catch (const std::bad_alloc&) {
    throw HostError(path,
                    "not enough memory for a " + frameSize(source.width, source.height) + " frame");
  }
  return librarySeconds;
}

}  // namespace oru_runner
