// What the settings file keeps of the hosted plugins, in the host's own tree: the detection order
// by plugin GUID, and per plugin whether it is enabled, what the list shows of it (kept from its
// last load, for a plugin that is not loaded) and the DLLs it was found in, by the plugins folder
// of each module. A disabled plugin's DLLs are known by their paths, so that they are never loaded;
// and as both modules share the file, the folder names the other module noted stand for the
// plugin in this module's plugins folder too, until this module has seen what its folder holds.
//
//   [{host} roaming]                      string "Order" = "{GUID} {GUID} ..."
//   [{host} roaming "Plugins" "{GUID}"]   qword "Enabled", string "Title" "Version" "Author"
//                                         "Description", string "Plugins32" / "Plugins64" = "Tar\tar.dll|..."
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qor {

struct TqorPluginRecord {
  GUID Guid{};
  bool Enabled = true;
  std::wstring Title, Version, Author, Description;
  std::vector<std::wstring> Files;       // this module's DLLs of it, below its plugins folder
  std::vector<std::wstring> OtherFiles;  // the other module's, below that one's plugins folder
};

struct TqorPluginRecords {
  std::vector<GUID> Order;
  std::vector<TqorPluginRecord> Plugins;

  const TqorPluginRecord* Find(const GUID& AGuid) const noexcept;
  // The record that names a DLL (its path below this module's plugins folder), letter case aside.
  const TqorPluginRecord* FindFile(const std::wstring& ARelative) const noexcept;
  // A disabled plugin that the other module found in a folder of this name (letter case aside).
  const TqorPluginRecord* FindDisabledOtherFolder(const std::wstring& AFolder) const noexcept;
  // A plugin's place in the order; plugins the order does not name come after all it names.
  size_t Rank(const GUID& AGuid) const noexcept;
};

TqorPluginRecords ReadPluginRecords();
// Saves this module's plugins in their detection order. Plugins of the other module and those
// gone from the disk for now keep their records, and their places after these in the order.
// ERROR_SUCCESS, or the system error that kept the file from taking them (CommitSettings).
DWORD SavePluginRecords(const std::vector<TqorPluginRecord>& APlugins);
// Notes one more DLL of a plugin.
void AddPluginFile(const GUID& AGuid, const std::wstring& ARelative);

}  // namespace qor
