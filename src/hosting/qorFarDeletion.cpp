// Finding the listed entries in the listings of their folders and deleting them folder by folder.
#include "hosting/qorFarDeletion.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorText.h"
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
    name.Path = FoldedName(name.Path);
    names.push_back(std::move(name));
  }
  return names;
}

// The names asked for in one folder, by the folder's path as the file manager was shown it.
using wanted_by_folder = std::map<std::wstring, std::vector<wanted_name>>;

std::wstring folder_part(const std::wstring& APath) {
  const size_t cut = APath.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::wstring() : APath.substr(0, cut);
}

std::wstring name_part(const std::wstring& APath) { return APath.substr(APath.find_last_of(L'\\') + 1); }

size_t depth_of(const std::wstring& APath) {
  return APath.empty() ? 0 : 1 + static_cast<size_t>(std::count(APath.begin(), APath.end(), L'\\'));
}

// A listing's items by the name the file manager was shown for each (folded): worked out once per
// listing, however many names are looked up in it.
std::unordered_map<std::wstring, size_t> shown_names(const TqorFarPluginEnum& AListing) {
  std::unordered_map<std::wstring, size_t> names;
  names.reserve(AListing.ItemCount());
  for (size_t i = 0; i < AListing.ItemCount(); ++i) names.emplace(FoldedName(ListedEntryPath(AListing.NameAt(i))), i);
  return names;
}

bool is_folder(const TPluginPanelItem& AItem) { return (AItem.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

class delete_call {
 public:
  delete_call(const std::wstring& AArchive, const TqorProcessDataProcs& AProcs)
      : FArchive(FarFullPath(AArchive)), FProgress(AProcs) {}

  int run(const wchar_t* AList) {
    wanted_by_folder wanted;
    for (wanted_name& name : read_names(AList)) wanted[folder_part(name.Path)].push_back(std::move(name));
    if (wanted.empty()) return E_NO_FILES;
    const TqorArchiveChangeLock lock(FArchive);
    if (::GetFileAttributesW(FArchive.c_str()) == INVALID_FILE_ATTRIBUTES) return E_EOPEN;
    HANDLE handle = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(FArchive, handle);
    if (!plugin) return E_UNKNOWN_FORMAT;
    if (!handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return E_EOPEN;
    TqorFarPluginPanel panel(plugin, handle);
    if (!plugin->HasDeleteFiles()) return E_NOT_SUPPORTED;
    FProgress.BeginWhole(FArchive, 0);
    const int result = delete_wanted(panel, wanted);
    panel.Close();
    return result;
  }

 private:
  // Folder by folder, the shallower first: what a deleted folder held is gone with it, and its
  // names find nothing. Only the folders the names lie in are listed.
  int delete_wanted(TqorFarPluginPanel& APanel, const wanted_by_folder& AWanted) {
    std::vector<const wanted_by_folder::value_type*> order;
    for (const auto& group : AWanted) order.push_back(&group);
    std::stable_sort(order.begin(), order.end(),
                     [](const auto* a, const auto* b) { return depth_of(a->first) < depth_of(b->first); });
    size_t done = 0, matched = 0;
    for (const auto* group : order) {
      if (FProgress.Cancelled()) return E_EABORTED;
      if (const int error = delete_in_folder(APanel, group->first, group->second, matched)) return error;
      const int percent = static_cast<int>(++done * 100 / order.size());
      FProgress.ReportPercents(percent, percent);
    }
    if (FProgress.Cancelled()) return E_EABORTED;
    return matched ? 0 : E_NO_FILES;
  }

  int delete_in_folder(TqorFarPluginPanel& APanel, const std::wstring& AFolder, const std::vector<wanted_name>& ANames,
                       size_t& AMatched) {
    TqorFarPanelCursor cursor(APanel);
    for (size_t start = 0; !AFolder.empty();) {
      const size_t cut = AFolder.find(L'\\', start);
      const auto shown = shown_names(cursor.Listing());
      const auto found = shown.find(AFolder.substr(start, cut - start));
      if (found == shown.end() || !is_folder(cursor.Listing().Item(found->second))) return 0;
      if (!cursor.Enter(std::wstring(cursor.Listing().NameAt(found->second)))) return E_EWRITE;
      if (cut == std::wstring::npos) break;
      start = cut + 1;
    }
    const std::set<std::wstring> chosen = choose(cursor, ANames);
    if (chosen.empty()) return 0;
    std::vector<TPluginPanelItem> items;
    const TqorFarPluginEnum& listing = cursor.Listing();
    for (size_t i = 0; i < listing.ItemCount(); ++i)
      if (chosen.count(std::wstring(listing.NameAt(i)))) items.push_back(listing.Item(i));
    AMatched += items.size();
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

  // The raw names of the current folder's items that the names stand for: a file name that file,
  // "dir\*.*" that folder with what it holds, a bare folder name only a folder that holds nothing.
  std::set<std::wstring> choose(TqorFarPanelCursor& ACursor, const std::vector<wanted_name>& ANames) {
    std::set<std::wstring> chosen;
    std::vector<std::wstring> bare_folders;
    const auto shown = shown_names(ACursor.Listing());
    for (const wanted_name& name : ANames) {
      const auto found = shown.find(name_part(name.Path));
      if (found == shown.end()) continue;
      const bool folder = is_folder(ACursor.Listing().Item(found->second));
      std::wstring raw(ACursor.Listing().NameAt(found->second));
      if (folder && !name.WholeFolder)
        bare_folders.push_back(std::move(raw));
      else if (folder == name.WholeFolder)
        chosen.insert(std::move(raw));
    }
    for (std::wstring& folder : bare_folders) {
      if (!ACursor.Enter(folder)) continue;
      const bool empty = ACursor.Listing().ItemCount() == 0;
      ACursor.Leave();
      if (empty) chosen.insert(std::move(folder));
    }
    return chosen;
  }

  const std::wstring FArchive;
  TqorArchiveProgress FProgress;
};

}  // namespace

int DeleteFiles(const std::wstring& APackedFile, const wchar_t* ADeleteList, const TqorProcessDataProcs& AProcs) {
  delete_call call(APackedFile, AProcs);
  return call.run(ADeleteList);
}

}  // namespace qor
