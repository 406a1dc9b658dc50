// Tar: a FAR Manager 3 archive plugin for POSIX tar files. Folders are synthesized from the paths;
// GetFilesW copies entries out; PutFilesW, MakeDirectoryW and DeleteFilesW rewrite the archive
// through a temporary file, and PutFilesW on the panel of FAR's creation probe makes a new one.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "TarArchive.h"
#include "TarMessages.h"
#include "TarUpdate.h"

namespace {

using namespace tar;

// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E31}
constexpr GUID kPluginGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x31}};
// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E32}
constexpr GUID kMenuGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x32}};
// The plugin's boxes: {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E33} and on.
constexpr GUID kErrorGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x33}};
constexpr GUID kDeleteGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x34}};
constexpr GUID kCreateGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x35}};
constexpr GUID kMakeFolderGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x36}};

PluginStartupInfo GInfo{};
FarStandardFunctions GFsf{};
bool GHaveInfo = false;

// --- the host's services -----------------------------------------------------------------------

const wchar_t* msg(intptr_t AId) {
  const wchar_t* text = GHaveInfo && GInfo.GetMsg ? GInfo.GetMsg(&kPluginGuid, AId) : nullptr;
  return text ? text : L"";
}

void report_progress(int APercent) {
  if (!GHaveInfo || !GInfo.AdvControl) return;
  TProgressValue value{sizeof(TProgressValue), (std::uint64_t)APercent, 100};
  GInfo.AdvControl(&kPluginGuid, ACTL_SETPROGRESSVALUE, 0, &value);
}

void show_failure(const Failure& AFailure) {
  if (!GHaveInfo || !GInfo.Message) return;
  const wchar_t* items[] = {msg(MErrorTitle), msg(AFailure.message), AFailure.subject.c_str()};
  const TFarFlags flags = FMSG_WARNING | FMSG_MB_OK | (AFailure.code ? FMSG_ERRORTYPE : 0);
  SetLastError(AFailure.code);  // what FMSG_ERRORTYPE explains
  GInfo.Message(&kPluginGuid, &kErrorGuid, flags, nullptr, items, AFailure.subject.empty() ? 2 : 3, 0);
}

// The text the user typed; Cancelled for Esc or an empty answer.
std::wstring ask(const GUID& AId, intptr_t ATitle, intptr_t APrompt, const std::wstring& AInitial) {
  if (!GHaveInfo || !GInfo.InputBox) throw Failure{MErrBadName, AInitial};  // no one to ask
  std::vector<wchar_t> answer(32768);
  if (!GInfo.InputBox(&kPluginGuid, &AId, msg(ATitle), msg(APrompt), nullptr, AInitial.c_str(), answer.data(),
                      answer.size(), nullptr, FIB_BUTTONS | FIB_NOUSELASTHISTORY) ||
      !answer[0])
    throw Cancelled{};
  return answer.data();
}

bool confirm_delete() {
  if (!GHaveInfo || !GInfo.Message) return false;
  const wchar_t* items[] = {msg(MDeleteTitle), msg(MDeleteQuestion), msg(MDeleteButton), msg(MCancelButton)};
  return GInfo.Message(&kPluginGuid, &kDeleteGuid, 0, nullptr, items, 4, 2) == 0;
}

// A name typed for a new archive, resolved against FAR's current folder as FAR resolves it.
std::wstring full_name(const std::wstring& AName) {
  std::vector<wchar_t> full(32768);
  if (GFsf.ConvertPath) {
    full.resize(std::max<size_t>(GFsf.ConvertPath(CPM_FULL, AName.c_str(), nullptr, 0), 1));
    GFsf.ConvertPath(CPM_FULL, AName.c_str(), full.data(), full.size());
  } else if (GetFullPathNameW(AName.c_str(), (DWORD)full.size(), full.data(), nullptr) >= full.size()) {
    full[0] = 0;
  }
  if (!full[0]) throw Failure{MErrBadName, AName};
  return full.data();
}

// One boundary for every call that may fail: failures are told unless the call is silent, and no
// exception leaves.
template <typename Body>
intptr_t guarded(TFarFlags AOpMode, intptr_t AFailed, intptr_t ACancelled, Body ABody) {
  const bool silent = (AOpMode & OPM_SILENT) != 0;
  try {
    return ABody();
  } catch (const Failure& failure) {
    if (!silent) show_failure(failure);
  } catch (const Cancelled&) {
    return ACancelled;
  } catch (const std::bad_alloc&) {
    if (!silent) show_failure(Failure{MErrMemory, L""});
  } catch (...) {
  }
  return AFailed;
}

// --- panels ------------------------------------------------------------------------------------

// A panel's archive; one without a file is the creation probe's, which PutFilesW fills.
struct Panel {
  Archive archive;
  int current = 0;
  std::wstring made;  // the folder MakeDirectoryW made last, for FAR to read back
};

// The archive as its file holds it after a change, standing in the same folder where it still is.
void reload(Panel& APanel) {
  const std::string folder = APanel.archive.raw_path(APanel.current);
  Archive fresh;
  fresh.file = APanel.archive.file;
  ArchiveFile file(fresh.file);
  if (file.ok()) load_archive(file, fresh);
  APanel.archive = std::move(fresh);
  const auto at = APanel.archive.locate(folder);
  APanel.current = at.first > 0 && APanel.archive.nodes[(size_t)at.first].dir ? at.first : 0;
}

// Our own items carry their node; a foreign item is looked up by name in the current folder.
int item_node(const Panel& APanel, const TPluginPanelItem& AItem) {
  const int index = (int)reinterpret_cast<intptr_t>(AItem.UserData.Data) - 1;
  if (index > 0 && (size_t)index < APanel.archive.nodes.size() &&
      APanel.archive.nodes[(size_t)index].parent == APanel.current)
    return index;
  return AItem.FileName ? APanel.archive.child(APanel.current, AItem.FileName) : -1;
}

void fill_item(const Node& ANode, int AIndex, TPluginPanelItem& AItem) {
  AItem = TPluginPanelItem{};
  AItem.FileName = ANode.name.c_str();
  AItem.FileSize = ANode.size;
  AItem.AllocationSize = ANode.size;
  AItem.LastWriteTime.dwLowDateTime = (DWORD)ANode.mtime;
  AItem.LastWriteTime.dwHighDateTime = (DWORD)(ANode.mtime >> 32);
  AItem.FileAttributes = ANode.dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  AItem.UserData.Data = reinterpret_cast<void*>((intptr_t)AIndex + 1);
}

bool set_time(HANDLE AFile, std::uint64_t AMtime) {
  if (!AMtime) return true;
  FILETIME t{(DWORD)AMtime, (DWORD)(AMtime >> 32)};
  return SetFileTime(AFile, nullptr, nullptr, &t) != 0;
}

bool extract_node(ArchiveFile& AFile, const Archive& AArchive, int AIndex, const std::wstring& AFolder) {
  const Node& node = AArchive.nodes[(size_t)AIndex];
  const std::wstring target = AFolder + node.name;
  if (node.dir) {
    if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    bool ok = true;
    for (int child : node.children) ok = extract_node(AFile, AArchive, child, target + L"\\") && ok;
    return ok;
  }
  const UniqueHandle out = own_file(
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (std::uint64_t done = 0; ok && done < node.size;) {
    const size_t chunk = (size_t)std::min<std::uint64_t>(buffer.size(), node.size - done);
    DWORD written = 0;
    ok = AFile.read(node.offset + done, buffer.data(), chunk) &&
         WriteFile(out.get(), buffer.data(), (DWORD)chunk, &written, nullptr) && written == chunk;
    done += chunk;
  }
  ok = set_time(out.get(), node.mtime) && ok;
  if (!ok) DeleteFileW(target.c_str());
  return ok;
}

// --- changes -----------------------------------------------------------------------------------

intptr_t put_files(Panel& APanel, const TPutFilesInfo& AInfo) {
  Sources sources{AInfo.SrcPath ? AInfo.SrcPath : L"", {}};
  for (size_t i = 0; i < AInfo.ItemsNumber; ++i)
    sources.names.emplace_back(AInfo.PanelItem[i].FileName ? AInfo.PanelItem[i].FileName : L"");
  if (sources.names.empty()) return 0;
  std::vector<NewEntry> packed;
  if (APanel.archive.file.empty()) {
    const std::wstring name = full_name(ask(kCreateGuid, MCreateTitle, MCreatePrompt, sources.names[0] + L".tar"));
    packed = create_archive(name, sources, &report_progress);
    APanel.archive.file = name;
  } else {
    packed = add_files(APanel.archive.file, APanel.archive.raw_path(APanel.current), sources, &report_progress);
  }
  reload(APanel);
  if (AInfo.Move) {
    // The archive holds the files now: a source that stays is told, the copy stands.
    const std::wstring kept = delete_sources(packed);
    if (!kept.empty() && !(AInfo.OpMode & OPM_SILENT)) show_failure(Failure{MErrDeleteSource, kept});
  }
  return 2;
}

intptr_t delete_files(Panel& APanel, const TDeleteFilesInfo& AInfo) {
  if (APanel.archive.file.empty() || AInfo.ItemsNumber == 0) return FALSE;
  std::vector<std::string> paths;
  for (size_t i = 0; i < AInfo.ItemsNumber; ++i) {
    const TPluginPanelItem& item = AInfo.PanelItem[i];
    const int node = item_node(APanel, item);
    if (node <= 0) throw Failure{MErrNotFound, item.FileName ? item.FileName : L""};
    paths.push_back(APanel.archive.raw_path(node));
  }
  if (!(AInfo.OpMode & OPM_SILENT) && !confirm_delete()) return FALSE;
  delete_entries(APanel.archive.file, paths, &report_progress);
  reload(APanel);
  return TRUE;
}

intptr_t make_directory(Panel& APanel, TMakeDirectoryInfo& AInfo) {
  if (APanel.archive.file.empty()) return 0;
  std::wstring name = AInfo.Name ? AInfo.Name : L"";
  if (!(AInfo.OpMode & OPM_SILENT)) name = ask(kMakeFolderGuid, MMakeFolderTitle, MMakeFolderPrompt, name);
  std::string raw;
  if (!valid_name(name) || !to_utf8(name, raw)) throw Failure{MErrBadName, name};
  const std::string folder = APanel.archive.raw_path(APanel.current);
  make_folder(APanel.archive.file, folder.empty() ? raw : folder + "/" + raw, &report_progress);
  reload(APanel);
  APanel.made = name;
  AInfo.Name = APanel.made.c_str();
  return 1;
}

}  // namespace

extern "C" {

void WINAPI GetGlobalInfoW(TGlobalInfo* AInfo) {
  AInfo->MinFarVersion = TVersionInfo{3, 0, 0, 0, 0};
  AInfo->Version = TVersionInfo{1, 1, 0, 1, 0};
  AInfo->Guid = kPluginGuid;
  AInfo->Title = L"Tar";
  AInfo->Description = L"POSIX tar archives";
  AInfo->Author = L"Wexlor samples";
}

void WINAPI SetStartupInfoW(const PluginStartupInfo* AInfo) {
  // Older hosts may hand over shorter tables: copy what they announce. Both live only for this call.
  std::memcpy(&GInfo, AInfo, std::min<size_t>(sizeof(GInfo), AInfo->StructSize));
  if (AInfo->StructSize > offsetof(PluginStartupInfo, FSF) && AInfo->FSF)
    std::memcpy(&GFsf, AInfo->FSF, std::min<size_t>(sizeof(GFsf), AInfo->FSF->StructSize));
  GInfo.FSF = &GFsf;
  GHaveInfo = true;
}

void WINAPI GetPluginInfoW(TPluginInfo* AInfo) {
  static const wchar_t* strings[1];
  strings[0] = GHaveInfo && GInfo.GetMsg ? GInfo.GetMsg(&kPluginGuid, MTitle) : L"Tar";
  AInfo->PluginConfig.Guids = &kMenuGuid;
  AInfo->PluginConfig.Strings = strings;
  AInfo->PluginConfig.Count = 0;  // nothing to configure
}

// A null FileName is FAR's probe for a plugin that creates archives.
HANDLE WINAPI AnalyseW(const TAnalyseInfo* AInfo) {
  if (!AInfo) return nullptr;
  if (!AInfo->FileName) return reinterpret_cast<HANDLE>(1);
  if (!looks_like_tar(static_cast<const unsigned char*>(AInfo->Buffer), AInfo->BufferSize)) return nullptr;
  return reinterpret_cast<HANDLE>(1);
}

void WINAPI CloseAnalyseW(const TCloseAnalyseInfo*) {}

HANDLE WINAPI OpenW(const TOpenInfo* AInfo) {
  if (!AInfo || AInfo->OpenFrom != OPEN_ANALYSE || !AInfo->Data) return nullptr;
  const auto* open = reinterpret_cast<const TOpenAnalyseInfo*>(AInfo->Data);
  if (!open->Info) return nullptr;
  try {
    auto panel = std::make_unique<Panel>();
    if (open->Info->FileName) {
      panel->archive.file = open->Info->FileName;
      ArchiveFile file(panel->archive.file);
      if (!file.ok()) return nullptr;
      load_archive(file, panel->archive);
    }
    return panel.release();
  } catch (...) {
    return nullptr;
  }
}

void WINAPI ClosePanelW(const TClosePanelInfo* AInfo) { delete static_cast<Panel*>(AInfo->hPanel); }

intptr_t WINAPI GetFindDataW(TGetFindDataInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  try {
    const Node& dir = panel->archive.nodes[(size_t)panel->current];
    AInfo->ItemsNumber = dir.children.size();
    AInfo->PanelItem = nullptr;
    if (dir.children.empty()) return 1;
    auto* items = new TPluginPanelItem[dir.children.size()];
    for (size_t i = 0; i < dir.children.size(); ++i)
      fill_item(panel->archive.nodes[(size_t)dir.children[i]], dir.children[i], items[i]);
    AInfo->PanelItem = items;
    return 1;
  } catch (...) {
    AInfo->ItemsNumber = 0;
    return 0;
  }
}

void WINAPI FreeFindDataW(const TFreeFindDataInfo* AInfo) { delete[] AInfo->PanelItem; }

intptr_t WINAPI SetDirectoryW(const TSetDirectoryInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  const std::wstring dir = AInfo->Dir ? AInfo->Dir : L"";
  if (dir == L"\\" || dir.empty()) {
    panel->current = 0;
    return 1;
  }
  int at = dir[0] == L'\\' ? 0 : panel->current;
  size_t start = dir[0] == L'\\' ? 1 : 0;
  while (start < dir.size()) {
    size_t end = dir.find(L'\\', start);
    if (end == std::wstring::npos) end = dir.size();
    const std::wstring part = dir.substr(start, end - start);
    if (part == L"..") {
      if (at == 0) return 0;
      at = panel->archive.nodes[(size_t)at].parent;
    } else if (!part.empty() && part != L".") {
      const int next = panel->archive.child(at, part);
      if (next < 0 || !panel->archive.nodes[(size_t)next].dir) return 0;
      at = next;
    }
    start = end + 1;
  }
  panel->current = at;
  return 1;
}

intptr_t WINAPI GetFilesW(TGetFilesInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  if (!AInfo->PanelItem || !AInfo->DestPath) return 0;
  try {
    std::wstring folder = AInfo->DestPath;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    ArchiveFile file(panel->archive.file);
    if (!file.ok()) return 0;
    bool ok = true;
    for (size_t i = 0; i < AInfo->ItemsNumber; ++i) {
      const int index = item_node(*panel, AInfo->PanelItem[i]);
      ok = index > 0 && extract_node(file, panel->archive, index, folder) && ok;
    }
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

intptr_t WINAPI PutFilesW(const TPutFilesInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel || (AInfo->ItemsNumber && !AInfo->PanelItem)) return 0;
  return guarded(AInfo->OpMode, 0, -1, [&] { return put_files(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

intptr_t WINAPI DeleteFilesW(const TDeleteFilesInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel || (AInfo->ItemsNumber && !AInfo->PanelItem)) return FALSE;
  return guarded(AInfo->OpMode, FALSE, FALSE,
                 [&] { return delete_files(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

intptr_t WINAPI MakeDirectoryW(TMakeDirectoryInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel) return 0;
  return guarded(AInfo->OpMode, 0, -1, [&] { return make_directory(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

void WINAPI ExitFARW(const TExitInfo*) {}

}  // extern "C"
