// Arms the test heap for one scope, so that tests can make chosen
// allocations fail and count what is still held.
#pragma once

#include <cstddef>

#include "filter/heap.h"

namespace oru_test {

class HeapScope {
 public:
  // Allocation n (counted from here) fails when fail(n, size) says so.
  explicit HeapScope(bool (*fail)(long, std::size_t) = nullptr) {
    heapHooks = HeapHooks{};
    heapHooks.shouldFail = fail;
  }
  ~HeapScope() { heapHooks = HeapHooks{}; }
  HeapScope(const HeapScope&) = delete;
  HeapScope& operator=(const HeapScope&) = delete;
};

// Makes allocation n, counted from this call on, fail; the next ones succeed.
// Remembers the size that was asked for in failedSize.
inline long& failingAllocation() {
  static long n = -1;
  return n;
}
inline std::size_t& failedSize() {
  static std::size_t size = 0;
  return size;
}
inline bool failChosenAllocation(long n, std::size_t size) {
  if (n != failingAllocation()) return false;
  failedSize() = size;
  return true;
}
inline void failAllocationFromNow(long n) {
  heapHooks.allocations = 0;
  failingAllocation() = n;
  failedSize() = 0;
  heapHooks.shouldFail = &failChosenAllocation;
}
// Lets every allocation succeed again and restarts the count.
inline void stopFailing() {
  heapHooks.shouldFail = nullptr;
  heapHooks.allocations = 0;
}

}  // namespace oru_test
