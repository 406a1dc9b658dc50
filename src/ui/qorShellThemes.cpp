#include "ui/qorShellThemes.h"

#include <shlwapi.h>

#include <iterator>

#include "common/qorLocks.h"
#include "common/qorTarget.h"

namespace qor {

namespace {

using ldr_find_entry_fn = LONG(NTAPI*)(PVOID, PVOID*);

// Offset of EntryPointActivationContext in the loader data-table entry: after three list heads,
// two pointers, a ULONG, two UNICODE_STRINGs, a ULONG, two USHORTs, a list head and a ULONG.
constexpr size_t LoaderEntryActCtxOffset = per_target(72, 136);

critical_section GThemesLock;

HANDLE GModuleActCtx = nullptr;
bool GModuleActCtxValid = false;
ldr_find_entry_fn GLdrFindEntryForAddress = nullptr;
activate_actctx_fn GActivateActCtx = nullptr;
deactivate_actctx_fn GDeactivateActCtx = nullptr;
DWORD (*GComCtl32VersionProbe)() = nullptr;

// Per thread: zero on every new thread.
thread_local ULONG_PTR TActCtxCookie = 0;
thread_local int TActCtxCount = 0;
thread_local bool TActCtxActivated = false;

struct theme_functions {
  HRESULT(WINAPI* CloseThemeData)(HTHEME);
  HRESULT(WINAPI* DrawThemeBackground)(HTHEME, HDC, int, int, const RECT*, const RECT*);
  void* DrawThemeParentBackground;
  void* DrawThemeTextEx;
  HRESULT(WINAPI* GetThemeColor)(HTHEME, int, int, int, COLORREF*);
  HRESULT(WINAPI* GetThemeFont)(HTHEME, HDC, int, int, int, LOGFONTW*);
  HRESULT(WINAPI* GetThemePartSize)(HTHEME, HDC, int, int, const RECT*, THEMESIZE, SIZE*);
  HTHEME(WINAPI* GetWindowTheme)(HWND);
  BOOL(WINAPI* IsAppThemed)();
  BOOL(WINAPI* IsThemeActive)();
  HTHEME(WINAPI* OpenThemeData)(HWND, LPCWSTR);
  HTHEME(WINAPI* OpenThemeDataForDpi)(HWND, LPCWSTR, UINT);
  void* OpenThemeDataEx;
  void* SetWindowTheme;
};
constexpr const char* ThemeFunctionNames[] = {
    "CloseThemeData", "DrawThemeBackground", "DrawThemeParentBackground", "DrawThemeTextEx",
    "GetThemeColor",  "GetThemeFont",        "GetThemePartSize",          "GetWindowTheme",
    "IsAppThemed",    "IsThemeActive",       "OpenThemeData",             "OpenThemeDataForDpi",
    "OpenThemeDataEx", "SetWindowTheme"};
static_assert(sizeof(theme_functions) == sizeof(ThemeFunctionNames), "one entry per name");

HMODULE GThemeLibrary = nullptr;
bool GThemeLibraryLoaded = false;
theme_functions GTheme{};

bool windows_xp_or_later() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExW(&info)) return false;
  return (info.dwMajorVersion == 5 && info.dwMinorVersion != 0) || info.dwMajorVersion > 5;
}

template <class F>
bool resolve(const wchar_t* AModule, const char* AName, F& AEntry) {
  HMODULE module = ::GetModuleHandleW(AModule);
  AEntry = module ? reinterpret_cast<F>(::GetProcAddress(module, AName)) : nullptr;
  return AEntry != nullptr;
}

const theme_functions& theme() {
  lock_guard<critical_section> guard(GThemesLock);
  if (!GThemeLibraryLoaded) {
    GThemeLibraryLoaded = true;
    GThemeLibrary = ::LoadLibraryW(L"uxtheme.dll");
    if (GThemeLibrary) {
      auto entries = reinterpret_cast<FARPROC*>(&GTheme);
      for (size_t i = 0; i < std::size(ThemeFunctionNames); ++i)
        entries[i] = ::GetProcAddress(GThemeLibrary, ThemeFunctionNames[i]);
    }
  }
  return GTheme;
}

}  // namespace

void ThemesStartup(HINSTANCE AModule) noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  GThemeLibraryLoaded = false;
  GThemeLibrary = nullptr;
  GModuleActCtxValid = false;
  GModuleActCtx = nullptr;
  TActCtxCount = 0;
  if (!windows_xp_or_later()) return;
  if (!resolve(L"ntdll.dll", "LdrFindEntryForAddress", GLdrFindEntryForAddress) ||
      !resolve(L"kernel32.dll", "ActivateActCtx", GActivateActCtx) ||
      !resolve(L"kernel32.dll", "DeactivateActCtx", GDeactivateActCtx))
    return;
  PVOID entry = nullptr;
  if (GLdrFindEntryForAddress(AModule, &entry) >= 0 && entry) {
    GModuleActCtx =
        *reinterpret_cast<HANDLE*>(static_cast<char*>(entry) + LoaderEntryActCtxOffset);
    GModuleActCtxValid = GModuleActCtx != nullptr;
  }
}

void ThemesStartup() noexcept {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&GThemesLock), &self);
  ThemesStartup(self);
}

void ThemesShutdown() noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  if (GThemeLibraryLoaded) {
    if (GThemeLibrary) ::FreeLibrary(GThemeLibrary);
    GThemeLibrary = nullptr;
    GTheme = theme_functions{};
    GThemeLibraryLoaded = false;
  }
}

HANDLE ModuleActivationContext() noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  return GModuleActCtxValid ? GModuleActCtx : nullptr;
}

void ActivateModuleActCtx() noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  if (!GModuleActCtxValid) return;
  if (++TActCtxCount == 1) TActCtxActivated = GActivateActCtx(GModuleActCtx, &TActCtxCookie) != FALSE;
}

void DeactivateModuleActCtx() noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  if (!GModuleActCtxValid) return;
  // An unbalanced call must not drive the count below zero and break the next activation.
  if (TActCtxCount <= 0) return;
  if (--TActCtxCount == 0 && TActCtxActivated) {
    GDeactivateActCtx(0, TActCtxCookie);
    TActCtxActivated = false;
    TActCtxCookie = 0;
  }
}

TqorShellActivationContext::TqorShellActivationContext() noexcept {
  if (GetComCtl32Version() < 0x0600) {
    FNeedActivate = true;
    ActivateModuleActCtx();
  }
}

TqorShellActivationContext::~TqorShellActivationContext() {
  if (FNeedActivate) DeactivateModuleActCtx();
}

DWORD GetDllVersion(HMODULE AModule) noexcept {
  using dll_get_version_fn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
  auto get_version =
      AModule ? reinterpret_cast<dll_get_version_fn>(::GetProcAddress(AModule, "DllGetVersion")) : nullptr;
  if (!get_version) return 0x0400;
  DLLVERSIONINFO info{};
  info.cbSize = sizeof(info);
  if (FAILED(get_version(&info))) return 0x0400;
  return (info.dwMajorVersion << 8) | info.dwMinorVersion;
}

DWORD GetComCtl32Version() noexcept {
  if (GComCtl32VersionProbe) return GComCtl32VersionProbe();
  // The handle comes back as the current activation context resolves the name.
  if (HMODULE loaded = ::GetModuleHandleW(L"comctl32.dll")) return GetDllVersion(loaded);
  HMODULE module = ::LoadLibraryW(L"comctl32.dll");
  if (!module) return 0x0400;
  const DWORD version = GetDllVersion(module);
  ::FreeLibrary(module);
  return version;
}

bool UseThemes() noexcept {
  const theme_functions& f = theme();
  return f.IsThemeActive && f.IsThemeActive() && f.IsAppThemed && f.IsAppThemed();
}

HRESULT CloseThemeData(HTHEME ATheme) noexcept {
  const theme_functions& f = theme();
  return f.CloseThemeData ? f.CloseThemeData(ATheme) : E_NOTIMPL;
}

HRESULT DrawThemeBackground(HTHEME ATheme, HDC ADC, int APartId, int AStateId, const RECT* ARect,
                            const RECT* AClipRect) noexcept {
  const theme_functions& f = theme();
  return f.DrawThemeBackground ? f.DrawThemeBackground(ATheme, ADC, APartId, AStateId, ARect, AClipRect)
                               : E_NOTIMPL;
}

HRESULT GetThemeColor(HTHEME ATheme, int APartId, int AStateId, int APropId, COLORREF* AColor) noexcept {
  const theme_functions& f = theme();
  return f.GetThemeColor ? f.GetThemeColor(ATheme, APartId, AStateId, APropId, AColor) : E_NOTIMPL;
}

HRESULT GetThemeFont(HTHEME ATheme, HDC ADC, int APartId, int AStateId, int APropId,
                     LOGFONTW* AFont) noexcept {
  const theme_functions& f = theme();
  return f.GetThemeFont ? f.GetThemeFont(ATheme, ADC, APartId, AStateId, APropId, AFont) : E_NOTIMPL;
}

HRESULT GetThemePartSize(HTHEME ATheme, HDC ADC, int APartId, int AStateId, const RECT* ARect,
                         THEMESIZE ASize, SIZE* AResult) noexcept {
  const theme_functions& f = theme();
  return f.GetThemePartSize ? f.GetThemePartSize(ATheme, ADC, APartId, AStateId, ARect, ASize, AResult)
                            : E_NOTIMPL;
}

HTHEME GetWindowTheme(HWND AWnd) noexcept {
  const theme_functions& f = theme();
  return f.GetWindowTheme ? f.GetWindowTheme(AWnd) : nullptr;
}

bool IsAppThemed() noexcept {
  const theme_functions& f = theme();
  return f.IsAppThemed && f.IsAppThemed();
}

bool IsThemeActive() noexcept {
  const theme_functions& f = theme();
  return f.IsThemeActive && f.IsThemeActive();
}

HTHEME OpenThemeData(HWND AWnd, const wchar_t* AClassList) noexcept {
  const theme_functions& f = theme();
  return f.OpenThemeData ? f.OpenThemeData(AWnd, AClassList) : nullptr;
}

HTHEME OpenThemeDataForDpi(HWND AWnd, const wchar_t* AClassList, UINT ADpi, bool AFallback) noexcept {
  const theme_functions& f = theme();
  if (f.OpenThemeDataForDpi) return f.OpenThemeDataForDpi(AWnd, AClassList, ADpi);
  return AFallback ? qor::OpenThemeData(AWnd, AClassList) : nullptr;
}

void SetActCtxFunctionsForTest(activate_actctx_fn AActivate, deactivate_actctx_fn ADeactivate) noexcept {
  lock_guard<critical_section> guard(GThemesLock);
  if (AActivate) GActivateActCtx = AActivate; else resolve(L"kernel32.dll", "ActivateActCtx", GActivateActCtx);
  if (ADeactivate) GDeactivateActCtx = ADeactivate;
  else resolve(L"kernel32.dll", "DeactivateActCtx", GDeactivateActCtx);
}

void SetComCtl32VersionForTest(DWORD (*AProbe)()) noexcept { GComCtl32VersionProbe = AProbe; }

}  // namespace qor
