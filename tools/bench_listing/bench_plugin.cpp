// Plugin for the listing benchmark: a generated archive model, no parsing, no logging, so that
// the measured time is the host's and the listing calls', not the test plugin's bookkeeping.
// Archive file: "WXBENCH <top folders> <sub-folders per top folder> <files per folder>".
// The root holds the top folders; each top folder its sub-folders and files; each sub-folder files.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace {

struct Panel {
  int tops = 0, subs = 0, files = 0;
  std::vector<int> path;  // indexes of the folders entered
};

struct Listing {
  std::vector<TPluginPanelItem> items;
  std::vector<std::wstring> names;
};

}  // namespace

extern "C" {

void WINAPI GetGlobalInfoW(TGlobalInfo* AInfo) {
  AInfo->Guid = GUID{0x5758F1A0, 0x9999, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  AInfo->Title = L"Bench";
}

HANDLE WINAPI AnalyseW(const TAnalyseInfo* AInfo) {
  if (!AInfo->Buffer || AInfo->BufferSize < 7 || std::memcmp(AInfo->Buffer, "WXBENCH", 7) != 0) return nullptr;
  return reinterpret_cast<HANDLE>(1);
}

HANDLE WINAPI OpenW(const TOpenInfo* AInfo) {
  const auto* open = reinterpret_cast<const TOpenAnalyseInfo*>(AInfo->Data);
  if (!open || !open->Info || !open->Info->Buffer) return nullptr;
  char head[64] = {};
  std::memcpy(head, open->Info->Buffer, std::min<size_t>(open->Info->BufferSize, 63));
  auto* panel = new Panel;
  if (std::sscanf(head, "WXBENCH %d %d %d", &panel->tops, &panel->subs, &panel->files) != 3) {
    delete panel;
    return nullptr;
  }
  return panel;
}

intptr_t WINAPI GetFindDataW(TGetFindDataInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  auto* listing = new Listing;
  const size_t depth = panel->path.size();
  const int folders = depth == 0 ? panel->tops : depth == 1 ? panel->subs : 0;
  const int files = depth == 0 ? 0 : panel->files;
  wchar_t name[32];
  for (int i = 0; i < folders; ++i) {
    std::swprintf(name, 32, depth == 0 ? L"dir%03d" : L"sub%03d", i);
    listing->names.emplace_back(name);
  }
  for (int i = 0; i < files; ++i) {
    std::swprintf(name, 32, L"file%05d.dat", i);
    listing->names.emplace_back(name);
  }
  listing->items.resize(listing->names.size());
  for (size_t i = 0; i < listing->items.size(); ++i) {
    TPluginPanelItem& item = listing->items[i];
    item.FileName = listing->names[i].c_str();
    const bool folder = (int)i < folders;
    item.FileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    item.FileSize = folder ? 0 : 1000 + i * 7;
    item.AllocationSize = item.FileSize / 2;
    item.LastWriteTime.dwHighDateTime = 0x01D80000;
    item.LastWriteTime.dwLowDateTime = (DWORD)i * 10000000u;
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
    if (panel->path.empty()) return 0;
    panel->path.pop_back();
    return 1;
  }
  if (panel->path.size() >= 2) return 0;
  panel->path.push_back(_wtoi(AInfo->Dir + 3));
  return 1;
}

intptr_t WINAPI GetFilesW(TGetFilesInfo*) { return 1; }

void WINAPI ClosePanelW(const TClosePanelInfo* AInfo) { delete static_cast<Panel*>(AInfo->hPanel); }

}  // extern "C"
