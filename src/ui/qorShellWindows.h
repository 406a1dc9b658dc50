// The least window framework the UI toolkit stands on: a window is a C++ object reached from its
// HWND through the window's user data, with typed virtual handlers for the messages it cares about
// and the default procedure for the rest. Components own what they create (Owner) and controls sit
// in a parent window (Parent); window handles are created on demand, parents before children.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "common/qorHandles.h"

// Messages of Windows 10 that the SDK level of the build does not declare.
#ifndef WM_DPICHANGED_BEFOREPARENT
#define WM_DPICHANGED_BEFOREPARENT 0x02E2
#define WM_DPICHANGED_AFTERPARENT 0x02E3
#define WM_GETDPISCALEDSIZE 0x02E4
#endif

namespace qor {

// Modal results a form's loop ends on.
enum : int { mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL };

// A font description with the handle made from it, and a notification on every change.
class TqorFont {
 public:
  TqorFont();
  TqorFont(const TqorFont&) = delete;
  TqorFont& operator=(const TqorFont&) = delete;

  // The handle of the current description, made on first use.
  HFONT Handle() const;
  // Takes ownership of AFont and its description; 0 keeps the current description.
  void SetHandle(HFONT AFont);
  int Height() const noexcept { return FLogFont.lfHeight; }
  void SetHeight(int AHeight);
  const LOGFONTW& LogFont() const noexcept { return FLogFont; }
  void Assign(const TqorFont& ASource);

  std::function<void()> OnChange;

 private:
  void Changed();
  LOGFONTW FLogFont{};
  mutable unique_gdi<HFONT> FHandle;
};

// Lifetime by ownership: an owner frees what it owns, most recent first, when it goes.
class TqorComponent {
 public:
  explicit TqorComponent(TqorComponent* AOwner);
  virtual ~TqorComponent();
  TqorComponent(const TqorComponent&) = delete;
  TqorComponent& operator=(const TqorComponent&) = delete;
  TqorComponent* Owner() const noexcept { return FOwner; }

 private:
  TqorComponent* FOwner;
  std::vector<TqorComponent*> FComponents;
};

struct TqorMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
  bool Direct;  // dispatched by the framework itself, not by Windows
};

struct TqorCreateParams {
  const wchar_t* ClassName;  // nullptr: the framework's own class
  std::wstring Caption;
  DWORD Style;
  DWORD ExStyle;
  int X, Y, Width, Height;
  HWND WndParent;
};

class TqorWinControl : public TqorComponent {
 public:
  explicit TqorWinControl(TqorComponent* AOwner);
  ~TqorWinControl() override;

  HWND Handle();  // creates the window when needed
  HWND HandleIfExists() const noexcept { return FHandle; }
  bool HandleAllocated() const noexcept { return FHandle != nullptr; }
  // This window and every descendant's, depth-first in child order.
  void CreateHandles();
  void DestroyHandle() noexcept;

  TqorWinControl* Parent() const noexcept { return FParent; }
  void SetParent(TqorWinControl* AParent);
  const std::vector<TqorWinControl*>& Controls() const noexcept { return FControls; }

  virtual int Left() const;
  virtual int Top() const;
  virtual int Width() const;
  virtual int Height() const;
  virtual void SetLeft(int AValue);
  virtual void SetTop(int AValue);
  virtual void SetWidth(int AValue);
  virtual void SetHeight(int AValue);
  virtual int ClientWidth() const;
  virtual int ClientHeight() const;
  virtual void SetClientWidth(int AValue);
  virtual void SetClientHeight(int AValue);
  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);

  std::wstring Caption() const;
  void SetCaption(const std::wstring& ACaption);
  TqorFont& Font() noexcept { return FFont; }
  // Controls that follow their parent's font take every change of it.
  bool ParentFont() const noexcept { return FParentFont; }
  void SetParentFont(bool AValue);
  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool AValue);
  void Invalidate() noexcept;
  DWORD Style() const noexcept;
  DWORD ExStyle() const noexcept;

  // Runs the message through the handlers as if Windows had sent it.
  LRESULT Perform(UINT AMsg, WPARAM AWParam = 0, LPARAM ALParam = 0);
  void Dispatch(TqorMessage& AMessage) { WndProc(AMessage); }

 protected:
  virtual void CreateParams(TqorCreateParams& AParams);
  virtual void WndProc(TqorMessage& AMessage);
  void DefaultHandler(TqorMessage& AMessage);
  bool Destroying() const noexcept { return FDestroying; }
  SIZE FrameSize() const;

  // Typed handlers; each one's own behaviour is the default procedure.
  virtual void OnNcCreate(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnNcDestroy(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnPaint(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnClose(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnThemeChanged(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnDpiChanged(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnDpiChangedBeforeParent(TqorMessage& AMessage);
  virtual void OnDpiChangedAfterParent(TqorMessage& AMessage);
  virtual void OnGetDpiScaledSize(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnDisplayChange(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnEnterSizeMove(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnExitSizeMove(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  virtual void OnWindowPosChanged(TqorMessage& AMessage);
  virtual void OnGetMinMaxInfo(TqorMessage& AMessage) { DefaultHandler(AMessage); }
  // A WM_COMMAND the parent received about this control.
  virtual void OnCommand(WORD /*ANotifyCode*/) {}
  // The framework's resize notification, after the window's size changed.
  virtual void Resize() {}
  virtual void FontChanged();
  // The window exists now: state kept while there was none goes to it.
  virtual void HandleCreated() {}

 private:
  friend LRESULT CALLBACK qor_window_proc(HWND, UINT, WPARAM, LPARAM);
  void Attach(HWND AWnd) noexcept;
  void ParentFontChanged();

  HWND FHandle = nullptr;
  WNDPROC FDefWndProc = nullptr;  // the system class's procedure for subclassed standard controls
  TqorWinControl* FParent = nullptr;
  std::vector<TqorWinControl*> FControls;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  std::wstring FCaption;
  TqorFont FFont;
  bool FParentFont = true;
  bool FVisible = true;
  bool FDestroying = false;
};

// Standard controls of the system classes.
class TqorSystemControl : public TqorWinControl {
 public:
  TqorSystemControl(TqorComponent* AOwner, const wchar_t* AClassName, DWORD AStyle, DWORD AExStyle = 0);

 protected:
  void CreateParams(TqorCreateParams& AParams) override;

 private:
  const wchar_t* FClassName;
  DWORD FStyle;
  DWORD FExStyle;
};

class TqorEdit : public TqorSystemControl {
 public:
  explicit TqorEdit(TqorComponent* AOwner);
  std::wstring Text() const { return Caption(); }
  void SetText(const std::wstring& AText) { SetCaption(AText); }
};

class TqorButton : public TqorSystemControl {
 public:
  explicit TqorButton(TqorComponent* AOwner, bool ADefault = false);
  // The modal result this button gives the form it sits on; mrNone: none.
  int ModalResult = mrNone;
  std::function<void()> OnClick;

 protected:
  void OnCommand(WORD ANotifyCode) override;
};

class TqorCheckBox : public TqorSystemControl {
 public:
  explicit TqorCheckBox(TqorComponent* AOwner, bool ARadio = false);
  bool Checked() const;
  void SetChecked(bool AValue);

 protected:
  void HandleCreated() override;

 private:
  bool FChecked = false;
};

// A control that paints itself: descendants draw in Paint.
class TqorCustomControl : public TqorWinControl {
 public:
  explicit TqorCustomControl(TqorComponent* AOwner) : TqorWinControl(AOwner) {}

 protected:
  void OnPaint(TqorMessage& AMessage) override;
  virtual void Paint(HDC ADC, const RECT& AClient);
};

// A line of text in the parent's background.
class TqorLabel : public TqorCustomControl {
 public:
  explicit TqorLabel(TqorComponent* AOwner) : TqorCustomControl(AOwner) {}

 protected:
  void Paint(HDC ADC, const RECT& AClient) override;
};

// A top-level window with a modal loop.
class TqorForm : public TqorWinControl {
 public:
  explicit TqorForm(TqorComponent* AOwner);
  ~TqorForm() override;

  int ModalResult() const noexcept { return FModalResult; }
  void SetModalResult(int AValue) noexcept { FModalResult = AValue; }
  // Shows the form, disables its owner window and pumps messages until a modal result is set or
  // the window is closed; answers the modal result.
  virtual int ShowModal();
  void SetMinSize(int AWidth, int AHeight) noexcept;
  SIZE MinSize() const noexcept { return FMinSize; }

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void WndProc(TqorMessage& AMessage) override;
  void OnClose(TqorMessage& AMessage) override;
  void OnGetMinMaxInfo(TqorMessage& AMessage) override;

 private:
  int FModalResult = mrNone;
  bool FInModalLoop = false;
  SIZE FMinSize{};
};

// Fires OnTimer every Interval milliseconds on the thread that created it while enabled.
class TqorTimer : public TqorComponent {
 public:
  explicit TqorTimer(TqorComponent* AOwner);
  ~TqorTimer() override;
  UINT Interval() const noexcept { return FInterval; }
  void SetInterval(UINT AValue);
  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool AValue);
  std::function<void()> OnTimer;

 private:
  friend LRESULT CALLBACK qor_timer_proc(HWND, UINT, WPARAM, LPARAM);
  void Update();
  UINT FInterval = 1000;
  bool FEnabled = false;
  unique_window FWindow;
};

// An error raised inside a window procedure is kept and raised again once the Windows call that
// dispatched the message has returned: C++ errors must not unwind through system frames.
void RaisePendingWindowError();

// The module (EXE or DLL) this code lives in.
HINSTANCE FrameworkInstance() noexcept;
// Unregisters the framework's window classes; a DLL's classes outlive it otherwise.
void UnregisterWindowClasses() noexcept;

}  // namespace qor
