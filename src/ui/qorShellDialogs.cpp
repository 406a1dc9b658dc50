#include "ui/qorShellDialogs.h"

#include <algorithm>

#include "ui/qorShellBaseExtension.h"

namespace qor {

namespace {

// Theme parts of class "TASKDIALOG" and the properties read from them.
constexpr int TdlgPrimaryPanel = 1;
constexpr int TdlgMainInstructionPane = 2;
constexpr int TdlgSecondaryPanel = 15;
constexpr int TdlgFootnoteSeparator = 17;
constexpr int TmtFont = 210;
constexpr int TmtTextColor = 3803;
constexpr int PdopsCancelled = 3;

const IID IidOleWindow = {0x00000114, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IidOperationsProgressDialog = {0x0C9FB851, 0xE5C9, 0x43EB, {0xA3, 0x70, 0xF0, 0x67, 0x7B, 0x13, 0x87, 0x4C}};
const IID IidProgressDialog = {0xEBBC7C04, 0x315E, 0x11D2, {0xB6, 0x2F, 0x00, 0x60, 0x97, 0xDF, 0x5B, 0xD4}};

template <class T>
void release(T*& AInterface) noexcept {
  if (AInterface) AInterface->Release();
  AInterface = nullptr;
}

// The progress dialog's window owns the form, when it has one.
HWND progress_owner(IUnknown* AProgressDialog, HWND APositionWnd) noexcept {
  if (!AProgressDialog) return APositionWnd;
  IOleWindow* window = nullptr;
  if (FAILED(AProgressDialog->QueryInterface(IidOleWindow, reinterpret_cast<void**>(&window))) || !window)
    return APositionWnd;
  HWND owner = nullptr;
  if (FAILED(window->GetWindow(&owner))) owner = APositionWnd;
  window->Release();
  return owner;
}

RECT measure(HDC ADC, HFONT AFont, const std::wstring& AText, RECT ARect, UINT AFlags) {
  selected_object font(ADC, AFont);
  ::DrawTextW(ADC, AText.c_str(), static_cast<int>(AText.size()), &ARect, AFlags | DT_CALCRECT | DT_NOPREFIX);
  return ARect;
}

SIZE work_area_size(HWND AWnd) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  HMONITOR monitor = ::MonitorFromWindow(AWnd, MONITOR_DEFAULTTONEAREST);
  if (!monitor || !::GetMonitorInfoW(monitor, &info)) return SIZE{1024, 768};
  return SIZE{info.rcWork.right - info.rcWork.left, info.rcWork.bottom - info.rcWork.top};
}

}  // namespace

// ---- construction ----

TqorShellCustomDialogForm::TqorShellCustomDialogForm(HWND AOwnerWnd, HWND APositionWnd)
    : TqorShellUIForm(AOwnerWnd, APositionWnd) {
  CommonSetup();
}

TqorShellCustomDialogForm::TqorShellCustomDialogForm(IUnknown* AProgressDialog, HWND APositionWnd)
    : TqorShellUIForm(progress_owner(AProgressDialog, APositionWnd), APositionWnd) {
  CommonSetup();
  if (!AProgressDialog) return;
  if (FAILED(AProgressDialog->QueryInterface(IidOperationsProgressDialog,
                                             reinterpret_cast<void**>(&FOperationsProgressDialog))))
    FOperationsProgressDialog = nullptr;
  if (!FOperationsProgressDialog &&
      FAILED(AProgressDialog->QueryInterface(IidProgressDialog, reinterpret_cast<void**>(&FProgressDialog))))
    FProgressDialog = nullptr;
  AProgressDialog->AddRef();
  FProgress = AProgressDialog;
}

void TqorShellCustomDialogForm::CommonSetup() {
  FCheckBox = new TqorCheckBox(this);
  FCheckBox->SetVisible(false);
  FCheckBox->SetParent(this);
}

TqorShellCustomDialogForm::~TqorShellCustomDialogForm() {
  release(FOperationsProgressDialog);
  release(FProgressDialog);
  release(FProgress);
  // The window goes in the base destructor; the theme is this class's and goes now.
  CloseTheme();
}

void TqorShellCustomDialogForm::CreateParams(TqorCreateParams& AParams) {
  TqorShellUIForm::CreateParams(AParams);
  // Fixed dialog frame, no minimise or maximise box, a taskbar button of its own.
  AParams.Style = (AParams.Style & ~(WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) | WS_CAPTION | WS_SYSMENU;
  AParams.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;
}

void TqorShellCustomDialogForm::AfterConstruction() {
  TqorShellUIForm::AfterConstruction();
  if (!FOperationsProgressDialog && !FProgressDialog) return;
  FTimerModalResult = mrNone;
  for (TqorShellDialogButton* button : FButtons)
    if (button->ModalResult == mrCancel) {
      FTimerModalResult = mrCancel;
      break;
    }
  if (FTimerModalResult == mrNone && FButtons.size() == 1 && FButtons[0]->ModalResult == mrOk)
    FTimerModalResult = mrOk;
  if (FTimerModalResult == mrNone) return;
  FCheckCancelTimer = new TqorTimer(this);
  FCheckCancelTimer->OnTimer = [this] { CheckCancel(); };
  FCheckCancelTimer->SetInterval(1000);
  FCheckCancelTimer->SetEnabled(true);
}

void TqorShellCustomDialogForm::CheckCancel() {
  if (FOperationsProgressDialog) {
    PDOPSTATUS status{};
    if (SUCCEEDED(FOperationsProgressDialog->GetOperationStatus(&status)) && status == PdopsCancelled)
      SetModalResult(FTimerModalResult);
  } else if (FProgressDialog && FProgressDialog->HasUserCancelled()) {
    SetModalResult(FTimerModalResult);
  }
}

TqorShellDialogButton* TqorShellCustomDialogForm::AddButton(const std::wstring& ACaption, int AModalResult,
                                                            int ATag, bool ARightAlignment, bool ADefault) {
  auto* button = new TqorShellDialogButton(this, ADefault);
  button->SetCaption(ACaption);
  button->ModalResult = AModalResult;
  button->Tag = ATag;
  button->RightAlignment = ARightAlignment;
  button->SetParent(this);
  FButtons.push_back(button);
  return button;
}

// ---- showing ----

int TqorShellCustomDialogForm::ShowModal(bool* ACheck) {
  if (ACheck) FCheckBox->SetChecked(*ACheck);
  const int result = TqorShellUIForm::ShowModal();
  if (ACheck) *ACheck = FCheckBox->Checked();
  return result;
}

int TqorShellCustomDialogForm::ShowModal(UINT AMessageBeep, bool* ACheck) {
  const UINT kind = AMessageBeep & 0xF0;
  if (kind == MB_ICONHAND || kind == MB_ICONQUESTION || kind == MB_ICONEXCLAMATION || kind == MB_ICONASTERISK)
    ::MessageBeep(kind);
  return ShowModal(ACheck);
}

// ---- content ----

int TqorShellCustomDialogForm::GetMinTextWidth() {
  SIZE size{0, 0};
  GetInitialClientSize(size);
  return size.cx != 0 ? ClientWidth() : UI().Width(75);
}

int TqorShellCustomDialogForm::GetContentWidth() { return TqorShellCustomDialogForm::GetMinTextWidth(); }

HICON TqorShellCustomDialogForm::CreateMessageIcon(int, int) { return nullptr; }

void TqorShellCustomDialogForm::UpdateContentBounds(RECT& ARect) { ARect.bottom = ARect.top; }

SIZE TqorShellCustomDialogForm::WorkAreaSize() { return work_area_size(Handle()); }

HICON TqorShellCustomDialogForm::CreateMessageStandardIcon(TqorShellDialogIcon AIconType, int ARecommendedWidth,
                                                           int ARecommendedHeight) noexcept {
  SHSTOCKICONID stock;
  LPCWSTR system;
  switch (AIconType) {
    case TqorShellDialogIcon::diError: stock = SIID_ERROR; system = IDI_HAND; break;
    case TqorShellDialogIcon::diQuestion: stock = SIID_HELP; system = IDI_QUESTION; break;
    case TqorShellDialogIcon::diWarning: stock = SIID_WARNING; system = IDI_EXCLAMATION; break;
    case TqorShellDialogIcon::diInformation: stock = SIID_INFO; system = IDI_ASTERISK; break;
    default: return nullptr;
  }
  HICON icon = nullptr;
  if (ShellBaseExtension::IsWindowsVistaOrLater()) {
    SHSTOCKICONINFO info{};
    info.cbSize = sizeof(info);
    if (SUCCEEDED(ShellBaseExtension::GetStockIconInfo(stock, 0, &info))) {
      const std::wstring location = std::wstring(info.szPath) + L"," + std::to_wstring(info.iIcon);
      icon = ShellBaseExtension::LoadIconFromLocation(location, ARecommendedWidth, ARecommendedHeight, 32);
    }
  }
  if (!icon) {
    if (HICON shared = ::LoadIconW(nullptr, system)) icon = ::CopyIcon(shared);
  }
  return icon;
}

// ---- size and layout ----

void TqorShellCustomDialogForm::UpdateControlsSize() {
  FMessageIcon.reset();
  try {
    FMessageIcon.reset(CreateMessageIcon(dpi::GetSystemMetricsDpi(SM_CXICON, UI().DpiX(), true),
                                         dpi::GetSystemMetricsDpi(SM_CYICON, UI().DpiY(), true)));
  } catch (...) {
    FMessageIcon.reset();
  }
  FMessageIconLeft = UI().DialogMargin().cx;
  FMessageIconTop = UI().DialogMargin().cy;
  SIZE icon_size{0, 0};
  if (FMessageIcon) {
    try {
      icon_size = ShellBaseExtension::GetIconSize(FMessageIcon.get());
    } catch (...) {
      FMessageIcon.reset();
    }
  }
  FMessageIconWidth = icon_size.cx;
  FMessageIconHeight = icon_size.cy;

  if (!FMessageCaption.empty()) {
    LOGFONTW bold = Font().LogFont();
    bold.lfWeight = FW_BOLD;
    FMessageCaptionFont.SetHandle(::CreateFontIndirectW(&bold));
    FMessageCaptionColor = CLR_INVALID;
    if (FTheme) {
      unique_window_dc dc(Handle());
      UI().CreateThemeFont(FTheme, FDpiTheme, dc.get(), TdlgMainInstructionPane, 0, TmtFont, FMessageCaptionFont);
      COLORREF color = 0;
      if (SUCCEEDED(qor::GetThemeColor(FTheme, TdlgMainInstructionPane, 0, TmtTextColor, &color)))
        FMessageCaptionColor = color;
    }
  }
  if (!FMessageText.empty()) FMessageTextFont.Assign(Font());
  FSeparatorHeight = 1;

  // Buttons of one Tag share the widest width among them.
  std::vector<TqorShellDialogButton*> remaining = FButtons;
  while (!remaining.empty()) {
    const int tag = remaining.front()->Tag;
    TqorButtonArray group;
    for (auto it = remaining.rbegin(); it != remaining.rend(); ++it)
      if ((*it)->Tag == tag) group.push_back(*it);
    remaining.erase(std::remove_if(remaining.begin(), remaining.end(),
                                   [tag](TqorShellDialogButton* AButton) { return AButton->Tag == tag; }),
                    remaining.end());
    UI().SetButtonSize(group);
  }
  if (!FCheckBox->Caption().empty()) UI().SetCheckBoxSize(*FCheckBox);
}

bool TqorShellCustomDialogForm::CheckBoxVisible() const { return !FCheckBox->Caption().empty(); }

int TqorShellCustomDialogForm::ComputeWidth(HDC ADC, int ATextLeft, int& ARowWidth, bool& AAnyLeft) {
  const SIZE margin = UI().DialogMargin();
  ARowWidth = 0;
  AAnyLeft = false;
  if (!FButtons.empty()) {
    ARowWidth = (static_cast<int>(FButtons.size()) - 1) * UI().ButtonsSpacing().cx + 2 * margin.cx;
    for (TqorShellDialogButton* button : FButtons) {
      ARowWidth += button->Width();
      AAnyLeft = AAnyLeft || button->RightAlignment;
    }
  }
  int width = ARowWidth;
  if (CheckBoxVisible()) width = std::max<int>(width, FCheckBox->Width() + 2 * margin.cx);
  const int content = GetContentWidth();
  width = std::max(width, content);
  if (content != 0) return width;
  // Only a form without content of its own is widened by its texts, up to half the work area.
  const int lower = GetMinTextWidth();
  const int hard_limit = work_area_size(Handle()).cx;
  const int upper = ::MulDiv(hard_limit, 1, 2);
  auto widen_by = [&](const std::wstring& AText, HFONT AFont) {
    if (AText.empty()) return;
    RECT single = measure(ADC, AFont, AText, RECT{ATextLeft, 0, ATextLeft, 0}, DT_SINGLELINE);
    width = std::max(width, std::clamp<int>(single.right + margin.cx, lower, std::max(lower, upper)));
    RECT wrapped = measure(ADC, AFont, AText, RECT{ATextLeft, 0, width - margin.cx, 0}, DT_WORDBREAK);
    width = std::max<int>(width, wrapped.right + margin.cx);
    width = std::min(width, hard_limit);
  };
  widen_by(FMessageCaption, FMessageCaptionFont.Handle());
  FMessageTextFont.Assign(Font());
  widen_by(FMessageText, FMessageTextFont.Handle());
  return width;
}

void TqorShellCustomDialogForm::UpdateControlsPos() {
  const SIZE margin = UI().DialogMargin();
  const SIZE spacing = UI().ButtonsSpacing();
  const SIZE unrelated = UI().UnrelatedControlsSpacing();
  unique_window_dc dc(Handle());
  const int x0 = FMessageIconLeft + (FMessageIcon ? FMessageIconWidth + unrelated.cx : 0);
  int y = margin.cy;
  int row_width = 0;
  bool any_left = false;
  const int width = ComputeWidth(dc.get(), x0, row_width, any_left);

  const bool check_visible = CheckBoxVisible();
  FCheckBox->SetVisible(check_visible);
  const bool check_beside_buttons =
      !any_left && width >= 2 * margin.cx + FCheckBox->Width() + unrelated.cx + row_width;
  int footer = 0;
  if (check_visible || !FButtons.empty()) {
    footer = FSeparatorHeight + margin.cy;
    if (check_visible && !check_beside_buttons) footer += FCheckBox->Height() + spacing.cy;
    if (!FButtons.empty()) footer += FButtons.front()->Height() + spacing.cy;
    footer = footer - spacing.cy + margin.cy;
  }

  FMessageCaptionRect = RECT{x0, y, x0, y};
  if (!FMessageCaption.empty()) {
    FMessageCaptionRect = measure(dc.get(), FMessageCaptionFont.Handle(), FMessageCaption,
                                  RECT{x0, y, width - margin.cx, y}, DT_WORDBREAK);
    y = FMessageCaptionRect.bottom;
  }
  FMessageTextRect = RECT{x0, y, x0, y};
  if (!FMessageText.empty()) {
    FMessageTextFont.Assign(Font());
    FMessageTextRect =
        measure(dc.get(), FMessageTextFont.Handle(), FMessageText, RECT{x0, y, width - margin.cx, y}, DT_WORDBREAK);
    y = FMessageTextRect.bottom;
  }

  RECT content{x0, y + (y != margin.cy ? unrelated.cy : 0), width - margin.cx, ClientHeight() - footer};
  FSeparatorXOffset = content.left;
  FSeparatorWidth = content.right - content.left;
  FSeparators.clear();
  SetClientWidth(width);
  UpdateContentBounds(content);
  SetClientWidth(width);
  // A separator that would only stand above the footer is dropped with its spacing.
  if (!FSeparators.empty() && FSeparators.back() == content.bottom - unrelated.cy - FSeparatorHeight) {
    FSeparators.pop_back();
    content.bottom -= FSeparatorHeight + unrelated.cy;
  }
  FPrimaryHeight = std::max<int>(FMessageIconTop + FMessageIconHeight, content.bottom - unrelated.cy) + margin.cy;

  y = FPrimaryHeight + FSeparatorHeight + margin.cy;
  if (check_visible) {
    FCheckBox->SetBounds(margin.cx, y, FCheckBox->Width(), FCheckBox->Height());
    if (!check_beside_buttons) y += FCheckBox->Height() + spacing.cy;
  }
  if (any_left) {
    int x = margin.cx;
    for (TqorShellDialogButton* button : FButtons) {
      if (!button->RightAlignment) continue;
      button->SetBounds(x, y, button->Width(), button->Height());
      x += button->Width() + spacing.cx;
    }
  }
  int x = width - margin.cx;
  for (auto it = FButtons.rbegin(); it != FButtons.rend(); ++it) {
    TqorShellDialogButton* button = *it;
    if (button->RightAlignment) continue;
    const int left = x - button->Width();
    button->SetBounds(left, y, button->Width(), button->Height());
    x = left - spacing.cx;
  }
  SetClientHeight(FPrimaryHeight + footer);
}

// ---- themes and painting ----

void TqorShellCustomDialogForm::OpenTheme() {
  FTheme = nullptr;
  FDpiTheme = false;
  if (!UseThemes() || !HandleAllocated()) return;
  HWND wnd = HandleIfExists();
  FTheme = qor::OpenThemeDataForDpi(wnd, L"TASKDIALOG", dpi::GetWindowDpi(wnd), false);
  FDpiTheme = FTheme != nullptr;
  if (!FTheme) FTheme = qor::OpenThemeData(wnd, L"TASKDIALOG");
}

void TqorShellCustomDialogForm::CloseTheme() {
  if (FTheme) qor::CloseThemeData(FTheme);
  FTheme = nullptr;
}

void TqorShellCustomDialogForm::FillBand(HDC ADC, int APart, int AColor, const RECT& ARect) {
  if (ARect.bottom <= ARect.top) return;
  if (FTheme && SUCCEEDED(qor::DrawThemeBackground(FTheme, ADC, APart, 0, &ARect, nullptr))) return;
  ::FillRect(ADC, &ARect, ::GetSysColorBrush(AColor));
}

void TqorShellCustomDialogForm::Paint(HDC ADC) {
  RECT client{};
  ::GetClientRect(HandleIfExists(), &client);
  FillBand(ADC, TdlgPrimaryPanel, COLOR_WINDOW, RECT{0, 0, client.right, FPrimaryHeight});
  FillBand(ADC, TdlgFootnoteSeparator, COLOR_GRAYTEXT,
           RECT{0, FPrimaryHeight, client.right, FPrimaryHeight + FSeparatorHeight});
  FillBand(ADC, TdlgSecondaryPanel, COLOR_BTNFACE,
           RECT{0, FPrimaryHeight + FSeparatorHeight, client.right, client.bottom});
  ::SetBkMode(ADC, TRANSPARENT);
  if (FMessageIcon)
    ::DrawIconEx(ADC, FMessageIconLeft, FMessageIconTop, FMessageIcon.get(), FMessageIconWidth, FMessageIconHeight,
                 0, nullptr, DI_NORMAL);
  if (!FMessageCaption.empty()) {
    selected_object font(ADC, FMessageCaptionFont.Handle());
    ::SetTextColor(ADC, FMessageCaptionColor != CLR_INVALID ? FMessageCaptionColor : ::GetSysColor(COLOR_WINDOWTEXT));
    RECT rect = FMessageCaptionRect;
    ::DrawTextW(ADC, FMessageCaption.c_str(), static_cast<int>(FMessageCaption.size()), &rect,
                DT_WORDBREAK | DT_NOPREFIX);
  }
  if (!FMessageText.empty()) {
    selected_object font(ADC, FMessageTextFont.Handle());
    ::SetTextColor(ADC, ::GetSysColor(COLOR_WINDOWTEXT));
    RECT rect = FMessageTextRect;
    ::DrawTextW(ADC, FMessageText.c_str(), static_cast<int>(FMessageText.size()), &rect, DT_WORDBREAK | DT_NOPREFIX);
  }
  for (int y : FSeparators)
    FillBand(ADC, TdlgFootnoteSeparator, COLOR_GRAYTEXT,
             RECT{FSeparatorXOffset, y, FSeparatorXOffset + FSeparatorWidth, y + FSeparatorHeight});
}

void TqorShellCustomDialogForm::OnPaint(TqorMessage& AMessage) {
  PAINTSTRUCT paint{};
  HWND wnd = HandleIfExists();
  HDC dc = ::BeginPaint(wnd, &paint);
  struct end_paint {
    HWND wnd;
    PAINTSTRUCT& paint;
    ~end_paint() { ::EndPaint(wnd, &paint); }
  } guard{wnd, paint};
  if (dc) Paint(dc);
  AMessage.Result = 0;
}

void TqorShellCustomDialogForm::WndProc(TqorMessage& AMessage) {
  switch (AMessage.Msg) {
    case WM_ERASEBKGND:
      // Paint covers every pixel; erasing first would only flicker.
      AMessage.Result = 1;
      return;
    case WM_PRINTCLIENT:
      // Transparent children and themed controls ask for the background behind them.
      Paint(reinterpret_cast<HDC>(AMessage.WParam));
      AMessage.Result = 0;
      return;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // Standard controls on the primary panel take its colour, those in the footer the footer's.
      RECT rect{};
      HWND child = reinterpret_cast<HWND>(AMessage.LParam);
      ::GetWindowRect(child, &rect);
      ::MapWindowPoints(nullptr, HandleIfExists(), reinterpret_cast<POINT*>(&rect), 2);
      const int color = rect.top < FPrimaryHeight ? COLOR_WINDOW : COLOR_BTNFACE;
      HDC dc = reinterpret_cast<HDC>(AMessage.WParam);
      ::SetBkColor(dc, ::GetSysColor(color));
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      AMessage.Result = reinterpret_cast<LRESULT>(::GetSysColorBrush(color));
      return;
    }
    case WM_SYSCOLORCHANGE:
      DefaultHandler(AMessage);
      ::PostMessageW(HandleIfExists(), WM_USER, 0, 0);
      return;
    case WM_USER:
      CloseTheme();
      OpenTheme();
      UpdateControlsBounds();
      FitWindowToOwnMonitor(Handle());
      Invalidate();
      AMessage.Result = 1;
      return;
    case WM_ACTIVATE:
      DefaultHandler(AMessage);
      if (LOWORD(AMessage.WParam) != WA_INACTIVE && FActiveControl && FActiveControl->HandleAllocated())
        ::SetFocus(FActiveControl->HandleIfExists());
      return;
    default:
      TqorShellUIForm::WndProc(AMessage);
  }
}

}  // namespace qor
