// UI metrics and the scaled form bases. TqorShellUI knows a window's DPI, holds the UI font made
// for it and derives the dialog layout metrics from the font's dialog base units; the forms create
// their windows per-monitor DPI aware, attach to a foreign owner window, follow DPI changes and
// keep themselves inside their monitor's work area, moving and resizing once per update.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ui/qorShellThemes.h"
#include "ui/qorShellWindows.h"

namespace qor {

struct TSizeD {
  double cx;
  double cy;
};
using TqorButtonArray = std::vector<TqorWinControl*>;

// Unit start-up/shut-down: the operating-system version and the DPI function table's lock.
void FormStartup() noexcept;
void FormShutdown() noexcept;
DWORD WindowsMajorVersion() noexcept;

// ---- DPI function layer: newer functions looked up at run time, older ones as fallback ----
// A namespace of its own: the shell helper unit has a GetWindowDpi of its own as well.
namespace dpi {
DPI_AWARENESS_CONTEXT SetThreadDpiContext(DPI_AWARENESS_CONTEXT AContext) noexcept;
UINT GetWindowDpi(HWND AWnd) noexcept;
UINT GetSystemDpi() noexcept;
bool EnableNonClientDpi(HWND AWnd) noexcept;
bool SystemParametersInfoDpi(UINT AAction, UINT AParam, void* AData, bool AFallback, UINT ADpi,
                             UINT AWinIni) noexcept;
int GetSystemMetricsDpi(int AIndex, UINT ADpi, bool AFallback) noexcept;
bool AdjustWindowRectExDpi(RECT& ARect, DWORD AStyle, bool AMenu, bool AFallback, UINT ADpi,
                           DWORD AExStyle) noexcept;
HRESULT CompositionEnabled(BOOL& AEnabled) noexcept;
HRESULT GetWindowAttribute(HWND AWnd, DWORD AAttribute, void* AData, DWORD ASize) noexcept;
// Switches the thread's awareness; the toolkit always runs inside a library module.
DPI_AWARENESS_CONTEXT SetLibraryDpiContext(DPI_AWARENESS_CONTEXT AContext) noexcept;
// Puts a saved context back once and clears it.
void RestoreDpiContext(DPI_AWARENESS_CONTEXT& AContext) noexcept;
}  // namespace dpi

// ---- arithmetic of the metrics, on its own so that it can be checked as a table ----
// Rounds to the nearest integer, halves to the even neighbour.
int RoundHalfEven(double AValue) noexcept;
struct TqorLayoutMetrics {
  SIZE DialogMargin;
  int GroupBoxTopMargin;
  int GroupBoxLeftMargin;
  int GroupBoxBottomMargin;
  SIZE LabelControlSpacing;
  SIZE RelatedControlsSpacing;
  SIZE UnrelatedControlsSpacing;
  SIZE ButtonsSpacing;
  int MinMetric;
};
TqorLayoutMetrics ComputeLayoutMetrics(SIZE ADialogUnit, int ADelta) noexcept;
// Dialog base units of a font: the 52-letter extent's width / 52 and its height.
void GetDialogUnits(HDC ADC, HFONT AFont, SIZE& AUnit, TSizeD& AUnitD) noexcept;
void GetFontDialogUnits(HFONT AFont, SIZE& AUnit, TSizeD& AUnitD) noexcept;
// Capacity of the DPI change queue after one growth.
int NextDPIQueueCapacity(int ACapacity) noexcept;

// Metrics of one form: DPI, UI font, dialog base units and the layout metrics derived from them.
class TqorShellUI {
 public:
  TqorShellUI(HWND AWnd, UINT ADpiX, UINT ADpiY);
  virtual ~TqorShellUI() = default;
  TqorShellUI(const TqorShellUI&) = delete;
  TqorShellUI& operator=(const TqorShellUI&) = delete;

  virtual HFONT CreateDefaultFont();
  HFONT CreateSysFont();
  HFONT CreateMonoFont();
  HFONT CreateMSShellDlgFont(int AHeight);
  HFONT CreateThemeFont_(HTHEME ATheme, bool ADpiTheme, HDC ADC, int APartId, int AStateId, int APropId);
  void CreateThemeFont(HTHEME ATheme, bool ADpiTheme, HDC ADC, int APartId, int AStateId, int APropId,
                       TqorFont& AFont);
  static int Min(int A, int B) noexcept { return A < B ? A : B; }
  static int Max(int A, int B) noexcept { return A > B ? A : B; }

  bool UpdateDPI(HWND AWnd, UINT ADpi);
  bool UpdateDPI(HWND AWnd, UINT ADpiX, UINT ADpiY);
  void UpdateFont();
  bool DecSize();
  int Width(int ACharCount) const noexcept;
  int Height(int ACharCount) const noexcept;

  void SetButtonSize(TqorWinControl& AButton);
  int SetButtonSize(const TqorButtonArray& AArray);
  int SetButtonSize(std::initializer_list<TqorWinControl*> AArray);
  void SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2);
  void SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2, TqorWinControl& AButton3);
  void SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2, TqorWinControl& AButton3,
                     TqorWinControl& AButton4);
  void SetCheckBoxSize(TqorWinControl& ACheckBox);
  void SetRadioButtonSize(TqorWinControl& ACheckBox);
  void SetEditHeight(TqorWinControl& AEdit);
  void SetLabelTop(TqorWinControl& ALabel, TqorWinControl& AEdit);
  void SetLabelTopByCombobox(TqorWinControl& ALabel, TqorWinControl& AComboBox);
  void SetTrackBarHeight(TqorWinControl& ATrackBar, int ADelta);
  void SetProgressBarHeight(TqorWinControl& AProgressBar);
  void SetTop(TqorWinControl& ABaseControl1, TqorWinControl& ADependedControl);
  static bool ControlHasBorder(TqorWinControl& AControl);

  UINT DpiX() const noexcept { return FDpiX; }
  UINT DpiY() const noexcept { return FDpiY; }
  TqorFont& Font() noexcept { return FFont; }
  void SetFont(const TqorFont& AFont) { FFont.Assign(AFont); }
  SIZE DialogUnit() const noexcept { return FDialogUnit; }
  TSizeD DialogUnitD() const noexcept { return FDialogUnitD; }
  SIZE DialogMargin() const noexcept { return FMetrics.DialogMargin; }
  int GroupBoxTopMargin() const noexcept { return FMetrics.GroupBoxTopMargin; }
  int GroupBoxLeftMargin() const noexcept { return FMetrics.GroupBoxLeftMargin; }
  int GroupBoxBottomMargin() const noexcept { return FMetrics.GroupBoxBottomMargin; }
  SIZE LabelControlSpacing() const noexcept { return FMetrics.LabelControlSpacing; }
  SIZE RelatedControlsSpacing() const noexcept { return FMetrics.RelatedControlsSpacing; }
  SIZE UnrelatedControlsSpacing() const noexcept { return FMetrics.UnrelatedControlsSpacing; }
  SIZE ButtonsSpacing() const noexcept { return FMetrics.ButtonsSpacing; }
  int MetricsDelta() const noexcept { return FMetricsDelta; }
  int MinMetric() const noexcept { return FMetrics.MinMetric; }

 private:
  void FontChanged();
  void UpdateMetrics();
  void SetCheckControlSize(TqorWinControl& AControl, int APartId, int AStateId);

  UINT FDpiX;
  UINT FDpiY;
  TqorFont FFont;
  SIZE FDialogUnit{};
  TSizeD FDialogUnitD{};
  int FMetricsDelta = 0;
  TqorLayoutMetrics FMetrics{};
};

// A form with a metrics object and an update cycle (size the controls, then lay them out) that
// runs whenever the DPI, the font or the visual style changes.
class TqorShellBaseUIForm : public TqorForm {
 public:
  explicit TqorShellBaseUIForm(TqorComponent* AOwner = nullptr);
  ~TqorShellBaseUIForm() override;

  TqorShellUI& UI();
  virtual void UpdateControlsBounds(UINT ADpiX, UINT ADpiY);
  void UpdateControlsBounds() { UpdateControlsBounds(0, 0); }
  virtual void UpdateControlsSize() {}
  virtual void UpdateControlsPos() {}
  // Descendants that hold visual-style data release it in their own destructor as well: the
  // window is destroyed by this class's destructor, when their part is already gone.
  virtual void OpenTheme() {}
  virtual void CloseTheme() {}
  virtual bool CanUpdateControlsBounds() const { return FCanUpdateControlsBounds; }
  virtual bool CanResizeControls() const { return !FResizeMode && CanUpdateControlsBounds(); }
  void RefreshControls();
  // Ends construction: windows, font and sizes made under the activation context, which ends here.
  virtual void AfterConstruction();

 protected:
  void OnNcCreate(TqorMessage& AMessage) override;
  void OnNcDestroy(TqorMessage& AMessage) override;
  void OnThemeChanged(TqorMessage& AMessage) override;
  void OnDpiChangedBeforeParent(TqorMessage& AMessage) override;
  void Resize() override;
  bool ActivationContextHeld() const noexcept { return FActivationContext != nullptr; }

 private:
  void UpdateForStyleOrDpi(TqorMessage& AMessage);
  std::unique_ptr<TqorShellActivationContext> FActivationContext;
  bool FCanUpdateControlsBounds = false;
  bool FResizeMode = false;
  std::unique_ptr<TqorShellUI> FUI;
};

struct TqorShellDPIChangeRec {
  UINT DpiX;
  UINT DpiY;
  RECT Rect;
};

// A dialog shown by a library: per-monitor DPI aware windows, a foreign owner window, placement on
// first show, fitting into the work area and deferred bounds.
class TqorShellUIForm : public TqorShellBaseUIForm {
 public:
  // An owner of 0 is replaced by APositionWnd; the position window defaults to the owner.
  explicit TqorShellUIForm(HWND AOwnerWnd, HWND APositionWnd = nullptr);
  ~TqorShellUIForm() override;

  HWND OwnerWnd() const noexcept { return FOwnerWnd; }
  HWND PositionWnd() const noexcept { return FPositionWnd; }
  bool PerMonitorVer2() const noexcept { return FPerMonitorVer2; }
  void SetOwnerWnd(HWND AWnd);
  bool OwnerRetryPending() const noexcept;

  virtual void GetInitialBounds(RECT& /*ARect*/) {}
  virtual void GetMinSize(SIZE& ASize) { ASize = SIZE{0, 0}; }
  virtual void GetInitialClientSize(SIZE& ASize) { ASize = SIZE{0, 0}; }
  bool CanUpdateControlsBounds() const override;
  bool CanResizeControls() const override;
  void AfterConstruction() override;

  void BeginUpdateBounds();
  void EndUpdateBounds();
  int Left() const override;
  int Top() const override;
  int Width() const override;
  int Height() const override;
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetLeft(int AValue) override;
  void SetTop(int AValue) override;
  void SetWidth(int AValue) override;
  void SetHeight(int AValue) override;
  void SetClientWidth(int AValue) override;
  void SetClientHeight(int AValue) override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;

  void FitToWorkArea();
  void SetInitialPosition();
  void ApplyDPIChange(const TqorShellDPIChangeRec& AChange);

 protected:
  void CreateParams(TqorCreateParams& AParams) override;
  void OnNcCreate(TqorMessage& AMessage) override;
  void OnDpiChanged(TqorMessage& AMessage) override;
  void OnGetDpiScaledSize(TqorMessage& AMessage) override;
  void OnDisplayChange(TqorMessage& AMessage) override;
  void OnEnterSizeMove(TqorMessage& AMessage) override;
  void OnExitSizeMove(TqorMessage& AMessage) override;
  void NotifyControls(UINT AMsg);
  // Frame growth of a pending DPI change (tests read them inside a deferred section).
  void SetClientDeltas(int AWidthDelta, int AHeightDelta) noexcept {
    FClientWidthDelta = AWidthDelta;
    FClientHeightDelta = AHeightDelta;
  }

 private:
  void EndUpdateBoundsAfterError() noexcept;
  template <class F>
  void WithUpdateBounds(F ABody);

  DPI_AWARENESS_CONTEXT FPrevContext = nullptr;
  bool FPerMonitorVer2 = false;
  bool FHasInitialBounds = false;
  bool FDPIChanged = false;
  bool FDPIChangeMode = false;
  std::vector<TqorShellDPIChangeRec> FDPIChanges;  // size() is the capacity
  int FDPIChangesCount = 0;
  TqorTimer* FSetOwnerWndTimer = nullptr;
  HWND FOwnerWnd = nullptr;
  HWND FPositionWnd = nullptr;
  bool FCanUpdateControlsBounds2 = false;
  int FUpdateBoundsCount = 0;
  int FLeftDelta = 0, FTopDelta = 0, FWidthDelta = 0, FHeightDelta = 0;
  int FClientWidthDelta = 0, FClientHeightDelta = 0;
};

// The window that forms made on this thread for a plugin belong to: a form of ours that calls
// into a plugin sets itself for the call, so that the plugin's dialogs are modal to it; 0 while
// none does. Scopes nest.
HWND ThreadOwnerWindow() noexcept;
class TqorThreadOwnerScope {
 public:
  explicit TqorThreadOwnerScope(HWND AOwner) noexcept;
  ~TqorThreadOwnerScope();
  TqorThreadOwnerScope(const TqorThreadOwnerScope&) = delete;
  TqorThreadOwnerScope& operator=(const TqorThreadOwnerScope&) = delete;

 private:
  HWND FPrevious;
};

// The window a form of ours belongs to when it asks the user something on a file manager's call:
// ThreadOwnerWindow when set, else the calling thread's active window, else this process's visible
// and enabled top-level window in the foreground, else the first such window found; 0 when there
// is none.
HWND CallerOwnerWindow() noexcept;

// Builds a form and finishes its construction; the DPI context is restored whatever happens.
template <class T, class... A>
std::unique_ptr<T> MakeForm(A&&... AArgs) {
  auto form = std::make_unique<T>(std::forward<A>(AArgs)...);
  form->AfterConstruction();
  return form;
}

// ---- window placement ----
void CenterWindowOnRect(HWND AWnd, const RECT& ARect);
void CenterWindowOnWindow(HWND AWnd, HWND ATarget);
void CenterWindowOnScreen(HWND AWnd);
void FitWindowToMonitor(HWND AWnd, HMONITOR AMonitor);
void FitWindowToOwnMonitor(HWND AWnd);
bool GetVisibleWindowRect(HWND AWnd, RECT& ARect);
HMONITOR GetPrimaryMonitor();
std::wstring GetWindowClassName(HWND AWnd);
HWND GetRootWindow(HWND AWnd);

}  // namespace qor
