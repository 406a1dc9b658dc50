// Shared set-up of the UI tests: the units' start-up, the DPI the prefix was made with, and the
// folder for screenshots.
#pragma once

#include <windows.h>

#include <string>

namespace wxt {

// WEXLOR_EXPECT_DPI of the CTest entry (96 when unset).
inline UINT expected_dpi() {
  wchar_t value[16] = {};
  return GetEnvironmentVariableW(L"WEXLOR_EXPECT_DPI", value, 16) ? static_cast<UINT>(_wtoi(value)) : 96;
}

// WEXLOR_ARTIFACTS of the CTest entry (the working folder when unset), with a trailing slash.
inline std::wstring artifacts_folder() {
  wchar_t value[MAX_PATH] = {};
  std::wstring folder = GetEnvironmentVariableW(L"WEXLOR_ARTIFACTS", value, MAX_PATH) ? value : L".";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}

// Lets posted and sent messages of this thread run for about AMilliseconds.
inline void pump_for(DWORD AMilliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  } while (GetTickCount() - start < AMilliseconds);
}

template <class Condition>
bool pump_until(Condition ADone, DWORD ATimeout) {
  const DWORD start = GetTickCount();
  while (!ADone()) {
    if (GetTickCount() - start > ATimeout) return false;
    pump_for(20);
  }
  return true;
}

}  // namespace wxt
