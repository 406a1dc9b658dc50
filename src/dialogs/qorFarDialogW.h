// Dialog emulation: a plugin's console dialog (items in character cells) rebuilt as a native,
// DPI-aware window. Each item becomes one control; the form maps the cell grid onto pixels from
// the UI metrics, runs the dialog procedure's session and keeps every item's state until
// DialogFree. Interactive controls: qorFarDialogControlsW; the DM_* service: qorFarDlgMessagesW.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "ui/qorShellDialogs.h"
#include "ui/qorShellWindows.h"

namespace qor {

// Item flags of the FAR dialog API that the emulation honours (item types: qorFarPluginW.h).
constexpr int64_t DIF_LEFTTEXT = 0x800;
constexpr int64_t DIF_MOVESELECT = 0x1000;
constexpr int64_t DIF_SHOWAMPERSAND = 0x2000;
constexpr int64_t DIF_CENTERGROUP = 0x4000;
constexpr int64_t DIF_NOBRACKETS = 0x8000;
constexpr int64_t DIF_SEPARATOR = 0x10000;
constexpr int64_t DIF_SEPARATOR2 = 0x20000;
constexpr int64_t DIF_RIGHTTEXT = 0x400000000LL;

class TqorFarDialog;
class TqorFarListItems;

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

  // FAR's state of the item as the control keeps it: the text DM_GETTEXT reports, the check
  // state, the list and the edit limit. Items without such state answer 0 and ignore changes.
  virtual std::wstring GetItemText() { return GetVclControl()->Caption(); }
  virtual void SetItemText(const std::wstring& AText) { GetVclControl()->SetCaption(AText); }
  virtual intptr_t GetCheck() { return 0; }
  // Stores the state without notifying; answers the previous one.
  virtual intptr_t SetCheck(intptr_t) { return 0; }
  // -1: unlimited; 0 for items that take no typed text.
  virtual intptr_t GetMaxLength() { return 0; }
  virtual void SetMaxLength(intptr_t) {}
  virtual TqorFarListItems* GetList() { return nullptr; }

 protected:
  ~IqorFarControl() = default;
};

// The text of an item: Data up to its NUL, at most MaxLength characters when MaxLength is set.
std::wstring FarItemText(const TFarDialogItem& AItem);

// FAR does not take the width of a labelled item from X2 but from its label, and plugins leave X2
// at X1 or 0 for such items. The cells of a label: its characters less the hotkey mark (all of
// them with DIF_SHOWAMPERSAND).
int FarLabelLength(const std::wstring& AText, int64_t AFlags);
// The cells of a button: its label in FAR's brackets, "[ label ]", "{ label }" for the default
// button, none with DIF_NOBRACKETS.
int FarButtonLength(const std::wstring& AText, int64_t AFlags);
// What a centre-group member takes of its row: its label's cells (a button's with its brackets),
// and one cell after a button, five (the mark and one) after a check box or radio button, when it
// has a label.
int FarCentreGroupStep(int AType, const std::wstring& AText, int64_t AFlags);

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
  // Without a right edge of its own (X2 0 or not above X1) the text takes its label's cells.
  RECT GetFarRect() override;
  void UpdateSize(TqorShellUI& AUI) override;
  bool SingleLine() override { return true; }
  int GetMinHeight() override;
  using TqorWinControl::SetBounds;
  void SetBounds(const RECT& ARect) override;
  bool IsSeparator() const noexcept { return (FFlags & (DIF_SEPARATOR | DIF_SEPARATOR2)) != 0; }
  // A new label is measured again: it may be longer than the old one.
  void SetItemText(const std::wstring& AText) override;

 protected:
  void WndProc(TqorMessage& AMessage) override;
  void Paint(HDC ADC, const RECT& AClient) override;

 private:
  TqorFarDialog* FOwner;
  bool FLabelWidth = false;
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

  // ---- the session with the dialog procedure ----
  HANDLE DialogHandle() noexcept { return static_cast<HANDLE>(this); }
  int IndexOf(const IqorFarControl* AControl) const noexcept;
  // Item state kept apart from the plugin's array, which is never read again nor written.
  TFarDialogItem& Item(int AIndex) { return FItems.at(static_cast<size_t>(AIndex)).Item; }
  bool ValidIndex(intptr_t AIndex) const noexcept {
    return AIndex >= 0 && AIndex < static_cast<intptr_t>(FItems.size());
  }
  // Calls the procedure under the guard, or answers as DefDlgProc when there is none; once the
  // dialog has closed it is not called any more. A fault closes the dialog with -1.
  intptr_t Notify(intptr_t AMsg, intptr_t AParam1, void* AParam2);
  // DefDlgProc's answers.
  intptr_t DefaultAnswer(intptr_t AMsg, intptr_t AParam1, void* AParam2);
  // The DM_* commands a plugin sends (qorFarDlgMessagesW).
  intptr_t SendDlgMessage(intptr_t AMsg, intptr_t AParam1, void* AParam2);
  // DN_CLOSE with the exit code; true when the procedure agreed and the run ends with it.
  bool TryClose(intptr_t AExitCode);
  void ButtonPressed(int AIndex);
  // A new label may change the item's cells (buttons, check boxes, texts): laid out again.
  void ItemLabelChanged(int AIndex);
  void ItemFocused(int AIndex);
  void ItemTextChanged(int AIndex);
  bool CanFocus(int AIndex);
  // Moves the focus (with its notifications while the dialog is shown); true when it is there.
  bool FocusItem(int AIndex);
  int Focus() const noexcept { return FFocus; }
  bool Shown() const noexcept { return FShown; }
  // The lists exist from DN_INITDIALOG on; moves FAR makes itself are announced once it returned.
  bool ListsBuilt() const noexcept { return FInitialised; }
  bool InitDialogDone() const noexcept { return FInitDialogDone; }
  void SetItemEnabled(int AIndex, bool AEnabled);
  void SetItemVisible(int AIndex, bool AVisible);
  // The text DM_GETCONSTTEXTPTR hands out: it stays where it is until the item's text changes.
  const wchar_t* ConstText(int AIndex);
  intptr_t DlgData() const noexcept { return FDlgData; }
  void SetDlgData(intptr_t AData) noexcept { FDlgData = AData; }
  int EnableRedraw(intptr_t AParam);

 protected:
  void WndProc(TqorMessage& AMessage) override;
  void OnClose(TqorMessage& AMessage) override;

 private:
  struct item_state {
    TFarDialogItem Item{};  // Data, History and Mask point into the strings below
    std::wstring Text, History, Mask;
    std::wstring ConstText;
  };
  enum class proc_state { live, closed, faulted };

  RECT PixelRect(const RECT& ACells) const;
  void PlaceCentreGroup(const std::vector<IqorFarControl*>& AGroup);
  void EnterPressed();
  void MoveFocusOff(int AIndex);

  GUID FPluginID{};
  GUID FID{};
  int FFarWidth = 0;
  int FFarHeight = 0;
  std::vector<int> FLines;
  std::vector<int> FOffsets;
  TFarApiDialogProc FDlgProc = nullptr;
  void* FParam = nullptr;
  std::vector<IqorFarControl*> FFarControls;
  std::vector<item_state> FItems;
  intptr_t FDlgData = 0;
  int FFocus = -1;
  proc_state FProcState = proc_state::live;
  bool FInitialised = false;
  bool FInitDialogDone = false;
  bool FShown = false;
  bool FClosed = false;
  intptr_t FExitCode = -1;
  int FRedrawLock = 0;
  HWND FMnemonicAnchor = nullptr;
};

// The registry of live dialogs. Acquire answers a dialog the plugin still owns and keeps it alive
// until Release; Running also answers one freed while it runs (its procedure still talks to it).
TqorFarDialog* AcquireDialog(HANDLE AHandle) noexcept;
TqorFarDialog* RunningDialog(HANDLE AHandle) noexcept;
void ReleaseDialog(TqorFarDialog* ADialog) noexcept;

// Host entries for PluginStartupInfo.DialogInit, DialogRun and DialogFree.
HANDLE WINAPI FarApiDialogInit(const GUID* APluginId, const GUID* AId, intptr_t X1, intptr_t Y1,
                               intptr_t X2, intptr_t Y2, const wchar_t* AHelpTopic,
                               const TFarDialogItem* AItem, size_t AItemsNumber, intptr_t AReserved,
                               TFarFlags AFlags, TFarApiDialogProc ADlgProc, void* AParam);
intptr_t WINAPI FarApiDialogRun(HANDLE hDlg);
void WINAPI FarApiDialogFree(HANDLE hDlg);

}  // namespace qor
