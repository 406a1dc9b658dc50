#include "common/qorErrors.h"

#include <cwchar>

namespace qor {

std::wstring SystemErrorMessage(DWORD ACode) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (length && buffer) {
    text.assign(buffer, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
      text.pop_back();
  }
  if (buffer) ::LocalFree(buffer);
  if (text.empty()) text = L"System error " + std::to_wstring(ACode);
  return text;
}

void RaiseOSError(DWORD ACode) { throw EqorError(SystemErrorMessage(ACode), ACode); }

void RaiseLastOSError() { RaiseOSError(::GetLastError()); }

namespace {
std::wstring fault_message(const wchar_t* AEntryPoint, DWORD ACode) {
  wchar_t text[96];
  std::swprintf(text, 96, L"Exception 0x%08lX in %ls", static_cast<unsigned long>(ACode), AEntryPoint);
  return text;
}
}  // namespace

EqorPluginFault::EqorPluginFault(const wchar_t* AEntryPoint, DWORD AExceptionCode)
    : EqorError(fault_message(AEntryPoint, AExceptionCode), AExceptionCode) {}

}  // namespace qor
