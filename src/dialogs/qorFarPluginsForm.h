// The list of hosted plugins that the file manager's Configure button opens: every plugin found,
// with its title, version, author, description and folder; a tick for whether it is used; its
// place in the detection order (the first plugin that accepts a file opens it); and the plugin's
// own configuration. The form knows nothing of the registry: the caller hands the rows in, takes
// them back in their new order when the user presses OK, and runs a plugin's configuration when
// asked.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/qorShellDialogs.h"
#include "ui/qorShellWindows.h"

namespace qor {

struct TqorFarPluginRow {
  std::wstring Title, Version, Author, Description, Folder;
  bool Enabled = true;
  // The plugin's configuration entries (their menu texts); none when it offers none or is not loaded.
  std::vector<std::wstring> Configurations;
  size_t Key = 0;  // the caller's
};

class TqorFarPluginsForm : public TqorShellCustomDialogForm {
 public:
  // Runs the configuration entry AEntry of a row; plugin dialogs shown meanwhile belong to the form.
  using TConfigure = std::function<void(const TqorFarPluginRow& ARow, size_t AEntry)>;
  // Takes the rows in their new order when the user presses OK, while the form is still shown; what
  // it answers, when not empty, tells the user why they could not be kept, in a box owned by the form.
  using TAccept = std::function<std::wstring(const std::vector<TqorFarPluginRow>& ARows)>;

  TqorFarPluginsForm(HWND AOwnerWnd, std::vector<TqorFarPluginRow> ARows, TConfigure AConfigure, TAccept AAccept);

  // True when the user pressed OK; Rows() then holds the order and ticks chosen.
  bool Run();
  const std::vector<TqorFarPluginRow>& Rows() const noexcept { return FRows; }

  int GetContentWidth() override;
  void UpdateControlsSize() override;
  void UpdateContentBounds(RECT& ARect) override;

 protected:
  void WndProc(TqorMessage& AMessage) override;

 private:
  class TList;

  int Selected() const noexcept;
  void Select(int ARow);
  void ShowRow(int ARow);
  void RowsChanged();
  void Move(int ADelta);
  void Configure();
  void Accept();
  void OnListNotify(const NMHDR& AHeader);

  std::vector<TqorFarPluginRow> FRows;
  TConfigure FConfigure;
  TAccept FAccept;
  TList* FList = nullptr;
  TqorSystemControl* FDetails = nullptr;
  TqorButton* FUp = nullptr;
  TqorButton* FDown = nullptr;
  TqorButton* FConfigureButton = nullptr;
  bool FFilling = false;
};

}  // namespace qor
