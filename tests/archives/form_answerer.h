// Answers the module's forms as a user does: types a text into the field that has the focus and
// presses Enter, or presses Esc when the text is empty. Keeps how many forms it answered, the
// text the last one's field showed first, the thread that ran it, and its owner window and whether
// that was enabled while the form stood.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "ui_test_env.h"

namespace wxt {

class FormAnswerer {
 public:
  explicit FormAnswerer(std::wstring AText) : FText(std::move(AText)) {}
  int Count() const { return FCount; }
  std::wstring Initial() {
    std::lock_guard<std::mutex> guard(FLock);
    return FInitial;
  }
  DWORD Thread() const { return FThread; }
  HWND Owner() const { return FOwner; }
  bool OwnerEnabled() const { return FOwnerEnabled; }

 private:
  void answer(HWND AWnd) {
    Sleep(200);
    FThread = GetWindowThreadProcessId(AWnd, nullptr);
    FOwner = GetWindow(AWnd, GW_OWNER);
    FOwnerEnabled = FOwner && IsWindowEnabled(FOwner);
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(AWnd, nullptr), &info);
    HWND focus = info.hwndFocus ? info.hwndFocus : AWnd;
    wchar_t initial[MAX_PATH] = {};
    GetWindowTextW(focus, initial, MAX_PATH);
    {
      std::lock_guard<std::mutex> guard(FLock);
      FInitial = initial;
    }
    if (FText.empty()) {
      PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    } else {
      SendMessageW(focus, EM_SETSEL, 0, -1);
      for (wchar_t c : FText) PostMessageW(focus, WM_CHAR, c, 0);
      Sleep(100);
      PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    }
    ++FCount;
    // A form that stays is closed, so that the test cannot hang.
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
    if (IsWindowVisible(AWnd)) PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
  }

  std::wstring FText;
  std::mutex FLock;
  std::wstring FInitial;
  std::atomic<int> FCount{0};
  std::atomic<DWORD> FThread{0};
  std::atomic<HWND> FOwner{nullptr};
  std::atomic<bool> FOwnerEnabled{false};
  FormWatchThread FWatch{[this](HWND AFound) {
    if (AFound) answer(AFound);
  }};
};

}  // namespace wxt
