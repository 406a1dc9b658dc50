// Conversions between UTF-16 and the system ANSI code page.
#pragma once

#include <string>

namespace qor {

std::wstring AnsiToWide(const char* AText);
std::string WideToAnsi(const std::wstring& AText);

}  // namespace qor
