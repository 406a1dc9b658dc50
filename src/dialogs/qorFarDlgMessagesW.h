// The dialog message service: SendDlgMessage's DM_* commands on a live dialog (also between
// DialogRun and DialogFree) and DefDlgProc's default answers.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qor {

// Host entries for PluginStartupInfo.SendDlgMessage and DefDlgProc.
intptr_t WINAPI FarApiSendDlgMessage(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2);
intptr_t WINAPI FarApiDefDlgProc(HANDLE hDlg, intptr_t Msg, intptr_t Param1, void* Param2);

}  // namespace qor
