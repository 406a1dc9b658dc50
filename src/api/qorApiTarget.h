// The API's records are declared once for both Windows targets, i686 and x86-64; their sizes and
// offsets differ between them and are checked with both values side by side.
#pragma once

#include <cstddef>

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "i686 or x86-64 target expected");

constexpr bool kTarget64 = sizeof(void*) == 8;

// per_target(32-bit value, 64-bit value): a size or offset of the target being built.
constexpr std::size_t per_target(std::size_t AX86, std::size_t AX64) {
  return kTarget64 ? AX64 : AX86;
}
