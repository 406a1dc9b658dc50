// One plugin module: a loaded FAR3 plugin DLL, its resolved entry points and its configuration.
// Calls into the plugin go only through TqorFarPlugin, each under the plugin guard; it calls the
// services floor (start-up table, message catalogue) and the console input redirection.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorHandles.h"

namespace qor {

class TqorFarPluginList;

// One loaded plugin DLL with its resolved entry points.
class TqorFarPlugin {
 public:
  TqorFarPlugin(TqorFarPluginList* AOwner, std::wstring AFileName);
  ~TqorFarPlugin();
  TqorFarPlugin(const TqorFarPlugin&) = delete;
  TqorFarPlugin& operator=(const TqorFarPlugin&) = delete;

  // Loads and starts the plugin; raises when the DLL cannot be used.
  void Load();
  // Tells the plugin to shut down and unloads it; safe to call more than once.
  void Unload() noexcept;

  const std::wstring& FileName() const noexcept { return FFileName; }
  const TGlobalInfo& GlobalInfo() const noexcept { return FGlobalInfoW; }
  bool CanConfigure() const;
  // The first configuration entry.
  void Configure();
  // The plugin's configuration entries (PluginConfig of GetPluginInfoW): GUID and menu text each;
  // none without both GetPluginInfoW and ConfigureW.
  struct TConfigEntry {
    GUID Guid;
    std::wstring Text;
  };
  std::vector<TConfigEntry> ConfigEntries() const;
  // ConfigureW with the GUID of one entry; its answer is the plugin's.
  intptr_t Configure(const GUID& AEntry);

  HANDLE Analyse(const TAnalyseInfo& AInfo) const;
  bool HasCloseAnalyse() const noexcept { return FCloseAnalyseW != nullptr; }
  void CloseAnalyse(const TCloseAnalyseInfo& AInfo) const;
  HANDLE Open(const TOpenInfo& AInfo) const;
  // OpenW for what AnalyseW accepted (AInfo as it was analysed, AAnalysed its answer), as FAR opens
  // a file: the plugin takes the analysis handle over.
  HANDLE OpenAnalysed(TAnalyseInfo& AInfo, HANDLE AAnalysed) const;
  // CloseAnalyseW for an answer of AnalyseW that is not opened.
  void CloseAnalysed(HANDLE AAnalysed) const;
  intptr_t GetFindData(TGetFindDataInfo& AInfo) const;
  bool HasFreeFindData() const noexcept { return FFreeFindDataW != nullptr; }
  void FreeFindData(const TFreeFindDataInfo& AInfo) const;
  void FreeData(const TUserDataItem& AUserData, const TFarPanelItemFreeInfo& AInfo) const;
  bool HasSetDirectory() const noexcept { return FSetDirectoryW != nullptr; }
  intptr_t SetDirectory(const TSetDirectoryInfo& AInfo) const;
  intptr_t GetFiles(TGetFilesInfo& AInfo) const;
  bool HasClosePanel() const noexcept { return FClosePanelW != nullptr; }
  void ClosePanel(const TClosePanelInfo& AInfo) const;
  // The panel's description as FAR asks for it; AInfo stays as it was without GetOpenPanelInfoW.
  void GetOpenPanelInfo(TOpenPanelInfo& AInfo) const;
  // Entry points of packing; each answers 0 (failure) when the plugin lacks it.
  bool HasPutFiles() const noexcept { return FPutFilesW != nullptr; }
  bool HasDeleteFiles() const noexcept { return FDeleteFilesW != nullptr; }
  bool HasMakeDirectory() const noexcept { return FMakeDirectoryW != nullptr; }
  intptr_t PutFiles(const TPutFilesInfo& AInfo) const;
  intptr_t DeleteFiles(const TDeleteFilesInfo& AInfo) const;
  intptr_t MakeDirectory(TMakeDirectoryInfo& AInfo) const;

 private:
  bool read_plugin_config(TPluginMenuItem& AConfig) const;

  TqorFarPluginList* FOwner;
  std::wstring FFileName;
  unique_module FModule;
  TGlobalInfo FGlobalInfoW{};
  TAnalyseW FAnalyseW = nullptr;
  TCloseAnalyseW FCloseAnalyseW = nullptr;
  TClosePanelW FClosePanelW = nullptr;
  TConfigureW FConfigureW = nullptr;
  TExitFARW FExitFARW = nullptr;
  TFreeFindDataW FFreeFindDataW = nullptr;
  TGetFilesW FGetFilesW = nullptr;
  TGetFindDataW FGetFindDataW = nullptr;
  TGetPluginInfoW FGetPluginInfoW = nullptr;
  TOpenW FOpenW = nullptr;
  TSetDirectoryW FSetDirectoryW = nullptr;
  TGetOpenPanelInfoW FGetOpenPanelInfoW = nullptr;
  TPutFilesW FPutFilesW = nullptr;
  TDeleteFilesW FDeleteFilesW = nullptr;
  TMakeDirectoryW FMakeDirectoryW = nullptr;
  bool FFolderRegistered = false;  // the message catalogue knows this plugin's folder
};

}  // namespace qor
