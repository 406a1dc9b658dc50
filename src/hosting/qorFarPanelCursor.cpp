// Silent moves through a plugin's folders, and the changes made in them in FAR's order.
#include "hosting/qorFarPanelCursor.h"

#include "api/qorWcxApi.h"
#include "common/qorText.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPlugins.h"

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
  FShown = false;
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

void TqorFarPanelCursor::LeaveAll() {
  while (FDepth > 0) Leave();
}

const TqorFarPluginEnum& TqorFarPanelCursor::Listing() {
  if (!FListing) {
    FListing = std::make_unique<TqorFarPluginEnum>(nullptr, &FPanel, std::wstring());
    FListing->Open(nullptr);
    FShown = true;
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
  FShown = false;
  Forget();
  return entered;
}

void TqorFarPanelCursor::Forget() {
  if (!FListing) return;
  std::unique_ptr<TqorFarPluginEnum> listing = std::move(FListing);
  listing->Close();
}

void TqorFarPanelCursor::show() {
  if (!FShown) Listing();
}

intptr_t TqorFarPanelCursor::Put(TPutFilesInfo& AInfo) {
  show();
  Forget();
  FShown = false;
  AInfo.hPanel = FPanel.Handle();
  return FPanel.Plugin()->PutFiles(AInfo);
}

intptr_t TqorFarPanelCursor::Delete(const std::vector<size_t>& AIndices) {
  const TqorFarPluginEnum& listing = Listing();
  std::vector<std::wstring> names;
  std::vector<TPluginPanelItem> items;
  names.reserve(AIndices.size());
  items.reserve(AIndices.size());
  for (size_t index : AIndices) {
    names.emplace_back(listing.NameAt(index));
    items.push_back(listing.Item(index));
  }
  // Only what outlives the listing: its strings go with it.
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].FileName = names[i].c_str();
    items[i].AlternateFileName = items[i].Description = items[i].Owner = nullptr;
    items[i].CustomColumnData = nullptr;
    items[i].CustomColumnNumber = 0;
  }
  Forget();
  FShown = false;
  TDeleteFilesInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FPanel.Handle();
  info.PanelItem = items.data();
  info.ItemsNumber = items.size();
  info.OpMode = OPM_SILENT;
  return FPanel.Plugin()->DeleteFiles(info);
}

intptr_t TqorFarPanelCursor::Make(const std::wstring& AName) {
  show();
  Forget();
  FShown = false;
  std::wstring name = AName;
  TMakeDirectoryInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FPanel.Handle();
  info.Name = name.c_str();
  info.OpMode = OPM_SILENT;
  return FPanel.Plugin()->MakeDirectory(info);
}

int ChangeThroughPanel(const std::wstring& AArchive, bool (TqorFarPlugin::*ACan)() const noexcept,
                       const std::function<int(TqorFarPanelCursor&)>& ABody) {
  HANDLE handle = nullptr;
  TqorFarPlugin* plugin = PluginRegistry().FindPluginAndOpen(AArchive, handle);
  if (!plugin) return wcx::E_UNKNOWN_FORMAT;
  if (!handle || handle == reinterpret_cast<HANDLE>(PANEL_STOP)) return wcx::E_EOPEN;
  TqorFarPluginPanel panel(plugin, handle);
  if (!(plugin->*ACan)()) return wcx::E_NOT_SUPPORTED;
  int result = 0;
  {
    TqorFarPanelCursor cursor(panel);
    result = ABody(cursor);
  }
  try {
    panel.Close();
  } catch (...) {
    if (result == 0) result = wcx::E_EWRITE;
  }
  return result;
}

}  // namespace qor
