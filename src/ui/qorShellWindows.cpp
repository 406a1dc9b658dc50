#include "ui/qorShellWindows.h"

#include <algorithm>
#include <exception>
#include <new>

#include "common/qorErrors.h"
#include "common/qorLocks.h"

namespace qor {

LRESULT CALLBACK qor_window_proc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam);
LRESULT CALLBACK qor_timer_proc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam);

namespace {

constexpr wchar_t WindowClassName[] = L"WexlorWindow";
constexpr wchar_t TimerClassName[] = L"WexlorTimer";

critical_section GClassLock;
bool GWindowClassRegistered = false;
bool GTimerClassRegistered = false;

// A plain pointer: a thread-local with a destructor would be run from a module that a host may
// already have unloaded when the thread ends.
thread_local std::exception_ptr* TPendingError = nullptr;

void ensure_classes() {
  lock_guard<critical_section> guard(GClassLock);
  if (!GWindowClassRegistered) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = qor_window_proc;
    cls.hInstance = FrameworkInstance();
    cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = WindowClassName;
    if (!::RegisterClassExW(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
    GWindowClassRegistered = true;
  }
  if (!GTimerClassRegistered) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = qor_timer_proc;
    cls.hInstance = FrameworkInstance();
    cls.lpszClassName = TimerClassName;
    if (!::RegisterClassExW(&cls) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastOSError();
    GTimerClassRegistered = true;
  }
}

TqorWinControl* control_of(HWND AWnd) noexcept {
  return AWnd ? reinterpret_cast<TqorWinControl*>(::GetWindowLongPtrW(AWnd, GWLP_USERDATA)) : nullptr;
}

void keep_error() noexcept {
  if (!TPendingError) TPendingError = new (std::nothrow) std::exception_ptr(std::current_exception());
}

}  // namespace

HINSTANCE FrameworkInstance() noexcept {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&GClassLock), &self);
  return self;
}

void UnregisterWindowClasses() noexcept {
  lock_guard<critical_section> guard(GClassLock);
  if (GWindowClassRegistered) ::UnregisterClassW(WindowClassName, FrameworkInstance());
  if (GTimerClassRegistered) ::UnregisterClassW(TimerClassName, FrameworkInstance());
  GWindowClassRegistered = GTimerClassRegistered = false;
}

void RaisePendingWindowError() {
  if (TPendingError) {
    const std::exception_ptr error = *TPendingError;
    delete TPendingError;
    TPendingError = nullptr;
    std::rethrow_exception(error);
  }
}

LRESULT CALLBACK qor_window_proc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
  TqorWinControl* control = control_of(AWnd);
  if (!control && AMsg == WM_NCCREATE) {
    control = static_cast<TqorWinControl*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
    if (control) control->Attach(AWnd);
  }
  if (!control) return ::DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
  TqorMessage message{AMsg, AWParam, ALParam, 0, false};
  try {
    control->WndProc(message);
  } catch (...) {
    keep_error();
    // A window whose creation failed must not come into being half made.
    if (AMsg == WM_NCCREATE) message.Result = FALSE;
  }
  if (AMsg == WM_NCDESTROY) {
    ::SetWindowLongPtrW(AWnd, GWLP_USERDATA, 0);
    if (control->FDefWndProc)
      ::SetWindowLongPtrW(AWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(control->FDefWndProc));
    control->FDefWndProc = nullptr;
    control->FHandle = nullptr;
  }
  return message.Result;
}

// ---- TqorFont ----

TqorFont::TqorFont() {
  ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(FLogFont), &FLogFont);
}

HFONT TqorFont::Handle() const {
  if (!FHandle) FHandle.reset(::CreateFontIndirectW(&FLogFont));
  return FHandle.get();
}

void TqorFont::SetHandle(HFONT AFont) {
  if (!AFont || AFont == FHandle.get()) return;
  LOGFONTW description{};
  if (::GetObjectW(AFont, sizeof(description), &description) != sizeof(description)) {
    ::DeleteObject(AFont);
    return;
  }
  // Windows still using the old handle get the new one in Changed before it goes.
  unique_gdi<HFONT> old(FHandle.release());
  FLogFont = description;
  FHandle.reset(AFont);
  Changed();
}

void TqorFont::SetHeight(int AHeight) {
  if (AHeight == FLogFont.lfHeight) return;
  unique_gdi<HFONT> old(FHandle.release());
  FLogFont.lfHeight = AHeight;
  Changed();
}

void TqorFont::Assign(const TqorFont& ASource) {
  if (&ASource == this) return;
  unique_gdi<HFONT> old(FHandle.release());
  FLogFont = ASource.FLogFont;
  Changed();
}

void TqorFont::Changed() {
  if (OnChange) OnChange();
}

// ---- TqorComponent ----

TqorComponent::TqorComponent(TqorComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TqorComponent::~TqorComponent() {
  while (!FComponents.empty()) {
    TqorComponent* owned = FComponents.back();
    FComponents.pop_back();
    owned->FOwner = nullptr;
    delete owned;
  }
  if (FOwner) {
    auto& list = FOwner->FComponents;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

// ---- TqorWinControl ----

TqorWinControl::TqorWinControl(TqorComponent* AOwner) : TqorComponent(AOwner) {
  FFont.OnChange = [this] { FontChanged(); };
}

TqorWinControl::~TqorWinControl() {
  FDestroying = true;
  DestroyHandle();
  for (TqorWinControl* child : FControls) child->FParent = nullptr;
  FControls.clear();
  if (FParent) {
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TqorWinControl::Attach(HWND AWnd) noexcept {
  FHandle = AWnd;
  ::SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

HWND TqorWinControl::Handle() {
  if (FHandle) return FHandle;
  ensure_classes();
  TqorCreateParams params{};
  CreateParams(params);
  if (FParent) params.WndParent = FParent->Handle();
  HWND wnd = ::CreateWindowExW(params.ExStyle, params.ClassName ? params.ClassName : WindowClassName,
                               params.Caption.c_str(), params.Style, params.X, params.Y, params.Width,
                               params.Height, params.WndParent, nullptr, FrameworkInstance(),
                               params.ClassName ? nullptr : this);
  RaisePendingWindowError();
  if (!wnd) RaiseLastOSError();
  if (!FHandle) {
    // A system class: subclass it so that its messages reach this object too.
    Attach(wnd);
    FDefWndProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(qor_window_proc)));
  }
  RECT rect{};
  ::GetWindowRect(wnd, &rect);
  FWidth = rect.right - rect.left;
  FHeight = rect.bottom - rect.top;
  ::SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), FALSE);
  HandleCreated();
  RaisePendingWindowError();
  return FHandle;
}

void TqorWinControl::CreateHandles() {
  Handle();
  for (TqorWinControl* child : FControls) child->CreateHandles();
}

void TqorWinControl::DestroyHandle() noexcept {
  if (FHandle) ::DestroyWindow(FHandle);
  // A window that Windows would not destroy is at least cut off from this object.
  if (FHandle) {
    ::SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    if (FDefWndProc) ::SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FDefWndProc));
    FHandle = nullptr;
    FDefWndProc = nullptr;
  }
}

void TqorWinControl::SetParent(TqorWinControl* AParent) {
  if (AParent == FParent) return;
  if (FParent) {
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FParent = AParent;
  if (!FParent) return;
  FParent->FControls.push_back(this);
  if (FParentFont) FFont.Assign(FParent->FFont);
  if (FHandle) {
    ::SetParent(FHandle, FParent->Handle());
  } else if (FParent->HandleAllocated()) {
    Handle();
  }
}

void TqorWinControl::CreateParams(TqorCreateParams& AParams) {
  AParams.ClassName = nullptr;
  AParams.Caption = FCaption;
  AParams.Style = WS_CHILD | WS_CLIPSIBLINGS | (FVisible ? WS_VISIBLE : 0);
  AParams.ExStyle = 0;
  AParams.X = FLeft;
  AParams.Y = FTop;
  AParams.Width = FWidth;
  AParams.Height = FHeight;
  AParams.WndParent = nullptr;
}

namespace {
RECT rect_in_parent(HWND AWnd) {
  RECT rect{};
  ::GetWindowRect(AWnd, &rect);
  HWND parent = (::GetWindowLongW(AWnd, GWL_STYLE) & WS_CHILD) ? ::GetParent(AWnd) : nullptr;
  if (parent) ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}
}  // namespace

int TqorWinControl::Left() const { return FHandle ? rect_in_parent(FHandle).left : FLeft; }
int TqorWinControl::Top() const { return FHandle ? rect_in_parent(FHandle).top : FTop; }
int TqorWinControl::Width() const {
  if (!FHandle) return FWidth;
  const RECT rect = rect_in_parent(FHandle);
  return rect.right - rect.left;
}
int TqorWinControl::Height() const {
  if (!FHandle) return FHeight;
  const RECT rect = rect_in_parent(FHandle);
  return rect.bottom - rect.top;
}
void TqorWinControl::SetLeft(int AValue) { TqorWinControl::SetBounds(AValue, Top(), Width(), Height()); }
void TqorWinControl::SetTop(int AValue) { TqorWinControl::SetBounds(Left(), AValue, Width(), Height()); }
void TqorWinControl::SetWidth(int AValue) { TqorWinControl::SetBounds(Left(), Top(), AValue, Height()); }
void TqorWinControl::SetHeight(int AValue) { TqorWinControl::SetBounds(Left(), Top(), Width(), AValue); }

int TqorWinControl::ClientWidth() const {
  if (!FHandle) return FWidth;
  RECT rect{};
  ::GetClientRect(FHandle, &rect);
  return rect.right;
}
int TqorWinControl::ClientHeight() const {
  if (!FHandle) return FHeight;
  RECT rect{};
  ::GetClientRect(FHandle, &rect);
  return rect.bottom;
}
// The frame around the client area. A window smaller than its frame reports an empty client
// area, which says nothing about the frame: the styles tell it then.
SIZE TqorWinControl::FrameSize() const {
  if (!FHandle) return SIZE{0, 0};
  RECT window{}, client{};
  ::GetWindowRect(FHandle, &window);
  ::GetClientRect(FHandle, &client);
  RECT styled{0, 0, 0, 0};
  ::AdjustWindowRectEx(&styled, Style(), FALSE, ExStyle());
  return SIZE{client.right > 0 ? (window.right - window.left) - client.right : styled.right - styled.left,
              client.bottom > 0 ? (window.bottom - window.top) - client.bottom : styled.bottom - styled.top};
}
void TqorWinControl::SetClientWidth(int AValue) { TqorWinControl::SetWidth(AValue + FrameSize().cx); }
void TqorWinControl::SetClientHeight(int AValue) { TqorWinControl::SetHeight(AValue + FrameSize().cy); }

void TqorWinControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (FHandle) {
    ::SetWindowPos(FHandle, nullptr, ALeft, ATop, AWidth, AHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    RaisePendingWindowError();
  } else {
    FLeft = ALeft;
    FTop = ATop;
    FWidth = AWidth;
    FHeight = AHeight;
  }
}

std::wstring TqorWinControl::Caption() const {
  if (!FHandle) return FCaption;
  std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(FHandle)) + 1, L'\0');
  text.resize(static_cast<size_t>(::GetWindowTextW(FHandle, text.data(), static_cast<int>(text.size()))));
  return text;
}

void TqorWinControl::SetCaption(const std::wstring& ACaption) {
  FCaption = ACaption;
  if (FHandle) {
    ::SetWindowTextW(FHandle, FCaption.c_str());
    Invalidate();
  }
}

void TqorWinControl::SetParentFont(bool AValue) {
  FParentFont = AValue;
  if (FParentFont && FParent) FFont.Assign(FParent->FFont);
}

void TqorWinControl::SetVisible(bool AValue) {
  FVisible = AValue;
  if (FHandle) ::ShowWindow(FHandle, AValue ? SW_SHOWNA : SW_HIDE);
}

void TqorWinControl::Invalidate() noexcept {
  if (FHandle) ::InvalidateRect(FHandle, nullptr, TRUE);
}

DWORD TqorWinControl::Style() const noexcept {
  return FHandle ? static_cast<DWORD>(::GetWindowLongW(FHandle, GWL_STYLE)) : 0;
}
DWORD TqorWinControl::ExStyle() const noexcept {
  return FHandle ? static_cast<DWORD>(::GetWindowLongW(FHandle, GWL_EXSTYLE)) : 0;
}

void TqorWinControl::FontChanged() {
  if (FHandle) ::SendMessageW(FHandle, WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Handle()), TRUE);
  for (TqorWinControl* child : FControls)
    if (child->FParentFont) child->FFont.Assign(FFont);
}

LRESULT TqorWinControl::Perform(UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
  TqorMessage message{AMsg, AWParam, ALParam, 0, true};
  WndProc(message);
  return message.Result;
}

void TqorWinControl::DefaultHandler(TqorMessage& AMessage) {
  if (!FHandle) return;
  AMessage.Result = FDefWndProc
                        ? ::CallWindowProcW(FDefWndProc, FHandle, AMessage.Msg, AMessage.WParam, AMessage.LParam)
                        : ::DefWindowProcW(FHandle, AMessage.Msg, AMessage.WParam, AMessage.LParam);
}

void TqorWinControl::OnDpiChangedBeforeParent(TqorMessage& AMessage) {
  if (!AMessage.Direct) return DefaultHandler(AMessage);
  for (TqorWinControl* child : FControls) child->Dispatch(AMessage);
}

void TqorWinControl::OnDpiChangedAfterParent(TqorMessage& AMessage) {
  if (!AMessage.Direct) return DefaultHandler(AMessage);
  for (TqorWinControl* child : FControls) child->Dispatch(AMessage);
}

void TqorWinControl::OnWindowPosChanged(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  const auto* pos = reinterpret_cast<const WINDOWPOS*>(AMessage.LParam);
  if (!(pos->flags & SWP_NOSIZE) && (pos->cx != FWidth || pos->cy != FHeight)) {
    FWidth = pos->cx;
    FHeight = pos->cy;
    Resize();
  }
}

void TqorWinControl::WndProc(TqorMessage& AMessage) {
  switch (AMessage.Msg) {
    case WM_NCCREATE: return OnNcCreate(AMessage);
    case WM_NCDESTROY: return OnNcDestroy(AMessage);
    case WM_PAINT: return OnPaint(AMessage);
    case WM_CLOSE: return OnClose(AMessage);
    case WM_THEMECHANGED: return OnThemeChanged(AMessage);
    case WM_DPICHANGED: return OnDpiChanged(AMessage);
    case WM_DPICHANGED_BEFOREPARENT: return OnDpiChangedBeforeParent(AMessage);
    case WM_DPICHANGED_AFTERPARENT: return OnDpiChangedAfterParent(AMessage);
    case WM_GETDPISCALEDSIZE: return OnGetDpiScaledSize(AMessage);
    case WM_DISPLAYCHANGE: return OnDisplayChange(AMessage);
    case WM_ENTERSIZEMOVE: return OnEnterSizeMove(AMessage);
    case WM_EXITSIZEMOVE: return OnExitSizeMove(AMessage);
    case WM_WINDOWPOSCHANGED: return OnWindowPosChanged(AMessage);
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(AMessage);
    case WM_COMMAND: {
      TqorWinControl* child = control_of(reinterpret_cast<HWND>(AMessage.LParam));
      if (child && child != this && child->FParent == this) {
        child->OnCommand(HIWORD(AMessage.WParam));
        AMessage.Result = 0;
        return;
      }
      return DefaultHandler(AMessage);
    }
    default: return DefaultHandler(AMessage);
  }
}

// ---- standard controls ----

TqorSystemControl::TqorSystemControl(TqorComponent* AOwner, const wchar_t* AClassName, DWORD AStyle,
                                     DWORD AExStyle)
    : TqorWinControl(AOwner), FClassName(AClassName), FStyle(AStyle), FExStyle(AExStyle) {}

void TqorSystemControl::CreateParams(TqorCreateParams& AParams) {
  TqorWinControl::CreateParams(AParams);
  AParams.ClassName = FClassName;
  AParams.Style |= FStyle;
  AParams.ExStyle |= FExStyle;
}

TqorEdit::TqorEdit(TqorComponent* AOwner)
    : TqorSystemControl(AOwner, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE) {}

TqorButton::TqorButton(TqorComponent* AOwner, bool ADefault)
    : TqorSystemControl(AOwner, L"BUTTON", WS_TABSTOP | (ADefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)) {}

void TqorButton::OnCommand(WORD ANotifyCode) {
  if (ANotifyCode != BN_CLICKED) return;
  if (OnClick) OnClick();
  if (ModalResult == mrNone) return;
  TqorWinControl* top = this;
  while (top->Parent()) top = top->Parent();
  if (auto* form = dynamic_cast<TqorForm*>(top)) form->SetModalResult(ModalResult);
}

TqorCheckBox::TqorCheckBox(TqorComponent* AOwner, bool ARadio)
    : TqorSystemControl(AOwner, L"BUTTON", WS_TABSTOP | (ARadio ? BS_AUTORADIOBUTTON : BS_AUTOCHECKBOX)) {}

bool TqorCheckBox::Checked() const {
  HWND wnd = HandleIfExists();
  return wnd ? ::SendMessageW(wnd, BM_GETCHECK, 0, 0) == BST_CHECKED : FChecked;
}

void TqorCheckBox::SetChecked(bool AValue) {
  FChecked = AValue;
  if (HWND wnd = HandleIfExists()) ::SendMessageW(wnd, BM_SETCHECK, AValue ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TqorCheckBox::HandleCreated() {
  if (FChecked) ::SendMessageW(HandleIfExists(), BM_SETCHECK, BST_CHECKED, 0);
}

// ---- custom-drawn controls ----

void TqorCustomControl::OnPaint(TqorMessage& AMessage) {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(HandleIfExists(), &paint);
  if (dc) {
    RECT client{};
    ::GetClientRect(HandleIfExists(), &client);
    selected_object font(dc, Font().Handle());
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
    try {
      Paint(dc, client);
    } catch (...) {
      ::EndPaint(HandleIfExists(), &paint);
      throw;
    }
  }
  ::EndPaint(HandleIfExists(), &paint);
  AMessage.Result = 0;
}

void TqorCustomControl::Paint(HDC, const RECT&) {}

void TqorLabel::Paint(HDC ADC, const RECT& AClient) {
  const std::wstring text = Caption();
  RECT rect = AClient;
  ::DrawTextW(ADC, text.c_str(), static_cast<int>(text.size()), &rect, DT_LEFT | DT_TOP | DT_WORDBREAK);
}

// ---- TqorForm ----

TqorForm::TqorForm(TqorComponent* AOwner) : TqorWinControl(AOwner) {
  SetVisible(false);
  TqorWinControl::SetBounds(0, 0, 320, 240);
}

TqorForm::~TqorForm() { DestroyHandle(); }

void TqorForm::CreateParams(TqorCreateParams& AParams) {
  TqorWinControl::CreateParams(AParams);
  AParams.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  AParams.ExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
}

void TqorForm::SetMinSize(int AWidth, int AHeight) noexcept {
  FMinSize = {AWidth, AHeight};
}

void TqorForm::WndProc(TqorMessage& AMessage) {
  // Escape in the modal loop arrives as IDCANCEL without a control.
  if (AMessage.Msg == WM_COMMAND && AMessage.LParam == 0 && LOWORD(AMessage.WParam) == IDCANCEL) {
    FModalResult = mrCancel;
    AMessage.Result = 0;
    return;
  }
  TqorWinControl::WndProc(AMessage);
}

void TqorForm::OnClose(TqorMessage& AMessage) {
  AMessage.Result = 0;
  if (FInModalLoop)
    FModalResult = mrCancel;
  else
    SetVisible(false);
}

void TqorForm::OnGetMinMaxInfo(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  auto* info = reinterpret_cast<MINMAXINFO*>(AMessage.LParam);
  if (FMinSize.cx > 0) info->ptMinTrackSize.x = std::max<LONG>(info->ptMinTrackSize.x, FMinSize.cx);
  if (FMinSize.cy > 0) info->ptMinTrackSize.y = std::max<LONG>(info->ptMinTrackSize.y, FMinSize.cy);
}

int TqorForm::ShowModal() {
  HWND wnd = Handle();
  HWND owner = ::GetWindow(wnd, GW_OWNER);
  // An owner of another thread (a file manager's window, while it packs on a worker thread) stays
  // usable: its thread goes on with the user's work.
  const bool disabled_owner =
      owner && ::IsWindowEnabled(owner) && ::GetWindowThreadProcessId(owner, nullptr) == ::GetCurrentThreadId();
  if (disabled_owner) ::EnableWindow(owner, FALSE);
  FModalResult = mrNone;
  FInModalLoop = true;
  ::ShowWindow(wnd, SW_SHOW);
  ::SetActiveWindow(wnd);
  MSG msg{};
  while (FModalResult == mrNone && !TPendingError && HandleAllocated()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT belongs to the host's own loop: hand it back.
      if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
      FModalResult = mrCancel;
      break;
    }
    if (!::IsDialogMessageW(wnd, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  if (FModalResult == mrNone) FModalResult = mrCancel;
  FInModalLoop = false;
  // The owner is enabled again before the form hides, so that activation goes back to it.
  if (disabled_owner) ::EnableWindow(owner, TRUE);
  if (HandleAllocated()) ::ShowWindow(wnd, SW_HIDE);
  SetVisible(false);
  RaisePendingWindowError();
  return FModalResult;
}

// ---- TqorTimer ----

LRESULT CALLBACK qor_timer_proc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam) {
  if (AMsg == WM_TIMER) {
    auto* timer = reinterpret_cast<TqorTimer*>(::GetWindowLongPtrW(AWnd, GWLP_USERDATA));
    if (timer && timer->FEnabled && timer->OnTimer) {
      try {
        timer->OnTimer();
      } catch (...) {
        keep_error();
      }
    }
    return 0;
  }
  return ::DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
}

TqorTimer::TqorTimer(TqorComponent* AOwner) : TqorComponent(AOwner) {
  ensure_classes();
  FWindow.reset(::CreateWindowExW(0, TimerClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  FrameworkInstance(), nullptr));
  if (!FWindow) RaiseLastOSError();
  ::SetWindowLongPtrW(FWindow.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TqorTimer::~TqorTimer() {
  if (FWindow) {
    ::KillTimer(FWindow.get(), 1);
    ::SetWindowLongPtrW(FWindow.get(), GWLP_USERDATA, 0);
  }
}

void TqorTimer::SetInterval(UINT AValue) {
  FInterval = AValue;
  Update();
}

void TqorTimer::SetEnabled(bool AValue) {
  FEnabled = AValue;
  Update();
}

void TqorTimer::Update() {
  ::KillTimer(FWindow.get(), 1);
  if (FEnabled && FInterval > 0) ::SetTimer(FWindow.get(), 1, FInterval, nullptr);
}

}  // namespace qor
