#include "hosting/qorFarExtraction.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "common/qorErrors.h"
#include "common/qorText.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarPlugin.h"

namespace qor {
namespace {

// A read-ahead reaches this many times as far as the run has gone: what a solid archive
// decompresses twice stays a small part of it, and the calls grow with the log of its size.
constexpr std::uint64_t kReach = 3;
// Bounds of one call: what a file manager that stops early leaves fetched for nothing.
constexpr std::uint64_t kMostEntries = 16384;
constexpr std::uint64_t kMostBytes = 512ull << 20;
// What an extended-length path can hold, less its "\\?\UNC\" start.
constexpr size_t kLongestPath = 32767 - 8;

bool is_folder(const TPluginPanelItem& AItem) noexcept { return (AItem.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool inside(const std::wstring& APath, const std::wstring& AFolder) noexcept {
  return APath.size() > AFolder.size() && APath[AFolder.size()] == L'\\' &&
         APath.compare(0, AFolder.size(), AFolder) == 0;
}

// Where the staging folder goes: the folder the file manager extracts into, which is the target
// without the entry's path when the target ends with it, else the target's own folder. Staged
// paths are then no longer than the targets, and one folder serves the whole archive.
std::wstring staging_place(const std::wstring& ATarget, const std::wstring& AEntryPath) {
  const size_t length = AEntryPath.size();
  if (length > 0 && ATarget.size() > length && (ATarget[ATarget.size() - length - 1] == L'\\') &&
      ::CompareStringOrdinal(ATarget.c_str() + ATarget.size() - length, static_cast<int>(length), AEntryPath.c_str(),
                             static_cast<int>(length), TRUE) == CSTR_EQUAL)
    return ATarget.substr(0, ATarget.size() - length);
  const size_t cut = ATarget.find_last_of(L"\\/:");
  return cut == std::wstring::npos ? std::wstring() : ATarget.substr(0, cut + 1);
}

// Listing calls may take long for a folder with many sub-folders: a measurement stops as soon as
// the folder is known to be too big.
struct measure_budget {
  std::uint64_t Entries;
  std::uint64_t Bytes;
};

// Adds the contents of the folder ALevel lists to AMeasure; false when they cannot be fetched
// whole: over the budget, or (Unfit) a listing that failed, a name the plugin would not write as
// itself, or two names in one folder that differ only in case (one file on the disk).
bool measure_level(TqorFarPluginPanel& APanel, const TqorFarPluginEnum& ALevel, const measure_budget& ABudget,
                   TqorFolderMeasure& AMeasure) {
  std::vector<std::wstring> names;
  names.reserve(ALevel.ItemCount());
  for (size_t i = 0; i < ALevel.ItemCount(); ++i) {
    const std::wstring_view name = ALevel.NameAt(i);
    const TPluginPanelItem& item = ALevel.Item(i);
    if (!PlainEntryName(name)) {
      AMeasure.Unfit = true;
      return false;
    }
    names.push_back(FoldedName(name));
    ++AMeasure.Entries;
    if (!is_folder(item)) AMeasure.Bytes += item.FileSize;
    if (AMeasure.Entries > ABudget.Entries || AMeasure.Bytes > ABudget.Bytes) return false;
    if (!is_folder(item)) continue;
    TqorFarPluginEnum child(nullptr, &APanel, std::wstring(name));
    child.Open(&item);
    AMeasure.Unfit = !child.Listed();
    if (AMeasure.Unfit || !measure_level(APanel, child, ABudget, AMeasure)) return false;
    child.Close();
  }
  std::sort(names.begin(), names.end());
  AMeasure.Unfit = std::adjacent_find(names.begin(), names.end()) != names.end();
  return !AMeasure.Unfit;
}

}  // namespace

TqorFarExtraction::TqorFarExtraction(TqorFarPluginPanel& APanel, TqorArchiveProgress& AProgress) noexcept
    : FPanel(APanel), FProgress(AProgress) {}

const TPluginPanelItem* TqorFarExtraction::NextEntry() {
  // An entry the file manager passed by without a word is one it did not want.
  if (FItem && !FResolved && !is_folder(*FItem)) {
    staged_hit hit;
    if (find_staged(hit)) resolve(hit, false);
  }
  FItem = nullptr;
  FResolved = true;
  const TPluginPanelItem* item = FPanel.GetNextFile();
  if (!item) {
    while (!FFolders.empty()) finish_folder();
    return nullptr;
  }
  FItem = item;
  FResolved = false;
  FSequence = FNextSequence++;
  const std::wstring& path = FPanel.CurrentFileName();
  const TqorFarPluginEnum* level = FPanel.CurrentLevel();
  FContained = level && level->ItemWritable(level->CurrentIndex());
  while (!FFolders.empty() && !inside(path, FFolders.back().Path)) finish_folder();
  FLevel = FFolders.empty() ? 0 : FFolders.back().Sequence + 1;
  FDepth = FFolders.size();
  if (is_folder(*item)) FFolders.push_back(open_folder{path, FSequence});
  return item;
}

void TqorFarExtraction::Skip() {
  if (!FItem || FResolved) return;
  FResolved = true;
  // A skip never asks the plugin for anything: what follows may be skipped as well.
  if (is_folder(*FItem)) return;
  if (!FAlone.empty()) FAlone.erase(FPanel.CurrentFileName());
  staged_hit hit;
  if (find_staged(hit)) resolve(hit, false);
  // More skipped in a row than asked for: the file manager is picking entries, not going through.
  if (++FGap > FRunAsked) restart_run(FSequence + 1);
}

TqorEntryResult TqorFarExtraction::Extract(const std::wstring& ATarget) {
  // The user cancelled this archive's operation: no further entry is started.
  if (FProgress.Cancelled()) return TqorEntryResult::Cancelled;
  if (!FItem) throw EqorError(L"No current entry");
  FResolved = true;
  if (FPanel.Lost()) return TqorEntryResult::ReadError;
  // A name that would lead the plugin out of its destination, or that no file can have, is never
  // asked for.
  if (!FContained || ATarget.size() > kLongestPath) return TqorEntryResult::Refused;
  FNear = staging_place(ATarget, ListedName());
  FProgress.BeginEntry(ATarget, is_folder(*FItem) ? 0 : FItem->FileSize);
  if (is_folder(*FItem)) {
    read_ahead_at_folder();
    if (FProgress.Cancelled()) return TqorEntryResult::Cancelled;
    if (!MakeTargetFolder(ATarget)) return TqorEntryResult::NotPlaced;
    FProgress.EndEntry();
    return FProgress.Cancelled() ? TqorEntryResult::Cancelled : TqorEntryResult::Done;
  }
  std::wstring staged;
  const TqorEntryResult result = obtain(FNear, staged);
  if (result != TqorEntryResult::Done) return result;
  const DWORD error = FStaging->Claim(staged, ATarget);
  if (error != 0) FStaging->Remove(staged);
  after_claim();
  if (error != 0) return TqorEntryResult::NotPlaced;
  FProgress.EndEntry();
  // A cancel that comes with the entry's report keeps the entry: it ends the operation only.
  if (FProgress.Cancelled()) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  return TqorEntryResult::Done;
}

TqorEntryResult TqorFarExtraction::Test() {
  if (FProgress.Cancelled()) return TqorEntryResult::Cancelled;
  if (!FItem) throw EqorError(L"No current entry");
  FResolved = true;
  if (FPanel.Lost()) return TqorEntryResult::ReadError;
  if (!FContained) return TqorEntryResult::Refused;
  // A folder has nothing of its own to test; its entries are tested as they come.
  if (is_folder(*FItem)) return TqorEntryResult::Done;
  FProgress.BeginEntry(ListedName(), FItem->FileSize);
  std::wstring staged;
  // Without a target the staging folder goes to the temporary folder, unless there is one.
  const TqorEntryResult result = obtain(std::wstring(), staged);
  if (result != TqorEntryResult::Done) return result;
  FStaging->Remove(staged);
  after_claim();
  FProgress.EndEntry();
  if (FProgress.Cancelled()) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  return TqorEntryResult::Done;
}

void TqorFarExtraction::DropStaging() noexcept {
  FStaging.reset();
  FStaged.clear();
  FLiveCalls.clear();
  FLastCall = call_yield{};
  FAloneFolder.clear();
  FClaimedCall = 0;
}

bool TqorFarExtraction::find_staged(staged_hit& AHit) const {
  if (FStaged.empty() || !FItem || !FStaging || !FContained) return false;
  const std::wstring& path = FPanel.CurrentFileName();
  auto it = FStaged.find(path);
  if (it != FStaged.end()) {
    AHit = staged_hit{it->second.Folder + path.substr(it->second.PrefixLength), it->second.Call, true};
    return true;
  }
  // Inside a folder that was fetched with its contents, whose names were all plain when measured.
  for (size_t cut = path.rfind(L'\\'); cut != std::wstring::npos && cut > 0; cut = path.rfind(L'\\', cut - 1)) {
    it = FStaged.find(path.substr(0, cut));
    if (it != FStaged.end() && it->second.IsFolder) {
      AHit = staged_hit{it->second.Folder + path.substr(it->second.PrefixLength), it->second.Call, false};
      return true;
    }
  }
  return false;
}

void TqorFarExtraction::resolve(const staged_hit& AHit, bool AClaimed) {
  if (!AClaimed) FStaging->Remove(AHit.File);
  if (FLastCall.Call != 0 && AHit.Call == FLastCall.Call) ++(AClaimed ? FLastCall.Claimed : FLastCall.Wasted);
  if (!AHit.Direct) return;
  FStaged.erase(FPanel.CurrentFileName());
  // A claimed file still lies in its call's folder: the folder may go once it has been moved.
  if (AClaimed)
    FClaimedCall = AHit.Call;
  else
    release_call(AHit.Call);
}

void TqorFarExtraction::after_claim() noexcept {
  if (FStaging) FStaging->Remove(FAloneFolder);
  FAloneFolder.clear();
  release_call(FClaimedCall);
  FClaimedCall = 0;
}

void TqorFarExtraction::release_call(std::uint64_t ACall) noexcept {
  auto it = FLiveCalls.find(ACall);
  if (it == FLiveCalls.end() || --it->second.Outstanding != 0) return;
  if (FStaging) FStaging->Remove(it->second.Folder);
  FLiveCalls.erase(it);
}

// The walk has left the innermost open folder: it counts as a folder walked at its depth, and
// what was fetched of it and not asked for goes.
void TqorFarExtraction::finish_folder() {
  const open_folder folder = std::move(FFolders.back());
  FFolders.pop_back();
  const size_t depth = FFolders.size();
  if (FWalkedFolders.size() <= depth) FWalkedFolders.resize(depth + 1);
  ++FWalkedFolders[depth];
  FDuplicates.erase(folder.Sequence + 1);
  FLevelsAsked.erase(folder.Sequence + 1);
  auto it = FStaged.find(folder.Path);
  if (it == FStaged.end() || !it->second.IsFolder) return;
  if (FStaging) FStaging->Remove(it->second.Folder + folder.Path.substr(it->second.PrefixLength));
  const std::uint64_t call = it->second.Call;
  FStaged.erase(it);
  release_call(call);
}

void TqorFarExtraction::restart_run(std::uint64_t AStart) noexcept {
  FRunStart = AStart;
  FRunAsked = 0;
  FGap = 0;
  FLastCall = call_yield{};
}

// Most of what the last read-ahead brought was skipped: the file manager picks, it does not run.
bool TqorFarExtraction::yield_poor() const noexcept {
  return FLastCall.Call != 0 && FLastCall.Wasted > FLastCall.Claimed;
}

const std::unordered_set<std::wstring>& TqorFarExtraction::duplicates_of(const TqorFarPluginEnum& ALevel,
                                                                         std::uint64_t AKey) {
  auto it = FDuplicates.find(AKey);
  if (it != FDuplicates.end()) return it->second;
  std::vector<std::wstring> names;
  names.reserve(ALevel.ItemCount());
  for (size_t i = 0; i < ALevel.ItemCount(); ++i) names.push_back(FoldedName(ALevel.NameAt(i)));
  std::sort(names.begin(), names.end());
  std::unordered_set<std::wstring> duplicates;
  for (size_t i = 1; i < names.size(); ++i)
    if (names[i] == names[i - 1]) duplicates.insert(names[i]);
  return FDuplicates.emplace(AKey, std::move(duplicates)).first->second;
}

// The contents of the folder item AIndex of ALevel as its listing gives them, within ABudget;
// asked of the plugin once per folder.
const TqorFolderMeasure& TqorFarExtraction::measure(const TqorFarPluginEnum& ALevel, size_t AIndex,
                                                    std::uint64_t AEntries, std::uint64_t ABytes) {
  const std::wstring path = ALevel.FullPath() + std::wstring(ALevel.ListedNameAt(AIndex));
  auto it = FMeasured.find(path);
  // Too big for a budget is too big for any smaller one; a larger one measures again.
  if (it != FMeasured.end() && (it->second.Whole || it->second.Unfit || it->second.Entries > AEntries ||
                                it->second.Bytes > ABytes))
    return it->second;
  TqorFolderMeasure measured;
  measured.Entries = 1;
  try {
    TqorFarPluginEnum level(nullptr, &FPanel, std::wstring(ALevel.NameAt(AIndex)));
    level.Open(&ALevel.Item(AIndex));
    measured.Unfit = !level.Listed();
    measured.Whole = !measured.Unfit && measure_level(FPanel, level, measure_budget{AEntries, ABytes}, measured);
    level.Close();
  } catch (...) {
    // A listing that failed or faulted: the folder's entries are asked for as the walk meets them.
    measured.Whole = false;
    measured.Unfit = true;
  }
  return FMeasured[path] = measured;
}

// Plugins extract a folder item with all it holds: folders go in only while the run has taken
// their level whole so far, and once a folder of their depth has been walked through.
bool TqorFarExtraction::folders_fetched_whole(std::uint64_t AKey, size_t ADepth) const noexcept {
  return FPanel.Plugin()->HasSetDirectory() && FRunStart <= AKey && ADepth < FWalkedFolders.size() &&
         FWalkedFolders[ADepth] > 0;
}

// The items of the current level to ask for together, from AFrom on: as many as the window
// holds; all that are left when that is at most three windows, so that the last call of a run
// does not come close behind the one before. A folder goes in with all it holds, measured by its
// listing, and only when it fits the bounds of one call.
std::vector<size_t> TqorFarExtraction::plan(const TqorFarPluginEnum& ALevel, size_t AFrom, std::uint64_t AKey,
                                            size_t ADepth) {
  const std::uint64_t covered = FSequence - FRunStart + 1;
  const std::uint64_t window = std::min(std::max<std::uint64_t>(kReach * covered, 2), kMostEntries);
  const std::uint64_t absorb = std::min(3 * window, kMostEntries);
  const bool folders = folders_fetched_whole(AKey, ADepth);
  const auto& duplicates = duplicates_of(ALevel, AKey);
  const std::wstring& prefix = ALevel.FullPath();
  std::vector<size_t> picks, all;
  std::uint64_t entries = 0, bytes = 0;
  bool window_open = true;
  for (size_t i = AFrom; i < ALevel.ItemCount(); ++i) {
    const std::wstring_view name = ALevel.NameAt(i);
    const TPluginPanelItem& item = ALevel.Item(i);
    const bool folder = is_folder(item);
    // Two items one file name in the staging folder, or a name the plugin would not write as
    // itself, are asked for alone.
    bool usable = PlainEntryName(name) && (!folder || folders) && duplicates.count(FoldedName(name)) == 0;
    if (usable && i != AFrom) {
      const std::wstring path = prefix + std::wstring(ALevel.ListedNameAt(i));
      if (FStaged.count(path) != 0 || FAlone.count(path) != 0) continue;
    }
    std::uint64_t item_entries = 1, item_bytes = item.FileSize;
    if (usable && folder) {
      if (entries >= absorb || bytes >= kMostBytes) return picks;
      const TqorFolderMeasure& measured = measure(ALevel, i, absorb - entries, kMostBytes - bytes);
      // Too big for what is left of this call: the call ends before it.
      if (!measured.Whole && !measured.Unfit) return i == AFrom ? std::vector<size_t>() : picks;
      usable = measured.Whole;
      item_entries = measured.Entries;
      item_bytes = measured.Bytes;
    }
    if (!usable) {
      if (i == AFrom) return {};
      continue;
    }
    entries += item_entries;
    bytes += item_bytes;
    if (i != AFrom && (entries > absorb || bytes > kMostBytes)) return picks;
    all.push_back(i);
    window_open = window_open && (i == AFrom || entries <= window);
    if (window_open) picks.push_back(i);
  }
  return all;
}

intptr_t TqorFarExtraction::fetch(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks,
                                  const std::wstring& ANear, std::wstring& AFolder, bool& AStopped) {
  if (!FStaging) FStaging = std::make_unique<TqorStagingFolder>(ANear);
  AFolder = FStaging->NewCallFolder();
  std::vector<TPluginPanelItem> items;
  items.reserve(APicks.size());
  for (size_t index : APicks) items.push_back(ALevel.Item(index));
  const unsigned long stops = UserStops();
  TqorProgressScope scope(FProgress);
  const intptr_t result = FPanel.GetFiles(items.data(), items.size(), AFolder);
  // A plugin answers the user's stop and a read error in silent mode alike, with -1.
  AStopped = FProgress.Cancelled() || UserStops() != stops;
  return result;
}

// Remembers what a read-ahead call brought, from APicks[AFrom] on; the entry that asked for the
// call (if any) counts as claimed.
void TqorFarExtraction::keep_fetched(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks, size_t AFrom,
                                     const std::wstring& AFolder) {
  FStaging->Survey(AFolder);
  const std::wstring& prefix = ALevel.FullPath();
  const std::uint64_t call = ++FCalls;
  FLastCall = call_yield{call, AFrom, 0};
  for (size_t k = AFrom; k < APicks.size(); ++k) {
    const bool folder = is_folder(ALevel.Item(APicks[k]));
    FStaged[prefix + std::wstring(ALevel.ListedNameAt(APicks[k]))] = staged_item{AFolder, prefix.size(), folder, call};
  }
  FLiveCalls[call] = live_call{AFolder, APicks.size() - AFrom};
}

void TqorFarExtraction::ask_alone_later(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks,
                                        size_t AFrom) {
  for (size_t k = AFrom; k < APicks.size(); ++k)
    if (!is_folder(ALevel.Item(APicks[k])))
      FAlone.insert(ALevel.FullPath() + std::wstring(ALevel.ListedNameAt(APicks[k])));
}

// The current file entry, in the staging folder: fetched ahead already, or asked for now.
TqorEntryResult TqorFarExtraction::obtain(const std::wstring& ANear, std::wstring& AStaged) {
  const bool first_in_folder = FLevelsAsked.insert(FLevel).second;
  FGap = 0;
  if (first_in_folder) read_ahead_from_parent(ANear);
  const TqorFarPluginEnum& level = *FPanel.CurrentLevel();
  const size_t current = level.CurrentIndex();
  staged_hit hit;
  if (find_staged(hit)) {
    // A folder fetched whole holds one file for a name its listing has twice: neither takes it.
    const bool ambiguous = !hit.Direct && duplicates_of(level, FLevel).count(FoldedName(level.NameAt(current))) != 0;
    const size_t cut = hit.File.find_last_of(L'\\');
    if (!ambiguous && FStaging->HoldsFile(hit.File.substr(0, cut + 1), hit.File.substr(cut + 1))) {
      resolve(hit, true);
      ++FRunAsked;
      AStaged = hit.File;
      return TqorEntryResult::Done;
    }
    // Not delivered: asked for now.
    resolve(hit, false);
  }
  const std::wstring& path = FPanel.CurrentFileName();
  std::vector<size_t> picks;
  if (!first_in_folder && FAlone.count(path) == 0) {
    if (yield_poor()) restart_run(FSequence);
    picks = plan(level, current, FLevel, FDepth);
  }
  FAlone.erase(path);
  ++FRunAsked;
  if (picks.size() <= 1) return call_alone(level, ANear, AStaged);

  std::wstring folder;
  intptr_t result = 0;
  bool faulted = false, stopped = false;
  try {
    result = fetch(level, picks, ANear, folder, stopped);
  } catch (const EqorPluginFault&) {
    faulted = true;
  }
  if (stopped && (faulted || result == 0 || result == -1)) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  if (faulted || result == 0 || result == -1) {
    // The call does not tell which entry failed or made it fault, and a damaged entry may look
    // whole: each entry it was asked for is asked for again alone.
    if (faulted) DropStaging(); else FStaging->Remove(folder);
    ask_alone_later(level, picks, 1);
    restart_run(FSequence + 1);
    return call_alone(level, ANear, AStaged);
  }
  keep_fetched(level, picks, 1, folder);
  const std::wstring name(level.NameAt(current));
  if (FStaging->HoldsFile(folder, name)) {
    AStaged = folder + name;
    return TqorEntryResult::Done;
  }
  // The others were delivered, this one not: asked for alone.
  return call_alone(level, ANear, AStaged);
}

TqorEntryResult TqorFarExtraction::call_alone(const TqorFarPluginEnum& ALevel, const std::wstring& ANear,
                                              std::wstring& AStaged) {
  const size_t current = ALevel.CurrentIndex();
  std::wstring folder;
  intptr_t result = 0;
  bool stopped = false;
  try {
    result = fetch(ALevel, {current}, ANear, folder, stopped);
  } catch (...) {
    DropStaging();
    throw;
  }
  if (stopped && (result == -1 || result == 0)) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  if (result == 0 || result == -1) {
    FStaging->Remove(folder);
    // -1 that nobody asked for: the plugin could not read the entry.
    return result == 0 ? TqorEntryResult::Failed : TqorEntryResult::ReadError;
  }
  // The one file a call for one entry writes is that entry, under whatever name the plugin chose
  // for a name Windows cannot hold.
  const std::wstring name(ALevel.NameAt(current));
  AStaged = PlainEntryName(name) && FStaging->HoldsFile(folder, name) ? folder + name : FStaging->OnlyFileIn(folder);
  if (AStaged.empty()) {
    FStaging->Remove(folder);
    return TqorEntryResult::NotPlaced;
  }
  FAloneFolder = folder;
  return TqorEntryResult::Done;
}

// At a folder entry of a run that has taken its level whole so far: the folders and files that
// follow are fetched with their contents, before the walk enters them.
void TqorFarExtraction::read_ahead_at_folder() {
  if (FRunAsked == 0 || FProgress.Cancelled()) return;
  staged_hit hit;
  if (find_staged(hit)) return;
  if (yield_poor()) {
    restart_run(FSequence);
    return;
  }
  const TqorFarPluginEnum* level = FPanel.CurrentLevel();
  if (!level) return;
  const std::vector<size_t> picks = plan(*level, level->CurrentIndex(), FLevel, FDepth);
  if (picks.empty()) return;
  std::wstring folder;
  intptr_t result = 0;
  bool stopped = false;
  try {
    result = fetch(*level, picks, FNear, folder, stopped);
  } catch (...) {
    // Nobody has asked for these entries yet: whatever went wrong shows again when one is.
    DropStaging();
    ask_alone_later(*level, picks, 0);
    restart_run(FSequence + 1);
    return;
  }
  if (stopped) {
    DropStaging();
    return;
  }
  if (result == 0 || result == -1) {
    FStaging->Remove(folder);
    ask_alone_later(*level, picks, 0);
    restart_run(FSequence + 1);
    return;
  }
  keep_fetched(*level, picks, 0, folder);
}

// The plugin stands in the current entry's folder; the folders and files that follow it in the
// folder above are items of that folder only. The plugin goes up to measure and fetch them, and
// back down; nothing is asked when nothing fits.
intptr_t TqorFarExtraction::fetch_from_parent(const TqorFarPluginEnum& AParent, std::uint64_t AKey,
                                              const std::wstring& ANear, std::vector<size_t>& APicks,
                                              std::wstring& AFolder, bool& AStopped) {
  const TqorFarPlugin& plugin = *FPanel.Plugin();
  TSetDirectoryInfo up{};
  up.StructSize = SetDirectoryInfoAnnouncedSize;
  up.hPanel = FPanel.Handle();
  up.Dir = L"..";
  if (plugin.SetDirectory(up) == 0) return 0;
  const size_t here = AParent.CurrentIndex();
  const std::wstring name(AParent.NameAt(here));
  TSetDirectoryInfo down{};
  down.StructSize = SetDirectoryInfoAnnouncedSize;
  down.hPanel = FPanel.Handle();
  down.Dir = name.c_str();
  down.UserData = AParent.Item(here).UserData;
  intptr_t result = 0;
  try {
    APicks = plan(AParent, here, AKey, FDepth - 1);
    if (!APicks.empty()) result = fetch(AParent, APicks, ANear, AFolder, AStopped);
  } catch (...) {
    if (plugin.SetDirectory(down) == 0) FPanel.MarkLost();
    throw;
  }
  // The walk goes on below: a plugin that cannot go back has lost its place in the archive, and
  // would serve later entries from the folder above.
  if (plugin.SetDirectory(down) == 0) {
    FPanel.MarkLost();
    throw EqorError(L"The plugin did not return to " + name);
  }
  return result;
}

// At the first file asked for in a folder, while the run has taken the folder above whole so far:
// this folder with all it holds and the folders and files that follow it are fetched in one call.
// Where file managers make folders themselves and skip their entries, this is where a run shows.
void TqorFarExtraction::read_ahead_from_parent(const std::wstring& ANear) {
  // Only at the folder's first entry: one the file manager skipped before is never fetched.
  if (FRunAsked == 0 || FFolders.empty() || FSequence != FLevel || FProgress.Cancelled() || yield_poor()) return;
  staged_hit hit;
  if (find_staged(hit)) return;
  const TqorFarPluginEnum* level = FPanel.CurrentLevel();
  const TqorFarPluginEnum* parent = level ? level->Owner() : nullptr;
  const std::uint64_t key = FFolders.size() >= 2 ? FFolders[FFolders.size() - 2].Sequence + 1 : 0;
  if (!parent || !folders_fetched_whole(key, FDepth - 1)) return;
  std::vector<size_t> picks;
  std::wstring folder;
  intptr_t result = 0;
  bool stopped = false;
  try {
    result = fetch_from_parent(*parent, key, ANear, picks, folder, stopped);
  } catch (const EqorPluginFault&) {
    DropStaging();
    ask_alone_later(*parent, picks, 1);
    restart_run(FSequence);
    return;
  }
  if (picks.empty()) return;
  if (stopped) {
    DropStaging();
    return;
  }
  if (result == 0 || result == -1) {
    if (FStaging && !folder.empty()) FStaging->Remove(folder);
    ask_alone_later(*parent, picks, 1);
    restart_run(FSequence);
    return;
  }
  keep_fetched(*parent, picks, 0, folder);
}

}  // namespace qor
