#include "ui/qorShellForm.h"

#include <commctrl.h>

#include <cmath>
#include <cstring>

#include "common/qorLocks.h"

namespace qor {

namespace {

// ---- operating-system version and DPI function table ----

DWORD GOSMajor = 5, GOSMinor = 1, GOSBuild = 2600;

critical_section GDpiLock;
bool GDpiLoaded = false;
HMODULE GUser32 = nullptr, GShcore = nullptr, GDwmapi = nullptr;

struct dpi_functions {
  // user32, in lookup order
  void* SetProcessDPIAware;
  void* IsProcessDPIAware;
  DPI_AWARENESS_CONTEXT(WINAPI* SetThreadDpiAwarenessContext)(DPI_AWARENESS_CONTEXT);
  void* GetThreadDpiAwarenessContext;
  void* GetWindowDpiAwarenessContext;
  void* GetAwarenessFromDpiAwarenessContext;
  void* AreDpiAwarenessContextsEqual;
  void* IsValidDpiAwarenessContext;
  UINT(WINAPI* GetDpiForWindow)(HWND);
  UINT(WINAPI* GetDpiForSystem)();
  BOOL(WINAPI* EnableNonClientDpiScaling)(HWND);
  BOOL(WINAPI* SystemParametersInfoForDpi)(UINT, UINT, PVOID, UINT, UINT);
  int(WINAPI* GetSystemMetricsForDpi)(int, UINT);
  BOOL(WINAPI* AdjustWindowRectExForDpi)(LPRECT, DWORD, BOOL, DWORD, UINT);
  void* LogicalToPhysicalPoint;
  void* PhysicalToLogicalPoint;
  void* PhysicalToLogicalPointForPerMonitorDPI;
  void* LogicalToPhysicalPointForPerMonitorDPI;
  // shcore
  void* GetScaleFactorForMonitor;
  void* SetProcessDpiAwareness;
  void* GetProcessDpiAwareness;
  void* GetDpiForMonitor;
  // dwmapi
  HRESULT(WINAPI* DwmIsCompositionEnabled)(BOOL*);
  HRESULT(WINAPI* DwmGetWindowAttribute)(HWND, DWORD, PVOID, DWORD);
};
constexpr const char* User32Names[] = {
    "SetProcessDPIAware", "IsProcessDPIAware", "SetThreadDpiAwarenessContext", "GetThreadDpiAwarenessContext",
    "GetWindowDpiAwarenessContext", "GetAwarenessFromDpiAwarenessContext", "AreDpiAwarenessContextsEqual",
    "IsValidDpiAwarenessContext", "GetDpiForWindow", "GetDpiForSystem", "EnableNonClientDpiScaling",
    "SystemParametersInfoForDpi", "GetSystemMetricsForDpi", "AdjustWindowRectExForDpi", "LogicalToPhysicalPoint",
    "PhysicalToLogicalPoint", "PhysicalToLogicalPointForPerMonitorDPI", "LogicalToPhysicalPointForPerMonitorDPI"};
constexpr const char* ShcoreNames[] = {"GetScaleFactorForMonitor", "SetProcessDpiAwareness",
                                       "GetProcessDpiAwareness", "GetDpiForMonitor"};
constexpr const char* DwmapiNames[] = {"DwmIsCompositionEnabled", "DwmGetWindowAttribute"};
static_assert(sizeof(dpi_functions) ==
                  sizeof(User32Names) + sizeof(ShcoreNames) + sizeof(DwmapiNames),
              "one entry per name");

dpi_functions GDpi{};

void load_entries(HMODULE AModule, const char* const* ANames, size_t ACount, FARPROC* AEntries) {
  for (size_t i = 0; i < ACount; ++i) AEntries[i] = AModule ? ::GetProcAddress(AModule, ANames[i]) : nullptr;
}

const dpi_functions& dpi_table() {
  lock_guard<critical_section> guard(GDpiLock);
  if (!GDpiLoaded) {
    auto entries = reinterpret_cast<FARPROC*>(&GDpi);
    GUser32 = ::LoadLibraryW(L"User32.dll");
    load_entries(GUser32, User32Names, std::size(User32Names), entries);
    entries += std::size(User32Names);
    GShcore = ::LoadLibraryW(L"Shcore.dll");
    load_entries(GShcore, ShcoreNames, std::size(ShcoreNames), entries);
    entries += std::size(ShcoreNames);
    GDwmapi = ::LoadLibraryW(L"Dwmapi.dll");
    load_entries(GDwmapi, DwmapiNames, std::size(DwmapiNames), entries);
    GDpiLoaded = true;
  }
  return GDpi;
}

UINT dc_dpi(HWND AWnd) {
  HDC dc = ::GetDC(AWnd);
  if (!dc) return 96;
  const int value = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(AWnd, dc);
  return value > 0 ? static_cast<UINT>(value) : 96;
}

// The extent of a text in a control's font, measured in a DC of its window; 0 x 0 without one.
SIZE measure_text(TqorWinControl& AControl, const std::wstring& AText) {
  SIZE extent{0, 0};
  HWND wnd = AControl.Handle();
  unique_window_dc dc(wnd);
  if (!dc.get()) return extent;
  selected_object font(dc.get(), AControl.Font().Handle());
  if (!AText.empty()) ::GetTextExtentPoint32W(dc.get(), AText.c_str(), static_cast<int>(AText.size()), &extent);
  return extent;
}

SIZE measure_text(HDC ADC, HFONT AFont, const std::wstring& AText) {
  SIZE extent{0, 0};
  selected_object font(ADC, AFont);
  if (!AText.empty()) ::GetTextExtentPoint32W(ADC, AText.c_str(), static_cast<int>(AText.size()), &extent);
  return extent;
}

// The theme of a control's window, or one opened here for its class (closed again by the owner).
class control_theme {
 public:
  control_theme(HWND AWnd, const wchar_t* AClass) {
    FTheme = qor::GetWindowTheme(AWnd);
    if (!FTheme) {
      FTheme = qor::OpenThemeDataForDpi(AWnd, AClass, dpi::GetWindowDpi(AWnd), true);
      FOpened = FTheme != nullptr;
    }
  }
  ~control_theme() {
    if (FOpened) qor::CloseThemeData(FTheme);
  }
  control_theme(const control_theme&) = delete;
  control_theme& operator=(const control_theme&) = delete;
  HTHEME get() const noexcept { return FTheme; }

 private:
  HTHEME FTheme = nullptr;
  bool FOpened = false;
};

SIZE check_glyph_size() {
  SIZE size{13, 13};
  HBITMAP bitmap = ::LoadBitmapW(nullptr, MAKEINTRESOURCEW(32759));  // OBM_CHECKBOXES
  if (!bitmap) return size;
  BITMAP info{};
  if (::GetObjectW(bitmap, sizeof(info), &info) == sizeof(info)) size = SIZE{info.bmWidth / 4, info.bmHeight / 3};
  ::DeleteObject(bitmap);
  return size;
}

}  // namespace

// ---- unit start-up and the DPI layer ----

void FormStartup() noexcept {
  using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  auto get_version = reinterpret_cast<rtl_get_version_fn>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
  if (get_version && get_version(&info) >= 0) {
    GOSMajor = info.dwMajorVersion;
    GOSMinor = info.dwMinorVersion;
    GOSBuild = info.dwBuildNumber;
  } else {
    GOSMajor = 5;
    GOSMinor = 1;
    GOSBuild = 2600;
  }
}

void FormShutdown() noexcept {
  {
    lock_guard<critical_section> guard(GDpiLock);
    for (HMODULE* module : {&GUser32, &GShcore, &GDwmapi}) {
      if (*module) ::FreeLibrary(*module);
      *module = nullptr;
    }
    GDpi = dpi_functions{};
    GDpiLoaded = false;
  }
  UnregisterWindowClasses();
}

DWORD WindowsMajorVersion() noexcept { return GOSMajor; }

namespace dpi {

DPI_AWARENESS_CONTEXT SetThreadDpiContext(DPI_AWARENESS_CONTEXT AContext) noexcept {
  const dpi_functions& f = dpi_table();
  return f.SetThreadDpiAwarenessContext ? f.SetThreadDpiAwarenessContext(AContext) : nullptr;
}

UINT GetWindowDpi(HWND AWnd) noexcept {
  const dpi_functions& f = dpi_table();
  return f.GetDpiForWindow ? f.GetDpiForWindow(AWnd) : dc_dpi(AWnd);
}

UINT GetSystemDpi() noexcept {
  const dpi_functions& f = dpi_table();
  return f.GetDpiForSystem ? f.GetDpiForSystem() : dc_dpi(nullptr);
}

bool EnableNonClientDpi(HWND AWnd) noexcept {
  const dpi_functions& f = dpi_table();
  return f.EnableNonClientDpiScaling && f.EnableNonClientDpiScaling(AWnd);
}

bool SystemParametersInfoDpi(UINT AAction, UINT AParam, void* AData, bool AFallback, UINT ADpi,
                             UINT AWinIni) noexcept {
  const dpi_functions& f = dpi_table();
  if (f.SystemParametersInfoForDpi) return f.SystemParametersInfoForDpi(AAction, AParam, AData, AWinIni, ADpi);
  return AFallback && ::SystemParametersInfoW(AAction, AParam, AData, AWinIni);
}

int GetSystemMetricsDpi(int AIndex, UINT ADpi, bool AFallback) noexcept {
  const dpi_functions& f = dpi_table();
  if (f.GetSystemMetricsForDpi) return f.GetSystemMetricsForDpi(AIndex, ADpi);
  return AFallback ? ::GetSystemMetrics(AIndex) : 0;
}

bool AdjustWindowRectExDpi(RECT& ARect, DWORD AStyle, bool AMenu, bool AFallback, UINT ADpi,
                           DWORD AExStyle) noexcept {
  const dpi_functions& f = dpi_table();
  if (f.AdjustWindowRectExForDpi) return f.AdjustWindowRectExForDpi(&ARect, AStyle, AMenu, AExStyle, ADpi);
  return AFallback && ::AdjustWindowRectEx(&ARect, AStyle, AMenu, AExStyle);
}

HRESULT CompositionEnabled(BOOL& AEnabled) noexcept {
  const dpi_functions& f = dpi_table();
  return f.DwmIsCompositionEnabled ? f.DwmIsCompositionEnabled(&AEnabled) : E_NOTIMPL;
}

HRESULT GetWindowAttribute(HWND AWnd, DWORD AAttribute, void* AData, DWORD ASize) noexcept {
  const dpi_functions& f = dpi_table();
  return f.DwmGetWindowAttribute ? f.DwmGetWindowAttribute(AWnd, AAttribute, AData, ASize) : E_NOTIMPL;
}

DPI_AWARENESS_CONTEXT SetLibraryDpiContext(DPI_AWARENESS_CONTEXT AContext) noexcept {
  return SetThreadDpiContext(AContext);
}

void RestoreDpiContext(DPI_AWARENESS_CONTEXT& AContext) noexcept {
  if (AContext) {
    SetThreadDpiContext(AContext);
    AContext = nullptr;
  }
}

}  // namespace dpi

// ---- arithmetic ----

int RoundHalfEven(double AValue) noexcept { return static_cast<int>(std::nearbyint(AValue)); }

TqorLayoutMetrics ComputeLayoutMetrics(SIZE ADialogUnit, int ADelta) noexcept {
  const int bx = ADialogUnit.cx, by = ADialogUnit.cy;
  auto h = [&](int n) { return ::MulDiv(n, bx, 4) - ADelta; };
  auto v = [&](int n) { return ::MulDiv(n, by, 8) - ADelta; };
  TqorLayoutMetrics m{};
  m.DialogMargin = {h(7), v(7)};
  m.GroupBoxTopMargin = v(11);
  m.GroupBoxLeftMargin = h(6);
  m.GroupBoxBottomMargin = v(7);
  m.LabelControlSpacing = {h(3), v(3)};
  m.RelatedControlsSpacing = {h(4), v(4)};
  m.UnrelatedControlsSpacing = {h(7), v(7)};
  m.ButtonsSpacing = {h(4), v(4)};
  const int values[] = {m.DialogMargin.cx,           m.DialogMargin.cy,           m.GroupBoxTopMargin,
                        m.GroupBoxLeftMargin,        m.GroupBoxBottomMargin,      m.LabelControlSpacing.cx,
                        m.LabelControlSpacing.cy,    m.RelatedControlsSpacing.cx, m.RelatedControlsSpacing.cy,
                        m.UnrelatedControlsSpacing.cx, m.UnrelatedControlsSpacing.cy, m.ButtonsSpacing.cx,
                        m.ButtonsSpacing.cy};
  m.MinMetric = values[0];
  for (int value : values) m.MinMetric = value < m.MinMetric ? value : m.MinMetric;
  return m;
}

void GetDialogUnits(HDC ADC, HFONT AFont, SIZE& AUnit, TSizeD& AUnitD) noexcept {
  static const wchar_t Letters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  SIZE extent{0, 0};
  {
    selected_object font(ADC, AFont);
    ::GetTextExtentPoint32W(ADC, Letters, 52, &extent);
  }
  AUnitD = TSizeD{extent.cx / 52.0, static_cast<double>(extent.cy)};
  AUnit = SIZE{extent.cx / 52, extent.cy};
}

void GetFontDialogUnits(HFONT AFont, SIZE& AUnit, TSizeD& AUnitD) noexcept {
  HDC dc = ::CreateCompatibleDC(nullptr);
  if (!dc) return;
  GetDialogUnits(dc, AFont, AUnit, AUnitD);
  ::DeleteDC(dc);
}

int NextDPIQueueCapacity(int ACapacity) noexcept {
  if (ACapacity <= 8) return ACapacity + 4;
  if (ACapacity <= 64) return ACapacity + 16;
  return ACapacity + ACapacity / 4;
}

// ---- TqorShellUI ----

TqorShellUI::TqorShellUI(HWND AWnd, UINT ADpiX, UINT ADpiY) : FDpiX(ADpiX), FDpiY(ADpiY) {
  if (FDpiX == 0 || FDpiY == 0) FDpiX = FDpiY = AWnd ? dpi::GetWindowDpi(AWnd) : dpi::GetSystemDpi();
  FFont.OnChange = [this] { FontChanged(); };
  UpdateFont();
  // Without a system font the framework's default description stands; its metrics still count.
  if (FDialogUnit.cy == 0) FontChanged();
}

HFONT TqorShellUI::CreateDefaultFont() { return CreateSysFont(); }

HFONT TqorShellUI::CreateSysFont() {
  NONCLIENTMETRICSW metrics{};
  const UINT size = WindowsMajorVersion() >= 6 ? 504 : 500;
  metrics.cbSize = size;
  if (!dpi::SystemParametersInfoDpi(SPI_GETNONCLIENTMETRICS, size, &metrics, false, FDpiY, 0)) {
    std::memset(&metrics, 0, sizeof(metrics));
    metrics.cbSize = size;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, size, &metrics, 0)) return nullptr;
    const UINT system_dpi = dpi::GetSystemDpi();
    if (system_dpi != FDpiY) {
      metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, FDpiY, system_dpi);
      metrics.lfMessageFont.lfWidth = 0;
    }
  }
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

HFONT TqorShellUI::CreateMonoFont() {
  HGDIOBJ stock = ::GetStockObject(ANSI_FIXED_FONT);
  LOGFONTW font{};
  if (::GetObjectW(stock, sizeof(font), &font) != sizeof(font)) return static_cast<HFONT>(stock);
  if (font.lfHeight > 0) font.lfHeight = -font.lfHeight;
  font.lfWidth = 0;
  if (FDpiY != 96) font.lfHeight = ::MulDiv(font.lfHeight, FDpiY, 96);
  return ::CreateFontIndirectW(&font);
}

HFONT TqorShellUI::CreateMSShellDlgFont(int AHeight) {
  LOGFONTA font{};
  font.lfHeight = AHeight;
  std::strcpy(font.lfFaceName, "MS Shell Dlg");
  const UINT system_dpi = dpi::GetSystemDpi();
  if (system_dpi != FDpiY) font.lfHeight = ::MulDiv(AHeight, FDpiY, system_dpi);
  return ::CreateFontIndirectA(&font);
}

HFONT TqorShellUI::CreateThemeFont_(HTHEME ATheme, bool ADpiTheme, HDC ADC, int APartId, int AStateId,
                                    int APropId) {
  LOGFONTW font{};
  if (FAILED(qor::GetThemeFont(ATheme, ADC, APartId, AStateId, APropId, &font))) return nullptr;
  const UINT system_dpi = dpi::GetSystemDpi();
  if (!ADpiTheme && system_dpi != FDpiY) {
    font.lfHeight = ::MulDiv(font.lfHeight, FDpiY, system_dpi);
    font.lfWidth = 0;
  }
  return ::CreateFontIndirectW(&font);
}

void TqorShellUI::CreateThemeFont(HTHEME ATheme, bool ADpiTheme, HDC ADC, int APartId, int AStateId,
                                  int APropId, TqorFont& AFont) {
  if (HFONT font = CreateThemeFont_(ATheme, ADpiTheme, ADC, APartId, AStateId, APropId)) AFont.SetHandle(font);
}

bool TqorShellUI::UpdateDPI(HWND AWnd, UINT ADpi) {
  if (ADpi == 0) ADpi = AWnd ? dpi::GetWindowDpi(AWnd) : dpi::GetSystemDpi();
  if (ADpi == FDpiX && ADpi == FDpiY) return false;
  FDpiX = FDpiY = ADpi;
  FFont.SetHandle(CreateDefaultFont());
  return true;
}

bool TqorShellUI::UpdateDPI(HWND AWnd, UINT ADpiX, UINT ADpiY) {
  if (ADpiX == 0 || ADpiY == 0) ADpiX = ADpiY = AWnd ? dpi::GetWindowDpi(AWnd) : dpi::GetSystemDpi();
  if (ADpiX == FDpiX && ADpiY == FDpiY) return false;
  FDpiX = ADpiX;
  FDpiY = ADpiY;
  FFont.SetHandle(CreateDefaultFont());
  return true;
}

void TqorShellUI::UpdateFont() { FFont.SetHandle(CreateDefaultFont()); }

void TqorShellUI::FontChanged() {
  FMetricsDelta = 0;
  GetFontDialogUnits(FFont.Handle(), FDialogUnit, FDialogUnitD);
  UpdateMetrics();
}

void TqorShellUI::UpdateMetrics() { FMetrics = ComputeLayoutMetrics(FDialogUnit, FMetricsDelta); }

bool TqorShellUI::DecSize() {
  if (FMetrics.MinMetric >= 4) {
    ++FMetricsDelta;
    UpdateMetrics();
    return true;
  }
  const int height = FFont.Height();
  if (height >= -10) return false;
  FFont.SetHeight(height + 1);
  return true;
}

int TqorShellUI::Width(int ACharCount) const noexcept { return RoundHalfEven(ACharCount * FDialogUnitD.cx); }
int TqorShellUI::Height(int ACharCount) const noexcept { return RoundHalfEven(ACharCount * FDialogUnitD.cy); }

void TqorShellUI::SetButtonSize(TqorWinControl& AButton) {
  const std::wstring text = AButton.Caption();
  HWND wnd = AButton.Handle();
  SIZE unit{0, 0};
  TSizeD unit_d{};
  SIZE extent{0, 0};
  bool measured = false;
  if (UseThemes()) {
    control_theme theme(wnd, L"BUTTON");
    unique_window_dc dc(wnd);
    if (theme.get() && dc.get()) {
      LOGFONTW font{};
      if (qor::GetThemeFont(theme.get(), dc.get(), 1, 1, 210, &font) == S_OK) {
        unique_gdi<HFONT> theme_font(::CreateFontIndirectW(&font));
        if (theme_font) {
          GetDialogUnits(dc.get(), theme_font.get(), unit, unit_d);
          extent = measure_text(dc.get(), theme_font.get(), text);
          measured = true;
        }
      }
    }
  }
  if (!measured) {
    unique_window_dc dc(wnd);
    if (dc.get()) GetDialogUnits(dc.get(), AButton.Font().Handle(), unit, unit_d);
    extent = measure_text(AButton, text);
  }
  int width = Max(::MulDiv(50, unit.cx, 4), 3 * unit.cx + extent.cx);
  const int height = Max(::MulDiv(14, unit.cy, 8), extent.cy);
  if ((GOSMajor == 5 && GOSMinor >= 1) || GOSMajor > 5) {
    // Looked up in the comctl32 the button came from; without one loaded there is no image list.
    using icon_size_fn = BOOL(WINAPI*)(HIMAGELIST, int*, int*);
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    auto icon_size = comctl ? reinterpret_cast<icon_size_fn>(::GetProcAddress(comctl, "ImageList_GetIconSize")) : nullptr;
    BUTTON_IMAGELIST images{};
    int icon_width = 0, icon_height = 0;
    if (icon_size && ::SendMessageW(wnd, BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images)) && images.himl &&
        icon_size(images.himl, &icon_width, &icon_height)) {
      if (images.uAlign == BUTTON_IMAGELIST_ALIGN_LEFT) width += images.margin.left + icon_width;
      if (images.uAlign == BUTTON_IMAGELIST_ALIGN_RIGHT) width += images.margin.right + icon_width;
    }
  }
  AButton.SetWidth(width);
  AButton.SetHeight(height);
}

int TqorShellUI::SetButtonSize(const TqorButtonArray& AArray) {
  int width = 0;
  for (TqorWinControl* button : AArray) {
    SetButtonSize(*button);
    width = Max(width, button->Width());
  }
  for (TqorWinControl* button : AArray) button->SetWidth(width);
  return width;
}

int TqorShellUI::SetButtonSize(std::initializer_list<TqorWinControl*> AArray) {
  return SetButtonSize(TqorButtonArray(AArray));
}

void TqorShellUI::SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2) {
  SetButtonSize(TqorButtonArray{&AButton1, &AButton2});
}

void TqorShellUI::SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2, TqorWinControl& AButton3) {
  SetButtonSize(TqorButtonArray{&AButton1, &AButton2, &AButton3});
}

void TqorShellUI::SetButtonSize(TqorWinControl& AButton1, TqorWinControl& AButton2, TqorWinControl& AButton3,
                                TqorWinControl& AButton4) {
  SetButtonSize(TqorButtonArray{&AButton1, &AButton2, &AButton3, &AButton4});
}

void TqorShellUI::SetCheckBoxSize(TqorWinControl& ACheckBox) { SetCheckControlSize(ACheckBox, 3, 5); }
void TqorShellUI::SetRadioButtonSize(TqorWinControl& ACheckBox) { SetCheckControlSize(ACheckBox, 2, 5); }

void TqorShellUI::SetCheckControlSize(TqorWinControl& AControl, int APartId, int AStateId) {
  const std::wstring text = L" " + AControl.Caption();
  HWND wnd = AControl.Handle();
  SIZE glyph = check_glyph_size();
  SIZE extent{0, 0};
  bool measured = false;
  if (UseThemes()) {
    control_theme theme(wnd, L"BUTTON");
    unique_window_dc dc(wnd);
    if (theme.get() && dc.get()) {
      SIZE part{};
      if (SUCCEEDED(qor::GetThemePartSize(theme.get(), dc.get(), APartId, AStateId, nullptr, TS_TRUE, &part)))
        glyph = SIZE{part.cx, part.cy + 4};
      LOGFONTW font{};
      if (qor::GetThemeFont(theme.get(), dc.get(), APartId, AStateId, 210, &font) == S_OK) {
        unique_gdi<HFONT> theme_font(::CreateFontIndirectW(&font));
        if (theme_font) {
          extent = measure_text(dc.get(), theme_font.get(), text);
          measured = true;
        }
      }
    }
  }
  if (!measured) extent = measure_text(AControl, text);
  if (text == L" ") {
    AControl.SetWidth(glyph.cx);
    AControl.SetHeight(glyph.cy);
  } else {
    AControl.SetWidth(glyph.cx + extent.cx + 2);
    AControl.SetHeight(Max(glyph.cy, extent.cy));
  }
}

void TqorShellUI::SetEditHeight(TqorWinControl& AEdit) { AEdit.SetClientHeight(measure_text(AEdit, L"qW").cy); }

bool TqorShellUI::ControlHasBorder(TqorWinControl& AControl) {
  // The framework always draws new-style, three-dimensional controls.
  return (AControl.ExStyle() & WS_EX_CLIENTEDGE) != 0;
}

void TqorShellUI::SetLabelTop(TqorWinControl& ALabel, TqorWinControl& AEdit) {
  POINT point{0, 0};
  ::ClientToScreen(AEdit.Handle(), &point);
  ::ScreenToClient(ALabel.Handle(), &point);
  ALabel.SetTop(ALabel.Top() + point.y + (ControlHasBorder(AEdit) ? 1 : 0));
}

void TqorShellUI::SetLabelTopByCombobox(TqorWinControl& ALabel, TqorWinControl& AComboBox) {
  const int d = (AComboBox.Height() - ALabel.Height()) / 2;
  const DWORD kind = AComboBox.Style() & 3;
  if (kind == CBS_DROPDOWN || kind == CBS_DROPDOWNLIST)
    ALabel.SetTop(AComboBox.Top() + d);
  else
    ALabel.SetTop(AComboBox.Top() + d - 1);
}

void TqorShellUI::SetTrackBarHeight(TqorWinControl& ATrackBar, int ADelta) {
  int thumb = RoundHalfEven(Height(2) * 1.5);
  HWND wnd = ATrackBar.Handle();
  if (UseThemes()) {
    control_theme theme(wnd, L"TRACKBAR");
    if (theme.get()) {
      {
        unique_window_dc dc(wnd);
        SIZE size{-1, -1};
        if (dc.get() && SUCCEEDED(qor::GetThemePartSize(theme.get(), dc.get(), 4, 1, nullptr, TS_TRUE, &size)) &&
            size.cy >= 0)
          thumb = size.cy;
      }
      const UINT window_dpi = dpi::GetWindowDpi(wnd), system_dpi = dpi::GetSystemDpi();
      if (window_dpi != system_dpi) thumb = ::MulDiv(thumb, window_dpi, system_dpi);
    }
  }
  ::SendMessageW(wnd, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(thumb + ADelta), 0);
  ATrackBar.SetHeight(Height(1) + thumb + ADelta);
}

void TqorShellUI::SetProgressBarHeight(TqorWinControl& AProgressBar) {
  AProgressBar.SetHeight(::MulDiv(8, FDialogUnit.cy, 8));
}

void TqorShellUI::SetTop(TqorWinControl& ABaseControl1, TqorWinControl& ADependedControl) {
  ADependedControl.SetTop(ABaseControl1.Top() + ABaseControl1.Height() / 2 - ADependedControl.Height() / 2);
}

// ---- TqorShellBaseUIForm ----

TqorShellBaseUIForm::TqorShellBaseUIForm(TqorComponent* AOwner)
    : TqorForm(AOwner), FActivationContext(std::make_unique<TqorShellActivationContext>()) {}

TqorShellBaseUIForm::~TqorShellBaseUIForm() {
  DestroyHandle();
  FActivationContext.reset();
  FUI.reset();
}

TqorShellUI& TqorShellBaseUIForm::UI() {
  if (!FUI) FUI = std::make_unique<TqorShellUI>(HandleIfExists(), 0, 0);
  return *FUI;
}

void TqorShellBaseUIForm::UpdateControlsBounds(UINT ADpiX, UINT ADpiY) {
  if (!CanUpdateControlsBounds()) return;
  UI().UpdateDPI(Handle(), ADpiX, ADpiY);
  RefreshControls();
}

void TqorShellBaseUIForm::RefreshControls() {
  Font().Assign(UI().Font());
  UpdateControlsSize();
  UpdateControlsPos();
  Invalidate();
}

void TqorShellBaseUIForm::AfterConstruction() {
  HWND wnd = Handle();
  UI().UpdateDPI(wnd, 0);
  Font().Assign(UI().Font());
  // Child windows are made while the module's common-controls context is still in force.
  CreateHandles();
  FActivationContext.reset();
  FCanUpdateControlsBounds = true;
  UpdateControlsBounds();
}

void TqorShellBaseUIForm::OnNcCreate(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  OpenTheme();
}

void TqorShellBaseUIForm::OnNcDestroy(TqorMessage& AMessage) {
  CloseTheme();
  DefaultHandler(AMessage);
}

void TqorShellBaseUIForm::UpdateForStyleOrDpi(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  UI().UpdateFont();
  CloseTheme();
  OpenTheme();
  UpdateControlsBounds(0, 0);
  Invalidate();
}

void TqorShellBaseUIForm::OnThemeChanged(TqorMessage& AMessage) { UpdateForStyleOrDpi(AMessage); }
void TqorShellBaseUIForm::OnDpiChangedBeforeParent(TqorMessage& AMessage) { UpdateForStyleOrDpi(AMessage); }

void TqorShellBaseUIForm::Resize() {
  TqorForm::Resize();
  if (!CanResizeControls() || Destroying()) return;
  struct mode_guard {
    bool& flag;
    ~mode_guard() { flag = false; }
  } guard{FResizeMode};
  FResizeMode = true;
  UpdateControlsPos();
  Invalidate();
}

// ---- TqorShellUIForm ----

TqorShellUIForm::TqorShellUIForm(HWND AOwnerWnd, HWND APositionWnd) : TqorShellBaseUIForm(nullptr) {
  FPrevContext = dpi::SetLibraryDpiContext(reinterpret_cast<DPI_AWARENESS_CONTEXT>(-4));
  FPerMonitorVer2 = true;
  if (!FPrevContext) {
    FPrevContext = dpi::SetLibraryDpiContext(reinterpret_cast<DPI_AWARENESS_CONTEXT>(-3));
    FPerMonitorVer2 = false;
  }
  FOwnerWnd = AOwnerWnd ? AOwnerWnd : APositionWnd;
  FPositionWnd = APositionWnd ? APositionWnd : FOwnerWnd;
}

TqorShellUIForm::~TqorShellUIForm() {
  dpi::RestoreDpiContext(FPrevContext);
  delete FSetOwnerWndTimer;
  FSetOwnerWndTimer = nullptr;
}

bool TqorShellUIForm::CanUpdateControlsBounds() const {
  return FCanUpdateControlsBounds2 && TqorShellBaseUIForm::CanUpdateControlsBounds();
}

bool TqorShellUIForm::CanResizeControls() const {
  return FUpdateBoundsCount == 0 && TqorShellBaseUIForm::CanResizeControls();
}

bool TqorShellUIForm::OwnerRetryPending() const noexcept {
  return FSetOwnerWndTimer && FSetOwnerWndTimer->Enabled();
}

void TqorShellUIForm::CreateParams(TqorCreateParams& AParams) {
  TqorShellBaseUIForm::CreateParams(AParams);
  AParams.WndParent = nullptr;
  RECT rect{0, 0, 640, 480};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (::GetMonitorInfoW(::MonitorFromWindow(FPositionWnd, MONITOR_DEFAULTTONEAREST), &info)) rect = info.rcWork;
  const RECT saved = rect;
  GetInitialBounds(rect);
  FHasInitialBounds = !::EqualRect(&rect, &saved);
  AParams.X = rect.left;
  AParams.Y = rect.top;
  AParams.Width = rect.right - rect.left;
  AParams.Height = rect.bottom - rect.top;
}

void TqorShellUIForm::SetOwnerWnd(HWND AWnd) {
  // A window the system already destroyed (with its owner) is not made again by the retry timer.
  HWND self = HandleIfExists();
  if (!AWnd || !self) return;
  HWND root = GetRootWindow(AWnd);
  DWORD_PTR answer = 0;
  if (::SendMessageTimeoutW(root, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &answer)) {
    // The previous owner is 0 on the first attach: success is told by the last error.
    ::SetLastError(0);
    const LONG_PTR previous = ::SetWindowLongPtrW(self, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(root));
    if (previous != 0 || ::GetLastError() == 0) {
      if (FSetOwnerWndTimer) FSetOwnerWndTimer->SetEnabled(false);
      return;
    }
  }
  if (!FSetOwnerWndTimer) {
    FSetOwnerWndTimer = new TqorTimer(nullptr);
    FSetOwnerWndTimer->OnTimer = [this] { SetOwnerWnd(FOwnerWnd); };
    FSetOwnerWndTimer->SetEnabled(true);
  }
}

void TqorShellUIForm::AfterConstruction() {
  struct restore_context {
    DPI_AWARENESS_CONTEXT& context;
    ~restore_context() { dpi::RestoreDpiContext(context); }
  } restore{FPrevContext};
  // The window is made here rather than in the constructor, so that its creation messages reach
  // the complete object; the owner is attached as soon as it exists.
  Handle();
  SetOwnerWnd(FOwnerWnd);
  TqorShellBaseUIForm::AfterConstruction();
  if (!FHasInitialBounds) {
    SIZE size{0, 0};
    GetInitialClientSize(size);
    if (size.cx > 0) SetClientWidth(size.cx);
    if (size.cy > 0) SetClientHeight(size.cy);
  }
  FCanUpdateControlsBounds2 = true;
  FitToWorkArea();
  if (!FHasInitialBounds) SetInitialPosition();
}

void TqorShellUIForm::BeginUpdateBounds() {
  if (++FUpdateBoundsCount == 1) {
    FLeftDelta = FTopDelta = FWidthDelta = FHeightDelta = 0;
    FClientWidthDelta = FClientHeightDelta = 0;
    SetMinSize(0, 0);
  }
}

void TqorShellUIForm::EndUpdateBounds() {
  if (FUpdateBoundsCount == 1) {
    const int left = Left(), top = Top(), width = Width(), height = Height();
    try {
      TqorWinControl::SetBounds(left, top, width, height);
    } catch (...) {
      EndUpdateBoundsAfterError();
      throw;
    }
  }
  EndUpdateBoundsAfterError();
}

// Closes the section without moving the window.
void TqorShellUIForm::EndUpdateBoundsAfterError() noexcept {
  if (FUpdateBoundsCount > 0 && --FUpdateBoundsCount == 0) {
    SIZE size{0, 0};
    GetMinSize(size);
    SetMinSize(size.cx, size.cy);
  }
}

template <class F>
void TqorShellUIForm::WithUpdateBounds(F ABody) {
  BeginUpdateBounds();
  try {
    ABody();
  } catch (...) {
    EndUpdateBoundsAfterError();
    throw;
  }
  EndUpdateBounds();
}

int TqorShellUIForm::Left() const {
  return TqorWinControl::Left() + (FUpdateBoundsCount > 0 ? FLeftDelta : 0);
}
int TqorShellUIForm::Top() const { return TqorWinControl::Top() + (FUpdateBoundsCount > 0 ? FTopDelta : 0); }
int TqorShellUIForm::Width() const {
  return TqorWinControl::Width() + (FUpdateBoundsCount > 0 ? FWidthDelta : 0);
}
int TqorShellUIForm::Height() const {
  return TqorWinControl::Height() + (FUpdateBoundsCount > 0 ? FHeightDelta : 0);
}
int TqorShellUIForm::ClientWidth() const {
  if (FUpdateBoundsCount == 0) return TqorWinControl::ClientWidth();
  return TqorWinControl::ClientWidth() + FWidthDelta - FClientWidthDelta;
}
int TqorShellUIForm::ClientHeight() const {
  if (FUpdateBoundsCount == 0) return TqorWinControl::ClientHeight();
  return TqorWinControl::ClientHeight() + FHeightDelta - FClientHeightDelta;
}
void TqorShellUIForm::SetLeft(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetLeft(AValue);
  FLeftDelta = AValue - TqorWinControl::Left();
}
void TqorShellUIForm::SetTop(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetTop(AValue);
  FTopDelta = AValue - TqorWinControl::Top();
}
void TqorShellUIForm::SetWidth(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetWidth(AValue);
  FWidthDelta = AValue - TqorWinControl::Width();
}
void TqorShellUIForm::SetHeight(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetHeight(AValue);
  FHeightDelta = AValue - TqorWinControl::Height();
}
void TqorShellUIForm::SetClientWidth(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetClientWidth(AValue);
  FWidthDelta = AValue + FClientWidthDelta - TqorWinControl::ClientWidth();
}
void TqorShellUIForm::SetClientHeight(int AValue) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetClientHeight(AValue);
  FHeightDelta = AValue + FClientHeightDelta - TqorWinControl::ClientHeight();
}
void TqorShellUIForm::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (FUpdateBoundsCount == 0) return TqorWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  SetLeft(ALeft);
  SetTop(ATop);
  SetWidth(AWidth);
  SetHeight(AHeight);
}

void TqorShellUIForm::FitToWorkArea() {
  WithUpdateBounds([this] {
    SIZE min_size{0, 0};
    GetMinSize(min_size);
    if (min_size.cx > 0 && Width() < min_size.cx) SetWidth(min_size.cx);
    if (min_size.cy > 0 && Height() < min_size.cy) SetHeight(min_size.cy);
    HWND wnd = Handle();
    struct update_lock {
      bool locked = false;
      void lock(HWND AWnd) {
        if (!locked) locked = ::LockWindowUpdate(AWnd) != FALSE;
      }
      ~update_lock() {
        if (locked) ::LockWindowUpdate(nullptr);
      }
    } lock;
    lock.lock(wnd);
    UpdateControlsBounds(UI().DpiX(), UI().DpiY());
    HMONITOR monitor = ::MonitorFromWindow(wnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!monitor || !::GetMonitorInfoW(monitor, &info)) return;
    const int work_width = info.rcWork.right - info.rcWork.left;
    const int work_height = info.rcWork.bottom - info.rcWork.top;
    bool fits = true;
    if (work_width < Width()) {
      SetWidth(work_width);
      fits = false;
    }
    if (Height() > work_height) {
      SetHeight(work_height);
      fits = false;
    }
    if (fits) return;
    lock.lock(wnd);
    UpdateControlsBounds(UI().DpiX(), UI().DpiY());
    fits = work_width >= Width() && Height() <= work_height;
    while (!fits) {
      if (!UI().DecSize()) break;
      lock.lock(wnd);
      UpdateControlsBounds(UI().DpiX(), UI().DpiY());
      fits = work_width >= Width() && Height() <= work_height;
    }
  });
}

void TqorShellUIForm::SetInitialPosition() {
  if (FPositionWnd)
    CenterWindowOnWindow(Handle(), FPositionWnd);
  else if (!Parent())
    CenterWindowOnScreen(Handle());
}

void TqorShellUIForm::OnNcCreate(TqorMessage& AMessage) {
  TqorShellBaseUIForm::OnNcCreate(AMessage);
  dpi::EnableNonClientDpi(HandleIfExists());
}

void TqorShellUIForm::OnDpiChanged(TqorMessage& AMessage) {
  AMessage.Result = 0;
  FDPIChanged = true;
  if (!CanUpdateControlsBounds()) return;
  if (AMessage.WParam != 0 && AMessage.LParam != 0) {
    const int capacity = static_cast<int>(FDPIChanges.size());
    if (FDPIChangesCount == capacity) FDPIChanges.resize(static_cast<size_t>(NextDPIQueueCapacity(capacity)));
    TqorShellDPIChangeRec& change = FDPIChanges[static_cast<size_t>(FDPIChangesCount++)];
    change.DpiX = LOWORD(AMessage.WParam);
    change.DpiY = HIWORD(AMessage.WParam);
    change.Rect = *reinterpret_cast<const RECT*>(AMessage.LParam);
  }
  if (FDPIChangeMode) return;
  struct mode_guard {
    bool& flag;
    ~mode_guard() { flag = false; }
  } guard{FDPIChangeMode};
  FDPIChangeMode = true;
  while (FDPIChangesCount > 0) {
    const TqorShellDPIChangeRec change = FDPIChanges[0];
    for (int i = 1; i < FDPIChangesCount; ++i) FDPIChanges[static_cast<size_t>(i - 1)] = FDPIChanges[static_cast<size_t>(i)];
    --FDPIChangesCount;
    ApplyDPIChange(change);
  }
}

void TqorShellUIForm::ApplyDPIChange(const TqorShellDPIChangeRec& AChange) {
  CloseTheme();
  OpenTheme();
  NotifyControls(WM_DPICHANGED_BEFOREPARENT);
  RECT rect{0, 0, ClientWidth(), ClientHeight()};
  if (!dpi::AdjustWindowRectExDpi(rect, Style(), false, true, AChange.DpiY, ExStyle())) rect = RECT{0, 0, Width(), Height()};
  WithUpdateBounds([&] {
    FClientWidthDelta = (rect.right - rect.left) - Width();
    FClientHeightDelta = (rect.bottom - rect.top) - Height();
    const int width = AChange.Rect.right - AChange.Rect.left;
    SetBounds(AChange.Rect.left, AChange.Rect.top, width, AChange.Rect.bottom - AChange.Rect.top);
    UI().UpdateDPI(Handle(), AChange.DpiX, AChange.DpiY);
    FitToWorkArea();
    SetLeft(AChange.Rect.left + width / 2 - Width() / 2);
  });
  NotifyControls(WM_DPICHANGED_AFTERPARENT);
}

void TqorShellUIForm::NotifyControls(UINT AMsg) {
  // Version 2 awareness: Windows tells the child windows itself.
  if (FPerMonitorVer2) return;
  for (TqorWinControl* control : Controls()) {
    TqorMessage message{AMsg, 0, 0, 0, true};
    control->Dispatch(message);
  }
}

void TqorShellUIForm::OnGetDpiScaledSize(TqorMessage& AMessage) { DefaultHandler(AMessage); }

void TqorShellUIForm::OnDisplayChange(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  WithUpdateBounds([this] {
    UI().UpdateFont();
    FitToWorkArea();
  });
  FitWindowToOwnMonitor(Handle());
}

void TqorShellUIForm::OnEnterSizeMove(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  FDPIChanged = false;
}

void TqorShellUIForm::OnExitSizeMove(TqorMessage& AMessage) {
  DefaultHandler(AMessage);
  if (FDPIChanged) FitToWorkArea();
}

// ---- window placement ----

void CenterWindowOnRect(HWND AWnd, const RECT& ARect) {
  const int cx = ARect.left + (ARect.right - ARect.left) / 2;
  const int cy = ARect.top + (ARect.bottom - ARect.top) / 2;
  RECT window{}, visible{};
  if (::GetWindowRect(AWnd, &window) && GetVisibleWindowRect(AWnd, visible))
    ::SetWindowPos(AWnd, nullptr, cx - (window.right - window.left) / 2, cy - (window.bottom - window.top) / 2, 0,
                   0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CenterWindowOnWindow(HWND AWnd, HWND ATarget) {
  HMONITOR monitor = ::MonitorFromWindow(ATarget, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetWindowClassName(ATarget) == L"Progman" && ::GetMonitorInfoW(monitor, &info)) {
    CenterWindowOnRect(AWnd, info.rcWork);
    FitWindowToMonitor(AWnd, monitor);
    return;
  }
  RECT target{};
  if (::GetWindowRect(ATarget, &target)) {
    CenterWindowOnRect(AWnd, target);
    FitWindowToMonitor(AWnd, monitor);
    return;
  }
  CenterWindowOnScreen(AWnd);
}

void CenterWindowOnScreen(HWND AWnd) {
  if (!AWnd) return;
  RECT window{};
  ::GetWindowRect(AWnd, &window);
  // A library has no main form: the primary monitor it is.
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(GetPrimaryMonitor(), &info)) return;
  const RECT& area = info.rcWork;
  ::SetWindowPos(AWnd, nullptr, area.left + (area.right - area.left - (window.right - window.left)) / 2,
                 area.top + (area.bottom - area.top - (window.bottom - window.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitWindowToMonitor(HWND AWnd, HMONITOR AMonitor) {
  RECT w{};
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetWindowRect(AWnd, &w) || !::GetMonitorInfoW(AMonitor, &info)) return;
  const RECT& a = info.rcWork;
  if (w.right > a.right) ::OffsetRect(&w, a.right - w.right, 0);
  if (w.bottom > a.bottom) ::OffsetRect(&w, 0, a.bottom - w.bottom);
  if (w.left < a.left) ::OffsetRect(&w, a.left - w.left, 0);
  if (w.top < a.top) ::OffsetRect(&w, 0, a.top - w.top);
  if (::GetWindowLongW(AWnd, GWL_STYLE) & WS_MAXIMIZEBOX)
    ::SetWindowPos(AWnd, nullptr, w.left, w.top, TqorShellUI::Min(a.right - a.left, w.right - w.left),
                   TqorShellUI::Min(a.bottom - a.top, w.bottom - w.top), SWP_NOZORDER | SWP_NOACTIVATE);
  else
    ::SetWindowPos(AWnd, nullptr, w.left, w.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitWindowToOwnMonitor(HWND AWnd) { FitWindowToMonitor(AWnd, ::MonitorFromWindow(AWnd, MONITOR_DEFAULTTONEAREST)); }

bool GetVisibleWindowRect(HWND AWnd, RECT& ARect) {
  BOOL enabled = FALSE;
  if (SUCCEEDED(dpi::CompositionEnabled(enabled)) && enabled &&
      dpi::GetWindowAttribute(AWnd, 9 /* DWMWA_EXTENDED_FRAME_BOUNDS */, &ARect, sizeof(ARect)) == S_OK)
    return true;
  return ::GetWindowRect(AWnd, &ARect) != FALSE;
}

namespace {
BOOL CALLBACK find_primary(HMONITOR AMonitor, HDC, LPRECT, LPARAM AFound) {
  auto* found = reinterpret_cast<HMONITOR*>(AFound);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (::GetMonitorInfoW(AMonitor, &info) && (info.dwFlags & MONITORINFOF_PRIMARY)) {
    found[0] = AMonitor;
    return FALSE;
  }
  if (!found[1]) found[1] = AMonitor;
  return TRUE;
}
}  // namespace

HMONITOR GetPrimaryMonitor() {
  HMONITOR found[2] = {nullptr, nullptr};  // primary, first enumerated
  ::EnumDisplayMonitors(nullptr, nullptr, find_primary, reinterpret_cast<LPARAM>(found));
  return found[0] ? found[0] : found[1];
}

std::wstring GetWindowClassName(HWND AWnd) {
  std::wstring name(40, L'\0');
  for (;;) {
    const int length = ::GetClassNameW(AWnd, name.data(), static_cast<int>(name.size()) + 1);
    if (length < static_cast<int>(name.size())) {
      name.resize(length > 0 ? static_cast<size_t>(length) : 0);
      return name;
    }
    name.resize(name.size() * 2);
  }
}

HWND GetRootWindow(HWND AWnd) {
  HWND wnd = AWnd;
  while (wnd && !(::GetWindowLongW(wnd, GWL_STYLE) & WS_POPUP)) {
    HWND parent = ::GetParent(wnd);
    if (!parent) break;
    wnd = parent;
  }
  return wnd;
}

// ---- the owner of plugin forms ----

namespace {
thread_local HWND TThreadOwner = nullptr;
}  // namespace

HWND ThreadOwnerWindow() noexcept { return TThreadOwner; }

TqorThreadOwnerScope::TqorThreadOwnerScope(HWND AOwner) noexcept : FPrevious(TThreadOwner) { TThreadOwner = AOwner; }

TqorThreadOwnerScope::~TqorThreadOwnerScope() { TThreadOwner = FPrevious; }

namespace {
bool takes_owned_forms(HWND AWnd) noexcept {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(AWnd, &pid);
  return pid == ::GetCurrentProcessId() && ::IsWindowVisible(AWnd) && ::IsWindowEnabled(AWnd);
}

BOOL CALLBACK find_process_window(HWND AWnd, LPARAM AFound) {
  if (!takes_owned_forms(AWnd)) return TRUE;
  *reinterpret_cast<HWND*>(AFound) = AWnd;
  return FALSE;
}
}  // namespace

HWND CallerOwnerWindow() noexcept {
  if (HWND owner = ThreadOwnerWindow()) return owner;
  if (HWND active = ::GetActiveWindow()) return active;
  // A file manager that calls from a thread of its own still has its main window elsewhere.
  HWND foreground = ::GetForegroundWindow();
  if (foreground && takes_owned_forms(foreground)) return foreground;
  HWND found = nullptr;
  ::EnumWindows(find_process_window, reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace qor
