#include "dialogs/qorFarPluginsForm.h"

#include <commctrl.h>

#include <algorithm>

namespace qor {

namespace {

constexpr wchar_t kCaption[] = L"Wexlor";
constexpr wchar_t kHeading[] = L"Hosted plugins";
constexpr wchar_t kExplanation[] =
    L"A file is offered to the ticked plugins from the top down; the first that takes it opens it. "
    L"A plugin without a tick is not loaded.";
constexpr const wchar_t* kColumns[] = {L"Plugin", L"Version", L"Author", L"Folder"};
// Column widths in average characters.
constexpr int kColumnChars[] = {26, 11, 18, 16};
constexpr int kVisibleRows = 8;
constexpr int kDetailLines = 3;

int checked_state(bool AChecked) { return INDEXTOSTATEIMAGEMASK(AChecked ? 2 : 1); }

}  // namespace

// A report-view list with a tick in front of every row.
class TqorFarPluginsForm::TList : public TqorSystemControl {
 public:
  explicit TList(TqorComponent* AOwner)
      : TqorSystemControl(AOwner, WC_LISTVIEWW,
                          WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                          WS_EX_CLIENTEDGE) {}

  std::function<void()> OnCreated;

  void SetColumnWidths(const TqorShellUI& AUI) {
    HWND wnd = HandleIfExists();
    if (!wnd) return;
    for (int i = 0; i < static_cast<int>(std::size(kColumnChars)); ++i)
      ::SendMessageW(wnd, LVM_SETCOLUMNWIDTH, i, AUI.Width(kColumnChars[i]));
  }

  int RowHeight() const {
    RECT rect{};
    rect.left = LVIR_BOUNDS;
    HWND wnd = HandleIfExists();
    if (wnd && ::SendMessageW(wnd, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&rect))) return rect.bottom - rect.top;
    return 0;
  }

 protected:
  void HandleCreated() override {
    HWND wnd = HandleIfExists();
    const DWORD extended = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER;
    ::SendMessageW(wnd, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
      column.pszText = const_cast<wchar_t*>(kColumns[i]);
      column.cx = 100;
      column.iSubItem = i;
      ::SendMessageW(wnd, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    if (OnCreated) OnCreated();
  }
};

TqorFarPluginsForm::TqorFarPluginsForm(HWND AOwnerWnd, std::vector<TqorFarPluginRow> ARows, TConfigure AConfigure,
                                       TAccept AAccept)
    : TqorShellCustomDialogForm(AOwnerWnd, nullptr),
      FRows(std::move(ARows)),
      FConfigure(std::move(AConfigure)),
      FAccept(std::move(AAccept)) {
  // The list view's classes, registered while the module's common-controls context is active.
  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&classes);
  SetCaption(kCaption);
  SetMessageCaption(kHeading);
  SetMessageText(kExplanation);

  FList = new TList(this);
  FList->OnCreated = [this] {
    FFilling = true;
    for (int i = 0; i < static_cast<int>(FRows.size()); ++i) {
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = i;
      item.pszText = const_cast<wchar_t*>(L"");
      ::SendMessageW(FList->HandleIfExists(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      ShowRow(i);
    }
    FFilling = false;
  };
  FList->SetParent(this);
  FUp = new TqorButton(this);
  FUp->SetCaption(L"Move &up");
  FUp->OnClick = [this] { Move(-1); };
  FUp->SetParent(this);
  FDown = new TqorButton(this);
  FDown->SetCaption(L"Move &down");
  FDown->OnClick = [this] { Move(1); };
  FDown->SetParent(this);
  FConfigureButton = new TqorButton(this);
  FConfigureButton->SetCaption(L"&Configure\u2026");
  FConfigureButton->OnClick = [this] { Configure(); };
  FConfigureButton->SetParent(this);
  FDetails = new TqorSystemControl(this, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL);
  FDetails->SetParent(this);
  AddButton(L"OK", mrOk, 0, false, true)->OnClick = [this] { Accept(); };
  AddButton(L"Cancel", mrCancel);
}

bool TqorFarPluginsForm::Run() {
  // Esc finds Cancel by its id, Enter OK.
  ::SetWindowLongPtrW(GetButton(0)->Handle(), GWLP_ID, IDOK);
  ::SetWindowLongPtrW(GetButton(1)->Handle(), GWLP_ID, IDCANCEL);
  Select(FRows.empty() ? -1 : 0);
  RowsChanged();
  SetActiveControl(FList);
  return ShowModal(nullptr) == mrOk;
}

int TqorFarPluginsForm::GetContentWidth() {
  int columns = 0;
  for (int chars : kColumnChars) columns += UI().Width(chars);
  return 2 * UI().DialogMargin().cx + columns + dpi::GetSystemMetricsDpi(SM_CXVSCROLL, UI().DpiX(), true) + 4 +
         UI().RelatedControlsSpacing().cx + FUp->Width();
}

void TqorFarPluginsForm::UpdateControlsSize() {
  TqorShellCustomDialogForm::UpdateControlsSize();
  UI().SetButtonSize({FUp, FDown, FConfigureButton});
  FList->SetColumnWidths(UI());
}

void TqorFarPluginsForm::UpdateContentBounds(RECT& ARect) {
  const SIZE related = UI().RelatedControlsSpacing();
  const int buttons = FUp->Width();
  const int list_width = ARect.right - ARect.left - related.cx - buttons;
  // Rows of the list as its font draws them, and the header above them.
  const int row = std::max(FList->RowHeight(), UI().Height(1) + 4);
  int header = 0;
  if (HWND head = reinterpret_cast<HWND>(::SendMessageW(FList->Handle(), LVM_GETHEADER, 0, 0))) {
    RECT rect{};
    if (::GetWindowRect(head, &rect)) header = rect.bottom - rect.top;
  }
  if (header <= 0) header = row + 4;
  const int list_height = header + kVisibleRows * row + 4 + dpi::GetSystemMetricsDpi(SM_CYHSCROLL, UI().DpiY(), true);
  int y = ARect.top;
  FList->SetBounds(ARect.left, y, list_width, list_height);
  const int x = ARect.left + list_width + related.cx;
  int button_y = y;
  for (TqorButton* button : {FUp, FDown, FConfigureButton}) {
    button->SetBounds(x, button_y, buttons, button->Height());
    button_y += button->Height() + related.cy;
  }
  y += list_height + related.cy;
  const int details_height = kDetailLines * UI().Height(1);
  FDetails->SetBounds(ARect.left, y, ARect.right - ARect.left, details_height);
  y += details_height;
  ARect.bottom = y + UI().UnrelatedControlsSpacing().cy;
}

int TqorFarPluginsForm::Selected() const noexcept {
  HWND wnd = FList->HandleIfExists();
  return wnd ? static_cast<int>(::SendMessageW(wnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)) : -1;
}

void TqorFarPluginsForm::Select(int ARow) {
  HWND wnd = FList->Handle();
  if (ARow < 0) return;
  LVITEMW item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(wnd, LVM_SETITEMSTATE, static_cast<WPARAM>(ARow), reinterpret_cast<LPARAM>(&item));
  ::SendMessageW(wnd, LVM_ENSUREVISIBLE, static_cast<WPARAM>(ARow), FALSE);
}

void TqorFarPluginsForm::ShowRow(int ARow) {
  HWND wnd = FList->Handle();
  const TqorFarPluginRow& row = FRows[static_cast<size_t>(ARow)];
  // The column names the plugin's own folder; the details below the list give the whole path.
  const std::wstring folder = row.Folder.substr(row.Folder.find_last_of(L"\\/") + 1);
  const std::wstring* texts[] = {&row.Title, &row.Version, &row.Author, &folder};
  const bool filling = FFilling;
  FFilling = true;
  for (int column = 0; column < static_cast<int>(std::size(texts)); ++column) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(texts[column]->c_str());
    ::SendMessageW(wnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(ARow), reinterpret_cast<LPARAM>(&item));
  }
  LVITEMW state{};
  state.stateMask = LVIS_STATEIMAGEMASK;
  state.state = static_cast<UINT>(checked_state(row.Enabled));
  ::SendMessageW(wnd, LVM_SETITEMSTATE, static_cast<WPARAM>(ARow), reinterpret_cast<LPARAM>(&state));
  FFilling = filling;
}

// The buttons and the details follow the selected row.
void TqorFarPluginsForm::RowsChanged() {
  const int selected = Selected();
  const bool any = selected >= 0 && selected < static_cast<int>(FRows.size());
  ::EnableWindow(FUp->Handle(), any && selected > 0);
  ::EnableWindow(FDown->Handle(), any && selected + 1 < static_cast<int>(FRows.size()));
  ::EnableWindow(FConfigureButton->Handle(), any && !FRows[static_cast<size_t>(selected)].Configurations.empty());
  std::wstring details;
  if (any) {
    const TqorFarPluginRow& row = FRows[static_cast<size_t>(selected)];
    details = row.Description;
    if (!row.Folder.empty()) details += (details.empty() ? L"" : L"\r\n") + std::wstring(L"Folder: ") + row.Folder;
  }
  FDetails->SetCaption(details);
}

void TqorFarPluginsForm::Move(int ADelta) {
  const int from = Selected();
  const int to = from + ADelta;
  if (from < 0 || to < 0 || to >= static_cast<int>(FRows.size())) return;
  std::swap(FRows[static_cast<size_t>(from)], FRows[static_cast<size_t>(to)]);
  ShowRow(from);
  ShowRow(to);
  Select(to);
  RowsChanged();
  // The button that moved the row past an end is disabled: the list keeps the keyboard.
  if (!::IsWindowEnabled(::GetFocus())) ::SetFocus(FList->Handle());
}

void TqorFarPluginsForm::Configure() {
  const int selected = Selected();
  if (selected < 0 || selected >= static_cast<int>(FRows.size())) return;
  const TqorFarPluginRow row = FRows[static_cast<size_t>(selected)];
  if (row.Configurations.empty()) return;
  size_t entry = 0;
  if (row.Configurations.size() > 1) {
    // Several entries: the user picks one, as from FAR's plugin configuration menu.
    HMENU menu = ::CreatePopupMenu();
    for (size_t i = 0; i < row.Configurations.size(); ++i)
      ::AppendMenuW(menu, MF_STRING, i + 1, row.Configurations[i].c_str());
    RECT rect{};
    ::GetWindowRect(FConfigureButton->Handle(), &rect);
    const UINT chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, rect.left, rect.bottom, 0, Handle(), nullptr));
    ::DestroyMenu(menu);
    if (chosen == 0) return;
    entry = chosen - 1;
  }
  if (!FConfigure) return;
  TqorThreadOwnerScope owner(Handle());
  FConfigure(row, entry);
}

void TqorFarPluginsForm::Accept() {
  if (!FAccept) return;
  const std::wstring problem = FAccept(FRows);
  if (!problem.empty()) ::MessageBoxW(Handle(), problem.c_str(), kCaption, MB_OK | MB_ICONERROR);
}

void TqorFarPluginsForm::OnListNotify(const NMHDR& AHeader) {
  if (AHeader.code != LVN_ITEMCHANGED) return;
  const auto& change = reinterpret_cast<const NMLISTVIEW&>(AHeader);
  if (change.iItem < 0 || change.iItem >= static_cast<int>(FRows.size()) || !(change.uChanged & LVIF_STATE)) return;
  if (!FFilling && ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK))
    FRows[static_cast<size_t>(change.iItem)].Enabled = ((change.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
  if ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) RowsChanged();
}

void TqorFarPluginsForm::WndProc(TqorMessage& AMessage) {
  if (AMessage.Msg == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(AMessage.LParam);
    if (header && header->hwndFrom == FList->HandleIfExists()) {
      OnListNotify(*header);
      AMessage.Result = 0;
      return;
    }
  }
  // Enter without a default button in reach arrives as IDOK without a control.
  if (AMessage.Msg == WM_COMMAND && AMessage.LParam == 0 && LOWORD(AMessage.WParam) == IDOK) {
    Accept();
    SetModalResult(mrOk);
    AMessage.Result = 0;
    return;
  }
  TqorShellCustomDialogForm::WndProc(AMessage);
}

}  // namespace qor
