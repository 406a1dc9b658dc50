#include "ui/qorHostWarning.h"

#include <windows.h>

namespace qor {

void ShowHostWarning(const wchar_t* AService) noexcept {
  ::MessageBoxW(nullptr, AService, L"Callback", MB_ICONWARNING);
}

}  // namespace qor
