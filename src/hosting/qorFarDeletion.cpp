// Finding the listed entries in the plugin's listing and deleting them folder by folder.
#include "hosting/qorFarDeletion.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarArchiveLocks.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarPanelCursor.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPluginPanel.h"
#include "hosting/qorFarPlugins.h"
#include "services/qorFarCurrentFolder.h"

namespace qor {
namespace {

using namespace wcx;

std::wstring folded(std::wstring AText) {
  if (!AText.empty()) ::CharUpperBuffW(AText.data(), static_cast<DWORD>(AText.size()));
  return AText;
}

// The names the file manager asks for, as it was shown them; a folder with its contents ends in
// "\*.*". Any other '*' or '?' is part of a name: never a mask.
struct wanted_name {
  std::wstring Path;  // folded
  bool WholeFolder = false;
};

std::vector<wanted_name> read_names(const wchar_t* AList) {
  std::vector<wanted_name> names;
  for (const wchar_t* p = AList; p && *p; p += wcslen(p) + 1) {
    wanted_name name;
    name.Path = p;
    std::replace(name.Path.begin(), name.Path.end(), L'/', L'\\');
    if (name.Path.size() >= 4 && name.Path.compare(name.Path.size() - 4, 4, L"\\*.*") == 0) {
      name.Path.resize(name.Path.size() - 4);
      name.WholeFolder = true;
    }
    while (!name.Path.empty() && name.Path.back() == L'\\') name.Path.pop_back();
    if (name.Path.empty()) continue;
    name.Path = folded(name.Path);
    names.push_back(std::move(name));
  }
  return names;
}

// One entry of the archive: its path as the plugin lists it (raw, one component a name).
struct archive_entry {
  std::wstring Folder;  // raw path of the folder holding it, "" at the root
  std::wstring Name;    // raw name in that folder
  bool IsFolder = false;
  bool HasContents = false;
};

class delete_call {
 public:
  delete_call(const std::wstring& AArchive, const TqorProcessDataProcs& AProcs)
      : FArchive(FarFullPath(AArchive)), FProgress(AProcs) {}

  int run(const wchar_t* AList) {
    const std::vector<wanted_name> names = read_names(AList);
    if (names.empty()) return E_NO_FILES;
    const TqorArchiveChangeLock lock(FArchive);
    if (::GetFileAttributesW(FArchive.c_str()) == INVALID_FILE_ATTRIBUTES) return E_EOPEN;
    HANDLE handle = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(FArchive, handle);
    if (!plugin) return E_UNKNOWN_FORMAT;
    if (!handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return E_EOPEN;
    TqorFarPluginPanel panel(plugin, handle);
    if (!plugin->HasDeleteFiles()) return E_NOT_SUPPORTED;
    read_listing(panel);
    resolve(names);
    if (FChosen.empty()) return E_NO_FILES;
    FProgress.BeginWhole(FArchive, 0);
    const int result = delete_chosen(panel);
    panel.Close();
    return result;
  }

 private:
  // The whole listing once, by the path the file manager was shown for each entry.
  void read_listing(TqorFarPluginPanel& APanel) {
    std::unordered_set<std::wstring> folders_with_contents;
    std::vector<std::wstring> shown;
    while (const TPluginPanelItem* item = APanel.GetNextFile()) {
      const std::wstring& path = APanel.CurrentFileName();
      const size_t cut = path.find_last_of(L'\\');
      archive_entry entry;
      entry.Folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
      entry.Name = cut == std::wstring::npos ? path : path.substr(cut + 1);
      entry.IsFolder = (item->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (!entry.Folder.empty()) folders_with_contents.insert(entry.Folder);
      shown.push_back(folded(ListedEntryPath(path)));
      FEntries.push_back(std::move(entry));
    }
    APanel.Rewind();
    for (size_t i = 0; i < FEntries.size(); ++i) {
      archive_entry& entry = FEntries[i];
      entry.HasContents = entry.IsFolder &&
                          folders_with_contents.count(entry.Folder.empty() ? entry.Name : entry.Folder + L"\\" + entry.Name);
      FShown.emplace(shown[i], i);
    }
  }

  // A file name means that file; "dir\*.*" that folder with what it holds; a bare folder name
  // only a folder that holds nothing. Entries inside a chosen folder go with it.
  void resolve(const std::vector<wanted_name>& ANames) {
    std::vector<size_t> chosen;
    for (const wanted_name& name : ANames) {
      const auto found = FShown.find(name.Path);
      if (found == FShown.end()) continue;
      const archive_entry& entry = FEntries[found->second];
      if (entry.IsFolder ? (name.WholeFolder || !entry.HasContents) : !name.WholeFolder) chosen.push_back(found->second);
    }
    std::unordered_set<std::wstring> chosen_folders;
    for (size_t index : chosen)
      if (FEntries[index].IsFolder) chosen_folders.insert(full_path(FEntries[index]));
    for (size_t index : chosen) {
      if (inside_chosen(FEntries[index].Folder, chosen_folders)) continue;
      std::vector<std::wstring>& names = FChosen[FEntries[index].Folder];
      if (std::find(names.begin(), names.end(), FEntries[index].Name) == names.end())
        names.push_back(FEntries[index].Name);
    }
  }

  static std::wstring full_path(const archive_entry& AEntry) {
    return AEntry.Folder.empty() ? AEntry.Name : AEntry.Folder + L"\\" + AEntry.Name;
  }

  static bool inside_chosen(std::wstring AFolder, const std::unordered_set<std::wstring>& AChosen) {
    for (;;) {
      if (AFolder.empty()) return false;
      if (AChosen.count(AFolder)) return true;
      const size_t cut = AFolder.find_last_of(L'\\');
      AFolder = cut == std::wstring::npos ? std::wstring() : AFolder.substr(0, cut);
    }
  }

  // One DeleteFilesW per folder, deepest first, each on a fresh listing: the plugin renumbers its
  // items after every change.
  int delete_chosen(TqorFarPluginPanel& APanel) {
    size_t done = 0;
    for (auto group = FChosen.rbegin(); group != FChosen.rend(); ++group) {
      if (FProgress.Cancelled()) return E_EABORTED;
      if (const int error = delete_in_folder(APanel, group->first, group->second)) return error;
      ++done;
      const int percent = static_cast<int>(done * 100 / FChosen.size());
      FProgress.ReportPercents(percent, percent);
    }
    return FProgress.Cancelled() ? E_EABORTED : 0;
  }

  int delete_in_folder(TqorFarPluginPanel& APanel, const std::wstring& AFolder, const std::vector<std::wstring>& ANames) {
    TqorFarPanelCursor cursor(APanel);
    for (size_t start = 0; !AFolder.empty();) {
      const size_t cut = AFolder.find(L'\\', start);
      if (!cursor.Enter(AFolder.substr(start, cut - start))) return E_EWRITE;
      if (cut == std::wstring::npos) break;
      start = cut + 1;
    }
    std::vector<TPluginPanelItem> items;
    const TqorFarPluginEnum& listing = cursor.Listing();
    for (size_t i = 0; i < listing.ItemCount(); ++i)
      if (std::find(ANames.begin(), ANames.end(), listing.NameAt(i)) != ANames.end()) items.push_back(listing.Item(i));
    if (items.empty()) return 0;
    TDeleteFilesInfo info{};
    info.StructSize = sizeof(info);
    info.hPanel = APanel.Handle();
    info.PanelItem = items.data();
    info.ItemsNumber = items.size();
    info.OpMode = OPM_SILENT;
    const unsigned long stops = UserStops();
    intptr_t answer = 0;
    try {
      const TqorProgressScope progress(FProgress);
      answer = APanel.Plugin()->DeleteFiles(info);
    } catch (...) {
      return E_EWRITE;
    }
    if (answer == 0) return FProgress.Cancelled() || UserStops() != stops ? E_EABORTED : E_EWRITE;
    return 0;
  }

  const std::wstring FArchive;
  TqorArchiveProgress FProgress;
  std::vector<archive_entry> FEntries;
  std::unordered_map<std::wstring, size_t> FShown;
  std::map<std::wstring, std::vector<std::wstring>> FChosen;  // raw folder path to raw names in it
};

}  // namespace

int DeleteFiles(const std::wstring& APackedFile, const wchar_t* ADeleteList, const TqorProcessDataProcs& AProcs) {
  delete_call call(APackedFile, AProcs);
  return call.run(ADeleteList);
}

}  // namespace qor
