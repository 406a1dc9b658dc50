// A plugin's panel moved through its folders by name for a change to the archive, as FAR's panel
// moves when the user enters folders: each step silent, the current folder listed on demand, and
// missing folders made through the plugin. Calls the plugin module and the walker's folder level.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "hosting/qorFarPluginPanel.h"

namespace qor {

class TqorFarPanelCursor {
 public:
  explicit TqorFarPanelCursor(TqorFarPluginPanel& APanel) noexcept : FPanel(APanel) {}
  // Back to the folder it started in, one ".." per level entered.
  ~TqorFarPanelCursor();
  TqorFarPanelCursor(const TqorFarPanelCursor&) = delete;
  TqorFarPanelCursor& operator=(const TqorFarPanelCursor&) = delete;

  // The current folder as the plugin lists it now; read once after each move or Forget().
  const TqorFarPluginEnum& Listing();
  // Index of the item named AName in the listing (exact, then without regard to case), or -1.
  intptr_t Find(const std::wstring& AName);
  // Enters the sub-folder AName of the current folder; false when it is missing or refused.
  bool Enter(const std::wstring& AName);
  // MakeDirectoryW for AName in the current folder, silently; the plugin's answer.
  intptr_t Make(const std::wstring& AName);
  // The listing goes: the plugin changed the folder, or its items are no longer needed.
  void Forget();

 private:
  TqorFarPluginPanel& FPanel;
  std::unique_ptr<TqorFarPluginEnum> FListing;
  size_t FDepth = 0;
};

}  // namespace qor
