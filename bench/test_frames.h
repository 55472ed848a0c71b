// Deterministic frames that look like rendered output: gradients, hard-edged
// (aliased) shapes, thin lines and blocks of text-like glyphs, with an alpha
// matte that covers the objects. The same size always gives the same frame.
#pragma once

#include "runner/host/frame_access.h"
#include "runner/host/loaded_module.h"

namespace oru_bench {

void paintRenderedFrame(oru_runner::HostFrame& frame);

// The module under test, loaded once (bench/oru_bench.cpp).
oru_runner::LoadedModule& loadedModule();
// The worst-case pictures' figures, after the benchmarks ran
// (bench/worst_case_bench.cpp).
void printWorstCases();
// The scan's own figures: kernel pixels, the scan without and with the
// kernels (bench/worst_case_bench.cpp).
void printScanFigures();
// CPU time of the calling thread, in nanoseconds.
double threadNanoseconds();

}  // namespace oru_bench
