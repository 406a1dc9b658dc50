// AdvControl and PanelControl as a hosted plugin sees them: the panels fixture asks on the paths a
// real archive plugin asks on (start-up, open from analysis, a damaged entry, close), and from a
// script of commands during OpenW; the box watcher records every warning box that appears.
#include <gtest/gtest.h>

#include <thread>

#include "../archives/archive_util.h"
#include "api/qorFarPluginW.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

const PluginSpec kPanels{L"Panels", L"panels_plugin.dll"};

struct Case {
  const char* ask;     // "adv CMD P1 KIND" or "pc HANDLE CMD P1 KIND"
  const char* answer;  // result, then what the host wrote
};

// Runs the asks during OpenW; returns "ask -> answer" per ask, in order.
std::vector<std::string> ask_all(FileManager& AFm, const std::vector<Case>& ACases) {
  std::string script = "WXPNL\n";
  for (const Case& c : ACases) script += std::string("ask ") + c.ask + "\n";
  AFm.ClearLog(L"Panels", L"panels_plugin.dll");
  int open_result = -1;
  ListArchive(AFm, AFm.WriteArchive(L"asks.pnl", script), &open_result);
  EXPECT_EQ(open_result, 0);
  std::vector<std::string> answers;
  for (const auto& line : AFm.Log(L"Panels", L"panels_plugin.dll"))
    if (line.compare(0, 4, "adv ") == 0 || line.compare(0, 3, "pc ") == 0) answers.push_back(line);
  return answers;
}

std::vector<std::string> expected_of(const std::vector<Case>& ACases) {
  std::vector<std::string> lines;
  for (const Case& c : ACases) lines.push_back(std::string(c.ask) + " -> " + c.answer);
  return lines;
}

}  // namespace

TEST(Panels, ArchivePluginProbesPanelsAndConsoleWithoutABox) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  // Plugins load on the first request; their start-up is another test's subject.
  ASSERT_NE(fm.CanYouHandleThisFileW(fm.WriteArchive(L"probe.pnl", "WXPNL\n").c_str()), 0);
  for (int round = 0; round < 3; ++round) {
    fm.ClearLog(L"Panels", L"panels_plugin.dll");
    const std::wstring archive = fm.WriteArchive(L"a" + std::to_wstring(round) + L".pnl",
                                                 "WXPNL\nfile one.txt data=first\nfile bad.bin damaged\n"
                                                 "file two.txt data=second" + std::to_string(round) + "\n");
    const auto listed = ListArchive(fm, archive);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[1].name, L"bad.bin");

    const std::wstring dest = make_temp_folder() + L"\\";
    const auto results = extract_entries(fm, archive, dest, {});
    EXPECT_EQ(results, (std::vector<std::string>{"one.txt=0", "bad.bin=" + std::to_string(wcx::E_BAD_DATA),
                                                 "two.txt=0", "end=" + std::to_string(wcx::E_END_ARCHIVE),
                                                 "close=0"}));
    EXPECT_EQ(read_file(dest + L"one.txt"), "first");
    EXPECT_EQ(read_file(dest + L"two.txt"), "second" + std::to_string(round));
    EXPECT_FALSE(file_exists(dest + L"bad.bin"));
    remove_tree(dest);

    // Open from analysis asks for the active panel and, told there is none, takes it for a real
    // file panel; close asks for its own panel and, told the same, stores nothing. bad.bin is
    // asked for with two.txt first (read-ahead), and when that call fails, alone.
    const std::vector<std::string> expected = {
        "OpenW from=9 panelinfo=0 record=untouched realpanel=yes",  // listing
        "ClosePanelW panelinfo=0 record=untouched save=no",
        "OpenW from=9 panelinfo=0 record=untouched realpanel=yes",  // extraction
        "GetFilesW one.txt done",
        "GetFilesW bad.bin error farrect=1:0,0,79,24 1:0,0,79,24 1:0,0,79,24 width=60",
        "GetFilesW bad.bin error farrect=1:0,0,79,24 1:0,0,79,24 1:0,0,79,24 width=60",
        "GetFilesW two.txt done",
        "ClosePanelW panelinfo=0 record=untouched save=no",
    };
    EXPECT_EQ(fm.Log(L"Panels", L"panels_plugin.dll"), expected) << "round " << round;
  }
  EXPECT_TRUE(boxes.Texts().empty()) << narrow(boxes.Texts().empty() ? L"" : boxes.Texts()[0]);
}

TEST(Panels, PluginStartsOnTheVersionOfTheLayoutsTheHostFollows) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  const std::wstring archive = fm.WriteArchive(L"v.pnl", "WXPNL\n");
  EXPECT_NE(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  const auto log = fm.Log(L"Panels", L"panels_plugin.dll");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log[0], "SetStartupInfoW version=3.0.0.6682 stage=0 result=1 new-enough");
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Panels, AdvControlInformationalCommands) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  const std::vector<Case> cases = {
      {"adv 0 0 version", "1 version=3.0.0.6682 stage=0"},  // ACTL_GETFARMANAGERVERSION
      {"adv 0 0 none", "1"},                                // a null record is allowed
      {"adv 0 0 bad", "0"},                                 // an unwritable one fails softly
      {"adv 24 0 rect", "1 rect=0,0,79,24"},                // ACTL_GETFARRECT: a SMALL_RECT, nothing past it
      {"adv 24 0 none", "0"},
      {"adv 24 0 bad", "0"},
      {"adv 28 0 wtype", "1 type=1"},           // ACTL_GETWINDOWTYPE: the panels window
      {"adv 28 0 wtype_small", "0 untouched"},  // StructSize below the record's size
      {"adv 28 0 none", "0"},
      {"adv 28 0 bad", "0"},
      {"adv 7 0 none", "1"},                                                  // ACTL_GETWINDOWCOUNT
      {"adv 6 0 winfo", "1 id=0 pos=0 type=1 flags=2 typename=1 name=1"},     // sizes asked
      {"adv 6 0 winfo_buf", "1 id=0 pos=0 type=1 flags=2 typename=16 name=16 texts='',''"},
      {"adv 6 0 winfo_pos1", "0 untouched"},  // there is no second window
      {"adv 6 0 none", "0"},
      {"adv 6 0 bad", "0"},
      // ACTL_GETCOLOR: console indices with opaque alpha, FCF_FG_INDEX | FCF_BG_INDEX.
      {"adv 3 0 color", "1 copied=1 first=3/ff00000f/ff000003 last=3/ff00000f/ff000003"},   // menu text
      {"adv 3 10 color", "1 copied=1 first=3/ff00000b/ff000001 last=3/ff00000b/ff000001"},  // panel text
      {"adv 3 21 color", "1 copied=1 first=3/ff000000/ff000007 last=3/ff000000/ff000007"},  // dialog text
      {"adv 3 35 color", "1 copied=1 first=3/ff00000f/ff000004 last=3/ff00000f/ff000004"},  // warning text
      {"adv 3 110 color", "1 copied=1 first=3/ff00000f/ff000003 last=3/ff00000f/ff000003"},
      {"adv 3 111 color", "0 untouched"},  // past the palette
      {"adv 3 -1 color", "0 untouched"},
      {"adv 3 10 none", "0"},
      // ACTL_GETARRAYCOLOR: always the palette size; copies at most the capacity.
      {"adv 4 0 none", "111"},
      {"adv 4 0 colors", "111 untouched"},
      {"adv 4 3 colors", "111 copied=3 first=3/ff00000f/ff000003 last=3/ff00000e/ff000003"},
      {"adv 4 200 colors", "111 copied=111 first=3/ff00000f/ff000003 last=3/ff00000f/ff000003"},
      {"adv 4 3 bad", "0"},
      {"adv 19 0 none", "1"},  // ACTL_REDRAWALL
      {"adv 9 0 none", "1"},   // ACTL_COMMIT
      // Progress stays accepted silently.
      {"adv 21 2 none", "1"},
      {"adv 27 0 none", "1"},
      // ACTL_SETPROGRESSVALUE: FALSE without a readable record.
      {"adv 22 0 none", "0"},
      {"adv 22 0 bad", "0"},
      {"adv 22 0 progress_small", "0 untouched"},
      {"adv 22 0 progress", "1 untouched"},
  };
  EXPECT_EQ(ask_all(fm, cases), expected_of(cases));
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Panels, PanelControlAnswersForPanelsThatDoNotExist) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  const std::vector<Case> cases = {
      // FCTL_GETPANELINFO: no panel, whichever is named; the record stays as it was.
      {"pc active 1 0 info", "0 untouched"},
      {"pc passive 1 0 info", "0 untouched"},
      {"pc own 1 0 info", "0 untouched"},
      {"pc null 1 0 info", "0 untouched"},
      {"pc active 1 0 bad", "0"},
      {"pc active 17 0 none", "0"},  // FCTL_CHECKPANELSEXIST
      // FCTL_ISACTIVEPANEL
      {"pc null 20 0 none", "1"},
      {"pc active 20 0 none", "1"},
      {"pc passive 20 0 none", "0"},
      {"pc own 20 0 none", "0"},
      // Empty texts: len+1 is 1, a buffer with room gets the NUL and nothing more.
      {"pc active 4 8 buf", "1 text=''"},  // FCTL_GETCMDLINE
      {"pc active 4 0 buf", "1 untouched"},
      {"pc active 4 8 none", "1"},
      {"pc active 4 8 bad", "0"},
      {"pc active 31 8 buf", "1 text=''"},  // FCTL_GETPANELFORMAT
      {"pc own 32 8 buf", "1 text=''"},     // FCTL_GETPANELHOSTFILE
      {"pc active 34 8 buf", "1 text=''"},  // FCTL_GETPANELPREFIX
      // Items, folder, columns and command-line position or selection: nothing to give.
      {"pc active 21 0 bytes", "0 untouched"},  // FCTL_GETPANELITEM
      {"pc active 22 0 bytes", "0 untouched"},  // FCTL_GETSELECTEDPANELITEM
      {"pc active 23 0 bytes", "0 untouched"},  // FCTL_GETCURRENTPANELITEM
      {"pc active 24 64 dir", "0 untouched"},   // FCTL_GETPANELDIRECTORY
      {"pc active 25 8 buf", "0 untouched"},    // FCTL_GETCOLUMNTYPES
      {"pc active 26 8 buf", "0 untouched"},    // FCTL_GETCOLUMNWIDTHS
      {"pc active 12 0 bytes", "0 untouched"},  // FCTL_GETCMDLINEPOS
      {"pc active 16 0 bytes", "0 untouched"},  // FCTL_GETCMDLINESELECTION
      // Redraw, update and the user screen: accepted, nothing read or written.
      {"pc active 2 1 none", "1"},
      {"pc active 3 0 bytes", "1 untouched"},
      {"pc active 3 0 none", "1"},
      {"pc null 19 0 none", "1"},
      {"pc null 9 0 none", "1"},
  };
  EXPECT_EQ(ask_all(fm, cases), expected_of(cases));
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Panels, CommandsNotOfferedKeepTheirWarningBox) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  const std::vector<Case> adv = {
      {"adv 1 0 none", "0"},          {"adv 2 0 none", "0"},          // unused, ACTL_WAITKEY
      {"adv 8 0 none", "0"},          {"adv 10 0 none", "0"},         // SETCURRENTWINDOW, GETFARHWND
      {"adv 16 0 bytes", "0 untouched"}, {"adv 20 0 none", "0"},      // SETARRAYCOLOR, SYNCHRO
      {"adv 23 0 none", "0"},         {"adv 25 0 bytes", "0 untouched"},  // QUIT, GETCURSORPOS
      {"adv 26 0 bytes", "0 untouched"}, {"adv 29 0 none", "0"},      // SETCURSORPOS, unknown
      {"adv -1 0 none", "0"},
  };
  const std::vector<Case> pc = {
      {"pc own 0 0 none", "0"},         // FCTL_CLOSEPANEL
      {"pc null 5 0 text", "0"},        // FCTL_SETCMDLINE
      {"pc active 6 0 none", "0"},      // FCTL_SETSELECTION
      {"pc active 7 1 none", "0"},      // FCTL_SETVIEWMODE
      {"pc null 8 0 text", "0"},        // FCTL_INSERTCMDLINE
      {"pc active 10 0 dir", "0 untouched"},  // FCTL_SETPANELDIRECTORY
      {"pc null 11 0 none", "0"},       // FCTL_SETCMDLINEPOS
      {"pc active 13 2 none", "0"},     // FCTL_SETSORTMODE
      {"pc active 14 1 none", "0"},     // FCTL_SETSORTORDER
      {"pc null 15 0 bytes", "0 untouched"},  // FCTL_SETCMDLINESELECTION
      {"pc active 18 0 none", "0"},     // unused
      {"pc active 27 0 none", "0"},     // FCTL_BEGINSELECTION
      {"pc active 28 0 none", "0"},     // FCTL_ENDSELECTION
      {"pc active 29 0 none", "0"},     // FCTL_CLEARSELECTION
      {"pc active 30 1 none", "0"},     // FCTL_SETDIRECTORIESFIRST
      {"pc active 33 0 none", "0"},     // unused
      {"pc passive 35 0 none", "0"},    // FCTL_SETACTIVEPANEL
      {"pc active 36 0 none", "0"},     // unknown
  };
  std::vector<Case> all = adv;
  all.insert(all.end(), pc.begin(), pc.end());
  EXPECT_EQ(ask_all(fm, all), expected_of(all));
  std::vector<std::wstring> expected_boxes(adv.size(), L"FarApiAdvControl");
  expected_boxes.insert(expected_boxes.end(), pc.size(), L"FarApiPanelControl");
  EXPECT_EQ(boxes.Texts(), expected_boxes);
}

namespace {

std::string folder_form(std::wstring AFolder) {
  while (AFolder.size() > 3 && AFolder.back() == L'\\') AFolder.pop_back();
  return narrow(AFolder);
}

// FCTL_GETPANELDIRECTORY's answer: always the size the record and its three strings need.
std::string directory_size(const std::wstring& AName, const std::wstring& AFile, const std::wstring& AParam) {
  return std::to_string(sizeof(TFarPanelDirectory) + 2 * (AName.size() + 1 + AFile.size() + 1 + AParam.size() + 1));
}

}  // namespace

// While an entry is extracted the plugin's own panel is the active one (FAR asks the plugin) and
// a file panel on the target folder the passive one; a buffer gets the answer only when it holds
// all of it and starts with a valid record.
TEST(Panels, PanelDirectoryWhileExtracting) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  const std::wstring dest = make_temp_folder() + L"\\";
  const std::string target = folder_form(dest);
  const std::string own = directory_size(L"sub\\dir", L"host.pnl", L"short");
  const std::string passive = directory_size(widen(target), L"", L"");
  const std::string own_answer = own + " id=own name='sub\\dir' file='host.pnl' param='short'";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"pc active 24 0 none", own},
      {"pc active 24 256 dir", own_answer},
      {"pc own 24 256 dir", own_answer},
      {"pc null 24 256 dir", own_answer},
      {"pc passive 24 0 none", passive},
      {"pc passive 24 8 dir", passive + " untouched"},  // too short
      {"pc passive 24 256 dirsmall", passive + " untouched"},
      {"pc passive 24 256 dir", passive + " id=zero name='" + target + "' file='' param=''"},
      {"pc active 24 256 bad", own},  // no record can be read: only the size
  };
  std::vector<std::string> expected_lines;
  std::string script = "WXPNL\nfile one.txt data=first\ncurdir sub\\dir\n";
  for (const auto& c : cases) {
    script += "getfiles ask " + c.first + "\n";
    // The plugin's own panel is described by the plugin, which cannot ask for it in turn.
    if (c.first.find("passive") == std::string::npos) expected_lines.push_back("GetOpenPanelInfoW nested=0");
    expected_lines.push_back("GetFilesW " + c.first + " -> " + c.second);
  }
  const std::wstring archive = fm.WriteArchive(L"dir.pnl", script);
  ASSERT_NE(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  fm.ClearLog(L"Panels", L"panels_plugin.dll");
  EXPECT_EQ(extract_entries(fm, archive, dest, {}),
            (std::vector<std::string>{"one.txt=0", "end=" + std::to_string(wcx::E_END_ARCHIVE), "close=0"}));
  std::vector<std::string> asked;
  for (const auto& line : fm.Log(L"Panels", L"panels_plugin.dll"))
    if (line.rfind("GetFilesW pc", 0) == 0 || line.rfind("GetOpenPanelInfoW", 0) == 0) asked.push_back(line);
  EXPECT_EQ(asked, expected_lines);
  remove_tree(dest);
  EXPECT_TRUE(boxes.Texts().empty());
}

// FAR's current folder is the target folder of the extraction at hand, for each thread its own,
// while the process's current folder stays where the file manager has it.
TEST(Panels, CurrentFolderPerThreadWhileExtracting) {
  FileManager fm({kPanels});
  BoxWatcher boxes;
  wchar_t process[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, process);
  const std::wstring archive =
      fm.WriteArchive(L"cwd.pnl", "WXPNL\nfile one.txt data=x\ngetfiles meet\ngetfiles folder\n");
  ASSERT_NE(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  fm.ClearLog(L"Panels", L"panels_plugin.dll");
  const std::wstring dests[2] = {make_temp_folder() + L"\\", make_temp_folder() + L"\\"};
  std::vector<std::string> results[2];
  std::thread first([&] { results[0] = extract_entries(fm, archive, dests[0], {}); });
  std::thread second([&] { results[1] = extract_entries(fm, archive, dests[1], {}); });
  first.join();
  second.join();
  std::vector<std::string> expected;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i][0], "one.txt=0");
    const std::string folder = folder_form(dests[i]);
    wchar_t real[MAX_PATH];
    GetLongPathNameW(widen(folder).c_str(), real, MAX_PATH);
    expected.push_back("GetFilesW one.txt far=" + folder + " length=" + std::to_string(folder.size() + 1) +
                       " full=" + folder + "\\x.txt native=\\\\?\\" + folder + "\\x.txt real=" + narrow(real) +
                       " process=" + narrow(process));
  }
  std::vector<std::string> seen;
  int met = 0;
  for (const auto& line : fm.Log(L"Panels", L"panels_plugin.dll")) {
    if (line.rfind("GetFilesW one.txt far=", 0) == 0) seen.push_back(line);
    met += line == "GetFilesW meet both";
  }
  EXPECT_EQ(met, 2) << "both extractions were inside the plugin at once";
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
  wchar_t after[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, after);
  EXPECT_STREQ(after, process);
  for (const auto& dest : dests) remove_tree(dest);
  EXPECT_TRUE(boxes.Texts().empty());
}
