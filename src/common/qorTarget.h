// The module is built for two Windows targets, i686 and x86-64. Values that differ between them
// (record sizes and offsets, names) are picked here, so each place states both side by side.
#pragma once

#include <cstddef>

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "i686 or x86-64 target expected");

constexpr bool kTarget64 = sizeof(void*) == 8;

// per_target(32-bit value, 64-bit value): a size or offset of the target being built.
constexpr std::size_t per_target(std::size_t AX86, std::size_t AX64) {
  return kTarget64 ? AX64 : AX86;
}

namespace qor {

// Names that carry the bitness: file managers load a 64-bit packer plugin from a .wcx64 beside
// the .wcx, and a process loads only plugin DLLs of its own bitness, so each module has a folder.
constexpr const wchar_t* kModuleFileName = kTarget64 ? L"Wexlor.wcx64" : L"Wexlor.wcx";
constexpr const wchar_t* kPluginsFolder = kTarget64 ? L"Plugins64" : L"Plugins32";

}  // namespace qor
