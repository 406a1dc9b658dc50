// Listings kept as a tree of the folders read, and compared item by item.
#include "hosting/qorFarArchiveSnapshot.h"

#include <iterator>

#include "common/qorErrors.h"
#include "common/qorText.h"
#include "hosting/qorFarPanelCursor.h"
#include "hosting/qorFarPluginPanel.h"

namespace qor {
namespace {

std::wstring key_of(const std::wstring& AName, bool AFolder) { return AName + (AFolder ? L'\\' : L'/'); }

// A folder listed before whose every item the change was asked to touch, through every level: in
// archives where folders are only the paths of their entries, it goes with its last entry.
bool emptied(const TqorListedFolder* AFolder, const std::wstring& APrefix, const TqorTouched& ATouched) {
  if (!AFolder || !AFolder->Read()) return false;
  for (const TqorListedItem& item : AFolder->Items()) {
    const std::wstring path = APrefix + item.Name;
    if (ATouched(path, item.Folder)) continue;
    if (!item.Folder || !emptied(AFolder->SubIfListed(item.Name), path + L"\\", ATouched)) return false;
  }
  return true;
}

bool kept_below(const TqorListedFolder& ABefore, const TqorListedFolder& AAfter, const std::wstring& APrefix,
                const TqorTouched& ATouched) {
  for (const TqorListedItem& item : ABefore.Items()) {
    const std::wstring path = APrefix + item.Name;
    if (ATouched(path, item.Folder)) continue;
    if (!AAfter.Holds(item)) {
      if (item.Folder && emptied(ABefore.SubIfListed(item.Name), path + L"\\", ATouched)) continue;
      return false;
    }
    if (!item.Folder) continue;
    const TqorListedFolder* before = ABefore.SubIfListed(item.Name);
    const TqorListedFolder* after = AAfter.SubIfListed(item.Name);
    // A folder listed before and not after was not read again: nothing below it can be judged.
    if (before && before->Read() && (!after || !after->Read())) return false;
    if (before && after && !kept_below(*before, *after, path + L"\\", ATouched)) return false;
  }
  return true;
}

}  // namespace

void TqorListedFolder::Read(TqorFarPanelCursor& ACursor) {
  const TqorFarPluginEnum& listing = ACursor.Listing();
  if (!listing.Listed()) RaiseOSError(ERROR_READ_FAULT);
  FItems.clear();
  FExact.clear();
  FShown.clear();
  FFolded.clear();
  FIndexed = false;
  FItems.reserve(listing.ItemCount());
  for (size_t i = 0; i < listing.ItemCount(); ++i) {
    const TPluginPanelItem& item = listing.Item(i);
    TqorListedItem listed;
    listed.Name = listing.NameAt(i);
    listed.Listed = listing.ListedNameAt(i);
    listed.Folder = (item.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    listed.Size = item.FileSize;
    listed.Time = item.LastWriteTime;
    FItems.push_back(std::move(listed));
  }
  FRead = true;
}

void TqorListedFolder::index() const {
  if (FIndexed) return;
  FExact.reserve(FItems.size());
  FFolded.reserve(FItems.size());
  for (const TqorListedItem& item : FItems) {
    FExact.emplace(key_of(item.Name, item.Folder), &item);
    if (item.Listed != item.Name) FShown.emplace(key_of(item.Listed, item.Folder), &item);
    FFolded.emplace(key_of(FoldedName(item.Name), item.Folder), &item);
  }
  FIndexed = true;
}

const TqorListedItem* TqorListedFolder::Find(const std::wstring& AName, bool AFolder) const {
  index();
  const auto exact = FExact.find(key_of(AName, AFolder));
  if (exact != FExact.end()) return exact->second;
  const auto shown = FShown.find(key_of(AName, AFolder));
  if (shown != FShown.end()) return shown->second;
  const auto loose = FFolded.equal_range(key_of(FoldedName(AName), AFolder));
  return loose.first != loose.second && std::next(loose.first) == loose.second ? loose.first->second : nullptr;
}

size_t TqorListedFolder::Count(const std::wstring& AName, bool AFolder) const {
  index();
  return FExact.count(key_of(AName, AFolder));
}

bool TqorListedFolder::Holds(const TqorListedItem& AItem) const {
  index();
  const auto same = FExact.equal_range(key_of(AItem.Name, AItem.Folder));
  for (auto it = same.first; it != same.second; ++it)
    if (AItem.Folder || it->second->Size == AItem.Size) return true;
  return false;
}

TqorListedFolder& TqorListedFolder::Sub(const std::wstring& AName) {
  std::unique_ptr<TqorListedFolder>& sub = FFolders[AName];
  if (!sub) sub = std::make_unique<TqorListedFolder>();
  return *sub;
}

const TqorListedFolder* TqorListedFolder::SubIfListed(const std::wstring& AName) const {
  const auto found = FFolders.find(AName);
  return found == FFolders.end() ? nullptr : found->second.get();
}

const TqorListedItem* TqorListedFolder::FindPath(const std::wstring& APath, bool AFolder) const {
  const size_t cut = APath.find(L'\\');
  if (cut == std::wstring::npos) return Find(APath, AFolder);
  const TqorListedItem* folder = Find(APath.substr(0, cut), true);
  const TqorListedFolder* sub = folder ? SubIfListed(folder->Name) : nullptr;
  return sub && sub->Read() ? sub->FindPath(APath.substr(cut + 1), AFolder) : nullptr;
}

bool KeptUntouched(const TqorListedFolder& ABefore, const TqorListedFolder& AAfter, const TqorTouched& ATouched) {
  return kept_below(ABefore, AAfter, std::wstring(), ATouched);
}

}  // namespace qor
