// The byte-plane scan built for any x86 processor with SSE2, which
// plane_scan.cpp chooses where the processor has no wider build's
// instructions (and the only build of the Windows modules).
#define ORU_SCAN_NAMESPACE plane_scan_sse2
#define ORU_SCAN_WIDE 0
#include "filter/engine/fast/scan_body.h"
