#include "hosting/qorFarExtraction.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

#include "common/qorErrors.h"
#include "common/qorHandles.h"

namespace qor {
namespace {

// A read-ahead reaches this many times as far as the run has gone: what a solid archive
// decompresses twice stays a small part of it, and the calls grow with the log of its size.
constexpr std::uint64_t kReach = 3;
// Bounds of one call: what a file manager that stops early leaves fetched for nothing.
constexpr std::uint64_t kMostEntries = 16384;
constexpr std::uint64_t kMostBytes = 512ull << 20;

bool is_folder(const TPluginPanelItem& AItem) noexcept { return (AItem.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A name the plugin writes as one file or folder right inside its destination.
bool plain_name(std::wstring_view AName) noexcept {
  if (AName.empty() || AName.find_first_of(L"\\/:") != std::wstring_view::npos) return false;
  return AName.find_first_not_of(L'.') != std::wstring_view::npos;
}

// Names as the file system compares them: two that differ only in case are one file there.
std::wstring upper(std::wstring_view AName) {
  std::wstring text(AName);
  if (!text.empty()) ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

bool inside(const std::wstring& APath, const std::wstring& AFolder) noexcept {
  return APath.size() > AFolder.size() && APath[AFolder.size()] == L'\\' &&
         APath.compare(0, AFolder.size(), AFolder) == 0;
}

bool file_exists(const std::wstring& APath) noexcept {
  const DWORD attributes = ::GetFileAttributesW(APath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The one file in AFolder, for a plugin that wrote an entry under a name of its own making
// (characters a file name cannot hold replaced, say).
std::wstring only_file_in(const std::wstring& AFolder) {
  WIN32_FIND_DATAW data;
  unique_find find(::FindFirstFileW((AFolder + L"*").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return {};
  std::wstring found;
  do {
    if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
    if (!found.empty() || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    found = AFolder + data.cFileName;
  } while (::FindNextFileW(find.get(), &data));
  return found;
}

// The file a call into AFolder wrote for the item named AName; empty when there is none. A name
// that would lead out of the folder is never followed.
std::wstring written_file(const std::wstring& AFolder, std::wstring_view AName, bool AAlone) {
  const std::wstring expected = AFolder + std::wstring(AName);
  if (PathInside(expected, AFolder) && file_exists(expected)) return expected;
  return AAlone ? only_file_in(AFolder) : std::wstring();
}

bool make_folder(const std::wstring& APath) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (::CreateDirectoryW(APath.c_str(), nullptr)) return true;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(APath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (error != ERROR_PATH_NOT_FOUND) return false;
    for (size_t at = APath.find_first_of(L"\\/", 1); at != std::wstring::npos && at + 1 < APath.size();
         at = APath.find_first_of(L"\\/", at + 1))
      ::CreateDirectoryW(APath.substr(0, at).c_str(), nullptr);
  }
  return false;
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
  while (!FFolders.empty() && !inside(path, FFolders.back().Path)) finish_folder();
  for (open_folder& folder : FFolders) {
    ++folder.Entries;
    folder.Bytes += item->FileSize;
  }
  FLevel = FFolders.empty() ? 0 : FFolders.back().Sequence + 1;
  FDepth = FFolders.size();
  if (is_folder(*item)) FFolders.push_back(open_folder{path, FSequence, 0, 0});
  return item;
}

void TqorFarExtraction::Skip() {
  if (!FItem || FResolved) return;
  FResolved = true;
  if (is_folder(*FItem)) {
    FProgress.BeginEntry(FPanel.CurrentFileName(), 0);
    read_ahead_at_folder();
    return;
  }
  const std::wstring& path = FPanel.CurrentFileName();
  FAlone.erase(path);
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
  FNear = staging_place(ATarget, FPanel.CurrentFileName());
  FProgress.BeginEntry(ATarget, is_folder(*FItem) ? 0 : FItem->FileSize);
  if (is_folder(*FItem)) {
    read_ahead_at_folder();
    if (FProgress.Cancelled()) return TqorEntryResult::Cancelled;
    if (!make_folder(ATarget)) return TqorEntryResult::NotPlaced;
    FProgress.EndEntry();
    return FProgress.Cancelled() ? TqorEntryResult::Cancelled : TqorEntryResult::Done;
  }
  std::wstring staged;
  const TqorEntryResult result = obtain(FNear, staged);
  if (result != TqorEntryResult::Done) return result;
  const DWORD error = ClaimStagedFile(staged, ATarget, FStaging && !FStaging->Near());
  if (error != 0) RemoveStagedPath(staged);
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
  if (is_folder(*FItem)) {
    FProgress.BeginEntry(FPanel.CurrentFileName(), 0);
    read_ahead_at_folder();
    return FProgress.Cancelled() ? TqorEntryResult::Cancelled : TqorEntryResult::Done;
  }
  FProgress.BeginEntry(FPanel.CurrentFileName(), FItem->FileSize);
  std::wstring staged;
  // Without a target the staging folder goes to the temporary folder, unless there is one.
  const TqorEntryResult result = obtain(std::wstring(), staged);
  if (result != TqorEntryResult::Done) return result;
  RemoveStagedPath(staged);
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
  if (FStaged.empty() || !FItem) return false;
  const std::wstring& path = FPanel.CurrentFileName();
  auto it = FStaged.find(path);
  if (it != FStaged.end()) {
    AHit = staged_hit{it->second.Folder + path.substr(it->second.PrefixLength), it->second.Call, true};
    return true;
  }
  // Inside a folder that was fetched with its contents.
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
  if (!AClaimed) RemoveStagedPath(AHit.File);
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
  RemoveStagedPath(FAloneFolder);
  FAloneFolder.clear();
  release_call(FClaimedCall);
  FClaimedCall = 0;
}

void TqorFarExtraction::release_call(std::uint64_t ACall) noexcept {
  auto it = FLiveCalls.find(ACall);
  if (it == FLiveCalls.end() || --it->second.Outstanding != 0) return;
  RemoveStagedPath(it->second.Folder);
  FLiveCalls.erase(it);
}

// The walk has left the innermost open folder: its size counts for the estimate of its kind, and
// what was fetched of it and not asked for goes.
void TqorFarExtraction::finish_folder() {
  const open_folder folder = std::move(FFolders.back());
  FFolders.pop_back();
  const size_t depth = FFolders.size();
  if (FSizes.size() <= depth) FSizes.resize(depth + 1);
  ++FSizes[depth].Folders;
  FSizes[depth].Entries += folder.Entries;
  FSizes[depth].Bytes += folder.Bytes;
  FDuplicates.erase(folder.Sequence + 1);
  FLevelsAsked.erase(folder.Sequence + 1);
  auto it = FStaged.find(folder.Path);
  if (it == FStaged.end() || !it->second.IsFolder) return;
  RemoveStagedPath(it->second.Folder + folder.Path.substr(it->second.PrefixLength));
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

const std::unordered_set<std::wstring>& TqorFarExtraction::duplicates_of(const TqorFarPluginEnum& ALevel) {
  auto it = FDuplicates.find(FLevel);
  if (it != FDuplicates.end()) return it->second;
  std::vector<std::wstring> names;
  names.reserve(ALevel.ItemCount());
  for (size_t i = 0; i < ALevel.ItemCount(); ++i) names.push_back(upper(ALevel.NameAt(i)));
  std::sort(names.begin(), names.end());
  std::unordered_set<std::wstring> duplicates;
  for (size_t i = 1; i < names.size(); ++i)
    if (names[i] == names[i - 1]) duplicates.insert(names[i]);
  return FDuplicates.emplace(FLevel, std::move(duplicates)).first->second;
}

// The items of the current level to ask for together, from AFrom on: as many as the window
// holds; all that are left when that is at most three windows, so that the last call of a run
// does not come close behind the one before. A folder counts as the folders of its depth walked
// so far did on average.
std::vector<size_t> TqorFarExtraction::plan(const TqorFarPluginEnum& ALevel, size_t AFrom) {
  const std::uint64_t covered = FSequence - FRunStart + 1;
  const std::uint64_t window = std::min(std::max<std::uint64_t>(kReach * covered, 2), kMostEntries);
  const std::uint64_t absorb = std::min(3 * window, kMostEntries);
  // Plugins extract a folder item with all it holds: folders go in only while the run has taken
  // this level whole so far, and once a folder of this depth has been walked to size them.
  const bool folders = FPanel.Plugin()->HasSetDirectory() && FRunStart <= FLevel && FDepth < FSizes.size() &&
                       FSizes[FDepth].Folders > 0;
  const std::uint64_t folder_entries = folders ? FSizes[FDepth].Entries / FSizes[FDepth].Folders + 1 : 0;
  const std::uint64_t folder_bytes = folders ? FSizes[FDepth].Bytes / FSizes[FDepth].Folders : 0;
  const auto& duplicates = duplicates_of(ALevel);
  const std::wstring& prefix = ALevel.FullPath();
  std::vector<size_t> picks, all;
  std::uint64_t entries = 0, bytes = 0;
  bool window_open = true;
  for (size_t i = AFrom; i < ALevel.ItemCount(); ++i) {
    const std::wstring_view name = ALevel.NameAt(i);
    const TPluginPanelItem& item = ALevel.Item(i);
    const bool folder = is_folder(item);
    // Two items one file name in the staging folder, or a name that is no plain file name, are
    // asked for alone.
    const bool usable = plain_name(name) && (!folder || folders) && duplicates.count(upper(name)) == 0;
    if (!usable) {
      if (i == AFrom) return {};
      continue;
    }
    if (i != AFrom) {
      const std::wstring path = prefix + std::wstring(name);
      if (FStaged.count(path) != 0 || FAlone.count(path) != 0) continue;
    }
    entries += folder ? folder_entries : 1;
    bytes += folder ? folder_bytes : item.FileSize;
    if (i != AFrom && (entries > absorb || bytes > kMostBytes)) return picks;
    all.push_back(i);
    window_open = window_open && (i == AFrom || entries <= window);
    if (window_open) picks.push_back(i);
  }
  return all;
}

intptr_t TqorFarExtraction::fetch(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks,
                                  const std::wstring& ANear, std::wstring& AFolder) {
  if (!FStaging) FStaging = std::make_unique<TqorStagingFolder>(ANear);
  AFolder = FStaging->NewCallFolder();
  std::vector<TPluginPanelItem> items;
  items.reserve(APicks.size());
  for (size_t index : APicks) items.push_back(ALevel.Item(index));
  TqorProgressScope scope(FProgress);
  return FPanel.GetFiles(items.data(), items.size(), AFolder);
}

// Remembers what a read-ahead call brought, from APicks[AFrom] on; the entry that asked for the
// call (if any) counts as claimed.
void TqorFarExtraction::keep_fetched(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks, size_t AFrom,
                                     const std::wstring& AFolder) {
  const std::wstring& prefix = ALevel.FullPath();
  const std::uint64_t call = ++FCalls;
  FLastCall = call_yield{call, AFrom, 0};
  for (size_t k = AFrom; k < APicks.size(); ++k) {
    const bool folder = is_folder(ALevel.Item(APicks[k]));
    FStaged[prefix + std::wstring(ALevel.NameAt(APicks[k]))] = staged_item{AFolder, prefix.size(), folder, call};
  }
  FLiveCalls[call] = live_call{AFolder, APicks.size() - AFrom};
}

void TqorFarExtraction::ask_alone_later(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks,
                                        size_t AFrom) {
  for (size_t k = AFrom; k < APicks.size(); ++k)
    if (!is_folder(ALevel.Item(APicks[k]))) FAlone.insert(ALevel.FullPath() + std::wstring(ALevel.NameAt(APicks[k])));
}

// The current file entry, in the staging folder: fetched ahead already, or asked for now.
TqorEntryResult TqorFarExtraction::obtain(const std::wstring& ANear, std::wstring& AStaged) {
  const bool first_in_folder = FLevelsAsked.insert(FLevel).second;
  FGap = 0;
  const TqorFarPluginEnum& level = *FPanel.CurrentLevel();
  const size_t current = level.CurrentIndex();
  staged_hit hit;
  if (find_staged(hit)) {
    // A folder fetched whole holds one file for a name its listing has twice: neither takes it.
    const bool ambiguous = !hit.Direct && duplicates_of(level).count(upper(level.NameAt(current))) != 0;
    if (!ambiguous && file_exists(hit.File)) {
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
    picks = plan(level, current);
  }
  FAlone.erase(path);
  ++FRunAsked;
  if (picks.size() <= 1) return call_alone(level, ANear, AStaged);

  std::wstring folder;
  intptr_t result = 0;
  bool faulted = false;
  try {
    result = fetch(level, picks, ANear, folder);
  } catch (const EqorPluginFault&) {
    faulted = true;
  }
  if (faulted || result == 0) {
    if (FProgress.Cancelled()) {
      DropStaging();
      return TqorEntryResult::Cancelled;
    }
    // The call does not tell which entry failed or made it fault, and a damaged entry may look
    // whole: each entry it was asked for is asked for again alone.
    if (faulted) DropStaging(); else RemoveStagedPath(folder);
    ask_alone_later(level, picks, 1);
    restart_run(FSequence + 1);
    return call_alone(level, ANear, AStaged);
  }
  if (result == -1) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  keep_fetched(level, picks, 1, folder);
  AStaged = written_file(folder, level.NameAt(current), false);
  // The others were delivered, this one not: asked for alone.
  if (AStaged.empty()) return call_alone(level, ANear, AStaged);
  return TqorEntryResult::Done;
}

TqorEntryResult TqorFarExtraction::call_alone(const TqorFarPluginEnum& ALevel, const std::wstring& ANear,
                                              std::wstring& AStaged) {
  const size_t current = ALevel.CurrentIndex();
  std::wstring folder;
  intptr_t result = 0;
  try {
    result = fetch(ALevel, {current}, ANear, folder);
  } catch (...) {
    DropStaging();
    throw;
  }
  if (result == -1 || (result == 0 && FProgress.Cancelled())) {
    DropStaging();
    return TqorEntryResult::Cancelled;
  }
  if (result == 0) {
    RemoveStagedPath(folder);
    return TqorEntryResult::Failed;
  }
  AStaged = written_file(folder, ALevel.NameAt(current), true);
  if (AStaged.empty()) {
    RemoveStagedPath(folder);
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
  const std::vector<size_t> picks = plan(*level, level->CurrentIndex());
  if (picks.empty()) return;
  std::wstring folder;
  intptr_t result = 0;
  try {
    result = fetch(*level, picks, FNear, folder);
  } catch (...) {
    // Nobody has asked for these entries yet: whatever went wrong shows again when one is.
    DropStaging();
    ask_alone_later(*level, picks, 0);
    restart_run(FSequence + 1);
    return;
  }
  if (result == -1 || FProgress.Cancelled()) {
    DropStaging();
    return;
  }
  if (result == 0) {
    RemoveStagedPath(folder);
    ask_alone_later(*level, picks, 0);
    restart_run(FSequence + 1);
    return;
  }
  keep_fetched(*level, picks, 0, folder);
}

}  // namespace qor
