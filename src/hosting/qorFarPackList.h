// The sources of one packing call as the file manager names them (a source folder and a
// NUL-separated list below it), checked and stated on disk before any plugin call: the
// top-level items FAR would hand a plugin, and what a move may delete afterwards. Calls the entry
// name rules and the extended paths of staging; never a plugin.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace qor {

// One listed source as it stood when the call began.
struct TqorPackSource {
  std::wstring Name;  // below the source folder, '\'-separated, without a trailing '\'
  bool Folder = false;
  WIN32_FILE_ATTRIBUTE_DATA Data{};
  unsigned long long Size() const noexcept {
    return (static_cast<unsigned long long>(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow;
  }
};

class TqorPackList {
 public:
  // Reads and checks the list: 0, or the WCX error that refuses it before any plugin call
  // (E_NO_FILES for an empty list, E_NOT_SUPPORTED for a name that is empty, absolute or climbs,
  // for a shape the module does not pack, E_EREAD for a source that is not there).
  int Read(const wchar_t* ASrcPath, const wchar_t* AAddList, bool ASavePaths);

  // The source folder in FAR's form: no trailing backslash except at a root.
  const std::wstring& SourceFolder() const noexcept { return FFolder; }
  // The full path of a source.
  std::wstring PathOf(const TqorPackSource& ASource) const;
  const std::vector<TqorPackSource>& Sources() const noexcept { return FSources; }
  unsigned long long TotalBytes() const noexcept { return FTotalBytes; }
  // The items of the top level as FAR passes a selection: bare names, stated, PPIF_SELECTED.
  // Valid while the list lives; the plugin may write to them.
  std::vector<TPluginPanelItem> PanelItems() const;
  // True when APath (a full path) is a listed file or lies inside a listed folder: an archive there
  // would be packed into itself.
  bool Covers(const std::wstring& APath) const;

 private:
  int read_names(const wchar_t* AAddList, bool ASavePaths);
  int state_sources();
  bool folders_complete() const;

  std::wstring FFolder;
  std::vector<TqorPackSource> FSources;
  std::vector<size_t> FTopLevel;
  unsigned long long FTotalBytes = 0;
};

}  // namespace qor
