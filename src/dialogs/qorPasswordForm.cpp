#include "dialogs/qorPasswordForm.h"

#include <windows.h>

#include <functional>
#include <string>
#include <utility>

#include "ui/qorShellDialogs.h"
#include "ui/qorShellForm.h"

namespace qor {

namespace {

constexpr wchar_t kCaption[] = L"Wexlor";
constexpr wchar_t kPasswordLabel[] = L"Password for the new archive:";
constexpr wchar_t kConfirmationLabel[] = L"Confirm the password:";
constexpr wchar_t kDiffer[] = L"The passwords differ.";
constexpr wchar_t kEmpty[] = L"Enter a password.";
// Width of the edits in average characters.
constexpr int kEditChars = 40;

// Copies of the password are overwritten before their memory goes back to the heap.
void wipe(std::wstring& AText) noexcept {
  if (!AText.empty()) ::SecureZeroMemory(AText.data(), AText.size() * sizeof(wchar_t));
  AText.clear();
}

std::wstring edit_text(HWND AEdit) {
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(AEdit)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(AEdit, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A masked edit that tells when the user changes its text.
class TMaskedEdit : public TqorSystemControl {
 public:
  explicit TMaskedEdit(TqorComponent* AOwner)
      : TqorSystemControl(AOwner, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, WS_EX_CLIENTEDGE) {}
  std::function<void()> OnChange;

 protected:
  void OnCommand(WORD ANotifyCode) override {
    if (ANotifyCode == EN_CHANGE && OnChange) OnChange();
  }
};

class TqorPasswordForm : public TqorShellCustomDialogForm {
 public:
  explicit TqorPasswordForm(HWND AOwnerWnd) : TqorShellCustomDialogForm(AOwnerWnd, nullptr) {
    SetCaption(kCaption);
    FPasswordLabel = add_line(kPasswordLabel);
    FPassword = add_edit();
    FConfirmationLabel = add_line(kConfirmationLabel);
    FConfirmation = add_edit();
    FProblem = add_line(L"");
    AddButton(L"OK", mrNone, 0, false, true)->OnClick = [this] { Accept(); };
    AddButton(L"Cancel", mrCancel);
  }
  ~TqorPasswordForm() override { wipe(FAccepted); }

  // True with APassword set once the user confirmed one.
  bool Run(std::wstring& APassword) {
    // Esc finds Cancel by its id, Enter OK.
    ::SetWindowLongPtrW(GetButton(0)->Handle(), GWLP_ID, IDOK);
    ::SetWindowLongPtrW(GetButton(1)->Handle(), GWLP_ID, IDCANCEL);
    SetActiveControl(FPassword);
    if (ShowModal(nullptr) != mrOk) return false;
    APassword.swap(FAccepted);
    return true;
  }

  int GetContentWidth() override { return 2 * UI().DialogMargin().cx + UI().Width(kEditChars); }

  void UpdateControlsSize() override {
    TqorShellCustomDialogForm::UpdateControlsSize();
    UI().SetEditHeight(*FPassword);
    UI().SetEditHeight(*FConfirmation);
  }

  void UpdateContentBounds(RECT& ARect) override {
    const int width = ARect.right - ARect.left;
    const int line = UI().Height(1);
    int y = ARect.top;
    for (auto [label, edit] : {std::pair{FPasswordLabel, FPassword}, std::pair{FConfirmationLabel, FConfirmation}}) {
      label->SetBounds(ARect.left, y, width, line);
      y += line + UI().LabelControlSpacing().cy;
      edit->SetBounds(ARect.left, y, width, edit->Height());
      y += edit->Height() + UI().RelatedControlsSpacing().cy;
    }
    // The line keeps its place while empty: the form does not jump when it speaks.
    FProblem->SetBounds(ARect.left, y, width, line);
    ARect.bottom = y + line + UI().UnrelatedControlsSpacing().cy;
  }

 protected:
  void WndProc(TqorMessage& AMessage) override {
    // Enter without a default button in reach arrives as IDOK without a control.
    if (AMessage.Msg == WM_COMMAND && AMessage.LParam == 0 && LOWORD(AMessage.WParam) == IDOK) {
      Accept();
      AMessage.Result = 0;
      return;
    }
    TqorShellCustomDialogForm::WndProc(AMessage);
  }

 private:
  TqorSystemControl* add_line(const wchar_t* AText) {
    auto* line = new TqorSystemControl(this, L"STATIC", SS_LEFT | SS_NOPREFIX);
    line->SetCaption(AText);
    line->SetParent(this);
    return line;
  }

  TMaskedEdit* add_edit() {
    auto* edit = new TMaskedEdit(this);
    edit->OnChange = [this] { FProblem->SetCaption(L""); };
    edit->SetParent(this);
    return edit;
  }

  void Accept() {
    std::wstring password = edit_text(FPassword->Handle());
    std::wstring confirmation = edit_text(FConfirmation->Handle());
    const bool differ = password != confirmation;
    wipe(confirmation);
    if (differ || password.empty()) {
      wipe(password);
      FProblem->SetCaption(differ ? kDiffer : kEmpty);
      // The user goes on where the fault shows: the confirmation when they differ.
      TMaskedEdit* again = differ ? FConfirmation : FPassword;
      SetActiveControl(again);
      ::SetFocus(again->Handle());
      ::SendMessageW(again->Handle(), EM_SETSEL, 0, -1);
      return;
    }
    wipe(FAccepted);
    FAccepted.swap(password);
    SetModalResult(mrOk);
  }

  TqorSystemControl* FPasswordLabel = nullptr;
  TMaskedEdit* FPassword = nullptr;
  TqorSystemControl* FConfirmationLabel = nullptr;
  TMaskedEdit* FConfirmation = nullptr;
  TqorSystemControl* FProblem = nullptr;
  std::wstring FAccepted;
};

}  // namespace

bool AskNewArchivePassword(std::wstring& APassword) {
  std::wstring password;
  if (!MakeForm<TqorPasswordForm>(CallerOwnerWindow())->Run(password)) return false;
  APassword.swap(password);
  wipe(password);
  return true;
}

}  // namespace qor
