// One open archive (archive panel) and the depth-first walk through the plugin's folders (panel
// tree walker). Calls the plugin module for every step; never the plugin list.
#pragma once

#include <windows.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/qorFarPluginW.h"

namespace qor {

class TqorFarPlugin;
class TqorFarPluginPanel;

// One folder level of the depth-first walk; owns the walker of the sub-folder being walked.
class TqorFarPluginEnum {
 public:
  // ASubFolderName is the folder's name as the plugin lists it, AListedName as the file manager is
  // shown it (by default the same).
  TqorFarPluginEnum(TqorFarPluginEnum* AOwner, TqorFarPluginPanel* APanel, std::wstring ASubFolderName,
                    std::wstring AListedName = std::wstring());
  ~TqorFarPluginEnum();
  TqorFarPluginEnum(const TqorFarPluginEnum&) = delete;
  TqorFarPluginEnum& operator=(const TqorFarPluginEnum&) = delete;

  // Enters the level's folder (when ASubFolder is given) and lists it.
  void Open(const TPluginPanelItem* ASubFolder);
  TPluginPanelItem* GetNextFile(std::wstring& AFileName);
  // Releases this level and everything below it and returns the plugin to the parent folder.
  // Every step is tried; the first error is raised afterwards.
  void Close();

  // The level's listing as it was handed out: the items, their names as the plugin lists them and
  // as the file manager is shown them (one name each, made once per listing), and the path prefix
  // of the level's entries as shown (empty for the root, else the folder path and a backslash).
  size_t ItemCount() const noexcept;
  const TPluginPanelItem& Item(size_t AIndex) const noexcept { return FGetFindDataInfo.PanelItem[AIndex]; }
  std::wstring_view NameAt(size_t AIndex) const noexcept;
  std::wstring_view ListedNameAt(size_t AIndex) const noexcept {
    return FListedNames.empty() ? NameAt(AIndex) : std::wstring_view(FListedNames[AIndex]);
  }
  // The plugin may be asked to write the item at AIndex: its name and every folder's above it
  // stay inside a destination, and the name it is shown by can be a file name.
  bool ItemWritable(size_t AIndex) const noexcept;
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
  bool FPrefixWritable = true;  // every folder name on the way here
  TGetFindDataInfo FGetFindDataInfo{};
  // Copies of the listed names, one after the other in one buffer (a heap block per listing,
  // not per entry); the name of item i runs from FNameStarts[i] to FNameStarts[i + 1].
  std::wstring FFileNames;
  std::vector<size_t> FNameStarts;
  std::vector<std::wstring> FListedNames;  // empty when every name is shown as listed
  std::vector<unsigned char> FContained;   // ItemNameContained of each name, judged once
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
  // Ends the walk: every listing released and the plugin back at the root; the next
  // GetNextFile starts over.
  void Rewind();
  // A SetDirectoryW of the walk failed: the plugin no longer stands where the walk thinks, and
  // nothing more is asked of it by name (GetFiles raises).
  void MarkLost() noexcept { FLost = true; }
  bool Lost() const noexcept { return FLost; }
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
  bool FLost = false;
};

}  // namespace qor
