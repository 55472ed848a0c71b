// What the file tests share: test images made with OpenImageIO, the oru
// program run as a person runs it, and the module driven directly through
// its callbacks as the reference for what a file must hold.
#pragma once

#include <OpenImageIO/imageio.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace oru_file_test {

// Four float planes R, G, B, A of width x height.
struct Planes {
  int width = 0, height = 0;
  std::vector<float> p[4];
};

// Sample c of pixel (x, y) of a test picture, in 0..1: hard-edged diagonal
// shapes (stair-steps for the filter to find) over a background.
using Picture = std::function<float(int x, int y, int c)>;
Picture jaggedPicture(int seed = 0);

// Writes a picture with nchannels channels of the given type. 8- and 16-bit
// samples are stored as round(v x 255) or round(v x 65535).
void makeImage(const std::string& path, int width, int height, int nchannels, OIIO::TypeDesc type,
               const Picture& picture, const OIIO::ImageSpec* extra = nullptr);

// A file as stored: its description and its samples as integers (8, 16 bit)
// or floats (half, float), all channels interleaved.
struct Stored {
  OIIO::ImageSpec layout;
  std::vector<double> samples;
  double at(int x, int y, int c) const {
    return samples[(static_cast<std::size_t>(y) * layout.width + x) * layout.nchannels + c];
  }
};
Stored readStored(const std::string& path);

// The output of the module for one frame, with the settings text
// "target strength threshold", run through its callbacks in this process.
Planes reference(const Planes& input, const std::string& settings);

// The planes the module is given for a stored file (what the runner must hand
// over): samples / 255 or / 65535 as floats, float samples as they are.
Planes planesOf(const Stored& stored, int alphaChannel);

// Runs the oru program with the arguments (a shell command line); gives the
// exit code and what it printed on both streams.
struct OruRun {
  int code = -1;
  std::string output;
};
OruRun runOru(const std::string& arguments);

// The names in folder, sorted.
std::vector<std::string> filesIn(const std::string& folder);

// The test folder name, made once by make(folder) for every test process
// that asks (ctest runs the cases of one suite side by side, each in a
// process of its own): made in a folder of the maker's, then renamed into
// place whole, so that no process sees it half made or has it remade under it.
std::string madeOnce(const std::string& name, const std::function<void(const std::string&)>& make);

// A file's bytes ("" when it cannot be read).
std::string fileBytes(const std::string& path);
// Every regular file in folder, by name, with its bytes.
std::map<std::string, std::string> filesWithBytes(const std::string& folder);
bool contains(const std::string& text, const std::string& part);

// Per-pixel noise that no packing shrinks much (frames slow to write, and
// too large for a small disk); frame picks another noise.
float noise(int x, int y, int c, int frame = 0);

}  // namespace oru_file_test
