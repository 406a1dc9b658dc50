// The message service: a plugin's Message box and InputBox prompt as native modal forms on the
// calling thread, in the look of the task-dialog style message form.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace qor {

// A Message call as read from the plugin: what the form shows and how.
struct TqorFarMessageParts {
  std::wstring Title;
  std::vector<std::wstring> Lines;  // body lines; U+0001 / U+0002 first: single / double separator
  std::vector<std::wstring> Buttons;
  bool Warning = false;
  bool LeftAlign = false;
};

// Reads the strings of a Message call from plugin memory and splits them into title, body and
// buttons; AErrorCode is the thread's last error on entry (used with FMSG_ERRORTYPE). False when
// there is nothing to show: a refused call, a message without buttons, or unreadable memory.
bool ReadFarMessage(TFarFlags AFlags, const wchar_t* const* AItems, size_t AItemsNumber, intptr_t AButtonsNumber,
                    DWORD AErrorCode, TqorFarMessageParts& AParts);

// "0x%08X - <system text>" of a Win32 error (NT status codes looked up in ntdll).
std::wstring FarErrorText(DWORD ACode);

// Host entries for PluginStartupInfo.Message and InputBox.
intptr_t WINAPI FarApiMessage(const GUID* APluginId, const GUID* AId, TFarFlags AFlags, const wchar_t* AHelpTopic,
                              const wchar_t* const* AItems, size_t AItemsNumber, intptr_t AButtonsNumber);
intptr_t WINAPI FarApiInputBox(const GUID* APluginId, const GUID* AId, const wchar_t* ATitle,
                               const wchar_t* ASubTitle, const wchar_t* AHistoryName, const wchar_t* ASrcText,
                               wchar_t* ADestText, size_t ADestSize, const wchar_t* AHelpTopic, TFarFlags AFlags);

}  // namespace qor
