// Dialog emulation: a plugin's console dialog rebuilt as a native window.
#pragma once

#include "hosting/qorFarPluginW.h"

namespace qor {

// Host entries for PluginStartupInfo.DialogInit, DialogRun and DialogFree.
HANDLE WINAPI FarApiDialogInit(const GUID* APluginId, const GUID* AId, intptr_t X1, intptr_t Y1,
                               intptr_t X2, intptr_t Y2, const wchar_t* AHelpTopic,
                               const TFarDialogItem* AItem, size_t AItemsNumber, intptr_t AReserved,
                               TFarFlags AFlags, TFarApiDialogProc ADlgProc, void* AParam);
intptr_t WINAPI FarApiDialogRun(HANDLE hDlg);
void WINAPI FarApiDialogFree(HANDLE hDlg);

}  // namespace qor
