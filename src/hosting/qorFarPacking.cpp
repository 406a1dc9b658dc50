// Adding to archives and making new ones through the plugins, and the move of what they took.
#include "hosting/qorFarPacking.h"

#include <windows.h>

#include <algorithm>
#include <set>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorErrors.h"
#include "common/qorHandles.h"
#include "common/qorText.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarArchiveChange.h"
#include "hosting/qorFarArchiveLocks.h"
#include "hosting/qorFarArchiveSnapshot.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarMovedSources.h"
#include "hosting/qorFarPackList.h"
#include "hosting/qorFarPanelCursor.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPluginPanel.h"
#include "hosting/qorFarPlugins.h"
#include "hosting/qorFarStaging.h"
#include "services/qorFarCurrentFolder.h"
#include "services/qorFarOperationW.h"

namespace qor {
namespace {

using namespace wcx;

// The plugin whose command interface makes a named archive from a list of files.
constexpr GUID kCommandPluginId = {0x65642111, 0xAA69, 0x4B84, {0xB4, 0xB8, 0x92, 0x49, 0x57, 0x9E, 0xC4, 0xFA}};

std::wstring folder_of(const std::wstring& AFile) {
  const size_t cut = AFile.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::wstring() : FarFolderForm(AFile.substr(0, cut + 1));
}

std::wstring name_of(const std::wstring& AFile) { return AFile.substr(AFile.find_last_of(L'\\') + 1); }

bool file_exists(const std::wstring& APath) {
  return ::GetFileAttributesW(ExtendedPath(APath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A file of the module's own that goes when the call ends, whatever happens.
class owned_file {
 public:
  explicit owned_file(std::wstring APath) : FPath(std::move(APath)) {}
  ~owned_file() { ::DeleteFileW(ExtendedPath(FPath).c_str()); }
  owned_file(const owned_file&) = delete;
  owned_file& operator=(const owned_file&) = delete;
  const std::wstring& path() const noexcept { return FPath; }

 private:
  std::wstring FPath;
};

// Write times the same to the precision of archive formats: DOS times (zip) keep 2 seconds.
bool same_time(const FILETIME& A, const FILETIME& B) {
  const auto ticks = [](const FILETIME& T) {
    return static_cast<long long>((static_cast<unsigned long long>(T.dwHighDateTime) << 32) | T.dwLowDateTime);
  };
  const long long difference = ticks(A) - ticks(B);
  return difference <= 20000000 && difference >= -20000000;
}

bool is_zero(const FILETIME& ATime) { return ATime.dwLowDateTime == 0 && ATime.dwHighDateTime == 0; }

class pack_call {
 public:
  pack_call(const TqorPackRequest& ARequest, const TqorProcessDataProcs& AProcs, TqorPasswordPrompt APrompt)
      : FRequest(ARequest), FArchive(FarFullPath(ARequest.PackedFile)), FProgress(AProcs), FPrompt(APrompt) {}

  int run() {
    if (FArchive.empty() || FArchive.back() == L'\\') return E_ECREATE;
    if (const int error = read_sub_path()) return error;
    if (const int error = FList.Read(FRequest.SrcPath, FRequest.AddList, (FRequest.Flags & PK_PACK_SAVE_PATHS) != 0))
      return error;
    if (FList.Covers(FArchive)) return E_NOT_SUPPORTED;
    for (const TqorPackSource& source : FList.Sources())
      if (source.Folder) FPackedFolders.insert(FoldedName(source.Name));
    if (moving()) FMoved.Note();
    const TqorArchiveChangeLock lock(FArchive);
    const int result = file_exists(FArchive) ? add_to_archive() : make_archive();
    if (result != 0) return result;
    return move_sources();
  }

 private:
  bool moving() const noexcept { return (FRequest.Flags & PK_PACK_MOVE_FILES) != 0; }
  bool wants_password() const noexcept { return (FRequest.Flags & PK_PACK_ENCRYPT) != 0; }

  int read_sub_path() {
    std::wstring path = FRequest.SubPath;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    while (!path.empty() && path.front() == L'\\') path.erase(0, 1);
    if (path.empty()) return 0;
    if (!EntryPathContained(path)) return E_NOT_SUPPORTED;
    for (size_t start = 0;;) {
      const size_t cut = path.find(L'\\', start);
      FSubLevels.push_back(path.substr(start, cut - start));
      if (cut == std::wstring::npos) break;
      start = cut + 1;
    }
    return 0;
  }

  // FAR's panel route: the archive's own plugin, in the folder SubPath names, takes the top level.
  // The change is checked against what the touched folders listed before it, and rolled back when
  // it lost anything.
  int add_to_archive() {
    // No plugin is known to take a password for an update: plain data must not pass for encrypted.
    if (wants_password()) return E_NOT_SUPPORTED;
    TqorArchiveChange change(FArchive);
    // As FAR re-reads its panel after the call, the check reads what the plugin now shows there;
    // a panel that cannot show it is opened afresh (-1).
    int result = ChangeThroughPanel(FArchive, &TqorFarPlugin::HasPutFiles, [&](TqorFarPanelCursor& ACursor) {
      const int done = walk_and_put(ACursor);
      return done == 0 && !read_after(ACursor) ? -1 : done;
    });
    if (result == -1) result = reopen_and_read_after() ? 0 : E_EWRITE;
    if (result == 0 && !change_holds()) result = E_EWRITE;
    if (result != 0) {
      change.RollBack();
      return result;
    }
    change.Commit();
    return 0;
  }

  // Lists each level on the way to the target and what the target holds of the packed folders,
  // makes the levels that are missing, and puts the files.
  int walk_and_put(TqorFarPanelCursor& ACursor) {
    const unsigned long stops = UserStops();
    try {
      TqorListedFolder* node = &FBefore;
      node->Read(ACursor);
      bool made = false;
      for (const std::wstring& level : FSubLevels) {
        const TqorListedItem* item = made ? nullptr : node->Find(level, true);
        std::wstring name = item ? item->Name : level;
        if (!item) {
          if (ACursor.Make(level) != 1) return failure(stops, E_EWRITE);
          made = true;
        }
        if (!ACursor.Enter(name)) return E_EWRITE;
        FTarget += name + L"\\";
        node = &node->Sub(name);
        if (!made) node->Read(ACursor);
      }
      FBeforeTarget = made ? nullptr : node;
      if (!made) read_packed(ACursor, *node, std::wstring());
    } catch (...) {
      return E_EWRITE;
    }
    return put_files(ACursor);
  }

  // The folders below the cursor's that were packed and are there, each listed into ANode's tree.
  void read_packed(TqorFarPanelCursor& ACursor, TqorListedFolder& ANode, const std::wstring& APrefix) {
    std::vector<std::wstring> folders;
    for (const TqorListedItem& item : ANode.Items())
      if (item.Folder && FPackedFolders.count(FoldedName(APrefix + item.Name))) folders.push_back(item.Name);
    for (const std::wstring& folder : folders) {
      if (!ACursor.Enter(folder)) RaiseOSError(ERROR_PATH_NOT_FOUND);
      TqorListedFolder& sub = ANode.Sub(folder);
      sub.Read(ACursor);
      read_packed(ACursor, sub, APrefix + folder + L"\\");
      ACursor.Leave();
    }
  }

  // What the archive lists now in the folders read before; false when the plugin cannot show it.
  bool read_after(TqorFarPanelCursor& ACursor) noexcept {
    try {
      ACursor.LeaveAll();
      ACursor.Forget();
      FAfter = std::make_unique<TqorListedFolder>();
      TqorListedFolder* node = FAfter.get();
      node->Read(ACursor);
      for (const std::wstring& level : FSubLevels) {
        const TqorListedItem* item = node->Find(level, true);
        if (!item) return true;  // judged missing by the check
        const std::wstring name = item->Name;
        if (!ACursor.Enter(name)) return false;
        node = &node->Sub(name);
        node->Read(ACursor);
      }
      read_packed(ACursor, *node, std::wstring());
      FAfterTarget = node;
      return true;
    } catch (...) {
      FAfter.reset();
      FAfterTarget = nullptr;
      return false;
    }
  }

  // A new archive, or a panel that could not be read after the call: the archive opened afresh.
  bool reopen_and_read_after() {
    HANDLE handle = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(FArchive, handle);
    if (!plugin || !handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return false;
    TqorFarPluginPanel panel(plugin, handle);
    bool read = false;
    {
      TqorFarPanelCursor cursor(panel);
      read = read_after(cursor);
    }
    try {
      panel.Close();
    } catch (...) {
    }
    return read;
  }

  // Everything the touched folders held is there still, and every source is where it went.
  bool change_holds() const {
    if (!FAfter || !FAfterTarget) return false;
    std::set<std::wstring> touched;
    for (const TqorPackSource& source : FList.Sources()) touched.insert(FoldedName(FTarget + source.Name));
    const TqorTouched is_touched = [&](const std::wstring& APath, bool) { return touched.count(FoldedName(APath)) != 0; };
    if (!KeptUntouched(FBefore, *FAfter, is_touched)) return false;
    return std::all_of(FList.Sources().begin(), FList.Sources().end(), [&](const TqorPackSource& ASource) {
      return FAfterTarget->FindPath(ASource.Name, ASource.Folder) != nullptr;
    });
  }

  // The scopes a plugin call for this packing runs in: FAR's panels and folder, progress, cancel.
  template <class F>
  intptr_t in_scope(F&& ACall) {
    const TqorFarOperation operation = TqorFarOperation::Packing(FList.SourceFolder(), folder_of(FArchive));
    const TqorProgressScope progress(FProgress);
    return ACall();
  }

  // What a plugin's failure stands for: the user's cancel, or an error of the change.
  int failure(unsigned long AStops, int AError) const {
    return FProgress.Cancelled() || UserStops() != AStops ? E_EABORTED : AError;
  }

  int put_files(TqorFarPanelCursor& ACursor, int AError = E_EWRITE) {
    std::vector<TPluginPanelItem> items = FList.PanelItems();
    TPutFilesInfo info{};
    info.StructSize = sizeof(info);
    info.PanelItem = items.data();
    info.ItemsNumber = items.size();
    info.Move = FALSE;  // sources go only once the archive is seen to hold them
    info.SrcPath = FList.SourceFolder().c_str();
    info.OpMode = OPM_NONE;
    FProgress.BeginWhole(FArchive, FList.TotalBytes());
    const TqorTemporaryFiles temporary(folder_of(FArchive));
    const unsigned long stops = UserStops();
    intptr_t answer = 0;
    try {
      answer = in_scope([&] { return ACursor.Put(info); });
    } catch (...) {
      temporary.RemoveNew();
      return AError;
    }
    if (answer == -1) return E_EABORTED;
    if (answer == 0) return failure(stops, AError);
    FProgress.EndEntry();
    return 0;
  }

  int make_archive() {
    if (!FSubLevels.empty()) return E_NOT_SUPPORTED;
    HANDLE analysed = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().ProbeNewArchive(analysed);
    if (!plugin) return E_NOT_SUPPORTED;
    const int result = IsEqualGUID(plugin->GlobalInfo().Guid, kCommandPluginId)
                           ? (plugin->CloseAnalysed(analysed), make_by_command(*plugin))
                           : make_on_panel(*plugin, analysed);
    if (result != 0) return result;
    // A plugin that skipped a file still answers success: the new archive must hold every one.
    if (!reopen_and_read_after()) return moving() ? E_EWRITE : 0;
    return change_holds() ? 0 : E_EWRITE;
  }

  // The plugin's own command: a named archive of the listed files, in the format its extension
  // names, written under a name of ours beside the archive and renamed once whole.
  int make_by_command(const TqorFarPlugin& APlugin) {
    std::wstring password;
    if (wants_password()) {
      const std::wstring extension = FoldedName(FArchive.substr(std::min(FArchive.size(), FArchive.find_last_of(L'.'))));
      // Only these two formats are encrypted by it: any other would silently stay plain.
      if (extension != L".7Z" && extension != L".ZIP") return E_NOT_SUPPORTED;
      if (!FPrompt || !FPrompt(password)) return E_EABORTED;
    }
    wchar_t temp_folder[MAX_PATH + 1] = {};
    if (!::GetTempPathW(MAX_PATH + 1, temp_folder)) return E_ECREATE;
    RemoveStaleWorkingFiles(temp_folder);
    RemoveStaleWorkingFiles(folder_of(FArchive));
    const owned_file list(WorkingFileName(temp_folder, L"list.txt"));
    if (!write_list(list.path())) return E_ECREATE;
    const owned_file partial(WorkingFileName(folder_of(FArchive), name_of(FArchive)));

    std::vector<std::wstring> words = {L"c", L"-mf:n", L"-ie:n"};
    if (!password.empty()) words.push_back(L"-p:\"" + password + L"\"");
    words.push_back(L"\"" + partial.path() + L"\"");
    words.push_back(L"@\"" + list.path() + L"\"");
    std::vector<TFarMacroValue> values(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
      values[i].Type = FMVT_STRING;
      values[i].String = words[i].c_str();
    }
    TOpenMacroInfo macro{};
    macro.StructSize = sizeof(macro);
    macro.Count = values.size();
    macro.Values = values.data();
    TOpenInfo open{};
    open.StructSize = sizeof(open);
    open.OpenFrom = OPEN_FROMMACRO;
    static const GUID no_guid{};
    open.Guid = &no_guid;
    open.Data = reinterpret_cast<intptr_t>(&macro);

    FProgress.BeginWhole(FArchive, FList.TotalBytes());
    const TqorTemporaryFiles temporary(folder_of(FArchive));
    const unsigned long stops = UserStops();
    HANDLE answer = nullptr;
    try {
      answer = reinterpret_cast<HANDLE>(in_scope([&] { return reinterpret_cast<intptr_t>(APlugin.Open(open)); }));
    } catch (...) {
      temporary.RemoveNew();
      return E_EWRITE;
    }
    if (answer != INVALID_HANDLE_VALUE) {
      // A panel was not asked for: it goes at once.
      if (answer) TqorFarPluginPanel(const_cast<TqorFarPlugin*>(&APlugin), answer).Close();
      return failure(stops, E_ECREATE);
    }
    if (!file_exists(partial.path())) return failure(stops, E_ECREATE);
    // Never over a file that appeared meanwhile.
    if (!::MoveFileExW(ExtendedPath(partial.path()).c_str(), ExtendedPath(FArchive).c_str(), 0)) return E_ECREATE;
    FProgress.EndEntry();
    return 0;
  }

  // The top-level sources, one full path a line, in UTF-16 with its mark.
  bool write_list(const std::wstring& APath) const {
    std::wstring text(1, wchar_t(0xFEFF));
    for (const TPluginPanelItem& item : FList.PanelItems()) {
      text += FList.SourceFolder();
      if (text.back() != L'\\') text += L'\\';
      text += item.FileName;
      text += L"\r\n";
    }
    unique_handle file(::CreateFileW(ExtendedPath(APath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    return ::WriteFile(file.get(), text.data(), size, &written, nullptr) && written == size;
  }

  // FAR's own route: the probe's answer opens an empty panel, and the plugin names the archive
  // in its own dialog as it puts the files.
  int make_on_panel(TqorFarPlugin& APlugin, HANDLE AAnalysed) {
    if (wants_password()) {
      APlugin.CloseAnalysed(AAnalysed);
      return E_NOT_SUPPORTED;
    }
    TAnalyseInfo analyse{};
    analyse.StructSize = sizeof(analyse);
    const unsigned long stops = UserStops();
    const HANDLE handle = reinterpret_cast<HANDLE>(
        in_scope([&] { return reinterpret_cast<intptr_t>(APlugin.OpenAnalysed(analyse, AAnalysed)); }));
    if (!handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return failure(stops, E_ECREATE);
    TqorFarPluginPanel panel(&APlugin, handle);
    int result = 0;
    {
      TqorFarPanelCursor cursor(panel);
      result = put_files(cursor, E_ECREATE);
    }
    panel.Close();
    if (result == 0 && !file_exists(FArchive)) result = E_ECREATE;
    return result;
  }

  // A source goes only on firm evidence: its entry is new or changed by this call, has the
  // source's size and write time, and the source is the file it was when the call began.
  int move_sources() {
    if (!moving()) return 0;
    int result = 0;
    const auto& sources = FList.Sources();
    std::vector<size_t> folders;
    for (size_t i = 0; i < sources.size(); ++i) {
      const TqorPackSource& source = sources[i];
      if (source.Folder) {
        folders.push_back(i);
        continue;
      }
      if (!taken_in(source) || !FMoved.RemoveFile(i)) result = E_EWRITE;
    }
    // Deepest first, and only when empty: a file that appeared meanwhile keeps its folder.
    std::stable_sort(folders.begin(), folders.end(), [&](size_t a, size_t b) {
      return std::count(sources[a].Name.begin(), sources[a].Name.end(), L'\\') >
             std::count(sources[b].Name.begin(), sources[b].Name.end(), L'\\');
    });
    for (size_t i : folders) FMoved.RemoveFolder(i);
    return result;
  }

  bool taken_in(const TqorPackSource& ASource) const {
    const TqorListedItem* now = FAfterTarget ? FAfterTarget->FindPath(ASource.Name, false) : nullptr;
    if (!now || now->Size != ASource.Size() || is_zero(now->Time) || !same_time(now->Time, ASource.Data.ftLastWriteTime))
      return false;
    const TqorListedItem* before = FBeforeTarget ? FBeforeTarget->FindPath(ASource.Name, false) : nullptr;
    return !before || before->Size != now->Size || ::CompareFileTime(&before->Time, &now->Time) != 0;
  }

  const TqorPackRequest& FRequest;
  const std::wstring FArchive;
  TqorArchiveProgress FProgress;
  TqorPasswordPrompt FPrompt;
  TqorPackList FList;
  TqorMovedSources FMoved{FList};
  std::vector<std::wstring> FSubLevels;
  std::set<std::wstring> FPackedFolders;  // folded, below the source folder
  std::wstring FTarget;                   // the target folder as listed, with its backslash; empty at the root
  TqorListedFolder FBefore;
  const TqorListedFolder* FBeforeTarget = nullptr;  // nil when the target folder was made
  std::unique_ptr<TqorListedFolder> FAfter;
  const TqorListedFolder* FAfterTarget = nullptr;
};

}  // namespace

int PackFiles(const TqorPackRequest& ARequest, const TqorProcessDataProcs& AProcs, TqorPasswordPrompt APrompt) {
  pack_call call(ARequest, AProcs, APrompt);
  return call.run();
}

}  // namespace qor
