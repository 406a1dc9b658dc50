// Silent moves through a plugin's folders.
#include "hosting/qorFarPanelCursor.h"

#include "common/qorText.h"
#include "hosting/qorFarPlugin.h"

namespace qor {

TqorFarPanelCursor::~TqorFarPanelCursor() {
  while (FDepth > 0) {
    try {
      Leave();
    } catch (...) {
    }
  }
  try {
    Forget();
  } catch (...) {
  }
}

void TqorFarPanelCursor::Leave() {
  if (FDepth == 0) return;
  --FDepth;
  try {
    Forget();
  } catch (...) {
    // A listing the plugin could not free does not keep the panel in the folder.
  }
  TSetDirectoryInfo info{};
  info.StructSize = SetDirectoryInfoAnnouncedSize;
  info.hPanel = FPanel.Handle();
  info.Dir = L"..";
  info.OpMode = OPM_SILENT;
  FPanel.Plugin()->SetDirectory(info);
}

const TqorFarPluginEnum& TqorFarPanelCursor::Listing() {
  if (!FListing) {
    FListing = std::make_unique<TqorFarPluginEnum>(nullptr, &FPanel, std::wstring());
    FListing->Open(nullptr);
  }
  return *FListing;
}

intptr_t TqorFarPanelCursor::Find(const std::wstring& AName) {
  const TqorFarPluginEnum& listing = Listing();
  for (size_t i = 0; i < listing.ItemCount(); ++i)
    if (listing.NameAt(i) == AName) return static_cast<intptr_t>(i);
  const std::wstring folded = FoldedName(AName);
  for (size_t i = 0; i < listing.ItemCount(); ++i)
    if (listing.NameAt(i).size() == AName.size() && FoldedName(listing.NameAt(i)) == folded)
      return static_cast<intptr_t>(i);
  return -1;
}

bool TqorFarPanelCursor::Enter(const std::wstring& AName) {
  const intptr_t index = Find(AName);
  if (index < 0 || !(Listing().Item(static_cast<size_t>(index)).FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  // The plugin reads the item's own data while its listing still stands, as under FAR.
  const std::wstring name(Listing().NameAt(static_cast<size_t>(index)));
  TSetDirectoryInfo info{};
  info.StructSize = SetDirectoryInfoAnnouncedSize;
  info.hPanel = FPanel.Handle();
  info.Dir = name.c_str();
  info.OpMode = OPM_SILENT;
  info.UserData = Listing().Item(static_cast<size_t>(index)).UserData;
  const bool entered = FPanel.Plugin()->SetDirectory(info) != 0;
  if (entered) ++FDepth;
  Forget();
  return entered;
}

intptr_t TqorFarPanelCursor::Make(const std::wstring& AName) {
  Forget();
  std::wstring name = AName;
  TMakeDirectoryInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FPanel.Handle();
  info.Name = name.c_str();
  info.OpMode = OPM_SILENT;
  return FPanel.Plugin()->MakeDirectory(info);
}

void TqorFarPanelCursor::Forget() {
  if (!FListing) return;
  std::unique_ptr<TqorFarPluginEnum> listing = std::move(FListing);
  listing->Close();
}

}  // namespace qor
