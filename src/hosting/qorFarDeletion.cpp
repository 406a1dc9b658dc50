// Finding the listed entries in the listings of their folders and deleting them folder by folder,
// as one change: checked against what those folders listed before, and rolled back as a whole.
#include "hosting/qorFarDeletion.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorErrors.h"
#include "common/qorText.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarArchiveChange.h"
#include "hosting/qorFarArchiveLocks.h"
#include "hosting/qorFarArchiveSnapshot.h"
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
  std::wstring Name;  // in its folder
  bool WholeFolder = false;
};

// The names asked for in one folder, by the folder's path as the file manager was shown it.
using wanted_by_folder = std::map<std::wstring, std::vector<wanted_name>>;

wanted_by_folder read_names(const wchar_t* AList) {
  wanted_by_folder wanted;
  for (const wchar_t* p = AList; p && *p; p += wcslen(p) + 1) {
    std::wstring path = p;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    bool whole = false;
    if (path.size() >= 4 && path.compare(path.size() - 4, 4, L"\\*.*") == 0) {
      path.resize(path.size() - 4);
      whole = true;
    }
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    if (path.empty()) continue;
    const size_t cut = path.find_last_of(L'\\');
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
    wanted[folder].push_back(wanted_name{path.substr(cut + 1), whole});
  }
  return wanted;
}

std::vector<std::wstring> split_path(const std::wstring& APath) {
  std::vector<std::wstring> parts;
  for (size_t start = 0; !APath.empty();) {
    const size_t cut = APath.find(L'\\', start);
    parts.push_back(APath.substr(start, cut - start));
    if (cut == std::wstring::npos) break;
    start = cut + 1;
  }
  return parts;
}

std::wstring joined(const std::vector<std::wstring>& AParts) {
  std::wstring path;
  for (const std::wstring& part : AParts) path += (path.empty() ? L"" : L"\\") + part;
  return path;
}

// An item found by the name the file manager was shown for it: the exact shown name, else the one
// item whose shown name matches it without regard to case. Two items behind one exact shown name
// (names made alike for the file manager) are ambiguous.
struct found_item {
  const TqorListedItem* Item = nullptr;
  bool Ambiguous = false;
};

class shown_names {
 public:
  shown_names(const TqorListedFolder& AFolder, bool AAnsi) {
    for (const TqorListedItem& item : AFolder.Items()) {
      const std::wstring shown = AAnsi ? AnsiToWide(AnsiPath(item.Listed).c_str()) : item.Listed;
      FExact.emplace(key(shown, item.Folder), &item);
      FFolded.emplace(key(FoldedName(shown), item.Folder), &item);
    }
  }
  found_item find(const std::wstring& AName, bool AFolder) const {
    found_item found;
    const auto exact = FExact.equal_range(key(AName, AFolder));
    if (exact.first != exact.second) {
      found.Item = exact.first->second;
      found.Ambiguous = std::next(exact.first) != exact.second;
      return found;
    }
    const auto loose = FFolded.equal_range(key(FoldedName(AName), AFolder));
    if (loose.first != loose.second && std::next(loose.first) == loose.second) found.Item = loose.first->second;
    return found;
  }

 private:
  static std::wstring key(const std::wstring& AName, bool AFolder) { return AName + (AFolder ? L'\\' : L'/'); }
  std::unordered_multimap<std::wstring, const TqorListedItem*> FExact, FFolded;
};

// The items chosen in one folder, by their place in its listing.
struct folder_plan {
  std::vector<std::wstring> Levels;  // the folder's path as listed
  const TqorListedFolder* Before = nullptr;
  std::vector<size_t> Indices;
};

class delete_call {
 public:
  delete_call(const std::wstring& AArchive, const TqorProcessDataProcs& AProcs, bool AAnsi)
      : FArchive(FarFullPath(AArchive)), FProgress(AProcs), FAnsi(AAnsi) {}

  int run(const wchar_t* AList) {
    const wanted_by_folder wanted = read_names(AList);
    if (wanted.empty()) return E_NO_FILES;
    const TqorArchiveChangeLock lock(FArchive);
    if (::GetFileAttributesW(FArchive.c_str()) == INVALID_FILE_ATTRIBUTES) return E_EOPEN;
    TqorArchiveChange change(FArchive);
    FProgress.BeginWhole(FArchive, 0);
    const int result = ChangeThroughPanel(FArchive, &TqorFarPlugin::HasDeleteFiles, [&](TqorFarPanelCursor& ACursor) {
      int done = resolve(ACursor, wanted);
      if (done == 0) done = delete_planned(ACursor);
      if (done == 0 && !change_holds(ACursor)) done = E_EWRITE;
      return done;
    });
    if (result != 0) {
      change.RollBack();
      return result;
    }
    change.Commit();
    return 0;
  }

 private:
  // Moves the cursor to the folder ALevels names (listed names), leaving only what it must.
  bool go_to(TqorFarPanelCursor& ACursor, const std::vector<std::wstring>& ALevels) {
    size_t common = 0;
    while (common < FAt.size() && common < ALevels.size() && FAt[common] == ALevels[common]) ++common;
    while (FAt.size() > common) {
      ACursor.Leave();
      FAt.pop_back();
    }
    while (FAt.size() < ALevels.size()) {
      if (!ACursor.Enter(ALevels[FAt.size()])) return false;
      FAt.push_back(ALevels[FAt.size()]);
    }
    return true;
  }

  // Every name found in the listing of its folder before anything is deleted; E_NOT_SUPPORTED for
  // a name that stands for two items, E_NO_FILES when no name stands for any.
  int resolve(TqorFarPanelCursor& ACursor, const wanted_by_folder& AWanted) {
    std::vector<const wanted_by_folder::value_type*> order;
    for (const auto& group : AWanted) order.push_back(&group);
    // The shallower first: what a deleted folder holds goes with it.
    const auto depth = [](const std::wstring& APath) {
      return APath.empty() ? 0 : 1 + std::count(APath.begin(), APath.end(), L'\\');
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](const auto* a, const auto* b) { return depth(a->first) < depth(b->first); });
    try {
      for (const auto* group : order)
        if (const int error = resolve_folder(ACursor, group->first, group->second)) return error;
    } catch (...) {
      return E_EREAD;
    }
    return FPlans.empty() ? E_NO_FILES : 0;
  }

  int resolve_folder(TqorFarPanelCursor& ACursor, const std::wstring& AFolder, const std::vector<wanted_name>& ANames) {
    folder_plan plan;
    TqorListedFolder* node = read_root(ACursor);
    for (const std::wstring& shown : split_path(AFolder)) {
      const found_item level = shown_names(*node, FAnsi).find(shown, true);
      if (level.Ambiguous) return E_NOT_SUPPORTED;
      if (!level.Item) return 0;
      plan.Levels.push_back(level.Item->Name);
      if (FGoing.count(key_of(plan.Levels, true))) return 0;  // goes with a folder above
      node = &node->Sub(level.Item->Name);
      if (!go_to(ACursor, plan.Levels)) return 0;
      read_here(ACursor, *node);
    }
    const shown_names shown(*node, FAnsi);
    std::vector<const TqorListedItem*> chosen;
    for (const wanted_name& name : ANames) {
      // A file name means that file; "dir\*.*" that folder with all it holds; a bare folder name
      // only a folder that holds nothing.
      found_item found = shown.find(name.Name, name.WholeFolder);
      bool bare_folder = false;
      if (!found.Item && !found.Ambiguous && !name.WholeFolder) {
        found = shown.find(name.Name, true);
        bare_folder = true;
      }
      if (found.Ambiguous) return E_NOT_SUPPORTED;
      if (!found.Item) continue;
      if (bare_folder && !empty_folder(ACursor, plan.Levels, *node, found.Item->Name)) continue;
      chosen.push_back(found.Item);
    }
    for (const TqorListedItem* item : chosen) {
      const size_t index = static_cast<size_t>(item - node->Items().data());
      if (std::find(plan.Indices.begin(), plan.Indices.end(), index) != plan.Indices.end()) continue;
      plan.Indices.push_back(index);
      std::vector<std::wstring> path = plan.Levels;
      path.push_back(item->Name);
      FGoing.insert(key_of(path, item->Folder));
    }
    if (plan.Indices.empty()) return 0;
    plan.Before = node;
    FPlans.push_back(std::move(plan));
    return 0;
  }

  // The root's before-listing, read when the cursor first stands there.
  TqorListedFolder* read_root(TqorFarPanelCursor& ACursor) {
    if (!go_to(ACursor, {})) RaiseOSError(ERROR_PATH_NOT_FOUND);
    read_here(ACursor, FBefore);
    return &FBefore;
  }

  static void read_here(TqorFarPanelCursor& ACursor, TqorListedFolder& ANode) {
    if (!ANode.Read()) ANode.Read(ACursor);
  }

  bool empty_folder(TqorFarPanelCursor& ACursor, const std::vector<std::wstring>& ALevels, TqorListedFolder& ANode,
                    const std::wstring& AName) {
    std::vector<std::wstring> inside = ALevels;
    inside.push_back(AName);
    if (!go_to(ACursor, inside)) return false;
    TqorListedFolder& sub = ANode.Sub(AName);
    read_here(ACursor, sub);
    return sub.Items().empty();
  }

  static std::wstring key_of(const std::vector<std::wstring>& APath, bool AFolder) {
    return joined(APath) + (AFolder ? L"\\" : L"/");
  }

  // Folder by folder, the shallower first, each listed afresh: a rewrite may renumber items.
  int delete_planned(TqorFarPanelCursor& ACursor) {
    size_t done = 0;
    for (const folder_plan& plan : FPlans) {
      if (FProgress.Cancelled()) return E_EABORTED;
      const unsigned long stops = UserStops();
      intptr_t answer = 0;
      try {
        if (!go_to(ACursor, plan.Levels)) return E_EWRITE;
        std::vector<size_t> indices;
        if (!indices_now(ACursor, plan, indices)) return E_EWRITE;
        const TqorTemporaryFiles temporary(folder_of_archive());
        try {
          const TqorProgressScope progress(FProgress);
          answer = ACursor.Delete(indices);
        } catch (...) {
          temporary.RemoveNew();
          return E_EWRITE;
        }
      } catch (...) {
        return E_EWRITE;
      }
      if (answer == 0) return FProgress.Cancelled() || UserStops() != stops ? E_EABORTED : E_EWRITE;
      const int percent = static_cast<int>(++done * 100 / FPlans.size());
      FProgress.ReportPercents(percent, percent);
    }
    return FProgress.Cancelled() ? E_EABORTED : 0;
  }

  // The planned items in the folder's listing as it is now: the same places when it lists what it
  // listed before, else each by its exact name and kind, which must then be unique.
  static bool indices_now(TqorFarPanelCursor& ACursor, const folder_plan& APlan, std::vector<size_t>& AIndices) {
    const TqorFarPluginEnum& listing = ACursor.Listing();
    const auto& before = APlan.Before->Items();
    const auto is_folder = [&](size_t i) { return (listing.Item(i).FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; };
    bool same = listing.ItemCount() == before.size();
    for (size_t i = 0; same && i < before.size(); ++i)
      same = listing.NameAt(i) == before[i].Name && is_folder(i) == before[i].Folder;
    if (same) {
      AIndices = APlan.Indices;
      return true;
    }
    for (size_t planned : APlan.Indices) {
      size_t found = listing.ItemCount(), count = 0;
      for (size_t i = 0; i < listing.ItemCount(); ++i)
        if (listing.NameAt(i) == before[planned].Name && is_folder(i) == before[planned].Folder) {
          found = i;
          ++count;
        }
      if (count != 1) return false;
      AIndices.push_back(found);
    }
    return true;
  }

  // Everything the folders listed before, but the chosen items, is there still; the chosen are gone.
  bool change_holds(TqorFarPanelCursor& ACursor) noexcept {
    try {
      TqorListedFolder after;
      ACursor.Forget();
      if (!go_to(ACursor, {})) return false;
      after.Read(ACursor);
      read_after(ACursor, FBefore, after, {});
      const TqorTouched touched = [&](const std::wstring& APath, bool AFolder) {
        return FGoing.count(APath + (AFolder ? L"\\" : L"/")) != 0;
      };
      return KeptUntouched(FBefore, after, touched) && chosen_gone(after);
    } catch (...) {
      return false;
    }
  }

  // The folders read before, read again where they still stand.
  void read_after(TqorFarPanelCursor& ACursor, const TqorListedFolder& ABefore, TqorListedFolder& AAfter,
                  std::vector<std::wstring> ALevels) {
    for (const TqorListedItem& item : ABefore.Items()) {
      if (!item.Folder || !ABefore.SubIfListed(item.Name)) continue;
      ALevels.push_back(item.Name);
      if (!FGoing.count(key_of(ALevels, true)) && AAfter.Find(item.Name, true)) {
        if (!go_to(ACursor, ALevels)) RaiseOSError(ERROR_PATH_NOT_FOUND);
        TqorListedFolder& sub = AAfter.Sub(item.Name);
        sub.Read(ACursor);
        read_after(ACursor, *ABefore.SubIfListed(item.Name), sub, ALevels);
      }
      ALevels.pop_back();
    }
  }

  bool chosen_gone(const TqorListedFolder& AAfter) const {
    for (const folder_plan& plan : FPlans) {
      const TqorListedFolder* node = &AAfter;
      for (const std::wstring& level : plan.Levels) node = node ? node->SubIfListed(level) : nullptr;
      // A folder gone with its last entries: what it held was judged by KeptUntouched.
      if (!node || !node->Read()) continue;
      for (size_t index : plan.Indices) {
        const TqorListedItem& item = plan.Before->Items()[index];
        if (node->Count(item.Name, item.Folder) >= plan.Before->Count(item.Name, item.Folder)) return false;
      }
    }
    return true;
  }

  std::wstring folder_of_archive() const { return FArchive.substr(0, FArchive.find_last_of(L'\\') + 1); }

  const std::wstring FArchive;
  TqorArchiveProgress FProgress;
  const bool FAnsi;
  TqorListedFolder FBefore;
  std::vector<folder_plan> FPlans;
  std::set<std::wstring> FGoing;  // listed paths of the chosen items, '\' after a folder, '/' after a file
  std::vector<std::wstring> FAt;  // where the cursor stands, as listed names
};

}  // namespace

int DeleteFiles(const std::wstring& APackedFile, const wchar_t* ADeleteList, const TqorProcessDataProcs& AProcs,
                bool AAnsi) {
  delete_call call(APackedFile, AProcs, AAnsi);
  return call.run(ADeleteList);
}

}  // namespace qor
