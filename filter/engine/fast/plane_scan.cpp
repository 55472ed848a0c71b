// The byte-plane scan's entry points: each goes to the build of the scan
// (scan_body.h) that suits the processor, chosen once.
#include "filter/engine/fast/plane_scan.h"

#include <atomic>

#include "filter/engine/fast/builds.h"
#include "filter/engine/fast/cpu_features.h"
#include "filter/engine/pixel_ops.h"

#if defined(ORU_TEST_HOOKS)
int planeScanBuild = 0;
#endif

namespace {

// Whether the AVX2 and AVX-512 builds run here: 1 or 0 once known, -1
// before. Every thread that asks finds the same answer.
std::atomic<int> avx2Known{-1};
std::atomic<int> avx512Known{-1};

// What ask() says, asked once and kept in known.
[[maybe_unused]] bool knownOnce(std::atomic<int>& known, bool (*ask)()) {
  int answer = known.load(std::memory_order_relaxed);
  if (answer < 0) {
    answer = ask() ? 1 : 0;
    known.store(answer, std::memory_order_relaxed);
  }
  return answer == 1;
}

const PlaneScanEntries& build() {
#if defined(ORU_TEST_HOOKS)
  if (planeScanBuild == 3) return plane_scan_portable::kEntries;
#if ORU_HAVE_SSE2_SCAN
  if (planeScanBuild == 1) return plane_scan_sse2::kEntries;
#endif
#if ORU_HAVE_AVX2_SCAN
  if (planeScanBuild == 2) return plane_scan_avx2::kEntries;
#endif
#endif
#if ORU_HAVE_AVX2_SCAN
  if (planeScanHasAvx512()) return plane_scan_avx512::kEntries;
  if (planeScanHasAvx2()) return plane_scan_avx2::kEntries;
#endif
#if ORU_HAVE_SSE2_SCAN
  return plane_scan_sse2::kEntries;
#else
  return plane_scan_portable::kEntries;
#endif
}

}  // namespace

bool planeScanHasSse2() {
  return ORU_HAVE_SSE2_SCAN != 0;
}

bool planeScanHasAvx2() {
#if ORU_HAVE_AVX2_SCAN
  return knownOnce(avx2Known, cpuHasAvx2Set);
#else
  return false;
#endif
}

bool planeScanHasAvx512() {
#if ORU_HAVE_AVX512_SCAN
  return knownOnce(avx512Known, cpuHasAvx512Set);
#else
  return false;
#endif
}

bool frameScanNeedsBlock(int width, int height, int workMode, int workThreshold,
                         std::size_t* bytes) {
  return build().needsBlock(width, height, workMode, workThreshold, bytes);
}

void smoothFramePlanes(const FilterAccess*, FilterInstance* inst, void* block) {
  build().smoothFrame(inst, block);
}

bool smoothPreviewPlanes(FilterInstance* inst) {
  return build().smoothPreview(inst);
}

bool isPreviewRunOps(const PixelOps& ops) {
  const PixelOps own = previewRunOps();
  return ops.getSrc == own.getSrc && ops.getDst == own.getDst && ops.putDst == own.putDst &&
         ops.getSrcA == own.getSrcA && ops.getDstA == own.getDstA && ops.putDstA == own.putDstA;
}

void runPlaneKernel(int direction, bool alpha, const PlaneSet& src, const PlaneSet& dst,
                    int strength, int runStart, int stepPos, int runEnd, int line) {
  build().kernel(direction, alpha, src, dst, strength, runStart, stepPos, runEnd, line);
}

bool planeSlopes(std::uint8_t* const planes[4], int width, int height, bool alpha, bool eachAlone,
                 int y, int x0, int count, int* out) {
  return build().slopes(planes, width, height, alpha, eachAlone, y, x0, count, out);
}
