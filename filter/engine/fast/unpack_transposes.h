// Transposes built from the unpacks of a register (a low or a high half of
// two registers interleaved, by bytes, 16-, 32- or 64-bit lanes), for any
// register U of 128 bits or of 256 bits that unpacks each 128-bit half
// apart. U gives the register (V), its unpacks, a load of a word, and its
// top bits (Mask): x86_sse2.h and x86_avx2.h supply them. Part of a build of
// the scan (scan_build.h).
#pragma once

#include <cstdint>
#include <cstring>

#include "filter/engine/fast/scan_build.h"

ORU_SCAN_OPEN

// Transposes a 64 x 64 matrix of bits: bit j of word i becomes bit i of word j.
// Sixteen words at a time (32 with registers of 256 bits): their bytes
// turned into columns (byte b of each word in one register), from which each
// top bit in turn gives a column of the matrix sixteen (32) bits at a time.
template <class U>
inline void transposeBitsBy(std::uint64_t a[64]) {
  using V = typename U::V;
  constexpr int kRows = U::kBytes, kGroups = 64 / kRows;
  typename U::Mask out[64][kGroups];
  for (int g = 0; g < kGroups; ++g) {
    const std::uint64_t* rows = a + kRows * g;
    // Bytes 0 .. 7 of eight words (and of the eight 16 on in the high half):
    // even bytes in the low half of each 128 bits.
    auto eight = [](const std::uint64_t* r, V v[4]) {
      const V t0 = U::lo8(U::word(r), U::word(r + 1));
      const V t1 = U::lo8(U::word(r + 2), U::word(r + 3));
      const V t2 = U::lo8(U::word(r + 4), U::word(r + 5));
      const V t3 = U::lo8(U::word(r + 6), U::word(r + 7));
      const V u0 = U::lo16(t0, t1), u1 = U::hi16(t0, t1);
      const V u2 = U::lo16(t2, t3), u3 = U::hi16(t2, t3);
      v[0] = U::lo32(u0, u2);  // bytes 0 and 1
      v[1] = U::hi32(u0, u2);  // bytes 2 and 3
      v[2] = U::lo32(u1, u3);  // bytes 4 and 5
      v[3] = U::hi32(u1, u3);  // bytes 6 and 7
    };
    V low[4], high[4];
    eight(rows, low);
    eight(rows + 8, high);
    for (int k = 0; k < 4; ++k) {
      V column[2] = {U::lo64(low[k], high[k]), U::hi64(low[k], high[k])};
      for (int h = 0; h < 2; ++h) {
        const int b = 2 * k + h;
        V v = column[h];
        for (int bit = 7; bit >= 0; --bit, v = U::twice(v)) out[8 * b + bit][g] = U::topBits(v);
      }
    }
  }
  std::memcpy(a, out, sizeof out);
}

// Transposes sixteen rows r[0 .. 15] of sixteen bytes into sixteen lines
// (line k, byte k of every row, in out[k]); in each 128-bit half apart
// where the registers are wider.
template <class U>
inline void transposeBytes(const typename U::V r[16], typename U::V out[16]) {
  using V = typename U::V;
  // a[8h + j]: bytes 8h .. 8h + 7 of rows 2j and 2j + 1, a byte of each
  // row to a 16-bit lane.
  V a[16];
  for (int j = 0; j < 8; ++j) {
    a[j] = U::lo8(r[2 * j], r[2 * j + 1]);
    a[8 + j] = U::hi8(r[2 * j], r[2 * j + 1]);
  }
  // b[8h + 2j + e]: bytes 8h + 4e .. 8h + 4e + 3 of rows 4j .. 4j + 3, a
  // byte of each row to a 32-bit lane.
  V b[16];
  for (int h = 0; h < 2; ++h) {
    for (int j = 0; j < 4; ++j) {
      b[8 * h + 2 * j] = U::lo16(a[8 * h + 2 * j], a[8 * h + 2 * j + 1]);
      b[8 * h + 2 * j + 1] = U::hi16(a[8 * h + 2 * j], a[8 * h + 2 * j + 1]);
    }
  }
  for (int h = 0; h < 2; ++h) {
    for (int e = 0; e < 2; ++e) {
      // Bytes 8h + 4e + t of rows 0 .. 7 (q 0) and 8 .. 15 (q 1), two
      // bytes of eight rows a register: t 0 and 1 in lo, 2 and 3 in hi.
      V lo[2], hi[2];
      for (int q = 0; q < 2; ++q) {
        const V x = b[8 * h + 4 * q + e], y = b[8 * h + 4 * q + 2 + e];
        lo[q] = U::lo32(x, y);
        hi[q] = U::hi32(x, y);
      }
      V* line = out + 8 * h + 4 * e;
      line[0] = U::lo64(lo[0], lo[1]);
      line[1] = U::hi64(lo[0], lo[1]);
      line[2] = U::lo64(hi[0], hi[1]);
      line[3] = U::hi64(hi[0], hi[1]);
    }
  }
}

// Transposes sixteen rows of sixteen bytes (row r at in + r * inStride) into
// sixteen rows of sixteen bytes (row k, byte k of every row, at out + k *

ORU_SCAN_CLOSE
