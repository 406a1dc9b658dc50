// The panel's walk: each folder level is entered, listed and left again through the plugin module.
#include "hosting/qorFarPluginPanel.h"

#include <cwchar>
#include <exception>
#include <utility>

#include "common/qorErrors.h"
#include "hosting/qorFarEntryNames.h"
#include "hosting/qorFarPlugin.h"

namespace qor {
namespace {

// Runs each step even when an earlier one failed; the first error is raised at the end.
class first_error {
 public:
  template <class F>
  void attempt(F&& AStep) noexcept {
    try {
      AStep();
    } catch (...) {
      if (!FError) FError = std::current_exception();
    }
  }
  void rethrow() const {
    if (FError) std::rethrow_exception(FError);
  }

 private:
  std::exception_ptr FError;
};

// The longest name a file can have, in UTF-16 units.
constexpr size_t kLongestFileName = 255;

bool is_dot_name(std::wstring_view AName) noexcept {
  return AName.size() <= 2 && AName.find_first_not_of(L'.') == std::wstring_view::npos;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TqorFarPluginEnum

TqorFarPluginEnum::TqorFarPluginEnum(TqorFarPluginEnum* AOwner, TqorFarPluginPanel* APanel,
                                     std::wstring ASubFolderName, std::wstring AListedName)
    : FOwner(AOwner), FPanel(APanel), FFolderName(std::move(ASubFolderName)) {
  if (AListedName.empty()) AListedName = FFolderName;
  FFullPath = (FOwner ? FOwner->FFullPath : std::wstring()) + AListedName;
  if (!FFullPath.empty()) FFullPath += L'\\';
  FPrefixWritable = FFolderName.empty() || ((!FOwner || FOwner->FPrefixWritable) && ItemNameContained(FFolderName) &&
                                            AListedName.size() <= kLongestFileName);
}

TqorFarPluginEnum::~TqorFarPluginEnum() {
  try {
    Close();
  } catch (...) {
  }
}

size_t TqorFarPluginEnum::item_count() const noexcept {
  return FGetFindDataInfo.PanelItem ? FGetFindDataInfo.ItemsNumber : 0;
}

void TqorFarPluginEnum::Open(const TPluginPanelItem* ASubFolder) {
  const TqorFarPlugin& plugin = *FPanel->Plugin();
  if (ASubFolder) {
    TSetDirectoryInfo info{};
    info.StructSize = SetDirectoryInfoAnnouncedSize;
    info.hPanel = FPanel->Handle();
    info.Dir = FFolderName.c_str();
    info.UserData = ASubFolder->UserData;
    FValidSetDirectory = plugin.SetDirectory(info) != 0;
    if (!FValidSetDirectory) return;
  }
  FGetFindDataInfo = TGetFindDataInfo{};
  FGetFindDataInfo.StructSize = sizeof(TGetFindDataInfo);
  FGetFindDataInfo.hPanel = FPanel->Handle();
  FValidGetFindData = plugin.GetFindData(FGetFindDataInfo) != 0;
  if (!FValidGetFindData) return;
  const size_t count = item_count();
  FNameStarts.reserve(count + 1);
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) {
    FNameStarts.push_back(length);
    const wchar_t* name = FGetFindDataInfo.PanelItem[i].FileName;
    if (name) length += std::wcslen(name);
  }
  FNameStarts.push_back(length);
  FFileNames.reserve(length);
  for (size_t i = 0; i < count; ++i) {
    const wchar_t* name = FGetFindDataInfo.PanelItem[i].FileName;
    if (name) FFileNames.append(name, FNameStarts[i + 1] - FNameStarts[i]);
  }
  // Every name judged once, in one pass; the names shown are made only when one needs a change.
  FContained.resize(count);
  bool all_shown = true;
  for (size_t i = 0; i < count; ++i) {
    const TqorItemNameTraits traits = JudgeItemName(NameAt(i));
    FContained[i] = traits.Contained;
    all_shown = all_shown && traits.ShownAsListed;
  }
  if (all_shown) return;
  std::vector<std::wstring_view> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) names.push_back(NameAt(i));
  ListedItemNames(names, FListedNames);
}

bool TqorFarPluginEnum::ItemWritable(size_t AIndex) const noexcept {
  return FPrefixWritable && AIndex < FContained.size() && FContained[AIndex] &&
         ListedNameAt(AIndex).size() <= kLongestFileName;
}

size_t TqorFarPluginEnum::ItemCount() const noexcept {
  return FValidGetFindData && !FNameStarts.empty() ? FNameStarts.size() - 1 : 0;
}

std::wstring_view TqorFarPluginEnum::NameAt(size_t AIndex) const noexcept {
  return std::wstring_view(FFileNames).substr(FNameStarts[AIndex], FNameStarts[AIndex + 1] - FNameStarts[AIndex]);
}

void TqorFarPluginEnum::close_child() {
  if (!FEnum) return;
  std::unique_ptr<TqorFarPluginEnum> child = std::move(FEnum);
  child->Close();
}

TPluginPanelItem* TqorFarPluginEnum::GetNextFile(std::wstring& AFileName) {
  for (;;) {
    AFileName.clear();
    if (FEnum) {
      if (TPluginPanelItem* item = FEnum->GetNextFile(AFileName)) return item;
      close_child();
    }
    if (FReadSubFolder) {
      // The folder's contents are entered one call after its own entry was handed out.
      FReadSubFolder = false;
      FEnum = std::make_unique<TqorFarPluginEnum>(this, FPanel, std::wstring(NameAt(FIndex - 1)),
                                                  std::wstring(ListedNameAt(FIndex - 1)));
      FEnum->Open(&FGetFindDataInfo.PanelItem[FIndex - 1]);
      continue;
    }
    const size_t count = ItemCount();
    while (FIndex < count) {
      TPluginPanelItem* item = &FGetFindDataInfo.PanelItem[FIndex];
      const std::wstring_view name = NameAt(FIndex);
      ++FIndex;
      // A file manager reads "." and ".." (and an empty name) as path components: never hand
      // them out, never enter them.
      if (name.empty() || is_dot_name(name)) continue;
      AFileName.assign(FFullPath).append(ListedNameAt(FIndex - 1));  // reuses the caller's buffer
      FReadSubFolder = (item->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                       FPanel->Plugin()->HasSetDirectory();
      return item;
    }
    return nullptr;
  }
}

void TqorFarPluginEnum::Close() {
  first_error errors;
  errors.attempt([&] { close_child(); });
  FFileNames.clear();
  FNameStarts.clear();
  FListedNames.clear();
  FContained.clear();
  const TqorFarPlugin& plugin = *FPanel->Plugin();
  if (FValidGetFindData) {
    FValidGetFindData = false;
    if (plugin.HasFreeFindData()) {
      TFarPanelItemFreeInfo free_info{};
      free_info.StructSize = sizeof(free_info);
      free_info.hPlugin = FPanel->Handle();
      for (size_t i = 0; i < item_count(); ++i) {
        const TUserDataItem& user_data = FGetFindDataInfo.PanelItem[i].UserData;
        if (user_data.Data && user_data.FreeData)
          errors.attempt([&] { plugin.FreeData(user_data, free_info); });
      }
      TFreeFindDataInfo info{};
      info.StructSize = sizeof(info);
      info.hPanel = FPanel->Handle();
      info.PanelItem = FGetFindDataInfo.PanelItem;
      info.ItemsNumber = FGetFindDataInfo.ItemsNumber;
      errors.attempt([&] { plugin.FreeFindData(info); });
    }
  }
  if (FValidSetDirectory) {
    // One ".." per level entered, never a jump to the root.
    FValidSetDirectory = false;
    TSetDirectoryInfo info{};
    info.StructSize = SetDirectoryInfoAnnouncedSize;
    info.hPanel = FPanel->Handle();
    info.Dir = L"..";
    errors.attempt([&] {
      if (plugin.SetDirectory(info) == 0) FPanel->MarkLost();
    });
  }
  errors.rethrow();
}

// ---------------------------------------------------------------------------------------------
// TqorFarPluginPanel

TqorFarPluginPanel::TqorFarPluginPanel(TqorFarPlugin* APlugin, HANDLE AHandle) noexcept
    : FPlugin(APlugin), FHandle(AHandle) {}

TqorFarPluginPanel::~TqorFarPluginPanel() {
  try {
    Close();
  } catch (...) {
  }
}

TPluginPanelItem* TqorFarPluginPanel::GetNextFile(std::wstring& AFileName) {
  AFileName.clear();
  FCurrentItem = nullptr;
  if (FClosed) return nullptr;
  if (!FEnum) {
    FEnum = std::make_unique<TqorFarPluginEnum>(nullptr, this, std::wstring());
    FEnum->Open(nullptr);
  }
  FCurrentItem = FEnum->GetNextFile(AFileName);
  return FCurrentItem;
}

const TqorFarPluginEnum* TqorFarPluginPanel::CurrentLevel() const noexcept {
  if (!FCurrentItem) return nullptr;
  const TqorFarPluginEnum* level = FEnum.get();
  while (level && level->Child()) level = level->Child();
  return level;
}

intptr_t TqorFarPluginPanel::GetFiles(TPluginPanelItem* AItems, size_t ACount, const std::wstring& ADestPath) {
  if (!FCurrentItem || !AItems || ACount == 0) throw EqorError(L"No current entry");
  if (FLost) throw EqorError(L"The plugin lost its place in the archive");
  TGetFilesInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FHandle;
  info.PanelItem = AItems;
  info.ItemsNumber = ACount;
  info.Move = FALSE;
  info.DestPath = ADestPath.c_str();
  info.OpMode = OPM_SILENT;
  return FPlugin->GetFiles(info);
}

void TqorFarPluginPanel::Rewind() {
  FCurrentItem = nullptr;
  if (!FEnum) return;
  std::unique_ptr<TqorFarPluginEnum> walk = std::move(FEnum);
  walk->Close();
}

void TqorFarPluginPanel::Close() {
  if (FClosed) return;
  FClosed = true;
  FCurrentItem = nullptr;
  first_error errors;
  if (FEnum) {
    errors.attempt([&] { FEnum->Close(); });
    FEnum.reset();
  }
  if (FHandle && FPlugin && FPlugin->HasClosePanel()) {
    TClosePanelInfo info{};
    info.StructSize = sizeof(info);
    info.hPanel = FHandle;
    errors.attempt([&] { FPlugin->ClosePanel(info); });
  }
  errors.rethrow();
}

}  // namespace qor
