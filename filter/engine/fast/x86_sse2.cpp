// The byte-plane scan built for any x86 processor with SSE2 (Sse2Lanes):
// what plane_scan.cpp chooses where the processor has no wider build's
// instructions, and the Windows modules' only build.
#include "filter/engine/fast/builds.h"

#if ORU_HAVE_SSE2_SCAN

#define ORU_SCAN_NAMESPACE plane_scan_sse2
#include "filter/engine/fast/x86_sse2.h"

// The lanes the scan of this build is written over.
namespace plane_scan_sse2 {
namespace {
using Lanes = Sse2Lanes;
}  // namespace
}  // namespace plane_scan_sse2

#include "filter/engine/fast/scan_body.h"

#endif
