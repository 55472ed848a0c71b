// The module's heap: every buffer comes from the standard allocation
// functions through these three calls, so that a test build can make any one
// allocation fail and count what is still held.
#pragma once

#include <cstddef>

void* heapAlloc(std::size_t size);
void* heapAllocZeroed(std::size_t size);
void heapFree(void* block);

#if defined(ORU_TEST_HOOKS)
// Test builds only. Before each allocation, shouldFail(n, size) is asked,
// n counting the allocations since the hook was set; true makes it fail.
struct HeapHooks {
  bool (*shouldFail)(long n, std::size_t size) = nullptr;
  long allocations = 0;  // attempts since the hook was set
  long live = 0;         // blocks allocated and not yet freed
  long frees = 0;        // non-null blocks freed
};
extern HeapHooks heapHooks;
#endif
