#include "filter/engine/fast/cpu_features.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <cpuid.h>

bool cpuHasAvx2Set() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool popcnt = (ecx & bit_POPCNT) != 0, osxsave = (ecx & bit_OSXSAVE) != 0,
             avx = (ecx & bit_AVX) != 0;
  if (!popcnt || !osxsave || !avx) return false;
  // The system saves the SSE and AVX registers (XCR0 bits 1 and 2).
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 6u) != 6u) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  if ((ebx & bit_AVX2) == 0 || (ebx & bit_BMI) == 0 || (ebx & bit_BMI2) == 0) return false;
  if (!__get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_LZCNT) != 0;
}

bool cpuHasAvx512Set() {
  if (!cpuHasAvx2Set()) return false;
  // The system saves the masks and both halves of the 512-bit registers
  // (XCR0 bits 5 to 7) as well.
  unsigned xcr0Low = 0, xcr0High = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
  if ((xcr0Low & 0xe6u) != 0xe6u) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const unsigned wanted = bit_AVX512F | bit_AVX512BW | bit_AVX512VL;
  return (ebx & wanted) == wanted;
}

#else

bool cpuHasAvx2Set() {
  return false;
}

bool cpuHasAvx512Set() {
  return false;
}

#endif
