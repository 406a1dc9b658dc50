// Resource module for the system string source. Its code must never run when the module is
// mapped for its string tables: DllMain leaves a trace that the test looks for.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD AReason, LPVOID) {
  if (AReason == DLL_PROCESS_ATTACH) SetEnvironmentVariableW(L"WEXLOR_RESOURCE_CODE_RAN", L"1");
  return TRUE;
}
