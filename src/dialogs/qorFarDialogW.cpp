#include "dialogs/qorFarDialogW.h"

#include "services/qorFarStartupInfoW.h"

namespace qor {

// Not offered yet: no dialog is made, so every run reports "cancelled".
HANDLE WINAPI FarApiDialogInit(const GUID*, const GUID*, intptr_t, intptr_t, intptr_t, intptr_t,
                               const wchar_t*, const TFarDialogItem*, size_t, intptr_t, TFarFlags,
                               TFarApiDialogProc, void*) {
  ShowHostWarning(L"FarApiDialogInit");
  return INVALID_HANDLE_VALUE;
}

intptr_t WINAPI FarApiDialogRun(HANDLE) {
  ShowHostWarning(L"FarApiDialogRun");
  return -1;
}

void WINAPI FarApiDialogFree(HANDLE) { ShowHostWarning(L"FarApiDialogFree"); }

}  // namespace qor
