// Image files as the runner hands them to the module: four float planes R,
// G, B, A of one frame, read through OpenImageIO, and the way back into a
// file of the same kind.
#pragma once

#include <OpenImageIO/imageio.h>

#include <array>
#include <string>
#include <vector>

namespace oru_runner {

// One frame read from a file. The planes hold the samples as stored: 8- and
// 16-bit samples are divided by 255 or 65535, half and float samples are
// taken as they are (values above 1 and below 0 included). A grey file gives
// the same plane for R, G and B; a file without alpha gets alpha 1.
struct ImageFrame {
  std::string path;
  int width = 0;
  int height = 0;
  std::vector<float> planes[4];  // R, G, B, A: width x height each, row after row

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
// it is missing, unreadable, corrupt or not an image.
ImageFrame readImage(const std::string& path);

// The module's output planes R, G, B, A, each width x height.
using OutputPlanes = std::array<const std::vector<float>*, 4>;

// Writes the module's output planes in the
// shape of source: its channels, data type and metadata, unless the format
// chosen by the name of path (its extension) cannot hold them, in which case
// the nearest the format can hold. The file appears whole or not at all.
// Throws HostError naming path. Gives the seconds spent in the image library.
double writeImage(const std::string& path, const ImageFrame& source, const OutputPlanes& output);

// True when OpenImageIO has a writer for the extension of path.
bool canWriteFormat(const std::string& path);

}  // namespace oru_runner
