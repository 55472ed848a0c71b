// The GEGL operation oru:smooth (gegl, GIMP): the filter on a whole GEGL
// buffer through the host kit. The scan follows whole lines, so the
// operation asks for the whole input whatever part of the output is wanted
// and computes the whole output at once. The module is handed the image in
// its own encoding, as the oru command line hands over a file's samples as
// stored: perceptual data stays perceptual, linear data linear, premultiplied
// colour premultiplied; 8-bit buffers go over as the command line reads an
// 8-bit file and come back quantised as it writes one.
#ifdef GEGL_PROPERTIES
// GEGL's property list, not C++ statements: clang-format leaves it be.
// clang-format off

enum_start(oru_smooth_target)
  enum_value(ORU_SMOOTH_TARGET_RGB, "rgb", "RGB")
  enum_value(ORU_SMOOTH_TARGET_ALPHA, "alpha", "Alpha")
  enum_value(ORU_SMOOTH_TARGET_RGBA, "rgba", "RGBA")
enum_end(OruSmoothTarget)

property_enum(target, "Target", OruSmoothTarget, oru_smooth_target, ORU_SMOOTH_TARGET_RGBA)
  description("Which channels are smoothed: the colour, the alpha matte, or both")

property_int(threshold, "Threshold", 224)
  description("Edge sensitivity: two neighbouring pixels count as different when one "
              "channel differs by more than 256 - threshold (in 8-bit steps). Higher "
              "finds fainter edges; 0 finds none")
  value_range(0, 255)

property_int(strength, "Strength", 100)
  description("How far the pixels on both sides of a stair-step are blended toward "
              "the neighbouring line, in percent")
  value_range(0, 100)

// clang-format on
#else

#define GEGL_OP_FILTER
#define GEGL_OP_NAME oru_smooth
#define GEGL_OP_C_SOURCE oru_smooth.cpp

// The enum's labels go through gettext (Oru has no translations of them),
// which gegl-op.h expects declared before it.
#define GETTEXT_PACKAGE "oru"
// clang-format off
#include <glib/gi18n-lib.h>
#include <gegl-op.h>
// clang-format on

#include <memory>
#include <mutex>
#include <string>

#include "doors/gegl/buffer_frame.h"
#include "runner/host/kit.h"

#ifndef ORU_BUILD_MODULE_PATH
#define ORU_BUILD_MODULE_PATH ""
#endif
#ifndef ORU_GEGL_MODULE_DIR
#define ORU_GEGL_MODULE_DIR "../../oru"
#endif

namespace {

// The module, loaded on the first frame and kept while the plug-in is.
std::shared_ptr<oru_kit::Module> loadedModule() {
  static std::mutex lock;
  static std::shared_ptr<oru_kit::Module> module;
  std::lock_guard<std::mutex> hold(lock);
  if (!module) {
    module = std::make_shared<oru_kit::Module>(oru_kit::findModule(
        reinterpret_cast<const void*>(&loadedModule), ORU_GEGL_MODULE_DIR, ORU_BUILD_MODULE_PATH));
  }
  return module;
}

void prepare(GeglOperation* operation) {
  const Babl* format =
      oru_gegl::workingFormat(gegl_operation_get_source_format(operation, "input"));
  gegl_operation_set_format(operation, "input", format);
  gegl_operation_set_format(operation, "output", format);
}

GeglRectangle inputBox(GeglOperation* operation) {
  const GeglRectangle* box = gegl_operation_source_get_bounding_box(operation, "input");
  return box ? *box : GeglRectangle{0, 0, 0, 0};
}

// Any part of the output needs the whole input, and a change anywhere in the
// input can move the smoothing anywhere along its lines.
GeglRectangle wholeImage(GeglOperation* operation, const gchar*, const GeglRectangle*) {
  return inputBox(operation);
}

GeglRectangle wholeOutput(GeglOperation* operation, const GeglRectangle*) {
  return inputBox(operation);
}

gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output,
                 const GeglRectangle*, gint) {
  const GeglRectangle box = inputBox(operation);
  if (box.width <= 0 || box.height <= 0) return TRUE;
  GeglProperties* o = GEGL_PROPERTIES(operation);
  try {
    oru_kit::Filter filter(loadedModule());
    filter.setSettings({static_cast<int>(o->target), o->threshold, o->strength});
    oru_gegl::smoothBuffer(filter, input, output, box,
                           gegl_operation_get_format(operation, "output"));
  } catch (const std::exception& e) {
    g_warning("oru:smooth: %s", e.what());
    return FALSE;
  }
  return TRUE;
}

}  // namespace

static void gegl_op_class_init(GeglOpClass* klass) {
  GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
  GeglOperationFilterClass* filter_class = GEGL_OPERATION_FILTER_CLASS(klass);
  operation_class->prepare = prepare;
  operation_class->get_required_for_output = wholeImage;
  operation_class->get_invalidated_by_change = wholeImage;
  operation_class->get_cached_region = wholeOutput;
  operation_class->threaded = FALSE;  // one call sees the whole image
  operation_class->want_in_place = FALSE;
  filter_class->process = process;
  gegl_operation_class_set_keys(
      operation_class, "name", "oru:smooth", "title", "Oru Smooth Edges", "categories",
      "enhance:antialias", "description",
      "Finds the jagged stair-steps of edges and blends them away, in colour, alpha or both",
      nullptr);
}

#endif
