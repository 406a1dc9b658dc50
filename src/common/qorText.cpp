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

std::wstring FoldedName(std::wstring_view AName) {
  std::wstring text(AName);
  if (!text.empty()) ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace qor
