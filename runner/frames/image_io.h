// Image files as the runner hands them to the module: four float planes R,
// G, B, A of one frame, read through OpenImageIO, and the way back into a
// file of the same kind.
#pragma once

#include <OpenImageIO/imageio.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "runner/host/frame_access.h"

namespace oru_runner {

// One frame read from a file. The planes hold the samples as stored: 8- and
// 16-bit samples are divided by 255 or 65535, half and float samples are
// taken as they are (values above 1 and below 0 included). A grey file gives
// the same plane for R, G and B; a file without alpha gets alpha 1.
struct ImageFrame {
  std::string path;
  int width = 0;
  int height = 0;
  std::array<std::vector<float>, 4> planes;  // R, G, B, A: width x height each, row after row

  // What writing the frame back needs: the file's description (channels,
  // data type, metadata) and its samples, for channels the module does not see.
  OIIO::ImageSpec layout;
  std::vector<float> samples;  // all channels interleaved; only kept when some are neither
                               // colour nor alpha
  int colourChannels[3] = {-1, -1, -1};  // file channel of R, G, B (the same one for grey)
  int alphaChannel = -1;                 // -1: the file has no alpha

  double librarySeconds = 0;  // of the reading, the time spent in the image library

  bool hasAlpha() const { return alphaChannel >= 0; }
};

// Reads the first image of the file. Throws HostError naming the file when
// it is missing, not a regular file, unreadable, cut short or damaged, not
// an image, larger than 2^28 pixels or than its size can hold, or when
// there is not enough memory for it.
ImageFrame readImage(const std::string& path);

// Attributes for the image library's writer, NAME=VALUE as given on the
// command line ("png:compressionLevel=3", "compression=piz"): a value that
// reads as a whole integer is an int, as a number a float, else a string.
using WriteAttributes = std::vector<std::pair<std::string, std::string>>;

// How a PNG is written unless the attributes say otherwise: a fast zlib
// level (a noisy render packs barely smaller at the library's default of 6,
// and takes twice as long as the module to do it).
extern const WriteAttributes kPngWriteDefaults;

// Throws a HostError unless every attribute keeps the samples written as
// they are: a compression the writer for outputPath's format does not know,
// or one that is lossy (OpenEXR's dwaa, TIFF's jpeg), is refused, and so
// are the attributes that change the samples (oiio:BitsPerSample,
// oiio:dither). A lossy format's own quality (jpeg:90) is taken. Also
// refuses the term format, which writes to the terminal.
void checkWriteAttributes(const std::string& outputPath, const WriteAttributes& attributes);

// Runs the module for the output file path: produce is handed the sink for
// the module's stores, which go straight into the file's samples in the shape
// of source (its channels, data type and metadata, unless the format chosen
// by the name of path cannot hold them; then the nearest it can hold). The
// file is made before produce runs and appears whole or not at all: every
// write, the flush to the disk and the close are checked before it takes its
// name; when anything fails or produce throws, nothing is left. Throws
// HostError naming path (a full disk: "cannot write the image: no space left
// on device"; no memory: "not enough memory for a W x H frame"). Gives the
// seconds spent in the image library. Alpha stays associated (colour
// premultiplied) or not as in source; a format that holds straight alpha
// only, as PNG does, has associated colour divided by alpha.
double writeImage(const std::string& path, const ImageFrame& source,
                  const WriteAttributes& attributes,
                  const std::function<void(FrameSink& sink)>& produce);

// True when OpenImageIO has a writer for the extension of path.
bool canWriteFormat(const std::string& path);

}  // namespace oru_runner
