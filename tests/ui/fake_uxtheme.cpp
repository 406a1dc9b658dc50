// A uxtheme.dll stand-in with only three of the visual-style functions: lets a child test process
// see how the wrappers behave where "OpenThemeDataForDpi", "GetThemeFont" and the rest are missing.
#include <windows.h>

extern "C" {
__declspec(dllexport) HANDLE WINAPI OpenThemeData(HWND, LPCWSTR) { return reinterpret_cast<HANDLE>(0x5150); }
__declspec(dllexport) BOOL WINAPI IsThemeActive() { return TRUE; }
__declspec(dllexport) BOOL WINAPI IsAppThemed() { return TRUE; }
}
