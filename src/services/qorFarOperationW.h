// The operation at hand on this thread, as FAR's services see it: which panels FAR would show
// and which folder would be FAR's current one while a file-manager call runs. A higher floor sets
// it with a scoped object for the length of the call.
#pragma once

#include <windows.h>

#include <string>

#include "services/qorFarCurrentFolder.h"

namespace qor {

// A plugin's own panel: FAR describes it by asking the plugin (GetOpenPanelInfoW).
class IqorFarPluginPanel {
 public:
  virtual HANDLE PanelHandle() const noexcept = 0;
  virtual GUID PluginId() const noexcept = 0;
  // The panel's CurDir, HostFile and ShortcutData; "" for what the plugin leaves out.
  virtual void PanelDirectory(std::wstring& ACurDir, std::wstring& AHostFile, std::wstring& AShortcutData) = 0;

 protected:
  ~IqorFarPluginPanel() = default;
};

// One of FAR's two panels: a file panel showing Folder, or a plugin's own panel.
struct TqorFarPanelShown {
  std::wstring Folder;
  IqorFarPluginPanel* Plugin = nullptr;
};

class TqorFarOperation {
 public:
  // Packing: a file panel on the source folder is active (and it is FAR's current folder), one on
  // the archive's folder is passive.
  static TqorFarOperation Packing(const std::wstring& ASourceFolder, const std::wstring& AArchiveFolder);
  // Extracting: the plugin's own panel is active, a file panel on the target folder is passive,
  // and the target folder is FAR's current one.
  static TqorFarOperation Extracting(IqorFarPluginPanel& APanel, const std::wstring& ATargetFolder);
  ~TqorFarOperation();
  TqorFarOperation(const TqorFarOperation&) = delete;
  TqorFarOperation& operator=(const TqorFarOperation&) = delete;

  const TqorFarPanelShown& Active() const noexcept { return FActive; }
  const TqorFarPanelShown& Passive() const noexcept { return FPassive; }

 private:
  TqorFarOperation(TqorFarPanelShown AActive, TqorFarPanelShown APassive, const std::wstring& AFolder);

  TqorFarPanelShown FActive;
  TqorFarPanelShown FPassive;
  TqorFarFolderScope FFolder;
  const TqorFarOperation* FPrevious;
};

// The innermost operation this thread runs, or nil outside every file-manager call that sets one.
const TqorFarOperation* CurrentFarOperation() noexcept;

}  // namespace qor
