#include "filter/heap.h"

#include <cstdlib>

#if defined(ORU_TEST_HOOKS)
HeapHooks heapHooks;

static bool injectFailure(std::size_t size) {
  long n = heapHooks.allocations++;
  return heapHooks.shouldFail && heapHooks.shouldFail(n, size);
}

void* heapAlloc(std::size_t size) {
  if (injectFailure(size)) return nullptr;
  void* block = std::malloc(size);
  if (block) ++heapHooks.live;
  return block;
}

void* heapAllocZeroed(std::size_t size) {
  if (injectFailure(size)) return nullptr;
  void* block = std::calloc(1, size);
  if (block) ++heapHooks.live;
  return block;
}

void heapFree(void* block) {
  if (block) {
    --heapHooks.live;
    ++heapHooks.frees;
  }
  std::free(block);
}
#else
void* heapAlloc(std::size_t size) { return std::malloc(size); }
void* heapAllocZeroed(std::size_t size) { return std::calloc(1, size); }
void heapFree(void* block) { std::free(block); }
#endif
