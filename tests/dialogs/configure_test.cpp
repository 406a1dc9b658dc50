// The file manager's Configure button as a user meets it: ConfigurePacker of the built module opens
// the list of hosted plugins; a thread of the test works it with keys and clicks as a user would
// (untick a plugin, move one up, run a plugin's own configuration) while the module's modal loop
// runs; the test then checks which plugin the module asks about a file, what the settings file
// keeps, and what a reloaded module does with it. wcxhost's "plugins" and "configure" are checked
// as their own processes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "png_writer.h"
#include "ui_test_env.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

const std::string kFixArchive = "WXFIX\nfile a.txt size=3 data=abc\n";
const char kAlphaGuid[] = "{5758F1A0-1111-2222-0102-0304050607A1}";
const char kBetaGuid[] = "{5758F1A0-1111-2222-0102-0304050607B2}";

PluginSpec fixture(const std::wstring& AFolder, const char* AGuid, const char* ATitle, const std::string& AExtra = "") {
  return PluginSpec{AFolder, L"fixture_full.dll", L"",
                    {{L"fixture.cfg", std::string("guid=") + AGuid + "\ntitle=" + ATitle + "\n" + AExtra}}};
}

PluginSpec options_plugin() { return PluginSpec{L"opt", L"options_plugin.dll", L"", {}}; }

// ---- windows as a user sees them ----

struct form_search {
  DWORD pid;
  std::wstring caption;
  HWND found;
};

BOOL CALLBACK find_form(HWND AWnd, LPARAM ASearch) {
  auto& search = *reinterpret_cast<form_search*>(ASearch);
  DWORD pid = 0;
  GetWindowThreadProcessId(AWnd, &pid);
  wchar_t cls[64] = {}, caption[256] = {};
  GetClassNameW(AWnd, cls, 64);
  GetWindowTextW(AWnd, caption, 256);
  if ((search.pid && pid != search.pid) || !IsWindowVisible(AWnd) || lstrcmpW(cls, L"WexlorWindow") != 0 ||
      search.caption != caption)
    return TRUE;
  search.found = AWnd;
  return FALSE;
}

// A visible form of the module with this caption (of this process, or of APid; 0: any process).
HWND find_form(const std::wstring& ACaption, DWORD APid = GetCurrentProcessId()) {
  form_search search{APid, ACaption, nullptr};
  EnumWindows(find_form, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND wait_for_form(const std::wstring& ACaption, DWORD APid = GetCurrentProcessId()) {
  for (int i = 0; i < 2000; ++i) {
    if (HWND form = find_form(ACaption, APid)) {
      Sleep(300);  // let it paint
      return form;
    }
    Sleep(10);
  }
  return nullptr;
}

void wait_gone(HWND AForm) {
  for (int i = 0; i < 1000 && IsWindowVisible(AForm); ++i) Sleep(10);
}

struct child_search {
  std::wstring cls, text;
  HWND found;
};

BOOL CALLBACK find_child(HWND AChild, LPARAM ASearch) {
  auto& search = *reinterpret_cast<child_search*>(ASearch);
  wchar_t cls[64] = {}, text[256] = {};
  GetClassNameW(AChild, cls, 64);
  GetWindowTextW(AChild, text, 256);
  if (_wcsicmp(cls, search.cls.c_str()) != 0 || (!search.text.empty() && search.text != text)) return TRUE;
  search.found = AChild;
  return FALSE;
}

HWND child(HWND AForm, const std::wstring& AClass, const std::wstring& AText = {}) {
  child_search search{AClass, AText, nullptr};
  EnumChildWindows(AForm, find_child, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void click(HWND AButton) {
  ASSERT_NE(AButton, nullptr);
  PostMessageW(AButton, BM_CLICK, 0, 0);
  Sleep(200);
}

void press(HWND AWnd, UINT AKey) {
  PostMessageW(AWnd, WM_KEYDOWN, AKey, 1);
  PostMessageW(AWnd, WM_KEYUP, AKey, 0xC0000001);
  Sleep(60);
}

int row_count(HWND AList) { return static_cast<int>(SendMessageW(AList, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring cell(HWND AList, int ARow, int AColumn) {
  wchar_t text[512] = {};
  LVITEMW item{};
  item.iSubItem = AColumn;
  item.pszText = text;
  item.cchTextMax = 512;
  SendMessageW(AList, LVM_GETITEMTEXTW, ARow, reinterpret_cast<LPARAM>(&item));
  return text;
}

bool ticked(HWND AList, int ARow) {
  return ((SendMessageW(AList, LVM_GETITEMSTATE, ARow, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) >> 12) == 2;
}

int row_of(HWND AList, const std::wstring& ATitle) {
  for (int row = 0; row < row_count(AList); ++row)
    if (cell(AList, row, 0) == ATitle) return row;
  return -1;
}

// Selects a row with the keyboard, as a user moves through the list.
void go_to_row(HWND AList, int ARow) {
  press(AList, VK_HOME);
  for (int i = 0; i < ARow; ++i) press(AList, VK_DOWN);
}

// The user toggles a plugin's tick with the space bar and confirms with OK.
void toggle_and_confirm(HWND AForm, const std::wstring& ATitle) {
  HWND list = child(AForm, L"SysListView32");
  go_to_row(list, row_of(list, ATitle));
  press(list, VK_SPACE);
  click(child(AForm, L"Button", L"OK"));
}

int selected_row(HWND AList) {
  return static_cast<int>(SendMessageW(AList, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::wstring dpi_suffix() { return L"_" + std::to_wstring(expected_dpi()) + L"dpi.png"; }

// Runs AUser on a thread of its own while the module's Configure runs its modal loop here.
void configure(FileManager& AFm, const std::function<void()>& AUser) {
  std::thread user([&] {
    make_thread_dpi_aware();
    AUser();
  });
  AFm.ConfigurePacker(nullptr, AFm.Module());
  user.join();
}

std::vector<std::string> plugin_lines(FileManager& AFm) {
  const int size = AFm.ListHostedPluginsW(nullptr, 0);
  std::wstring text(static_cast<size_t>(size), L'\0');
  AFm.ListHostedPluginsW(text.data(), size);
  text.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(L'\n', start);
    std::string line = narrow(text.substr(start, end - start));
    // The folder as it lies below the module's plugins folder.
    const std::string base = narrow(AFm.Root() + qor::kPluginsFolder + L"\\");
    if (const size_t at = line.find(base); at != std::string::npos) line.erase(at, base.size());
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// The calls of the shared fixture log since it was last cleared: "<folder> <entry>".
std::vector<std::string> calls(FileManager& AFm) {
  std::vector<std::string> entries;
  for (const std::string& line : read_lines(AFm.Root() + qor::kPluginsFolder + L"\\calls.log"))
    entries.push_back(line.substr(0, line.find(' ', line.find(' ') + 1)));
  return entries;
}

void clear_calls(FileManager& AFm) { DeleteFileW((AFm.Root() + qor::kPluginsFolder + L"\\calls.log").c_str()); }

bool contains(const std::vector<std::string>& AList, const std::string& AItem) {
  return std::find(AList.begin(), AList.end(), AItem) != AList.end();
}

struct box_search {
  HWND owner;
  HWND found;
};

BOOL CALLBACK find_box(HWND AWnd, LPARAM ASearch) {
  auto& search = *reinterpret_cast<box_search*>(ASearch);
  wchar_t cls[64] = {};
  GetClassNameW(AWnd, cls, 64);
  if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(AWnd) || GetWindow(AWnd, GW_OWNER) != search.owner) return TRUE;
  search.found = AWnd;
  return FALSE;
}

// A message box that AOwner owns, once it is shown.
HWND wait_for_box(HWND AOwner) {
  for (int i = 0; i < 3000; ++i) {
    box_search search{AOwner, nullptr};
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(10);
  }
  return nullptr;
}

// The text of a message box (its static text has the id 0xFFFF).
std::wstring box_text(HWND ABox) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(ABox, 0xFFFF, text, 1024);
  return text;
}

std::wstring system_error_text(DWORD ACode) {
  wchar_t text[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ACode, 0, text, 512, nullptr);
  std::wstring result = text;
  while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' || result.back() == L' '))
    result.pop_back();
  return result;
}

}  // namespace

TEST(Configure, CapsOfferTheConfigureButton) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha")});
  // PK_CAPS_OPTIONS with detection by content and search, beside packing.
  EXPECT_EQ(fm.GetPackerCaps() & (16 | 64 | 128 | 256), 16 | 64 | 128 | 256);
  ASSERT_NE(fm.ConfigurePacker, nullptr);
}

TEST(Configure, AnUntickedPluginIsNeverAskedAndNotLoadedAgain) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha"), fixture(L"b", kBetaGuid, "Beta")});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kFixArchive);
  // Alpha first: whichever comes first in the folder, it is moved there.
  std::vector<std::string> seen_rows;
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    HWND list = child(form, L"SysListView32");
    ASSERT_NE(list, nullptr);
    for (int row = 0; row < row_count(list); ++row)
      seen_rows.push_back(narrow(cell(list, row, 0) + L"|" + cell(list, row, 1) + L"|" + cell(list, row, 2) + L"|" +
                                 (ticked(list, row) ? L"on" : L"off")));
    const int alpha = row_of(list, L"Alpha");
    go_to_row(list, alpha);
    EXPECT_EQ(selected_row(list), alpha);
    press(list, VK_SPACE);
    EXPECT_FALSE(ticked(list, alpha));
    click(child(form, L"Button", L"OK"));
  });
  std::sort(seen_rows.begin(), seen_rows.end());
  EXPECT_EQ(seen_rows, (std::vector<std::string>{"Alpha|1.2.3.4|Wexlor tests|on", "Beta|1.2.3.4|Wexlor tests|on"}));

  // From now on only Beta is asked, in this module and in the next one.
  clear_calls(fm);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  EXPECT_FALSE(contains(calls(fm), "a AnalyseW"));
  EXPECT_TRUE(contains(calls(fm), "b AnalyseW"));
  fm.Unload();
  clear_calls(fm);
  fm.Load();
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  const auto after_reload = calls(fm);
  // Never loaded: no start-up call, so not even its DllMain ran.
  EXPECT_FALSE(contains(after_reload, "a GetGlobalInfoW"));
  EXPECT_FALSE(contains(after_reload, "a AnalyseW"));
  EXPECT_TRUE(contains(after_reload, "b AnalyseW"));
  // Still listed, with what was kept from its last load.
  const auto lines = plugin_lines(fm);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(contains(lines, "1\t0\tAlpha\t1.2.3.4\ta") || contains(lines, "2\t0\tAlpha\t1.2.3.4\ta"))
      << ::testing::PrintToString(lines);
  const std::string text = read_file(fm.SettingsFile());
  EXPECT_NE(text.find("[{85EF421E-98B8-4483-95F3-1682C39F60DD} roaming \"Plugins\" \"{5758F1A0-1111-2222-0102-0304050607A1}\"]\n"
                      "qword \"Enabled\" = 0\n"),
            std::string::npos)
      << text;

  // Ticked again, it is loaded at once and asked again.
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    HWND list = child(form, L"SysListView32");
    const int alpha = row_of(list, L"Alpha");
    EXPECT_FALSE(ticked(list, alpha));
    go_to_row(list, alpha);
    press(list, VK_SPACE);
    click(child(form, L"Button", L"OK"));
  });
  EXPECT_TRUE(contains(calls(fm), "a GetGlobalInfoW"));
  clear_calls(fm);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  EXPECT_TRUE(contains(calls(fm), "a AnalyseW") || contains(calls(fm), "b AnalyseW"));
  EXPECT_EQ(plugin_lines(fm).size(), 2u);
  for (const std::string& line : plugin_lines(fm)) EXPECT_EQ(line.substr(line.find('\t') + 1, 2), "1\t") << line;
}

TEST(Configure, MovingAPluginUpMakesItTheOneThatWins) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha"), fixture(L"b", kBetaGuid, "Beta")});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kFixArchive);
  clear_calls(fm);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  const std::string first_winner = calls(fm).at(calls(fm).size() - 2).substr(0, 1);  // AnalyseW, CloseAnalyseW
  const std::wstring other = first_winner == "a" ? L"Beta" : L"Alpha";
  const std::string other_folder = first_winner == "a" ? "b" : "a";
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    configure(fm, [&] {
      HWND form = wait_for_form(L"Wexlor");
      ASSERT_NE(form, nullptr);
      HWND list = child(form, L"SysListView32");
      const int row = row_of(list, other);
      ASSERT_EQ(row, round == 0 ? 1 : 0);
      go_to_row(list, row);
      HWND up = child(form, L"Button", L"Move &up");
      HWND down = child(form, L"Button", L"Move &down");
      // Only the moves that go somewhere can be pressed.
      EXPECT_EQ(IsWindowEnabled(up) != FALSE, row == 1);
      EXPECT_EQ(IsWindowEnabled(down) != FALSE, row == 0);
      if (round == 0) {
        click(up);
        EXPECT_EQ(row_of(list, other), 0);
        EXPECT_EQ(selected_row(list), 0);
      }
      click(child(form, L"Button", L"OK"));
    });
    // The moved plugin is asked first now, and takes the file: the other one is not asked at all.
    clear_calls(fm);
    EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
    EXPECT_EQ(calls(fm), (std::vector<std::string>{other_folder + " AnalyseW", other_folder + " CloseAnalyseW"}));
    // The second round opens a module loaded again: the order came from the file.
    fm.Unload();
    fm.Load();
  }
}

TEST(Configure, APluginsOwnConfigurationIsShownOwnedByTheListAndItsAnswerKept) {
  FileManager fm({options_plugin(), fixture(L"a", kAlphaGuid, "Alpha")});
  BoxWatcher boxes;
  capture_stats list_stats, options_stats;
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    save_window_png(form, artifacts_folder() + L"configure_plugins" + dpi_suffix(), GetSysColor(COLOR_WINDOW), list_stats);
    HWND list = child(form, L"SysListView32");
    const int row = row_of(list, L"Options");
    ASSERT_GE(row, 0);
    EXPECT_EQ(cell(list, row, 2), L"Wexlor tests");
    go_to_row(list, row);
    HWND details = nullptr;
    for (HWND w = GetWindow(form, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
      wchar_t cls[32] = {}, text[512] = {};
      GetClassNameW(w, cls, 32);
      GetWindowTextW(w, text, 512);
      if (_wcsicmp(cls, L"Static") == 0 && wcsstr(text, L"Archive plugin keeping options")) details = w;
    }
    EXPECT_NE(details, nullptr) << "the selected plugin's description is shown";
    // Two configuration entries: the user picks the first from the menu.
    click(child(form, L"Button", L"&Configure\u2026"));
    press(form, VK_DOWN);
    press(form, VK_RETURN);
    HWND options = wait_for_form(L"Options plugin");
    ASSERT_NE(options, nullptr);
    // Modal to the list: owned by it, which takes no input meanwhile.
    EXPECT_EQ(GetWindow(options, GW_OWNER), form);
    EXPECT_FALSE(IsWindowEnabled(form));
    save_window_png(options, artifacts_folder() + L"configure_options" + dpi_suffix(), GetSysColor(COLOR_WINDOW),
                    options_stats);
    HWND edit = child(options, L"Edit");
    ASSERT_NE(edit, nullptr);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    for (wchar_t c : std::wstring(L"nightly")) PostMessageW(edit, WM_CHAR, c, 1);
    Sleep(200);
    click(child(options, L"Button", L"&Keep a profile per archive"));
    click(child(options, L"Button", L"OK"));
    wait_gone(options);
    EXPECT_TRUE(IsWindowEnabled(form));
    click(child(form, L"Button", L"Cancel"));
  });
  EXPECT_GT(list_stats.dark, 0u);
  EXPECT_GT(options_stats.dark, 0u);
  const auto log = fm.Log(L"opt", L"options_plugin.dll");
  EXPECT_TRUE(contains(log, "ConfigureW entry=options result=6 saved=1 profile=nightly count=1 per_archive=1"))
      << ::testing::PrintToString(log);

  // Kept across a reload of the module: the plugin reads it when it opens its next archive.
  fm.Unload();
  fm.ClearLog(L"opt", L"options_plugin.dll");
  fm.Load();
  const std::wstring archive = fm.WriteArchive(L"night.opt", "WXOPT\nfile a.txt abc\n");
  int open_result = -1;
  ListArchive(fm, archive, &open_result);
  EXPECT_EQ(open_result, 0);
  EXPECT_TRUE(contains(fm.Log(L"opt", L"options_plugin.dll"), "Options profile=nightly count=1 per_archive=1"));
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Configure, AFaultInAPluginsConfigurationIsContained) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha", "fault=ConfigureW\nfault_kind=fault\n")});
  bool still_there = false;
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    HWND list = child(form, L"SysListView32");
    go_to_row(list, 0);
    click(child(form, L"Button", L"&Configure\u2026"));
    Sleep(300);
    still_there = IsWindowVisible(form) && IsWindowEnabled(form);
    click(child(form, L"Button", L"OK"));
  });
  EXPECT_TRUE(still_there);
  EXPECT_TRUE(contains(entries_of(fm.Log(L"a", L"fixture_full.dll")), "ConfigureW"));
  // The module goes on working.
  const std::wstring archive = fm.WriteArchive(L"a.fix", kFixArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
}

TEST(Configure, PluginsNamedInTheFileButGoneFromTheDiskAreIgnored) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha"), fixture(L"b", kBetaGuid, "Beta")}, false);
  const std::string gone = "{5758F1A0-1111-2222-0102-0304050607C3}";
  write_file(fm.SettingsFile(),
             "[{85EF421E-98B8-4483-95F3-1682C39F60DD} roaming]\n"
             "string \"Order\" = \"" + gone + " " + kBetaGuid + " " + kAlphaGuid + "\"\n"
             "[{85EF421E-98B8-4483-95F3-1682C39F60DD} roaming \"Plugins\" \"" + gone + "\"]\n"
             "qword \"Enabled\" = 0\nstring \"Title\" = \"Gone\"\n"
             "string \"" + narrow(qor::kPluginsFolder) + "\" = \"gone\\\\gone.dll\"\n");
  fm.Load();
  // Listed: the two on the disk, in the stored order.
  EXPECT_EQ(plugin_lines(fm), (std::vector<std::string>{"1\t1\tBeta\t1.2.3.4\tb", "2\t1\tAlpha\t1.2.3.4\ta"}));
  const std::wstring archive = fm.WriteArchive(L"a.fix", kFixArchive);
  clear_calls(fm);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  EXPECT_EQ(calls(fm), (std::vector<std::string>{"b AnalyseW", "b CloseAnalyseW"}));
  // Saving the list keeps the absent plugin's record and its place after the present ones.
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(row_count(child(form, L"SysListView32")), 2);
    click(child(form, L"Button", L"OK"));
  });
  const std::string text = read_file(fm.SettingsFile());
  EXPECT_NE(text.find(std::string("string \"Order\" = \"") + kBetaGuid + " " + kAlphaGuid + " " + gone + "\"\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("string \"Title\" = \"Gone\"\n"), std::string::npos);
}

TEST(Configure, WcxhostListsThePluginsAndOpensTheSameDialog) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha"), fixture(L"b", kBetaGuid, "Beta")});
  // Alpha disabled through the dialog first, so that the listing shows both states.
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    toggle_and_confirm(form, L"Alpha");
  });
  fm.Unload();
  // wcxhost suggests no settings folder: it finds the file below APPDATA.
  const std::wstring appdata = fm.Root() + L"appdata";
  CreateDirectoryW((appdata + L"\\").c_str(), nullptr);
  CreateDirectoryW((appdata + L"\\Wexlor").c_str(), nullptr);
  CopyFileW(fm.SettingsFile().c_str(), (appdata + L"\\Wexlor\\WexlorSettings.txt").c_str(), FALSE);
  wchar_t previous[MAX_PATH * 2] = {};
  const bool had_appdata = GetEnvironmentVariableW(L"APPDATA", previous, MAX_PATH * 2) > 0;
  SetEnvironmentVariableW(L"APPDATA", appdata.c_str());
  const std::wstring host = L"\"" + exe_folder() + L"wcxhost.exe\" --wcx \"" + fm.Root() + qor::kModuleFileName + L"\" ";

  const ProgramRun listed = RunProgram(host + L"plugins");
  EXPECT_EQ(listed.status, 0u) << listed.err;
  const std::string base = narrow(fm.Root() + qor::kPluginsFolder + L"\\");
  for (const std::string& name : {std::string("Alpha"), std::string("Beta")}) {
    const std::string state = name == "Alpha" ? "disabled" : "enabled ";
    const std::string folder = base + (name == "Alpha" ? "a" : "b");
    std::string title = name;
    title.resize(24, ' ');
    EXPECT_NE(listed.out.find(state + "  " + title + "  1.2.3.4       " + folder + "\n"), std::string::npos)
        << listed.out;
  }

  // The dialog of the other process: found by its caption and closed as a user closes it.
  bool seen = false;
  const ProgramRun configured = RunProgram(host + L"configure", nullptr, [&] {
    if (seen) return;
    if (HWND form = find_form(L"Wexlor", 0); form && GetWindowThreadProcessId(form, nullptr) != GetCurrentThreadId()) {
      DWORD pid = 0;
      GetWindowThreadProcessId(form, &pid);
      if (pid == GetCurrentProcessId()) return;
      seen = child(form, L"SysListView32") != nullptr;
      PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
  });
  EXPECT_TRUE(seen);
  EXPECT_EQ(configured.status, 0u) << configured.err;
  SetEnvironmentVariableW(L"APPDATA", had_appdata ? previous : nullptr);
}

TEST(Configure, ChoicesTheFileCannotTakeAreToldInABoxOfTheListAndWrittenLater) {
  FileManager fm({fixture(L"a", kAlphaGuid, "Alpha"), fixture(L"b", kBetaGuid, "Beta")});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kFixArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  // Another writer holds the lock file for longer than the module waits.
  HANDLE lock = CreateFileW((fm.SettingsFile() + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::wstring told;
  bool list_shown_meanwhile = false;
  configure(fm, [&] {
    HWND form = wait_for_form(L"Wexlor");
    ASSERT_NE(form, nullptr);
    toggle_and_confirm(form, L"Alpha");
    HWND box = wait_for_box(form);
    ASSERT_NE(box, nullptr) << "a box owned by the list";
    list_shown_meanwhile = IsWindowVisible(form) != FALSE;
    told = box_text(box);
    click(child(box, L"Button", L"OK"));
    wait_gone(form);
  });
  EXPECT_TRUE(list_shown_meanwhile);
  // The system's words: the file, and why it could not be written.
  EXPECT_NE(told.find(fm.SettingsFile()), std::wstring::npos) << narrow(told);
  EXPECT_NE(told.find(system_error_text(ERROR_SHARING_VIOLATION)), std::wstring::npos) << narrow(told);
  // In effect all the same, and not lost: written once the file can be had.
  clear_calls(fm);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  EXPECT_FALSE(contains(calls(fm), "a AnalyseW"));
  const std::string disabled = std::string("[{85EF421E-98B8-4483-95F3-1682C39F60DD} roaming \"Plugins\" \"") +
                               kAlphaGuid + "\"]\nqword \"Enabled\" = 0\n";
  EXPECT_EQ(read_file(fm.SettingsFile()).find(disabled), std::string::npos);
  CloseHandle(lock);
  fm.Unload();
  EXPECT_NE(read_file(fm.SettingsFile()).find(disabled), std::string::npos) << read_file(fm.SettingsFile());
  clear_calls(fm);
  fm.Load();
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  EXPECT_FALSE(contains(calls(fm), "a GetGlobalInfoW"));
}
