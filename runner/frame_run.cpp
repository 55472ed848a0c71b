#include "runner/frame_run.h"

#include "runner/host_error.h"

namespace oru_runner {

namespace {

// Temporary stand-in for the shared frame access record: the current frame
// of this process, reached by callbacks that carry no user data.
struct CurrentFrame {
  int width = 0, height = 0;
  const std::vector<float>* input = nullptr;
  std::vector<float>* output = nullptr;
  long long colourStores = 0, alphaStores = 0;
};
CurrentFrame* current = nullptr;

const float* fetchLine(int lineType, int y) {
  int c = lineType - LINE_RED;
  if (!current || c < 0 || c > 3 || y < 0 || y >= current->height) return nullptr;
  return current->input[c].data() + static_cast<std::size_t>(y) * current->width;
}

bool inside(int x, int y) {
  return current && x >= 0 && y >= 0 && x < current->width && y < current->height;
}

void storeColour(int x, int y, const float* rgb) {
  if (!inside(x, y) || !rgb) return;
  std::size_t i = static_cast<std::size_t>(y) * current->width + x;
  for (int c = 0; c < 3; ++c) current->output[c][i] = rgb[c];
  ++current->colourStores;
}

void storeAlpha(int x, int y, float alpha) {
  if (!inside(x, y)) return;
  current->output[3][static_cast<std::size_t>(y) * current->width + x] = alpha;
  ++current->alphaStores;
}

}  // namespace

void filterFrame(FilterHandle& filter, const std::string& file, int width, int height,
                 const std::vector<float> (&input)[4], std::vector<float> (&output)[4]) {
  std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (auto& plane : output) plane.assign(pixels, 0.0f);
  CurrentFrame frame{width, height, input, output, 0, 0};
  FilterAccess access{};
  access.frameWidth = width;
  access.frameHeight = height;
  access.fetchLine = fetchLine;
  access.storeColour = storeColour;
  access.storeAlpha = storeAlpha;
  current = &frame;
  filter.process(access);
  current = nullptr;
  long long expected = static_cast<long long>(pixels);
  if (frame.colourStores < expected || frame.alphaStores < expected) {
    throw HostError(file, "the module did not store the whole frame (" +
                              std::to_string(frame.colourStores) + " colour and " +
                              std::to_string(frame.alphaStores) + " alpha stores for " +
                              std::to_string(expected) + " pixels); it may be out of memory");
  }
}

}  // namespace oru_runner
