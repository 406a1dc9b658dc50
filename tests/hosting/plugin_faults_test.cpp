// Hardware faults and foreign exceptions inside plugin calls: the file manager survives, the
// call fails, and the plugin (or the next one) goes on working.
#include <gtest/gtest.h>

#include <algorithm>

#include "wexlor_harness.h"

using namespace wxt;

namespace {

const std::string kGood = "WXFIX\nfile a.txt size=3 data=abc\n";

// Each test runs once per kind of fault: a null write, integer division by zero, a foreign
// exception, and a stack overflow (more than once per thread, so the stack's guard page must come
// back after each; native processors only, as user-mode emulation ends the process instead).
class PluginFaults : public ::testing::TestWithParam<const char*> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Kinds, PluginFaults, ::testing::Values("fault", "divzero", "raise"));
INSTANTIATE_TEST_SUITE_P(NativeFaults, PluginFaults, ::testing::Values("overflow"));

TEST_P(PluginFaults, FaultInAnalyseRefusesTheFileAndTheModuleKeepsWorking) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring good = fm.WriteArchive(L"good.fix", kGood);
  for (int round = 0; round < 2; ++round) {
    const char* const kind = GetParam();
    SCOPED_TRACE(round);
    const std::wstring bad = fm.WriteArchive(L"bad.fix", kGood + "option " + kind + " AnalyseW\n");
    EXPECT_EQ(fm.CanYouHandleThisFileW(bad.c_str()), 0);
    int open_result = -1;
    EXPECT_TRUE(ListArchive(fm, bad, &open_result).empty());
    EXPECT_EQ(open_result, 15);  // E_EOPEN
    EXPECT_EQ(fm.CanYouHandleThisFileW(good.c_str()), -1);
    EXPECT_EQ(ListArchive(fm, good, &open_result).size(), 1u);
    EXPECT_EQ(open_result, 0);
  }
}

TEST_P(PluginFaults, FaultInOpenFailsTheOpenAndTheNextFileOpens) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring good = fm.WriteArchive(L"good.fix", kGood);
  for (int round = 0; round < 2; ++round) {
    const char* const kind = GetParam();
    SCOPED_TRACE(round);
    const std::wstring bad = fm.WriteArchive(L"bad.fix", kGood + "option " + kind + " OpenW\n");
    // Detection does not open: the file is accepted.
    EXPECT_EQ(fm.CanYouHandleThisFileW(bad.c_str()), -1);
    int open_result = -1;
    EXPECT_TRUE(ListArchive(fm, bad, &open_result).empty());
    EXPECT_EQ(open_result, 15);
    const auto entries = ListArchive(fm, good, &open_result);
    EXPECT_EQ(open_result, 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, L"a.txt");
  }
}

TEST(PluginOwnExceptions, PluginHandlingItsOwnExceptionKeepsWorking) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring archive =
      fm.WriteArchive(L"own.fix", kGood + "option selfhandled AnalyseW\noption selfhandled OpenW\n");
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  int open_result = -1;
  EXPECT_EQ(ListArchive(fm, archive, &open_result).size(), 1u);
  EXPECT_EQ(open_result, 0);
  // Its own handler ran first: OpenW went on to the end and its panel was listed and closed.
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  EXPECT_EQ(count_prefix(log, "GetFindDataW"), 1);
  EXPECT_EQ(count_prefix(log, "ClosePanelW"), 1);
}

TEST_P(PluginFaults, FaultWhileStartingSkipsThePluginAndDiscoveryGoesOn) {
  const char* const kind = GetParam();
  for (const char* entry : {"GetGlobalInfoW", "SetStartupInfoW"}) {
    {
      SCOPED_TRACE(entry);
      const std::string cfg = std::string("fault=") + entry + "\nfault_kind=" + kind + "\n";
      // Both folders hold the faulting plugin around a good one, whatever the find order.
      FileManager fm({{L"a", L"fixture_full.dll", L"", {{L"fixture.cfg", cfg}}},
                      {L"b", L"fixture_full.dll"},
                      {L"c", L"fixture_full.dll", L"", {{L"fixture.cfg", cfg}}}});
      const std::wstring archive = fm.WriteArchive(L"good.fix", kGood);
      EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
      int open_result = -1;
      EXPECT_EQ(ListArchive(fm, archive, &open_result).size(), 1u);
      fm.Unload();
      std::vector<std::string> started = {"GetGlobalInfoW"};
      if (std::string(entry) == "SetStartupInfoW") started.push_back("SetStartupInfoW");
      started.push_back("ExitFARW");  // the module was loaded, so it is told to exit before unloading
      EXPECT_EQ(entries_of(fm.Log(L"a", L"fixture_full.dll")), started);
      EXPECT_EQ(entries_of(fm.Log(L"c", L"fixture_full.dll")), started);
      const auto good = fm.Log(L"b", L"fixture_full.dll");
      EXPECT_EQ(count_prefix(good, "OpenW"), 1);
      EXPECT_EQ(count_prefix(good, "ExitFARW"), 1);
    }
  }
}

TEST(PluginExitFaults, FaultInExitStillUnloadsEveryPlugin) {
  const std::string cfg = "fault=ExitFARW\nfault_kind=fault\n";
  FileManager fm({{L"a", L"fixture_full.dll", L"", {{L"fixture.cfg", cfg}}},
                  {L"b", L"fixture_full.dll", L"", {{L"fixture.cfg", cfg}}}});
  const std::wstring archive = fm.WriteArchive(L"good.fix", kGood);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  const auto calls = read_lines(fm.Root() + qor::kPluginsFolder + L"\\calls.log");
  int exits = 0, detaches = 0;
  for (const auto& line : calls) {
    exits += line.find(" ExitFARW") != std::string::npos;
    detaches += line.find(" DllMain detach") != std::string::npos;
  }
  EXPECT_EQ(exits, 2);
  EXPECT_EQ(detaches, 2);
  // The file manager goes on: a fresh load works.
  fm.Load();
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
}
