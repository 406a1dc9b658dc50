// Extraction of an open archive's entries as a file manager asks for them, one entry at a time.
// Every entry lands exactly at the target the file manager names: the plugin writes into a
// staging folder on the target's volume, and the entry is moved from there.
//
// Read-ahead: while the file manager goes on asking for the entries in order, the entries that
// follow are asked of the plugin in one call, and later requests are answered from the staging
// folder. A plugin whose every call decompresses from the start of a solid block then does its
// work a few times per archive instead of once per entry. The window grows with the run (it
// reaches a few times as far as the run has gone), bounded by count and bytes; a folder's first
// request is always a call of its own, so that a single extraction stays one call for that entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "hosting/qorFarPluginPanel.h"
#include "hosting/qorFarProgress.h"
#include "hosting/qorFarStaging.h"

namespace qor {

enum class TqorEntryResult {
  Done,       // in place at the target; for a test, extracted whole
  Failed,     // the plugin reported failure for this entry
  Cancelled,  // the user cancelled: the operation is over
  NotPlaced,  // extracted, but it could not be put at the target
  ReadError,  // the plugin gave up on this entry (-1) without anyone asking it to stop
  Refused,    // its name would lead outside the target: never asked of the plugin
};

// What a folder item holds, as its listing gives it, for a read-ahead that would fetch it whole.
struct TqorFolderMeasure {
  std::uint64_t Entries = 0;
  std::uint64_t Bytes = 0;
  bool Whole = false;  // measured to the end within the budget, and fit to be fetched whole
  bool Unfit = false;  // never fetched whole: a listing failed, a name is not plain, or names clash in case
};

class TqorFarExtraction {
 public:
  TqorFarExtraction(TqorFarPluginPanel& APanel, TqorArchiveProgress& AProgress) noexcept;
  ~TqorFarExtraction() = default;
  TqorFarExtraction(const TqorFarExtraction&) = delete;
  TqorFarExtraction& operator=(const TqorFarExtraction&) = delete;

  // The walker's next entry (nil at the end). What was fetched for the entry before and not
  // asked for goes at once.
  const TPluginPanelItem* NextEntry();
  // The current entry's path as the file manager is shown it: each level's name made safe and
  // unique in its folder (see ListedItemNames).
  const std::wstring& ListedName() const noexcept { return FPanel.CurrentFileName(); }
  // The file manager does not want the current entry: a copy fetched ahead goes at once. Never
  // asks the plugin for anything.
  void Skip();
  // Puts the current entry at ATarget, replacing a file there; a folder entry becomes a folder.
  TqorEntryResult Extract(const std::wstring& ATarget);
  // Extracts the current entry into the staging folder and deletes it: the plugin's verdict.
  TqorEntryResult Test();
  // Removes the staging folder with all it holds.
  void DropStaging() noexcept;

 private:
  // Where a copy fetched for an entry lies, and which read-ahead call brought it.
  struct staged_item {
    std::wstring Folder;        // the call's folder, with its backslash
    size_t PrefixLength = 0;    // entry paths below the call's folder start after this many characters
    bool IsFolder = false;
    std::uint64_t Call = 0;
  };
  struct staged_hit {
    std::wstring File;
    std::uint64_t Call = 0;
    bool Direct = false;  // the entry itself was asked for, not a folder above it
  };
  struct live_call {
    std::wstring Folder;
    size_t Outstanding = 0;  // items not yet claimed, skipped or walked past
  };
  // What the file manager made of the entries the last read-ahead call brought.
  struct call_yield {
    std::uint64_t Call = 0;
    std::uint64_t Claimed = 0;
    std::uint64_t Wasted = 0;
  };
  struct open_folder {
    std::wstring Path;
    std::uint64_t Sequence = 0;
  };

  bool find_staged(staged_hit& AHit) const;
  void resolve(const staged_hit& AHit, bool AClaimed);
  void release_call(std::uint64_t ACall) noexcept;
  void after_claim() noexcept;
  void finish_folder();
  void restart_run(std::uint64_t AStart) noexcept;
  bool yield_poor() const noexcept;
  const std::unordered_set<std::wstring>& duplicates_of(const TqorFarPluginEnum& ALevel, std::uint64_t AKey);
  const TqorFolderMeasure& measure(const TqorFarPluginEnum& ALevel, size_t AIndex, std::uint64_t AEntries,
                                   std::uint64_t ABytes);
  // AKey and ADepth: the level's place in the walk (its first entry's) and its depth.
  std::vector<size_t> plan(const TqorFarPluginEnum& ALevel, size_t AFrom, std::uint64_t AKey, size_t ADepth);
  // AStopped: the file manager or the user asked to stop while the plugin worked.
  intptr_t fetch(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks, const std::wstring& ANear,
                 std::wstring& AFolder, bool& AStopped);
  void keep_fetched(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks, size_t AFrom,
                    const std::wstring& AFolder);
  void ask_alone_later(const TqorFarPluginEnum& ALevel, const std::vector<size_t>& APicks, size_t AFrom);
  TqorEntryResult obtain(const std::wstring& ANear, std::wstring& AStaged);
  TqorEntryResult call_alone(const TqorFarPluginEnum& ALevel, const std::wstring& ANear, std::wstring& AStaged);
  void read_ahead_at_folder();
  void read_ahead_from_parent(const std::wstring& ANear);
  intptr_t fetch_from_parent(const TqorFarPluginEnum& AParent, std::uint64_t AKey, const std::wstring& ANear,
                             std::vector<size_t>& APicks, std::wstring& AFolder, bool& AStopped);
  bool folders_fetched_whole(std::uint64_t AKey, size_t ADepth) const noexcept;

  TqorFarPluginPanel& FPanel;
  TqorArchiveProgress& FProgress;
  std::unique_ptr<TqorStagingFolder> FStaging;
  std::wstring FNear;  // the folder the file manager extracts into: where the staging folder goes
  // Cleared once the current entry has been claimed: the folder of a call for it alone, or the
  // read-ahead call it came from.
  std::wstring FAloneFolder;
  std::uint64_t FClaimedCall = 0;

  const TPluginPanelItem* FItem = nullptr;
  bool FContained = true;  // the current entry's path stays inside any folder it is written into
  bool FResolved = true;
  std::uint64_t FSequence = 0;      // the current entry's place in the walk
  std::uint64_t FNextSequence = 0;
  std::uint64_t FLevel = 0;         // the current entry's folder level: the place of its first entry
  size_t FDepth = 0;

  std::unordered_map<std::wstring, staged_item> FStaged;  // by entry path
  std::unordered_map<std::uint64_t, live_call> FLiveCalls;
  std::unordered_set<std::wstring> FAlone;  // entries of a failed call, each asked for alone
  std::uint64_t FCalls = 0;
  call_yield FLastCall;

  // The run: the entries since the file manager last skipped more than it asked for.
  std::uint64_t FRunStart = 0;
  std::uint64_t FRunAsked = 0;
  std::uint64_t FGap = 0;  // file entries skipped in a row
  std::unordered_set<std::uint64_t> FLevelsAsked;

  std::vector<open_folder> FFolders;   // the folders the current entry lies in, outermost first
  std::vector<std::uint64_t> FWalkedFolders;  // folders walked through, by depth
  std::unordered_map<std::wstring, TqorFolderMeasure> FMeasured;  // folder items, by path
  std::unordered_map<std::uint64_t, std::unordered_set<std::wstring>> FDuplicates;  // by level
};

}  // namespace qor
