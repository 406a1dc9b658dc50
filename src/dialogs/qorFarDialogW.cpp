#include "dialogs/qorFarDialogW.h"

#include "dialogs/qorFarDialogControlsW.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>

#include "common/qorErrors.h"
#include "common/qorLocks.h"
#include "common/qorPluginGuard.h"
#include "common/qorUserStop.h"
#include "ui/qorShellBaseExtension.h"

namespace qor {

namespace {

// Group box part of class "BUTTON" and its states; the TASKDIALOG separator colour.
constexpr int BpGroupBox = 4;
constexpr int GbsNormal = 1;
constexpr int GbsDisabled = 2;
constexpr int TdlgFootnoteSeparator = 17;
constexpr int TmtFillColorHint = 3808;
// Control identifiers are the item index plus this base, clear of IDOK and IDCANCEL.
constexpr int ControlIdBase = 100;

[[noreturn]] void raise_invalid_parameter() { RaiseOSError(ERROR_INVALID_PARAMETER); }

UINT text_flags(int64_t AFlags) { return (AFlags & DIF_SHOWAMPERSAND) ? DT_NOPREFIX : 0; }

// The extent of an item text in the control's font, from the origin; empty text measures nothing.
RECT measure_item_text(TqorWinControl& AControl, const std::wstring& AText, int64_t AFlags) {
  RECT rect{0, 0, 0, 0};
  if (AText.empty()) return rect;
  unique_window_dc dc(AControl.Handle());
  if (!dc.get()) return rect;
  selected_object font(dc.get(), AControl.Font().Handle());
  ::DrawTextW(dc.get(), AText.c_str(), static_cast<int>(AText.size()), &rect, DT_CALCRECT | text_flags(AFlags));
  return rect;
}

// A transparent control shows what its parent paints behind it.
void paint_parent_background(HWND AWnd, HDC ADC) {
  HWND parent = ::GetParent(AWnd);
  if (!parent) return;
  POINT origin{0, 0};
  ::MapWindowPoints(AWnd, parent, &origin, 1);
  POINT previous{};
  ::OffsetViewportOrgEx(ADC, -origin.x, -origin.y, &previous);
  ::SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(ADC), PRF_CLIENT);
  ::SetViewportOrgEx(ADC, previous.x, previous.y, nullptr);
}

void draw_line(HDC ADC, COLORREF AColor, int AX1, int AY1, int AX2, int AY2) {
  unique_gdi<HPEN> pen(::CreatePen(PS_SOLID, 1, AColor));
  selected_object selected(ADC, pen.get());
  ::MoveToEx(ADC, AX1, AY1, nullptr);
  ::LineTo(ADC, AX2, AY2);
}

void frame_rect(HDC ADC, const RECT& ARect, int AColor) {
  ::FrameRect(ADC, &ARect, ::GetSysColorBrush(AColor));
}

int centred_top(const RECT& ARect, int AHeight) { return ARect.top + (ARect.bottom - ARect.top - AHeight) / 2; }

// ---- the plugin's item array, copied before anything is built from it ----

struct copied_item {
  TFarDialogItem Item;
  std::wstring Text, History, Mask;
  bool BadText;  // no Data although MaxLength asks for characters
};

constexpr size_t MaxItemString = 32768;

std::wstring copy_string(const wchar_t* AText) {
  size_t length = 0;
  if (AText)
    while (length < MaxItemString && AText[length]) ++length;
  return AText ? std::wstring(AText, length) : std::wstring();
}

struct copy_request {
  const GUID* PluginID;
  const GUID* ID;
  const TFarDialogItem* Items;
  size_t Count;
  GUID PluginIDCopy;
  GUID IDCopy;
  std::vector<copied_item>* Out;
  bool Failed;
};

// The array, its texts and the GUIDs are the plugin's memory: a bad pointer among them must fail
// the dialog, not the file manager, so they are read under the fault guard.
void copy_plugin_memory(copy_request& ARequest) {
  const DWORD code = RunGuarded(
      [](void* AContext) noexcept {
        auto& r = *static_cast<copy_request*>(AContext);
        try {
          r.PluginIDCopy = *r.PluginID;
          r.IDCopy = *r.ID;
          for (size_t i = 0; i < r.Count; ++i) {
            copied_item copy{r.Items[i], {}, {}, {}, false};
            copy.History = copy_string(copy.Item.History);
            copy.Mask = copy_string(copy.Item.Mask);
            const TFarDialogItem& item = copy.Item;
            if (item.Data) {
              size_t length = 0;
              while ((item.MaxLength == 0 || length < item.MaxLength) && item.Data[length]) ++length;
              copy.Text.assign(item.Data, length);
            } else {
              copy.BadText = item.MaxLength != 0;
            }
            r.Out->push_back(std::move(copy));
          }
        } catch (...) {
          r.Failed = true;
        }
      },
      &ARequest);
  if (code != 0) throw EqorPluginFault(L"DialogInit", code);
  if (ARequest.Failed) raise_invalid_parameter();
}

}  // namespace

std::wstring FarItemText(const TFarDialogItem& AItem) {
  if (!AItem.Data) {
    if (AItem.MaxLength != 0) raise_invalid_parameter();
    return {};
  }
  size_t length = 0;
  while ((AItem.MaxLength == 0 || length < AItem.MaxLength) && AItem.Data[length]) ++length;
  return std::wstring(AItem.Data, length);
}

// As FAR counts: "&&" shows one ampersand, the first single one marks the hotkey and takes no cell.
int FarLabelLength(const std::wstring& AText, int64_t AFlags) {
  if (AFlags & DIF_SHOWAMPERSAND) return static_cast<int>(AText.size());
  int length = 0;
  bool hotkey = false;
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == L'&') {
      if (i + 1 < AText.size() && AText[i + 1] == L'&') {
        ++i;
      } else if (!hotkey && i + 1 < AText.size()) {
        hotkey = true;
        continue;
      }
    }
    ++length;
  }
  return length;
}

int FarButtonLength(const std::wstring& AText, int64_t AFlags) {
  return FarLabelLength(AText, AFlags) + ((AFlags & DIF_NOBRACKETS) ? 0 : 4);
}

int FarCentreGroupStep(int AType, const std::wstring& AText, int64_t AFlags) {
  switch (AType) {
    case DI_BUTTON: {
      const int length = FarButtonLength(AText, AFlags);
      return length + (length > 0 ? 1 : 0);
    }
    case DI_CHECKBOX:
    case DI_RADIOBUTTON: {
      const int length = FarLabelLength(AText, AFlags);
      return length + (AText.empty() ? 0 : 5);
    }
    default:
      return FarLabelLength(AText, AFlags);
  }
}

void TqorFarControlData::InitData(const TFarDialogItem& AItem, bool ABox) {
  FFarRect = RECT{static_cast<LONG>(AItem.X1), static_cast<LONG>(AItem.Y1), static_cast<LONG>(AItem.X2 + 1),
                  static_cast<LONG>((ABox ? AItem.Y2 : AItem.Y1) + 1)};
  FFlags = static_cast<int64_t>(AItem.Flags);
}

// ---- TqorFarText ----

TqorFarText::TqorFarText(TqorFarDialog* AOwner) : TqorCustomControl(AOwner), FOwner(AOwner) {}

void TqorFarText::Init(const TFarDialogItem& AItem) {
  InitData(AItem, false);
  SetCaption(FarItemText(AItem));
  FLabelWidth = AItem.X2 == 0 || AItem.X2 <= AItem.X1;
}

RECT TqorFarText::GetFarRect() {
  RECT rect = FFarRect;
  if (FLabelWidth && !IsSeparator()) rect.right = rect.left + FarLabelLength(Caption(), FFlags);
  return rect;
}

void TqorFarText::SetItemText(const std::wstring& AText) {
  SetCaption(AText);
  if (HandleAllocated()) UpdateSize(FOwner->UI());
}

void TqorFarText::UpdateSize(TqorShellUI&) {
  if (IsSeparator()) return;
  const RECT extent = measure_item_text(*this, Caption(), FFlags);
  TqorWinControl::SetBounds(Left(), Top(), extent.right, extent.bottom);
}

// A separator takes the height of its row and asks for none itself: asking for the height it got
// last time would keep a row from ever shrinking, when the font does.
int TqorFarText::GetMinHeight() { return IsSeparator() ? 0 : Height(); }

void TqorFarText::SetBounds(const RECT& ARect) {
  if (IsSeparator()) {
    const int cw = FOwner->CellWidth();
    TqorWinControl::SetBounds(4 * cw, ARect.top, (FOwner->FarWidth() - 8) * cw, ARect.bottom - ARect.top);
  } else {
    TqorWinControl::SetBounds(ARect.left, centred_top(ARect, Height()), Width(), Height());
  }
}

void TqorFarText::WndProc(TqorMessage& AMessage) {
  // A label's & letter moves the focus to the next item, as the dialog manager does for statics.
  if (AMessage.Msg == WM_GETDLGCODE) {
    AMessage.Result = (FFlags & DIF_SHOWAMPERSAND) ? 0 : DLGC_STATIC;
    return;
  }
  if (AMessage.Msg == WM_ERASEBKGND) {
    paint_parent_background(HandleIfExists(), reinterpret_cast<HDC>(AMessage.WParam));
    AMessage.Result = 1;
    return;
  }
  TqorCustomControl::WndProc(AMessage);
}

void TqorFarText::Paint(HDC ADC, const RECT& AClient) {
  const std::wstring text = Caption();
  RECT title = measure_item_text(*this, text, FFlags);
  ::OffsetRect(&title, 0, (AClient.bottom - title.bottom) / 2);
  if (IsSeparator()) {
    // The line is interrupted behind the title: drawn on both sides of it.
    const int y = AClient.bottom / 2;
    const COLORREF color = FOwner->GetSeparatorColor();
    if (text.empty()) {
      draw_line(ADC, color, AClient.left - 1, y, AClient.right, y);
    } else {
      if (title.left > AClient.left - 1) draw_line(ADC, color, AClient.left - 1, y, title.left, y);
      if (title.right < AClient.right) draw_line(ADC, color, title.right, y, AClient.right, y);
    }
  }
  if (text.empty()) return;
  if (!::IsWindowEnabled(HandleIfExists())) ::SetTextColor(ADC, ::GetSysColor(COLOR_GRAYTEXT));
  ::DrawTextW(ADC, text.c_str(), static_cast<int>(text.size()), &title, text_flags(FFlags));
}

// ---- TqorFarDoubleBox ----

TqorFarDoubleBox::TqorFarDoubleBox(TqorFarDialog* AOwner) : TqorCustomControl(AOwner), FOwner(AOwner) {}

TqorFarDoubleBox::~TqorFarDoubleBox() {
  DestroyHandle();
  CloseTheme();
}

void TqorFarDoubleBox::Init(const TFarDialogItem& AItem) {
  InitData(AItem, true);
  SetCaption(FarItemText(AItem));
}

void TqorFarDoubleBox::SetBounds(const RECT& ARect) {
  TqorWinControl::SetBounds(ARect.left, ARect.top, ARect.right - ARect.left, ARect.bottom - ARect.top);
}

void TqorFarDoubleBox::OpenTheme() {
  FTheme = nullptr;
  FDpiTheme = ShellBaseExtension::IsThemingActive();
  HWND wnd = HandleIfExists();
  if (!FDpiTheme || !wnd) return;
  FTheme = qor::OpenThemeDataForDpi(wnd, L"BUTTON", ShellBaseExtension::GetWindowDpi(wnd), false);
  if (!FTheme) FTheme = qor::OpenThemeData(wnd, L"BUTTON");
}

void TqorFarDoubleBox::CloseTheme() noexcept {
  if (FTheme) qor::CloseThemeData(FTheme);
  FTheme = nullptr;
}

void TqorFarDoubleBox::OnNcCreate(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  OpenTheme();
}

void TqorFarDoubleBox::OnNcDestroy(TqorMessage& AMessage) {
  CloseTheme();
  DefaultHandler(AMessage);
}

void TqorFarDoubleBox::OnDpiChangedBeforeParent(TqorMessage& AMessage) {
  TqorCustomControl::OnDpiChangedBeforeParent(AMessage);
  CloseTheme();
  OpenTheme();
}

void TqorFarDoubleBox::WndProc(TqorMessage& AMessage) {
  if (AMessage.Msg == WM_ERASEBKGND) {
    paint_parent_background(HandleIfExists(), reinterpret_cast<HDC>(AMessage.WParam));
    AMessage.Result = 1;
    return;
  }
  TqorCustomControl::WndProc(AMessage);
  // A new title or size changes what the frame looks like everywhere, not only where it grew.
  if (AMessage.Msg == WM_SETTEXT || AMessage.Msg == WM_SIZE) Invalidate();
}

void TqorFarDoubleBox::Paint(HDC ADC, const RECT& AClient) {
  const SIZE unit = FOwner->UI().DialogUnit();
  const int cw = unit.cx + 2, ch = unit.cy + 2;
  const int width = AClient.right - AClient.left;
  const RECT frame{AClient.left + cw / 2, AClient.top + ch / 2, AClient.right - cw / 2, AClient.bottom - ch / 2};
  const std::wstring text = Caption();
  RECT title = measure_item_text(*this, text, FFlags);
  const int title_width = title.right - title.left;
  ::OffsetRect(&title, 0, (ch - (title.bottom - title.top)) / 2);
  const bool rtl = (ExStyle() & (WS_EX_RTLREADING | WS_EX_LAYOUTRTL)) != 0;
  int x;
  if (!(FFlags & DIF_LEFTTEXT) && !(FFlags & DIF_RIGHTTEXT))
    x = (width - title_width) / 2;
  else if (FFlags & DIF_LEFTTEXT)
    x = rtl ? width - 2 * cw - title_width : cw;
  else
    x = rtl ? cw : width - 2 * cw - title_width;
  ::OffsetRect(&title, x, 0);

  // The title interrupts the frame in every style, as a group box title does.
  if (!text.empty()) ::ExcludeClipRect(ADC, title.left, title.top, title.right, title.bottom);
  const COLORREF line = FOwner->GetSeparatorColor();
  if (FFarRect.right - FFarRect.left == 1) {
    draw_line(ADC, line, frame.left, frame.top - 1, frame.left, frame.bottom);
  } else if (FFarRect.bottom - FFarRect.top == 1) {
    draw_line(ADC, line, frame.left - 1, frame.top, frame.right, frame.top);
  } else if (FTheme && SUCCEEDED(qor::DrawThemeBackground(FTheme, ADC, BpGroupBox,
                                                           ::IsWindowEnabled(HandleIfExists()) ? GbsNormal : GbsDisabled,
                                                           &frame, nullptr))) {
  } else {
    const RECT light{frame.left + 1, frame.top + 1, frame.right, frame.bottom};
    frame_rect(ADC, light, COLOR_BTNHIGHLIGHT);
    RECT shadow = light;
    ::OffsetRect(&shadow, -1, -1);
    frame_rect(ADC, shadow, COLOR_BTNSHADOW);
  }
  ::SelectClipRgn(ADC, nullptr);
  if (text.empty()) return;
  ::SetBkMode(ADC, TRANSPARENT);
  if (!::IsWindowEnabled(HandleIfExists())) ::SetTextColor(ADC, ::GetSysColor(COLOR_GRAYTEXT));
  ::DrawTextW(ADC, text.c_str(), static_cast<int>(text.size()), &title, text_flags(FFlags));
}

// ---- TqorFarDialog ----

TqorFarDialog::TqorFarDialog(HWND AOwnerWnd, const GUID* APluginID, const GUID* AID, intptr_t X1, intptr_t Y1,
                             intptr_t X2, intptr_t Y2, const wchar_t* /*AHelpTopic*/, const TFarDialogItem* AItems,
                             size_t AItemsNumber, intptr_t /*AReserved*/, TFarFlags /*AFlags*/,
                             TFarApiDialogProc ADlgProc, void* AParam)
    : TqorShellCustomDialogForm(AOwnerWnd, nullptr) {
  if (!APluginID || !AID) raise_invalid_parameter();
  if (AItemsNumber != 0 && !AItems) raise_invalid_parameter();
  std::vector<copied_item> items;
  copy_request request{APluginID, AID, AItems, AItemsNumber, {}, {}, &items, false};
  copy_plugin_memory(request);
  FPluginID = request.PluginIDCopy;
  FID = request.IDCopy;

  const intptr_t width = X1 == -1 ? X2 : X2 - X1 + 1;
  const intptr_t height = Y1 == -1 ? Y2 : Y2 - Y1 + 1;
  if (width <= 0 || height <= 0 || width > INT_MAX || height > INT_MAX) raise_invalid_parameter();
  FFarWidth = static_cast<int>(width);
  FFarHeight = static_cast<int>(height);
  FLines.assign(static_cast<size_t>(FFarHeight), 0);
  FOffsets.assign(static_cast<size_t>(FFarHeight), 0);
  FDlgProc = ADlgProc;
  FParam = AParam;
  if (AItemsNumber == 0) raise_invalid_parameter();

  FDlgData = reinterpret_cast<intptr_t>(AParam);
  FItems.resize(items.size());
  for (size_t index = 0; index < items.size(); ++index) {
    copied_item& copy = items[index];
    if (copy.BadText) raise_invalid_parameter();
    item_state& state = FItems[index];
    state.Text = std::move(copy.Text);
    state.History = std::move(copy.History);
    state.Mask = std::move(copy.Mask);
    // Our copy stands in for the plugin's item from here on; its text is already cut to MaxLength.
    TFarDialogItem& item = state.Item;
    item = copy.Item;
    item.Data = state.Text.c_str();
    item.History = copy.Item.History ? state.History.c_str() : nullptr;
    item.Mask = copy.Item.Mask ? state.Mask.c_str() : nullptr;
    item.X2 = std::max(item.X2, item.X1);
    item.Y2 = std::max(item.Y2, item.Y1);
    IqorFarControl* control = nullptr;
    TqorWinControl* window = nullptr;
    switch (item.Type) {
      case DI_TEXT: { auto* c = new TqorFarText(this); control = c; window = c; break; }
      case DI_DOUBLEBOX: { auto* c = new TqorFarDoubleBox(this); control = c; window = c; break; }
      case DI_SINGLEBOX: { auto* c = new TqorFarSingleBox(this); control = c; window = c; break; }
      case DI_EDIT: { auto* c = new TqorFarEdit(this); control = c; window = c; break; }
      case DI_FIXEDIT: { auto* c = new TqorFarFixedEdit(this); control = c; window = c; break; }
      case DI_PSWEDIT: { auto* c = new TqorFarPswEdit(this); control = c; window = c; break; }
      case DI_BUTTON: { auto* c = new TqorFarButton(this); control = c; window = c; break; }
      case DI_CHECKBOX: { auto* c = new TqorFarCheckBox(this); control = c; window = c; break; }
      case DI_RADIOBUTTON: { auto* c = new TqorFarRadioButton(this); control = c; window = c; break; }
      case DI_COMBOBOX: { auto* c = new TqorFarComboBox(this); control = c; window = c; break; }
      case DI_LISTBOX: { auto* c = new TqorFarListBox(this); control = c; window = c; break; }
      default: raise_invalid_parameter();
    }
    FFarControls.push_back(control);
    // Styles come from the item: the window is made when it gets its parent.
    control->Init(item);
    window->SetVisible(!(item.Flags & DIF_HIDDEN));
    window->SetParent(this);
    if (index == 0 && (item.Type == DI_DOUBLEBOX || item.Type == DI_SINGLEBOX))
      SetCaption((control->GetFlags() & DIF_SHOWAMPERSAND) ? state.Text
                                                             : TqorShellAmpersands::DeleteAmpersands(state.Text));
  }
  FFocus = 0;
  for (int pass = 0; pass < 2; ++pass) {
    const auto found = [&] {
      for (size_t index = 0; index < FItems.size(); ++index)
        if ((pass == 1 || (FItems[index].Item.Flags & DIF_FOCUS)) && CanFocus(static_cast<int>(index)))
          return static_cast<int>(index);
      return -1;
    }();
    if (found >= 0) {
      FFocus = found;
      break;
    }
  }
  for (item_state& state : FItems) state.Item.Flags &= ~DIF_FOCUS;
  FItems[static_cast<size_t>(FFocus)].Item.Flags |= DIF_FOCUS;
}

TqorFarDialog::~TqorFarDialog() {
  // The list only refers to the controls; the form owns and frees them.
  FFarControls.clear();
}

int TqorFarDialog::CellWidth() { return UI().DialogUnit().cx + 2; }

int TqorFarDialog::GetMinTextWidth() { return FFarWidth * CellWidth(); }
int TqorFarDialog::GetContentWidth() { return FFarWidth * CellWidth(); }

COLORREF TqorFarDialog::GetSeparatorColor() {
  COLORREF color = 0;
  // A theme without the property may answer the panel's own colour: the line would vanish.
  if (Theme() && SUCCEEDED(qor::GetThemeColor(Theme(), TdlgFootnoteSeparator, 0, TmtFillColorHint, &color)) &&
      color != ::GetSysColor(COLOR_WINDOW))
    return color;
  return ::GetSysColor(COLOR_GRAYTEXT);
}

void TqorFarDialog::UpdateControlsSize() {
  TqorShellCustomDialogForm::UpdateControlsSize();
  for (size_t index = 0; index < FFarControls.size(); ++index) {
    IqorFarControl* control = FFarControls[index];
    HWND wnd = control->GetVclControl()->Handle();
    ::SetWindowLongPtrW(wnd, GWLP_ID, static_cast<LONG_PTR>(ControlIdBase + index));
    // Boxes lie under the controls inside them; a new child window would start on top of them.
    if (control->GetType() == DI_DOUBLEBOX || control->GetType() == DI_SINGLEBOX)
      ::SetWindowPos(wnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::EnableWindow(wnd, !(FItems[index].Item.Flags & DIF_DISABLE));
    control->UpdateSize(UI());
  }
}

// Rows at or past the end map to the end of the last row, rows above the first to its top.
RECT TqorFarDialog::PixelRect(const RECT& ACells) const {
  const int cw = const_cast<TqorFarDialog*>(this)->CellWidth();
  const int total = FOffsets.back() + FLines.back();
  auto row_top = [&](LONG ARow) {
    if (ARow < 0) return 0;
    return ARow < FFarHeight ? FOffsets[static_cast<size_t>(ARow)] : total;
  };
  return RECT{ACells.left * cw, row_top(ACells.top), ACells.right * cw, row_top(ACells.bottom)};
}

// FAR's centre group: the members stand side by side in cells, each taking its step, and the run
// is centred on the dialog's width in cells (a leading button gives back the cell after the last).
void TqorFarDialog::PlaceCentreGroup(const std::vector<IqorFarControl*>& AGroup) {
  if (AGroup.empty()) return;
  std::vector<int> steps;
  int total = 0;
  for (IqorFarControl* control : AGroup) {
    steps.push_back(FarCentreGroupStep(control->GetType(), control->GetItemText(), control->GetFlags()));
    total += steps.back();
  }
  if (AGroup.front()->GetType() == DI_BUTTON && steps.front() > 0) --total;
  int x = std::max(0, (FFarWidth - total) / 2);
  for (size_t i = 0; i < AGroup.size(); ++i) {
    IqorFarControl* control = AGroup[i];
    RECT cells = control->GetFarRect();
    cells.right = x + (cells.right - cells.left);
    cells.left = x;
    control->SetBounds(PixelRect(cells));
    x += steps[i];
  }
}

void TqorFarDialog::UpdateContentBounds(RECT& ARect) {
  const SIZE unit = UI().DialogUnit();
  const SIZE margin = UI().DialogMargin();
  const int row_height = unit.cy + 2;
  std::fill(FLines.begin(), FLines.end(), row_height);
  for (IqorFarControl* control : FFarControls) {
    if (!control->SingleLine()) continue;
    const LONG top = control->GetFarRect().top;
    if (top >= 0 && top < FFarHeight)
      FLines[static_cast<size_t>(top)] = std::max(FLines[static_cast<size_t>(top)], control->GetMinHeight());
  }
  FOffsets[0] = 0;
  for (size_t row = 1; row < FOffsets.size(); ++row) FOffsets[row] = FOffsets[row - 1] + FLines[row - 1];

  const int dx = ARect.left - margin.cx, dy = ARect.top - margin.cy;
  for (IqorFarControl* control : FFarControls) {
    RECT rect = PixelRect(control->GetFarRect());
    ::OffsetRect(&rect, dx, dy);
    control->SetBounds(rect);
  }

  // Consecutive centre-group items of one row are centred together; anything else between them
  // splits them.
  std::vector<IqorFarControl*> group;
  for (IqorFarControl* control : FFarControls) {
    const int type = control->GetType();
    const bool member = type == DI_BUTTON || type == DI_CHECKBOX || type == DI_RADIOBUTTON ||
                        (type == DI_TEXT && !static_cast<TqorFarText*>(control)->IsSeparator());
    if (member && (control->GetFlags() & DIF_CENTERGROUP)) {
      if (!group.empty() && control->GetFarRect().top != group.front()->GetFarRect().top) {
        PlaceCentreGroup(group);
        group.clear();
      }
      group.push_back(control);
    } else {
      PlaceCentreGroup(group);
      group.clear();
    }
  }
  PlaceCentreGroup(group);

  ARect.bottom = UI().UnrelatedControlsSpacing().cy + FOffsets.back() + FLines.back() - margin.cy;
}

// ---- the session with the dialog procedure ----

namespace {
// Posted to move the focus where DN_KILLFOCUS sent it, once the current focus change is over.
constexpr UINT WmRedirectFocus = WM_APP + 1;
}  // namespace

int TqorFarDialog::IndexOf(const IqorFarControl* AControl) const noexcept {
  for (size_t index = 0; index < FFarControls.size(); ++index)
    if (FFarControls[index] == AControl) return static_cast<int>(index);
  return -1;
}

bool TqorFarDialog::CanFocus(int AIndex) {
  if (!ValidIndex(AIndex)) return false;
  const TFarFlags flags = Item(AIndex).Flags;
  return FFarControls[static_cast<size_t>(AIndex)]->CanTabStop() &&
         !(flags & (DIF_NOFOCUS | DIF_DISABLE | DIF_HIDDEN));
}

intptr_t TqorFarDialog::Notify(intptr_t AMsg, intptr_t AParam1, void* AParam2) {
  // After the run has ended the procedure hears nothing more; whatever asked for its consent
  // gets a refusal, as FAR's own wrapper answers then.
  if (FProcState != proc_state::live) return AMsg == DN_INPUT ? TRUE : FALSE;
  if (!FDlgProc) return DefaultAnswer(AMsg, AParam1, AParam2);
  try {
    return GuardedCall(L"DialogProc", FDlgProc, DialogHandle(), AMsg, AParam1, AParam2);
  } catch (...) {
    FProcState = proc_state::faulted;
    if (!FClosed) {
      FClosed = true;
      FExitCode = -1;
      SetModalResult(mrCancel);
    }
    return FALSE;
  }
}

intptr_t TqorFarDialog::DefaultAnswer(intptr_t AMsg, intptr_t AParam1, void* AParam2) {
  switch (AMsg) {
    case DN_CLOSE: return TRUE;
    case DN_KILLFOCUS: return ValidIndex(AParam1) ? -1 : 0;
    case DN_HELP: return reinterpret_cast<intptr_t>(AParam2);
    case DN_DRAGGED: case DN_DRAWDIALOG: case DN_DRAWDIALOGDONE: case DN_INPUT: return TRUE;
    case DN_DRAWDLGITEMDONE: case DN_DRAWDLGITEM: case DN_HOTKEY: case DN_EDITCHANGE: case DN_LISTCHANGE:
      return ValidIndex(AParam1) ? TRUE : 0;
    case DN_BTNCLICK:
      if (!ValidIndex(AParam1)) return 0;
      // A plain button closes the dialog: it is not "handled".
      return Item(static_cast<int>(AParam1)).Type == DI_BUTTON && !(Item(static_cast<int>(AParam1)).Flags & DIF_BTNNOCLOSE)
                 ? FALSE
                 : TRUE;
    default: return 0;
  }
}

bool TqorFarDialog::TryClose(intptr_t AExitCode) {
  if (FClosed) return true;
  if (Notify(DN_CLOSE, AExitCode, nullptr) == 0 && FProcState == proc_state::live) return false;
  if (FClosed) return true;  // the procedure faulted, which closes with -1
  FClosed = true;
  FExitCode = AExitCode;
  if (FProcState == proc_state::live) FProcState = proc_state::closed;
  SetModalResult(mrOk);
  return true;
}

void TqorFarDialog::ButtonPressed(int AIndex) {
  if (!ValidIndex(AIndex) || FClosed || !FShown) return;
  if (Notify(DN_BTNCLICK, AIndex, nullptr) != 0) return;
  if (Item(AIndex).Flags & DIF_BTNNOCLOSE) return;
  TryClose(AIndex);
}

void TqorFarDialog::ItemLabelChanged(int AIndex) {
  if (!ValidIndex(AIndex) || !HandleAllocated() || !CanUpdateControlsBounds()) return;
  IqorFarControl* control = GetFarControl(AIndex);
  const int type = control->GetType();
  if (type != DI_BUTTON && type != DI_CHECKBOX && type != DI_RADIOBUTTON && type != DI_TEXT) return;
  control->UpdateSize(UI());
  UpdateControlsPos();
}

// Enter on anything but a button: the first default button unless it never closes; disabled, it
// does nothing; without one, the focused item closes the dialog.
void TqorFarDialog::EnterPressed() {
  if (!FShown || FClosed) return;
  if (ValidIndex(FFocus)) {
    const TFarDialogItem& focused = Item(FFocus);
    if (focused.Type == DI_BUTTON) return ButtonPressed(FFocus);
    if (focused.Type == DI_LISTBOX && (focused.Flags & DIF_LISTNOCLOSE)) return;
  }
  for (size_t index = 0; index < FItems.size(); ++index) {
    const TFarFlags flags = FItems[index].Item.Flags;
    if (!(flags & DIF_DEFAULTBUTTON) || (flags & DIF_BTNNOCLOSE)) continue;
    if (!(flags & DIF_DISABLE)) TryClose(static_cast<intptr_t>(index));
    return;
  }
  TryClose(FFocus);
}

void TqorFarDialog::ItemFocused(int AIndex) {
  if (!ValidIndex(AIndex) || AIndex == FFocus) return;
  const int previous = FFocus;
  int redirect = -1;
  if (FShown && !FClosed && ValidIndex(previous)) {
    const intptr_t answer = Notify(DN_KILLFOCUS, previous, nullptr);
    if (answer >= 0 && answer != AIndex && answer != previous && CanFocus(static_cast<int>(answer)))
      redirect = static_cast<int>(answer);
  }
  if (ValidIndex(previous)) Item(previous).Flags &= ~DIF_FOCUS;
  FFocus = AIndex;
  Item(AIndex).Flags |= DIF_FOCUS;
  SetActiveControl(FFarControls[static_cast<size_t>(AIndex)]->GetVclControl());
  if (FShown && !FClosed) Notify(DN_GOTFOCUS, AIndex, nullptr);
  if (redirect >= 0 && HandleAllocated()) ::PostMessageW(HandleIfExists(), WmRedirectFocus, static_cast<WPARAM>(redirect), 0);
}

bool TqorFarDialog::FocusItem(int AIndex) {
  if (!CanFocus(AIndex)) return false;
  if (AIndex == FFocus) return true;
  IqorFarControl* control = FFarControls[static_cast<size_t>(AIndex)];
  if (FShown && !FClosed && ::IsWindowVisible(HandleIfExists()))
    control->SetFocus();  // the control reports the change itself
  if (FFocus != AIndex) ItemFocused(AIndex);
  return FFocus == AIndex;
}

// Hiding or disabling the focused item passes the focus on to the next item that can take it.
void TqorFarDialog::MoveFocusOff(int AIndex) {
  if (AIndex != FFocus) return;
  const int count = FarControlCount();
  for (int step = 1; step < count; ++step) {
    const int next = (AIndex + step) % count;
    if (CanFocus(next)) {
      FocusItem(next);
      return;
    }
  }
}

void TqorFarDialog::ItemTextChanged(int AIndex) {
  if (!ValidIndex(AIndex) || !FShown || FClosed) return;
  const std::wstring text = FFarControls[static_cast<size_t>(AIndex)]->GetItemText();
  TFarDialogItem item = Item(AIndex);
  item.Data = text.c_str();
  Notify(DN_EDITCHANGE, AIndex, &item);
}

void TqorFarDialog::SetItemEnabled(int AIndex, bool AEnabled) {
  TFarDialogItem& item = Item(AIndex);
  item.Flags = AEnabled ? item.Flags & ~DIF_DISABLE : item.Flags | DIF_DISABLE;
  TqorWinControl* window = FFarControls[static_cast<size_t>(AIndex)]->GetVclControl();
  if (window->HandleAllocated()) ::EnableWindow(window->HandleIfExists(), AEnabled);
  if (!AEnabled) MoveFocusOff(AIndex);
}

void TqorFarDialog::SetItemVisible(int AIndex, bool AVisible) {
  TFarDialogItem& item = Item(AIndex);
  item.Flags = AVisible ? item.Flags & ~DIF_HIDDEN : item.Flags | DIF_HIDDEN;
  FFarControls[static_cast<size_t>(AIndex)]->GetVclControl()->SetVisible(AVisible);
  if (!AVisible) MoveFocusOff(AIndex);
}

const wchar_t* TqorFarDialog::ConstText(int AIndex) {
  item_state& state = FItems.at(static_cast<size_t>(AIndex));
  const std::wstring text = FFarControls[static_cast<size_t>(AIndex)]->GetItemText();
  if (text != state.ConstText) state.ConstText = text;
  return state.ConstText.c_str();
}

int TqorFarDialog::EnableRedraw(intptr_t AParam) {
  const int previous = FRedrawLock;
  if (AParam == TRUE) {
    if (FRedrawLock < 0) ++FRedrawLock;
  } else if (AParam == FALSE) {
    --FRedrawLock;
  } else {
    return previous;
  }
  // Only counted: WM_SETREDRAW would make a hidden dialog visible and a shown one lose its style.
  if (HWND wnd = HandleIfExists())
    if (FRedrawLock == 0 && previous != 0) ::RedrawWindow(wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_ERASE);
  return previous;
}

void TqorFarDialog::WndProc(TqorMessage& AMessage) {
  switch (AMessage.Msg) {
    case WM_COMMAND:
      // Keys the dialog manager turns into commands without a control: Esc and Enter.
      if (AMessage.LParam == 0 && HIWORD(AMessage.WParam) == 0) {
        if (LOWORD(AMessage.WParam) == IDCANCEL) TryClose(-1);
        if (LOWORD(AMessage.WParam) == IDOK) EnterPressed();
        AMessage.Result = 0;
        return;
      }
      break;
    case DM_GETDEFID:
      // No default identifier: Enter always comes as IDOK, and the rules above pick the item.
      AMessage.Result = 0;
      return;
    case WM_NEXTDLGCTL: {
      // The dialog manager's way of moving on from a label whose & letter was typed.
      HWND from = AMessage.LParam ? reinterpret_cast<HWND>(AMessage.WParam) : nullptr;
      if (AMessage.LParam) {
        FMnemonicAnchor = from;
      } else {
        HWND anchor = FMnemonicAnchor ? FMnemonicAnchor : ::GetFocus();
        FMnemonicAnchor = nullptr;
        if (HWND next = ::GetNextDlgTabItem(HandleIfExists(), anchor, AMessage.WParam != 0)) ::SetFocus(next);
      }
      AMessage.Result = 0;
      return;
    }
    case WmRedirectFocus:
      FocusItem(static_cast<int>(AMessage.WParam));
      AMessage.Result = 0;
      return;
    default: break;
  }
  TqorShellCustomDialogForm::WndProc(AMessage);
}

// The close box is Esc.
void TqorFarDialog::OnClose(TqorMessage& AMessage) {
  AMessage.Result = 0;
  if (FShown) TryClose(-1);
}

// One run: DN_INITDIALOG the first time only (a second run keeps every item's state), then the
// focus notification and the modal loop until a close the procedure agrees to.
int TqorFarDialog::ShowModal() {
  FClosed = false;
  FExitCode = -1;
  if (FProcState == proc_state::closed) FProcState = proc_state::live;
  if (!FInitialised) {
    FInitialised = true;
    // A DM_CLOSE the procedure sends here ends the run at once.
    Notify(DN_INITDIALOG, FFocus, FParam);
    FInitDialogDone = true;
  }
  if (!FClosed) {
    SetActiveControl(FFarControls[static_cast<size_t>(FFocus)]->GetVclControl());
    FShown = true;
    Notify(DN_GOTFOCUS, FFocus, nullptr);
    struct shown_flag {
      bool& Flag;
      ~shown_flag() { Flag = false; }
    } shown{FShown};
    if (!FClosed) TqorShellCustomDialogForm::ShowModal(nullptr);
  }
  if (FProcState == proc_state::live) FProcState = proc_state::closed;
  return FClosed ? static_cast<int>(FExitCode) : -1;
}

// ---- host entries ----

namespace {

// The dialogs that DialogInit handed out and DialogFree has not taken back. A handle is only
// ever dereferenced after it was found here; a dialog freed while it runs (by its own dialog
// procedure, say) goes when the run ends.
class live_dialogs {
 public:
  void Add(TqorFarDialog* ADialog) {
    lock_guard<critical_section> guard(FLock);
    FDialogs[ADialog] = state{};
  }
  TqorFarDialog* Acquire(HANDLE AHandle) noexcept {
    lock_guard<critical_section> guard(FLock);
    auto it = FDialogs.find(static_cast<TqorFarDialog*>(AHandle));
    if (it == FDialogs.end() || it->second.FreePending) return nullptr;
    ++it->second.Running;
    return it->first;
  }
  // True when the caller must free the dialog now.
  bool Release(TqorFarDialog* ADialog) noexcept {
    lock_guard<critical_section> guard(FLock);
    auto it = FDialogs.find(ADialog);
    if (it == FDialogs.end()) return false;
    if (--it->second.Running > 0 || !it->second.FreePending) return false;
    FDialogs.erase(it);
    return true;
  }
  // Also a dialog freed while it runs: it is still there until the run ends.
  TqorFarDialog* Running(HANDLE AHandle) noexcept {
    lock_guard<critical_section> guard(FLock);
    auto it = FDialogs.find(static_cast<TqorFarDialog*>(AHandle));
    if (it == FDialogs.end() || (it->second.FreePending && it->second.Running == 0)) return nullptr;
    return it->first;
  }
  bool Remove(HANDLE AHandle) noexcept {
    lock_guard<critical_section> guard(FLock);
    auto it = FDialogs.find(static_cast<TqorFarDialog*>(AHandle));
    if (it == FDialogs.end() || it->second.FreePending) return false;
    if (it->second.Running > 0) {
      it->second.FreePending = true;
      return false;
    }
    FDialogs.erase(it);
    return true;
  }

 private:
  struct state {
    int Running = 0;
    bool FreePending = false;
  };
  critical_section FLock;
  std::map<TqorFarDialog*, state> FDialogs;
};

live_dialogs GLiveDialogs;

void free_dialog(TqorFarDialog* ADialog) noexcept {
  try {
    delete ADialog;
  } catch (...) {
  }
}

}  // namespace

TqorFarDialog* AcquireDialog(HANDLE AHandle) noexcept { return GLiveDialogs.Acquire(AHandle); }
TqorFarDialog* RunningDialog(HANDLE AHandle) noexcept { return GLiveDialogs.Running(AHandle); }
void ReleaseDialog(TqorFarDialog* ADialog) noexcept {
  if (ADialog && GLiveDialogs.Release(ADialog)) free_dialog(ADialog);
}

HANDLE WINAPI FarApiDialogInit(const GUID* APluginId, const GUID* AId, intptr_t X1, intptr_t Y1, intptr_t X2,
                               intptr_t Y2, const wchar_t* AHelpTopic, const TFarDialogItem* AItem,
                               size_t AItemsNumber, intptr_t AReserved, TFarFlags AFlags,
                               TFarApiDialogProc ADlgProc, void* AParam) {
  try {
    auto dialog = std::make_unique<TqorFarDialog>(ThreadOwnerWindow(), APluginId, AId, X1, Y1, X2, Y2, AHelpTopic, AItem,
                                                  AItemsNumber, AReserved, AFlags, ADlgProc, AParam);
    dialog->AfterConstruction();
    GLiveDialogs.Add(dialog.get());
    return static_cast<HANDLE>(dialog.release());
  } catch (...) {
    return INVALID_HANDLE_VALUE;
  }
}

// A button that closes a dialog as Esc does: the user's stop, whatever the plugin makes of it.
static bool is_cancel_button(const TFarDialogItem& AItem) {
  if (AItem.Type != DI_BUTTON) return false;
  std::wstring text = FarItemText(AItem);
  text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
  return ::CompareStringOrdinal(text.c_str(), -1, L"Cancel", -1, TRUE) == CSTR_EQUAL;
}

intptr_t WINAPI FarApiDialogRun(HANDLE hDlg) {
  TqorFarDialog* dialog = AcquireDialog(hDlg);
  if (!dialog) return -1;
  intptr_t result = -1;
  try {
    result = dialog->ShowModal();
    if (result < 0 || is_cancel_button(dialog->Item(static_cast<int>(result)))) NoteUserStop();
  } catch (...) {
    result = -1;
  }
  ReleaseDialog(dialog);
  return result;
}

void WINAPI FarApiDialogFree(HANDLE hDlg) {
  if (GLiveDialogs.Remove(hDlg)) free_dialog(static_cast<TqorFarDialog*>(hDlg));
}

}  // namespace qor
