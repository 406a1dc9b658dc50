// Plugin dialogs as a user meets them: the fixture plugin calls DialogInit/DialogRun/DialogFree of
// its host table while the file-manager emulator lists its archive. A watcher thread finds each
// dialog as a real window, reads its caption and child controls, optionally photographs it, and
// closes it with its close command; the test then checks the window against the cell grid and the
// plugin's log against what the plugin must have been told.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
  COLORREF middle = CLR_INVALID;  // the screen pixel at the middle of the control
};

struct Seen {
  std::wstring caption;
  RECT client{};
  RECT window{};
  std::vector<Child> children;
  bool open_after_click = false;
  bool clicked = false;
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
    size_t number;
    {
      std::lock_guard<std::mutex> guard(FLock);
      number = FSeen.size();
    }
    if (number < FOptions.screenshots.size() && !FOptions.screenshots[number].empty()) {
      seen.screenshot = wxt::artifacts_folder() + FOptions.screenshots[number];
      wxt::save_window_png(AWnd, seen.screenshot, GetSysColor(COLOR_WINDOW), seen.stats);
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
    if (FOptions.use_wm_close)
      PostMessageW(AWnd, WM_CLOSE, 0, 0);
    else
      PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
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
};

struct DialogPlan {
  std::string name;
  int x1, y1, x2, y2;
  std::vector<Item> items;
  std::string extra;  // further words of the "dialog" line
};

std::string script(const std::vector<DialogPlan>& ADialogs, bool AInvalid = false) {
  std::ostringstream out;
  out << "WXDLG\nfile first.txt\nfile second.txt\n";
  for (const DialogPlan& d : ADialogs) {
    out << "dialog " << d.name << " " << d.x1 << " " << d.y1 << " " << d.x2 << " " << d.y2 << " " << d.extra << "\n";
    for (const Item& i : d.items)
      out << "item " << i.type << " " << i.x1 << " " << i.y1 << " " << i.x2 << " " << i.y2 << " " << i.flags << " "
          << i.maxlen << " " << i.text << "\n";
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

// Checks every control of ASeen against the cell grid of APlan with cell size from AUnit; the
// controls' natural heights are taken from the window, their places and widths from the grid.
void expect_grid(const DialogPlan& APlan, const Seen& ASeen, SIZE AUnit) {
  const int cw = AUnit.cx + 2, rh = AUnit.cy + 2;
  const int width = APlan.x1 == -1 ? APlan.x2 : APlan.x2 - APlan.x1 + 1;
  const int height = APlan.y1 == -1 ? APlan.y2 : APlan.y2 - APlan.y1 + 1;
  const int spacing = MulDiv(4, AUnit.cx, 4);
  std::vector<int> lines(height, rh), offsets(height, 0);
  for (size_t i = 0; i < APlan.items.size(); ++i) {
    const Item& item = APlan.items[i];
    const Child* c = ASeen.item(static_cast<int>(i));
    ASSERT_NE(c, nullptr) << "item " << i;
    if (item.type == 3 || is_separator(item) || item.y1 < 0 || item.y1 >= height) continue;
    const int need = rect_height(c->rect) + (item.type == 0 ? 0 : 2);
    lines[item.y1] = std::max(lines[item.y1], need);
  }
  for (int r = 1; r < height; ++r) offsets[r] = offsets[r - 1] + lines[r - 1];
  const int total = offsets.back() + lines.back();
  auto row_top = [&](int ARow) { return ARow < 0 ? 0 : ARow < height ? offsets[ARow] : total; };

  EXPECT_EQ(rect_width(ASeen.client), width * cw) << APlan.name;
  EXPECT_EQ(rect_height(ASeen.client), std::max(total, 2 * MulDiv(7, AUnit.cy, 8))) << APlan.name;

  // Centre groups: runs of centre-group buttons on one row, split by anything else.
  std::map<size_t, int> group_left;
  std::vector<size_t> group;
  auto place = [&] {
    if (group.empty()) return;
    int sum = (static_cast<int>(group.size()) - 1) * spacing;
    for (size_t g : group) sum += (APlan.items[g].x2 + 1 - APlan.items[g].x1) * cw;
    int x = (width * cw - sum) / 2;
    for (size_t g : group) {
      group_left[g] = x;
      x += (APlan.items[g].x2 + 1 - APlan.items[g].x1) * cw + spacing;
    }
    group.clear();
  };
  for (size_t i = 0; i < APlan.items.size(); ++i) {
    const Item& item = APlan.items[i];
    if (item.type == 7 && (item.flags & 0x4000)) {
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
    if (item.type == 3) {
      expected = RECT{item.x1 * cw, row_top(item.y1), (item.x2 + 1) * cw, row_top(item.y2 + 1)};
    } else if (is_separator(item)) {
      expected = RECT{4 * cw, row_top(item.y1), (width - 4) * cw, row_top(item.y1) + lines[item.y1]};
    } else if (item.type == 0 || item.type == 8) {
      expected = RECT{item.x1 * cw, centred, item.x1 * cw + rect_width(c.rect), centred + h};
    } else {
      const int left = group_left.count(i) ? group_left[i] : item.x1 * cw;
      expected = RECT{left, centred, left + (item.x2 + 1 - item.x1) * cw, centred + h};
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

DialogPlan password_prompt() {
  return {"password", -1, -1, 50, 8,
          {{3, 3, 1, 46, 6, 0, "Archive password"},
           {0, 5, 2, 44, 2, 0, "&Password for \"backup-2026.rar\":"},
           {4, 5, 3, 44, 3, 0, ""},
           {0, 0, 4, 0, 4, 0x10000, ""},
           {7, 14, 5, 22, 5, 0x4000, "OK"},
           {7, 24, 5, 34, 5, 0x4000, "Cancel"}},
          "param=77"};
}

DialogPlan options_dialog() {
  return {"options", -1, -1, 60, 12,
          {{3, 3, 1, 56, 10, 0, "&Archive options"},
           {8, 5, 2, 40, 2, 0, "&Recurse into folders"},
           {8, 5, 3, 40, 3, 0, "Keep &timestamps"},
           {8, 5, 4, 40, 4, 0, "Show &hidden files"},
           {0, 5, 6, 14, 6, 0, "&Encoding:"},
           {6, 16, 6, 40, 6, 0, "UTF-8"},
           {0, 0, 7, 0, 7, 0x10000, ""},
           {7, 12, 8, 21, 8, 0x4000, "OK"},
           {7, 23, 8, 34, 8, 0x4000, "Cancel"},
           {7, 36, 8, 45, 8, 0x4000, "&Help"}},
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
  EXPECT_EQ(lines_starting(run.log, "proc password"),
            std::vector<std::string>{"proc password msg=4108 p1=2 p2=77 self=1"});
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
  EXPECT_EQ(lines_starting(run.log, "proc options"),
            std::vector<std::string>{"proc options msg=4108 p1=1 p2=5 self=1"});
  EXPECT_EQ(lines_starting(run.log, "run options"), std::vector<std::string>{"run options -1"});
  for (int i : {1, 2, 3}) EXPECT_EQ(_wcsicmp(seen.item(i)->cls.c_str(), L"Button"), 0);
  EXPECT_EQ(seen.item(5)->text, L"UTF-8");
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
      {"radio_last", -1, -1, 40, 5, {text, edit, {9, 5, 3, 20, 3, 0, "radio"}}, ""},
      {"radio_first", -1, -1, 40, 5, {{9, 5, 3, 20, 3, 0, "radio"}, text}, ""},
      {"password_edit", -1, -1, 40, 5, {text, {5, 5, 3, 20, 3, 0, "secret"}}, ""},
      {"vertical_text", -1, -1, 40, 5, {{1, 5, 1, 5, 3, 0, "v"}}, ""},
      {"single_box", -1, -1, 40, 5, {{2, 3, 1, 36, 3, 0, "box"}}, ""},
      {"combo", -1, -1, 40, 5, {{10, 5, 1, 20, 1, 0, "c"}}, ""},
      {"user_control", -1, -1, 40, 5, {{255, 5, 1, 20, 1, 0, "u"}}, ""},
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
  // -1, a readable block that is no dialog, an unmapped address, nil: run -1, free nothing.
  EXPECT_EQ(lines_starting(run.log, "invalid"), std::vector<std::string>{"invalid -1 -1 -1 -1"});
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
        {8, 5, 5, 30, 5, 0, "Ticked in the item"},
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
  // The check box does not take its state from the item.
  EXPECT_EQ(lines_starting(run.log, "proc texts"), std::vector<std::string>{"proc texts msg=4108 p1=0 p2=-9 self=1"});
  EXPECT_EQ(lines_starting(run.log, "proc amp "), std::vector<std::string>{"proc amp msg=4108 p1=-1 p2=0 self=1"});
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
  // Each group is centred on the full width on its own.
  EXPECT_NEAR(seen.item(0)->rect.left + seen.item(1)->rect.right, client, 1);
  EXPECT_NEAR(seen.item(3)->rect.left + seen.item(3)->rect.right, client, 1);
  EXPECT_NEAR(seen.item(4)->rect.left + seen.item(4)->rect.right, client, 1);
  EXPECT_TRUE(lines_starting(run.log, "proc groups").empty()) << "no dialog procedure, no notification";
  EXPECT_EQ(lines_starting(run.log, "run groups"), std::vector<std::string>{"run groups -1"});
}

TEST(PluginDialogs, ButtonsDoNotCloseAndEveryRunNotifiesOnce) {
  DialogPlan plan = password_prompt();
  plan.name = "twice";
  plan.extra = "param=3 runs=2";
  ListingRun run = list_with_dialogs({plan}, {{}, true, false});
  ASSERT_EQ(run.dialogs.size(), 2u);
  for (const Seen& seen : run.dialogs) {
    EXPECT_TRUE(seen.clicked);
    EXPECT_TRUE(seen.open_after_click) << "a push button does not close the dialog";
  }
  EXPECT_EQ(lines_starting(run.log, "proc twice"),
            (std::vector<std::string>{"proc twice msg=4108 p1=2 p2=3 self=1", "proc twice msg=4108 p1=2 p2=3 self=1"}));
  EXPECT_EQ(lines_starting(run.log, "run twice"), (std::vector<std::string>{"run twice -1", "run twice -1"}));
  EXPECT_EQ(run.entries.size(), 2u);
}

TEST(PluginDialogs, DialogFreedByItsOwnProcedureGoesWhenItsRunEnds) {
  DialogPlan plan = password_prompt();
  plan.name = "selffree";
  plan.extra = "param=4 runs=2 freeinproc";
  ListingRun run = list_with_dialogs({plan});
  ASSERT_EQ(run.dialogs.size(), 1u) << "shown once; the second run finds no live dialog";
  EXPECT_EQ(lines_starting(run.log, "proc selffree").size(), 1u);
  EXPECT_EQ(lines_starting(run.log, "run selffree"), (std::vector<std::string>{"run selffree -1", "run selffree -1"}));
  EXPECT_EQ(lines_starting(run.log, "free selffree"), std::vector<std::string>{"free selffree"});
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

}  // namespace
