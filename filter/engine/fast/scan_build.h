// What every file of a build of the byte-plane scan shares: the region a
// build's code lies in and the inlining hints of the walks.
//
// A build is one translation unit (x86_sse2.cpp, x86_avx2.cpp,
// x86_avx512.cpp, portable.cpp) that names its namespace
// (ORU_SCAN_NAMESPACE) and, for the wider builds, its target region
// (ORU_SCAN_TARGET_BEGIN and _END), includes its lane operations (the
// vocabulary the scan is written in, a file for each instruction set) and
// names them Lanes, then includes scan_body.h. Each file of the build
// includes its headers first and then puts its own code between
// ORU_SCAN_OPEN and ORU_SCAN_CLOSE: inside the region, in an unnamed
// namespace of the build's, so that nothing built for the build's
// instructions is shared with the rest of the module; what the headers
// define inline is built for every processor.
#pragma once

#if !defined(ORU_SCAN_NAMESPACE)
#error "the including file names the build (ORU_SCAN_NAMESPACE)"
#endif
#if !defined(ORU_SCAN_TARGET_BEGIN)
#define ORU_SCAN_TARGET_BEGIN
#define ORU_SCAN_TARGET_END
#endif

// clang-format off
#define ORU_SCAN_OPEN ORU_SCAN_TARGET_BEGIN namespace ORU_SCAN_NAMESPACE { namespace {
#define ORU_SCAN_CLOSE } } ORU_SCAN_TARGET_END
// clang-format on

// For the few small helpers of the walks that must stay inline there, and a
// path of theirs that must not.
#if defined(__GNUC__)
#define ORU_ALWAYS_INLINE inline __attribute__((always_inline))
#define ORU_NOINLINE __attribute__((noinline))
#else
#define ORU_ALWAYS_INLINE inline
#define ORU_NOINLINE
#endif
