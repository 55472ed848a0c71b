// The twelve pixel routines: read or write, one of three stores, colour or
// alpha. Every routine clamps its coordinates into its store (edge
// replication) before it touches memory.
//   B: the working planes    F: the host's frame    P: the preview planes
#pragma once

#include "filter/oru.h"

extern "C" {
ORU_EXPORT void readB(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void readF(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void readP(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void readB_a(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void readF_a(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void readP_a(FilterInstance* instance, int x, int y, Pixel* out);
ORU_EXPORT void writeB(const FilterAccess* access, FilterInstance* instance, int x, int y,
                       const Pixel* in);
ORU_EXPORT void writeF(const FilterAccess* access, FilterInstance* instance, int x, int y,
                       const Pixel* in);
ORU_EXPORT void writeP(const FilterAccess* access, FilterInstance* instance, int x, int y,
                       const Pixel* in);
ORU_EXPORT void writeB_a(const FilterAccess* access, FilterInstance* instance, int x, int y,
                         const Pixel* in);
ORU_EXPORT void writeF_a(const FilterAccess* access, FilterInstance* instance, int x, int y,
                         const Pixel* in);
ORU_EXPORT void writeP_a(const FilterAccess* access, FilterInstance* instance, int x, int y,
                         const Pixel* in);
}

// The routine sets of the two kinds of run. A frame run reads the source from
// the host's rows and smooths the working planes; a preview run reads the
// working planes and smooths the preview planes.
PixelOps frameRunOps();
PixelOps previewRunOps();
