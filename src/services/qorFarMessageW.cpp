#include "services/qorFarMessageW.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "common/qorPluginGuard.h"
#include "common/qorUserStop.h"
#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellDialogs.h"

namespace qor {

namespace {

// Buttons answer their index through modal results clear of mrOk and mrCancel, and carry control
// ids clear of IDOK and IDCANCEL, so that Esc never reads as a button.
constexpr int ButtonResultBase = 100;
constexpr int ButtonIdBase = 100;
constexpr wchar_t SingleSeparator = L'\x01';
constexpr wchar_t DoubleSeparator = L'\x02';

// FAR's own English texts of its standard buttons; plugins compare only indices.
const wchar_t* const kOk = L"OK";
const wchar_t* const kCancel = L"Cancel";
const wchar_t* const kAbort = L"Abort";
const wchar_t* const kRetry = L"Retry";
const wchar_t* const kIgnore = L"Ignore";
const wchar_t* const kYes = L"Yes";
const wchar_t* const kNo = L"No";

std::vector<std::wstring> standard_set(TFarFlags AFlags) {
  switch (AFlags & FMSG_MB_MASK) {
    case FMSG_MB_OK: return {kOk};
    case FMSG_MB_OKCANCEL: return {kOk, kCancel};
    case FMSG_MB_ABORTRETRYIGNORE: return {kAbort, kRetry, kIgnore};
    case FMSG_MB_YESNO: return {kYes, kNo};
    case FMSG_MB_YESNOCANCEL: return {kYes, kNo, kCancel};
    case FMSG_MB_RETRYCANCEL: return {kRetry, kCancel};
    default: return {};
  }
}

// As in the system's message boxes, the choices get accelerators; OK and Cancel have Enter and Esc.
std::vector<std::wstring> standard_buttons(TFarFlags AFlags) {
  std::vector<std::wstring> buttons = standard_set(AFlags);
  TqorShellAmpersands letters;
  for (std::wstring& label : buttons)
    if (label != kOk && label != kCancel) letters.FindAndSetLetterBusyByString(label);
  return buttons;
}

bool has_standard_buttons(TFarFlags AFlags) {
  const TFarFlags set = AFlags & FMSG_MB_MASK;
  return set >= FMSG_MB_OK && set <= FMSG_MB_RETRYCANCEL;
}

// The strings of a call, read from plugin memory under the fault guard: a bad pointer ends the
// call with nothing shown, not the file manager.
bool read_strings(const wchar_t* const* AItems, size_t ACount, bool AAllInOne, std::vector<std::wstring>& AOut) {
  if (AAllInOne) {
    // One text, lines cut at '\n'; one trailing '\n' ends the last line, empty pieces stay.
    std::wstring text;
    if (!CopyPluginText(reinterpret_cast<const wchar_t*>(AItems), text)) return false;
    if (!text.empty() && text.back() == L'\n') text.pop_back();
    size_t start = 0;
    for (;;) {
      const size_t cut = text.find(L'\n', start);
      AOut.push_back(text.substr(start, cut == std::wstring::npos ? std::wstring::npos : cut - start));
      if (cut == std::wstring::npos) return true;
      start = cut + 1;
    }
  }
  for (size_t i = 0; i < ACount; ++i) {
    const wchar_t* item = nullptr;
    std::wstring text;
    if (!CopyPluginMemory(&item, AItems + i, sizeof(item)) || !CopyPluginText(item, text)) return false;
    AOut.push_back(std::move(text));
  }
  return true;
}

bool is_separator(const std::wstring& ALine) {
  return !ALine.empty() && (ALine[0] == SingleSeparator || ALine[0] == DoubleSeparator);
}

// A prompt of the host's own on the calling thread: no owner window, like the host warning box,
// unless a form of ours is calling the plugin. Enter presses the focused button, else the first one.
class TqorFarPromptForm : public TqorShellCustomDialogForm {
 public:
  TqorFarPromptForm() : TqorShellCustomDialogForm(ThreadOwnerWindow(), static_cast<HWND>(nullptr)) {}

 protected:
  void WndProc(TqorMessage& AMessage) override {
    if (AMessage.Msg == DM_GETDEFID && ButtonCount() > 0) {
      TqorShellDialogButton* chosen = GetButton(0);
      HWND focus = ::GetFocus();
      for (int i = 0; i < ButtonCount(); ++i)
        if (GetButton(i)->HandleIfExists() == focus) chosen = GetButton(i);
      AMessage.Result = MAKELRESULT(::GetDlgCtrlID(chosen->Handle()), DC_HASDEFID);
      return;
    }
    TqorShellCustomDialogForm::WndProc(AMessage);
  }
};

// ---- the message form ----

class TqorFarMessageForm : public TqorFarPromptForm {
 public:
  explicit TqorFarMessageForm(const TqorFarMessageParts& AParts) : FWarning(AParts.Warning) {
    SetCaption(AParts.Title);
    const DWORD align = AParts.LeftAlign ? SS_LEFT : SS_CENTER;
    for (const std::wstring& text : AParts.Lines) {
      line item{text, 0, nullptr};
      if (is_separator(text)) {
        item.Separator = text[0] == DoubleSeparator ? 2 : 1;
        item.Text = text.substr(1);
      }
      // Body text shows '&' as it is; separator captions stand centred on their line.
      if (item.Separator == 0 || !item.Text.empty()) {
        item.Control = new TqorSystemControl(this, L"STATIC",
                                             SS_NOPREFIX | SS_EDITCONTROL | (item.Separator ? SS_CENTER : align));
        item.Control->SetCaption(item.Text);
        item.Control->SetParent(this);
      }
      FLines.push_back(std::move(item));
    }
    // The same text in one scrollable field, for a body too tall for the screen.
    std::wstring all;
    for (size_t i = 0; i < FLines.size(); ++i) all += (i ? L"\r\n" : L"") + FLines[i].Text;
    FScrollBox = new TqorSystemControl(
        this, L"EDIT", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | (AParts.LeftAlign ? ES_LEFT : ES_CENTER),
        WS_EX_CLIENTEDGE);
    FScrollBox->SetCaption(all);
    FScrollBox->SetVisible(false);
    FScrollBox->SetParent(this);
    for (size_t i = 0; i < AParts.Buttons.size(); ++i)
      AddButton(AParts.Buttons[i], ButtonResultBase + static_cast<int>(i), 0, false, i == 0);
  }

  // The chosen button's index, -1 for Esc or the close box.
  int Run() {
    for (int i = 0; i < ButtonCount(); ++i)
      ::SetWindowLongPtrW(GetButton(i)->Handle(), GWLP_ID, static_cast<LONG_PTR>(ButtonIdBase + i));
    if (ButtonCount() > 0) SetActiveControl(GetButton(0));
    const int result = ShowModal(FWarning ? MB_ICONEXCLAMATION : 0, nullptr);
    return result >= ButtonResultBase && result < ButtonResultBase + ButtonCount() ? result - ButtonResultBase : -1;
  }

  // The system message box's own warning icon at the size asked for; the shell's stock icon
  // table is incomplete on some systems and answers a document icon for it there.
  HICON CreateMessageIcon(int ACx, int ACy) override {
    if (!FWarning) return nullptr;
    if (auto shared = static_cast<HICON>(::LoadImageW(nullptr, IDI_WARNING, IMAGE_ICON, ACx, ACy,
                                                       LR_SHARED))) {
      if (auto icon = static_cast<HICON>(::CopyImage(shared, IMAGE_ICON, ACx, ACy, LR_COPYFROMRESOURCE))) return icon;
      if (auto icon = static_cast<HICON>(::CopyImage(shared, IMAGE_ICON, ACx, ACy, 0))) return icon;
    }
    return CreateMessageStandardIcon(TqorShellDialogIcon::diWarning, ACx, ACy);
  }

  // The body's own width: its widest line, at least 40 average characters and at most half the
  // work area (or 75 characters where that is more); longer lines wrap.
  int GetContentWidth() override {
    unique_window_dc dc(Handle());
    selected_object font(dc.get(), Font().Handle());
    int widest = 0;
    for (const line& item : FLines) {
      if (item.Text.empty()) continue;
      RECT rect{0, 0, 0, 0};
      ::DrawTextW(dc.get(), item.Text.c_str(), static_cast<int>(item.Text.size()), &rect,
                  DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      widest = std::max<int>(widest, rect.right + (item.Separator ? 2 * CaptionPadding() : 0));
    }
    const int upper = std::max<int>(UI().Width(75), WorkAreaSize().cx / 2);
    const int text = std::clamp(widest, UI().Width(40), upper);
    return TextLeft() + text + UI().DialogMargin().cx;
  }

  void UpdateContentBounds(RECT& ARect) override {
    unique_window_dc dc(Handle());
    selected_object font(dc.get(), Font().Handle());
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc.get(), &metrics);
    const int row = std::max<int>(1, metrics.tmHeight);
    const int column = ARect.right - ARect.left;
    std::vector<int> heights;
    int total = 0;
    for (const line& item : FLines) {
      RECT rect{0, 0, column, 0};
      if (!item.Separator && !item.Text.empty())
        ::DrawTextW(dc.get(), item.Text.c_str(), static_cast<int>(item.Text.size()), &rect,
                    DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX);
      heights.push_back(std::max<int>(row, rect.bottom));
      total += heights.back();
    }
    // A body taller than half the screen goes into one scrollable field: the buttons stay on it.
    const int limit = WorkAreaSize().cy / 2;
    const bool scroll = total > limit;
    FScrollBox->SetVisible(scroll);
    for (line& item : FLines)
      if (item.Control) item.Control->SetVisible(!scroll);
    if (scroll) {
      const int height = limit / row * row;
      FScrollBox->SetBounds(ARect.left, ARect.top, column, height);
      ARect.bottom = ARect.top + height + UI().UnrelatedControlsSpacing().cy;
      return;
    }
    int y = ARect.top;
    for (size_t i = 0; i < FLines.size(); ++i) {
      line& item = FLines[i];
      if (item.Separator) {
        const int middle = y + row / 2;
        if (item.Separator == 1) {
          Separators().push_back(middle);
        } else {
          Separators().push_back(middle - SeparatorHeight());
          Separators().push_back(middle + SeparatorHeight());
        }
        if (item.Control) {
          RECT rect{0, 0, 0, 0};
          ::DrawTextW(dc.get(), item.Text.c_str(), static_cast<int>(item.Text.size()), &rect,
                      DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
          const int width = std::min<int>(column, rect.right + 2 * CaptionPadding());
          item.Control->SetBounds(ARect.left + (column - width) / 2, y, width, row);
        }
      } else {
        item.Control->SetBounds(ARect.left, y, column, heights[i]);
      }
      y += heights[i];
    }
    ARect.bottom = y + UI().UnrelatedControlsSpacing().cy;
  }

 private:
  struct line {
    std::wstring Text;
    int Separator;  // 0 none, 1 single, 2 double
    TqorSystemControl* Control;  // owned by the form; null for a separator without caption
  };

  int CaptionPadding() { return UI().Width(1); }

  int TextLeft() {
    int left = UI().DialogMargin().cx;
    if (HICON icon = MessageIcon()) left += ShellBaseExtension::GetIconSize(icon).cx + UI().UnrelatedControlsSpacing().cx;
    return left;
  }

  bool FWarning;
  std::vector<line> FLines;
  TqorSystemControl* FScrollBox = nullptr;
};

// ---- the input box ----

class TqorFarInputForm : public TqorFarPromptForm {
 public:
  TqorFarInputForm(const std::wstring& ATitle, const std::wstring& APrompt, const std::wstring& AText,
                   TFarFlags AFlags, size_t ADestSize) {
    SetCaption(ATitle);
    // Without FIB_NOAMPERSAND the prompt shows '&' as it is; with it, '&' marks the edit's hotkey.
    FPrompt = new TqorSystemControl(this, L"STATIC",
                                    SS_LEFT | SS_EDITCONTROL | ((AFlags & FIB_NOAMPERSAND) ? 0 : SS_NOPREFIX));
    FPrompt->SetCaption(APrompt);
    FPrompt->SetParent(this);
    FEdit = new TqorSystemControl(this, L"EDIT",
                                  WS_TABSTOP | ES_AUTOHSCROLL | ((AFlags & FIB_PASSWORD) ? ES_PASSWORD : 0),
                                  WS_EX_CLIENTEDGE);
    FEdit->SetCaption(AText);
    FEdit->SetParent(this);
    // The edit takes no more than the plugin's buffer holds.
    FMaxLength = ADestSize > 1 ? ADestSize - 1 : 0;
    if (AFlags & FIB_BUTTONS) {
      AddButton(kOk, mrOk, 0, false, true);
      AddButton(kCancel, mrCancel);
    }
  }

  // True when the user confirmed; AText is what the edit holds then.
  bool Run(std::wstring& AText) {
    // Esc finds Cancel by its id and Enter without buttons arrives as IDOK.
    if (ButtonCount() == 2) {
      ::SetWindowLongPtrW(GetButton(0)->Handle(), GWLP_ID, IDOK);
      ::SetWindowLongPtrW(GetButton(1)->Handle(), GWLP_ID, IDCANCEL);
    }
    HWND edit = FEdit->Handle();
    if (FMaxLength > 0)
      ::SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(std::min<size_t>(FMaxLength, 0x7FFFFFFE)), 0);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    SetActiveControl(FEdit);
    const bool confirmed = ShowModal(nullptr) == mrOk;
    AText = confirmed ? FEdit->Caption() : std::wstring();
    return confirmed;
  }

  int GetContentWidth() override { return UI().DialogMargin().cx * 2 + UI().Width(60); }

  void UpdateControlsSize() override {
    TqorShellCustomDialogForm::UpdateControlsSize();
    UI().SetEditHeight(*FEdit);
  }

  void UpdateContentBounds(RECT& ARect) override {
    const int column = ARect.right - ARect.left;
    int y = ARect.top;
    const std::wstring prompt = FPrompt->Caption();
    if (!prompt.empty()) {
      unique_window_dc dc(Handle());
      selected_object font(dc.get(), Font().Handle());
      RECT rect{0, 0, column, 0};
      ::DrawTextW(dc.get(), prompt.c_str(), static_cast<int>(prompt.size()), &rect,
                  DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | ((FPrompt->Style() & SS_NOPREFIX) ? DT_NOPREFIX : 0));
      FPrompt->SetBounds(ARect.left, y, column, rect.bottom);
      y += rect.bottom + UI().LabelControlSpacing().cy;
    } else {
      FPrompt->SetBounds(ARect.left, y, 0, 0);
    }
    FEdit->SetBounds(ARect.left, y, column, FEdit->Height());
    y += FEdit->Height();
    ARect.bottom = y + UI().UnrelatedControlsSpacing().cy;
  }

 protected:
  void WndProc(TqorMessage& AMessage) override {
    // Enter without an OK button arrives as IDOK without a control.
    if (AMessage.Msg == WM_COMMAND && AMessage.LParam == 0 && LOWORD(AMessage.WParam) == IDOK) {
      SetModalResult(mrOk);
      AMessage.Result = 0;
      return;
    }
    TqorFarPromptForm::WndProc(AMessage);
  }

 private:
  TqorSystemControl* FPrompt = nullptr;
  TqorSystemControl* FEdit = nullptr;
  size_t FMaxLength = 0;
};

std::wstring expand_environment(const std::wstring& AText) {
  const DWORD size = ::ExpandEnvironmentStringsW(AText.c_str(), nullptr, 0);
  if (size == 0) return AText;
  std::wstring out(size, L'\0');
  const DWORD written = ::ExpandEnvironmentStringsW(AText.c_str(), out.data(), size);
  if (written == 0 || written > size) return AText;
  out.resize(written - 1);
  return out;
}

// Writes AText (cut to ASize - 1 characters) and its NUL into the plugin's buffer.
void write_dest(wchar_t* ADest, size_t ASize, const std::wstring& AText) noexcept {
  if (!ADest || ASize == 0) return;
  const size_t length = std::min(AText.size(), ASize - 1);
  const wchar_t nul = L'\0';
  if (length > 0 && !CopyPluginMemory(ADest, AText.data(), length * sizeof(wchar_t))) return;
  CopyPluginMemory(ADest + length, &nul, sizeof(nul));
}

}  // namespace

bool ReadFarMessage(TFarFlags AFlags, const wchar_t* const* AItems, size_t AItemsNumber, intptr_t AButtonsNumber,
                    DWORD AErrorCode, TqorFarMessageParts& AParts) {
  if (!AItems) return false;
  const bool all_in_one = (AFlags & FMSG_ALLINONE) != 0;
  if (!all_in_one && !(AFlags & FMSG_ERRORTYPE) && AItemsNumber < 2) return false;
  const bool standard = has_standard_buttons(AFlags);
  // Status and progress texts: nothing read, nothing shown.
  if (!standard && AButtonsNumber <= 0) return false;

  std::vector<std::wstring> strings;
  if (!read_strings(AItems, AItemsNumber, all_in_one, strings)) return false;

  AParts = TqorFarMessageParts{};
  AParts.Warning = (AFlags & FMSG_WARNING) != 0;
  AParts.LeftAlign = (AFlags & FMSG_LEFTALIGN) != 0;
  if (!strings.empty()) AParts.Title = strings.front();
  const size_t rest = strings.empty() ? 0 : strings.size() - 1;
  size_t buttons = 0;
  if (standard) {
    AParts.Buttons = standard_buttons(AFlags);
  } else {
    buttons = std::min<size_t>(static_cast<size_t>(AButtonsNumber), rest);
    if (buttons == 0) return false;
  }
  for (size_t i = 1; i < strings.size(); ++i)
    (i < strings.size() - buttons ? AParts.Lines : AParts.Buttons).push_back(std::move(strings[i]));
  if ((AFlags & FMSG_ERRORTYPE) && AErrorCode != 0) {
    if (!AParts.Lines.empty()) AParts.Lines.push_back(std::wstring(1, SingleSeparator));
    AParts.Lines.push_back(FarErrorText(AErrorCode));
  }
  return true;
}

std::wstring FarErrorText(DWORD ACode) {
  constexpr DWORD FacilityNtBit = 0x10000000;
  wchar_t text[1024] = {};
  DWORD length = 0;
  if (ACode & FacilityNtBit) {
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"))
      length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                ntdll, ACode & ~FacilityNtBit, 0, text, 1024, nullptr);
  } else {
    length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                              nullptr, ACode, 0, text, 1024, nullptr);
  }
  std::wstring message(text, std::min<DWORD>(length, 1023));
  std::replace(message.begin(), message.end(), L'\r', L' ');
  std::replace(message.begin(), message.end(), L'\n', L' ');
  while (!message.empty() && (message.back() == L' ' || message.back() == L'\t')) message.pop_back();
  if (message.empty()) message = L"Unknown error";
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(ACode));
  return std::wstring(code) + L" - " + message;
}

intptr_t WINAPI FarApiMessage(const GUID*, const GUID*, TFarFlags AFlags, const wchar_t*, const wchar_t* const* AItems,
                              size_t AItemsNumber, intptr_t AButtonsNumber) {
  // Before anything else: any call of ours may change it.
  const DWORD error = ::GetLastError();
  try {
    TqorFarMessageParts parts;
    if (!ReadFarMessage(AFlags, AItems, AItemsNumber, AButtonsNumber, error, parts)) return -1;
    auto form = std::make_unique<TqorFarMessageForm>(parts);
    form->AfterConstruction();
    const int result = form->Run();
    // Esc, the close box, or a choice labelled Cancel: the user's stop.
    if (result < 0 || (static_cast<size_t>(result) < parts.Buttons.size() &&
                       ::CompareStringOrdinal(parts.Buttons[result].c_str(), -1, L"Cancel", -1, TRUE) == CSTR_EQUAL))
      NoteUserStop();
    return result;
  } catch (...) {
    return -1;
  }
}

intptr_t WINAPI FarApiInputBox(const GUID*, const GUID*, const wchar_t* ATitle, const wchar_t* ASubTitle,
                               const wchar_t*, const wchar_t* ASrcText, wchar_t* ADestText, size_t ADestSize,
                               const wchar_t*, TFarFlags AFlags) {
  std::wstring result;
  bool confirmed = false;
  try {
    std::wstring title, prompt, source;
    if (CopyPluginText(ATitle, title) && CopyPluginText(ASubTitle, prompt) && CopyPluginText(ASrcText, source)) {
      auto form = std::make_unique<TqorFarInputForm>(title, prompt, source, AFlags, ADestSize);
      form->AfterConstruction();
      confirmed = form->Run(result);
      if (!confirmed) NoteUserStop();
      if (confirmed && (AFlags & FIB_EXPANDENV)) result = expand_environment(result);
    }
  } catch (...) {
    confirmed = false;
    result.clear();
  }
  // Written in every case: what was entered, or "" when cancelled.
  write_dest(ADestText, ADestSize, result);
  return confirmed && (!result.empty() || (AFlags & FIB_ENABLEEMPTY)) ? 1 : 0;
}

}  // namespace qor
