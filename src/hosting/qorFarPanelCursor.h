// A plugin's panel moved through its folders by name for a change to the archive, as FAR's panel
// moves when the user enters folders: each step silent, the current folder listed on demand, and
// the changes themselves (files put, items deleted, folders made). Every change a plugin is asked
// for goes through here, so that it comes in FAR's order: FAR shows a folder before the user can
// act in it, and plugins build their changes from what they listed (the widely used archive plugin
// builds its update from the index its first listing makes, and without one keeps nothing of the
// old archive). Calls the plugin list (to open an archive for a change), the plugin module and the
// walker's folder level.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hosting/qorFarPluginPanel.h"

namespace qor {

class TqorFarPlugin;

class TqorFarPanelCursor {
 public:
  explicit TqorFarPanelCursor(TqorFarPluginPanel& APanel) noexcept : FPanel(APanel) {}
  // Back to the folder it started in, one ".." per level entered.
  ~TqorFarPanelCursor();
  TqorFarPanelCursor(const TqorFarPanelCursor&) = delete;
  TqorFarPanelCursor& operator=(const TqorFarPanelCursor&) = delete;

  // The current folder as the plugin lists it now; read once after each move, change or Forget().
  const TqorFarPluginEnum& Listing();
  // Index of the item named AName in the listing (exact, then without regard to case), or -1.
  intptr_t Find(const std::wstring& AName);
  // Enters the sub-folder AName of the current folder; false when it is missing or refused.
  bool Enter(const std::wstring& AName);
  // Back to the folder above the current one, which was entered through Enter().
  void Leave();
  // Back to the folder the cursor started in.
  void LeaveAll();
  size_t Depth() const noexcept { return FDepth; }
  // The listing goes: its items are no longer needed. The folder still counts as shown.
  void Forget();

  // The changes, each after the current folder was shown. PutFilesW with AInfo (hPanel is set);
  // the plugin's answer.
  intptr_t Put(TPutFilesInfo& AInfo);
  // DeleteFilesW, silently, for the items at AIndices of the listing, passed as FAR passes them:
  // copies, once the listing is freed. The plugin's answer.
  intptr_t Delete(const std::vector<size_t>& AIndices);
  // MakeDirectoryW for AName in the current folder, silently; the plugin's answer.
  intptr_t Make(const std::wstring& AName);

 private:
  // Lists the current folder unless it was listed since the panel came there or last changed.
  void show();

  TqorFarPluginPanel& FPanel;
  std::unique_ptr<TqorFarPluginEnum> FListing;
  size_t FDepth = 0;
  bool FShown = false;
};

// Opens AArchive with the plugin that lists it, checks that the plugin can make the change
// (ACan), runs ABody on a cursor at the panel's root and closes the panel, which happens before
// the caller may put the archive back (the plugin may hold it open). ABody's result, or the WCX
// error when the archive cannot be opened or changed so, or its panel fails to close.
int ChangeThroughPanel(const std::wstring& AArchive, bool (TqorFarPlugin::*ACan)() const noexcept,
                       const std::function<int(TqorFarPanelCursor&)>& ABody);

}  // namespace qor
