// Plugin hosting: the registry of loaded FAR3 plugin DLLs, one plugin module, one open archive
// (archive panel) and the depth-first walk through the plugin's folders (panel tree walker).
// Calls into plugins go only through TqorFarPlugin, each under the plugin guard.
#pragma once

#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorHandles.h"
#include "common/qorLocks.h"

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
  // Entry points of packing: looked up, not called yet.
  bool HasPutFiles() const noexcept { return FPutFilesW != nullptr; }
  bool HasDeleteFiles() const noexcept { return FDeleteFilesW != nullptr; }
  bool HasMakeDirectory() const noexcept { return FMakeDirectoryW != nullptr; }

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

// One plugin DLL found on disk, as the plugin list shows it. A plugin disabled before discovery is
// never loaded: what it shows was kept from its last load.
struct TqorFarPluginState {
  std::wstring FileName;
  GUID Guid{};
  bool Enabled = true;
  TqorFarPlugin* Plugin = nullptr;  // null while not loaded
  std::wstring Title, Version, Author, Description;
};

// The plugins found beside the module: the loaded modules (in load order, which they are
// unloaded against) and every plugin's place in the detection order with its enabled state.
// Order and states come from the settings file and go back to it.
class TqorFarPluginList {
 public:
  TqorFarPluginList() = default;
  ~TqorFarPluginList();
  TqorFarPluginList(const TqorFarPluginList&) = delete;
  TqorFarPluginList& operator=(const TqorFarPluginList&) = delete;

  // Scans the plugins folder (Plugins32, or Plugins64 for the 64-bit module) beside the module and
  // loads every enabled DLL that passes the export-name filter.
  void Discover();

  // Loaded modules.
  int Count() const;
  TqorFarPlugin* GetPlugin(int AIndex) const;
  TqorFarPlugin* FindPlugin(const std::wstring& AFileName) const;
  TqorFarPlugin* FindPluginAndOpen(const std::wstring& AFileName, HANDLE& AHandle) const;
  TqorFarPlugin* FindPluginByGuid(const GUID& AGuid) const;

  // Every plugin found, in detection order.
  std::vector<TqorFarPluginState> States() const;
  // A new detection order and new enabled states, given as the States() entries (matched by file
  // name) in their new order. A newly enabled plugin is loaded; a disabled one is asked about no
  // file from now on. Both are saved to the settings file: ERROR_SUCCESS, or the system error that
  // kept them out of it for now (they are in effect all the same, and written later).
  DWORD Apply(const std::vector<TqorFarPluginState>& AStates);

 private:
  TqorFarPlugin* FindPluginEx(const std::wstring& AFileName, HANDLE* AHandle) const;
  // The enabled loaded modules, in detection order.
  std::vector<TqorFarPlugin*> active_plugins() const;
  TqorFarPlugin* load_plugin(const std::wstring& AFileName);

  mutable critical_section FLock;
  std::vector<std::unique_ptr<TqorFarPlugin>> FList;
  std::vector<TqorFarPluginState> FStates;
};

// The version of a plugin as FAR shows it: Major.Minor.Revision.Build.
std::wstring PluginVersionText(const TVersionInfo& AVersion);

// The registry, created by the first caller under the unit's critical section.
TqorFarPluginList& PluginRegistry();
// True once the registry exists (for callers that must not create it).
bool PluginRegistryCreated() noexcept;

void PluginsStartup() noexcept;
// Frees the registry: every plugin gets ExitFARW and is unloaded, last discovered first.
void PluginsShutdown() noexcept;

// Validates a 32- or 64-bit PE DLL with an export table; appends its export names to AList when
// given. Raises for every file it cannot accept.
void ReadExportNames(const std::wstring& AFileName, bool& AIs64Bit, std::vector<std::wstring>* AList);

constexpr DWORD MaxFileHeadSize = 0x20000;

// The first bytes of a file (at most 128 KiB) as a plugin's AnalyseW sees them. Its buffer goes
// back to a spare slot for the next file: a fresh 128 KiB block costs more than the read itself.
class file_head {
 public:
  file_head() noexcept = default;
  file_head(file_head&&) noexcept = default;
  file_head& operator=(file_head&&) noexcept = default;
  ~file_head();

  const unsigned char* data() const noexcept { return FBuffer.get(); }
  unsigned char* data() noexcept { return FBuffer.get(); }
  size_t size() const noexcept { return FSize; }
  bool empty() const noexcept { return FSize == 0; }

 private:
  friend file_head ReadFileHead(const std::wstring& AFileName);
  std::unique_ptr<unsigned char[]> FBuffer;
  size_t FSize = 0;
};

file_head ReadFileHead(const std::wstring& AFileName);

class TqorFarPluginPanel;

// One folder level of the depth-first walk; owns the walker of the sub-folder being walked.
class TqorFarPluginEnum {
 public:
  TqorFarPluginEnum(TqorFarPluginEnum* AOwner, TqorFarPluginPanel* APanel,
                    std::wstring ASubFolderName);
  ~TqorFarPluginEnum();
  TqorFarPluginEnum(const TqorFarPluginEnum&) = delete;
  TqorFarPluginEnum& operator=(const TqorFarPluginEnum&) = delete;

  // Enters the level's folder (when ASubFolder is given) and lists it.
  void Open(const TPluginPanelItem* ASubFolder);
  TPluginPanelItem* GetNextFile(std::wstring& AFileName);
  // Releases this level and everything below it and returns the plugin to the parent folder.
  // Every step is tried; the first error is raised afterwards.
  void Close();

  // The level's listing as it was handed out: the items, their names as listed, and the path
  // prefix of the level's entries (empty for the root, else the folder path and a backslash).
  size_t ItemCount() const noexcept;
  const TPluginPanelItem& Item(size_t AIndex) const noexcept { return FGetFindDataInfo.PanelItem[AIndex]; }
  std::wstring_view NameAt(size_t AIndex) const noexcept;
  const std::wstring& FullPath() const noexcept { return FFullPath; }
  // The item handed out last; valid once GetNextFile returned one.
  size_t CurrentIndex() const noexcept { return FIndex - 1; }
  // The level of the sub-folder being walked, or nil.
  const TqorFarPluginEnum* Child() const noexcept { return FEnum.get(); }
  // The level of the folder above, or nil for the root.
  const TqorFarPluginEnum* Owner() const noexcept { return FOwner; }
  // Open entered the folder and the plugin listed it.
  bool Listed() const noexcept { return FValidGetFindData; }

 private:
  size_t item_count() const noexcept;
  void close_child();

  TqorFarPluginEnum* FOwner;
  TqorFarPluginPanel* FPanel;
  std::wstring FFolderName;
  std::wstring FFullPath;
  TGetFindDataInfo FGetFindDataInfo{};
  // Copies of the listed names, one after the other in one buffer (a heap block per listing,
  // not per entry); the name of item i runs from FNameStarts[i] to FNameStarts[i + 1].
  std::wstring FFileNames;
  std::vector<size_t> FNameStarts;
  bool FValidSetDirectory = false;
  bool FValidGetFindData = false;
  size_t FIndex = 0;  // position after the item handed out last
  bool FReadSubFolder = false;
  std::unique_ptr<TqorFarPluginEnum> FEnum;
};

// One open archive: the plugin's panel handle and the walk through it.
class TqorFarPluginPanel {
 public:
  TqorFarPluginPanel(TqorFarPlugin* APlugin, HANDLE AHandle) noexcept;
  ~TqorFarPluginPanel();
  TqorFarPluginPanel(const TqorFarPluginPanel&) = delete;
  TqorFarPluginPanel& operator=(const TqorFarPluginPanel&) = delete;

  TqorFarPlugin* Plugin() const noexcept { return FPlugin; }
  HANDLE Handle() const noexcept { return FHandle; }
  TPluginPanelItem* GetNextFile(std::wstring& AFileName);
  // As above, keeping the path in CurrentFileName(): one buffer for the whole listing.
  TPluginPanelItem* GetNextFile() { return GetNextFile(FCurrentFileName); }
  const std::wstring& CurrentFileName() const noexcept { return FCurrentFileName; }
  const TPluginPanelItem* CurrentItem() const noexcept { return FCurrentItem; }
  // The folder level that holds the current entry; nil before the first entry and after the last.
  const TqorFarPluginEnum* CurrentLevel() const noexcept;
  // GetFilesW for items of the current entry's folder level into ADestPath (with its trailing
  // backslash), silently; -1 cancelled, 0 failure, other success.
  intptr_t GetFiles(TPluginPanelItem* AItems, size_t ACount, const std::wstring& ADestPath);
  // Returns the plugin to the root, releases every listing, then ClosePanelW; raises the first
  // error after trying every step.
  void Close();

 private:
  TqorFarPlugin* FPlugin;
  HANDLE FHandle;
  std::unique_ptr<TqorFarPluginEnum> FEnum;
  TPluginPanelItem* FCurrentItem = nullptr;
  std::wstring FCurrentFileName;
  bool FClosed = false;
};

}  // namespace qor
