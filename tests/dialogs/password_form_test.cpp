// Wexlor's password form for a new archive with real windows: a thread of the test finds it while
// AskNewArchivePassword runs its modal loop here, reads it and types and clicks as a user would.
// OK is taken only for two equal passwords that are not empty; Cancel, Esc and the close box
// give nothing; the form belongs to the caller's window; it follows the DPI (this program runs in
// the 96 and the 144 DPI prefix).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/qorHandles.h"
#include "dialogs/qorPasswordForm.h"
#include "png_writer.h"
#include "ui/qorShellBaseExtension.h"
#include "ui/qorShellForm.h"
#include "form_unit_startup.h"
#include "ui_test_env.h"
#include "wexlor_harness.h"

namespace {

const auto* GStartup = ::testing::AddGlobalTestEnvironment(new wxt::FormUnitStartup);

// ---- the form as a user sees it ----

std::wstring window_text(HWND AWnd) {
  wchar_t text[256] = {};
  GetWindowTextW(AWnd, text, 256);
  return text;
}

std::wstring class_of(HWND AWnd) {
  wchar_t name[64] = {};
  GetClassNameW(AWnd, name, 64);
  return name;
}

HWND wait_for_form() {
  for (int i = 0; i < 1000; ++i) {
    HWND form = wxt::find_module_form();
    if (form && window_text(form) == L"Wexlor") {
      Sleep(200);  // let it paint
      return form;
    }
    Sleep(10);
  }
  return nullptr;
}

// The form's controls in their order on it.
struct Controls {
  std::vector<HWND> lines, edits, buttons;
  std::vector<std::wstring> texts(const std::vector<HWND>& AControls) const {
    std::vector<std::wstring> result;
    for (HWND control : AControls) result.push_back(window_text(control));
    return result;
  }
};

Controls controls_of(HWND AForm) {
  Controls found;
  for (HWND child = GetWindow(AForm, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring cls = class_of(child);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) found.lines.push_back(child);
    if (_wcsicmp(cls.c_str(), L"Edit") == 0) found.edits.push_back(child);
    if (_wcsicmp(cls.c_str(), L"Button") == 0) found.buttons.push_back(child);
  }
  return found;
}

template <class Condition>
bool wait_until(Condition ADone) {
  for (int i = 0; i < 300; ++i) {
    if (ADone()) return true;
    Sleep(10);
  }
  return ADone();
}

// Replaces the edit's text by typing: select all, erase, then one character after another.
void type(HWND AEdit, const std::wstring& AText) {
  SendMessageW(AEdit, EM_SETSEL, 0, -1);
  PostMessageW(AEdit, WM_CHAR, VK_BACK, 1);
  for (wchar_t c : AText) PostMessageW(AEdit, WM_CHAR, c, 1);
  EXPECT_TRUE(wait_until([&] { return window_text(AEdit) == AText; }));
}

void press(HWND AWnd, UINT AKey) {
  PostMessageW(AWnd, WM_KEYDOWN, AKey, 1);
  PostMessageW(AWnd, WM_KEYUP, AKey, 0xC0000001);
}

void click(HWND AButton) { PostMessageW(AButton, BM_CLICK, 0, 0); }

struct Answer {
  bool confirmed;
  std::wstring password;
};

// Asks on this thread while AUser works the form from a thread of its own; a form the user left
// open (a failed check) is closed, so that the run goes on.
Answer ask(const std::function<void()>& AUser) {
  std::atomic<bool> returned{false};
  std::thread user([&] {
    wxt::make_thread_dpi_aware();
    AUser();
    for (int i = 0; i < 300 && !returned; ++i) Sleep(10);
    while (!returned) {
      if (HWND form = wxt::find_module_form()) PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
      Sleep(50);
    }
  });
  Answer answer{false, L"kept"};
  try {
    answer.confirmed = qor::AskNewArchivePassword(answer.password);
  } catch (...) {
    ADD_FAILURE() << "the form could not be shown";
  }
  returned = true;
  user.join();
  return answer;
}

// ---- the tests ----

TEST(PasswordForm, OkIsTakenOnlyForTwoEqualPasswordsAndTheFormSaysWhyNot) {
  struct Refusal {
    const wchar_t* password;
    const wchar_t* confirmation;
    const wchar_t* why;
  };
  const Refusal refusals[] = {
      {L"", L"", L"Enter a password."},
      {L"north", L"south", L"The passwords differ."},
      {L"", L"north", L"The passwords differ."},
      {L"north", L"", L"The passwords differ."},
      {L"North", L"north", L"The passwords differ."},
  };
  const std::wstring chosen = L"gr\u00FCne T\u00FCr 7";
  const Answer answer = ask([&] {
    HWND form = wait_for_form();
    ASSERT_NE(form, nullptr);
    const Controls seen = controls_of(form);
    EXPECT_EQ(seen.texts(seen.lines),
              (std::vector<std::wstring>{L"Password for the new archive:", L"Confirm the password:", L""}));
    EXPECT_EQ(seen.texts(seen.buttons), (std::vector<std::wstring>{L"OK", L"Cancel"}));
    ASSERT_EQ(seen.edits.size(), 2u);
    for (HWND edit : seen.edits) {
      EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD);
      EXPECT_NE(SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0), 0) << "typed characters are masked";
    }
    HWND why = seen.lines[2];
    for (const Refusal& refusal : refusals) {
      SCOPED_TRACE(wxt::narrow(std::wstring(refusal.password) + L"|" + refusal.confirmation));
      type(seen.edits[0], refusal.password);
      type(seen.edits[1], refusal.confirmation);
      EXPECT_EQ(window_text(why), L"") << "typing again clears what was said";
      click(seen.buttons[0]);
      EXPECT_TRUE(wait_until([&] { return window_text(why) == refusal.why; })) << wxt::narrow(window_text(why));
      ASSERT_TRUE(IsWindowVisible(form)) << "the form stays open";
    }
    type(seen.edits[0], chosen);
    type(seen.edits[1], chosen);
    press(seen.edits[1], VK_RETURN);
  });
  EXPECT_TRUE(answer.confirmed);
  EXPECT_EQ(answer.password, chosen);
}

TEST(PasswordForm, CancelEscAndTheCloseBoxGiveNothing) {
  struct Way {
    const char* name;
    std::function<void(HWND AForm, const Controls& AControls)> leave;
  };
  const Way ways[] = {
      {"Cancel", [](HWND, const Controls& AControls) { click(AControls.buttons[1]); }},
      {"Esc", [](HWND, const Controls& AControls) { press(AControls.edits[1], VK_ESCAPE); }},
      {"close box", [](HWND AForm, const Controls&) { PostMessageW(AForm, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    bool left = false;
    const Answer answer = ask([&] {
      HWND form = wait_for_form();
      ASSERT_NE(form, nullptr);
      const Controls seen = controls_of(form);
      ASSERT_EQ(seen.edits.size(), 2u);
      ASSERT_EQ(seen.buttons.size(), 2u);
      // A valid pair is typed: leaving must still give nothing.
      type(seen.edits[0], L"secret");
      type(seen.edits[1], L"secret");
      way.leave(form, seen);
      left = wait_until([&] { return !IsWindowVisible(form); });
    });
    EXPECT_TRUE(left);
    EXPECT_FALSE(answer.confirmed);
    EXPECT_EQ(answer.password, L"kept");
  }
}

// A visible top-level window standing in for the file manager's.
HWND make_host_window(const wchar_t* ACaption, DWORD AVisible) {
  return CreateWindowExW(0, L"STATIC", ACaption, WS_OVERLAPPEDWINDOW | AVisible, 60, 60, 500, 400, nullptr, nullptr,
                         nullptr, nullptr);
}

// The file manager's window on a thread of its own that pumps its messages.
class HostThread {
 public:
  HostThread() : FThread([this] { run(); }) {
    while (!FWnd) Sleep(1);
  }
  ~HostThread() {
    PostMessageW(FWnd, WM_CLOSE, 0, 0);
    FThread.join();
  }
  HWND Wnd() const { return FWnd; }

 private:
  void run() {
    HWND wnd = make_host_window(L"host thread", WS_VISIBLE);
    FWnd = wnd;
    MSG msg;
    while (IsWindow(wnd) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  std::atomic<HWND> FWnd{nullptr};
  std::thread FThread;
};

// Each rule wins over the ones after it: the form of ours that calls, the calling thread's active
// window, the file manager's window of another thread in the foreground.
TEST(PasswordForm, BelongsToTheCallersWindow) {
  enum class Setting { none, other_thread, active, scope };
  const struct {
    const char* name;
    Setting setting;
  } cases[] = {
      {"no window at all", Setting::none},
      {"the process's window on another thread", Setting::other_thread},
      {"the calling thread's active window", Setting::active},
      {"the form of ours that calls", Setting::scope},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qor::unique_window active, scope;
    if (c.setting >= Setting::active) {
      active.reset(make_host_window(L"active", WS_VISIBLE));
      SetActiveWindow(active.get());
    }
    std::unique_ptr<HostThread> other;
    if (c.setting >= Setting::other_thread) other = std::make_unique<HostThread>();
    // Never shown, so that the active window stays.
    if (c.setting == Setting::scope) scope.reset(make_host_window(L"scope", 0));
    const HWND expected = scope ? scope.get() : active ? active.get() : other ? other->Wnd() : nullptr;
    ASSERT_EQ(GetActiveWindow(), active.get());
    if (other) {
      ASSERT_EQ(GetForegroundWindow(), other->Wnd()) << "the other thread's window is in front";
    }
    std::unique_ptr<qor::TqorThreadOwnerScope> owner_scope;
    if (scope) owner_scope = std::make_unique<qor::TqorThreadOwnerScope>(scope.get());
    HWND owner = reinterpret_cast<HWND>(-1);
    bool owner_enabled = true;
    const Answer answer = ask([&] {
      HWND form = wait_for_form();
      ASSERT_NE(form, nullptr);
      owner = GetWindow(form, GW_OWNER);
      owner_enabled = owner && IsWindowEnabled(owner);
      click(controls_of(form).buttons.at(1));
    });
    EXPECT_FALSE(answer.confirmed);
    EXPECT_EQ(owner, expected);
    if (expected && other && expected == other->Wnd()) {
      // A file manager asking from a worker thread: its window's own thread goes on with the user.
      EXPECT_TRUE(owner_enabled) << "another thread's window stays usable";
    } else if (expected) {
      EXPECT_FALSE(owner_enabled) << "modal to its owner";
      EXPECT_TRUE(IsWindowEnabled(expected)) << "enabled again afterwards";
    }
  }
}

// The window's DPI as Windows keeps it, 0 where the call is missing.
UINT window_dpi(HWND AWnd) {
  using get_dpi_fn = UINT(WINAPI*)(HWND);
  auto get_dpi = reinterpret_cast<get_dpi_fn>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"));
  return get_dpi ? get_dpi(AWnd) : 0;
}

SIZE client_size(HWND AWnd) {
  RECT rect{};
  GetClientRect(AWnd, &rect);
  return SIZE{rect.right, rect.bottom};
}

TEST(PasswordForm, IsLaidOutForItsDpiAndScalesWithIt) {
  const UINT dpi = wxt::expected_dpi();
  const UINT other = dpi == 144 ? 96 : 144;
  SIZE at_dpi{}, at_other{}, back{};
  int edit_at_dpi = 0, edit_at_other = 0;
  wxt::capture_stats stats;
  const Answer answer = ask([&] {
    HWND form = wait_for_form();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(window_dpi(form), dpi) << "made per-monitor aware, at the prefix's DPI";
    const std::wstring shot =
        wxt::artifacts_folder() + L"password_form_" + std::to_wstring(dpi) + L"dpi.png";
    EXPECT_TRUE(wxt::save_window_png(form, shot, GetSysColor(COLOR_WINDOW), stats));
    HWND edit = controls_of(form).edits.at(0);
    auto edit_height = [&] {
      RECT rect{};
      GetWindowRect(edit, &rect);
      return static_cast<int>(rect.bottom - rect.top);
    };
    at_dpi = client_size(form);
    edit_at_dpi = edit_height();
    // The form moves to a monitor of the other DPI and back, as Windows tells it.
    for (UINT to : {other, dpi}) {
      RECT suggested{};
      GetWindowRect(form, &suggested);
      SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
      if (to == other) {
        at_other = client_size(form);
        edit_at_other = edit_height();
      }
    }
    back = client_size(form);
    click(controls_of(form).buttons.at(1));
  });
  EXPECT_FALSE(answer.confirmed);
  EXPECT_GT(stats.dark, stats.pixels / 200) << "a capture with text on it";
  ASSERT_GT(at_dpi.cx, 0);
  ASSERT_GT(at_dpi.cy, 0);
  const double ratio = static_cast<double>(other) / dpi;
  EXPECT_NEAR(static_cast<double>(at_other.cx) / at_dpi.cx, ratio, 0.1 * ratio);
  EXPECT_NEAR(static_cast<double>(at_other.cy) / at_dpi.cy, ratio, 0.1 * ratio);
  EXPECT_NEAR(static_cast<double>(edit_at_other) / edit_at_dpi, ratio, 0.15 * ratio);
  EXPECT_EQ(back.cx, at_dpi.cx) << "back at its own DPI, back at its own size";
  EXPECT_EQ(back.cy, at_dpi.cy);
}

}  // namespace
