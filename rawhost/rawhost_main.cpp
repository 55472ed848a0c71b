// oru_rawhost: a console host without image files. It loads a module the way
// the host application does (the library, _mod_descrip, Startup, both
// servers), creates one filter instance, and for every frame of a frames file
// loads the frame's settings block, processes the frame and saves the
// settings again; the outputs and saved blocks go to a results file.
//
//   oru_rawhost [--odd-float-mode] MODULE FRAMES RESULTS
//
// The same program is built natively and for 32-bit Windows, so that the two
// builds of the module can be given the same frames and their results compared.
// --odd-float-mode runs the module with the floating-point unit rounding
// toward zero, and on 32-bit Windows with the x87 unit at single precision:
// the module's results must not depend on the mode the host left it in.
#include <array>
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

#include "rawhost/raw_frames.h"
#include "runner/host/kit.h"

namespace {

using namespace oru_rawhost;

// The module's stores, kept as float planes.
class PlaneStores : public oru_kit::Stores {
 public:
  explicit PlaneStores(RawPlanes& planes) : planes_(planes) {}
  void colour(std::size_t pixel, const float* rgb) override {
    for (int c = 0; c < 3; ++c) planes_.planes[c][pixel] = rgb[c];
  }
  void alpha(std::size_t pixel, float alpha) override { planes_.planes[3][pixel] = alpha; }

 private:
  RawPlanes& planes_;
};

RawResult processFrame(oru_kit::Filter& filter, const RawFrame& in) {
  RawResult result;
  result.resize(in.width, in.height);
  PlaneStores stores(result);
  std::array<std::vector<float>, 4> planes;
  for (int c = 0; c < 4; ++c) planes[c] = in.planes[c];
  filter.setBlock(in.settings);
  const oru_kit::FrameCalls calls = filter.run(in.width, in.height, std::move(planes), stores);
  result.colourStores = static_cast<std::uint32_t>(calls.colourStores);
  result.alphaStores = static_cast<std::uint32_t>(calls.alphaStores);
  result.rowFetches = static_cast<std::uint32_t>(calls.rowFetches);
  result.saved = filter.block();
  return result;
}

int run(const std::string& modulePath, const std::string& framesPath,
        const std::string& resultsPath) {
  std::vector<RawFrame> frames = readFramesFile(framesPath);
  std::vector<RawResult> results;
  {
    oru_kit::Filter filter(std::make_shared<oru_kit::Module>(modulePath));
    for (const RawFrame& frame : frames) results.push_back(processFrame(filter, frame));
  }
  writeResultsFile(resultsPath, results);
  return 0;
}

void setOddFloatMode() {
  std::fesetround(FE_TOWARDZERO);
#if defined(_WIN32) && defined(__i386__)
  _controlfp(_PC_24, _MCW_PC);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--odd-float-mode") == 0) {
    setOddFloatMode();
    first = 2;
  }
  if (argc - first != 3) {
    std::fprintf(stderr, "usage: oru_rawhost [--odd-float-mode] MODULE FRAMES RESULTS\n");
    return 2;
  }
  try {
    return run(argv[first], argv[first + 1], argv[first + 2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru_rawhost: %s\n", e.what());
  }
  return 1;
}
