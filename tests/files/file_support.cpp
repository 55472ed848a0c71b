#include "tests/files/file_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "runner/host/filter_instance.h"
#include "runner/host/frame_access.h"
#include "runner/host/host_services.h"
#include "runner/host/loaded_module.h"
#include "runner/host/settings_block.h"
#include "tests/test_support.h"

namespace oru_file_test {

Picture jaggedPicture(int seed) {
  return [seed](int x, int y, int c) -> float {
    // A steep and a shallow edge, a disc and a matte that follows them.
    bool wedge = 3 * (x - seed) > 2 * y;
    bool band = y > x / 3 + 4 && y < x / 3 + 9;
    bool disc = (x - 12) * (x - 12) + (y - 18) * (y - 18) < 40;
    if (c == 3) return wedge || disc ? 1.0f : 0.25f;
    static const float colours[4][3] = {
        {0.1f, 0.2f, 0.3f}, {0.9f, 0.6f, 0.1f}, {0.2f, 0.8f, 0.4f}, {1.0f, 1.0f, 1.0f}};
    int k = disc ? 3 : band ? 2 : wedge ? 1 : 0;
    return colours[k][c];
  };
}

void makeImage(const std::string& path, int width, int height, int nchannels, OIIO::TypeDesc type,
               const Picture& picture, const OIIO::ImageSpec* extra) {
  OIIO::ImageSpec layout(width, height, nchannels, type);
  if (extra) layout.extra_attribs = extra->extra_attribs;
  if (nchannels == 2 || nchannels == 4) {
    layout.alpha_channel = nchannels - 1;
    layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  std::vector<float> samples(static_cast<std::size_t>(width) * height * nchannels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < nchannels; ++c) {
        int pc = nchannels <= 2 ? (c == nchannels - 1 && nchannels == 2 ? 3 : 0) : c;
        float v = picture(x, y, pc);
        if (type == OIIO::TypeDesc::UINT8) v = std::round(v * 255.0f) / 255.0f;
        if (type == OIIO::TypeDesc::UINT16) v = std::round(v * 65535.0f) / 65535.0f;
        samples[(static_cast<std::size_t>(y) * width + x) * nchannels + c] = v;
      }
    }
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << OIIO::geterror();
  ASSERT_TRUE(out->open(path, layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, samples.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

Stored readStored(const std::string& path) {
  Stored stored;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in) return stored;
  stored.layout = in->spec();
  std::size_t n = static_cast<std::size_t>(stored.layout.image_pixels()) * stored.layout.nchannels;
  OIIO::TypeDesc type = stored.layout.format;
  if (type == OIIO::TypeDesc::UINT8) {
    std::vector<unsigned char> raw(n);
    EXPECT_TRUE(in->read_image(0, 0, 0, stored.layout.nchannels, type, raw.data()));
    stored.samples.assign(raw.begin(), raw.end());
  } else if (type == OIIO::TypeDesc::UINT16) {
    std::vector<unsigned short> raw(n);
    EXPECT_TRUE(in->read_image(0, 0, 0, stored.layout.nchannels, type, raw.data()));
    stored.samples.assign(raw.begin(), raw.end());
  } else {
    std::vector<float> raw(n);
    EXPECT_TRUE(
        in->read_image(0, 0, 0, stored.layout.nchannels, OIIO::TypeDesc::FLOAT, raw.data()));
    stored.samples.assign(raw.begin(), raw.end());
  }
  return stored;
}

Planes planesOf(const Stored& stored, int alphaChannel) {
  Planes planes;
  planes.width = stored.layout.width;
  planes.height = stored.layout.height;
  double scale = stored.layout.format == OIIO::TypeDesc::UINT8    ? 255.0
                 : stored.layout.format == OIIO::TypeDesc::UINT16 ? 65535.0
                                                                  : 1.0;
  int colour = stored.layout.nchannels - (alphaChannel >= 0 ? 1 : 0);
  for (int p = 0; p < 4; ++p) {
    int c = p == 3 ? alphaChannel : (colour >= 3 ? p : 0);
    for (int y = 0; y < planes.height; ++y) {
      for (int x = 0; x < planes.width; ++x) {
        planes.p[p].push_back(
            c < 0 ? 1.0f : static_cast<float>(stored.at(x, y, c)) / static_cast<float>(scale));
      }
    }
  }
  return planes;
}

Planes reference(const Planes& input, const std::string& settings) {
  oru_runner::LoadedModule module(oru_test::moduleFile());
  module.activateHandler(oru_runner::hostLookup);
  oru_runner::FilterHandle instance(module);
  instance.load(oru_runner::settingsBlockFromText(settings));
  Planes out;
  out.width = input.width;
  out.height = input.height;
  oru_runner::HostFrame frame(input.width, input.height);
  for (int c = 0; c < 4; ++c) frame.input(c) = input.p[c];
  frame.run([&](const FilterAccess& access) { instance.process(access); });
  for (int c = 0; c < 4; ++c) out.p[c] = frame.output(c);
  return out;
}

OruRun runOru(const std::string& arguments) {
  OruRun run;
  run.output = oru_test::commandOutput(
      "timeout 120 " + std::string(ORU_PROGRAM) + " filter " + arguments + " 2>&1", &run.code);
  return run;
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string madeOnce(const std::string& name, const std::function<void(const std::string&)>& make) {
  namespace fs = std::filesystem;
  const std::string folder = std::string(ORU_TEST_TMP_DIR) + "/" + name;
  if (fs::exists(folder + "/.made")) return folder;
  const std::string mine = folder + ".making-" + std::to_string(getpid());
  fs::remove_all(mine);
  fs::create_directories(mine);
  make(mine);
  std::ofstream(mine + "/.made") << "";
  std::error_code ec;
  // A folder without the mark was left by a maker that died.
  if (fs::exists(folder) && !fs::exists(folder + "/.made")) fs::remove_all(folder);
  fs::rename(mine, folder, ec);
  if (ec) fs::remove_all(mine);
  return folder;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> filesWithBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().filename()] = fileBytes(entry.path());
  }
  return files;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

float noise(int x, int y, int c, int frame) {
  // Unsigned arithmetic: the products wrap around by design.
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  std::uint32_t h = u(x) * 73856093u ^ u(y) * 19349663u ^ u(c) * 83492791u ^ u(frame) * 2654435761u;
  h ^= h >> 13;
  h *= 0x5bd1e995;
  return static_cast<float>((h >> 15) & 255) / 255.0f;
}

}  // namespace oru_file_test
