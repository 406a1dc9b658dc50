// What this process knows of the settings file, and the one way to change it. A settings object
// (or the plugin list) starts from a copy of the stored tree and records its changes; committing
// them takes the lock file, reads the file again and replays the changes on what is there now,
// so another process's changes to other keys are kept. Changes that could not be written stay
// with the process until a later settings call or the module's unload writes them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "services/qorFarSettingsFile.h"

namespace qor {

// The host's own tree in the file: the hosted plugins' detection order and states. No plugin
// opens it.
constexpr GUID kWexlorSettingsGuid = {0x85EF421E, 0x98B8, 0x4483, {0x95, 0xF3, 0x16, 0x82, 0xC3, 0x9F, 0x60, 0xDD}};

// One change of a settings object, by the names of the keys from the tree's root.
struct TqorSettingsChange {
  enum TKind { CreateKey, SetValue, DeleteValue, DeleteKey };
  TKind Kind = CreateKey;
  GUID Guid{};
  bool Local = false;
  std::vector<std::wstring> Path;
  TqorSettingsValue Value;  // SetValue: the value; DeleteValue: its name
};
using TqorSettingsChanges = std::vector<TqorSettingsChange>;

// Replays changes in order. A key named by a change that no longer exists is created again for
// a value set in it, and nothing happens for a deletion below it.
void ApplySettingsChanges(TqorSettingsDocument& ADocument, const TqorSettingsChanges& AChanges);

// The folder of the file manager's suggested settings file (PackSetDefaultParams); the settings
// file goes there. Without one, or with a name without a folder, it goes to "Wexlor" below the
// user's application-data folder.
void SetSettingsFolder(const std::wstring& ADefaultIniName);
std::wstring SettingsFileName();
constexpr const wchar_t* kSettingsFileName = L"WexlorSettings.txt";

// A copy of one stored tree. The file is read at the first call and again whenever another
// process has replaced it since; changes still waiting for the file are written first.
TqorSettingsKey ReadStoredTree(const GUID& AGuid, bool ALocal);
// Writes the changes (and any earlier ones that could not be written). ERROR_SUCCESS when the file
// holds them; else the system error that kept them out, and this process sees them from now on and
// writes them at its next settings call, or at the latest when the module unloads. Changes that
// would make the file bigger than a reader takes are dropped instead (ERROR_FILE_TOO_LARGE).
DWORD CommitSettings(const TqorSettingsChanges& AChanges);
// Writes the changes still waiting for the file (at module unload); never blocks on a store lock
// that another thread holds, as at process exit a thread may have died holding it.
void WritePendingSettings() noexcept;
// How many bytes the file may still grow by before a reader would set it aside, as this process
// last read or wrote it.
std::uint64_t SettingsFileRoom() noexcept;

}  // namespace qor
