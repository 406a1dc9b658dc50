// Extraction as file managers drive it, through the module and the scriptable fixture plugin: the
// plugin calls while a whole archive or a part of it is extracted (read-ahead), the staging folder
// beside the target, per-entry results when a call fails or faults, testing, and two archives on
// two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "archive_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};
using Lines = std::vector<std::string>;

// The plugin's GetFilesW calls as the log has them, ARoot shown as "<out>\" and staging folders
// as "<staging>".
Lines get_files_calls(const FileManager& AFm, const std::wstring& ARoot) {
  Lines calls;
  const std::string root = narrow(ARoot);
  for (std::string line : AFm.Log(L"Fix", L"fixture_full.dll")) {
    if (fixture_log_name(line) != "GetFilesW") continue;
    for (size_t p; (p = line.find(root)) != std::string::npos;) line.replace(p, root.size(), "<out>\\");
    calls.push_back(without_staging(line));
  }
  return calls;
}

struct ExtractionFixture : ::testing::Test {
  FileManager fm{{kFull}};
  std::wstring dest = fm.Root() + L"out\\";
  void SetUp() override { CreateDirectoryW(dest.c_str(), nullptr); }
  Lines calls() const { return get_files_calls(fm, dest); }
};

}  // namespace

// A whole archive: the first entry of a folder is asked for alone, the rest of the folder in one
// call, and once that folder has been walked the folders (and files) that follow in one more.
TEST_F(ExtractionFixture, ReadAheadTakesTheRestOfAFolderAndThenTheFoldersThatFollow) {
  std::string script = "WXFIX\n";
  for (int d = 0; d < 4; ++d) script += "dir d" + std::to_string(d) + "\n" + files_script("d" + std::to_string(d) + "\\f", 10);
  script += "file z.txt data=z\n";
  const std::wstring archive = fm.WriteArchive(L"tree.fix", script);
  const Lines results = extract_entries(fm, archive, dest, {});
  ASSERT_EQ(results.size(), 4u * 11 + 1 + 2);
  for (const auto& r : results) EXPECT_TRUE(r == "end=10" || r.substr(r.size() - 2) == "=0") << r;
  for (int d = 0; d < 4; ++d)
    for (int f = 0; f < 10; ++f) {
      const std::string name = "d" + std::to_string(d) + "\\f" + std::to_string(f);
      EXPECT_EQ(read_file(dest + widen(name)), name);
    }
  EXPECT_EQ(read_file(dest + L"z.txt"), "z");
  const Lines expected = {
      "GetFilesW item=f0 dest=<out>\\<staging>\\ cwd=d0 count=1 opmode=1",
      "GetFilesW item=f1,f2,f3,f4,f5,f6,f7,f8,f9 dest=<out>\\<staging>\\ cwd=d0 count=9 opmode=1",
      "GetFilesW item=d1,d2,d3,z.txt dest=<out>\\<staging>\\ cwd= count=4 opmode=1",
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_TRUE(staging_folders(dest).empty());
}

// One entry picked from a big folder is one call for that entry; a second pick far on reads
// ahead a little; skipped entries that were fetched go at once.
TEST_F(ExtractionFixture, PickedEntriesStayCallsOfTheirOwn) {
  const std::wstring archive = fm.WriteArchive(L"big.fix", "WXFIX\n" + files_script("f", 40));
  Steps fm_steps(fm, archive, dest);
  const std::string picks = std::string(17, 's') + "x" + std::string(12, 's') + "x" + std::string(9, 's');
  const Lines results = fm_steps.steps(picks);
  EXPECT_EQ(results[17], "f17=0");
  EXPECT_EQ(results[30], "f30=0");
  EXPECT_EQ(fm_steps.close(), 0);
  const Lines expected = {
      "GetFilesW item=f17 dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=f30,f31,f32 dest=<out>\\<staging>\\ cwd= count=3 opmode=1",
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_EQ(read_file(dest + L"f17"), "f17");
  EXPECT_EQ(read_file(dest + L"f30"), "f30");
  EXPECT_FALSE(file_exists(dest + L"f31"));
  EXPECT_TRUE(staging_folders(dest).empty());
}

// The call for several entries fails for one damaged entry: each is asked for again alone, the
// damaged one gets its own error and the others are extracted.
TEST_F(ExtractionFixture, DamagedEntryInABatchFailsAloneAndItsNeighboursAreExtracted) {
  const std::wstring archive =
      fm.WriteArchive(L"damaged.fix", "WXFIX\nfile a data=a\nfile b data=b\nfile c data=c result=0\nfile d data=d\n"
                                      "file e data=e\n");
  EXPECT_EQ(extract_entries(fm, archive, dest, {}),
            (Lines{"a=0", "b=0", "c=" + std::to_string(wcx::E_BAD_DATA), "d=0", "e=0", "end=10", "close=0"}));
  for (const char* name : {"a", "b", "d", "e"}) EXPECT_EQ(read_file(dest + widen(name)), name);
  EXPECT_FALSE(file_exists(dest + L"c"));
  const Lines expected = {
      "GetFilesW item=a dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=b,c,d,e dest=<out>\\<staging>\\ cwd= count=4 opmode=1",
      "GetFilesW item=b dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=c dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=d dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=e dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_TRUE(staging_folders(dest).empty());
}

TEST_F(ExtractionFixture, SkippingAnEntryFetchedAheadDeletesItAtOnce) {
  const std::wstring archive = fm.WriteArchive(L"four.fix", "WXFIX\n" + files_script("f", 4));
  Steps fm_steps(fm, archive, dest);
  EXPECT_EQ(fm_steps.steps("xx"), (Lines{"f0=0", "f1=0"}));
  const auto dests = get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"));
  ASSERT_EQ(dests.size(), 2u);
  const std::wstring ahead = dests[1];
  EXPECT_EQ(read_file(ahead + L"f2"), "f2");
  EXPECT_EQ(read_file(ahead + L"f3"), "f3");
  EXPECT_EQ(fm_steps.step('s'), "f2=0");
  EXPECT_FALSE(file_exists(ahead + L"f2"));
  EXPECT_TRUE(file_exists(ahead + L"f3"));
  EXPECT_EQ(fm_steps.step('x'), "f3=0");
  EXPECT_FALSE(file_exists(ahead + L"f3"));
  EXPECT_EQ(fm_steps.close(), 0);
  EXPECT_EQ(read_file(dest + L"f3"), "f3");
  EXPECT_FALSE(file_exists(dest + L"f2"));
  EXPECT_EQ(calls().size(), 2u);
  EXPECT_TRUE(staging_folders(dest).empty());
}

// The staging folder: hidden, in the folder the file manager extracts into, one per archive with
// a name of its own, and gone when its archive is closed.
TEST_F(ExtractionFixture, EachArchiveHasAHiddenStagingFolderBesideTheTargetUntilItCloses) {
  const std::wstring first = fm.WriteArchive(L"first.fix", "WXFIX\n" + files_script("a", 3));
  const std::wstring second = fm.WriteArchive(L"second.fix", "WXFIX\n" + files_script("b", 3));
  Steps one(fm, first, dest), two(fm, second, dest);
  EXPECT_EQ(one.step('x'), "a0=0");
  EXPECT_EQ(two.step('x'), "b0=0");
  const auto folders = staging_folders(dest);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_NE(folders[0].first, folders[1].first);
  for (const auto& folder : folders) EXPECT_TRUE(folder.second & FILE_ATTRIBUTE_HIDDEN) << narrow(folder.first);
  // Each plugin call went into a folder of its archive's staging folder.
  std::set<std::wstring> roots;
  for (const auto& d : get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"))) {
    ASSERT_EQ(d.compare(0, dest.size(), dest), 0) << narrow(d);
    roots.insert(d.substr(dest.size(), d.find(L'\\', dest.size()) - dest.size()));
  }
  EXPECT_EQ(roots, (std::set<std::wstring>{folders[0].first, folders[1].first}));
  EXPECT_EQ(one.steps("xx"), (Lines{"a1=0", "a2=0"}));
  EXPECT_EQ(one.close(), 0);
  EXPECT_EQ(staging_folders(dest).size(), 1u);
  EXPECT_EQ(two.step('s'), "b1=0");
  EXPECT_EQ(two.close(), 0);
  EXPECT_TRUE(staging_folders(dest).empty());
}

// A fault in the middle of a call for several entries: the staging folder it wrote into goes,
// the entry that asked is asked for again alone, and so is every other; the faulting one gets its
// own error.
TEST_F(ExtractionFixture, FaultInTheMiddleOfABatchRemovesTheStagingFolder) {
  const std::wstring archive =
      fm.WriteArchive(L"fault.fix", "WXFIX\nfile a data=a\nfile b data=b\nfile c data=c crash\nfile d data=d\n");
  Steps fm_steps(fm, archive, dest);
  EXPECT_EQ(fm_steps.steps("xx"), (Lines{"a=0", "b=0"}));
  const auto dests = get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"));
  ASSERT_EQ(dests.size(), 3u);
  const std::wstring faulted = dests[1];
  const std::wstring faulted_staging = faulted.substr(0, faulted.find(L'\\', dest.size()) + 1);
  EXPECT_FALSE(file_exists(faulted_staging));
  EXPECT_NE(dests[2].compare(0, faulted_staging.size(), faulted_staging), 0) << "a new staging folder";
  EXPECT_EQ(fm_steps.steps("xx"), (Lines{"c=" + std::to_string(wcx::E_EREAD), "d=0"}));
  EXPECT_EQ(fm_steps.step('x'), "end=10");
  EXPECT_EQ(fm_steps.close(), 0);
  for (const char* name : {"a", "b", "d"}) EXPECT_EQ(read_file(dest + widen(name)), name);
  EXPECT_FALSE(file_exists(dest + L"c"));
  const Lines expected = {
      "GetFilesW item=a dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=b,c,d dest=<out>\\<staging>\\ cwd= count=3 opmode=1",
      "GetFilesW item=b dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=c dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
      "GetFilesW item=d dest=<out>\\<staging>\\ cwd= count=1 opmode=1",
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_TRUE(staging_folders(dest).empty());
}

// Testing: the plugin extracts each entry (ahead, too) into a staging folder in the temporary
// folder, which goes with the archive; its verdict is the entry's result.
TEST_F(ExtractionFixture, TestingGivesThePluginsVerdictPerEntryAndLeavesNothing) {
  const std::wstring archive = fm.WriteArchive(
      L"test.fix", "WXFIX\ndir d\n" + files_script("d\\f", 3) + "file d\\bad data=x result=0\n" + files_script("d\\g", 2));
  Steps fm_steps(fm, archive, dest);
  EXPECT_EQ(fm_steps.steps("ttttttt"), (Lines{"d=0", "d\\f0=0", "d\\f1=0", "d\\f2=0",
                                             "d\\bad=" + std::to_string(wcx::E_BAD_DATA), "d\\g0=0", "d\\g1=0"}));
  EXPECT_EQ(fm_steps.step('t'), "end=10");
  const auto dests = get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"));
  ASSERT_FALSE(dests.empty());
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  std::set<std::wstring> stagings;
  for (const auto& d : dests) {
    ASSERT_EQ(_wcsnicmp(d.c_str(), temp, wcslen(temp)), 0) << narrow(d);
    stagings.insert(d.substr(0, d.find(L'\\', wcslen(temp)) + 1));
  }
  EXPECT_EQ(fm_steps.close(), 0);
  for (const auto& staging : stagings) EXPECT_FALSE(file_exists(staging)) << narrow(staging);
  const Lines expected = {
      "GetFilesW item=f0 dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
      "GetFilesW item=f1,f2,bad,g0,g1 dest=" + narrow(temp) + "<staging>\\ cwd=d count=5 opmode=1",
      "GetFilesW item=f1 dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
      "GetFilesW item=f2 dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
      "GetFilesW item=bad dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
      "GetFilesW item=g0 dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
      "GetFilesW item=g1 dest=" + narrow(temp) + "<staging>\\ cwd=d count=1 opmode=1",
  };
  EXPECT_EQ(calls(), expected);
  EXPECT_TRUE(staging_folders(dest).empty());
  EXPECT_FALSE(file_exists(dest + L"d"));
}

// Two archives extracted into one folder on two threads at once: each has its own staging
// folder, every entry reaches its own target, and nothing is left.
TEST(ExtractionThreads, TwoArchivesOnTwoThreadsKeepTheirOwnStaging) {
  FileManager fm({kFull});
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  std::wstring archives[2];
  for (int a = 0; a < 2; ++a) {
    const std::string prefix = a ? "b" : "a";
    // Both staging folders go into the one destination folder.
    std::string script = "WXFIX\n" + files_script(prefix + "r", 30, "x" + prefix);
    for (int d = 0; d < 3; ++d) {
      const std::string folder = prefix + std::to_string(d);
      script += "dir " + folder + "\n" + files_script(folder + "\\f", 30, "x" + prefix);
    }
    archives[a] = fm.WriteArchive(widen(prefix) + L".fix", script);
  }
  std::atomic<int> ready{0};
  Lines results[2];
  auto run = [&](int AIndex) {
    ++ready;
    while (ready < 2) std::this_thread::yield();
    results[AIndex] = extract_entries(fm, archives[AIndex], dest, {});
  };
  std::thread first(run, 0), second(run, 1);
  first.join();
  second.join();
  for (int a = 0; a < 2; ++a) {
    SCOPED_TRACE(a);
    ASSERT_EQ(results[a].size(), 30u + 3 * 31 + 2);
    for (const auto& r : results[a]) EXPECT_TRUE(r == "end=10" || r.substr(r.size() - 2) == "=0") << r;
    const std::string prefix = a ? "b" : "a";
    for (int f = 0; f < 30; ++f) {
      const std::string name = prefix + "r" + std::to_string(f);
      EXPECT_EQ(read_file(dest + widen(name)), name + "x" + prefix);
    }
    for (int d = 0; d < 3; ++d)
      for (int f = 0; f < 30; ++f) {
        const std::string name = prefix + std::to_string(d) + "\\f" + std::to_string(f);
        EXPECT_EQ(read_file(dest + widen(name)), name + "x" + prefix);
      }
  }
  // Each archive read ahead, each into its own staging folder.
  std::set<std::wstring> stagings;
  size_t batches = 0;
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  for (const auto& line : log) batches += line.find(" count=1 ") == std::string::npos && fixture_log_name(line) == "GetFilesW";
  for (const auto& d : get_files_dests(log)) {
    const size_t at = d.find(L".wexlor-");
    ASSERT_NE(at, std::wstring::npos) << narrow(d);
    EXPECT_EQ(d.substr(0, at), dest);
    stagings.insert(d.substr(0, d.find(L'\\', at)));
  }
  EXPECT_EQ(stagings.size(), 2u);
  EXPECT_GE(batches, 4u);
  EXPECT_TRUE(staging_folders(dest).empty());
}
