// Writes 24-bit PNG files without a compression library: zlib "stored" blocks carry the rows.
#pragma once

#include <windows.h>

#include <string>

namespace wxt {

struct capture_stats {
  size_t pixels = 0;
  size_t matching = 0;  // pixels of the colour asked for
  size_t dark = 0;      // pixels darker than mid-grey (text, frames)
};

// Captures AWnd's window rectangle from the screen and writes it to APath; false on failure.
// AStats counts the pixels of AColour and the dark ones, so that a blank capture shows.
bool save_window_png(HWND AWnd, const std::wstring& APath, COLORREF AColour, capture_stats& AStats);

}  // namespace wxt
