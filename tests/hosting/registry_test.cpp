// Plugin discovery, loading and shut-down order, and the choice of the plugin that accepts a file,
// seen through the module's exports and the fixture plugins' call logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "pe_builder.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

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
  EXPECT_EQ(raw[1], "SetStartupInfoW size=140 fsf=200 module=" + narrow(fm.PluginFile(L"Fix", L"fixture_full.dll")));
}

TEST(Registry, ExportsAndConstantsNeedNoRegistry) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  EXPECT_EQ(fm.GetPackerCaps(), 991);
  EXPECT_EQ(fm.GetBackgroundFlags(), wcx::BACKGROUND_UNPACK | wcx::BACKGROUND_PACK);
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
  FileManager fm({{L"a", L"fixture_full.dll"}, {L"b", L"fixture_full.dll"}, {L"c", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  // The shared log shows the order across plugins: "<folder> <entry> ...".
  const auto calls = read_lines(fm.Root() + qor::kPluginsFolder + L"\\calls.log");
  std::vector<std::string> discovered, analysed, exited, detached;
  for (const auto& line : calls) {
    const std::string folder = line.substr(0, line.find(' '));
    const std::string rest = line.substr(line.find(' ') + 1);
    if (rest.compare(0, 14, "GetGlobalInfoW") == 0) discovered.push_back(folder);
    if (rest.compare(0, 8, "AnalyseW") == 0) analysed.push_back(folder);
    if (rest.compare(0, 8, "ExitFARW") == 0) {
      exited.push_back(folder);
      // Still loaded when told to exit.
      EXPECT_EQ(std::count(detached.begin(), detached.end(), folder), 0) << folder;
    }
    if (rest == "DllMain detach") detached.push_back(folder);
  }
  ASSERT_EQ(discovered.size(), 3u);
  // Only the first discovered plugin is asked: it accepts.
  EXPECT_EQ(analysed, std::vector<std::string>{discovered[0]});
  // ExitFARW exactly once each, last discovered first; then every DLL is unloaded.
  EXPECT_EQ(exited, std::vector<std::string>(discovered.rbegin(), discovered.rend()));
  std::sort(detached.begin(), detached.end());
  EXPECT_EQ(detached, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(Registry, CreatedOnceWhenManyThreadsAskFirst) {
  FileManager fm({{L"a", L"fixture_full.dll"}, {L"b", L"fixture_min.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  constexpr int kThreads = 6;
  std::atomic<int> ready{0};
  std::atomic<int> accepted{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&] {
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      if (fm.CanYouHandleThisFileW(archive.c_str()) == -1) ++accepted;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted, kThreads);
  fm.Unload();
  const auto a = fm.Log(L"a", L"fixture_full.dll");
  const auto b = fm.Log(L"b", L"fixture_min.dll");
  EXPECT_EQ(count_prefix(a, "GetGlobalInfoW"), 1);
  EXPECT_EQ(count_prefix(a, "SetStartupInfoW"), 1);
  EXPECT_EQ(count_prefix(b, "GetGlobalInfoW"), 1);
  // Whichever of the two was discovered first answered every thread.
  EXPECT_EQ(count_prefix(a, "AnalyseW") + count_prefix(b, "AnalyseW"), kThreads);
}

TEST(Registry, FindPluginClosesItsAnalysisAndFindPluginAndOpenDoesNot) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  const std::string file = narrow(archive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  auto log = fm.Log(L"Fix", L"fixture_full.dll");
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "AnalyseW file=" + file + " size=" + std::to_string(kArchive.size()) +
                        " buffer=set opmode=128 struct=32");
  EXPECT_EQ(log[3], "CloseAnalyseW handle=0xa11a");

  fm.ClearLog(L"Fix", L"fixture_full.dll");
  int open_result = -1;
  const auto entries = ListArchive(fm, archive, &open_result);
  EXPECT_EQ(open_result, 0);
  EXPECT_EQ(entries.size(), 1u);
  log = fm.Log(L"Fix", L"fixture_full.dll");
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].substr(0, log[0].find(" size=")), "AnalyseW file=" + file);
  // OPEN_ANALYSE, and Data leads to the analyse handle and the same file.
  EXPECT_EQ(log[1], "OpenW from=9 handle=0xa11a file=" + file);
  EXPECT_EQ(count_prefix(log, "CloseAnalyseW"), 0);
}

TEST(Registry, OpenWReturningZeroEndsTheSearch) {
  FileManager fm({{L"a", L"fixture_full.dll"}, {L"b", L"fixture_full.dll"}});
  const std::wstring archive = fm.WriteArchive(L"zero.fix", "WXFIX\noption open_zero\n");
  int open_result = -1;
  EXPECT_TRUE(ListArchive(fm, archive, &open_result).empty());
  EXPECT_EQ(open_result, 15);  // E_EOPEN
  fm.Unload();
  const auto a = fm.Log(L"a", L"fixture_full.dll");
  const auto b = fm.Log(L"b", L"fixture_full.dll");
  // One of them was discovered first, opened with 0, and the other was never asked.
  EXPECT_EQ(count_prefix(a, "OpenW") + count_prefix(b, "OpenW"), 1);
  EXPECT_EQ(count_prefix(a, "AnalyseW") + count_prefix(b, "AnalyseW"), 1);
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
  RemoveDirectoryW((fm.Root() + qor::kPluginsFolder).c_str());
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFile(narrow(archive).c_str()), 0);
}

// A 64-bit DLL in Plugins32, or a 32-bit one in Plugins64: the loader refuses it (193).
TEST(Registry, DllOfTheOtherBitnessPassesTheNameFilterAndIsSkippedWhenLoading) {
  PeOptions options;
  options.amd64 = !kTarget64;
  options.code = true;
  options.names = {"AnalyseW", "GetFilesW", "GetFindDataW", "GetGlobalInfoW", "OpenW"};
  const std::string foreign = BuildPe(options).bytes;
  // Around the good plugin in find order, whichever order the file system gives.
  FileManager fm({{L"a", L"", L"", {{L"other.dll", foreign}}},
                  {L"b", L"fixture_full.dll", L"", {{L"0.dll", foreign}, {L"z.dll", foreign}}},
                  {L"c", L"", L"", {{L"other.dll", foreign}}}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
  fm.Unload();
  const auto log = entries_of(fm.Log(L"b", L"fixture_full.dll"));
  const std::vector<std::string> expected = {"GetGlobalInfoW", "SetStartupInfoW", "AnalyseW", "CloseAnalyseW",
                                             "ExitFARW"};
  EXPECT_EQ(log, expected);
}

TEST(Registry, EveryPluginIsAskedAboutAnEmptyFileWithoutABuffer) {
  FileManager fm({{L"a", L"fixture_full.dll"}, {L"b", L"fixture_min.dll"}});
  const std::wstring empty = fm.WriteArchive(L"empty.bin", "");
  EXPECT_EQ(fm.CanYouHandleThisFileW(empty.c_str()), 0);
  const std::string expected = "AnalyseW file=" + narrow(empty) + " size=0 buffer=null opmode=128 struct=32";
  for (const auto& log : {fm.Log(L"a", L"fixture_full.dll"), fm.Log(L"b", L"fixture_min.dll")}) {
    EXPECT_EQ(count_prefix(log, "AnalyseW"), 1);
    EXPECT_NE(std::find(log.begin(), log.end(), expected), log.end());
  }
}

namespace {

// A plugin's record in the settings file as a module writes it: enabled or not, its title, and its
// DLLs below the plugins folder AFolderValue (Plugins32 or Plugins64) of the module that found them.
std::string plugin_record(const std::string& AGuid, bool AEnabled, const std::wstring& AFolderValue,
                          const std::string& AFiles) {
  return "[{85EF421E-98B8-4483-95F3-1682C39F60DD} roaming \"Plugins\" \"" + AGuid + "\"]\n" +
         "qword \"Enabled\" = " + (AEnabled ? "1" : "0") + "\nstring \"Title\" = \"Kept\"\n" + "string \"" +
         narrow(AFolderValue) + "\" = \"" + AFiles + "\"\n";
}

std::wstring hosted_plugins(FileManager& AFm) {
  const int size = AFm.ListHostedPluginsW(nullptr, 0);
  std::wstring text(static_cast<size_t>(size > 0 ? size : 1), L'\0');
  AFm.ListHostedPluginsW(text.data(), size);
  return text.c_str();
}

}  // namespace

// Both modules share the settings file; the test writes it as the other one would have.
TEST(Registry, APluginTheOtherModuleDisabledIsNeverLoadedHere) {
  const std::string disabled = "{5758F1A0-1111-2222-0102-0304050607D1}";
  const std::string other = "{5758F1A0-1111-2222-0102-0304050607D2}";
  struct Case {
    const char* name;
    std::string plugin_guid;  // the GUID the DLL in folder "a" reports
    std::string records;
    bool loaded;
  };
  const Case cases[] = {
      {"disabled there, in a folder of this name", disabled,
       plugin_record(disabled, false, qor::kOtherPluginsFolder, "a\\\\x.dll"), false},
      {"the same, letter case aside", disabled,
       plugin_record(disabled, false, qor::kOtherPluginsFolder, "other\\\\o.dll|A\\\\x.dll"), false},
      {"disabled here, as files written before record it", disabled,
       plugin_record(disabled, false, qor::kPluginsFolder, "a\\\\fixture_full.dll"), false},
      {"enabled there", disabled, plugin_record(disabled, true, qor::kOtherPluginsFolder, "a\\\\x.dll"), true},
      {"disabled there, in another folder", other,
       plugin_record(disabled, false, qor::kOtherPluginsFolder, "z\\\\x.dll"), true},
      // This module has noted what the folder holds: another plugin, enabled.
      {"another plugin here", other,
       plugin_record(disabled, false, qor::kOtherPluginsFolder, "a\\\\x.dll") +
           plugin_record(other, true, qor::kPluginsFolder, "a\\\\fixture_full.dll"),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileManager fm({{L"a", L"fixture_full.dll", L"", {{L"fixture.cfg", "guid=" + c.plugin_guid + "\n"}}}}, false);
    write_file(fm.SettingsFile(), c.records);
    fm.Load();
    const std::wstring listed = hosted_plugins(fm);
    const std::wstring dll = fm.PluginFile(L"a", L"fixture_full.dll");
    // Not loaded: its DllMain never ran, nor GetGlobalInfoW; the list shows what was kept of it.
    EXPECT_EQ(file_exists(dll + L".loaded"), c.loaded);
    EXPECT_EQ(count_prefix(fm.Log(L"a", L"fixture_full.dll"), "GetGlobalInfoW"), c.loaded ? 1 : 0);
    const std::wstring expected = c.loaded ? L"1\t1\tFixture\t1.2.3.4\t" : L"1\t0\tKept\t\t";
    EXPECT_EQ(listed.substr(0, expected.size()), expected) << narrow(listed);
  }
}
