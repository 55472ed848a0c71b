#include "runner/panel/panel_picture.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <new>
#include <vector>

#include "runner/frames/atomic_file.h"
#include "runner/host/host_error.h"

namespace oru_runner {

namespace {

using OIIO::ImageBuf;
using OIIO::ROI;
namespace IBA = OIIO::ImageBufAlgo;

const float kInk[3] = {0.1f, 0.1f, 0.1f};
const float kFace[3] = {0.93f, 0.93f, 0.93f};
const float kShade[3] = {0.55f, 0.55f, 0.55f};
const float kMark[3] = {0.2f, 0.35f, 0.7f};
const float kGreyed[3] = {0.6f, 0.6f, 0.6f};
constexpr int kFontSize = 12;
const char kFont[] = "DejaVuSans";

class Painter {
 public:
  explicit Painter(ImageBuf& image) : image_(image) {}

  void fill(int x, int y, int w, int h, const float* colour) {
    if (w > 0 && h > 0) IBA::fill(image_, {colour, 3}, ROI(x, x + w, y, y + h, 0, 1, 0, 3));
  }
  void frame(int x, int y, int w, int h, const float* colour) {
    if (w > 0 && h > 0) IBA::render_box(image_, x, y, x + w - 1, y + h - 1, {colour, 3});
  }
  // Text with its top-left corner at (x, y).
  void text(int x, int y, const std::string& s, const float* colour) {
    if (!s.empty())
      IBA::render_text(image_, x, y + kFontSize - 2, s, kFontSize, kFont, {colour, 3});
  }
  void box(int x, int y, int w, int h, const float* ink) {
    fill(x, y, w, h, kFace);
    frame(x, y, w, h, ink);
  }
  void check(int x, int y, bool on, const float* ink) {
    box(x, y, 12, 12, ink);
    if (on) fill(x + 3, y + 3, 6, 6, kMark);
  }
  void slider(int x, int y, int w, int value, int lo, int hi, const float* ink) {
    fill(x, y + 8, w, 3, kShade);
    const int span = std::max(1, hi - lo);
    const int at = x + (std::clamp(value, lo, hi) - lo) * (w - 8) / span;
    box(at, y + 2, 8, 15, ink);
  }

 private:
  ImageBuf& image_;
};

std::string itemOr(const std::vector<std::string>& items, int index) {
  if (index >= 0 && index < static_cast<int>(items.size())) return items[index];
  return std::to_string(index);
}

void drawXPanel(Painter& p, const XPanelModel& xp, int x, int y, int w, const float* ink) {
  p.frame(x + 2, y + 2, w - 4, 96, kShade);
  int row = y + 8;
  for (const auto& c : xp.controls) {
    const int id = c.id;
    auto found = xp.values.find(id);
    const int value = found == xp.values.end() ? 0 : found->second;
    const std::string label = c.label ? c.label : "";
    const std::string cls = c.controlClass ? c.controlClass : "";
    p.text(x + 10, row + 3, label, ink);
    const int field = x + 90;
    if (cls == "iBoolean") {
      p.check(field, row + 4, value != 0, ink);
    } else if (xp.choices.count(id)) {
      p.box(field, row + 1, 80, 18, ink);
      p.text(field + 5, row + 4, itemOr(xp.choices.at(id), value), ink);
      p.text(field + 68, row + 4, "v", ink);
    } else {
      auto range = xp.ranges.find(id);
      const int lo = range == xp.ranges.end() ? 0 : range->second.first;
      const int hi = range == xp.ranges.end() ? 100 : range->second.second;
      p.box(field, row + 1, 44, 18, ink);
      p.text(field + 5, row + 4, std::to_string(value), ink);
      p.slider(field + 52, row, 160, value, lo, hi, ink);
    }
    row += 22;
  }
}

void drawControl(Painter& p, const ControlModel& c) {
  if (c.state == ControlState::Hidden || c.state == ControlState::Created) return;
  const float* ink = c.state == ControlState::Disabled ? kGreyed : kInk;
  const std::string& type = c.typeName;
  if (type == "XPanelControl") {
    if (c.xpanel) drawXPanel(p, *static_cast<const XPanelModel*>(c.xpanel), c.x, c.y, 324, ink);
  } else if (type == "PopupControl") {
    p.box(c.x, c.y, c.width, c.height, ink);
    p.text(c.x + 5, c.y + 3, itemOr(c.items, c.value), ink);
    p.text(c.x + c.width - 12, c.y + 3, "v", ink);
  } else if (type == "HSlideControl") {
    p.slider(c.x, c.y, c.width, c.value, c.minimum, c.maximum, ink);
    p.text(c.x + c.width + 4, c.y + 3, std::to_string(c.value), ink);
  } else if (type == "ButtonControl") {
    p.box(c.x, c.y, c.width, 20, ink);
    p.text(c.x + 6, c.y + 3, c.label, ink);
  } else if (type == "BoolControl") {
    p.check(c.x, c.y + 4, c.value != 0, ink);
    p.text(c.x + 16, c.y + 3, c.label, ink);
  } else if (type == "DragAreaControl") {
    // The module paints the area itself; a line around it shows where it is.
    p.frame(c.x - 1, c.y - 1, c.width + 2, c.height + 2, kShade);
  } else {
    p.frame(c.x, c.y, std::max(c.width, 20), std::max(c.height, 20), ink);
    p.text(c.x + 3, c.y + 3, c.label.empty() ? type : c.label, ink);
  }
}

}  // namespace

Picture renderPanelPicture(const PanelModel& panel) {
  Picture picture;
  picture.width = panel.width;
  picture.height = panel.height;
  if (panel.width <= 0 || panel.height <= 0) return picture;

  OIIO::ImageSpec layout(panel.width, panel.height, 3, OIIO::TypeDesc::UINT8);
  ImageBuf image(layout);
  image.set_pixels(ROI(0, panel.width, 0, panel.height, 0, 1, 0, 3), OIIO::TypeDesc::UINT8,
                   panel.pixels.data());
  Painter painter(image);
  for (const auto& c : panel.controls) drawControl(painter, *c);

  picture.rgb.resize(static_cast<std::size_t>(panel.width) * panel.height * 3);
  image.get_pixels(ROI(0, panel.width, 0, panel.height, 0, 1, 0, 3), OIIO::TypeDesc::UINT8,
                   picture.rgb.data());
  return picture;
}

void savePicturePng(const Picture& picture, const std::string& path) {
  // Made in memory (a picture of a dialog is small), then written whole,
  // every write, the flush to the disk and the close checked.
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput memory(bytes);
  auto out = OIIO::ImageOutput::create("png");
  if (!out) throw HostError(path, "no PNG writer: " + OIIO::geterror());
  OIIO::ImageSpec layout(picture.width, picture.height, 3, OIIO::TypeDesc::UINT8);
  try {
    if (!out->set_ioproxy(&memory) || !out->open(path, layout) ||
        !out->write_image(OIIO::TypeDesc::UINT8, picture.rgb.data()) || !out->close()) {
      throw HostError(path, "cannot write the picture: " + out->geterror());
    }
  } catch (const std::bad_alloc&) {
    throw HostError(path, "not enough memory for the picture");
  }
  writeFileAtomically(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace oru_runner
