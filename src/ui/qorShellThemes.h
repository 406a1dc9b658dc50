// Visual styles and the module's activation context: the module's own windows get common
// controls 6 through the context the loader built from the module's manifest, and the uxtheme
// functions are reached through wrappers that fail softly where the library or a name is missing.
#pragma once

#include <windows.h>
#include <uxtheme.h>

namespace qor {

// Unit start-up/shut-down. The context comes from the loader entry of the module holding this
// code; the overload names another module (tests start the unit on the built Wexlor.wcx).
void ThemesStartup() noexcept;
void ThemesStartup(HINSTANCE AModule) noexcept;
void ThemesShutdown() noexcept;

// One activation request; a form holds one while its windows are being created.
class TqorShellActivationContext {
 public:
  TqorShellActivationContext() noexcept;
  ~TqorShellActivationContext();
  TqorShellActivationContext(const TqorShellActivationContext&) = delete;
  TqorShellActivationContext& operator=(const TqorShellActivationContext&) = delete;
  bool NeedActivate() const noexcept { return FNeedActivate; }

 private:
  bool FNeedActivate = false;
};

void ActivateModuleActCtx() noexcept;
void DeactivateModuleActCtx() noexcept;
// The module's activation context (0 when there is none usable).
HANDLE ModuleActivationContext() noexcept;

// Versions as (major << 8) | minor; 0x0400 when they cannot be learnt.
DWORD GetComCtl32Version() noexcept;
DWORD GetDllVersion(HMODULE AModule) noexcept;

// uxtheme is loaded, IsThemeActive and IsAppThemed are both true.
bool UseThemes() noexcept;

HRESULT CloseThemeData(HTHEME ATheme) noexcept;
HRESULT DrawThemeBackground(HTHEME ATheme, HDC ADC, int APartId, int AStateId, const RECT* ARect,
                            const RECT* AClipRect) noexcept;
HRESULT GetThemeColor(HTHEME ATheme, int APartId, int AStateId, int APropId, COLORREF* AColor) noexcept;
HRESULT GetThemeFont(HTHEME ATheme, HDC ADC, int APartId, int AStateId, int APropId,
                     LOGFONTW* AFont) noexcept;
HRESULT GetThemePartSize(HTHEME ATheme, HDC ADC, int APartId, int AStateId, const RECT* ARect,
                         THEMESIZE ASize, SIZE* AResult) noexcept;
HTHEME GetWindowTheme(HWND AWnd) noexcept;
bool IsAppThemed() noexcept;
bool IsThemeActive() noexcept;
HTHEME OpenThemeData(HWND AWnd, const wchar_t* AClassList) noexcept;
HTHEME OpenThemeDataForDpi(HWND AWnd, const wchar_t* AClassList, UINT ADpi, bool AFallback) noexcept;

// Seams for tests: the activation calls and the common-controls probe can be observed or
// replaced (nullptr restores the system's own). Not used by the module itself.
using activate_actctx_fn = BOOL(WINAPI*)(HANDLE, ULONG_PTR*);
using deactivate_actctx_fn = BOOL(WINAPI*)(DWORD, ULONG_PTR);
void SetActCtxFunctionsForTest(activate_actctx_fn AActivate, deactivate_actctx_fn ADeactivate) noexcept;
void SetComCtl32VersionForTest(DWORD (*AProbe)()) noexcept;

}  // namespace qor
