// Plugin for the extraction benchmark: an archive that behaves like a solid one. Every GetFilesW
// call does a fixed amount of work (opening the archive, reading its headers) and then "decompresses"
// from the start of the archive up to the furthest entry it was asked for, as a decompressor that
// restarts at the start of its block does; the entries asked for are written with their time.
//
// Archive file: "WXSOLID <folders> <files> <unit> <fixed> [<bytes>]". With folders 0 the root holds
// <files> files; otherwise the root holds <folders> folders of <files> files each. <unit> is the
// work per entry passed, <fixed> the work per call, both in rounds of a mixing loop; every file
// has <bytes> bytes (4096 by default, at most that). In archive order the
// files of folder k come after those of folders 0..k-1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace {

constexpr size_t kFileSize = 4096;
constexpr unsigned long long kTime = 133500000000000000ULL;  // 2024-01-21, as a FILETIME

struct Panel {
  int folders = 0, files = 0;
  size_t bytes = kFileSize;
  unsigned long long unit = 0, fixed = 0;
  int folder = -1;  // the folder the panel is in, -1 for the root
};

struct Listing {
  std::vector<TPluginPanelItem> items;
  std::vector<std::wstring> names;
};

volatile unsigned long long GSink = 0;
// Calls of GetFilesW and entries decompressed by them, for the benchmark to read.
unsigned long long GCalls = 0, GDecompressed = 0;

void work(unsigned long long ARounds) {
  unsigned long long x = 0x9E3779B97F4A7C15ull ^ ARounds;
  for (unsigned long long i = 0; i < ARounds; ++i) x = (x ^ (x >> 29)) * 0xBF58476D1CE4E5B9ull + i;
  GSink = GSink + x;
}

std::wstring file_name(int AIndex) {
  wchar_t name[32];
  std::swprintf(name, 32, L"file%05d.dat", AIndex);
  return name;
}

std::wstring folder_name(int AIndex) {
  wchar_t name[32];
  std::swprintf(name, 32, L"dir%03d", AIndex);
  return name;
}

// Position in archive order of file AFile of folder AFolder (-1: the root's files).
long long position(const Panel& APanel, int AFolder, int AFile) {
  return (AFolder < 0 ? 0LL : static_cast<long long>(AFolder) * APanel.files) + AFile;
}

bool write_file(const std::wstring& APath, long long APosition, size_t ASize) {
  HANDLE file = CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[kFileSize];
  for (size_t i = 0; i < kFileSize; ++i) bytes[i] = static_cast<char>((APosition * 31 + static_cast<long long>(i)) % 251);
  DWORD written = 0;
  bool ok = WriteFile(file, bytes, static_cast<DWORD>(ASize), &written, nullptr) && written == ASize;
  const FILETIME time{static_cast<DWORD>(kTime), static_cast<DWORD>(kTime >> 32)};
  ok = SetFileTime(file, nullptr, nullptr, &time) && ok;
  CloseHandle(file);
  return ok;
}

}  // namespace

extern "C" {

void WINAPI GetGlobalInfoW(TGlobalInfo* AInfo) {
  AInfo->Guid = GUID{0x5758F1A0, 0x9999, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
  AInfo->Title = L"Solid";
}

HANDLE WINAPI AnalyseW(const TAnalyseInfo* AInfo) {
  if (!AInfo->Buffer || AInfo->BufferSize < 7 || std::memcmp(AInfo->Buffer, "WXSOLID", 7) != 0) return nullptr;
  return reinterpret_cast<HANDLE>(1);
}

HANDLE WINAPI OpenW(const TOpenInfo* AInfo) {
  const auto* open = reinterpret_cast<const TOpenAnalyseInfo*>(AInfo->Data);
  if (!open || !open->Info || !open->Info->Buffer) return nullptr;
  char head[96] = {};
  std::memcpy(head, open->Info->Buffer, std::min<size_t>(open->Info->BufferSize, 95));
  auto* panel = new Panel;
  unsigned bytes = kFileSize;
  const int fields = std::sscanf(head, "WXSOLID %d %d %llu %llu %u", &panel->folders, &panel->files, &panel->unit,
                                 &panel->fixed, &bytes);
  if (fields < 4) {
    delete panel;
    return nullptr;
  }
  panel->bytes = std::min<size_t>(bytes, kFileSize);
  return panel;
}

intptr_t WINAPI GetFindDataW(TGetFindDataInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  auto* listing = new Listing;
  const bool root_of_folders = panel->folder < 0 && panel->folders > 0;
  const int count = root_of_folders ? panel->folders : panel->files;
  for (int i = 0; i < count; ++i) listing->names.push_back(root_of_folders ? folder_name(i) : file_name(i));
  listing->items.resize(listing->names.size());
  for (size_t i = 0; i < listing->items.size(); ++i) {
    TPluginPanelItem& item = listing->items[i];
    item.FileName = listing->names[i].c_str();
    item.FileAttributes = root_of_folders ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    item.FileSize = root_of_folders ? 0 : panel->bytes;
    item.LastWriteTime = FILETIME{static_cast<DWORD>(kTime), static_cast<DWORD>(kTime >> 32)};
    item.UserData.Data = reinterpret_cast<void*>(static_cast<intptr_t>(i));
    item.Reserved[0] = reinterpret_cast<intptr_t>(listing);
  }
  AInfo->ItemsNumber = listing->items.size();
  AInfo->PanelItem = listing->items.empty() ? nullptr : listing->items.data();
  if (listing->items.empty()) delete listing;
  return 1;
}

void WINAPI FreeFindDataW(const TFreeFindDataInfo* AInfo) {
  if (AInfo->PanelItem && AInfo->ItemsNumber) delete reinterpret_cast<Listing*>(AInfo->PanelItem[0].Reserved[0]);
}

intptr_t WINAPI SetDirectoryW(const TSetDirectoryInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  if (!AInfo->Dir) return 0;
  if (std::wcscmp(AInfo->Dir, L"..") == 0) {
    if (panel->folder < 0) return 0;
    panel->folder = -1;
    return 1;
  }
  if (panel->folder >= 0 || panel->folders == 0) return 0;
  panel->folder = _wtoi(AInfo->Dir + 3);
  return 1;
}

intptr_t WINAPI GetFilesW(TGetFilesInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  if (!AInfo->PanelItem || !AInfo->DestPath) return 0;
  const std::wstring dest = AInfo->DestPath;
  // The furthest entry asked for: a folder reaches to its last file.
  long long furthest = -1;
  for (size_t i = 0; i < AInfo->ItemsNumber; ++i) {
    const int index = static_cast<int>(reinterpret_cast<intptr_t>(AInfo->PanelItem[i].UserData.Data));
    const bool folder = (AInfo->PanelItem[i].FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    furthest = std::max(furthest, folder ? position(*panel, index, panel->files - 1) : position(*panel, panel->folder, index));
  }
  work(panel->fixed + static_cast<unsigned long long>(furthest + 1) * panel->unit);
  ++GCalls;
  GDecompressed += static_cast<unsigned long long>(furthest + 1);
  bool ok = true;
  for (size_t i = 0; i < AInfo->ItemsNumber; ++i) {
    const TPluginPanelItem& item = AInfo->PanelItem[i];
    const int index = static_cast<int>(reinterpret_cast<intptr_t>(item.UserData.Data));
    if (item.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::wstring folder = dest + item.FileName + L"\\";
      CreateDirectoryW(folder.c_str(), nullptr);
      for (int f = 0; f < panel->files; ++f) ok = write_file(folder + file_name(f), position(*panel, index, f), panel->bytes) && ok;
    } else {
      ok = write_file(dest + item.FileName, position(*panel, panel->folder, index), panel->bytes) && ok;
    }
  }
  return ok ? 1 : 0;
}

void WINAPI ClosePanelW(const TClosePanelInfo* AInfo) { delete static_cast<Panel*>(AInfo->hPanel); }

// 0: GetFilesW calls so far; 1: entries they decompressed.
unsigned long long WINAPI SolidCounter(int AWhich) { return AWhich == 0 ? GCalls : GDecompressed; }

}  // extern "C"
