// Plugin dialogs as a user meets them: the fixture plugin calls DialogInit/DialogRun/DialogFree of
// its host table while the file-manager emulator lists its archive. A watcher thread finds each
// dialog as a real window, reads its caption and child controls, optionally photographs it, and
// either closes it with its close command or works it with the keyboard as a user would; the test
// then checks the window against the cell grid and the plugin's log (its dialog procedure's
// session and what it read back) against what FAR would have told the plugin.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
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

// ---- what the watcher saw ----

struct Child {
  int index = -1;  // item index (control id - 100)
  std::wstring cls;
  std::wstring text;
  RECT rect{};  // in the dialog's client coordinates
  bool visible = false;
  bool enabled = false;
  DWORD style = 0;
  COLORREF middle = CLR_INVALID;  // the screen pixel at the middle of the control
};

struct Seen {
  std::wstring caption;
  RECT client{};
  RECT window{};
  std::vector<Child> children;
  bool open_after_click = false;
  bool clicked = false;
  bool open_after_act = false;  // still shown after the user's first attempt to close it
  std::wstring focus_class;     // class of the control that had the focus when it was found
  std::wstring screenshot;
  wxt::capture_stats stats;

  const Child* item(int AIndex) const {
    for (const Child& c : children)
      if (c.index == AIndex) return &c;
    return nullptr;
  }
};

BOOL CALLBACK collect_child(HWND AChild, LPARAM AOut) {
  auto* seen = reinterpret_cast<std::pair<HWND, Seen*>*>(AOut);
  Child c;
  c.index = GetDlgCtrlID(AChild) - 100;
  wchar_t cls[64] = {}, text[512] = {};
  GetClassNameW(AChild, cls, 64);
  GetWindowTextW(AChild, text, 512);
  c.cls = cls;
  c.text = text;
  GetWindowRect(AChild, &c.rect);
  MapWindowPoints(nullptr, seen->first, reinterpret_cast<POINT*>(&c.rect), 2);
  c.visible = IsWindowVisible(AChild) != FALSE;
  c.enabled = IsWindowEnabled(AChild) != FALSE;
  c.style = static_cast<DWORD>(GetWindowLongW(AChild, GWL_STYLE));
  RECT screen{};
  GetWindowRect(AChild, &screen);
  HDC dc = GetDC(nullptr);
  c.middle = GetPixel(dc, (screen.left + screen.right) / 2, (screen.top + screen.bottom) / 2);
  ReleaseDC(nullptr, dc);
  seen->second->children.push_back(c);
  return TRUE;
}

// Finds the module's dialog windows of this process, records them and closes them.
class DialogWatcher {
 public:
  struct Options {
    std::vector<std::wstring> screenshots;  // file name per dialog in order of appearance ("" none)
    bool click_first = false;               // press a push button before closing
    bool use_wm_close = false;              // WM_CLOSE instead of the system menu's close
    // Works the dialog instead of closing it (it must end the run itself).
    std::function<void(HWND, Seen&)> act;
  };
  explicit DialogWatcher(Options AOptions) : FOptions(std::move(AOptions)) {}
  // Stops watching once the dialog in hand is done with, and answers every dialog seen.
  std::vector<Seen> Finish() {
    FWatch.Stop();
    return FSeen;
  }

 private:
  void on_form(HWND AFound) {
    if (AFound && FHandled.count(AFound) == 0) {
      FHandled.insert(AFound);
      handle(AFound);
    }
    // A window hidden again may come back (a second run of the same dialog).
    for (auto it = FHandled.begin(); it != FHandled.end();)
      it = IsWindowVisible(*it) ? std::next(it) : FHandled.erase(it);
  }

  void handle(HWND AWnd) {
    Sleep(400);  // let it paint
    Seen seen;
    wchar_t caption[256] = {};
    GetWindowTextW(AWnd, caption, 256);
    seen.caption = caption;
    GetClientRect(AWnd, &seen.client);
    GetWindowRect(AWnd, &seen.window);
    std::pair<HWND, Seen*> context{AWnd, &seen};
    EnumChildWindows(AWnd, collect_child, reinterpret_cast<LPARAM>(&context));
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    wchar_t focus_class[64] = {};
    if (GetGUIThreadInfo(GetWindowThreadProcessId(AWnd, nullptr), &gui) && gui.hwndFocus)
      GetClassNameW(gui.hwndFocus, focus_class, 64);
    seen.focus_class = focus_class;
    size_t number;
    {
      std::lock_guard<std::mutex> guard(FLock);
      number = FSeen.size();
    }
    if (number < FOptions.screenshots.size() && !FOptions.screenshots[number].empty()) {
      seen.screenshot = wxt::artifacts_folder() + FOptions.screenshots[number];
      wxt::save_window_png(AWnd, seen.screenshot, GetSysColor(COLOR_WINDOW), seen.stats);
    }
    if (FOptions.act) {
      FOptions.act(AWnd, seen);
      for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
      if (IsWindowVisible(AWnd)) PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
      std::lock_guard<std::mutex> guard(FLock);
      FSeen.push_back(seen);
      return;
    }
    if (FOptions.click_first) {
      for (const Child& c : seen.children)
        if (_wcsicmp(c.cls.c_str(), L"Button") == 0 && c.visible &&
            (GetWindowLongW(GetDlgItem(AWnd, c.index + 100), GWL_STYLE) & 0xF) == BS_PUSHBUTTON) {
          PostMessageW(GetDlgItem(AWnd, c.index + 100), BM_CLICK, 0, 0);
          seen.clicked = true;
          break;
        }
      Sleep(300);
      seen.open_after_click = IsWindowVisible(AWnd) != FALSE;
    }
    // A close posted to a window that is already gone would reach the next run of the dialog.
    if (!FOptions.click_first || seen.open_after_click) {
      if (FOptions.use_wm_close)
        PostMessageW(AWnd, WM_CLOSE, 0, 0);
      else
        PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    // Seen hidden before the next search, so that a second run of the same window counts again.
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
    std::lock_guard<std::mutex> guard(FLock);
    FSeen.push_back(seen);
  }

  Options FOptions;
  std::mutex FLock;
  std::vector<Seen> FSeen;
  std::set<HWND> FHandled;
  wxt::FormWatchThread FWatch{[this](HWND AFound) { on_form(AFound); }};
};

// ---- the script the fixture plugin runs ----

struct Item {
  int type;
  int x1, y1, x2, y2;
  long long flags;
  std::string text;
  unsigned maxlen = 0;
  long long sel = 0;
  std::string list;  // "A|*B|C": the FarList, '*' marking the selected entry
};

struct DialogPlan {
  std::string name;
  int x1, y1, x2, y2;
  std::vector<Item> items;
  std::string extra;  // further words of the "dialog" line
};

// FAR item types and flags the plans use.
enum : int { kText = 0, kSingleBox = 2, kBox = 3, kEdit = 4, kPassword = 5, kButton = 7, kCheck = 8, kRadio = 9,
             kCombo = 10, kList = 11 };
constexpr long long kGroup = 0x400, kCentre = 0x4000, kSeparator = 0x10000, kNoClose = 0x40000,
                    kDropDown = 0x100000, k3State = 0x800000, kHidden = 0x10000000, kReadOnly = 0x20000000,
                    kDisable = 0x80000000LL, kDefault = 0x100000000LL, kFocus = 0x200000000LL;

std::string script(const std::vector<DialogPlan>& ADialogs, bool AInvalid = false) {
  std::ostringstream out;
  out << "WXDLG\nfile first.txt\nfile second.txt\n";
  for (const DialogPlan& d : ADialogs) {
    out << "dialog " << d.name << " " << d.x1 << " " << d.y1 << " " << d.x2 << " " << d.y2 << " " << d.extra << "\n";
    for (const Item& i : d.items) {
      out << "item " << i.type << " " << i.x1 << " " << i.y1 << " " << i.x2 << " " << i.y2 << " " << i.flags << " "
          << i.maxlen << " " << i.text << "\n";
      if (i.sel != 0) out << "sel " << i.sel << "\n";
      if (!i.list.empty()) out << "list " << i.list << "\n";
    }
    out << "end\n";
  }
  if (AInvalid) out << "invalid\n";
  return out.str();
}

struct ListingRun {
  std::vector<wxt::ListedEntry> entries;
  std::vector<std::string> log;
  std::vector<Seen> dialogs;
  int open_result = -1;
};

ListingRun list_with_dialogs(const std::vector<DialogPlan>& ADialogs, DialogWatcher::Options AOptions = {},
                             bool AInvalid = false) {
  ListingRun run;
  // The watcher is up before the module and the plugins load, so that its thread start does not
  // meet their loading.
  DialogWatcher watcher(AOptions);
  wxt::FileManager fm({{L"dialogs", L"dialog_plugin.dll"}});
  const std::wstring archive = fm.WriteArchive(L"test.dlg", script(ADialogs, AInvalid));
  run.entries = wxt::ListArchive(fm, archive, &run.open_result);
  run.dialogs = watcher.Finish();
  run.log = fm.Log(L"dialogs", L"dialog_plugin.dll");
  return run;
}

// Opens the archive for extraction and extracts every entry into a fresh folder; the dialogs
// that appear meanwhile are worked by AOptions.
struct ExtractRun {
  std::vector<std::string> results;
  std::vector<std::string> log;
  std::vector<Seen> dialogs;
  std::map<std::string, std::string> files;  // what landed in the folder
};

ExtractRun extract_with_dialogs(const std::vector<DialogPlan>& ADialogs, DialogWatcher::Options AOptions) {
  ExtractRun run;
  DialogWatcher watcher(AOptions);
  wxt::FileManager fm({{L"dialogs", L"dialog_plugin.dll"}});
  const std::wstring archive = fm.WriteArchive(L"test.dlg", script(ADialogs));
  const std::wstring dest = wxt::make_temp_folder() + L"\\";
  run.results = wxt::extract_entries(fm, archive, dest, {});
  run.dialogs = watcher.Finish();
  run.log = fm.Log(L"dialogs", L"dialog_plugin.dll");
  for (const char* name : {"first.txt", "second.txt"})
    if (wxt::file_exists(dest + wxt::widen(name))) run.files[name] = wxt::read_file(dest + wxt::widen(name));
  wxt::remove_tree(dest);
  return run;
}

std::vector<std::string> lines_starting(const std::vector<std::string>& ALog, const std::string& APrefix) {
  std::vector<std::string> out;
  for (const std::string& line : ALog)
    if (line.rfind(APrefix, 0) == 0) out.push_back(line);
  return out;
}

// ---- the grid the dialog must follow ----

// Dialog base units of the UI font at the prefix's DPI: the message font of the non-client
// metrics, the 52 letters' average width and their height.
SIZE expected_dialog_unit() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  using spi_for_dpi_fn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  auto spi_for_dpi = reinterpret_cast<spi_for_dpi_fn>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi"));
  if (!spi_for_dpi || !spi_for_dpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, wxt::expected_dpi()))
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE extent{};
  GetTextExtentPoint32W(dc, L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 52, &extent);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(font);
  return SIZE{extent.cx / 52, extent.cy};
}

int rect_width(const RECT& ARect) { return ARect.right - ARect.left; }
int rect_height(const RECT& ARect) { return ARect.bottom - ARect.top; }

bool is_separator(const Item& AItem) { return AItem.type == 0 && (AItem.flags & 0x30000) != 0; }

// FAR's cells of a label: "&&" is one ampersand, the first single one marks the hotkey.
int label_cells(const std::string& AText, long long AFlags) {
  const std::wstring text = wxt::widen(AText);
  if (AFlags & 0x2000) return static_cast<int>(text.size());
  int cells = 0;
  bool hotkey = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) {
      if (text[i + 1] == L'&') {
        ++i;
      } else if (!hotkey) {
        hotkey = true;
        continue;
      }
    }
    ++cells;
  }
  return cells;
}

constexpr long long kNoBrackets = 0x8000, kMoveSelect = 0x1000;

// The cells FAR gives a labelled item, whatever its X2: "[ label ]" ("{ label }" for the default
// button), a check box's or radio button's mark, a text without a right edge of its own.
int item_cells(const Item& AItem) {
  switch (AItem.type) {
    case kButton: return label_cells(AItem.text, AItem.flags) + ((AItem.flags & kNoBrackets) ? 0 : 4);
    case kCheck: return label_cells(AItem.text, AItem.flags) + 4;
    case kRadio: return label_cells(AItem.text, AItem.flags) + ((AItem.flags & kMoveSelect) ? 3 : 4);
    case kText:
      if (AItem.x2 == 0 || AItem.x2 <= AItem.x1) return label_cells(AItem.text, AItem.flags);
      return AItem.x2 + 1 - AItem.x1;
    default: return AItem.x2 + 1 - AItem.x1;
  }
}

// What a centre-group member takes of its row: a button one cell more, a check box or radio
// button five more than its label, when there is a label.
int group_step(const Item& AItem) {
  const int label = label_cells(AItem.text, AItem.flags);
  if (AItem.type == kButton) return item_cells(AItem) + (item_cells(AItem) > 0 ? 1 : 0);
  if (AItem.type == kCheck || AItem.type == kRadio) return label + (AItem.text.empty() ? 0 : 5);
  return label;
}

bool group_member(const Item& AItem) {
  return (AItem.flags & kCentre) && (AItem.type == kButton || AItem.type == kCheck || AItem.type == kRadio ||
                                     (AItem.type == kText && !is_separator(AItem)));
}
bool is_box(const Item& AItem) { return AItem.type == kBox || AItem.type == kSingleBox || AItem.type == kList; }

// Checks every control of ASeen against the cell grid of APlan with cell size from AUnit; the
// controls' natural heights are taken from the window, their places and widths from the grid.
void expect_grid(const DialogPlan& APlan, const Seen& ASeen, SIZE AUnit) {
  const int cw = AUnit.cx + 2, rh = AUnit.cy + 2;
  const int width = APlan.x1 == -1 ? APlan.x2 : APlan.x2 - APlan.x1 + 1;
  const int height = APlan.y1 == -1 ? APlan.y2 : APlan.y2 - APlan.y1 + 1;
  std::vector<int> lines(height, rh), offsets(height, 0);
  for (size_t i = 0; i < APlan.items.size(); ++i) {
    const Item& item = APlan.items[i];
    const Child* c = ASeen.item(static_cast<int>(i));
    ASSERT_NE(c, nullptr) << "item " << i;
    // A hidden item keeps its row: showing it again moves nothing.
    if (is_box(item) || is_separator(item) || item.y1 < 0 || item.y1 >= height) continue;
    const int need = rect_height(c->rect) + (item.type == 0 ? 0 : 2);
    lines[item.y1] = std::max(lines[item.y1], need);
  }
  for (int r = 1; r < height; ++r) offsets[r] = offsets[r - 1] + lines[r - 1];
  const int total = offsets.back() + lines.back();
  auto row_top = [&](int ARow) { return ARow < 0 ? 0 : ARow < height ? offsets[ARow] : total; };

  EXPECT_EQ(rect_width(ASeen.client), width * cw) << APlan.name;
  EXPECT_EQ(rect_height(ASeen.client), std::max(total, 2 * MulDiv(7, AUnit.cy, 8))) << APlan.name;

  // Centre groups: runs of centre-group items on one row, split by anything else, laid out in
  // cells as FAR does and centred on the dialog's width in cells.
  std::map<size_t, int> group_left;
  std::vector<size_t> group;
  auto place = [&] {
    if (group.empty()) return;
    int total = 0;
    for (size_t g : group) total += group_step(APlan.items[g]);
    if (APlan.items[group.front()].type == kButton && group_step(APlan.items[group.front()]) > 0) --total;
    int x = std::max(0, (width - total) / 2);
    for (size_t g : group) {
      group_left[g] = x * cw;
      x += group_step(APlan.items[g]);
    }
    group.clear();
  };
  for (size_t i = 0; i < APlan.items.size(); ++i) {
    const Item& item = APlan.items[i];
    if (group_member(item)) {
      if (!group.empty() && APlan.items[group.front()].y1 != item.y1) place();
      group.push_back(i);
    } else {
      place();
    }
  }
  place();

  for (size_t i = 0; i < APlan.items.size(); ++i) {
    const Item& item = APlan.items[i];
    const Child& c = *ASeen.item(static_cast<int>(i));
    const int h = rect_height(c.rect);
    const int row = item.y1 < 0 ? 0 : item.y1;
    const int centred = row_top(row) + (lines[std::min(row, height - 1)] - h) / 2;
    RECT expected{};
    if (item.flags & kHidden) {
      EXPECT_FALSE(c.visible) << APlan.name << " item " << i;
      continue;
    }
    if (is_box(item)) {
      expected = RECT{item.x1 * cw, row_top(item.y1), (item.x2 + 1) * cw, row_top(item.y2 + 1)};
    } else if (is_separator(item)) {
      expected = RECT{4 * cw, row_top(item.y1), (width - 4) * cw, row_top(item.y1) + lines[item.y1]};
    } else if (item.type == kText || item.type == kCheck || item.type == kRadio) {
      const int left = group_left.count(i) ? group_left[i] : item.x1 * cw;
      expected = RECT{left, centred, left + rect_width(c.rect), centred + h};
    } else {
      const int left = group_left.count(i) ? group_left[i] : item.x1 * cw;
      expected = RECT{left, centred, left + item_cells(item) * cw, centred + h};
    }
    EXPECT_EQ(c.rect.left, expected.left) << APlan.name << " item " << i;
    EXPECT_EQ(c.rect.top, expected.top) << APlan.name << " item " << i;
    EXPECT_EQ(c.rect.right, expected.right) << APlan.name << " item " << i;
    EXPECT_EQ(c.rect.bottom, expected.bottom) << APlan.name << " item " << i;
  }
}

RECT work_area() {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
  return info.rcWork;
}

std::wstring dpi_suffix() { return L"_" + std::to_wstring(wxt::expected_dpi()) + L"dpi.png"; }

// ---- the three representative dialogs ----

// As real archive plugins ask for a password: a double box, a text, a password edit, a
// separator, OK (the default button) and Cancel.
DialogPlan password_prompt() {
  return {"password", -1, -1, 50, 8,
          {{kBox, 3, 1, 46, 6, 0, "Archive password"},
           {kText, 5, 2, 44, 2, 0, "&Password for \"backup-2026.rar\":"},
           {kPassword, 5, 3, 44, 3, 0, ""},
           {kText, 0, 4, 0, 4, kSeparator, ""},
           {kButton, 14, 5, 22, 5, kCentre | kDefault, "OK"},
           {kButton, 24, 5, 34, 5, kCentre, "Cancel"}},
          "param=77"};
}

// Two radio groups, a drop-down combo box, a 3-state check box.
DialogPlan options_dialog() {
  return {"options", -1, -1, 60, 14,
          {{kBox, 3, 1, 56, 12, 0, "&Archive options"},
           {kCheck, 5, 2, 30, 2, 0, "&Recurse into folders", 0, 1},
           {kCheck, 5, 3, 30, 3, k3State, "Keep &timestamps"},
           {kRadio, 5, 5, 20, 5, kGroup, "&Store", 0, 1},
           {kRadio, 5, 6, 20, 6, 0, "&Fast"},
           {kRadio, 5, 7, 20, 7, 0, "&Best"},
           {kRadio, 32, 5, 50, 5, kGroup, "&Overwrite", 0, 1},
           {kRadio, 32, 6, 50, 6, 0, "S&kip"},
           {kText, 5, 9, 14, 9, 0, "&Encoding:"},
           {kCombo, 16, 9, 40, 9, kDropDown, "", 0, 0, "UTF-8|*OEM|ANSI"},
           {kText, 0, 10, 0, 10, kSeparator, ""},
           {kButton, 12, 11, 21, 11, kCentre | kDefault, "OK"},
           {kButton, 23, 11, 34, 11, kCentre, "Cancel"},
           {kButton, 36, 11, 45, 11, kCentre | kNoClose, "&Help"}},
          "param=5"};
}

// Wider than the work area at its natural cell width: AWidth cells.
DialogPlan wide_dialog(int AWidth) {
  const int right = AWidth - 4;
  return {"wide", -1, -1, AWidth, 7,
          {{3, 3, 1, right, 5, 0, "Archive comment"},
           {0, 5, 2, 100, 2, 0, "This archive carries a comment that is wider than the screen:"},
           {4, 5, 3, right - 2, 3, 0, "Created by the nightly backup job on build server 7, volume 3 of 12"},
           {7, AWidth / 2 - 5, 4, AWidth / 2 + 5, 4, 0x4000, "Close"}},
          ""};
}

TEST(PluginDialogs, PasswordPromptFollowsTheCellGridAndTheListingGoesOn) {
  const DialogPlan plan = password_prompt();
  ListingRun run = list_with_dialogs({plan}, {{L"dialog_password" + dpi_suffix()}});
  EXPECT_EQ(run.open_result, 0);
  ASSERT_EQ(run.entries.size(), 2u) << "the listing goes on after the dialog";
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  EXPECT_EQ(seen.caption, L"Archive password");
  expect_grid(plan, seen, expected_dialog_unit());
  EXPECT_EQ(lines_starting(run.log, "proc password msg=4108"),
            std::vector<std::string>{"proc password msg=4108 p1=2 p2=77 self=1 data=77"});
  EXPECT_EQ(_wcsicmp(seen.item(2)->cls.c_str(), L"Edit"), 0);
  EXPECT_TRUE(seen.item(2)->style & ES_PASSWORD) << "a masked edit";
  EXPECT_TRUE(seen.item(4)->style & BS_DEFPUSHBUTTON) << "OK is the default button";
  EXPECT_EQ(_wcsicmp(seen.focus_class.c_str(), L"Edit"), 0) << "the first focusable item has the focus";
  EXPECT_EQ(lines_starting(run.log, "run password"), std::vector<std::string>{"run password -1"});
  EXPECT_EQ(lines_starting(run.log, "init password"), std::vector<std::string>{"init password ok"});
  // The separator's line runs through the middle of its row, visible on the white panel.
  EXPECT_NE(seen.item(3)->middle, GetSysColor(COLOR_WINDOW));
  EXPECT_NE(seen.item(3)->middle, CLR_INVALID);
  // A white panel with text and frames on it, not a blank or covered capture.
  EXPECT_GT(seen.stats.matching, seen.stats.pixels / 3);
  EXPECT_GT(seen.stats.dark, seen.stats.pixels / 200);
}

TEST(PluginDialogs, OptionsDialogWithBoxCheckBoxesAndCentreGroup) {
  const DialogPlan plan = options_dialog();
  ListingRun run = list_with_dialogs({plan}, {{L"dialog_options" + dpi_suffix()}, false, true});
  ASSERT_EQ(run.entries.size(), 2u);
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  EXPECT_EQ(seen.caption, L"Archive options");
  expect_grid(plan, seen, expected_dialog_unit());
  EXPECT_EQ(lines_starting(run.log, "proc options msg=4108"),
            std::vector<std::string>{"proc options msg=4108 p1=1 p2=5 self=1 data=5"});
  EXPECT_EQ(lines_starting(run.log, "run options"), std::vector<std::string>{"run options -1"});
  for (int i : {1, 2, 3, 4, 5, 6, 7}) EXPECT_EQ(_wcsicmp(seen.item(i)->cls.c_str(), L"Button"), 0);
  EXPECT_EQ(seen.item(2)->style & 0xF, static_cast<DWORD>(BS_3STATE));
  EXPECT_EQ(seen.item(3)->style & 0xF, static_cast<DWORD>(BS_RADIOBUTTON));
  EXPECT_EQ(_wcsicmp(seen.item(9)->cls.c_str(), L"ComboBox"), 0);
  EXPECT_EQ(seen.item(9)->style & 0x3, static_cast<DWORD>(CBS_DROPDOWNLIST));
  EXPECT_EQ(seen.item(9)->text, L"OEM") << "the selected entry of the list";
  // The items' own states, read back after the run: nothing was changed.
  EXPECT_EQ(lines_starting(run.log, "after options 1 "), std::vector<std::string>{"after options 1 text='&Recurse into folders' check=1 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "after options 3 "), std::vector<std::string>{"after options 3 text='&Store' check=1 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "after options 9 "), std::vector<std::string>{"after options 9 text='OEM' check=0 pos=1/1"});
  EXPECT_GT(seen.stats.dark, seen.stats.pixels / 200);
}

// 150 cells fit a 1280-pixel work area at 96 DPI; at 144 DPI they do not until the cells shrink.
TEST(PluginDialogs, VeryWideDialogShrinksItsCellsToFitTheWorkArea) {
  const SIZE unit = expected_dialog_unit();
  const RECT area = work_area();
  const int natural_cell = unit.cx + 2;
  const int cells = 150;
  const bool too_wide = cells * natural_cell > rect_width(area);
  if (wxt::expected_dpi() >= 144) {
    ASSERT_TRUE(too_wide) << "the shrinking must be exercised";
  }
  const DialogPlan plan = wide_dialog(cells);
  ListingRun run = list_with_dialogs({plan}, {{L"dialog_wide" + dpi_suffix()}});
  ASSERT_EQ(run.entries.size(), 2u);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(lines_starting(run.log, "run wide"), std::vector<std::string>{"run wide -1"});
  const Seen& seen = run.dialogs[0];
  // Still a whole grid of equal cells, inside the work area.
  const int cell = rect_width(seen.client) / cells;
  EXPECT_EQ(rect_width(seen.client) % cells, 0);
  EXPECT_EQ(seen.item(2)->rect.left, 5 * cell);
  EXPECT_EQ(seen.item(2)->rect.right, (cells - 5) * cell);
  if (too_wide)
    EXPECT_LT(cell, natural_cell);
  else
    EXPECT_EQ(cell, natural_cell);
  EXPECT_LE(rect_width(seen.window), rect_width(area));
  EXPECT_GE(seen.window.left, area.left);
  EXPECT_LE(seen.window.right, area.right);
  EXPECT_GT(seen.stats.dark, seen.stats.pixels / 500) << "a capture with text on it";
}

// ---- edge cases ----

TEST(PluginDialogs, RejectedDialogsReturnMinusOneAndLeaveNoWindow) {
  const Item text{0, 5, 1, 20, 1, 0, "Text"};
  const Item edit{4, 5, 2, 20, 2, 0, "edit"};
  std::vector<DialogPlan> plans = {
      {"right_before_left", 5, 1, 4, 5, {text}, ""},
      {"zero_height", 1, -1, 40, 0, {text}, ""},
      {"negative_width", -1, -1, -3, 5, {text}, ""},
      {"no_items", -1, -1, 40, 5, {text}, "items=0"},
      {"vertical_text", -1, -1, 40, 5, {{1, 5, 1, 5, 3, 0, "v"}}, ""},
      {"user_control", -1, -1, 40, 5, {text, edit, {255, 5, 1, 20, 1, 0, "u"}}, ""},
      {"unknown_type", -1, -1, 40, 5, {{12, 5, 1, 20, 1, 0, "u"}, text}, ""},
      {"null_data_with_maxlength", -1, -1, 40, 5, {{0, 5, 1, 20, 1, 0, "@null", 3}}, ""},
  };
  ListingRun run = list_with_dialogs(plans, {}, true);
  EXPECT_EQ(run.entries.size(), 2u);
  EXPECT_TRUE(run.dialogs.empty()) << "no window may appear for a rejected dialog";
  for (const DialogPlan& plan : plans) {
    EXPECT_EQ(lines_starting(run.log, "init " + plan.name + " "), std::vector<std::string>{"init " + plan.name + " -1"});
    EXPECT_EQ(lines_starting(run.log, "run " + plan.name + " "), std::vector<std::string>{"run " + plan.name + " -1"});
    EXPECT_TRUE(lines_starting(run.log, "proc " + plan.name + " ").empty());
  }
  // -1, a readable block that is no dialog, an unmapped address, nil: run -1, free nothing;
  // SendDlgMessage answers -1 for DM_GETFOCUS and DM_LISTADDSTR and 0 otherwise, DefDlgProc 0.
  EXPECT_EQ(lines_starting(run.log, "invalid"),
            (std::vector<std::string>{"invalid -1 -1 -1 -1", "invalid send -1 -1 0 0 0 -1 -1 0 0 0 -1 -1 0 0 0 -1 -1 0 0 0",
                                      "invalid def 0"}));
  EXPECT_EQ(lines_starting(run.log, "open done").size(), 1u);
}

TEST(PluginDialogs, CaptionsAmpersandsAndItemTexts) {
  std::vector<DialogPlan> plans = {
      {"amp", -1, -1, 40, 5, {{3, 3, 1, 36, 3, 0, "&Options"}}, ""},
      {"amp_shown", -1, -1, 40, 5, {{3, 3, 1, 36, 3, 0x2000, "&Options"}}, ""},
      {"amp_double", -1, -1, 40, 5, {{3, 3, 1, 36, 3, 0, "A&&B"}}, ""},
      {"box_second", -1, -1, 40, 5, {{0, 5, 1, 20, 1, 0, "Text"}, {3, 3, 1, 36, 3, 0, "Box"}}, ""},
      {"texts", 5, 2, 44, 7,
       {{4, 5, 1, 30, 1, 0, "abcdef", 3},
        {4, 5, 2, 30, 2, 0, "abc", 0},
        {0, 5, 3, 30, 3, 0, "Save &as"},
        {0, -1, 4, 30, 4, 0, "Left of the client"},
        {8, 5, 5, 30, 5, 0, "Ticked in the item", 0, 1},
        {0, 5, 0, 0, 0, 0, "@null"}},
       "param=-9"},
  };
  ListingRun run = list_with_dialogs(plans);
  ASSERT_EQ(run.dialogs.size(), plans.size());
  EXPECT_EQ(run.dialogs[0].caption, L"Options");
  EXPECT_EQ(run.dialogs[1].caption, L"&Options");
  EXPECT_EQ(run.dialogs[2].caption, L"A&B");
  EXPECT_EQ(run.dialogs[3].caption, L"");
  const Seen& texts = run.dialogs[4];
  EXPECT_EQ(texts.caption, L"");
  EXPECT_EQ(texts.item(0)->text, L"abc") << "MaxLength cuts the text";
  EXPECT_EQ(texts.item(1)->text, L"abc");
  EXPECT_EQ(texts.item(2)->text, L"Save &as");
  EXPECT_EQ(texts.item(5)->text, L"");
  const SIZE unit = expected_dialog_unit();
  // X1 = -1 is not centred text: the item starts one cell left of the client area.
  EXPECT_EQ(texts.item(3)->rect.left, -(unit.cx + 2));
  EXPECT_EQ(rect_width(texts.client), 40 * (unit.cx + 2)) << "X1 = 5, X2 = 44 is 40 cells";
  // The check box takes its state from the item; a dialog with nothing to focus names item 0.
  EXPECT_EQ(lines_starting(run.log, "after texts 4 "), std::vector<std::string>{"after texts 4 text='Ticked in the item' check=1 pos=0/-7"});
  EXPECT_EQ(texts.item(4)->style & 0xF, static_cast<DWORD>(BS_3STATE));
  EXPECT_EQ(lines_starting(run.log, "after texts 1 "), std::vector<std::string>{"after texts 1 text='abc' check=0 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "proc texts msg=4108"),
            std::vector<std::string>{"proc texts msg=4108 p1=0 p2=-9 self=1 data=-9"});
  EXPECT_EQ(lines_starting(run.log, "proc amp msg=4108"), std::vector<std::string>{"proc amp msg=4108 p1=0 p2=0 self=1 data=0"});
  for (const DialogPlan& plan : plans)
    EXPECT_EQ(lines_starting(run.log, "run " + plan.name + " "), std::vector<std::string>{"run " + plan.name + " -1"});
}

TEST(PluginDialogs, CentreGroupsSplitByANonButtonAndSeparatorsAcrossTheWidth) {
  const DialogPlan plan = {"groups", -1, -1, 50, 8,
                           {{7, 2, 2, 9, 2, 0x4000, "One"},
                            {7, 11, 2, 18, 2, 0x4000, "Two"},
                            {0, 20, 2, 22, 2, 0, "x"},
                            {7, 24, 2, 31, 2, 0x4000, "Three"},
                            {7, 33, 3, 40, 3, 0x4000, "Four"},
                            {7, 2, 4, 9, 4, 0, "Plain"},
                            {0, 10, 5, 12, 5, 0x10000, ""},
                            {0, 10, 6, 12, 6, 0x20000, "Titled"}},
                           "noproc"};
  ListingRun run = list_with_dialogs({plan});
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  expect_grid(plan, seen, expected_dialog_unit());
  const int client = rect_width(seen.client);
  const int cell = expected_dialog_unit().cx + 2;
  // Each group is centred on the full width on its own, on the cell grid as FAR centres it.
  EXPECT_NEAR(seen.item(0)->rect.left + seen.item(1)->rect.right, client, cell);
  EXPECT_NEAR(seen.item(3)->rect.left + seen.item(3)->rect.right, client, cell);
  EXPECT_NEAR(seen.item(4)->rect.left + seen.item(4)->rect.right, client, cell);
  // One cell between the two buttons of the first group, as FAR leaves it.
  EXPECT_EQ(seen.item(1)->rect.left - seen.item(0)->rect.right, cell);
  EXPECT_TRUE(lines_starting(run.log, "proc groups").empty()) << "no dialog procedure, no notification";
  EXPECT_EQ(lines_starting(run.log, "run groups"), std::vector<std::string>{"run groups -1"});
}

// As real plugins write their dialogs: labelled items leave X2 at X1 or at 0, and FAR works
// their width out from the label. Before, such buttons came out one cell wide and unreadable.
TEST(PluginDialogs, FarStyleCoordinatesTakeTheirWidthFromTheLabel) {
  const DialogPlan plan = {"farstyle", -1, -1, 58, 13,
                           {{kBox, 3, 1, 54, 11, 0, "FAR coordinates"},
                            {kText, 5, 2, 0, 2, 0, "&Name:"},
                            {kEdit, 12, 2, 52, 2, 0, "value"},
                            {kCheck, 5, 3, 5, 3, 0, "&Solid archive"},
                            {kRadio, 5, 4, 5, 4, kGroup, "&Fast", 0, 1},
                            {kRadio, 20, 4, 0, 4, kMoveSelect, "&Best"},
                            {kText, 5, 5, 5, 5, 0, "Keep A&&B"},
                            {kButton, 5, 6, 5, 6, 0, "&Browse"},
                            {kButton, 20, 6, 0, 6, kNoBrackets, "[&Plain]"},
                            {kCheck, 0, 7, 0, 7, kCentre, "&Remember"},
                            {kText, 0, 7, 0, 7, kCentre, "for"},
                            {kRadio, 0, 7, 0, 7, kCentre | kGroup, "&all"},
                            {kText, 0, 9, 0, 9, kSeparator, ""},
                            {kButton, 0, 10, 0, 10, kCentre | kDefault, "OK"},
                            {kButton, 0, 10, 0, 10, kCentre, "Cancel"},
                            {kButton, 0, 10, 0, 10, kCentre, "&Help"}},
                           "param=1"};
  ListingRun run = list_with_dialogs({plan}, {{L"dialog_farstyle" + dpi_suffix()}});
  ASSERT_EQ(run.entries.size(), 2u);
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  EXPECT_EQ(seen.caption, L"FAR coordinates");
  expect_grid(plan, seen, expected_dialog_unit());
  const int cell = expected_dialog_unit().cx + 2;
  // Buttons are their bracketed label wide: "{ OK }", "[ Cancel ]", "[ Help ]", "[ Browse ]",
  // and "[Plain]" as it is with DIF_NOBRACKETS.
  EXPECT_EQ(rect_width(seen.item(13)->rect), 6 * cell);
  EXPECT_EQ(rect_width(seen.item(14)->rect), 10 * cell);
  EXPECT_EQ(rect_width(seen.item(15)->rect), 8 * cell);
  EXPECT_EQ(rect_width(seen.item(7)->rect), 10 * cell);
  EXPECT_EQ(rect_width(seen.item(8)->rect), 7 * cell);
  // Every labelled control is wide enough for its label in the dialog's font.
  for (int i : {3, 4, 5, 7, 8, 9, 11, 13, 14, 15}) EXPECT_GT(rect_width(seen.item(i)->rect), 3 * cell) << i;
  // The bottom group: one cell after each button, the run centred in cells; the middle row's
  // group holds a check box, a text and a radio button side by side.
  EXPECT_EQ(seen.item(14)->rect.left - seen.item(13)->rect.right, cell);
  EXPECT_EQ(seen.item(15)->rect.left - seen.item(14)->rect.right, cell);
  EXPECT_EQ(seen.item(13)->rect.left, ((58 - (7 + 11 + 9 - 1)) / 2) * cell);
  EXPECT_EQ(seen.item(10)->rect.left - seen.item(9)->rect.left, (8 + 5) * cell);
  EXPECT_EQ(seen.item(11)->rect.left - seen.item(10)->rect.left, 3 * cell);
  EXPECT_GT(seen.stats.dark, seen.stats.pixels / 200);
}

TEST(PluginDialogs, APushButtonClosesWithItsIndexAndASecondRunIsNotInitialisedAgain) {
  DialogPlan plan = password_prompt();
  plan.name = "twice";
  plan.extra = "param=3 runs=2";
  ListingRun run = list_with_dialogs({plan}, {{}, true, false});
  ASSERT_EQ(run.dialogs.size(), 2u);
  for (const Seen& seen : run.dialogs) {
    EXPECT_TRUE(seen.clicked);
    EXPECT_FALSE(seen.open_after_click) << "a push button closes the dialog";
  }
  // The watcher clicks the first plain push button: Cancel, item 5.
  EXPECT_EQ(lines_starting(run.log, "proc twice msg=4108"),
            (std::vector<std::string>{"proc twice msg=4108 p1=2 p2=3 self=1 data=3"}));
  EXPECT_EQ(lines_starting(run.log, "proc twice msg=4097"),
            (std::vector<std::string>{"proc twice msg=4097 p1=5 p2=0 self=1 data=3", "proc twice msg=4097 p1=5 p2=0 self=1 data=3"}));
  EXPECT_EQ(lines_starting(run.log, "proc twice msg=4117"),
            (std::vector<std::string>{"proc twice msg=4117 p1=5 p2=0 self=1 data=3", "proc twice msg=4117 p1=5 p2=0 self=1 data=3"}));
  EXPECT_EQ(lines_starting(run.log, "run twice"), (std::vector<std::string>{"run twice 5", "run twice 5"}));
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, DialogFreedByItsOwnProcedureGoesWhenItsRunEnds) {
  DialogPlan plan = password_prompt();
  plan.name = "selffree";
  plan.extra = "param=4 runs=2 freeinproc";
  ListingRun run = list_with_dialogs({plan});
  ASSERT_EQ(run.dialogs.size(), 1u) << "shown once; the second run finds no live dialog";
  EXPECT_EQ(lines_starting(run.log, "proc selffree msg=4108").size(), 1u);
  EXPECT_EQ(lines_starting(run.log, "proc selffree msg=4117").size(), 1u) << "closed by the user, agreed by DefDlgProc";
  EXPECT_EQ(lines_starting(run.log, "run selffree"), (std::vector<std::string>{"run selffree -1", "run selffree -1"}));
  // Freed: SendDlgMessage answers as for a dead handle, DefDlgProc 0.
  EXPECT_EQ(lines_starting(run.log, "free selffree"), std::vector<std::string>{"free selffree -1 0 0"});
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, DoubleBoxesOneRowHighOrOneCellWideAreLines) {
  const DialogPlan plan = {"lines", -1, -1, 40, 7,
                           {{3, 3, 1, 30, 1, 0, ""}, {3, 35, 1, 35, 5, 0, ""}, {0, 5, 3, 20, 3, 0, "Between"}},
                           "noproc"};
  ListingRun run = list_with_dialogs({plan});
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  expect_grid(plan, seen, expected_dialog_unit());
  // The line runs through the middle of the box's cells, in the separator colour.
  EXPECT_NE(seen.item(0)->middle, GetSysColor(COLOR_WINDOW));
  EXPECT_NE(seen.item(1)->middle, GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(seen.item(0)->middle, seen.item(1)->middle);
}

// ---- the user at the keyboard ----

void send_inputs(std::vector<INPUT> AInputs) {
  SendInput(static_cast<UINT>(AInputs.size()), AInputs.data(), sizeof(INPUT));
  Sleep(150);
}

INPUT key_input(WORD AKey, bool AUp) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = AKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(AKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = AUp ? KEYEVENTF_KEYUP : 0;
  return input;
}

void press(WORD AKey) { send_inputs({key_input(AKey, false), key_input(AKey, true)}); }

// Alt and a letter, as a user reaches an item by its & letter.
void press_alt(wchar_t ALetter) {
  const WORD letter = static_cast<WORD>(towupper(ALetter));
  send_inputs({key_input(VK_MENU, false), key_input(letter, false), key_input(letter, true), key_input(VK_MENU, true)});
}

void type_text(const std::wstring& AText) {
  for (wchar_t ch : AText) {
    INPUT down{}, up{};
    down.type = up.type = INPUT_KEYBOARD;
    down.ki.wScan = up.ki.wScan = ch;
    down.ki.dwFlags = KEYEVENTF_UNICODE;
    up.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
    send_inputs({down, up});
  }
}

void bring_to_front(HWND AWnd) {
  SetForegroundWindow(AWnd);
  Sleep(100);
}

DialogPlan encrypted_prompt() {
  DialogPlan plan = password_prompt();
  plan.extra = "param=77 password=s3cr&t";
  return plan;
}

TEST(PluginDialogs, PasswordTypedAtTheKeyboardAndEnterOpenAndExtractTheArchive) {
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen& ASeen) {
    bring_to_front(AWnd);
    type_text(L"s3cr&t");
    ASeen.children.clear();
    std::pair<HWND, Seen*> context{AWnd, &ASeen};
    EnumChildWindows(AWnd, collect_child, reinterpret_cast<LPARAM>(&context));
    ASeen.screenshot = wxt::artifacts_folder() + L"dialog_password_typed" + dpi_suffix();
    wxt::save_window_png(AWnd, ASeen.screenshot, GetSysColor(COLOR_WINDOW), ASeen.stats);
    press(VK_RETURN);
  };
  ExtractRun run = extract_with_dialogs({encrypted_prompt()}, options);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0].item(2)->text, L"s3cr&t") << "typed into the password edit";
  // OK is item 4; the procedure read the password in DN_CLOSE, as real plugins do.
  EXPECT_EQ(lines_starting(run.log, "run password"), std::vector<std::string>{"run password 4"});
  EXPECT_EQ(lines_starting(run.log, "proc password msg=4117"),
            std::vector<std::string>{"proc password msg=4117 p1=4 p2=0 self=1 data=77"});
  EXPECT_EQ(lines_starting(run.log, "decrypt password"), std::vector<std::string>{"decrypt password ok 's3cr&t'"});
  EXPECT_EQ(lines_starting(run.log, "after password 2 "), std::vector<std::string>{"after password 2 text='s3cr&t' check=0 pos=0/-7"});
  // Every change of the edit was told, with the new text; every notification found the dialog data.
  const auto changes = lines_starting(run.log, "proc password msg=4103");
  ASSERT_EQ(changes.size(), 6u);
  EXPECT_EQ(changes.front(), "proc password msg=4103 p1=2 p2='s' self=1 data=77");
  EXPECT_EQ(changes.back(), "proc password msg=4103 p1=2 p2='s3cr&t' self=1 data=77");
  for (const std::string& line : lines_starting(run.log, "proc password")) EXPECT_NE(line.find(" data=77"), std::string::npos) << line;
  EXPECT_EQ(lines_starting(run.log, "proc password msg=4105"), std::vector<std::string>{"proc password msg=4105 p1=2 p2=0 self=1 data=77"});
  // Then the archive opens and its files are extracted.
  EXPECT_EQ(run.results, (std::vector<std::string>{"first.txt=0", "second.txt=0", "end=10", "close=0"}));
  EXPECT_EQ(run.files["first.txt"], "decrypted:first.txt");
  EXPECT_EQ(run.files["second.txt"], "decrypted:second.txt");
  EXPECT_GT(run.dialogs[0].stats.dark, run.dialogs[0].stats.pixels / 200) << "a capture with text on it";
}

TEST(PluginDialogs, EscapeOnThePasswordDialogTakesThePluginsOwnErrorPath) {
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen&) {
    bring_to_front(AWnd);
    type_text(L"wrong");
    press(VK_ESCAPE);
  };
  ListingRun run = list_with_dialogs({encrypted_prompt()}, options);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(lines_starting(run.log, "run password"), std::vector<std::string>{"run password -1"});
  EXPECT_EQ(lines_starting(run.log, "proc password msg=4117"),
            std::vector<std::string>{"proc password msg=4117 p1=-1 p2=0 self=1 data=77"});
  EXPECT_EQ(lines_starting(run.log, "decrypt password"), std::vector<std::string>{"decrypt password cancelled 'wrong'"});
  EXPECT_EQ(lines_starting(run.log, "open "), std::vector<std::string>{"open failed"});
  EXPECT_EQ(run.open_result, wcx::E_EOPEN);
  EXPECT_TRUE(run.entries.empty());
}

TEST(PluginDialogs, OptionsSetByTheUserAreReadBackByThePlugin) {
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen& ASeen) {
    bring_to_front(AWnd);
    press_alt(L't');  // the 3-state box: 0 -> 1
    press_alt(L't');  // -> 2
    press_alt(L'b');  // "Best" in the first group
    press_alt(L'k');  // "Skip" in the second
    press_alt(L'h');  // "Help" never closes
    press_alt(L'e');  // the label moves on to the combo box
    press(VK_DOWN);   // OEM -> ANSI
    ASeen.open_after_act = IsWindowVisible(AWnd) != FALSE;
    ASeen.screenshot = wxt::artifacts_folder() + L"dialog_options_set" + dpi_suffix();
    wxt::save_window_png(AWnd, ASeen.screenshot, GetSysColor(COLOR_WINDOW), ASeen.stats);
    press(VK_RETURN);  // on the combo box: the default button
  };
  ListingRun run = list_with_dialogs({options_dialog()}, options);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_TRUE(run.dialogs[0].open_after_act) << "Help has DIF_BTNNOCLOSE";
  EXPECT_EQ(lines_starting(run.log, "run options"), std::vector<std::string>{"run options 11"});
  const std::vector<std::string> expected = {
      "after options 0 text='&Archive options' check=0 pos=0/-7",
      "after options 1 text='&Recurse into folders' check=1 pos=0/-7",
      "after options 2 text='Keep &timestamps' check=2 pos=0/-7",
      "after options 3 text='&Store' check=0 pos=0/-7",
      "after options 4 text='&Fast' check=0 pos=0/-7",
      "after options 5 text='&Best' check=1 pos=0/-7",
      "after options 6 text='&Overwrite' check=0 pos=0/-7",
      "after options 7 text='S&kip' check=1 pos=0/-7",
      "after options 8 text='&Encoding:' check=0 pos=0/-7",
      "after options 9 text='ANSI' check=0 pos=2/2",
      "after options 10 text='' check=0 pos=0/-7",
      "after options 11 text='OK' check=0 pos=0/-7",
      "after options 12 text='Cancel' check=0 pos=0/-7",
      "after options 13 text='&Help' check=0 pos=0/-7",
      "after options focus=9 data=5",
  };
  EXPECT_EQ(lines_starting(run.log, "after options"), expected);
  // The procedure was asked about each change: the new state of a check box, both halves of a
  // radio change, the list's new position.
  const std::vector<std::string> clicks = {
      "proc options msg=4097 p1=2 p2=1 self=1 data=5", "proc options msg=4097 p1=2 p2=2 self=1 data=5",
      "proc options msg=4097 p1=3 p2=0 self=1 data=5", "proc options msg=4097 p1=5 p2=1 self=1 data=5",
      "proc options msg=4097 p1=6 p2=0 self=1 data=5", "proc options msg=4097 p1=7 p2=1 self=1 data=5",
      "proc options msg=4097 p1=13 p2=0 self=1 data=5"};
  EXPECT_EQ(lines_starting(run.log, "proc options msg=4097"), clicks);
  EXPECT_EQ(lines_starting(run.log, "proc options msg=4110"), std::vector<std::string>{"proc options msg=4110 p1=9 p2=2 self=1 data=5"});
  EXPECT_EQ(lines_starting(run.log, "proc options msg=4117"), std::vector<std::string>{"proc options msg=4117 p1=11 p2=0 self=1 data=5"});
  // The focus went from item to item with both notifications, ending on the combo box.
  const auto got = lines_starting(run.log, "proc options msg=4105");
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), "proc options msg=4105 p1=1 p2=0 self=1 data=5");
  EXPECT_EQ(got.back(), "proc options msg=4105 p1=9 p2=0 self=1 data=5");
  EXPECT_EQ(lines_starting(run.log, "proc options msg=4109").size(), got.size() - 1);
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, TheProcedureKeepsTheDialogOpenByRefusingDnCloseOnce) {
  DialogPlan plan = password_prompt();
  plan.name = "veto";
  plan.extra = "param=8 vetoonce";
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen& ASeen) {
    bring_to_front(AWnd);
    press(VK_ESCAPE);
    Sleep(300);
    ASeen.open_after_act = IsWindowVisible(AWnd) != FALSE;
    press(VK_ESCAPE);
  };
  ListingRun run = list_with_dialogs({plan}, options);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_TRUE(run.dialogs[0].open_after_act) << "a refused DN_CLOSE keeps the dialog running";
  EXPECT_EQ(lines_starting(run.log, "veto veto"), std::vector<std::string>{"veto veto"});
  EXPECT_EQ(lines_starting(run.log, "proc veto msg=4117"),
            (std::vector<std::string>{"proc veto msg=4117 p1=-1 p2=0 self=1 data=8", "proc veto msg=4117 p1=-1 p2=0 self=1 data=8"}));
  EXPECT_EQ(lines_starting(run.log, "run veto"), std::vector<std::string>{"run veto -1"});
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, AFaultingProcedureClosesItsDialogWithMinusOneAndTheFileManagerGoesOn) {
  DialogPlan on_click = password_prompt();
  on_click.name = "faultclick";
  on_click.extra = "param=4 faulton=4097";
  DialogPlan on_init = password_prompt();
  on_init.name = "faultinit";
  on_init.extra = "param=5 faulton=4108";
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen&) {
    bring_to_front(AWnd);
    press(VK_TAB);  // from the password edit to OK
    press(VK_SPACE);
  };
  ListingRun run = list_with_dialogs({on_click, on_init}, options);
  ASSERT_EQ(run.dialogs.size(), 1u) << "a procedure that faults in DN_INITDIALOG ends the run before the window shows";
  EXPECT_EQ(lines_starting(run.log, "proc faultclick msg=4097"),
            std::vector<std::string>{"proc faultclick msg=4097 p1=4 p2=0 self=1 data=4"});
  EXPECT_TRUE(lines_starting(run.log, "proc faultclick msg=4117").empty()) << "a faulted procedure is not called again";
  EXPECT_EQ(lines_starting(run.log, "run faultclick"), std::vector<std::string>{"run faultclick -1"});
  EXPECT_EQ(lines_starting(run.log, "run faultinit"), std::vector<std::string>{"run faultinit -1"});
  EXPECT_EQ(lines_starting(run.log, "proc faultinit").size(), 1u);
  // The items are still there to read until DialogFree.
  EXPECT_EQ(lines_starting(run.log, "after faultinit focus"), std::vector<std::string>{"after faultinit focus=2 data=5"});
  EXPECT_EQ(lines_starting(run.log, "free "), (std::vector<std::string>{"free faultclick -1 0 0", "free faultinit -1 0 0"}));
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, FlagsTabOrderAndEditLimits) {
  const DialogPlan plan = {"flags", -1, -1, 50, 10,
                           {{kBox, 3, 1, 46, 8, 0, "Flags"},
                            {kEdit, 5, 2, 30, 2, 0, "short", 5},
                            {kEdit, 5, 3, 30, 3, kReadOnly, "fixed"},
                            {kEdit, 5, 4, 30, 4, kFocus, ""},
                            {kCheck, 5, 5, 30, 5, kDisable, "Disabled"},
                            {kCheck, 5, 6, 30, 6, kHidden, "Hidden"},
                            {kList, 32, 2, 44, 6, 0, "", 0, 0, "one|two|*three"},
                            {kButton, 5, 7, 15, 7, kNoClose, "Apply"},
                            {kButton, 17, 7, 27, 7, 0, "Close"}},
                           "param=2"};
  DialogWatcher::Options options;
  options.act = [](HWND AWnd, Seen& ASeen) {
    bring_to_front(AWnd);
    type_text(L"abcdefg");  // the DIF_FOCUS edit, unlimited
    press(VK_TAB);         // the list box
    press(VK_UP);          // three -> two
    press(VK_TAB);         // Apply
    press(VK_RETURN);      // never closes
    ASeen.open_after_act = IsWindowVisible(AWnd) != FALSE;
    press(VK_TAB);  // Close
    press(VK_TAB);  // around to item 1 (box, label-less, disabled and hidden items are skipped)
    type_text(L"123456789");
    press(VK_TAB);  // read-only edit
    type_text(L"xyz");
    press(VK_RETURN);  // no default button: the focused item closes
  };
  ListingRun run = list_with_dialogs({plan}, options);
  ASSERT_EQ(run.dialogs.size(), 1u);
  const Seen& seen = run.dialogs[0];
  EXPECT_TRUE(seen.open_after_act);
  EXPECT_FALSE(seen.item(4)->enabled);
  EXPECT_FALSE(seen.item(5)->visible);
  expect_grid(plan, seen, expected_dialog_unit());
  EXPECT_EQ(lines_starting(run.log, "proc flags msg=4108"), std::vector<std::string>{"proc flags msg=4108 p1=3 p2=2 self=1 data=2"});
  std::vector<std::string> focus;
  for (const std::string& line : lines_starting(run.log, "proc flags msg=4105")) {
    const size_t at = line.find("p1=");
    focus.push_back(line.substr(at, line.find(' ', at) - at));
  }
  EXPECT_EQ(focus, (std::vector<std::string>{"p1=3", "p1=6", "p1=7", "p1=8", "p1=1", "p1=2"})) << "item order";
  EXPECT_EQ(lines_starting(run.log, "run flags"), std::vector<std::string>{"run flags 2"});
  // Tab selects the text of an edit; typing replaces it, up to MaxLength.
  EXPECT_EQ(lines_starting(run.log, "after flags 1 "), std::vector<std::string>{"after flags 1 text='12345' check=0 pos=0/-7"})
      << "MaxLength 5";
  EXPECT_EQ(lines_starting(run.log, "after flags 2 "), std::vector<std::string>{"after flags 2 text='fixed' check=0 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "after flags 3 "), std::vector<std::string>{"after flags 3 text='abcdefg' check=0 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "after flags 6 "), std::vector<std::string>{"after flags 6 text='two' check=0 pos=1/1"});
  EXPECT_EQ(lines_starting(run.log, "proc flags msg=4097"), std::vector<std::string>{"proc flags msg=4097 p1=7 p2=0 self=1 data=2"});
}

TEST(PluginDialogs, CommandsOnALiveDialogAnswerAsFarDoes) {
  const DialogPlan plan = {"commands", -1, -1, 50, 10,
                           {{kText, 5, 1, 30, 1, 0, "Label"},
                            {kEdit, 5, 2, 30, 2, 0, "initial"},
                            {kCheck, 5, 3, 30, 3, k3State, "Check"},
                            {kRadio, 5, 4, 30, 4, kGroup, "First", 0, 1},
                            {kRadio, 5, 5, 30, 5, 0, "Second"},
                            {kCombo, 5, 6, 30, 6, 0, "", 0, 0, "alpha|*beta|gamma"},
                            {kList, 32, 2, 44, 6, 0, "", 0, 0, "one|two"},
                            {kButton, 5, 8, 15, 8, 0, "Go"}},
                           "param=31 commands"};
  ListingRun run = list_with_dialogs({plan});
  EXPECT_TRUE(run.dialogs.empty()) << "DM_CLOSE in DN_INITDIALOG ends the run before the window shows";
  const std::vector<std::string> expected = {
      "dm commands settextptr 6",
      "dm commands constptr=preset 1",
      "dm commands settext 8",
      "dm commands text=new text 0",
      "dm commands constptr-after=new text 0",
      "dm commands settext-null 0",
      "dm commands gettext-cut=new 1",
      "dm commands gettext-size 808",
      "dm commands maxlen -1",
      "dm commands maxlen-again 4",
      "dm commands maxlen-button 0",
      "dm commands check 0",
      "dm commands setcheck-3state 0",
      "dm commands setcheck-toggle 2",
      "dm commands check-after 0",
      "dm commands setcheck-radio 4",
      "dm commands radio-first 0",
      "dm commands radio-second 1",
      "dm commands enable-query 1",
      "dm commands disable 1",
      "dm commands enable-query-after 0",
      "dm commands show-query 1",
      "dm commands hide 1",
      "dm commands show-query-after 0",
      "dm commands setitemdata 0",
      "dm commands getitemdata 1234",
      "dm commands setdlgdata 31",
      "dm commands getdlgdata 99",
      "dm commands enableredraw-off 0",
      "dm commands enableredraw-on -1",
      "dm commands redraw 0",
      "dm commands listinfo 1315",
      "dm commands listsetcurpos 2",
      "dm commands combo-text=gamma 2",
      "dm commands listsetcurpos-bad -1",
      "dm commands list-text=one 0",
      "dm commands getdlgitemshort 1",
      "dm commands short type=8 selected=0 data=1 disabled=1 1234",
      "dm commands getdlgitem 1",
      "dm commands getdlgitem data=gamma list=alpha,beta,gamma*, 3",
      "dm commands setfocus-text 0",
      "dm commands setfocus-button 1",
      "dm commands getfocus 7",
      "dm commands bad-index 0",
      "dm commands close 1",
  };
  EXPECT_EQ(lines_starting(run.log, "dm commands"), expected);
  // DM_CLOSE(-1) closes with the focused item; the radio change went through the procedure.
  EXPECT_EQ(lines_starting(run.log, "run commands"), std::vector<std::string>{"run commands 7"});
  EXPECT_EQ(lines_starting(run.log, "proc commands msg=4097"),
            (std::vector<std::string>{"proc commands msg=4097 p1=3 p2=0 self=1 data=31", "proc commands msg=4097 p1=4 p2=1 self=1 data=31"}));
  EXPECT_EQ(lines_starting(run.log, "proc commands msg=4110"), std::vector<std::string>{"proc commands msg=4110 p1=5 p2=2 self=1 data=99"});
  EXPECT_EQ(lines_starting(run.log, "proc commands msg=4117"), std::vector<std::string>{"proc commands msg=4117 p1=7 p2=0 self=1 data=99"});
  // After the run every getter still answers, with the state at closing time.
  EXPECT_EQ(lines_starting(run.log, "after commands 1 "), std::vector<std::string>{"after commands 1 text='new text' check=0 pos=0/-7"});
  EXPECT_EQ(lines_starting(run.log, "after commands 5 "), std::vector<std::string>{"after commands 5 text='gamma' check=0 pos=2/2"});
  EXPECT_EQ(lines_starting(run.log, "after commands focus"), std::vector<std::string>{"after commands focus=7 data=99"});
}

// Every DM_LIST* command on a list box and on a drop-down combo box once the dialog is shown:
// answers, the list each leaves ('*' current, '-' separator), the item's text, and the
// notifications FAR sends when it moves the current entry itself or the combo's field follows it.
TEST(PluginDialogs, ListCommandsOnListAndComboBoxes) {
  const DialogPlan plan = {"lists", -1, -1, 50, 10,
                           {{kList, 5, 1, 20, 6, 0, "", 0, 0, "alpha|*beta|gamma"},
                            {kCombo, 22, 1, 40, 1, kDropDown, "", 0, 0, "alpha|*beta|gamma"},
                            {kButton, 5, 8, 15, 8, 0, "Go"}},
                           "lists"};
  ListingRun run = list_with_dialogs({plan});
  EXPECT_EQ(lines_starting(run.log, "dm lists before-run"), std::vector<std::string>{"dm lists before-run 0"});
  for (const int item : {0, 1}) {
    const std::string at = "dm lists " + std::to_string(item) + " ";
    // The combo box's field follows its current entry, which the procedure hears as an edit change.
    auto follows = [&](const std::string& AText) {
      return item == 1 ? std::vector<std::string>{"dm lists DN_EDITCHANGE p1=1 p2='" + AText + "'"} : std::vector<std::string>{};
    };
    std::vector<std::string> expected = {
        at + "getitem1 1 10000 'beta' 0",
        at + "getitem3 0",
        at + "getitem-small 0 [alpha|*beta|gamma] text='beta'",
    };
    auto add = [&](std::vector<std::string> ALines) { expected.insert(expected.end(), ALines.begin(), ALines.end()); };
    add(follows("BETA"));
    add({at + "update-roundtrip 1 [alpha|*BETA|gamma] text='BETA'"});
    add({"dm lists DN_LISTCHANGE p1=" + std::to_string(item) + " p2=0"});
    add(follows("alpha"));
    add({at + "update-unselect 1 [*alpha|BETA|gamma] text='alpha'", at + "getitem1 1 2002a 'BETA' 42"});
    add(follows("BETA"));
    add({at + "update-select 1 [alpha|*BETA|gamma] text='BETA'", at + "getitem1 1 30000 'BETA' 42",
         at + "update-out 0 [alpha|*BETA|gamma] text='BETA'"});
    add({"dm lists DN_LISTCHANGE p1=" + std::to_string(item) + " p2=1"});
    add(follows("th&ree"));
    add({at + "set 4 [-sep|one|two|*th&ree] text='th&ree'", at + "set-empty 0 [] text='" + (item == 1 ? "th&ree" : "") + "'"});
    add({"dm lists DN_LISTCHANGE p1=" + std::to_string(item) + " p2=0"});
    add(follows("x"));
    add({at + "addstr 0 [*x] text='x'"});
    add(follows("x"));
    add({at + "addstr-null 1 [*x|-] text='x'"});
    add(follows("x"));
    add({at + "addstr-caption 2 [*x|-|-cap] text='x'"});
    add(follows("x"));
    add({at + "add 5 [*x|-|-cap|y|z] text='x'"});
    add(follows("x"));
    add({at + "insert-front 6 [w|*x|-|-cap|y|z] text='x'"});
    add(follows("x"));
    add({at + "insert-end 7 [w|*x|-|-cap|y|z|v] text='x'"});
    add({"dm lists DN_LISTCHANGE p1=" + std::to_string(item) + " p2=3"});
    add(follows("y"));
    add({at + "delete-current 1 [w|-|-cap|*y|z|v] text='y'"});
    add(follows("y"));
    add({at + "delete-outside 1 [w|-|-cap|*y|z|v] text='y'",
         at + "find-mask 3 [w|-|-cap|*y|z|v] text='y'",
         at + "find-exact -1 [w|-|-cap|*y|z|v] text='y'",
         at + "find-set 5 [w|-|-cap|*y|z|v] text='y'",
         at + "setdata 1 [w|-|-cap|*y|z|v] text='y'",
         at + "getdata-data 10 [w|-|-cap|*y|z|v] text='y'",
         at + "getdatasize-none 0 [w|-|-cap|*y|z|v] text='y'"});
    add(follows("y"));
    add({at + "settitles 1 [w|-|-cap|*y|z|v] text='y'", at + "gettitles-To-7 1 [w|-|-cap|*y|z|v] text='y'"});
    add(follows("v"));
    add({at + "sort-descending 1 [z|y|w|*v|-cap|-] text='v'"});
    add({"dm lists DN_LISTCHANGE p1=" + std::to_string(item) + " p2=0"});
    add(follows("z"));
    add({at + "setcurpos 0 [*z|y|w|v|-cap|-] text='z'", at + "delete-all 1 [] text='" + (item == 1 ? "z" : "") + "'"});
    std::vector<std::string> seen;
    for (const auto& line : run.log)
      if (line.rfind(at, 0) == 0 || (line.rfind("dm lists DN_", 0) == 0 && line.find(" p1=" + std::to_string(item) + " ") != std::string::npos))
        seen.push_back(line);
    EXPECT_EQ(seen, expected) << "item " << item;
  }
}

TEST(PluginDialogs, CommandsNotCarriedOutWarnAndPrivateOnesGoToTheProcedure) {
  wxt::BoxWatcher boxes;
  DialogPlan plan = password_prompt();
  plan.name = "unknown";
  plan.extra = "param=6 unknown";
  ListingRun run = list_with_dialogs({plan});
  EXPECT_EQ(boxes.Take(), std::vector<std::wstring>{L"FarApiSendDlgMessage"});
  EXPECT_EQ(lines_starting(run.log, "proc unknown msg=16385"),
            std::vector<std::string>{"proc unknown msg=16385 p1=5 p2=6 self=1 data=6"});
  EXPECT_EQ(lines_starting(run.log, "unknown unknown"), std::vector<std::string>{"unknown unknown 0 0"});
}

}  // namespace
