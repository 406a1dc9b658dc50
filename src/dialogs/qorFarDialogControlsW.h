// The interactive item controls of a plugin dialog: edits (plain, fixed, password), buttons,
// check boxes with FAR's third state, radio groups, combo and list boxes, and the single box.
// Each keeps FAR's state of its item and turns its own native notifications into the dialog
// procedure's session through the dialog form.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/qorFarDialogW.h"

namespace qor {

// One entry of a combo or list box as FAR keeps it.
struct TqorFarListEntry {
  TFarFlags Flags = 0;
  std::wstring Text;
  intptr_t UserData = 0;
  std::vector<unsigned char> Data;  // DM_LISTSETDATA's bytes
};

// The entries of a list and its current position (-1: none), kept while the window comes and goes.
class TqorFarListItems {
 public:
  virtual ~TqorFarListItems() = default;
  const std::vector<TqorFarListEntry>& Entries() const noexcept { return FEntries; }
  intptr_t Position() const noexcept { return FPosition; }
  // Moves the current position (clamped) with DN_LISTCHANGE; the procedure may refuse.
  intptr_t SetPositionNotified(intptr_t APosition);
  // The entries of a FarList; the first LIF_SELECTED one is current, else the first.
  void SetEntries(std::vector<TqorFarListEntry> AEntries);

  // What the list messages (qorFarListMessagesW) change: the entries and the current position
  // as they stand, shown again afterwards with ShowEntries; the titles.
  std::vector<TqorFarListEntry>& EditEntries() noexcept { return FEntries; }
  void SetPositionQuiet(intptr_t APosition) noexcept { FPosition = APosition; }
  // The window shows the entries and the position again; a drop-down list's field takes the
  // current entry's text.
  virtual void ShowEntries() = 0;
  std::wstring Title, Bottom;

 protected:
  virtual void ShowPosition() = 0;
  virtual int ItemIndex() = 0;
  virtual TqorFarDialog* Dialog() = 0;
  std::vector<TqorFarListEntry> FEntries;
  intptr_t FPosition = -1;
};

// What every interactive item control answers alike: its window, flags and cells, the focus, one
// row of its own height.
template <class TBase>
class TqorFarItemControl : public TBase, public IqorFarControl, protected TqorFarControlData {
 public:
  using TBase::TBase;
  TqorWinControl* GetVclControl() override { return this; }
  int64_t GetFlags() override { return FFlags; }
  RECT GetFarRect() override { return FFarRect; }
  bool CanTabStop() override { return true; }
  void SetFocus() override { ::SetFocus(this->Handle()); }
  bool SingleLine() override { return true; }
  int GetMinHeight() override { return this->Height() + 2; }
  using TqorWinControl::SetBounds;
};

class TqorFarEdit : public TqorFarItemControl<TqorEdit> {
 public:
  using TqorFarItemControl::TqorFarItemControl;
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_EDIT; }
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetEditHeight(*this); }
  void SetBounds(const RECT& ARect) override;
  void SetItemText(const std::wstring& AText) override;
  intptr_t GetMaxLength() override { return FMaxLength; }
  void SetMaxLength(intptr_t AValue) override;

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void HandleCreated() override;
  void WndProc(TqorMessage& AMessage) override;
  void OnCommand(WORD ANotifyCode) override;

 private:
  intptr_t FMaxLength = -1;
  bool FSettingText = false;
};

class TqorFarFixedEdit : public TqorFarEdit {
 public:
  using TqorFarEdit::TqorFarEdit;
  int GetType() override { return DI_FIXEDIT; }
};

// Typed characters are shown masked.
class TqorFarPswEdit : public TqorFarEdit {
 public:
  using TqorFarEdit::TqorFarEdit;
  int GetType() override { return DI_PSWEDIT; }

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
};

class TqorFarButton : public TqorFarItemControl<TqorButton> {
 public:
  explicit TqorFarButton(TqorComponent* AOwner) : TqorFarItemControl(AOwner, false) {}
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_BUTTON; }
  // As wide as its label in FAR's brackets, whatever X2 says.
  RECT GetFarRect() override;
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetButtonSize(*this); }
  void SetBounds(const RECT& ARect) override;

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void WndProc(TqorMessage& AMessage) override;
  void OnCommand(WORD ANotifyCode) override;
};

// A check box whose state is FAR's: 0, 1 or 2 (the third state with DIF_3STATE; DM_SETCHECK
// may store it without).
class TqorFarCheckBox : public TqorFarItemControl<TqorCheckBox> {
 public:
  explicit TqorFarCheckBox(TqorComponent* AOwner, bool ARadio = false) : TqorFarItemControl(AOwner, ARadio) {}
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_CHECKBOX; }
  // Its label and the mark ("[x] "), whatever X2 says; a radio button's "( ) ", or "() " with
  // DIF_MOVESELECT.
  RECT GetFarRect() override;
  void UpdateSize(TqorShellUI& AUI) override { AUI.SetCheckBoxSize(*this); }
  void SetBounds(const RECT& ARect) override;
  intptr_t GetCheck() override { return FState; }
  intptr_t SetCheck(intptr_t AState) override;

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void HandleCreated() override;
  void WndProc(TqorMessage& AMessage) override;
  void OnCommand(WORD ANotifyCode) override;
  intptr_t FState = 0;
};

// A radio button; its group is the run of radio items that starts at one with DIF_GROUP.
class TqorFarRadioButton : public TqorFarCheckBox {
 public:
  explicit TqorFarRadioButton(TqorComponent* AOwner) : TqorFarCheckBox(AOwner, true) {}
  int GetType() override { return DI_RADIOBUTTON; }
  // Checks this radio and clears the rest of its group, or clears the whole group, with the
  // DN_BTNCLICK pair the procedure may refuse. Answers the index of the radio now checked (-1).
  intptr_t CheckInGroup(bool AClearGroup);

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void OnCommand(WORD ANotifyCode) override;

 private:
  std::vector<TqorFarRadioButton*> Group();
};

class TqorFarSingleBox : public TqorFarDoubleBox {
 public:
  using TqorFarDoubleBox::TqorFarDoubleBox;
  int GetType() override { return DI_SINGLEBOX; }
};

// Editable combo box, or a drop-down list with DIF_DROPDOWNLIST.
class TqorFarComboBox : public TqorFarItemControl<TqorSystemControl>, public TqorFarListItems {
 public:
  explicit TqorFarComboBox(TqorComponent* AOwner);
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_COMBOBOX; }
  void UpdateSize(TqorShellUI& AUI) override;
  int GetMinHeight() override { return FFieldHeight + 2; }
  void SetBounds(const RECT& ARect) override;
  std::wstring GetItemText() override;
  void SetItemText(const std::wstring& AText) override;
  intptr_t GetMaxLength() override { return (FFlags & DIF_DROPDOWNLIST) ? 0 : FMaxLength; }
  void SetMaxLength(intptr_t AValue) override;
  TqorFarListItems* GetList() override { return this; }

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void HandleCreated() override;
  void OnCommand(WORD ANotifyCode) override;
  void ShowPosition() override;
  int ItemIndex() override;
  TqorFarDialog* Dialog() override;

 public:
  void ShowEntries() override;

 private:
  std::wstring FText;
  intptr_t FMaxLength = -1;
  int FFieldHeight = 0;
  bool FSettingText = false;
};

class TqorFarListBox : public TqorFarItemControl<TqorSystemControl>, public TqorFarListItems {
 public:
  explicit TqorFarListBox(TqorComponent* AOwner);
  void Init(const TFarDialogItem& AItem) override;
  int GetType() override { return DI_LISTBOX; }
  void UpdateSize(TqorShellUI&) override {}
  bool SingleLine() override { return false; }
  int GetMinHeight() override { return 0; }
  void SetBounds(const RECT& ARect) override;
  // The current entry's text.
  std::wstring GetItemText() override;
  void SetItemText(const std::wstring& AText) override;
  TqorFarListItems* GetList() override { return this; }

 protected:
  void HandleCreated() override;
  void WndProc(TqorMessage& AMessage) override;
  void OnCommand(WORD ANotifyCode) override;
  void ShowPosition() override;
  int ItemIndex() override;
  TqorFarDialog* Dialog() override;

 public:
  void ShowEntries() override;

 private:
  std::wstring FTitle;
};

// The entries of the FarList behind ListItems, read from plugin memory under the guard; a list
// that cannot be read counts as none.
std::vector<TqorFarListEntry> ReadFarList(const TFarList* AList) noexcept;

}  // namespace qor
