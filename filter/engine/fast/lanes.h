// The vocabulary the scan is written in: what each build's Lanes supplies
// (x86_sse2.h, x86_avx2.h, x86_avx512.h, portable.h), all of it static:
//
//   kLanes, kSpanGroup            pixels a group of lanes blends along a row,
//                                 and a group of blendSpanRows
//   blendRowGroups, blendColumnGroups
//                                 a half-run's groups along a row and down a
//                                 column; the bytes left over are the scan's
//   blendSpanRows                 both half-runs of a short call at once
//   atLeastBits64, edgeBits       differences of pixels as bits
//   slopeAt, blockRow             slope measures, one or a row of blocks
//   greaterBits                   compares of 64 values as bits
//   transposeBits                 a 64 x 64 matrix of bits
//   transposeBytes16, rowsToLines, linesToRows, stripToLines, linesToStrip
//                                 columns of the planes to lines and back
//
// and what LanesDefaults gives where a build has nothing of its own. Part of
// a build of the scan (scan_build.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter/engine/fast/scan_build.h"

ORU_SCAN_OPEN

struct LanesDefaults {
  // Calls along a line of at most this many pixels are spanWithStep's,
  // which needs no room past them: none but where the lanes are masked.
  static constexpr int kStepSpan = 0;
  // A whole call in one group, its step pixel included, where kStepSpan is
  // above 0 (x86_avx512.h); only declared here, for the scan's
  // `if constexpr` on kStepSpan.
  template <int N, bool Full>
  static void spanWithStep(std::uint8_t* const d[], const std::uint8_t* const s[],
                           std::ptrdiff_t dAt, std::ptrdiff_t sLow, std::ptrdiff_t sHigh, int span,
                           int at, int wLow, int dwLow, int wHigh, int dwHigh, unsigned strength,
                           bool blends);
  // Whether the column passes are kept out of the scan's inlined body.
  static constexpr bool kColumnPassApart = false;
};

ORU_SCAN_CLOSE
