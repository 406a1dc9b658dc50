// Conversions between UTF-16 and the system ANSI code page, and names as the file system compares them.
#pragma once

#include <string>
#include <string_view>

namespace qor {

std::wstring AnsiToWide(const char* AText);
std::string WideToAnsi(const std::wstring& AText);
// A '\\'-separated path of names, in the ANSI code page for a file manager that reads ANSI, with
// the same folders as the wide one: a character the code page lacks becomes '_' (never a look-alike:
// no best fit turns a full-width dot into '.' or a yen sign into '\\'), and a byte that would
// separate or climb ('\\', '/', ':' outside a double-byte character, a name of dots and spaces only)
// becomes '_' too.
std::string AnsiPath(const std::wstring& APath);

// A name in upper case, as the file system compares names: two that differ only in case are one file.
std::wstring FoldedName(std::wstring_view AName);

}  // namespace qor
