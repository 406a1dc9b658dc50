// The host tables as a plugin sees them: the fixture calls its host during OpenW (its "call"
// lines) and logs each result; the box watcher records exactly which warning boxes appeared.
#include <gtest/gtest.h>

#include "wexlor_harness.h"

using namespace wxt;

namespace {

std::vector<std::string> call_results(const std::vector<std::string>& ALog) {
  std::vector<std::string> calls;
  for (const auto& line : ALog)
    if (line.compare(0, 5, "call ") == 0) calls.push_back(line.substr(5));
  return calls;
}

// Opens an archive whose OpenW makes the given host calls; returns the logged results.
std::vector<std::string> run_calls(FileManager& AFm, const std::string& ACalls) {
  AFm.ClearLog(L"Fix", L"fixture_full.dll");
  const std::wstring archive = AFm.WriteArchive(L"calls.fix", "WXFIX\nfile a.txt size=1\n" + ACalls);
  int open_result = -1;
  ListArchive(AFm, archive, &open_result);
  EXPECT_EQ(open_result, 0);
  return call_results(AFm.Log(L"Fix", L"fixture_full.dll"));
}

}  // namespace

TEST(HostTables, PluginSeesFarsTableSizes) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\n");
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1].substr(0, log[1].find(" module=")), "SetStartupInfoW size=140 fsf=200");
}

TEST(HostTables, SilentMessagesWarningsAdvControlAndScreenServices) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  BoxWatcher boxes;
  const auto calls = run_calls(fm,
                               "call Message 16 0\n"
                               "call Message 0x100000000 0\n"
                               "call Viewer 0x100000000\n"
                               "call ShowHelp 0x80000000\n"
                               "call AdvControl 22\n"
                               "call AdvControl 21\n"
                               "call AdvControl 27\n"
                               "call AdvControl 23\n"
                               "call SaveScreen\n");
  const std::vector<std::string> expected = {
      "Message -> -1 stack=same",    // plain status text: silent
      "Message -> -1 stack=same",    // bit 32 is no button set: silent
      "Viewer -> 0 stack=same",      // not offered: warns
      "ShowHelp -> 0 stack=same",    // not offered: warns
      "AdvControl -> 0 stack=same",  // progress value without its record: refused, as FAR does
      "AdvControl -> 1 stack=same",  // progress state
      "AdvControl -> 1 stack=same",  // progress notify
      "AdvControl -> 0 stack=same",  // anything else (here ACTL_QUIT): warns
      "SaveScreen -> 1 stack=same",  // and RestoreScreen of it and of a foreign handle: silent
  };
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(boxes.Texts(), (std::vector<std::wstring>{L"FarApiViewer", L"FarApiShowHelp", L"FarApiAdvControl"}));
}

TEST(HostTables, WarningEntriesIncludingTheSlotsOfNewerHeaders) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  BoxWatcher boxes;
  const auto calls = run_calls(fm,
                               "call KeyName\n"
                               "call NameToKey\n"
                               "call Menu 0x100000001\n"
                               "call FreeScreen\n"
                               "call AdvControl 21\n");
  const std::vector<std::string> expected = {
      "KeyName -> 0 untouched stack=same",  // the buffer is not written
      "NameToKey -> 0 0 stack=same",        // nor the record
      "Menu -> 0 stack=same",               // 64-bit flags among 13 arguments
      "FreeScreen -> void stack=same",
      "AdvControl -> 1 stack=same",  // the plugin goes on calling after all of them
  };
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(boxes.Texts(), (std::vector<std::wstring>{L"FarStdInputRecordToKeyName", L"FarStdKeyNameToInputRecord",
                                                      L"FarApiMenu", L"FarApiFreeScreen"}));
}

// Offered standard functions answer without a box, popping what their convention says, including
// the cdecl formatted-text entry and the slots appended by newer headers.
TEST(HostTables, OfferedStandardFunctionsFromAPlugin) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  BoxWatcher boxes;
  const auto calls = run_calls(fm,
                               "call Atoi\n"
                               "call Sprintf\n"
                               "call FarClock\n"
                               "call CompareStrings\n"
                               "call DetectCodePage\n");
  const std::vector<std::string> expected = {
      "Atoi -> 42 stack=same",
      "Sprintf -> 17 5|1099511627776|w stack=same",  // cdecl: the caller pops
      "FarClock -> ticking stack=same",
      "CompareStrings -> -1 stack=same",
      "DetectCodePage -> 0 stack=same",  // a null record
  };
  EXPECT_EQ(calls, expected);
  EXPECT_TRUE(boxes.Texts().empty());
}
