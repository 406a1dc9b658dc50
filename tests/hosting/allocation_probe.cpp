#include "allocation_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<size_t> GLargest{0};
std::atomic<long> GCount{0};
}

namespace wxt {
void ResetLargestAllocation() noexcept { GLargest = 0; }
size_t LargestAllocation() noexcept { return GLargest; }
long AllocationCount() noexcept { return GCount; }
}  // namespace wxt

void* operator new(size_t ASize) {
  ++GCount;
  size_t seen = GLargest.load();
  while (ASize > seen && !GLargest.compare_exchange_weak(seen, ASize)) {
  }
  if (void* p = std::malloc(ASize ? ASize : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t ASize) { return operator new(ASize); }
void operator delete(void* APointer) noexcept { std::free(APointer); }
void operator delete[](void* APointer) noexcept { std::free(APointer); }
void operator delete(void* APointer, size_t) noexcept { std::free(APointer); }
void operator delete[](void* APointer, size_t) noexcept { std::free(APointer); }
