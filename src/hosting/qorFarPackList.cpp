// Reading and stating a packing call's sources.
#include "hosting/qorFarPackList.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "api/qorWcxApi.h"
#include "common/qorHandles.h"
#include "common/qorText.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarStaging.h"
#include "services/qorFarCurrentFolder.h"

namespace qor {
namespace {

bool is_absolute(const std::wstring& APath) noexcept {
  if (APath.size() >= 3 && APath[1] == L':' && (APath[2] == L'\\' || APath[2] == L'/')) return true;
  return APath.size() >= 3 && APath[0] == L'\\' && APath[1] == L'\\';
}

std::wstring name_only(const std::wstring& AName) { return AName.substr(AName.find_last_of(L'\\') + 1); }

// From this many names in one folder on, reading the folder costs less than asking for each.
constexpr size_t kListedFolderNames = 8;

std::wstring parent_of(const std::wstring& AName) {
  const size_t cut = AName.find_last_of(L'\\');
  return cut == std::wstring::npos ? std::wstring() : AName.substr(0, cut);
}

}  // namespace

int TqorPackList::Read(const wchar_t* ASrcPath, const wchar_t* AAddList, bool ASavePaths) {
  const std::wstring source = ASrcPath ? ASrcPath : L"";
  if (!is_absolute(source)) return wcx::E_NOT_SUPPORTED;
  FFolder = FarFolderForm(source);
  if (const int error = read_names(AAddList, ASavePaths)) return error;
  return state_sources();
}

int TqorPackList::read_names(const wchar_t* AAddList, bool ASavePaths) {
  std::unordered_set<std::wstring> seen;
  for (const wchar_t* p = AAddList; p && *p; p += wcslen(p) + 1) {
    TqorPackSource source;
    source.Name = p;
    std::replace(source.Name.begin(), source.Name.end(), L'/', L'\\');
    while (!source.Name.empty() && source.Name.back() == L'\\') {
      source.Name.pop_back();
      source.Folder = true;
    }
    if (!EntryPathContained(source.Name)) return wcx::E_NOT_SUPPORTED;
    if (seen.insert(FoldedName(source.Name)).second) FSources.push_back(std::move(source));
  }
  if (FSources.empty()) return wcx::E_NO_FILES;
  // Every nested source must lie in a listed folder: the plugin takes the top level and recurses.
  for (size_t i = 0; i < FSources.size(); ++i) {
    const std::wstring parent = parent_of(FSources[i].Name);
    if (parent.empty()) {
      FTopLevel.push_back(i);
    } else if (!ASavePaths || !seen.count(FoldedName(parent))) {
      return wcx::E_NOT_SUPPORTED;
    }
  }
  return 0;
}

int TqorPackList::state_sources() {
  // Names by folder: a folder with many listed names is read once, as the file manager read it.
  std::unordered_map<std::wstring, std::vector<size_t>> by_folder;
  for (size_t i = 0; i < FSources.size(); ++i) by_folder[parent_of(FSources[i].Name)].push_back(i);
  std::vector<bool> stated(FSources.size(), false);
  for (const auto& folder : by_folder)
    if (folder.second.size() >= kListedFolderNames) state_from_listing(folder.first, folder.second, stated);
  for (size_t i = 0; i < FSources.size(); ++i) {
    TqorPackSource& source = FSources[i];
    if (!stated[i] && !::GetFileAttributesExW(ExtendedPath(PathOf(source)).c_str(), GetFileExInfoStandard, &source.Data))
      return wcx::E_EREAD;
    source.Folder = (source.Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!source.Folder) FTotalBytes += source.Size();
  }
  return 0;
}

void TqorPackList::state_from_listing(const std::wstring& AFolder, const std::vector<size_t>& ASources,
                                      std::vector<bool>& AStated) {
  std::unordered_map<std::wstring, size_t> wanted;
  for (size_t index : ASources) wanted.emplace(FoldedName(name_only(FSources[index].Name)), index);
  TqorPackSource folder;
  folder.Name = AFolder;
  std::wstring pattern = AFolder.empty() ? FFolder : PathOf(folder);
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data;
  unique_find find(::FindFirstFileExW(ExtendedPath(pattern).c_str(),
                                      FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    const auto found = wanted.find(FoldedName(data.cFileName));
    if (found == wanted.end()) continue;
    WIN32_FILE_ATTRIBUTE_DATA& stat = FSources[found->second].Data;
    stat.dwFileAttributes = data.dwFileAttributes;
    stat.ftCreationTime = data.ftCreationTime;
    stat.ftLastAccessTime = data.ftLastAccessTime;
    stat.ftLastWriteTime = data.ftLastWriteTime;
    stat.nFileSizeHigh = data.nFileSizeHigh;
    stat.nFileSizeLow = data.nFileSizeLow;
    AStated[found->second] = true;
  } while (::FindNextFileW(find.get(), &data));
}

std::wstring TqorPackList::PathOf(const TqorPackSource& ASource) const {
  std::wstring path = FFolder;
  if (path.back() != L'\\') path += L'\\';
  return path + ASource.Name;
}

std::vector<TPluginPanelItem> TqorPackList::PanelItems() const {
  std::vector<TPluginPanelItem> items;
  items.reserve(FTopLevel.size());
  for (size_t index : FTopLevel) {
    const TqorPackSource& source = FSources[index];
    TPluginPanelItem item{};
    item.FileName = source.Name.c_str();
    item.FileAttributes = source.Data.dwFileAttributes;
    item.CreationTime = source.Data.ftCreationTime;
    item.LastAccessTime = source.Data.ftLastAccessTime;
    item.LastWriteTime = source.Data.ftLastWriteTime;
    item.ChangeTime = source.Data.ftLastWriteTime;
    item.FileSize = source.Folder ? 0 : source.Size();
    item.Flags = PPIF_SELECTED;
    items.push_back(item);
  }
  return items;
}

bool TqorPackList::Covers(const std::wstring& APath) const {
  const std::wstring path = FoldedName(FarFullPath(APath));
  for (size_t index : FTopLevel) {
    const TqorPackSource& source = FSources[index];
    const std::wstring listed = FoldedName(PathOf(source));
    if (path == listed) return true;
    if (source.Folder && path.size() > listed.size() && path.compare(0, listed.size(), listed) == 0 &&
        path[listed.size()] == L'\\')
      return true;
  }
  return false;
}

}  // namespace qor
