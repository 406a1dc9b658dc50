// What this process knows of the settings file, and the one way to change it. A settings object
// (or the plugin list) starts from a copy of the stored tree and records its changes; committing
// them takes the lock file, reads the file again and replays the changes on what is there now,
// so another process's changes to other keys are kept. Changes that could not be written stay
// with the process and go with its next write.
#pragma once

#include <windows.h>

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
// process has replaced it since.
TqorSettingsKey ReadStoredTree(const GUID& AGuid, bool ALocal);
// Writes the changes (and any earlier ones that could not be written). True when the file holds
// them; either way this process sees them from now on.
bool CommitSettings(const TqorSettingsChanges& AChanges);

}  // namespace qor
