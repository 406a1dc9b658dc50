// The system's one error type: a message and, for system failures, the Windows error code.
#pragma once

#include <windows.h>
#include <stdexcept>
#include <string>

namespace qor {

class EqorError : public std::exception {
 public:
  explicit EqorError(std::wstring AMessage, DWORD ACode = 0)
      : FMessage(std::move(AMessage)), FCode(ACode) {}
  const std::wstring& Message() const noexcept { return FMessage; }
  DWORD Code() const noexcept { return FCode; }
  const char* what() const noexcept override { return "Wexlor error"; }

 private:
  std::wstring FMessage;
  DWORD FCode;
};

// A hardware fault or foreign exception that a plugin call did not handle itself.
class EqorPluginFault : public EqorError {
 public:
  EqorPluginFault(const wchar_t* AEntryPoint, DWORD AExceptionCode);
};

std::wstring SystemErrorMessage(DWORD ACode);
[[noreturn]] void RaiseOSError(DWORD ACode);
[[noreturn]] void RaiseLastOSError();

}  // namespace qor
