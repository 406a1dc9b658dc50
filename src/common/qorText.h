// Conversions between UTF-16 and the system ANSI code page, and names as the file system compares them.
#pragma once

#include <string>
#include <string_view>

namespace qor {

std::wstring AnsiToWide(const char* AText);
std::string WideToAnsi(const std::wstring& AText);

// A name in upper case, as the file system compares names: two that differ only in case are one file.
std::wstring FoldedName(std::wstring_view AName);

}  // namespace qor
