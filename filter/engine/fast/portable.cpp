// The byte-plane scan in plain C++ (PortableLanes): what plane_scan.cpp
// chooses where the module has no build for the processor's instructions,
// and a fourth build for the tests on every machine.
#include "filter/engine/fast/builds.h"

#if ORU_HAVE_PORTABLE_SCAN

#define ORU_SCAN_NAMESPACE plane_scan_portable
#include "filter/engine/fast/portable.h"

// The lanes the scan of this build is written over.
namespace plane_scan_portable {
namespace {
using Lanes = PortableLanes;
}  // namespace
}  // namespace plane_scan_portable

#include "filter/engine/fast/scan_body.h"

#endif
