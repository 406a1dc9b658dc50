// Shared set-up of the UI tests: the units' start-up, the DPI the prefix was made with, and the
// folder for screenshots.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

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

// Watcher threads read window rectangles and pixels in physical pixels, as the forms are laid out.
inline void make_thread_dpi_aware() {
  using set_context_fn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
  auto set_context = reinterpret_cast<set_context_fn>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext"));
  if (set_context && !set_context(reinterpret_cast<DPI_AWARENESS_CONTEXT>(-4)))
    set_context(reinterpret_cast<DPI_AWARENESS_CONTEXT>(-3));
}

inline BOOL CALLBACK find_module_form_of(HWND AWnd, LPARAM AFound) {
  DWORD pid = 0;
  GetWindowThreadProcessId(AWnd, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(AWnd, cls, 64);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(AWnd) || lstrcmpW(cls, L"WexlorWindow") != 0) return TRUE;
  *reinterpret_cast<HWND*>(AFound) = AWnd;
  return FALSE;
}

// A visible top-level form of the module's window framework in this process, or null.
inline HWND find_module_form() {
  HWND found = nullptr;
  EnumWindows(find_module_form_of, reinterpret_cast<LPARAM>(&found));
  return found;
}

// A thread of its own that looks for the module's forms every few milliseconds and hands each
// search's result (null when none) to AOnForm, until Stop.
class FormWatchThread {
 public:
  explicit FormWatchThread(std::function<void(HWND)> AOnForm)
      : FOnForm(std::move(AOnForm)), FThread([this] { run(); }) {
    while (!FStarted) Sleep(1);
  }
  ~FormWatchThread() { Stop(); }
  FormWatchThread(const FormWatchThread&) = delete;
  FormWatchThread& operator=(const FormWatchThread&) = delete;
  void Stop() {
    FStop = true;
    if (FThread.joinable()) FThread.join();
  }

 private:
  void run() {
    make_thread_dpi_aware();
    // The thread's first window calls set up its user32 state: done before the module loads.
    find_module_form();
    FStarted = true;
    while (!FStop) {
      FOnForm(find_module_form());
      Sleep(10);
    }
  }
  std::function<void(HWND)> FOnForm;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FStarted{false};
  std::thread FThread;
};

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
