// The exported WCX entry points and the module's start-up/shut-down order. Each export is a thin
// boundary: it catches everything and answers with the interface's value.
#include "packer/Wexlor.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>

#include "common/qorErrors.h"
#include "common/qorLocks.h"
#include "common/qorText.h"
#include "dialogs/qorPasswordForm.h"
#include "hosting/qorFarDeletion.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarExtraction.h"
#include "hosting/qorFarOperationScope.h"
#include "hosting/qorFarPacking.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPluginPanel.h"
#include "hosting/qorFarPluginSetup.h"
#include "hosting/qorFarPlugins.h"
#include "hosting/qorFarProgress.h"
#include "hosting/qorFarStaging.h"
#include "packer/WexlorTime.h"
#include "services/qorFarLang.h"
#include "services/qorFarSettingsStore.h"
#include "services/qorFarStartupInfoW.h"
#include "strings/qorShellLang.h"
#include "strings/qorShellStrings.h"
#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellForm.h"
#include "ui/qorShellThemes.h"

using namespace qor;
using namespace wcx;

namespace {

PackDefaultParamStruct GDefaultParams{};

// What the exports keep of one open archive: the panel, whose address is the handle, the
// local-time shift read when it was opened, its progress and cancel, and its extraction (whose
// staging folder goes when the archive does).
struct open_archive_state {
  open_archive_state(std::unique_ptr<TqorFarPluginPanel> APanel, const TqorProcessDataProcs& AProcs)
      : Panel(std::move(APanel)), Progress(AProcs), Extraction(*Panel, Progress) {}
  std::unique_ptr<TqorFarPluginPanel> Panel;
  const local_time_shift Clock = local_time_shift::Current();
  TqorArchiveProgress Progress;
  TqorFarExtraction Extraction;
};

// Handles given to the file manager; anything else is refused rather than dereferenced. Also keeps
// the process-data callbacks given without a handle, which archives opened later start with.
class live_panels {
 public:
  HANDLE add(std::unique_ptr<TqorFarPluginPanel> APanel) {
    lock_guard<srw_lock> guard(FLock);
    TqorFarPluginPanel* key = APanel.get();
    FPanels.emplace(key, std::make_unique<open_archive_state>(std::move(APanel), FDefaultProcs));
    return key;
  }
  // Called for every header and every entry: readers share the lock.
  open_archive_state* find(HANDLE AHandle) {
    shared_guard<srw_lock> guard(FLock);
    auto it = FPanels.find(static_cast<TqorFarPluginPanel*>(AHandle));
    return it == FPanels.end() ? nullptr : it->second.get();
  }
  std::unique_ptr<open_archive_state> take(HANDLE AHandle) {
    lock_guard<srw_lock> guard(FLock);
    auto it = FPanels.find(static_cast<TqorFarPluginPanel*>(AHandle));
    if (it == FPanels.end()) return nullptr;
    std::unique_ptr<open_archive_state> archive = std::move(it->second);
    FPanels.erase(it);
    return archive;
  }
  TqorProcessDataProcs default_procs() {
    shared_guard<srw_lock> guard(FLock);
    return FDefaultProcs;
  }
  template <class F>
  void change_default_procs(F AChange) {
    lock_guard<srw_lock> guard(FLock);
    AChange(FDefaultProcs);
  }
  // Archives the file manager never closed go before the plugins that own them.
  void close_all() noexcept {
    lock_guard<srw_lock> guard(FLock);
    FPanels.clear();
  }

 private:
  srw_lock FLock;
  std::unordered_map<TqorFarPluginPanel*, std::unique_ptr<open_archive_state>> FPanels;
  TqorProcessDataProcs FDefaultProcs;
};

live_panels* GPanels = nullptr;

open_archive_state& archive_of(HANDLE AHandle) {
  open_archive_state* archive = GPanels ? GPanels->find(AHandle) : nullptr;
  if (!archive) throw EqorError(L"Unknown archive handle");
  return *archive;
}

// File managers pass 0 or INVALID_HANDLE_VALUE for the callback of archives opened later.
bool is_no_archive(HANDLE AHandle) { return AHandle == nullptr || AHandle == INVALID_HANDLE_VALUE; }

template <class P>
void set_process_data_proc(HANDLE AHandle, P AProc, P TqorProcessDataProcs::*ASlot,
                           void (TqorArchiveProgress::*ASetter)(P) noexcept) {
  if (!GPanels) return;
  if (is_no_archive(AHandle)) {
    GPanels->change_default_procs([&](TqorProcessDataProcs& AProcs) { AProcs.*ASlot = AProc; });
  } else if (open_archive_state* archive = GPanels->find(AHandle)) {
    (archive->Progress.*ASetter)(AProc);
  }
}

// Stores a path of names into an ANSI field of AFieldSize bytes that the caller has cleared, in the
// form AnsiPath gives (no name can climb or split there that does not in the wide path): always
// NUL-terminated inside the field and never cut in the middle of a double-byte character.
void store_ansi_field(const std::wstring& AText, char* AField, size_t AFieldSize) {
  const std::string ansi = AnsiPath(AText.substr(0, 1023));
  size_t used = 0;
  while (used < ansi.size()) {
    const size_t step = ::IsDBCSLeadByte(static_cast<BYTE>(ansi[used])) && used + 1 < ansi.size() ? 2 : 1;
    if (used + step > AFieldSize - 1) break;
    used += step;
  }
  std::memcpy(AField, ansi.data(), used);
  AField[used] = '\0';
}

// One entry as every header record reports it. Path stays valid until the next entry is read.
struct entry_header {
  const std::wstring* Path;
  unsigned long long PackSize;
  unsigned long long UnpSize;
  int FileTime;
  int FileAttr;
};

// False at the end of the archive.
bool next_entry(HANDLE hArcData, entry_header& AEntry) {
  open_archive_state& archive = archive_of(hArcData);
  const TPluginPanelItem* item = archive.Extraction.NextEntry();
  if (!item) return false;
  AEntry.Path = &archive.Extraction.ListedName();
  AEntry.PackSize = item->AllocationSize;
  AEntry.UnpSize = item->FileSize;
  AEntry.FileAttr = static_cast<int>(item->FileAttributes);
  AEntry.FileTime = archive.Clock.DosFileTime(item->LastWriteTime);
  return true;
}

// The numbers of the two extended records; the other fields stay 0.
template <class Record>
void store_numbers(const entry_header& AEntry, Record& ARecord) {
  ARecord.PackSize = static_cast<unsigned int>(AEntry.PackSize);
  ARecord.PackSizeHigh = static_cast<unsigned int>(AEntry.PackSize >> 32);
  ARecord.UnpSize = static_cast<unsigned int>(AEntry.UnpSize);
  ARecord.UnpSizeHigh = static_cast<unsigned int>(AEntry.UnpSize >> 32);
  ARecord.FileAttr = AEntry.FileAttr;
  ARecord.FileTime = AEntry.FileTime;
}

// The oldest record has no field for the high parts of the sizes.
void store_numbers(const entry_header& AEntry, tHeaderData& ARecord) {
  ARecord.PackSize = static_cast<int>(AEntry.PackSize);
  ARecord.UnpSize = static_cast<int>(AEntry.UnpSize);
  ARecord.FileAttr = AEntry.FileAttr;
  ARecord.FileTime = AEntry.FileTime;
}

void store_name(const entry_header& AEntry, tHeaderDataExW& ARecord) {
  const size_t length = std::min<size_t>(AEntry.Path->size(), 1023);
  std::memcpy(ARecord.FileName, AEntry.Path->data(), length * sizeof(wchar_t));
  std::memset(ARecord.FileName + length, 0, (std::size(ARecord.FileName) - length) * sizeof(wchar_t));
}

template <class Record>
void store_name(const entry_header& AEntry, Record& ARecord) {
  store_ansi_field(*AEntry.Path, ARecord.FileName, sizeof(ARecord.FileName));
}

// Every header record is cleared once, here; the entry then fills only what it has.
template <class Record>
void clear_record(Record& AHeader) {
  std::memset(&AHeader, 0, sizeof(AHeader));
}

// The record Unicode file managers read for every entry, 5 KiB: its name field is cleared with the
// name (store_name), the archive name (a string nobody reads past its end) to its first character,
// everything after the name whole.
void clear_record(tHeaderDataExW& AHeader) {
  AHeader.ArcName[0] = L'\0';
  AHeader.FileName[0] = L'\0';
  std::memset(&AHeader.Flags, 0, sizeof(tHeaderDataExW) - offsetof(tHeaderDataExW, Flags));
}

template <class Record>
int read_header(HANDLE hArcData, Record& AHeader) {
  clear_record(AHeader);
  entry_header entry;
  if (!next_entry(hArcData, entry)) return E_END_ARCHIVE;
  store_name(entry, AHeader);
  store_numbers(entry, AHeader);
  return 0;
}

HANDLE open_archive(tOpenArchiveDataW& AData) {
  AData.OpenResult = E_EOPEN;
  AData.CmtBuf = nullptr;
  AData.CmtBufSize = 0;
  AData.CmtSize = 0;
  AData.CmtState = 0;
  if (AData.OpenMode != PK_OM_LIST && AData.OpenMode != PK_OM_EXTRACT) {
    AData.OpenResult = E_NOT_SUPPORTED;
    return nullptr;
  }
  HANDLE handle = nullptr;
  TqorFarPlugin* plugin =
      PluginRegistry().FindPluginAndOpen(AData.ArcName ? AData.ArcName : L"", handle);
  // PANEL_STOP means "handled, nothing to show": it is never a panel of the plugin's.
  if (!plugin || !handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return nullptr;
  HANDLE archive = GPanels->add(std::make_unique<TqorFarPluginPanel>(plugin, handle));
  AData.OpenResult = 0;
  return archive;
}

int result_code(TqorEntryResult AResult) {
  switch (AResult) {
    case TqorEntryResult::Done:
      return 0;
    case TqorEntryResult::Failed:
      return E_BAD_DATA;
    case TqorEntryResult::Cancelled:
      return E_EABORTED;
    case TqorEntryResult::ReadError:
      return E_EREAD;
    case TqorEntryResult::Refused:
      return E_ECREATE;
    case TqorEntryResult::NotPlaced:
      break;
  }
  return E_EWRITE;
}

int process_file(HANDLE hArcData, int AOperation, const wchar_t* ADestPath, const wchar_t* ADestName) {
  if (AOperation == PK_SKIP) {
    // Skipping is never refused, not even for a handle the module does not know.
    if (open_archive_state* archive = GPanels ? GPanels->find(hArcData) : nullptr) archive->Extraction.Skip();
    return 0;
  }
  if (AOperation == PK_TEST) return result_code(archive_of(hArcData).Extraction.Test());
  if (AOperation != PK_EXTRACT) return E_NOT_SUPPORTED;
  // A name with a "." or ".." component leads elsewhere than the entry it stands for.
  if (ADestName && PathHasDotComponent(ADestName)) return E_ECREATE;
  std::wstring target = ADestPath ? ADestPath : L"";
  target += ADestName ? ADestName : L"";
  // Without a folder the entry would land in whatever the process's current folder is.
  if (target.find_last_of(L"\\:") == std::wstring::npos) throw EqorError(L"No destination folder");
  open_archive_state& archive = archive_of(hArcData);
  const TqorFarExtractionScope operation(*archive.Panel, target);
  return result_code(archive.Extraction.Extract(target));
}

// The callbacks the file manager set without an archive, which packing reports to.
TqorProcessDataProcs packing_procs() { return GPanels ? GPanels->default_procs() : TqorProcessDataProcs{}; }

// The password of a new encrypted archive, asked in the module's own form; a form that cannot be
// shown counts as no answer.
bool ask_password(std::wstring& APassword) {
  try {
    return AskNewArchivePassword(APassword);
  } catch (...) {
    return false;
  }
}

// Each name of a NUL-separated list that ends with an empty one, from the ANSI code page.
std::wstring wide_list(const char* AList) {
  std::wstring list;
  for (const char* p = AList; p && *p; p += std::strlen(p) + 1) {
    list += AnsiToWide(p);
    list += L'\0';
  }
  list += L'\0';
  return list;
}

}  // namespace

extern "C" {

int WINAPI GetPackerCaps() {
  return PK_CAPS_NEW | PK_CAPS_MODIFY | PK_CAPS_MULTIPLE | PK_CAPS_DELETE | PK_CAPS_OPTIONS | PK_CAPS_BY_CONTENT |
         PK_CAPS_SEARCHTEXT | PK_CAPS_HIDE | PK_CAPS_ENCRYPT;
}

// Packing and deleting may run on a file manager's worker thread: changes of one archive wait for
// each other, every per-call state is the calling thread's, and the dialogs they show belong to
// the file manager's window without disabling it.
int WINAPI GetBackgroundFlags() { return BACKGROUND_UNPACK | BACKGROUND_PACK; }

// The settings file goes beside the file manager's suggested one.
void WINAPI PackSetDefaultParams(PackDefaultParamStruct* dps) {
  if (!dps) return;
  try {
    std::memcpy(&GDefaultParams, dps, sizeof(GDefaultParams));
    const char* name = GDefaultParams.DefaultIniName;
    SetSettingsFolder(AnsiToWide(std::string(name, strnlen(name, sizeof(GDefaultParams.DefaultIniName))).c_str()));
  } catch (...) {
  }
}

void WINAPI ConfigurePacker(HWND Parent, HINSTANCE /*DllInstance*/) {
  try {
    ConfigurePlugins(Parent);
  } catch (...) {
  }
}

// Not part of the packer interface: the plugin list for wcxhost, one plugin a line (place, 1 or
// 0 for enabled, title, version, folder; tab-separated). Answers the length with its NUL; copies
// when the buffer holds it all.
int WINAPI ListHostedPluginsW(wchar_t* Buffer, int BufferSize) {
  try {
    const std::wstring text = DescribePlugins();
    const int needed = static_cast<int>(text.size()) + 1;
    if (Buffer && BufferSize >= needed) std::memcpy(Buffer, text.c_str(), static_cast<size_t>(needed) * sizeof(wchar_t));
    return needed;
  } catch (...) {
    return 0;
  }
}

int WINAPI CanYouHandleThisFileW(const wchar_t* FileName) {
  try {
    if (!FileName) return 0;
    return PluginRegistry().FindPlugin(FileName) ? -1 : 0;
  } catch (...) {
    return 0;
  }
}

int WINAPI CanYouHandleThisFile(const char* FileName) {
  try {
    if (!FileName) return 0;
    const std::wstring name = AnsiToWide(FileName);
    return CanYouHandleThisFileW(name.c_str());
  } catch (...) {
    return 0;
  }
}

HANDLE WINAPI OpenArchiveW(tOpenArchiveDataW* ArchiveData) {
  if (!ArchiveData) return nullptr;
  try {
    return open_archive(*ArchiveData);
  } catch (...) {
    ArchiveData->OpenResult = E_EOPEN;
    return nullptr;
  }
}

HANDLE WINAPI OpenArchive(tOpenArchiveData* ArchiveData) {
  if (!ArchiveData) return nullptr;
  try {
    ArchiveData->CmtBuf = nullptr;
    ArchiveData->CmtBufSize = 0;
    ArchiveData->CmtSize = 0;
    ArchiveData->CmtState = 0;
    if (ArchiveData->OpenMode != PK_OM_LIST && ArchiveData->OpenMode != PK_OM_EXTRACT) {
      ArchiveData->OpenResult = E_NOT_SUPPORTED;
      return nullptr;
    }
    std::wstring name = AnsiToWide(ArchiveData->ArcName);
    tOpenArchiveDataW wide{};
    wide.ArcName = name.data();
    wide.OpenMode = ArchiveData->OpenMode;
    HANDLE handle = OpenArchiveW(&wide);
    ArchiveData->OpenResult = wide.OpenResult;
    return handle;
  } catch (...) {
    ArchiveData->OpenResult = E_EOPEN;
    return nullptr;
  }
}

int WINAPI ReadHeaderExW(HANDLE hArcData, tHeaderDataExW* HeaderData) {
  if (!HeaderData) return E_EREAD;
  try {
    return read_header(hArcData, *HeaderData);
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ReadHeaderEx(HANDLE hArcData, tHeaderDataEx* HeaderData) {
  if (!HeaderData) return E_EREAD;
  try {
    return read_header(hArcData, *HeaderData);
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ReadHeader(HANDLE hArcData, tHeaderData* HeaderData) {
  if (!HeaderData) return E_EREAD;
  try {
    return read_header(hArcData, *HeaderData);
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ProcessFileW(HANDLE hArcData, int Operation, const wchar_t* DestPath, const wchar_t* DestName) {
  try {
    return process_file(hArcData, Operation, DestPath, DestName);
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ProcessFile(HANDLE hArcData, int Operation, const char* DestPath, const char* DestName) {
  try {
    if (static_cast<unsigned>(Operation) >= 3) return E_NOT_SUPPORTED;
    // Skipping and testing read no path: nothing to convert for each entry.
    if (Operation != PK_EXTRACT) return ProcessFileW(hArcData, Operation, nullptr, nullptr);
    const std::wstring path = AnsiToWide(DestPath);
    const std::wstring name = AnsiToWide(DestName);
    return ProcessFileW(hArcData, Operation, path.c_str(), name.c_str());
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI CloseArchive(HANDLE hArcData) {
  try {
    std::unique_ptr<open_archive_state> archive = GPanels ? GPanels->take(hArcData) : nullptr;
    if (!archive) return E_ECLOSE;
    archive->Panel->Close();
    return 0;
  } catch (...) {
    return E_ECLOSE;
  }
}

int WINAPI PackFilesW(wchar_t* PackedFile, wchar_t* SubPath, wchar_t* SrcPath, wchar_t* AddList, int Flags) {
  try {
    if (!PackedFile || !GPanels) return E_ECREATE;
    TqorPackRequest request;
    request.PackedFile = PackedFile;
    request.SubPath = SubPath ? SubPath : L"";
    request.SrcPath = SrcPath;
    request.AddList = AddList;
    request.Flags = Flags;
    const TqorThreadOwnerScope owner(CallerOwnerWindow());
    return PackFiles(request, packing_procs(), &ask_password);
  } catch (const std::bad_alloc&) {
    return E_NO_MEMORY;
  } catch (...) {
    return E_EWRITE;
  }
}

int WINAPI PackFiles(char* PackedFile, char* SubPath, char* SrcPath, char* AddList, int Flags) {
  try {
    if (!PackedFile) return E_ECREATE;
    std::wstring packed = AnsiToWide(PackedFile);
    std::wstring sub = SubPath ? AnsiToWide(SubPath) : std::wstring();
    std::wstring source = SrcPath ? AnsiToWide(SrcPath) : std::wstring();
    std::wstring list = wide_list(AddList);
    return PackFilesW(packed.data(), SubPath ? sub.data() : nullptr, SrcPath ? source.data() : nullptr, list.data(),
                      Flags);
  } catch (...) {
    return E_NO_MEMORY;
  }
}

// ANSI names were shown through the ANSI form of the listed names, and are found through it.
static int delete_files(const wchar_t* APackedFile, const wchar_t* ADeleteList, bool AAnsi) {
  try {
    if (!APackedFile || !GPanels) return E_EOPEN;
    const TqorThreadOwnerScope owner(CallerOwnerWindow());
    return DeleteFiles(APackedFile, ADeleteList, packing_procs(), AAnsi);
  } catch (const std::bad_alloc&) {
    return E_NO_MEMORY;
  } catch (...) {
    return E_EWRITE;
  }
}

int WINAPI DeleteFilesW(wchar_t* PackedFile, wchar_t* DeleteList) { return delete_files(PackedFile, DeleteList, false); }

int WINAPI DeleteFiles(char* PackedFile, char* DeleteList) {
  try {
    if (!PackedFile) return E_EOPEN;
    const std::wstring packed = AnsiToWide(PackedFile);
    const std::wstring list = wide_list(DeleteList);
    return delete_files(packed.c_str(), list.c_str(), true);
  } catch (...) {
    return E_NO_MEMORY;
  }
}

// Volume changes are not requested: archives are never split across volumes here.
void WINAPI SetChangeVolProc(HANDLE, tChangeVolProc) {}
void WINAPI SetChangeVolProcW(HANDLE, tChangeVolProcW) {}

void WINAPI SetProcessDataProc(HANDLE hArcData, tProcessDataProc pProcessDataProc) {
  try {
    set_process_data_proc(hArcData, pProcessDataProc, &TqorProcessDataProcs::Ansi, &TqorArchiveProgress::SetProc);
  } catch (...) {
  }
}

void WINAPI SetProcessDataProcW(HANDLE hArcData, tProcessDataProcW pProcessDataProc) {
  try {
    set_process_data_proc(hArcData, pProcessDataProc, &TqorProcessDataProcs::Wide, &TqorArchiveProgress::SetProcW);
  } catch (...) {
  }
}

}  // extern "C"

namespace {

// Start-up sections of the units, in the order the design gives; shut-down runs them backwards.
void module_startup() noexcept {
  FarLangStartup();
  ThemesStartup();
  FormStartup();
  qor::ShellBaseExtension::Startup();
  ShellStringsStartup();
  ShellLangStartup();
  InitStartupInfo();
  ProgressStartup();
  PluginsStartup();
  GPanels = new live_panels;
}

void module_shutdown() noexcept {
  GPanels->close_all();
  delete GPanels;
  GPanels = nullptr;
  PluginsShutdown();
  ProgressShutdown();
  ShellLangShutdown();
  ShellStringsShutdown();
  qor::ShellBaseExtension::Shutdown();
  FormShutdown();
  ThemesShutdown();
  // Last: message texts handed to plugins outlive every plugin.
  FarLangShutdown();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID AReserved) {
  switch (AReason) {
    case DLL_PROCESS_ATTACH:
      ::DisableThreadLibraryCalls(AInstance);
      module_startup();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit the plugin DLLs may already be detached: calling into them then is unsafe,
      // but the staging folders of archives still open are the module's own to remove.
      if (AReserved == nullptr)
        module_shutdown();
      else
        RemoveLiveStagingFolders();
      WritePendingSettings();
      break;
    default:
      break;
  }
  return TRUE;
}
