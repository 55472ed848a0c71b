// The byte-plane scan built for any x86 processor with SSE2 (Sse2Lanes):
// what plane_scan.cpp chooses where the processor has no wider build's
// instructions, and the Windows modules' only build.
#define ORU_SCAN_NAMESPACE plane_scan_sse2
#include "filter/engine/fast/x86_sse2.h"

ORU_SCAN_OPEN
using Lanes = Sse2Lanes;
ORU_SCAN_CLOSE

#include "filter/engine/fast/scan_body.h"
