// Writes 24-bit PNG files without a compression library: zlib "stored" blocks carry the rows.
#pragma once

#include <windows.h>

#include <string>

namespace wxt {

// Captures AWnd's window rectangle from the screen and writes it to APath; false on failure.
bool save_window_png(HWND AWnd, const std::wstring& APath);

}  // namespace wxt
