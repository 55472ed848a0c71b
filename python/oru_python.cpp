// The Python module oru: the filter on NumPy arrays, through the host kit.
// Samples reach the module as the oru command line hands them over and come
// back quantised as it writes them, so an 8-bit array comes back exactly as
// `oru filter` writes the same 8-bit file.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "doors/file_samples.h"
#include "runner/host/kit.h"

namespace py = pybind11;

namespace {

// The module every filter is made with; replaced by oru.load_module. Read
// and written with the GIL held.
std::shared_ptr<oru_kit::Module> currentModule;

// Instances oru.smooth has finished with, kept for its next calls: making
// an instance and its first frame's buffers costs some 5 % of a frame.
// Nothing of an earlier frame reaches a later one's output (a host's
// instance lives from frame to frame too). Used with the GIL held.
std::vector<std::unique_ptr<oru_kit::Filter>> idleFilters;
constexpr std::size_t kMostIdleFilters = 4;

// An idle instance of the current module, or a new one.
std::unique_ptr<oru_kit::Filter> takeFilter() {
  while (!idleFilters.empty()) {
    std::unique_ptr<oru_kit::Filter> filter = std::move(idleFilters.back());
    idleFilters.pop_back();
    if (&filter->module() == currentModule.get()) return filter;
  }
  return std::make_unique<oru_kit::Filter>(currentModule);
}

void keepIdle(std::unique_ptr<oru_kit::Filter> filter) {
  if (&filter->module() == currentModule.get() && idleFilters.size() < kMostIdleFilters) {
    idleFilters.push_back(std::move(filter));
  }
}

template <typename T>
using Samples = oru_doors::FileSamples<T>;

// An image's layout: height, width, channels (1 grey, 3 RGB, 4 RGBA) and
// the byte strides of rows, columns and channels.
struct Layout {
  py::ssize_t height = 0, width = 0, channels = 1;
  py::ssize_t rowStride = 0, columnStride = 0, channelStride = 0;
};

std::string shapeText(const py::array& image) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < image.ndim(); ++d) {
    text += (d ? ", " : "") + std::to_string(image.shape(d));
  }
  return text + (image.ndim() == 1 ? ",)" : ")");
}

Layout layoutOf(const py::array& image) {
  const int ndim = static_cast<int>(image.ndim());
  const bool channelsOk = ndim == 2 || (ndim == 3 && (image.shape(2) == 3 || image.shape(2) == 4));
  if (!channelsOk) {
    throw py::value_error("oru: an image of shape " + shapeText(image) +
                          " is not accepted; give H x W (grey), H x W x 3 (RGB) or "
                          "H x W x 4 (RGBA)");
  }
  Layout l;
  l.height = image.shape(0);
  l.width = image.shape(1);
  l.channels = ndim == 3 ? image.shape(2) : 1;
  l.rowStride = image.strides(0);
  l.columnStride = image.strides(1);
  l.channelStride = ndim == 3 ? image.strides(2) : 0;
  if (l.height < 1 || l.width < 1 || l.height > INT_MAX || l.width > INT_MAX) {
    throw py::value_error("oru: an image of shape " + shapeText(image) +
                          " is not accepted; give at least one row and one column");
  }
  return l;
}

// The module's stores into a new C-ordered array of the input's layout.
template <typename T>
class ArrayStores : public oru_kit::Stores {
 public:
  ArrayStores(T* samples, py::ssize_t channels)
      : samples_(samples), channels_(static_cast<std::size_t>(channels)) {}
  void colour(std::size_t pixel, const float* rgb) override {
    T* at = samples_ + pixel * channels_;
    const std::size_t colours = std::min<std::size_t>(channels_, 3);  // grey takes R
    for (std::size_t c = 0; c < colours; ++c) at[c] = Samples<T>::out(rgb[c]);
  }
  void alpha(std::size_t pixel, float alpha) override {
    if (channels_ == 4) samples_[pixel * 4 + 3] = Samples<T>::out(alpha);
  }

 private:
  T* samples_;
  std::size_t channels_;
};

// One pixel of Channels samples, channelStride bytes apart, into the planes
// at i: grey as R = G = B, alpha 1 where the image has none.
template <typename T, int Channels>
inline void readPixel(const char* pixel, py::ssize_t channelStride, float* const planes[4],
                      std::size_t i) {
  auto sample = [&](int c) {
    return Samples<T>::in(*reinterpret_cast<const T*>(pixel + c * channelStride));
  };
  const float r = sample(0);
  planes[0][i] = r;
  planes[1][i] = Channels >= 3 ? sample(1) : r;
  planes[2][i] = Channels >= 3 ? sample(2) : r;
  planes[3][i] = Channels == 4 ? sample(3) : 1.0f;
}

// The image into four planes; rows of packed pixels take a loop whose
// strides the compiler knows.
template <typename T, int Channels>
void readPlanes(const char* from, const Layout& l, std::array<std::vector<float>, 4>& planes) {
  float* const to[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
  constexpr py::ssize_t size = sizeof(T);
  const bool packed =
      l.columnStride == Channels * size && (Channels == 1 || l.channelStride == size);
  std::size_t i = 0;
  for (py::ssize_t y = 0; y < l.height; ++y) {
    const char* row = from + y * l.rowStride;
    if (packed) {
      for (py::ssize_t x = 0; x < l.width; ++x, ++i) {
        readPixel<T, Channels>(row + x * Channels * size, size, to, i);
      }
    } else {
      for (py::ssize_t x = 0; x < l.width; ++x, ++i) {
        readPixel<T, Channels>(row + x * l.columnStride, l.channelStride, to, i);
      }
    }
  }
}

template <typename T>
py::array smoothAs(oru_kit::Filter& filter, const py::array& image) {
  const Layout l = layoutOf(image);
  std::vector<py::ssize_t> shape(image.shape(), image.shape() + image.ndim());
  py::array_t<T> result(shape);
  const char* from = static_cast<const char*>(image.data());
  T* to = result.mutable_data();
  {
    py::gil_scoped_release unlocked;
    const std::size_t pixels = static_cast<std::size_t>(l.height) * l.width;
    std::array<std::vector<float>, 4> planes;
    for (auto& plane : planes) plane.resize(pixels);
    switch (l.channels) {
      case 1:
        readPlanes<T, 1>(from, l, planes);
        break;
      case 3:
        readPlanes<T, 3>(from, l, planes);
        break;
      default:
        readPlanes<T, 4>(from, l, planes);
        break;
    }
    ArrayStores<T> stores(to, l.channels);
    filter.process(static_cast<int>(l.width), static_cast<int>(l.height), std::move(planes),
                   stores);
  }
  return result;
}

py::array smoothImage(oru_kit::Filter& filter, const py::handle& given) {
  py::array image = py::array::ensure(given);
  if (!image) throw py::type_error("oru: the image must be a NumPy array");
  const py::dtype type = image.dtype();
  if (type.is(py::dtype::of<std::uint8_t>())) return smoothAs<std::uint8_t>(filter, image);
  if (type.is(py::dtype::of<std::uint16_t>())) return smoothAs<std::uint16_t>(filter, image);
  if (type.is(py::dtype::of<float>())) return smoothAs<float>(filter, image);
  if (type.is(py::dtype::of<double>())) return smoothAs<double>(filter, image);
  throw py::type_error("oru: an image of dtype " +
                       std::string(py::str(static_cast<const py::handle&>(type))) +
                       " is not accepted; give uint8, uint16, float32 or float64");
}

int targetNumber(const std::string& name) {
  int target = oru_kit::targetFromName(name);
  if (target < 0) {
    throw py::value_error("oru: target '" + name + "' is not accepted; give rgb, alpha or rgba");
  }
  return target;
}

// One filter instance and the module it was made with.
struct Filter {
  Filter(const std::string& target, int threshold, int strength)
      : filter(std::make_unique<oru_kit::Filter>(currentModule)) {
    filter->setSettings({targetNumber(target), threshold, strength});
  }
  oru_kit::Settings settings() const { return filter->settings(); }
  void change(const std::function<void(oru_kit::Settings&)>& edit) {
    oru_kit::Settings s = settings();
    edit(s);
    filter->setSettings(s);
  }
  std::unique_ptr<oru_kit::Filter> filter;
};

void loadModule(py::module_& m, const std::string& path) {
  currentModule = std::make_shared<oru_kit::Module>(path);
  idleFilters.clear();
  m.attr("module_path") = currentModule->path();
}

const char* const kModuleDoc = R"(oru - smooth the jagged edges of rendered frames

SYNOPSIS
    import oru
    smoothed = oru.smooth(image, target="rgba", threshold=224, strength=100)

    f = oru.Filter(target="rgb", threshold=200)
    for frame in frames:
        out = f.smooth(frame)

DESCRIPTION
    The oru filter module (oru.p), loaded as its host loads it, on NumPy
    arrays. An image is H x W (grey), H x W x 3 (RGB) or H x W x 4 (RGBA), of
    dtype uint8, uint16, float32 or float64, contiguous or not. The result
    is a new array of the same shape and dtype; the input never changes.

    Samples reach the module as the oru command line hands them over: 8-bit
    and 16-bit samples over 255 and 65535, floats as they are, grey as equal
    R, G and B, alpha 1 where the image has none. Results are written back
    as `oru filter` writes a file of the same type: integers clamped to 0..1,
    scaled and rounded; floats as the module stores them.

    The module's work runs without the GIL; calls into the module are
    serialised process-wide, so threads may call smooth at the same time.

SETTINGS
    target      "rgb", "alpha" or "rgba": what is smoothed
    threshold   0 to 255, edge sensitivity: two pixels differ where a channel
                differs by more than 256 - threshold (higher finds more edges)
    strength    0 to 100: how much of the smoothing is applied

ERRORS
    TypeError   an image of a dtype not accepted
    ValueError  an image of a shape not accepted; settings out of range
    OSError     a module file that cannot be loaded (oru.load_module)
    ImportError no module file found or loadable at import
    RuntimeError, MemoryError  the module did not store the whole frame

MODULE FILE
    oru.p beside this extension, else the installed lib/oru/oru.p;
    oru.module_path names the file in use, oru.load_module(path) loads another.)";

}  // namespace

#ifndef ORU_VERSION
#define ORU_VERSION "0"
#endif
#ifndef ORU_BUILD_MODULE_PATH
#define ORU_BUILD_MODULE_PATH ""
#endif
#ifndef ORU_PYTHON_MODULE_DIR
#define ORU_PYTHON_MODULE_DIR "../../oru"
#endif

PYBIND11_MODULE(oru, m) {
  m.doc() = kModuleDoc;
  m.attr("__version__") = ORU_VERSION;

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const oru_kit::Error& e) {
      PyObject* type = e.kind() == oru_kit::Error::kSettings ? PyExc_ValueError
                       : e.kind() == oru_kit::Error::kModule ? PyExc_OSError
                                                             : PyExc_RuntimeError;
      PyErr_SetString(type, e.what());
    }
  });

  const std::string path = oru_kit::findModule(reinterpret_cast<const void*>(&loadModule),
                                               ORU_PYTHON_MODULE_DIR, ORU_BUILD_MODULE_PATH);
  try {
    loadModule(m, path);
  } catch (const oru_kit::Error& e) {
    throw py::import_error(std::string("oru: cannot load the module: ") + e.what());
  }
  // Unloaded before the interpreter ends, not by a static destructor.
  py::module_::import("atexit").attr("register")(py::cpp_function([]() {
    idleFilters.clear();
    currentModule.reset();
  }));

  m.def(
      "load_module", [m](const std::string& file) mutable { loadModule(m, file); }, py::arg("path"),
      "Uses the module file at path from now on (filters made before keep\n"
      "theirs). OSError names the file when it cannot be loaded.");

  m.def(
      "smooth",
      [](const py::object& image, const std::string& target, int threshold, int strength) {
        std::unique_ptr<oru_kit::Filter> filter = takeFilter();
        filter->setSettings({targetNumber(target), threshold, strength});
        py::array smoothed = smoothImage(*filter, image);
        keepIdle(std::move(filter));
        return smoothed;
      },
      py::arg("image"), py::arg("target") = "rgba", py::arg("threshold") = 224,
      py::arg("strength") = 100,
      "The image smoothed: a new array of the same shape and dtype. Each call\n"
      "is a frame of its own; nothing of one call reaches another's result.");

  py::class_<Filter>(m, "Filter",
                     "One filter instance, living from frame to frame of a sequence as\n"
                     "in the host. Use one Filter from one thread at a time.")
      .def(py::init<const std::string&, int, int>(), py::arg("target") = "rgba",
           py::arg("threshold") = 224, py::arg("strength") = 100)
      .def(
          "smooth",
          [](Filter& f, const py::object& image) { return smoothImage(*f.filter, image); },
          py::arg("image"), "The next frame, smoothed: a new array.")
      .def_property(
          "target", [](const Filter& f) { return oru_kit::targetName(f.settings().target); },
          [](Filter& f, const std::string& name) {
            int target = targetNumber(name);
            f.change([&](oru_kit::Settings& s) { s.target = target; });
          },
          "What is smoothed: 'rgb', 'alpha' or 'rgba'.")
      .def_property(
          "threshold", [](const Filter& f) { return f.settings().threshold; },
          [](Filter& f, int v) { f.change([&](oru_kit::Settings& s) { s.threshold = v; }); },
          "Edge sensitivity, 0 to 255: two pixels differ where a channel differs\n"
          "by more than 256 - threshold (higher finds more edges).")
      .def_property(
          "strength", [](const Filter& f) { return f.settings().strength; },
          [](Filter& f, int v) { f.change([&](oru_kit::Settings& s) { s.strength = v; }); },
          "How much of the smoothing is applied, 0 to 100.")
      .def_property(
          "settings_block",
          [](const Filter& f) {
            oru_kit::Block block = f.filter->block();
            return py::bytes(block.data(), block.size());
          },
          [](Filter& f, const py::bytes& given) {
            std::string bytes = given;
            if (bytes.size() != oru_kit::kBlockSize) {
              throw py::value_error("oru: a settings block of " + std::to_string(bytes.size()) +
                                    " bytes is not accepted; give " +
                                    std::to_string(oru_kit::kBlockSize));
            }
            oru_kit::Block block{};
            std::copy(bytes.begin(), bytes.end(), block.begin());
            f.filter->setBlock(block);
          },
          "The saved settings block (120 bytes), as oru filter --settings reads\n"
          "and --save-settings writes it.")
      .def_property_readonly(
          "module_path", [](const Filter& f) { return f.filter->module().path(); },
          "The module file this filter was made with.")
      .def("__repr__", [](const Filter& f) {
        oru_kit::Settings s = f.settings();
        return "oru.Filter(target='" + oru_kit::targetName(s.target) +
               "', threshold=" + std::to_string(s.threshold) +
               ", strength=" + std::to_string(s.strength) + ")";
      });
}
