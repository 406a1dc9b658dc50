// Dialog emulation: a plugin's console dialog (items in character cells) rebuilt as a native,
// DPI-aware window. Each supported item becomes one control; the form maps the cell grid onto
// pixels from the UI metrics, shows itself modally and always reports a cancelled dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hosting/qorFarPluginW.h"
#include "ui/qorShellDialogs.h"

namespace qor {

// Item flags of the FAR dialog API that the emulation honours (item types: qorFarPluginW.h).
constexpr int64_t DIF_LEFTTEXT = 0x800;
constexpr int64_t DIF_SHOWAMPERSAND = 0x2000;
constexpr int64_t DIF_CENTERGROUP = 0x4000;
constexpr int64_t DIF_SEPARATOR = 0x10000;
constexpr int64_t DIF_SEPARATOR2 = 0x20000;
constexpr int64_t DIF_RIGHTTEXT = 0x400000000LL;
constexpr intptr_t DN_INITDIALOG = 4108;

class TqorFarDialog;

// What the dialog form needs of an item control, whatever its class. The form owns the controls.
class IqorFarControl {
 public:
  virtual TqorWinControl* GetVclControl() = 0;
  virtual void Init(const TFarDialogItem& AItem) = 0;
  virtual int GetType() = 0;
  virtual int64_t GetFlags() = 0;
  virtual bool CanTabStop() = 0;
  virtual void SetFocus() = 0;
  // The item's cells, right and bottom exclusive.
  virtual RECT GetFarRect() = 0;
  virtual void UpdateSize(TqorShellUI& AUI) = 0;
  // One row high, and its height counts for the row.
  virtual bool SingleLine() = 0;
  virtual int GetMinHeight() = 0;
  // Fits the control into the pixel rectangle of its cells.
  virtual void SetBounds(const RECT& ARect) = 0;

 protected:
  ~IqorFarControl() = default;
};

// The text of an item: Data up to its NUL, at most MaxLength characters when MaxLength is set.
std::wstring FarItemText(const TFarDialogItem& AItem);

// State every item control keeps: its cells and flags.
class TqorFarControlData {
 protected:
  void InitData(const TFarDialogItem& AItem, bool ABox);
  RECT FFarRect{};
  int64_t FFlags = 0;
};

class TqorFarText : public TqorCustomControl, public IqorFarControl, protected TqorFarControlData {
 public:
  explicit TqorFarText(TqorFarDialog* AOwner);
  TqorWinControl* GetVclControl() override { return this; }
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_TEXT; }
  int64_t GetFlags() override { return FFlags; }
  bool CanTabStop() override { return false; }
  void SetFocus() override {}
  RECT GetFarRect() override { return FFarRect; }
  void UpdateSize(TqorShellUI& AUI) override;
  bool SingleLine() override { return true; }
  int GetMinHeight() override;
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
  bool IsSeparator() const noexcept { return (FFlags & (DIF_SEPARATOR | DIF_SEPARATOR2)) != 0; }

 protected:
  void WndProc(TqorMessage& AMessage) override;
  void Paint(HDC ADC, const RECT& AClient) override;

 private:
  TqorFarDialog* FOwner;
};

class TqorFarEdit : public TqorEdit, public IqorFarControl, protected TqorFarControlData {
 public:
  explicit TqorFarEdit(TqorComponent* AOwner) : TqorEdit(AOwner) {}
  TqorWinControl* GetVclControl() override { return this; }
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_EDIT; }
  int64_t GetFlags() override { return FFlags; }
  bool CanTabStop() override { return true; }
  void SetFocus() override;
  RECT GetFarRect() override { return FFarRect; }
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetEditHeight(*this); }
  bool SingleLine() override { return true; }
  int GetMinHeight() override { return Height() + 2; }
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
};

class TqorFarFixedEdit : public TqorFarEdit {
 public:
  using TqorFarEdit::TqorFarEdit;
  int GetType() override { return DI_FIXEDIT; }
};

class TqorFarButton : public TqorButton, public IqorFarControl, protected TqorFarControlData {
 public:
  explicit TqorFarButton(TqorComponent* AOwner) : TqorButton(AOwner, false) {}
  TqorWinControl* GetVclControl() override { return this; }
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_BUTTON; }
  int64_t GetFlags() override { return FFlags; }
  bool CanTabStop() override { return true; }
  void SetFocus() override;
  RECT GetFarRect() override { return FFarRect; }
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetButtonSize(*this); }
  bool SingleLine() override { return true; }
  int GetMinHeight() override { return Height() + 2; }
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
};

class TqorFarCheckBox : public TqorCheckBox, public IqorFarControl, protected TqorFarControlData {
 public:
  explicit TqorFarCheckBox(TqorComponent* AOwner) : TqorCheckBox(AOwner, false) {}
  TqorWinControl* GetVclControl() override { return this; }
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_CHECKBOX; }
  int64_t GetFlags() override { return FFlags; }
  bool CanTabStop() override { return true; }
  void SetFocus() override;
  RECT GetFarRect() override { return FFarRect; }
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetCheckBoxSize(*this); }
  bool SingleLine() override { return true; }
  int GetMinHeight() override { return Height() + 2; }
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
};

// FAR's double box as a group frame running through the middle of its edge cells.
class TqorFarDoubleBox : public TqorCustomControl, public IqorFarControl, protected TqorFarControlData {
 public:
  explicit TqorFarDoubleBox(TqorFarDialog* AOwner);
  ~TqorFarDoubleBox() override;
  TqorWinControl* GetVclControl() override { return this; }
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_DOUBLEBOX; }
  int64_t GetFlags() override { return FFlags; }
  bool CanTabStop() override { return false; }
  void SetFocus() override {}
  RECT GetFarRect() override { return FFarRect; }
  void UpdateSize(TqorShellUI&) override {}
  bool SingleLine() override { return false; }
  int GetMinHeight() override { return 0; }
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
  HTHEME Theme() const noexcept { return FTheme; }

 protected:
  void WndProc(TqorMessage& AMessage) override;
  void OnNcCreate(TqorMessage& AMessage) override;
  void OnNcDestroy(TqorMessage& AMessage) override;
  void OnDpiChangedBeforeParent(TqorMessage& AMessage) override;
  void Paint(HDC ADC, const RECT& AClient) override;

 private:
  void OpenTheme();
  void CloseTheme() noexcept;
  TqorFarDialog* FOwner;
  HTHEME FTheme = nullptr;
  bool FDpiTheme = false;
};

class TqorFarDialog : public TqorShellCustomDialogForm {
 public:
  TqorFarDialog(HWND AOwnerWnd, const GUID* APluginID, const GUID* AID, intptr_t X1, intptr_t Y1, intptr_t X2,
                intptr_t Y2, const wchar_t* AHelpTopic, const TFarDialogItem* AItems, size_t AItemsNumber,
                intptr_t AReserved, TFarFlags AFlags, TFarApiDialogProc ADlgProc, void* AParam);
  ~TqorFarDialog() override;

  // Runs the dialog once: initial focus, the initialisation notification, the modal loop. -1.
  int ShowModal() override;
  IqorFarControl* GetFarControl(int AIndex) const { return FFarControls.at(static_cast<size_t>(AIndex)); }
  int FarControlCount() const noexcept { return static_cast<int>(FFarControls.size()); }
  COLORREF GetSeparatorColor();
  int FarWidth() const noexcept { return FFarWidth; }
  int FarHeight() const noexcept { return FFarHeight; }
  // Pixel width of one cell.
  int CellWidth();

  void UpdateControlsSize() override;
  int GetMinTextWidth() override;
  int GetContentWidth() override;
  void UpdateContentBounds(RECT& ARect) override;

 private:
  RECT PixelRect(const RECT& ACells) const;
  void PlaceCentreGroup(const std::vector<IqorFarControl*>& AGroup);

  GUID FPluginID{};
  GUID FID{};
  int FFarWidth = 0;
  int FFarHeight = 0;
  std::vector<int> FLines;
  std::vector<int> FOffsets;
  TFarApiDialogProc FDlgProc = nullptr;
  void* FParam = nullptr;
  std::vector<IqorFarControl*> FFarControls;
};

// Host entries for PluginStartupInfo.DialogInit, DialogRun and DialogFree.
HANDLE WINAPI FarApiDialogInit(const GUID* APluginId, const GUID* AId, intptr_t X1, intptr_t Y1,
                               intptr_t X2, intptr_t Y2, const wchar_t* AHelpTopic,
                               const TFarDialogItem* AItem, size_t AItemsNumber, intptr_t AReserved,
                               TFarFlags AFlags, TFarApiDialogProc ADlgProc, void* AParam);
intptr_t WINAPI FarApiDialogRun(HANDLE hDlg);
void WINAPI FarApiDialogFree(HANDLE hDlg);

}  // namespace qor
