// The module is built for two Windows targets, i686 and x86-64. Values that differ between them
// (record sizes and offsets, names) are picked here, so each place states both side by side.
#pragma once

#include "api/qorApiTarget.h"

namespace qor {

// Names that carry the bitness: file managers load a 64-bit packer plugin from a .wcx64 beside
// the .wcx, and a process loads only plugin DLLs of its own bitness, so each module has a folder.
constexpr const wchar_t* kModuleFileName = kTarget64 ? L"Wexlor.wcx64" : L"Wexlor.wcx";
constexpr const wchar_t* kPluginsFolder = kTarget64 ? L"Plugins64" : L"Plugins32";
// The other module's, which shares the settings file with this one.
constexpr const wchar_t* kOtherPluginsFolder = kTarget64 ? L"Plugins32" : L"Plugins64";

}  // namespace qor
