// Packing through the hosted plugins, as the file manager asks for it (PackFiles): files added to
// an existing archive through the panel of the plugin that opens it, a new archive made by the
// plugin FAR's creation probe picks (through its documented command interface when it has one,
// else FAR's own route with the plugin's dialogs), and the move of sources, which only the module
// does, once the archive is seen to hold them. Calls the plugin list, the plugin module, the
// panel and its cursor, the pack list, FAR's operation scope and progress.
#pragma once

#include <string>

#include "hosting/qorFarProgress.h"

namespace qor {

struct TqorPackRequest {
  std::wstring PackedFile;       // full path of the archive to make or change
  std::wstring SubPath;          // folder inside the archive; empty for its root
  const wchar_t* SrcPath = nullptr;
  const wchar_t* AddList = nullptr;  // NUL-separated, ends with an empty name
  int Flags = 0;                 // PK_PACK_*
};

// Asks the user for a new archive's password; false when they cancel.
using TqorPasswordPrompt = bool (*)(std::wstring& APassword);

// 0 or the WCX error. Progress and cancel go through AProcs, the callbacks the file manager set
// for packing. APrompt asks for the password of an encrypted new archive.
int PackFiles(const TqorPackRequest& ARequest, const TqorProcessDataProcs& AProcs, TqorPasswordPrompt APrompt);

}  // namespace qor
