// The exported WCX entry points and the module's start-up/shut-down order. Each export is a thin
// boundary: it catches everything and answers with the interface's value.
#include "packer/Wexlor.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "common/qorErrors.h"
#include "common/qorText.h"
#include "hosting/qorFarPlugins.h"
#include "services/qorFarStartupInfoW.h"
#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellForm.h"
#include "ui/qorShellThemes.h"

using namespace qor;
using namespace wcx;

namespace {

PackDefaultParamStruct GDefaultParams{};

// Handles given to the file manager; anything else is refused rather than dereferenced.
class live_panels {
 public:
  void add(TqorFarPluginPanel* APanel) {
    std::lock_guard<std::mutex> guard(FLock);
    FPanels.insert(APanel);
  }
  TqorFarPluginPanel* find(HANDLE AHandle) {
    std::lock_guard<std::mutex> guard(FLock);
    auto it = FPanels.find(static_cast<TqorFarPluginPanel*>(AHandle));
    return it == FPanels.end() ? nullptr : *it;
  }
  std::unique_ptr<TqorFarPluginPanel> take(HANDLE AHandle) {
    std::lock_guard<std::mutex> guard(FLock);
    auto it = FPanels.find(static_cast<TqorFarPluginPanel*>(AHandle));
    if (it == FPanels.end()) return nullptr;
    std::unique_ptr<TqorFarPluginPanel> panel(*it);
    FPanels.erase(it);
    return panel;
  }
  // Archives the file manager never closed go before the plugins that own them.
  void close_all() noexcept {
    std::lock_guard<std::mutex> guard(FLock);
    for (TqorFarPluginPanel* panel : FPanels) delete panel;
    FPanels.clear();
  }

 private:
  std::mutex FLock;
  std::unordered_set<TqorFarPluginPanel*> FPanels;
};

live_panels* GPanels = nullptr;

TqorFarPluginPanel& panel_of(HANDLE AHandle) {
  TqorFarPluginPanel* panel = GPanels ? GPanels->find(AHandle) : nullptr;
  if (!panel) throw EqorError(L"Unknown archive handle");
  return *panel;
}

// Stores AText into an ANSI field of AFieldSize bytes: always NUL-terminated inside the field and
// never cut in the middle of a double-byte character.
void store_ansi_field(const wchar_t* AText, char* AField, size_t AFieldSize) {
  std::memset(AField, 0, AFieldSize);
  const size_t room = AFieldSize - 1;
  size_t used = 0;
  for (const wchar_t* p = AText; *p;) {
    const int units = (IS_HIGH_SURROGATE(p[0]) && IS_LOW_SURROGATE(p[1])) ? 2 : 1;
    char bytes[16];
    const int count =
        ::WideCharToMultiByte(CP_ACP, 0, p, units, bytes, sizeof(bytes), nullptr, nullptr);
    if (count <= 0 || used + static_cast<size_t>(count) > room) break;
    std::memcpy(AField + used, bytes, static_cast<size_t>(count));
    used += static_cast<size_t>(count);
    p += units;
  }
}

int dos_file_time(const FILETIME& AUtc) {
  if (AUtc.dwLowDateTime == 0 && AUtc.dwHighDateTime == 0) return 0;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!::FileTimeToLocalFileTime(&AUtc, &local) || !::FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return static_cast<int>((static_cast<DWORD>(date) << 16) | time);
}

int read_header_wide(HANDLE hArcData, tHeaderDataExW& AHeader) {
  std::memset(&AHeader, 0, sizeof(AHeader));
  std::wstring path;
  const TPluginPanelItem* item = panel_of(hArcData).GetNextFile(path);
  if (!item) return E_END_ARCHIVE;
  const size_t length = std::min<size_t>(path.size(), 1023);
  std::memcpy(AHeader.FileName, path.data(), length * sizeof(wchar_t));
  AHeader.FileName[length] = L'\0';
  AHeader.PackSize = static_cast<unsigned int>(item->AllocationSize);
  AHeader.PackSizeHigh = static_cast<unsigned int>(item->AllocationSize >> 32);
  AHeader.UnpSize = static_cast<unsigned int>(item->FileSize);
  AHeader.UnpSizeHigh = static_cast<unsigned int>(item->FileSize >> 32);
  AHeader.FileAttr = static_cast<int>(item->FileAttributes);
  AHeader.FileTime = dos_file_time(item->LastWriteTime);
  return 0;
}

void copy_numbers(const tHeaderDataExW& AFrom, tHeaderDataEx& ATo) {
  ATo.Flags = AFrom.Flags;
  ATo.PackSize = AFrom.PackSize;
  ATo.PackSizeHigh = AFrom.PackSizeHigh;
  ATo.UnpSize = AFrom.UnpSize;
  ATo.UnpSizeHigh = AFrom.UnpSizeHigh;
  ATo.HostOS = AFrom.HostOS;
  ATo.FileCRC = AFrom.FileCRC;
  ATo.FileTime = AFrom.FileTime;
  ATo.UnpVer = AFrom.UnpVer;
  ATo.Method = AFrom.Method;
  ATo.FileAttr = AFrom.FileAttr;
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
  auto panel = std::make_unique<TqorFarPluginPanel>(plugin, handle);
  GPanels->add(panel.get());
  AData.OpenResult = 0;
  return panel.release();
}

int process_file(HANDLE hArcData, int AOperation, const wchar_t* ADestPath, const wchar_t* ADestName) {
  if (AOperation == PK_SKIP) return 0;
  if (AOperation != PK_EXTRACT) return E_NOT_SUPPORTED;
  std::wstring target = ADestPath ? ADestPath : L"";
  target += ADestName ? ADestName : L"";
  // The plugin writes the entry under its own name: only the target's folder is handed over.
  const size_t cut = target.find_last_of(L"\\:");
  const std::wstring folder = cut == std::wstring::npos ? std::wstring() : target.substr(0, cut + 1);
  const intptr_t result = panel_of(hArcData).Extract(folder);
  if (result == -1) return E_EABORTED;
  if (result == 0) return E_BAD_DATA;
  return 0;
}

}  // namespace

extern "C" {

int WINAPI GetPackerCaps() { return PK_CAPS_BY_CONTENT | PK_CAPS_SEARCHTEXT | PK_CAPS_HIDE; }

int WINAPI GetBackgroundFlags() { return BACKGROUND_UNPACK; }

void WINAPI PackSetDefaultParams(PackDefaultParamStruct* dps) {
  if (dps) std::memcpy(&GDefaultParams, dps, sizeof(GDefaultParams));
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
    return read_header_wide(hArcData, *HeaderData);
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ReadHeaderEx(HANDLE hArcData, tHeaderDataEx* HeaderData) {
  if (!HeaderData) return E_EREAD;
  try {
    std::memset(HeaderData, 0, sizeof(*HeaderData));
    auto wide = std::make_unique<tHeaderDataExW>();
    const int result = ReadHeaderExW(hArcData, wide.get());
    if (result != 0) return result;
    store_ansi_field(wide->ArcName, HeaderData->ArcName, sizeof(HeaderData->ArcName));
    store_ansi_field(wide->FileName, HeaderData->FileName, sizeof(HeaderData->FileName));
    copy_numbers(*wide, *HeaderData);
    return 0;
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI ReadHeader(HANDLE hArcData, tHeaderData* HeaderData) {
  if (!HeaderData) return E_EREAD;
  try {
    std::memset(HeaderData, 0, sizeof(*HeaderData));
    auto wide = std::make_unique<tHeaderDataExW>();
    const int result = ReadHeaderExW(hArcData, wide.get());
    if (result != 0) return result;
    store_ansi_field(wide->ArcName, HeaderData->ArcName, sizeof(HeaderData->ArcName));
    store_ansi_field(wide->FileName, HeaderData->FileName, sizeof(HeaderData->FileName));
    HeaderData->Flags = wide->Flags;
    HeaderData->PackSize = static_cast<int>(wide->PackSize);
    HeaderData->UnpSize = static_cast<int>(wide->UnpSize);
    HeaderData->HostOS = wide->HostOS;
    HeaderData->FileCRC = wide->FileCRC;
    HeaderData->FileTime = wide->FileTime;
    HeaderData->UnpVer = wide->UnpVer;
    HeaderData->Method = wide->Method;
    HeaderData->FileAttr = wide->FileAttr;
    return 0;
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
    const std::wstring path = AnsiToWide(DestPath);
    const std::wstring name = AnsiToWide(DestName);
    return ProcessFileW(hArcData, Operation, path.c_str(), name.c_str());
  } catch (...) {
    return E_EREAD;
  }
}

int WINAPI CloseArchive(HANDLE hArcData) {
  try {
    std::unique_ptr<TqorFarPluginPanel> panel = GPanels ? GPanels->take(hArcData) : nullptr;
    if (!panel) return E_ECLOSE;
    panel->Close();
    return 0;
  } catch (...) {
    return E_ECLOSE;
  }
}

// Volume changes and progress are not reported to the file manager.
void WINAPI SetChangeVolProc(HANDLE, tChangeVolProc) {}
void WINAPI SetChangeVolProcW(HANDLE, tChangeVolProcW) {}
void WINAPI SetProcessDataProc(HANDLE, tProcessDataProc) {}
void WINAPI SetProcessDataProcW(HANDLE, tProcessDataProcW) {}

}  // extern "C"

namespace {

// Start-up sections of the units, in the order the design gives; shut-down runs them backwards.
void module_startup() noexcept {
  ThemesStartup();
  FormStartup();
  qor::ShellBaseExtension::Startup();
  InitStartupInfo();
  PluginsStartup();
  GPanels = new live_panels;
}

void module_shutdown() noexcept {
  GPanels->close_all();
  delete GPanels;
  GPanels = nullptr;
  PluginsShutdown();
  qor::ShellBaseExtension::Shutdown();
  FormShutdown();
  ThemesShutdown();
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID AReserved) {
  switch (AReason) {
    case DLL_PROCESS_ATTACH:
      ::DisableThreadLibraryCalls(AInstance);
      module_startup();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit the plugin DLLs may already be detached: calling into them then is unsafe.
      if (AReserved == nullptr) module_shutdown();
      break;
    default:
      break;
  }
  return TRUE;
}
