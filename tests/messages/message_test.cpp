// Message and InputBox as a user meets them: the fixture plugin asks through its host table while
// the file-manager emulator opens or extracts its archive. A watcher thread finds each form as a
// real window, reads its caption, texts and buttons, optionally photographs it, and answers it with
// the keyboard or the mouse; the test then checks what the plugin was told.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "archive_util.h"
#include "png_writer.h"
#include "ui_test_env.h"
#include "wexlor_harness.h"

namespace {

// ---- what the watcher saw and does ----

struct Control {
  std::wstring cls;
  std::wstring text;
  RECT rect{};  // in the form's client coordinates
  DWORD style = 0;
  HWND wnd = nullptr;
};

struct Seen {
  std::wstring caption;
  RECT client{};
  std::vector<Control> statics;  // visible texts, top to bottom
  std::vector<Control> buttons;  // left to right
  std::vector<Control> edits;
  std::wstring screenshot;
  wxt::capture_stats stats;
  DWORD thread = 0;
  HWND owner = nullptr;
  RECT window{};
  RECT work_area{};

  std::vector<std::wstring> lines() const {
    std::vector<std::wstring> out;
    for (const Control& c : statics) out.push_back(c.text);
    return out;
  }
  std::vector<std::wstring> labels() const {
    std::vector<std::wstring> out;
    for (const Control& c : buttons) out.push_back(c.text);
    return out;
  }
};

// How the watcher answers a form: keys go to the control that has the focus, as typing would.
struct Action {
  enum Kind { Enter, Escape, Char, Click, CloseBox, TypeAndEnter } kind;
  int button = 0;        // Click: index among the buttons, left to right
  std::wstring text;     // Char: one character; TypeAndEnter: the text
  std::wstring screenshot;
};

Action enter() { return {Action::Enter}; }
Action escape() { return {Action::Escape}; }
Action key(wchar_t AChar) { return {Action::Char, 0, std::wstring(1, AChar)}; }
Action click(int AButton) { return {Action::Click, AButton}; }
Action close_box() { return {Action::CloseBox}; }
Action type(const std::wstring& AText) { return {Action::TypeAndEnter, 0, AText}; }
Action photographed(Action AAction, const std::wstring& AName) {
  AAction.screenshot = AName;
  return AAction;
}

BOOL CALLBACK collect(HWND AChild, LPARAM AContext) {
  auto* context = reinterpret_cast<std::pair<HWND, Seen*>*>(AContext);
  if (!IsWindowVisible(AChild)) return TRUE;
  Control c;
  wchar_t cls[64] = {};
  GetClassNameW(AChild, cls, 64);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(AChild)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(AChild, text.data(), static_cast<int>(text.size()))));
  c.cls = cls;
  c.text = text;
  c.style = static_cast<DWORD>(GetWindowLongW(AChild, GWL_STYLE));
  c.wnd = AChild;
  GetWindowRect(AChild, &c.rect);
  MapWindowPoints(nullptr, context->first, reinterpret_cast<POINT*>(&c.rect), 2);
  if (_wcsicmp(cls, L"Static") == 0) context->second->statics.push_back(c);
  if (_wcsicmp(cls, L"Button") == 0) context->second->buttons.push_back(c);
  if (_wcsicmp(cls, L"Edit") == 0) context->second->edits.push_back(c);
  return TRUE;
}

class FormWatcher {
 public:
  explicit FormWatcher(std::vector<Action> AActions) : FActions(AActions.begin(), AActions.end()) {}
  std::vector<Seen> Finish() {
    FWatch.Stop();
    return FSeen;
  }

 private:

  void handle(HWND AWnd) {
    Sleep(300);  // let it paint
    Seen seen;
    wchar_t caption[256] = {};
    GetWindowTextW(AWnd, caption, 256);
    seen.caption = caption;
    GetClientRect(AWnd, &seen.client);
    seen.thread = GetWindowThreadProcessId(AWnd, nullptr);
    seen.owner = GetWindow(AWnd, GW_OWNER);
    GetWindowRect(AWnd, &seen.window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(AWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    seen.work_area = monitor.rcWork;
    std::pair<HWND, Seen*> context{AWnd, &seen};
    EnumChildWindows(AWnd, collect, reinterpret_cast<LPARAM>(&context));
    std::sort(seen.statics.begin(), seen.statics.end(),
              [](const Control& A, const Control& B) { return A.rect.top < B.rect.top; });
    std::sort(seen.buttons.begin(), seen.buttons.end(),
              [](const Control& A, const Control& B) { return A.rect.left < B.rect.left; });
    Action action = FActions.empty() ? close_box() : FActions.front();
    if (!FActions.empty()) FActions.pop_front();
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(AWnd, nullptr), &info);
    HWND focus = info.hwndFocus ? info.hwndFocus : AWnd;
    if (action.kind == Action::TypeAndEnter) {
      for (wchar_t c : action.text) PostMessageW(focus, WM_CHAR, c, 0);
      Sleep(200);
    }
    if (!action.screenshot.empty()) {
      seen.screenshot = wxt::artifacts_folder() + action.screenshot;
      wxt::save_window_png(AWnd, seen.screenshot, GetSysColor(COLOR_WINDOW), seen.stats);
    }
    switch (action.kind) {
      case Action::Enter: PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001); break;
      case Action::Escape: PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001); break;
      case Action::Char: PostMessageW(focus, WM_CHAR, action.text[0], 0); break;
      case Action::Click:
        if (action.button < static_cast<int>(seen.buttons.size()))
          PostMessageW(seen.buttons[static_cast<size_t>(action.button)].wnd, BM_CLICK, 0, 0);
        break;
      case Action::CloseBox: PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0); break;
      case Action::TypeAndEnter:
        PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
        break;
    }
    // Gone before the next search; a form that stays is closed so that the test cannot hang.
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
    if (IsWindowVisible(AWnd)) {
      PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
      seen.caption += L" (stayed open)";
    }
    std::lock_guard<std::mutex> guard(FLock);
    FSeen.push_back(seen);
  }

  std::deque<Action> FActions;
  std::mutex FLock;
  std::vector<Seen> FSeen;
  wxt::FormWatchThread FWatch{[this](HWND AFound) {
    if (AFound) handle(AFound);
  }};
};

std::wstring dpi_suffix() { return L"_" + std::to_wstring(wxt::expected_dpi()) + L"dpi.png"; }

std::vector<std::string> lines_starting(const std::vector<std::string>& ALog, const std::string& APrefix) {
  std::vector<std::string> out;
  for (const std::string& line : ALog)
    if (line.rfind(APrefix, 0) == 0) out.push_back(line);
  return out;
}

const wxt::PluginSpec kPlugin{L"message", L"message_plugin.dll"};

struct Outcome {
  std::vector<Seen> forms;
  std::vector<std::string> log;
  std::vector<std::string> results;  // extraction: "name=result" per entry
  std::wstring dest;
};

// Opens the archive (its msg/input lines run in OpenW) and lists it.
Outcome open_with(const std::string& AScript, std::vector<Action> AActions) {
  Outcome run;
  FormWatcher watcher(std::move(AActions));
  wxt::FileManager fm({kPlugin});
  const std::wstring archive = fm.WriteArchive(L"calls.msg", "WXMSG\n" + AScript);
  int open_result = -1;
  wxt::ListArchive(fm, archive, &open_result);
  run.forms = watcher.Finish();
  run.log = fm.Log(kPlugin.folder, kPlugin.binary);
  return run;
}

// Extracts every entry of the archive as a file manager does.
Outcome extract_with(const std::string& AScript, std::vector<Action> AActions, std::vector<std::string>* AFiles = nullptr,
                 const std::vector<std::wstring>& ANames = {}) {
  Outcome run;
  FormWatcher watcher(std::move(AActions));
  wxt::FileManager fm({kPlugin});
  const std::wstring archive = fm.WriteArchive(L"data.msg", "WXMSG\n" + AScript);
  run.dest = fm.Root() + L"out\\";
  CreateDirectoryW(run.dest.c_str(), nullptr);
  run.results = wxt::extract_entries(fm, archive, run.dest, {});
  run.forms = watcher.Finish();
  run.log = fm.Log(kPlugin.folder, kPlugin.binary);
  if (AFiles)
    for (const std::wstring& name : ANames)
      AFiles->push_back(wxt::file_exists(run.dest + name) ? wxt::read_file(run.dest + name) : "<missing>");
  return run;
}

// One script line per case; the answers of the cases that show a form, in order.
template <class Case>
Outcome open_with_cases(const std::vector<Case>& ACases) {
  std::string script;
  std::vector<Action> answers;
  for (const Case& c : ACases) {
    script += c.call + "\n";
    if (c.shown) answers.push_back(c.answer);
  }
  return open_with(script, answers);
}

int scaled(int AValue) { return MulDiv(AValue, static_cast<int>(wxt::expected_dpi()), 96); }

// ---- the damaged entry ----

const char* const kDamagedArchive =
    "file good.txt data=hello\n"
    "file bad.bin data=partial damaged\n"
    "file after.txt data=world\n";

TEST(PluginMessage, DamagedEntryAsksWithThePluginsOwnTextAndIgnoreAllGoesOn) {
  std::vector<std::string> files;
  Outcome run = extract_with(kDamagedArchive, {photographed(key(L'a'), L"message_damaged" + dpi_suffix())}, &files,
                         {L"good.txt", L"bad.bin", L"after.txt"});
  ASSERT_EQ(run.forms.size(), 1u);
  const Seen& form = run.forms[0];
  EXPECT_EQ(form.caption, L"Fixture archive");
  EXPECT_EQ(form.lines(), (std::vector<std::wstring>{L"Data error", L"bad.bin"}));
  EXPECT_EQ(form.labels(), (std::vector<std::wstring>{L"&Ignore", L"Ignore &All", L"Cancel"}));
  EXPECT_TRUE(form.edits.empty());
  // Shown by the thread that extracts, with no owner window, like the host warning box.
  EXPECT_EQ(form.thread, GetCurrentThreadId());
  EXPECT_EQ(form.owner, nullptr);
  // The warning icon stands left of the texts; centred lines share the text column's middle.
  ASSERT_EQ(form.statics.size(), 2u);
  EXPECT_GE(form.statics[0].rect.left, scaled(32));
  EXPECT_EQ(form.statics[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
  EXPECT_EQ(form.statics[0].rect.left, form.statics[1].rect.left);
  // The buttons in the order given, in one row at the right of the footer.
  ASSERT_EQ(form.buttons.size(), 3u);
  EXPECT_EQ(form.buttons[0].rect.top, form.buttons[2].rect.top);
  EXPECT_GT(form.buttons[0].rect.top, form.statics[1].rect.bottom);
  EXPECT_LE(form.buttons[2].rect.right, form.client.right);
  EXPECT_GT(form.stats.dark, form.stats.pixels / 200) << "a capture with text on it";
  // The plugin saw its second button and went on.
  EXPECT_EQ(lines_starting(run.log, "damaged"), std::vector<std::string>{"damaged bad.bin -> 1"});
  EXPECT_TRUE(lines_starting(run.log, "aborted").empty());
  EXPECT_EQ(run.results, (std::vector<std::string>{"good.txt=0", "bad.bin=0", "after.txt=0", "end=10", "close=0"}));
  EXPECT_EQ(files, (std::vector<std::string>{"hello", "partial", "world"}));
}

TEST(PluginMessage, EscapeGivesMinusOneAndThePluginsOwnErrorPath) {
  std::vector<std::string> files;
  Outcome run = extract_with(
      "file good.txt data=hello\n"
      "file bad.bin data=partial damaged=items\n"
      "file after.txt data=world\n",
      {escape()}, &files, {L"good.txt", L"bad.bin", L"after.txt"});
  ASSERT_EQ(run.forms.size(), 1u);
  EXPECT_EQ(run.forms[0].caption, L"Fixture archive");
  EXPECT_EQ(run.forms[0].lines(), (std::vector<std::wstring>{L"Data error", L"bad.bin"}));
  EXPECT_EQ(run.forms[0].labels(), (std::vector<std::wstring>{L"&Ignore", L"Ignore &All", L"Cancel"}));
  EXPECT_EQ(lines_starting(run.log, "damaged"), std::vector<std::string>{"damaged bad.bin -> -1"});
  EXPECT_EQ(lines_starting(run.log, "aborted"), std::vector<std::string>{"aborted bad.bin"});
  EXPECT_EQ(run.results[1], "bad.bin=" + std::to_string(wcx::E_EABORTED));
  EXPECT_EQ(files[1], "<missing>");
}

TEST(PluginMessage, EnterTheCloseBoxAndAClickAnswerEachDamagedEntry) {
  Outcome run = extract_with(
      "file one.bin data=1 damaged\n"
      "file two.bin data=2 damaged=items\n"
      "file three.bin data=3 damaged\n",
      {enter(), close_box(), click(2)});
  ASSERT_EQ(run.forms.size(), 3u);
  for (const Seen& form : run.forms) EXPECT_EQ(form.labels().size(), 3u);
  EXPECT_EQ(lines_starting(run.log, "damaged"),
            (std::vector<std::string>{"damaged one.bin -> 0", "damaged two.bin -> -1", "damaged three.bin -> 2"}));
  EXPECT_EQ(lines_starting(run.log, "extracted"), std::vector<std::string>{"extracted one.bin"});
}

// ---- the strings and flags of Message, through the module ----

struct MessageCase {
  std::string call;   // msg FLAGS BUTTONS ERROR COUNT TEXT
  bool shown;
  std::wstring caption;
  std::vector<std::wstring> lines;
  std::vector<std::wstring> buttons;
  Action answer;
  int result;
};

std::wstring error_text(DWORD ACode) {
  wchar_t text[1024] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                 ACode, 0, text, 1024, nullptr);
  std::wstring message = text;
  std::replace(message.begin(), message.end(), L'\r', L' ');
  std::replace(message.begin(), message.end(), L'\n', L' ');
  while (!message.empty() && message.back() == L' ') message.pop_back();
  wchar_t code[16];
  swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(ACode));
  return std::wstring(code) + L" - " + (message.empty() ? L"Unknown error" : message);
}

TEST(PluginMessage, SplittingFlagsButtonSetsAndResults) {
  const std::vector<MessageCase> cases = {
      // Standard sets: every string after the title is body text, ButtonsNumber is ignored.
      {"msg 0x10011 0 0 0 Error\\nCannot open\\nfile.zip", true, L"Error", {L"Cannot open", L"file.zip"}, {L"OK"},
       enter(), 0},
      {"msg 0x50000 7 0 -1 Confirm|Overwrite?|a.txt", true, L"Confirm", {L"Overwrite?", L"a.txt"},
       {L"&Yes", L"&No", L"Cancel"}, click(2), 2},
      {"msg 0x30000 0 0 -1 Copy|Failed", true, L"Copy", {L"Failed"}, {L"&Abort", L"&Retry", L"&Ignore"}, key(L'r'), 1},
      {"msg 0x20000 0 0 -1 Ask|Sure?", true, L"Ask", {L"Sure?"}, {L"OK", L"Cancel"}, click(1), 1},
      {"msg 0x40000 0 0 -1 Ask|Sure?", true, L"Ask", {L"Sure?"}, {L"&Yes", L"&No"}, key(L'n'), 1},
      {"msg 0x60000 0 0 -1 Ask|Locked", true, L"Ask", {L"Locked"}, {L"&Retry", L"Cancel"}, escape(), -1},
      // 0x70000 and above are no set: ButtonsNumber applies.
      {"msg 0x70000 1 0 -1 T|body|Go", true, L"T", {L"body"}, {L"Go"}, enter(), 0},
      // ButtonsNumber larger than the strings after the title: all of them are buttons.
      {"msg 0 5 0 -1 T|a|b", true, L"T", {}, {L"a", L"b"}, click(1), 1},
      // All in one: a leading '\n' gives an empty title, one trailing '\n' is dropped, empty lines stay.
      {"msg 0x10 1 0 0 \\nline\\n\\nB1\\n", true, L"", {L"line", L""}, {L"B1"}, enter(), 0},
      {"msg 0x10010 0 0 0 ", true, L"", {}, {L"OK"}, enter(), 0},
      // Null items are empty strings; '&' is literal in the body and a mnemonic on buttons.
      {"msg 0 2 0 -1 T|R&D report|@null|&Keep|&Drop", true, L"T", {L"R&D report", L""}, {L"&Keep", L"&Drop"},
       key(L'd'), 1},
      // Separators: the caption of a separator line stands on it.
      {"msg 0 1 0 -1 T|above|\\1Details|below|\\2|OK", true, L"T", {L"above", L"Details", L"below"}, {L"OK"},
       enter(), 0},
      // The system error text, after a separator when there are body lines.
      {"msg 0x10002 0 2 -1 Open|archive.7z", true, L"Open", {L"archive.7z", error_text(2)}, {L"OK"}, enter(), 0},
      // FMSG_ERRORTYPE lifts the two-string rule; no separator without body lines.
      {"msg 0x10002 0 5 1 Open", true, L"Open", {error_text(5)}, {L"OK"}, enter(), 0},
      {"msg 0x10002 0 0x2000ABCD 1 Open", true, L"Open", {L"0x2000ABCD - Unknown error"}, {L"OK"}, enter(), 0},
      {"msg 0x10002 0 0 -1 Open|x", true, L"Open", {L"x"}, {L"OK"}, enter(), 0},
      // Nothing shown, -1 at once: no buttons, refusals, unreadable memory.
      {"msg 0 0 0 -1 Progress|50%", false, L"", {}, {}, enter(), -1},
      {"msg 0x18 0 0 0 Progress\\n\\1\\nworking", false, L"", {}, {}, enter(), -1},
      {"msg 0 -3 0 -1 T|a|b", false, L"", {}, {}, enter(), -1},
      {"msg 0x70000 0 0 -1 T|a|b", false, L"", {}, {}, enter(), -1},
      {"msg 0 1 0 -1 T", false, L"", {}, {}, enter(), -1},
      {"msg 0x10000 0 0 -1 T", false, L"", {}, {}, enter(), -1},
      {"msg 0x10000 1 0 -1 @nullitems", false, L"", {}, {}, enter(), -1},
      {"msg 0 1 0 -1 T|@bad|OK", false, L"", {}, {}, enter(), -1},
      {"msg 0x10010 0 0 0 @bad", false, L"", {}, {}, enter(), -1},
  };
  Outcome run = open_with_cases(cases);
  const std::vector<std::string> results = lines_starting(run.log, "msg -> ");
  ASSERT_EQ(results.size(), cases.size());
  size_t form = 0;
  for (size_t i = 0; i < cases.size(); ++i) {
    const MessageCase& c = cases[i];
    SCOPED_TRACE(c.call);
    EXPECT_EQ(results[i], "msg -> " + std::to_string(c.result));
    if (!c.shown) continue;
    ASSERT_LT(form, run.forms.size());
    const Seen& seen = run.forms[form++];
    EXPECT_EQ(seen.caption, c.caption);
    EXPECT_EQ(seen.lines(), c.lines);
    EXPECT_EQ(seen.labels(), c.buttons);
    for (const Control& text : seen.statics) EXPECT_TRUE(text.style & SS_NOPREFIX) << "'&' shows as it is";
  }
  EXPECT_EQ(form, run.forms.size()) << "a form appeared for a message that must pass silently";
  EXPECT_EQ(lines_starting(run.log, "open done").size(), 1u);
}

TEST(PluginMessage, LeftAlignAndSeparatorCaptions) {
  Outcome run = open_with(
      "msg 0x8 1 0 -1 Left|a short line|\\2|a much longer line of body text|\\1Caption|last|OK\n"
      "msg 0 1 0 -1 Centre|a short line|a much longer line of body text|OK\n",
      {photographed(enter(), L"message_left" + dpi_suffix()), enter()});
  ASSERT_EQ(run.forms.size(), 2u);
  const Seen& left = run.forms[0];
  ASSERT_EQ(left.statics.size(), 4u);
  EXPECT_EQ(left.statics[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_LEFT));
  EXPECT_EQ(left.statics[0].rect.left, left.statics[1].rect.left);
  // The separator's caption is centred on the text column and no wider than its text.
  const Control& caption = left.statics[2];
  EXPECT_EQ(caption.style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
  EXPECT_LT(caption.rect.right - caption.rect.left, left.statics[1].rect.right - left.statics[1].rect.left);
  EXPECT_NEAR(caption.rect.left + caption.rect.right, left.statics[1].rect.left + left.statics[1].rect.right, 2);
  EXPECT_GE(left.statics[0].rect.left, 0);
  EXPECT_LT(left.statics[0].rect.left, scaled(32)) << "no warning icon without FMSG_WARNING";
  const Seen& centre = run.forms[1];
  ASSERT_EQ(centre.statics.size(), 2u);
  EXPECT_EQ(centre.statics[0].style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
}

// An error log of many lines: the texts go into one scrollable field and the buttons stay on screen.
TEST(PluginMessage, BodyTallerThanTheScreenScrolls) {
  std::string call = "msg 0 2 0 -1 Errors";
  for (int i = 1; i <= 150; ++i) call += "|cannot read entry " + std::to_string(i);
  Outcome run = open_with(call + "|OK|Save log\n", {photographed(click(1), L"message_long" + dpi_suffix())});
  ASSERT_EQ(run.forms.size(), 1u);
  const Seen& form = run.forms[0];
  EXPECT_TRUE(form.statics.empty());
  ASSERT_EQ(form.edits.size(), 1u);
  EXPECT_TRUE(form.edits[0].style & ES_READONLY);
  EXPECT_TRUE(form.edits[0].style & WS_VSCROLL);
  const std::wstring text = form.edits[0].text;
  EXPECT_EQ(text.substr(0, 40), L"cannot read entry 1\r\ncannot read entry 2");
  EXPECT_EQ(text.substr(text.size() - 21), L"cannot read entry 150");
  EXPECT_EQ(form.labels(), (std::vector<std::wstring>{L"OK", L"Save log"}));
  EXPECT_LE(form.window.bottom, form.work_area.bottom) << "the buttons are on the screen";
  EXPECT_GE(form.window.top, form.work_area.top);
  EXPECT_EQ(lines_starting(run.log, "msg -> "), std::vector<std::string>{"msg -> 1"});
}

// Progress texts arrive many times a second: they must cost next to nothing and show nothing.
TEST(PluginMessage, MessagesWithoutButtonsReturnAtOnce) {
  Outcome run = open_with("spin 20000\n", {});
  EXPECT_TRUE(run.forms.empty());
  const std::vector<std::string> spin = lines_starting(run.log, "spin ");
  ASSERT_EQ(spin.size(), 1u);
  EXPECT_EQ(spin[0].substr(0, spin[0].find(" ns/call")), "spin 40000 of 40000");
  std::printf("%s\n", spin[0].c_str());
}

// ---- InputBox ----

TEST(PluginInputBox, PasswordPromptIsMaskedAndTheTypedTextReachesThePlugin) {
  std::vector<std::string> files;
  Outcome run = extract_with("file secret.txt data=classified password=s3cret\n",
                         {photographed(type(L"s3cret"), L"inputbox_password" + dpi_suffix())}, &files,
                         {L"secret.txt"});
  ASSERT_EQ(run.forms.size(), 1u);
  const Seen& form = run.forms[0];
  EXPECT_EQ(form.caption, L"Fixture archive");
  EXPECT_EQ(form.lines(), std::vector<std::wstring>{L"Password for secret.txt:"});
  EXPECT_EQ(form.labels(), (std::vector<std::wstring>{L"OK", L"Cancel"}));
  ASSERT_EQ(form.edits.size(), 1u);
  EXPECT_TRUE(form.edits[0].style & ES_PASSWORD);
  EXPECT_GT(form.edits[0].rect.top, form.statics[0].rect.top);
  EXPECT_EQ(lines_starting(run.log, "password"), std::vector<std::string>{"password secret.txt -> 1 s3cret"});
  EXPECT_EQ(files, std::vector<std::string>{"classified"});
}

TEST(PluginInputBox, CancelWritesAnEmptyTextAndReturnsZero) {
  Outcome run = extract_with("file secret.txt data=classified password=s3cret\n", {escape()});
  ASSERT_EQ(run.forms.size(), 1u);
  EXPECT_EQ(lines_starting(run.log, "password"), std::vector<std::string>{"password secret.txt -> 0 "});
  EXPECT_EQ(lines_starting(run.log, "aborted"), std::vector<std::string>{"aborted secret.txt"});
  EXPECT_EQ(run.results.front(), "secret.txt=" + std::to_string(wcx::E_EABORTED));
}

struct InputCase {
  std::string call;  // input FLAGS DESTSIZE TITLE|PROMPT|SOURCE
  bool shown;
  Action answer;
  std::string logged;
};

TEST(PluginInputBox, FlagsBuffersAndAnswers) {
  SetEnvironmentVariableW(L"WXMSG_HOME", L"C:\\Users\\wexlor");
  const std::vector<InputCase> cases = {
      // Enter only without FIB_BUTTONS; the source text is the start value.
      {"input 0 8 Name|Enter a name:|abc", true, enter(), "input -> 1 [abc0#####]"},
      {"input 0 8 Name|Enter a name:|", true, type(L"xyz"), "input -> 1 [xyz0#####]"},
      // Empty text: 1 only with FIB_ENABLEEMPTY; DestText is written either way.
      {"input 0 4 Name|Empty?|", true, enter(), "input -> 0 [0####]"},
      {"input 1 4 Name|Empty?|", true, enter(), "input -> 1 [0####]"},
      // Cancelled: "" written, 0.
      {"input 0x10 6 Name|Prompt|abc", true, escape(), "input -> 0 [0######]"},
      {"input 0x10 6 Name|Prompt|abc", true, click(1), "input -> 0 [0######]"},
      {"input 0x10 6 Name|Prompt|abc", true, click(0), "input -> 1 [abc0###]"},
      // The edit takes no more than the buffer holds.
      {"input 0 4 Name|Prompt|", true, type(L"abcdef"), "input -> 1 [abc0#]"},
      // Environment variables expanded in the answer.
      {"input 4 64 Name|Folder|%WXMSG_HOME%\\\\x", true, enter(),
       "input -> 1 [C:\\Users\\wexlor\\x0" + std::string(64 - 17, '#') + "]"},
      // Null texts are empty; a zero-sized buffer is left alone.
      {"input 0 4 @null|@null|@null", true, type(L"q"), "input -> 1 [q0###]"},
      {"input 0 0 Name|Prompt|abc", true, enter(), "input -> 1 [#]"},
      // '&' in the prompt: literal, or the edit's hotkey with FIB_NOAMPERSAND.
      {"input 0 4 Name|R&D:|", true, escape(), "input -> 0 [0####]"},
      {"input 0x20 4 Name|&Name:|", true, escape(), "input -> 0 [0####]"},
  };
  Outcome run = open_with_cases(cases);
  const std::vector<std::string> results = lines_starting(run.log, "input -> ");
  ASSERT_EQ(results.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(results[i], cases[i].logged) << cases[i].call;
  ASSERT_EQ(run.forms.size(), cases.size());
  EXPECT_TRUE(run.forms[0].buttons.empty()) << "Enter only without FIB_BUTTONS";
  EXPECT_EQ(run.forms[4].labels(), (std::vector<std::wstring>{L"OK", L"Cancel"}));
  for (const Seen& form : run.forms) {
    ASSERT_EQ(form.edits.size(), 1u);
    EXPECT_FALSE(form.edits[0].style & ES_PASSWORD);
  }
  EXPECT_EQ(run.forms[0].caption, L"Name");
  EXPECT_EQ(run.forms[9].caption, L"");
  EXPECT_TRUE(run.forms[11].statics[0].style & SS_NOPREFIX);
  EXPECT_FALSE(run.forms[12].statics[0].style & SS_NOPREFIX);
}

TEST(PluginInputBox, UnreadableTextsShowNothingAndWriteAnEmptyAnswer) {
  Outcome run = open_with("input 0 4 Name|@bad|abc\n", {});
  EXPECT_TRUE(run.forms.empty());
  EXPECT_EQ(lines_starting(run.log, "input -> "), std::vector<std::string>{"input -> 0 [0####]"});
}

}  // namespace
