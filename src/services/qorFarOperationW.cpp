#include "services/qorFarOperationW.h"

#include <utility>

namespace qor {

namespace {

thread_local const TqorFarOperation* TOperation = nullptr;

}  // namespace

TqorFarOperation::TqorFarOperation(TqorFarPanelShown AActive, TqorFarPanelShown APassive, const std::wstring& AFolder)
    : FActive(std::move(AActive)), FPassive(std::move(APassive)), FFolder(AFolder), FPrevious(TOperation) {
  FActive.Folder = FarFolderForm(FActive.Folder);
  FPassive.Folder = FarFolderForm(FPassive.Folder);
  TOperation = this;
}

TqorFarOperation::~TqorFarOperation() { TOperation = FPrevious; }

TqorFarOperation TqorFarOperation::Packing(const std::wstring& ASourceFolder, const std::wstring& AArchiveFolder) {
  return TqorFarOperation({ASourceFolder, nullptr}, {AArchiveFolder, nullptr}, ASourceFolder);
}

TqorFarOperation TqorFarOperation::Extracting(IqorFarPluginPanel& APanel, const std::wstring& ATargetFolder) {
  return TqorFarOperation({std::wstring(), &APanel}, {ATargetFolder, nullptr}, ATargetFolder);
}

const TqorFarOperation* CurrentFarOperation() noexcept { return TOperation; }

}  // namespace qor
