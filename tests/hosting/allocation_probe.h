// Replaces the global allocator of a test program to record the largest single request, so a
// test can show that a lying header never turns into a huge buffer.
#pragma once

#include <cstddef>

namespace wxt {
void ResetLargestAllocation() noexcept;
size_t LargestAllocation() noexcept;
}  // namespace wxt
