// Adding to archives and making new ones through the plugins, and the move of what they took.
#include "hosting/qorFarPacking.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <unordered_map>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorHandles.h"
#include "common/qorText.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarArchiveLocks.h"
#include "hosting/qorFarEntryNames.h"
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

bool is_plugin_temp_name(const std::wstring& AName) {
  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}.tmp", as archive plugins name an update in progress.
  return AName.size() == 42 && AName.front() == L'{' && AName[37] == L'}' &&
         FoldedName(AName.substr(38)) == L".TMP";
}

// The plugins' temporary files in a folder before a call; after a fault, the ones the call left
// go, and nothing else.
class temp_file_sweep {
 public:
  explicit temp_file_sweep(std::wstring AFolder) : FFolder(std::move(AFolder)), FBefore(list()) {}
  void remove_new() const noexcept {
    try {
      for (const std::wstring& name : list())
        if (!FBefore.count(name)) ::DeleteFileW(ExtendedPath(FFolder + L"\\" + name).c_str());
    } catch (...) {
    }
  }

 private:
  std::set<std::wstring> list() const {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data;
    unique_find find(::FindFirstFileExW(ExtendedPath(FFolder + L"\\{*}.tmp").c_str(), FindExInfoBasic, &data,
                                        FindExSearchNameMatch, nullptr, 0));
    if (find.get() == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && is_plugin_temp_name(data.cFileName))
        names.insert(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    return names;
  }

  std::wstring FFolder;
  std::set<std::wstring> FBefore;
};

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

std::atomic<unsigned> GNameCounter{0};

// A name of the module's own in AFolder, unused now, ending in ATail.
std::wstring fresh_name(const std::wstring& AFolder, const std::wstring& ATail) {
  for (;;) {
    const std::wstring path = AFolder + (AFolder.back() == L'\\' ? L"" : L"\\") + L"~wexlor-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++GNameCounter) +
                              L"-" + ATail;
    if (!file_exists(path)) return path;
  }
}

// Files an archive holds where the sources went: path below the target folder (folded) to size.
using archive_listing = std::unordered_map<std::wstring, unsigned long long>;

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
    const TqorArchiveChangeLock lock(FArchive);
    const bool existing = file_exists(FArchive);
    const int result = existing ? add_to_archive() : make_archive();
    if (result != 0) return result;
    return check_and_move();
  }

 private:
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
  int add_to_archive() {
    HANDLE handle = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(FArchive, handle);
    if (!plugin) return E_UNKNOWN_FORMAT;
    if (!handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return E_EOPEN;
    TqorFarPluginPanel panel(plugin, handle);
    if (!plugin->HasPutFiles()) return E_NOT_SUPPORTED;
    int result = 0;
    {
      TqorFarPanelCursor cursor(panel);
      result = enter_sub_path(cursor);
      if (result == 0) result = put_files(panel);
      // As FAR re-reads its panel after the call, the check reads what the plugin now shows there.
      if (result == 0) FHeldRead = read_held(cursor);
    }
    panel.Close();
    return result;
  }

  bool read_held(TqorFarPanelCursor& ACursor) noexcept {
    try {
      ACursor.Forget();
      collect_held(ACursor, std::wstring());
      return true;
    } catch (...) {
      FHeld.clear();
      return false;
    }
  }

  // The files below the cursor's folder, entering only the folders that were packed.
  void collect_held(TqorFarPanelCursor& ACursor, const std::wstring& APrefix) {
    std::vector<std::wstring> folders;
    const TqorFarPluginEnum& listing = ACursor.Listing();
    for (size_t i = 0; i < listing.ItemCount(); ++i) {
      const std::wstring path = APrefix + std::wstring(listing.NameAt(i));
      if (!(listing.Item(i).FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        FHeld[FoldedName(path)] = listing.Item(i).FileSize;
      else if (FPackedFolders.count(FoldedName(path)))
        folders.emplace_back(listing.NameAt(i));
    }
    for (const std::wstring& folder : folders) {
      if (!ACursor.Enter(folder)) continue;
      collect_held(ACursor, APrefix + folder + L"\\");
      ACursor.Leave();
    }
  }

  // A new archive, or a panel that could not be read after the call: the archive opened afresh.
  bool reopen_and_read_held() {
    HANDLE handle = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(FArchive, handle);
    if (!plugin || !handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return false;
    TqorFarPluginPanel panel(plugin, handle);
    bool read = false;
    {
      TqorFarPanelCursor cursor(panel);
      read = std::all_of(FSubLevels.begin(), FSubLevels.end(), [&](const std::wstring& level) { return cursor.Enter(level); }) &&
             read_held(cursor);
    }
    panel.Close();
    return read;
  }

  int enter_sub_path(TqorFarPanelCursor& ACursor) {
    for (const std::wstring& level : FSubLevels) {
      if (ACursor.Find(level) < 0 && ACursor.Make(level) != 1) return E_EWRITE;
      if (!ACursor.Enter(level)) return E_EWRITE;
    }
    return 0;
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

  int put_files(TqorFarPluginPanel& APanel) {
    std::vector<TPluginPanelItem> items = FList.PanelItems();
    TPutFilesInfo info{};
    info.StructSize = sizeof(info);
    info.hPanel = APanel.Handle();
    info.PanelItem = items.data();
    info.ItemsNumber = items.size();
    info.Move = FALSE;  // sources go only once the archive is seen to hold them
    info.SrcPath = FList.SourceFolder().c_str();
    info.OpMode = OPM_NONE;
    FProgress.BeginWhole(FArchive, FList.TotalBytes());
    const temp_file_sweep sweep(folder_of(FArchive));
    const unsigned long stops = UserStops();
    intptr_t answer = 0;
    try {
      answer = in_scope([&] { return APanel.Plugin()->PutFiles(info); });
    } catch (...) {
      sweep.remove_new();
      return E_EWRITE;
    }
    if (answer == -1) return E_EABORTED;
    if (answer == 0) return failure(stops, E_EWRITE);
    FProgress.EndEntry();
    return 0;
  }

  int make_archive() {
    if (!FSubLevels.empty()) return E_NOT_SUPPORTED;
    HANDLE analysed = nullptr;
    TqorFarPlugin* plugin = PluginRegistry().ProbeNewArchive(analysed);
    if (!plugin) return E_NOT_SUPPORTED;
    if (IsEqualGUID(plugin->GlobalInfo().Guid, kCommandPluginId)) {
      plugin->CloseAnalysed(analysed);
      return make_by_command(*plugin);
    }
    return make_on_panel(*plugin, analysed);
  }

  bool wants_password() const noexcept { return (FRequest.Flags & PK_PACK_ENCRYPT) != 0; }

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
    const owned_file list(fresh_name(temp_folder, L"list.txt"));
    if (!write_list(list.path())) return E_ECREATE;
    const owned_file partial(fresh_name(folder_of(FArchive), name_of(FArchive)));

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
    const temp_file_sweep sweep(folder_of(FArchive));
    const unsigned long stops = UserStops();
    HANDLE answer = nullptr;
    try {
      answer = reinterpret_cast<HANDLE>(in_scope([&] { return reinterpret_cast<intptr_t>(APlugin.Open(open)); }));
    } catch (...) {
      sweep.remove_new();
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
    int result = put_files(panel);
    panel.Close();
    if (result == 0 && !file_exists(FArchive)) result = E_ECREATE;
    return result;
  }

  // After the plugin's success: every listed file must be in the archive (a plugin that skipped
  // some still answers success), and a move deletes only what it holds, unchanged since the start.
  int check_and_move() {
    const bool move = (FRequest.Flags & PK_PACK_MOVE_FILES) != 0;
    if (!FHeldRead && !reopen_and_read_held()) return move ? E_EWRITE : 0;
    const archive_listing& listing = FHeld;
    int result = 0;
    std::vector<const TqorPackSource*> folders;
    for (const TqorPackSource& source : FList.Sources()) {
      if (source.Folder) {
        folders.push_back(&source);
        continue;
      }
      const auto entry = listing.find(FoldedName(source.Name));
      if (entry == listing.end()) {
        result = E_EWRITE;
        continue;
      }
      if (move && (entry->second != source.Size() || !delete_if_unchanged(source))) result = E_EWRITE;
    }
    if (!move) return result;
    // Deepest first, and only when empty: a file that appeared meanwhile keeps its folder.
    std::sort(folders.begin(), folders.end(), [](const TqorPackSource* a, const TqorPackSource* b) {
      return std::count(a->Name.begin(), a->Name.end(), L'\\') > std::count(b->Name.begin(), b->Name.end(), L'\\');
    });
    for (const TqorPackSource* folder : folders) ::RemoveDirectoryW(ExtendedPath(FList.PathOf(*folder)).c_str());
    return result;
  }

  bool delete_if_unchanged(const TqorPackSource& ASource) const {
    const std::wstring path = ExtendedPath(FList.PathOf(ASource));
    WIN32_FILE_ATTRIBUTE_DATA now{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &now)) return false;
    if (now.nFileSizeHigh != ASource.Data.nFileSizeHigh || now.nFileSizeLow != ASource.Data.nFileSizeLow ||
        ::CompareFileTime(&now.ftLastWriteTime, &ASource.Data.ftLastWriteTime) != 0)
      return false;
    if (now.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
      ::SetFileAttributesW(path.c_str(), now.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
    if (::DeleteFileW(path.c_str())) return true;
    ::SetFileAttributesW(path.c_str(), now.dwFileAttributes);
    return false;
  }

  const TqorPackRequest& FRequest;
  const std::wstring FArchive;
  TqorArchiveProgress FProgress;
  TqorPasswordPrompt FPrompt;
  TqorPackList FList;
  std::vector<std::wstring> FSubLevels;
  std::set<std::wstring> FPackedFolders;  // folded, below the source folder
  archive_listing FHeld;
  bool FHeldRead = false;
};

}  // namespace

int PackFiles(const TqorPackRequest& ARequest, const TqorProcessDataProcs& AProcs, TqorPasswordPrompt APrompt) {
  pack_call call(ARequest, AProcs, APrompt);
  return call.run();
}

}  // namespace qor
