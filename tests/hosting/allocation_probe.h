// Replaces the global allocator of a test program to record the largest single request, so a
// test can show that a lying header never turns into a huge buffer, and the number of requests,
// so a test can show that a path allocates nothing.
#pragma once

#include <cstddef>

namespace wxt {
void ResetLargestAllocation() noexcept;
size_t LargestAllocation() noexcept;
long AllocationCount() noexcept;
}  // namespace wxt
