// The scan straight on byte planes. When the installed routines are the
// module's own (the frame-run or the preview set), it makes the same kernel
// calls in the same order, and writes the same bytes, as the scan through the
// routine table; but it reads bytes, not routines, tests whole lines of
// pixels at once, and never scans a position again after a step, so that its
// work grows with the pixels alone. Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/oru.h"

// Whether a frame run of this size and these work settings makes any kernel
// call at all. If it may, *bytes is the size of the block its scan works in
// (a copy of the frame's source bytes and the scan's line buffers), or 0 when
// that size does not fit a size_t.
bool frameScanNeedsBlock(int width, int height, int workMode, int workThreshold,
                         std::size_t* bytes);

// The frame run's smoothing: what smooth(access, inst, 1) does with the
// frame-run routines installed, while the working planes still hold the frame
// as the plane fill left it (so that they equal the host's rows). block is
// frameScanNeedsBlock's size.
void smoothFramePlanes(const FilterAccess* access, FilterInstance* inst, void* block);

// The preview run's smoothing: what smooth(access, inst, 0) does with the
// preview routines installed. False, with nothing done, when it cannot get
// its buffer or the instance has no planes to read.
bool smoothPreviewPlanes(FilterInstance* inst);

// Whether ops is the module's frame-run or preview set.
bool isPreviewRunOps(const PixelOps& ops);

// Whether the module has the scan's SSE2 build, which it then takes where
// the processor runs no wider one. It has it where the compiler builds for
// SSE2, and then the module as a whole asks for SSE2; elsewhere it takes the
// portable build. Every build makes the same calls and writes the same
// bytes. (The tests have the portable build everywhere.)
bool planeScanHasSse2();
// Whether the processor runs the scan's AVX2 build, which the scan then
// takes before the SSE2 one.
bool planeScanHasAvx2();
// Whether it runs the AVX-512 build, which it then takes before the AVX2 one.
bool planeScanHasAvx512();

#if defined(ORU_TEST_HOOKS)
// 1: the scan takes its SSE2 build, 2: its AVX2 build, 3: its portable
// build, even where the processor runs a wider one (1 only where the module
// has the SSE2 build, 2 only where the processor runs the AVX2 build); 0
// (the default): the best the processor runs.
extern int planeScanBuild;
#endif

// Byte planes R, G, B, A (unused ones null), pixel (x, y) at
// (y - originY) * stride + (x - originX).
struct PlaneSet {
  std::uint8_t* plane[4];
  long long originX, originY;
  long long stride;
  // Bytes of each plane that may be read, and written back as read, past
  // the pixels a kernel reaches (0: none known).
  std::size_t size = 0;
  std::size_t at(int x, int y) const {
    return static_cast<std::size_t>((y - originY) * stride + (x - originX));
  }
};

// One kernel call straight on planes: what smoothN (alpha false) or smoothN_a
// does through routines that read src and read and write dst without
// clamping (every pixel the call reaches must lie in the planes). strength is
// in percent.
void runPlaneKernel(int direction, bool alpha, const PlaneSet& src, const PlaneSet& dst,
                    int strength, int runStart, int stepPos, int runEnd, int line);

// The slope measures of row y at columns x0 .. x0 + count - 1 of width x
// height planes, as the byte-plane scan takes them (katamuki, or katamuki_a
// for alpha, gives the same through the B routines): one position at a time
// (eachAlone) or a chunk of a row at once. False when it cannot get its
// buffer.
bool planeSlopes(std::uint8_t* const planes[4], int width, int height, bool alpha, bool eachAlone,
                 int y, int x0, int count, int* out);
