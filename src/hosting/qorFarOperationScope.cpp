#include "hosting/qorFarOperationScope.h"

#include "common/qorPluginGuard.h"

namespace qor {

namespace {

std::wstring plugin_text(const wchar_t* AText) {
  std::wstring text;
  return CopyPluginText(AText, text) ? text : std::wstring();
}

std::wstring folder_of(const std::wstring& AFile) {
  const size_t cut = AFile.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : AFile.substr(0, cut + 1);
}

}  // namespace

void TqorFarOwnPanel::PanelDirectory(std::wstring& ACurDir, std::wstring& AHostFile, std::wstring& AShortcutData) {
  TOpenPanelInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FPanel.Handle();
  FPanel.Plugin()->GetOpenPanelInfo(info);
  ACurDir = plugin_text(info.CurDir);
  AHostFile = plugin_text(info.HostFile);
  AShortcutData = plugin_text(info.ShortcutData);
}

TqorFarExtractionScope::TqorFarExtractionScope(const TqorFarPluginPanel& APanel, const std::wstring& ATargetFile)
    : FOwnPanel(APanel), FOperation(TqorFarOperation::Extracting(FOwnPanel, folder_of(ATargetFile))) {}

}  // namespace qor
