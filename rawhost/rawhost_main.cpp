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
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

#include "rawhost/raw_frames.h"
#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_error.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"

namespace {

using namespace oru_rawhost;

RawResult processFrame(oru_runner::FilterHandle& filter, const RawFrame& in) {
  oru_runner::HostFrame frame(in.width, in.height);
  for (int c = 0; c < 4; ++c) frame.input(c) = in.planes[c];
  filter.load(in.settings);
  frame.run([&](const FilterAccess& access) { filter.process(access); });

  RawResult result;
  result.width = in.width;
  result.height = in.height;
  for (int c = 0; c < 4; ++c) result.planes[c] = frame.output(c);
  result.colourStores = static_cast<std::uint32_t>(frame.colourStores());
  result.alphaStores = static_cast<std::uint32_t>(frame.alphaStores());
  result.rowFetches = static_cast<std::uint32_t>(frame.rowFetches());
  result.saved = filter.save();
  return result;
}

int run(const std::string& modulePath, const std::string& framesPath,
        const std::string& resultsPath) {
  std::vector<RawFrame> frames = readFramesFile(framesPath);
  std::vector<RawResult> results;
  {
    oru_runner::LoadedModule module(modulePath);
    module.activateHandler(oru_runner::hostLookup);
    module.activateInterface(oru_runner::hostLookup);
    oru_runner::FilterHandle filter(module);
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
  } catch (const oru_runner::HostError& e) {
    std::fprintf(stderr, "oru_rawhost: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "oru_rawhost: %s\n", e.what());
  }
  return 1;
}
