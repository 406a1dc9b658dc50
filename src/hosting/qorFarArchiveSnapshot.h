// What an archive lists in the folders a change touches, read through the plugin's panel before
// and after the change, and the comparison that decides whether the change kept everything it was
// not asked to touch. Reads listings through the panel cursor only.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace qor {

class TqorFarPanelCursor;

struct TqorListedItem {
  std::wstring Name;    // as the plugin lists it
  std::wstring Listed;  // as the file manager is shown it
  bool Folder = false;
  unsigned long long Size = 0;
  FILETIME Time{};
};

// One listed folder and those of its sub-folders that were listed too.
class TqorListedFolder {
 public:
  // The cursor's current folder as the plugin lists it now; raises when the plugin cannot list it.
  void Read(TqorFarPanelCursor& ACursor);
  bool Read() const noexcept { return FRead; }
  const std::vector<TqorListedItem>& Items() const noexcept { return FItems; }
  // The item called AName of that kind: the exact name as listed, else as shown, else the one name
  // that matches it without regard to case; nil when there is none, or more than one such.
  const TqorListedItem* Find(const std::wstring& AName, bool AFolder) const;
  // An item of that exact name and kind, a file with that size.
  bool Holds(const TqorListedItem& AItem) const;
  // How many items have that exact name and kind.
  size_t Count(const std::wstring& AName, bool AFolder) const;
  // The node of a listed sub-folder (by its listed name), made on first use.
  TqorListedFolder& Sub(const std::wstring& AName);
  // The node of a sub-folder, or nil when it was not listed.
  const TqorListedFolder* SubIfListed(const std::wstring& AName) const;
  // The item at APath below this folder ('\'-separated, each level found as Find does).
  const TqorListedItem* FindPath(const std::wstring& APath, bool AFolder) const;

 private:
  void index() const;

  bool FRead = false;
  std::vector<TqorListedItem> FItems;
  // Built on the first lookup: items by exact name, and by folded name (several share one);
  // the kind is the key's last character.
  mutable bool FIndexed = false;
  mutable std::unordered_multimap<std::wstring, const TqorListedItem*> FExact;
  mutable std::unordered_multimap<std::wstring, const TqorListedItem*> FShown;
  mutable std::unordered_multimap<std::wstring, const TqorListedItem*> FFolded;
  std::map<std::wstring, std::unique_ptr<TqorListedFolder>> FFolders;
};

// Whether the change was asked to touch the item at APath (listed names, '\'-separated).
using TqorTouched = std::function<bool(const std::wstring& APath, bool AFolder)>;

// True when every item ABefore lists that ATouched does not claim is still listed in AAfter by its
// exact name, as a file or folder as before, a file with its size; through every folder listed in
// both.
bool KeptUntouched(const TqorListedFolder& ABefore, const TqorListedFolder& AAfter, const TqorTouched& ATouched);

}  // namespace qor
