#include "common/qorText.h"

#include <windows.h>

namespace qor {

std::wstring AnsiToWide(const char* AText) {
  if (!AText || !*AText) return {};
  const int length = ::MultiByteToWideChar(CP_ACP, 0, AText, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring result(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, AText, -1, result.data(), length);
  result.resize(static_cast<size_t>(length - 1));
  return result;
}

std::string WideToAnsi(const std::wstring& AText) {
  if (AText.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string result(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, AText.data(), static_cast<int>(AText.size()), result.data(),
                        length, nullptr, nullptr);
  return result;
}

namespace {

std::string ansi_name(const wchar_t* AName, size_t ALength) {
  if (ALength == 0) return {};
  const int size = static_cast<int>(ALength);
  const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AName, size, nullptr, 0, "_", nullptr);
  if (length <= 0) return std::string(ALength, '_');
  std::string name(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, AName, size, name.data(), length, "_", nullptr);
  bool dots_and_spaces = true;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (::IsDBCSLeadByte(static_cast<BYTE>(c)) && i + 1 < name.size()) {
      dots_and_spaces = false;
      ++i;  // the trail byte may be 0x5C and is no separator
      continue;
    }
    if (c == '\\' || c == '/' || c == ':') name[i] = '_';
    if (c != '.' && c != ' ') dots_and_spaces = false;
  }
  if (dots_and_spaces) name.assign(name.size(), '_');
  return name;
}

}  // namespace

std::string AnsiPath(const std::wstring& APath) {
  std::string path;
  size_t start = 0;
  for (size_t i = 0; i <= APath.size(); ++i) {
    if (i < APath.size() && APath[i] != L'\\') continue;
    if (start > 0) path += '\\';
    path += ansi_name(APath.data() + start, i - start);
    start = i + 1;
  }
  return path;
}

std::wstring FoldedName(std::wstring_view AName) {
  std::wstring text(AName);
  if (!text.empty()) ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace qor
