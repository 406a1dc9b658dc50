// A message-box style form in the look of the system task dialog: a white primary panel with an
// optional icon, bold caption, message text and a content area of the descendant's; a one-pixel
// separator; a grey footer with an optional check box and a row of buttons. It sizes itself from
// its content and can watch a shell progress dialog, closing itself when the user cancels there.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "ui/qorShellForm.h"

namespace qor {

enum class TqorShellDialogIcon { diNone, diError, diQuestion, diWarning, diInformation };

// A footer button. Buttons of equal Tag get one common width; RightAlignment puts the button in
// the group that starts at the left margin.
class TqorShellDialogButton : public TqorButton {
 public:
  explicit TqorShellDialogButton(TqorComponent* AOwner, bool ADefault = false) : TqorButton(AOwner, ADefault) {}
  bool RightAlignment = false;
  int Tag = 0;
};

class TqorShellCustomDialogForm : public TqorShellUIForm {
 public:
  TqorShellCustomDialogForm(HWND AOwnerWnd, HWND APositionWnd);
  // Owned by the progress dialog's window when it has one; closes with the cancel (or the only
  // OK) button's result once the user cancels the progress dialog.
  TqorShellCustomDialogForm(IUnknown* AProgressDialog, HWND APositionWnd);
  ~TqorShellCustomDialogForm() override;

  void AfterConstruction() override;
  // ACheck (may be null) gives the check box its state before and takes it back after.
  virtual int ShowModal(bool* ACheck);
  int ShowModal() override { return ShowModal(nullptr); }
  // Beeps first for MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION or MB_ICONASTERISK.
  int ShowModal(UINT AMessageBeep, bool* ACheck);

  virtual int GetMinTextWidth();
  virtual int GetContentWidth();
  virtual HICON CreateMessageIcon(int ACx, int ACy);
  // Lays out the content in ARect (left, top, right given) and answers its bottom.
  virtual void UpdateContentBounds(RECT& ARect);
  // A stock icon of the shell, or the system icon; the caller owns it. 0 for diNone.
  static HICON CreateMessageStandardIcon(TqorShellDialogIcon AIconType, int ARecommendedWidth,
                                         int ARecommendedHeight) noexcept;

  // ADefault: the button Enter presses when no other button has the focus.
  TqorShellDialogButton* AddButton(const std::wstring& ACaption, int AModalResult, int ATag = 0,
                                   bool ARightAlignment = false, bool ADefault = false);
  TqorShellDialogButton* GetButton(int AIndex) const { return FButtons.at(static_cast<size_t>(AIndex)); }
  int ButtonCount() const noexcept { return static_cast<int>(FButtons.size()); }
  TqorCheckBox& CheckBox() noexcept { return *FCheckBox; }
  void SetMessageCaption(const std::wstring& AText) { FMessageCaption = AText; }
  void SetMessageText(const std::wstring& AText) { FMessageText = AText; }
  HTHEME Theme() const noexcept { return FTheme; }
  int SeparatorHeight() const noexcept { return FSeparatorHeight; }
  int PrimaryHeight() const noexcept { return FPrimaryHeight; }
  HICON MessageIcon() const noexcept { return FMessageIcon.get(); }
  // The control that takes the focus whenever the form is activated.
  void SetActiveControl(TqorWinControl* AControl) noexcept { FActiveControl = AControl; }

  void UpdateControlsSize() override;
  void UpdateControlsPos() override;
  void OpenTheme() override;
  void CloseTheme() override;

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void WndProc(TqorMessage& AMessage) override;
  void OnPaint(TqorMessage& AMessage) override;
  // The three bands, icon, texts and separators.
  virtual void Paint(HDC ADC);
  // y positions of separator lines that the content asks for, across the content area.
  std::vector<int>& Separators() noexcept { return FSeparators; }
  // The work area of the form's monitor (1024 by 768 without monitor information).
  SIZE WorkAreaSize();

 private:
  void CommonSetup();
  int ComputeWidth(HDC ADC, int ATextLeft, int& ARowWidth, bool& AAnyLeft);
  bool CheckBoxVisible() const;
  void FillBand(HDC ADC, int APart, int AColor, const RECT& ARect);
  void CheckCancel();

  IUnknown* FProgress = nullptr;
  IOperationsProgressDialog* FOperationsProgressDialog = nullptr;
  IProgressDialog* FProgressDialog = nullptr;
  TqorTimer* FCheckCancelTimer = nullptr;
  int FTimerModalResult = mrNone;
  HTHEME FTheme = nullptr;
  bool FDpiTheme = false;
  std::vector<int> FSeparators;
  int FSeparatorXOffset = 0;
  int FSeparatorWidth = 0;
  int FSeparatorHeight = 1;
  unique_icon FMessageIcon;
  int FMessageIconLeft = 0, FMessageIconTop = 0, FMessageIconWidth = 0, FMessageIconHeight = 0;
  TqorFont FMessageCaptionFont;
  COLORREF FMessageCaptionColor = CLR_INVALID;
  std::wstring FMessageCaption;
  RECT FMessageCaptionRect{};
  TqorFont FMessageTextFont;
  std::wstring FMessageText;
  RECT FMessageTextRect{};
  int FPrimaryHeight = 0;
  TqorCheckBox* FCheckBox = nullptr;
  std::vector<TqorShellDialogButton*> FButtons;
  TqorWinControl* FActiveControl = nullptr;
};

}  // namespace qor
