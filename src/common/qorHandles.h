// One owner per Windows resource: each kind is a unique_ptr with the deleter that knows its close call.
#pragma once

#include <windows.h>
#include <memory>

namespace qor {

template <class T, class Deleter>
using unique_resource = std::unique_ptr<std::remove_pointer_t<T>, Deleter>;

struct handle_closer {
  void operator()(HANDLE h) const noexcept {
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};
struct find_closer {
  void operator()(HANDLE h) const noexcept {
    if (h && h != INVALID_HANDLE_VALUE) ::FindClose(h);
  }
};
struct module_freer {
  void operator()(HMODULE h) const noexcept {
    if (h) ::FreeLibrary(h);
  }
};
struct gdi_deleter {
  void operator()(HGDIOBJ h) const noexcept {
    if (h) ::DeleteObject(h);
  }
};
struct icon_destroyer {
  void operator()(HICON h) const noexcept {
    if (h) ::DestroyIcon(h);
  }
};
struct window_destroyer {
  void operator()(HWND h) const noexcept {
    if (h) ::DestroyWindow(h);
  }
};

struct local_freer {
  void operator()(void* p) const noexcept {
    if (p) ::LocalFree(p);
  }
};
struct global_freer {
  void operator()(void* p) const noexcept {
    if (p) ::GlobalFree(p);
  }
};

using unique_handle = unique_resource<HANDLE, handle_closer>;
using unique_find = unique_resource<HANDLE, find_closer>;
using unique_module = unique_resource<HMODULE, module_freer>;
// LocalAlloc'd results of system calls (security descriptors, SID strings) and global blocks.
template <class T>
using unique_local = std::unique_ptr<T, local_freer>;
using unique_global = unique_resource<HGLOBAL, global_freer>;
template <class T>
using unique_gdi = unique_resource<T, gdi_deleter>;
using unique_icon = unique_resource<HICON, icon_destroyer>;
using unique_window = unique_resource<HWND, window_destroyer>;

// A DC obtained with GetDC belongs to its window and goes back with ReleaseDC.
class unique_window_dc {
 public:
  explicit unique_window_dc(HWND AWnd) noexcept : FWnd(AWnd), FDC(::GetDC(AWnd)) {}
  ~unique_window_dc() {
    if (FDC) ::ReleaseDC(FWnd, FDC);
  }
  unique_window_dc(const unique_window_dc&) = delete;
  unique_window_dc& operator=(const unique_window_dc&) = delete;
  HDC get() const noexcept { return FDC; }

 private:
  HWND FWnd;
  HDC FDC;
};

// The clipboard is open for the lifetime of the guard; opening may fail while another program holds it.
class clipboard_session {
 public:
  clipboard_session() noexcept {
    for (int attempt = 0; attempt < 10 && !FOpen; ++attempt) {
      FOpen = ::OpenClipboard(nullptr) != FALSE;
      if (!FOpen) ::Sleep(10);
    }
  }
  ~clipboard_session() {
    if (FOpen) ::CloseClipboard();
  }
  clipboard_session(const clipboard_session&) = delete;
  clipboard_session& operator=(const clipboard_session&) = delete;
  bool open() const noexcept { return FOpen; }

 private:
  bool FOpen = false;
};

// Selects an object into a DC for the lifetime of the guard.
class selected_object {
 public:
  selected_object(HDC ADC, HGDIOBJ AObject) noexcept : FDC(ADC), FOld(::SelectObject(ADC, AObject)) {}
  ~selected_object() {
    if (FOld) ::SelectObject(FDC, FOld);
  }
  selected_object(const selected_object&) = delete;
  selected_object& operator=(const selected_object&) = delete;

 private:
  HDC FDC;
  HGDIOBJ FOld;
};

}  // namespace qor
