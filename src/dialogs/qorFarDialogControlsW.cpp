#include "dialogs/qorFarDialogControlsW.h"

#include <algorithm>

#include "common/qorPluginGuard.h"

namespace qor {

namespace {

int centred_top(const RECT& ARect, int AHeight) { return ARect.top + (ARect.bottom - ARect.top - AHeight) / 2; }

TqorFarDialog* dialog_of(TqorComponent* AControl) noexcept { return dynamic_cast<TqorFarDialog*>(AControl->Owner()); }

int index_of(TqorComponent* AControl, IqorFarControl* AFarControl) noexcept {
  TqorFarDialog* dialog = dialog_of(AControl);
  return dialog ? dialog->IndexOf(AFarControl) : -1;
}

// The focus reaches a control: the dialog notes it (and tells the procedure).
void report_focus(TqorComponent* AControl, IqorFarControl* AFarControl) {
  TqorFarDialog* dialog = dialog_of(AControl);
  const int index = index_of(AControl, AFarControl);
  if (dialog && index >= 0) dialog->ItemFocused(index);
}

void replace_button_kind(TqorCreateParams& AParams, DWORD AKind) { AParams.Style = (AParams.Style & ~0xFu) | AKind; }

// Entries longer than this are cut: no list text needs more, and a missing NUL must end somewhere.
constexpr size_t MaxListText = 32768;
constexpr size_t MaxListEntries = 1u << 20;

struct list_request {
  const TFarList* List;
  std::vector<TqorFarListEntry>* Out;
  bool Failed;
};

}  // namespace

std::vector<TqorFarListEntry> ReadFarList(const TFarList* AList) noexcept {
  std::vector<TqorFarListEntry> entries;
  if (!AList) return entries;
  list_request request{AList, &entries, false};
  const DWORD code = RunGuarded(
      [](void* AContext) noexcept {
        auto& r = *static_cast<list_request*>(AContext);
        try {
          const size_t count = r.List->ItemsNumber;
          const TFarListItem* items = r.List->Items;
          if (!items || count > MaxListEntries) return;
          for (size_t i = 0; i < count; ++i) {
            TqorFarListEntry entry;
            entry.Flags = items[i].Flags;
            entry.UserData = items[i].UserData;
            if (const wchar_t* text = items[i].Text) {
              size_t length = 0;
              while (length < MaxListText && text[length]) ++length;
              entry.Text.assign(text, length);
            }
            r.Out->push_back(std::move(entry));
          }
        } catch (...) {
          r.Failed = true;
        }
      },
      &request);
  if (code != 0 || request.Failed) entries.clear();
  return entries;
}

// ---- TqorFarListItems ----

void TqorFarListItems::SetEntries(std::vector<TqorFarListEntry> AEntries) {
  FEntries = std::move(AEntries);
  FPosition = FEntries.empty() ? -1 : 0;
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].Flags & LIF_SELECTED) {
      FPosition = static_cast<intptr_t>(i);
      break;
    }
}

intptr_t TqorFarListItems::SetPositionNotified(intptr_t APosition) {
  if (FEntries.empty()) return -1;
  const intptr_t position = std::clamp<intptr_t>(APosition, 0, static_cast<intptr_t>(FEntries.size()) - 1);
  if (position != FPosition) {
    TqorFarDialog* dialog = Dialog();
    if (!dialog || dialog->Notify(DN_LISTCHANGE, ItemIndex(), reinterpret_cast<void*>(position)) != 0)
      FPosition = position;
  }
  ShowPosition();
  return FPosition;
}

// ---- edits ----

void TqorFarEdit::Init(const TFarDialogItem& AItem) {
  InitData(AItem, false);
  SetText(FarItemText(AItem));
  if (GetType() == DI_FIXEDIT)
    FMaxLength = std::max<intptr_t>(1, AItem.X2 - AItem.X1 + 1);
  else
    FMaxLength = AItem.MaxLength > 0 ? static_cast<intptr_t>(AItem.MaxLength) : -1;
}

void TqorFarEdit::SetBounds(const RECT& ARect) {
  TqorWinControl::SetBounds(ARect.left, centred_top(ARect, Height()), ARect.right - ARect.left, Height());
}

void TqorFarEdit::CreateParams(TqorCreateParams& AParams) {
  TqorEdit::CreateParams(AParams);
  if (FFlags & DIF_READONLY) AParams.Style |= ES_READONLY;
}

void TqorFarEdit::HandleCreated() {
  TqorEdit::HandleCreated();
  SetMaxLength(FMaxLength);
}

void TqorFarEdit::SetMaxLength(intptr_t AValue) {
  FMaxLength = AValue > 0 ? AValue : -1;
  // 0 asks the edit for its own (largest) limit.
  if (HWND wnd = HandleIfExists()) ::SendMessageW(wnd, EM_LIMITTEXT, FMaxLength > 0 ? FMaxLength : 0, 0);
}

void TqorFarEdit::SetItemText(const std::wstring& AText) {
  FSettingText = true;
  SetText(AText);
  FSettingText = false;
}

void TqorFarEdit::WndProc(TqorMessage& AMessage) {
  TqorEdit::WndProc(AMessage);
  if (AMessage.Msg == WM_SETFOCUS) report_focus(this, this);
}

void TqorFarEdit::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode != EN_CHANGE || FSettingText) return;
  if (TqorFarDialog* dialog = dialog_of(this)) dialog->ItemTextChanged(dialog->IndexOf(this));
}

void TqorFarPswEdit::CreateParams(TqorCreateParams& AParams) {
  TqorFarEdit::CreateParams(AParams);
  AParams.Style |= ES_PASSWORD;
}

// ---- buttons ----

void TqorFarButton::Init(const TFarDialogItem& AItem) {
  InitData(AItem, false);
  SetCaption(FarItemText(AItem));
}

RECT TqorFarButton::GetFarRect() {
  RECT rect = FFarRect;
  rect.right = rect.left + FarButtonLength(Caption(), FFlags);
  return rect;
}

void TqorFarButton::SetBounds(const RECT& ARect) {
  TqorWinControl::SetBounds(ARect.left, centred_top(ARect, Height()), ARect.right - ARect.left, Height());
}

void TqorFarButton::CreateParams(TqorCreateParams& AParams) {
  TqorButton::CreateParams(AParams);
  replace_button_kind(AParams, (FFlags & static_cast<int64_t>(DIF_DEFAULTBUTTON)) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
}

void TqorFarButton::WndProc(TqorMessage& AMessage) {
  TqorButton::WndProc(AMessage);
  if (AMessage.Msg == WM_SETFOCUS) report_focus(this, this);
}

// The dialog decides what a press means: DN_BTNCLICK first, then perhaps the end of the run.
void TqorFarButton::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode != BN_CLICKED) return;
  if (TqorFarDialog* dialog = dialog_of(this)) dialog->ButtonPressed(dialog->IndexOf(this));
}

// ---- check boxes and radio buttons ----

void TqorFarCheckBox::Init(const TFarDialogItem& AItem) {
  InitData(AItem, false);
  SetCaption(FarItemText(AItem));
  FState = std::clamp<intptr_t>(AItem.Selected, 0, GetType() == DI_RADIOBUTTON ? 1 : 2);
}

RECT TqorFarCheckBox::GetFarRect() {
  RECT rect = FFarRect;
  const int mark = GetType() == DI_RADIOBUTTON && (FFlags & DIF_MOVESELECT) ? 3 : 4;
  rect.right = rect.left + FarLabelLength(Caption(), FFlags) + mark;
  return rect;
}

void TqorFarCheckBox::SetBounds(const RECT& ARect) {
  TqorWinControl::SetBounds(ARect.left, centred_top(ARect, Height()), Width(), Height());
}

// Not an automatic box: the state changes only when the procedure accepts it.
void TqorFarCheckBox::CreateParams(TqorCreateParams& AParams) {
  TqorCheckBox::CreateParams(AParams);
  replace_button_kind(AParams, BS_3STATE);
}

void TqorFarCheckBox::HandleCreated() { ::SendMessageW(HandleIfExists(), BM_SETCHECK, static_cast<WPARAM>(FState), 0); }

intptr_t TqorFarCheckBox::SetCheck(intptr_t AState) {
  const intptr_t previous = FState;
  FState = AState;
  if (HWND wnd = HandleIfExists()) ::SendMessageW(wnd, BM_SETCHECK, static_cast<WPARAM>(FState), 0);
  return previous;
}

void TqorFarCheckBox::WndProc(TqorMessage& AMessage) {
  TqorCheckBox::WndProc(AMessage);
  if (AMessage.Msg == WM_SETFOCUS) report_focus(this, this);
}

// FAR's cycle: 0, 1 and with DIF_3STATE 2, then 0 again.
void TqorFarCheckBox::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode != BN_CLICKED) return;
  const intptr_t next = (FFlags & static_cast<int64_t>(DIF_3STATE)) ? (FState + 1) % 3 : (FState == 0 ? 1 : 0);
  TqorFarDialog* dialog = dialog_of(this);
  if (!dialog || dialog->Notify(DN_BTNCLICK, dialog->IndexOf(this), reinterpret_cast<void*>(next)) != 0)
    SetCheck(next);
}

void TqorFarRadioButton::CreateParams(TqorCreateParams& AParams) {
  TqorCheckBox::CreateParams(AParams);
  replace_button_kind(AParams, BS_RADIOBUTTON);
}

void TqorFarRadioButton::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode == BN_CLICKED && FState == 0) CheckInGroup(false);
}

std::vector<TqorFarRadioButton*> TqorFarRadioButton::Group() {
  std::vector<TqorFarRadioButton*> group;
  TqorFarDialog* dialog = dialog_of(this);
  const int self = dialog ? dialog->IndexOf(this) : -1;
  if (self < 0) return {this};
  auto radio = [&](int AIndex) -> TqorFarRadioButton* {
    if (AIndex < 0 || AIndex >= dialog->FarControlCount()) return nullptr;
    IqorFarControl* control = dialog->GetFarControl(AIndex);
    return control->GetType() == DI_RADIOBUTTON ? static_cast<TqorFarRadioButton*>(control) : nullptr;
  };
  int first = self;
  while (!(radio(first)->FFlags & static_cast<int64_t>(DIF_GROUP)) && radio(first - 1)) --first;
  for (int i = first; radio(i) && (i == first || !(radio(i)->FFlags & static_cast<int64_t>(DIF_GROUP))); ++i)
    group.push_back(radio(i));
  return group;
}

intptr_t TqorFarRadioButton::CheckInGroup(bool AClearGroup) {
  TqorFarDialog* dialog = dialog_of(this);
  if (!dialog) return -1;
  TqorFarRadioButton* previous = nullptr;
  for (TqorFarRadioButton* radio : Group())
    if (radio->FState != 0) previous = radio;
  const intptr_t previous_index = previous ? dialog->IndexOf(previous) : -1;
  if (AClearGroup) {
    if (previous && dialog->Notify(DN_BTNCLICK, previous_index, nullptr) != 0) previous->SetCheck(0);
    return previous && previous->FState ? previous_index : -1;
  }
  if (previous == this) return previous_index;
  const intptr_t self = dialog->IndexOf(this);
  // Both halves of the pair must be accepted, else the old state stays.
  if (previous && dialog->Notify(DN_BTNCLICK, previous_index, nullptr) == 0) return previous_index;
  if (dialog->Notify(DN_BTNCLICK, self, reinterpret_cast<void*>(1)) == 0) return previous_index;
  if (previous) previous->SetCheck(0);
  SetCheck(1);
  return self;
}

// ---- combo box ----

TqorFarComboBox::TqorFarComboBox(TqorComponent* AOwner)
    : TqorFarItemControl(AOwner, L"COMBOBOX", WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL) {}

void TqorFarComboBox::Init(const TFarDialogItem& AItem) {
  InitData(AItem, false);
  FMaxLength = AItem.MaxLength > 0 ? static_cast<intptr_t>(AItem.MaxLength) : -1;
  SetEntries(ReadFarList(AItem.ListItems));
  FText = FarItemText(AItem);
  // An empty field takes the selected entry's text, and a drop-down list always shows it.
  const bool follows = (FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST)) != 0;
  if ((follows || FText.empty()) && FPosition >= 0 && (follows || (FEntries[FPosition].Flags & LIF_SELECTED)))
    FText = FEntries[static_cast<size_t>(FPosition)].Text;
}

void TqorFarComboBox::CreateParams(TqorCreateParams& AParams) {
  TqorSystemControl::CreateParams(AParams);
  AParams.Style |= (FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST)) ? CBS_DROPDOWNLIST : CBS_DROPDOWN;
}

void TqorFarComboBox::HandleCreated() {
  HWND wnd = HandleIfExists();
  FSettingText = true;
  for (const TqorFarListEntry& entry : FEntries) ::SendMessageW(wnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Text.c_str()));
  ::SendMessageW(wnd, CB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
  if (!(FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST))) {
    ::SendMessageW(wnd, CB_LIMITTEXT, FMaxLength > 0 ? FMaxLength : 0, 0);
    ::SetWindowTextW(wnd, FText.c_str());
    if (FFlags & static_cast<int64_t>(DIF_READONLY))
      if (HWND edit = ::FindWindowExW(wnd, nullptr, L"EDIT", nullptr)) ::SendMessageW(edit, EM_SETREADONLY, TRUE, 0);
  }
  FSettingText = false;
}

void TqorFarComboBox::UpdateSize(TqorShellUI&) {
  // The window rectangle of a combo box is its closed field; the height it is given is the list's.
  FFieldHeight = Height();
}

void TqorFarComboBox::SetBounds(const RECT& ARect) {
  const int visible_rows = static_cast<int>(std::clamp<size_t>(FEntries.size(), 1, 8));
  TqorWinControl::SetBounds(ARect.left, centred_top(ARect, FFieldHeight), ARect.right - ARect.left,
                            FFieldHeight * (visible_rows + 1) + 2);
}

// A drop-down list's field keeps its text when the list loses its current entry.
std::wstring TqorFarComboBox::GetItemText() {
  return HandleAllocated() && !(FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST)) ? Caption() : FText;
}

void TqorFarComboBox::SetItemText(const std::wstring& AText) {
  FText = AText;
  FSettingText = true;
  if (FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST)) {
    for (size_t i = 0; i < FEntries.size(); ++i)
      if (FEntries[i].Text == AText) FPosition = static_cast<intptr_t>(i);
    ShowPosition();
  } else if (HWND wnd = HandleIfExists()) {
    ::SetWindowTextW(wnd, AText.c_str());
  }
  FSettingText = false;
}

void TqorFarComboBox::SetMaxLength(intptr_t AValue) {
  FMaxLength = AValue > 0 ? AValue : -1;
  if (HWND wnd = HandleIfExists()) ::SendMessageW(wnd, CB_LIMITTEXT, FMaxLength > 0 ? FMaxLength : 0, 0);
}

void TqorFarComboBox::OnCommand(WORD ANotifyCode) {
  TqorFarDialog* dialog = Dialog();
  if (!dialog || FSettingText) return;
  switch (ANotifyCode) {
    case CBN_SETFOCUS: dialog->ItemFocused(ItemIndex()); break;
    case CBN_EDITCHANGE: dialog->ItemTextChanged(ItemIndex()); break;
    case CBN_SELCHANGE: {
      const LRESULT chosen = ::SendMessageW(HandleIfExists(), CB_GETCURSEL, 0, 0);
      if (chosen >= 0 && chosen != FPosition) SetPositionNotified(chosen);
      break;
    }
    default: break;
  }
}

void TqorFarComboBox::ShowPosition() {
  if (FPosition >= 0 && (FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST))) FText = FEntries[static_cast<size_t>(FPosition)].Text;
  HWND wnd = HandleIfExists();
  if (!wnd || ::SendMessageW(wnd, CB_GETCURSEL, 0, 0) == FPosition) return;
  const bool setting = FSettingText;
  FSettingText = true;
  ::SendMessageW(wnd, CB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
  FSettingText = setting;
}

void TqorFarComboBox::ShowEntries() {
  if (FPosition >= 0 && (FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST))) FText = FEntries[static_cast<size_t>(FPosition)].Text;
  HWND wnd = HandleIfExists();
  if (!wnd) return;
  const bool setting = FSettingText;
  FSettingText = true;
  // Selecting an entry would overwrite an editable field, which keeps its text.
  const std::wstring field = GetItemText();
  ::SendMessageW(wnd, CB_RESETCONTENT, 0, 0);
  for (const TqorFarListEntry& entry : FEntries) ::SendMessageW(wnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Text.c_str()));
  ::SendMessageW(wnd, CB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
  if (!(FFlags & static_cast<int64_t>(DIF_DROPDOWNLIST))) ::SetWindowTextW(wnd, field.c_str());
  FSettingText = setting;
}

int TqorFarComboBox::ItemIndex() { return index_of(this, this); }
TqorFarDialog* TqorFarComboBox::Dialog() { return dialog_of(this); }

// ---- list box ----

TqorFarListBox::TqorFarListBox(TqorComponent* AOwner)
    : TqorFarItemControl(AOwner, L"LISTBOX", WS_TABSTOP | WS_VSCROLL | WS_BORDER | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT) {}

void TqorFarListBox::Init(const TFarDialogItem& AItem) {
  InitData(AItem, true);
  FTitle = FarItemText(AItem);
  SetEntries(ReadFarList(AItem.ListItems));
}

void TqorFarListBox::HandleCreated() {
  HWND wnd = HandleIfExists();
  for (const TqorFarListEntry& entry : FEntries) ::SendMessageW(wnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Text.c_str()));
  ::SendMessageW(wnd, LB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
}

void TqorFarListBox::SetBounds(const RECT& ARect) {
  TqorWinControl::SetBounds(ARect.left, ARect.top, ARect.right - ARect.left, ARect.bottom - ARect.top);
}

std::wstring TqorFarListBox::GetItemText() {
  return FPosition >= 0 ? FEntries[static_cast<size_t>(FPosition)].Text : std::wstring();
}

void TqorFarListBox::SetItemText(const std::wstring& AText) {
  if (FPosition < 0) return;
  FEntries[static_cast<size_t>(FPosition)].Text = AText;
  if (HWND wnd = HandleIfExists()) {
    ::SendMessageW(wnd, LB_DELETESTRING, static_cast<WPARAM>(FPosition), 0);
    ::SendMessageW(wnd, LB_INSERTSTRING, static_cast<WPARAM>(FPosition), reinterpret_cast<LPARAM>(AText.c_str()));
    ::SendMessageW(wnd, LB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
  }
}

void TqorFarListBox::WndProc(TqorMessage& AMessage) {
  TqorSystemControl::WndProc(AMessage);
  if (AMessage.Msg == WM_SETFOCUS) report_focus(this, this);
}

void TqorFarListBox::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode != LBN_SELCHANGE) return;
  const LRESULT chosen = ::SendMessageW(HandleIfExists(), LB_GETCURSEL, 0, 0);
  if (chosen >= 0 && chosen != FPosition) SetPositionNotified(chosen);
}

void TqorFarListBox::ShowPosition() {
  if (HWND wnd = HandleIfExists()) ::SendMessageW(wnd, LB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
}

void TqorFarListBox::ShowEntries() {
  HWND wnd = HandleIfExists();
  if (!wnd) return;
  ::SendMessageW(wnd, LB_RESETCONTENT, 0, 0);
  for (const TqorFarListEntry& entry : FEntries) ::SendMessageW(wnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Text.c_str()));
  ::SendMessageW(wnd, LB_SETCURSEL, static_cast<WPARAM>(FPosition), 0);
}

int TqorFarListBox::ItemIndex() { return index_of(this, this); }
TqorFarDialog* TqorFarListBox::Dialog() { return dialog_of(this); }

}  // namespace qor
