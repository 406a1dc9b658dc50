// The operation at hand (services/qorFarOperationW.h) for a call on an open archive: what FAR's
// panels and current folder would be while the plugin works for it.
#pragma once

#include <string>

#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPluginPanel.h"
#include "services/qorFarOperationW.h"

namespace qor {

// An open archive's panel as FAR's services describe the plugin's own panel.
class TqorFarOwnPanel : public IqorFarPluginPanel {
 public:
  explicit TqorFarOwnPanel(const TqorFarPluginPanel& APanel) noexcept : FPanel(APanel) {}
  HANDLE PanelHandle() const noexcept override { return FPanel.Handle(); }
  GUID PluginId() const noexcept override { return FPanel.Plugin()->GlobalInfo().Guid; }
  void PanelDirectory(std::wstring& ACurDir, std::wstring& AHostFile, std::wstring& AShortcutData) override;

 private:
  const TqorFarPluginPanel& FPanel;
};

// Extraction of one entry to ATargetFile (a full path): the plugin's panel is active and the
// target's folder is the passive panel's and FAR's current one, for the scope's life.
class TqorFarExtractionScope {
 public:
  TqorFarExtractionScope(const TqorFarPluginPanel& APanel, const std::wstring& ATargetFile);

 private:
  TqorFarOwnPanel FOwnPanel;
  TqorFarOperation FOperation;
};

}  // namespace qor
