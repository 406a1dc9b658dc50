// Scaled forms with real windows under Wine: construction order and the thread's DPI context,
// fitting into the work area with one resize, placement, the owner attach with its retry timer,
// the modal loop, deferred bounds, DPI changes, and a screenshot kept as a test artefact.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/qorErrors.h"
#include "png_writer.h"
#include "ui/qorShellForm.h"
#include "ui_test_env.h"
#include "wexlor_harness.h"

namespace {

HMODULE GModule = nullptr;

class UnitStartup : public ::testing::Environment {
 public:
  void SetUp() override {
    // The forms of this program activate the built module's context, as the module's own would.
    GModule = LoadLibraryW((wxt::exe_folder() + qor::kModuleFileName).c_str());
    qor::ThemesStartup(GModule);
    qor::FormStartup();
  }
};
const auto* GStartup = ::testing::AddGlobalTestEnvironment(new UnitStartup);

// The thread's DPI awareness (0 unaware, 1 system, 2 per monitor), read through user32 directly.
int thread_awareness() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto get_context = reinterpret_cast<DPI_AWARENESS_CONTEXT(WINAPI*)()>(
      GetProcAddress(user32, "GetThreadDpiAwarenessContext"));
  auto awareness_of = reinterpret_cast<int(WINAPI*)(DPI_AWARENESS_CONTEXT)>(
      GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext"));
  return get_context && awareness_of ? awareness_of(get_context()) : -1;
}

HANDLE current_actctx() {
  HANDLE context = nullptr;
  GetCurrentActCtx(&context);
  if (context) ReleaseActCtx(context);
  return context;
}

RECT work_area() {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(qor::GetPrimaryMonitor(), &info);
  return info.rcWork;
}

RECT window_rect(HWND AWnd) {
  RECT rect{};
  GetWindowRect(AWnd, &rect);
  return rect;
}

// A small dialog: a label, an edit, a check box and two buttons, laid out from the metrics. AChars
// sets the content width in average characters.
class TestForm : public qor::TqorShellUIForm {
 public:
  TestForm(HWND AOwner, HWND APosition, int AChars = 40) : TqorShellUIForm(AOwner, APosition), FChars(AChars) {
    SetCaption(L"Wexlor test form");
    FLabel = add<qor::TqorLabel>();
    FLabel->SetCaption(L"&Name of the entry to extract:");
    FEdit = add<qor::TqorEdit>();
    FEdit->SetText(L"docs\\readme.txt");
    FCheck = add<qor::TqorCheckBox>(false);
    FCheck->SetCaption(L"&Keep the folder structure");
    FCheck->SetChecked(true);
    FOk = add<qor::TqorButton>(true);
    FOk->SetCaption(L"OK");
    FOk->ModalResult = qor::mrOk;
    FCancel = add<qor::TqorButton>(false);
    FCancel->SetCaption(L"Cancel");
    FCancel->ModalResult = qor::mrCancel;
  }
  using TqorShellUIForm::SetClientDeltas;

  void UpdateControlsSize() override {
    SizeDpis.push_back(UI().DpiY());
    if (OnSize) OnSize();
    UI().SetButtonSize(*FOk, *FCancel);
    UI().SetCheckBoxSize(*FCheck);
    UI().SetEditHeight(*FEdit);
  }
  void UpdateControlsPos() override {
    ++LayoutPasses;
    if (ThrowInLayout) throw qor::EqorError(L"layout failed");
    const SIZE margin = UI().DialogMargin();
    const int content = UI().Width(FChars);
    int y = margin.cy;
    FLabel->SetBounds(margin.cx, y, content, UI().Height(1));
    y += FLabel->Height() + UI().LabelControlSpacing().cy;
    FEdit->SetBounds(margin.cx, y, content, FEdit->Height());
    y += FEdit->Height() + UI().UnrelatedControlsSpacing().cy;
    FCheck->SetBounds(margin.cx, y, FCheck->Width(), FCheck->Height());
    y += FCheck->Height() + UI().UnrelatedControlsSpacing().cy;
    const int cancel_left = margin.cx + content - FCancel->Width();
    FCancel->SetBounds(cancel_left, y, FCancel->Width(), FCancel->Height());
    FOk->SetBounds(cancel_left - UI().ButtonsSpacing().cx - FOk->Width(), y, FOk->Width(), FOk->Height());
    y += FOk->Height() + margin.cy;
    SetClientWidth(content + 2 * margin.cx);
    SetClientHeight(y);
  }

  qor::TqorButton* Ok() const { return FOk; }
  std::vector<UINT> SizeDpis;
  std::function<void()> OnSize;
  int LayoutPasses = 0;
  int SizeChanges = 0;
  bool ThrowInLayout = false;

 protected:
  void WndProc(qor::TqorMessage& AMessage) override {
    if (AMessage.Msg == WM_CREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(AMessage.LParam);
      FLastSize = SIZE{create->cx, create->cy};
    }
    if (AMessage.Msg == WM_WINDOWPOSCHANGED) {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(AMessage.LParam);
      if (!(pos->flags & SWP_NOSIZE) && (pos->cx != FLastSize.cx || pos->cy != FLastSize.cy)) {
        ++SizeChanges;
        FLastSize = SIZE{pos->cx, pos->cy};
      }
    }
    TqorShellUIForm::WndProc(AMessage);
  }

 private:
  template <class T, class... A>
  T* add(A... AArgs) {
    auto* control = new T(this, AArgs...);
    control->SetParent(this);
    return control;
  }
  int FChars;
  SIZE FLastSize{};
  qor::TqorLabel* FLabel;
  qor::TqorEdit* FEdit;
  qor::TqorCheckBox* FCheck;
  qor::TqorButton* FOk;
  qor::TqorButton* FCancel;
};

// A plain top-level window standing in for the host application's main window.
struct host_window {
  explicit host_window(RECT ARect) {
    wnd = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, ARect.left, ARect.top,
                          ARect.right - ARect.left, ARect.bottom - ARect.top, nullptr, nullptr, nullptr, nullptr);
  }
  ~host_window() { DestroyWindow(wnd); }
  HWND wnd;
};

TEST(ShellUIForm, WiderThanTheWorkAreaShrinksUntilItFitsAndIsResizedOnce) {
  const RECT area = work_area();
  const int area_width = area.right - area.left;
  qor::TqorShellUI probe(nullptr, 0, 0);
  // A little too wide for the work area even with narrower gaps: the font has to shrink.
  const int chars = static_cast<int>(area_width * 1.03 / probe.DialogUnitD().cx) + 1;
  auto form = qor::MakeForm<TestForm>(nullptr, nullptr, chars);
  EXPECT_LE(form->Width(), area_width);
  EXPECT_GT(form->UI().Font().Height(), probe.Font().Height()) << "the font had to shrink";
  EXPECT_GE(form->LayoutPasses, 3) << "layout ran again after every step";
  EXPECT_EQ(form->SizeChanges, 1) << "the window itself changed size once";
  // The content really is laid out for the final size.
  EXPECT_EQ(form->ClientWidth(), form->UI().Width(chars) + 2 * form->UI().DialogMargin().cx);
}

TEST(ShellUIForm, WithoutOwnerIsCentredOnThePrimaryWorkArea) {
  auto form = qor::MakeForm<TestForm>(nullptr, nullptr);
  const RECT area = work_area(), rect = window_rect(form->Handle());
  EXPECT_EQ(rect.left, area.left + (area.right - area.left - (rect.right - rect.left)) / 2);
  EXPECT_EQ(rect.top, area.top + (area.bottom - area.top - (rect.bottom - rect.top)) / 2);
  EXPECT_EQ(form->SizeChanges, 1);
}

TEST(ShellUIForm, OwnerThatAnswersIsAttachedAtOnceAndCentresTheForm) {
  host_window owner(RECT{60, 50, 760, 550});
  ASSERT_NE(owner.wnd, nullptr);
  auto form = qor::MakeForm<TestForm>(owner.wnd, nullptr);
  EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), owner.wnd);
  EXPECT_FALSE(form->OwnerRetryPending()) << "a first attach is a success, not a reason to retry";
  const RECT host = window_rect(owner.wnd), rect = window_rect(form->Handle());
  EXPECT_EQ((rect.left + rect.right) / 2, (host.left + host.right) / 2);
  EXPECT_NEAR((rect.top + rect.bottom) / 2, (host.top + host.bottom) / 2, 1);
}

TEST(ShellUIForm, PositionWindowNearTheEdgeKeepsTheFormInsideTheWorkArea) {
  const RECT area = work_area();
  host_window target(RECT{area.right - 120, area.bottom - 90, area.right + 100, area.bottom + 60});
  auto form = qor::MakeForm<TestForm>(nullptr, target.wnd);
  EXPECT_EQ(form->OwnerWnd(), target.wnd) << "an owner of 0 is replaced by the position window";
  const RECT rect = window_rect(form->Handle());
  EXPECT_EQ(rect.right, area.right);
  EXPECT_EQ(rect.bottom, area.bottom);
}

TEST(ShellUIForm, DesktopAsPositionWindowCentresOnItsWorkArea) {
  // Wine's desktop has no "Progman" window: a window of that class stands in for it, placed far
  // from the centre so that centring on its rectangle would show.
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = L"Progman";
  RegisterClassW(&cls);
  HWND desktop = CreateWindowExW(0, L"Progman", L"Program Manager", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300,
                                 nullptr, nullptr, cls.hInstance, nullptr);
  ASSERT_NE(desktop, nullptr);
  EXPECT_EQ(qor::GetWindowClassName(desktop), L"Progman");
  {
    auto form = qor::MakeForm<TestForm>(nullptr, desktop);
    const RECT area = work_area(), rect = window_rect(form->Handle());
    EXPECT_EQ((rect.left + rect.right) / 2, area.left + (area.right - area.left) / 2);
    EXPECT_NEAR((rect.top + rect.bottom) / 2, area.top + (area.bottom - area.top) / 2, 1);
  }
  DestroyWindow(desktop);
  UnregisterClassW(L"Progman", cls.hInstance);
}

TEST(Placement, ClassNamesLongerThanTheFirstBuffer) {
  const std::wstring name(100, L'W');
  WNDCLASSW cls{};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = GetModuleHandleW(nullptr);
  cls.lpszClassName = name.c_str();
  ASSERT_NE(RegisterClassW(&cls), 0);
  HWND wnd = CreateWindowExW(0, name.c_str(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, cls.hInstance, nullptr);
  EXPECT_EQ(qor::GetWindowClassName(wnd), name);
  EXPECT_EQ(qor::GetWindowClassName(nullptr), L"");
  DestroyWindow(wnd);
  UnregisterClassW(name.c_str(), cls.hInstance);
}

TEST(Placement, FitWindowToMonitorShrinksOnlySizableWindows) {
  const RECT area = work_area();
  const int area_width = area.right - area.left;
  for (const DWORD style : {DWORD(WS_POPUP | WS_CAPTION), DWORD(WS_POPUP | WS_CAPTION | WS_MAXIMIZEBOX)}) {
    HWND wnd = CreateWindowExW(0, L"STATIC", L"", style, area.left + 100, area.top + 10, area_width + 720, 200,
                               nullptr, nullptr, nullptr, nullptr);
    qor::FitWindowToMonitor(wnd, qor::GetPrimaryMonitor());
    const RECT rect = window_rect(wnd);
    EXPECT_EQ(rect.left, area.left) << "the left edge wins for a window wider than the work area";
    EXPECT_EQ(rect.right - rect.left, (style & WS_MAXIMIZEBOX) ? area_width : area_width + 720);
    DestroyWindow(wnd);
  }
}

TEST(ShellUIForm, HungOwnerIsAttachedLaterByTheRetryTimer) {
  HANDLE pump = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<HWND> owner_wnd{nullptr};
  std::atomic<DWORD> owner_thread{0};
  std::thread owner([&] {
    owner_thread = GetCurrentThreadId();
    owner_wnd = CreateWindowExW(0, L"STATIC", L"hung host", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 0, 0, 300,
                                200, nullptr, nullptr, nullptr, nullptr);
    // Not pumping: WM_NULL goes unanswered until the test lets go.
    WaitForSingleObject(pump, 30000);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    DestroyWindow(owner_wnd);
  });
  while (!owner_wnd) Sleep(10);
  {
    auto form = qor::MakeForm<TestForm>(owner_wnd.load(), nullptr);
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), nullptr);
    EXPECT_TRUE(form->OwnerRetryPending());
    wxt::pump_for(1500);
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), nullptr) << "still hung";
    SetEvent(pump);
    EXPECT_TRUE(wxt::pump_until([&] { return GetWindow(form->Handle(), GW_OWNER) == owner_wnd; }, 5000));
    EXPECT_FALSE(form->OwnerRetryPending());
  }
  PostThreadMessageW(owner_thread, WM_QUIT, 0, 0);
  owner.join();
  CloseHandle(pump);
}

class ThrowingForm : public TestForm {
 public:
  explicit ThrowingForm(int* AAwareness) : TestForm(nullptr, nullptr) {
    *AAwareness = thread_awareness();
    throw qor::EqorError(L"construction failed");
  }
};

TEST(ShellUIForm, ThreadContextsAreRestoredAfterAConstructionThatThrows) {
  const int awareness = thread_awareness();
  const HANDLE actctx = current_actctx();
  ASSERT_NE(qor::ModuleActivationContext(), nullptr);
  int inside = -1;
  EXPECT_THROW(qor::MakeForm<ThrowingForm>(&inside), qor::EqorError);
  EXPECT_EQ(inside, 2) << "windows are made per-monitor aware";
  EXPECT_EQ(thread_awareness(), awareness);
  EXPECT_EQ(current_actctx(), actctx);

  // Failing later, inside the construction's layout: same result, no window left behind.
  auto form = std::make_unique<TestForm>(nullptr, nullptr);
  form->ThrowInLayout = true;
  EXPECT_EQ(current_actctx(), qor::ModuleActivationContext()) << "active while the form is being built";
  EXPECT_THROW(form->AfterConstruction(), qor::EqorError);
  EXPECT_EQ(thread_awareness(), awareness);
  form.reset();
  EXPECT_EQ(current_actctx(), actctx);
  EXPECT_EQ(FindWindowW(nullptr, L"Wexlor test form"), nullptr);
}

TEST(ShellUIForm, ModalLoopDisablesTheOwnerAndEndsOnCloseOrModalResult) {
  host_window owner(RECT{40, 40, 640, 480});
  auto form = qor::MakeForm<TestForm>(owner.wnd, nullptr);
  qor::TqorTimer timer(nullptr);
  timer.SetInterval(200);
  bool owner_enabled_inside = true, form_visible_inside = false;
  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    owner_enabled_inside = IsWindowEnabled(owner.wnd) != FALSE;
    form_visible_inside = IsWindowVisible(form->Handle()) != FALSE;
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
  };
  timer.SetEnabled(true);
  EXPECT_EQ(form->ShowModal(), qor::mrCancel);
  EXPECT_FALSE(owner_enabled_inside);
  EXPECT_TRUE(form_visible_inside);
  EXPECT_TRUE(IsWindowEnabled(owner.wnd));
  EXPECT_FALSE(IsWindowVisible(form->Handle()));
  ASSERT_NE(form->HandleIfExists(), nullptr) << "closing a modal form hides it";

  timer.OnTimer = [&] {
    timer.SetEnabled(false);
    SendMessageW(form->Ok()->Handle(), BM_CLICK, 0, 0);
  };
  timer.SetEnabled(true);
  EXPECT_EQ(form->ShowModal(), qor::mrOk);
}

TEST(ShellUIForm, DeferredBoundsMoveTheWindowOnceAtTheEnd) {
  auto form = qor::MakeForm<TestForm>(nullptr, nullptr);
  HWND wnd = form->Handle();
  const RECT before = window_rect(wnd);
  const int framework_client = form->qor::TqorWinControl::ClientWidth();
  const int changes = form->SizeChanges;
  form->BeginUpdateBounds();
  form->SetClientDeltas(6, 0);
  form->SetClientWidth(framework_client + 20);
  EXPECT_EQ(form->Width(), (before.right - before.left) + 26);
  form->SetLeft(before.left + 10);
  form->BeginUpdateBounds();  // nested sections end with the outer one
  form->SetHeight(form->Height() + 5);
  form->EndUpdateBounds();
  EXPECT_EQ(window_rect(wnd).right, before.right) << "nothing moves inside the section";
  form->EndUpdateBounds();
  const RECT after = window_rect(wnd);
  EXPECT_EQ(after.left, before.left + 10);
  EXPECT_EQ(after.right - after.left, (before.right - before.left) + 26);
  EXPECT_EQ(after.bottom - after.top, (before.bottom - before.top) + 5);
  EXPECT_EQ(form->SizeChanges, changes + 1);
}

TEST(ShellUIForm, DpiChangesAreAppliedInArrivalOrderNeverNested) {
  auto form = qor::MakeForm<TestForm>(nullptr, nullptr);
  const UINT dpi = form->UI().DpiY();
  const UINT first = dpi + 48, second = dpi + 24;
  const int height = form->UI().Font().Height();
  RECT suggested = window_rect(form->Handle());
  form->SizeDpis.clear();
  bool sent_second = false;
  form->OnSize = [&] {
    if (!sent_second && form->UI().DpiY() == first) {
      sent_second = true;
      RECT again = suggested;
      SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(second, second), reinterpret_cast<LPARAM>(&again));
      // Only queued: this pass still sees the first change.
      EXPECT_EQ(form->UI().DpiY(), first);
    }
  };
  SendMessageW(form->Handle(), WM_DPICHANGED, MAKEWPARAM(first, first), reinterpret_cast<LPARAM>(&suggested));
  ASSERT_TRUE(sent_second);
  EXPECT_EQ(form->UI().DpiY(), second);
  EXPECT_LT(form->UI().Font().Height(), height) << "a larger font for the higher DPI";
  ASSERT_FALSE(form->SizeDpis.empty());
  EXPECT_EQ(form->SizeDpis.front(), first);
  EXPECT_EQ(form->SizeDpis.back(), second);
  const auto first_second = std::find(form->SizeDpis.begin(), form->SizeDpis.end(), second);
  EXPECT_EQ(std::find(first_second, form->SizeDpis.end(), first), form->SizeDpis.end()) << "no pass of the first after the second began";
  const RECT rect = window_rect(form->Handle());
  EXPECT_NEAR((rect.left + rect.right) / 2, (suggested.left + suggested.right) / 2, 1);
  EXPECT_EQ(rect.top, suggested.top);
}

// Sends a DPI change while construction is still under way.
class EarlyDpiChangeForm : public TestForm {
 public:
  EarlyDpiChangeForm() : TestForm(nullptr, nullptr) {}
  void GetInitialClientSize(SIZE& ASize) override {
    ASize = SIZE{0, 0};
    RECT suggested{0, 0, 800, 600};
    const UINT dpi = UI().DpiY() + 48;
    SendMessageW(Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  }
};

TEST(ShellUIForm, DpiChangeBeforeConstructionEndsIsNeitherQueuedNorApplied) {
  auto form = qor::MakeForm<EarlyDpiChangeForm>();
  EXPECT_EQ(form->UI().DpiY(), qor::dpi::GetSystemDpi());
  for (UINT dpi : form->SizeDpis) EXPECT_EQ(dpi, qor::dpi::GetSystemDpi());
  EXPECT_LT(window_rect(form->Handle()).right - window_rect(form->Handle()).left, 800);
}

TEST(ShellUIForm, OwnerDestroyedWithTheFormLeavesNoWindowBehind) {
  auto owner = std::make_unique<host_window>(RECT{40, 40, 640, 480});
  auto form = qor::MakeForm<TestForm>(owner->wnd, nullptr);
  ASSERT_EQ(GetWindow(form->Handle(), GW_OWNER), owner->wnd);
  owner.reset();  // Windows destroys the owned form window with it
  EXPECT_FALSE(form->HandleAllocated());
  form->SetOwnerWnd(form->OwnerWnd());  // as the retry timer would
  EXPECT_FALSE(form->HandleAllocated()) << "not made again";
}

TEST(ShellUIForm, ScreenshotAtThePrefixDpi) {
  auto form = qor::MakeForm<TestForm>(nullptr, nullptr);
  EXPECT_EQ(form->UI().DpiY(), wxt::expected_dpi());
  HWND wnd = form->Handle();
  ShowWindow(wnd, SW_SHOW);
  UpdateWindow(wnd);
  wxt::pump_for(500);
  const std::wstring path =
      wxt::artifacts_folder() + L"form_" + std::to_wstring(wxt::expected_dpi()) + L"dpi.png";
  wxt::capture_stats stats;
  ASSERT_TRUE(wxt::save_window_png(wnd, path, GetSysColor(COLOR_BTNFACE), stats));
  // Mostly dialog background, with text and frames on it: not a blank or covered capture.
  EXPECT_GT(stats.matching, stats.pixels / 3);
  EXPECT_GT(stats.dark, stats.pixels / 100);
  EXPECT_LT(stats.dark, stats.pixels / 2);
  const std::string png = wxt::read_file(path);
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.substr(1, 3), "PNG");
  ShowWindow(wnd, SW_HIDE);
}

}  // namespace
