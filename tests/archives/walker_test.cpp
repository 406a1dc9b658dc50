// The order of calls on the plugin while a file manager lists, extracts and closes: checked line by
// line against the fixture's call log, interleaved with the file manager's own calls.
#include <gtest/gtest.h>

#include "archive_util.h"

using namespace wxt;

namespace {

using Lines = std::vector<std::string>;

// Opens AScript with the given variant, then for each character of ASteps: 'r' ReadHeaderExW
// (+ skip), 'x' ReadHeaderExW + extract into Root()\out\, 'c' CloseArchive. Returns the trace.
Lines run(const std::wstring& ADll, const std::string& AScript, const std::string& ASteps) {
  FileManager fm({{L"Fix", ADll}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", AScript);
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  HANDLE h = open_archive(fm, archive, wcx::PK_OM_EXTRACT);
  if (!h) return {"open failed"};
  CallTrace trace(fm, L"Fix", ADll);
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  for (char step : ASteps) {
    if (step == 'c') {
      trace.Step("close " + std::to_string(fm.CloseArchive(h)));
      continue;
    }
    const int rc = fm.ReadHeaderExW(h, header.get());
    trace.Step(rc == 0 ? "read " + narrow(header->FileName) : "read rc=" + std::to_string(rc));
    if (rc != 0) continue;
    if (step == 'x') {
      const int result = fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), L"whatever");
      std::string line = "extract " + std::to_string(result);
      trace.Step(line);
    } else {
      fm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr);
    }
  }
  Lines lines = trace.Lines();
  // The destination differs per run; the tests compare the rest.
  const std::string d = narrow(dest);
  for (auto& l : lines) {
    for (size_t p; (p = l.find(d)) != std::string::npos;) l.replace(p, d.size(), "<out>\\");
    l = without_staging(l);
  }
  return lines;
}

const std::wstring kFull = L"fixture_full.dll";

}  // namespace

TEST(Walk, FolderIsEnteredOneCallAfterItsEntryAndLeftBeforeTheNextSibling) {
  const Lines expected = {
      "read a",
      "  GetFindDataW cwd= struct=32",
      "read a\\x",
      "  SetDirectoryW dir=a cwd= user=7 struct=32 result=1",
      "  GetFindDataW cwd=a struct=32",
      "read b",
      "  FreeFindDataW cwd=a count=1",
      "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1",
      "read rc=10",
      "close 0",
      "  FreeFindDataW cwd= count=2",
      "  ClosePanelW cwd=",
  };
  EXPECT_EQ(run(kFull, "WXFIX\ndir a user=7\nfile a\\x size=1\nfile b size=1\n", "rrrrc"), expected);
}

TEST(Walk, EmptyFolderYieldsItsOwnEntryAndIsLeftOnTheNextCall) {
  const Lines expected = {
      "read e",
      "  GetFindDataW cwd= struct=32",
      "read f",
      "  SetDirectoryW dir=e cwd= user=0 struct=32 result=1",
      "  GetFindDataW cwd=e struct=32",
      "  FreeFindDataW cwd=e count=0",
      "  SetDirectoryW dir=.. cwd=e user=0 struct=32 result=1",
      "read rc=10",
      "close 0",
      "  FreeFindDataW cwd= count=2",
      "  ClosePanelW cwd=",
  };
  EXPECT_EQ(run(kFull, "WXFIX\ndir e\nfile f size=1\n", "rrrc"), expected);
}

TEST(Walk, ExtractAfterASubFolderHappensBackInTheFolder) {
  const Lines expected = {
      "read a",
      "  GetFindDataW cwd= struct=32",
      "read a\\s",
      "  SetDirectoryW dir=a cwd= user=0 struct=32 result=1",
      "  GetFindDataW cwd=a struct=32",
      "read a\\s\\y",
      "  SetDirectoryW dir=s cwd=a user=0 struct=32 result=1",
      "  GetFindDataW cwd=a\\s struct=32",
      "read a\\f",
      "  FreeFindDataW cwd=a\\s count=1",
      "  SetDirectoryW dir=.. cwd=a\\s user=0 struct=32 result=1",
      "extract 0",
      // Into the staging folder the module keeps in the target's folder.
      "  GetFilesW item=f dest=<out>\\<staging>\\ cwd=a count=1 opmode=1",
      "close 0",
      "  FreeFindDataW cwd=a count=2",
      "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1",
      "  FreeFindDataW cwd= count=1",
      "  ClosePanelW cwd=",
  };
  EXPECT_EQ(run(kFull, "WXFIX\ndir a\ndir a\\s\nfile a\\s\\y size=1\nfile a\\f data=f\n", "rrrxc"), expected);
}

TEST(Walk, ClosingThreeLevelsDeepGoesUpOneLevelAtATimeDeepestFirst) {
  const Lines expected = {
      "close 0",
      "  FreeFindDataW cwd=a\\b\\c count=1",
      "  SetDirectoryW dir=.. cwd=a\\b\\c user=0 struct=32 result=1",
      "  FreeFindDataW cwd=a\\b count=1",
      "  SetDirectoryW dir=.. cwd=a\\b user=0 struct=32 result=1",
      "  FreeFindDataW cwd=a count=1",
      "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1",
      "  FreeFindDataW cwd= count=2",
      "  ClosePanelW cwd=",
  };
  const Lines lines = run(kFull, "WXFIX\ndir a\ndir a\\b\ndir a\\b\\c\nfile a\\b\\c\\z size=1\nfile tail size=1\n",
                          "rrrrc");
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(lines[lines.size() - expected.size() - 3], "read a\\b\\c\\z");
  EXPECT_EQ(Lines(lines.end() - expected.size(), lines.end()), expected);
}

TEST(Walk, FreeDataOnlyForItemsWithBothUserDataAndFreeData) {
  const Lines expected = {
      "read both",   "  GetFindDataW cwd= struct=32",
      "read data",   "read callback",
      "read rc=10",  "close 0",
      "  FreeData data=5 struct=8",
      "  FreeFindDataW cwd= count=3",
      "  ClosePanelW cwd=",
  };
  EXPECT_EQ(run(kFull, "WXFIX\nfile both user=5 free\nfile data user=6\nfile callback free\n", "rrrrc"), expected);
}

TEST(Walk, DotItemsAreNeitherEnteredNorHandedOut) {
  const Lines expected = {
      "read a",
      "  GetFindDataW cwd= struct=32",
      "read a\\x",
      "  SetDirectoryW dir=a cwd= user=0 struct=32 result=1",
      "  GetFindDataW cwd=a struct=32",
      "read rc=10",
      "  FreeFindDataW cwd=a count=3",
      "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1",
      "close 0",
      "  FreeFindDataW cwd= count=3",
      "  ClosePanelW cwd=",
  };
  EXPECT_EQ(run(kFull, "WXFIX\ndir .\ndir ..\ndir a\ndir a\\..\nfile a\\x size=1\ndir a\\.\n", "rrrc"), expected);
}

TEST(Walk, VariantsWithoutOptionalExports) {
  const std::string script = "WXFIX\ndir a user=3 free\nfile a\\x size=1\nfile b size=1\n";
  struct Case {
    const wchar_t* dll;
    Lines expected;
  } cases[] = {
      // Folders are handed out but never entered.
      {L"fixture_nosetdir.dll",
       {"read a", "  GetFindDataW cwd= struct=32", "read b", "read rc=10", "read rc=10", "close 0",
        "  FreeData data=3 struct=8",
        "  FreeFindDataW cwd= count=2", "  ClosePanelW cwd="}},
      // Listings are never released, FreeData included.
      {L"fixture_nofree.dll",
       {"read a", "  GetFindDataW cwd= struct=32", "read a\\x", "  SetDirectoryW dir=a cwd= user=3 struct=32 result=1",
        "  GetFindDataW cwd=a struct=32", "read b", "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1",
        "read rc=10", "close 0", "  ClosePanelW cwd="}},
      // Nothing closes the panel.
      {L"fixture_noclose.dll",
       {"read a", "  GetFindDataW cwd= struct=32", "read a\\x", "  SetDirectoryW dir=a cwd= user=3 struct=32 result=1",
        "  GetFindDataW cwd=a struct=32", "read b", "  FreeFindDataW cwd=a count=1",
        "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1", "read rc=10", "close 0",
        "  FreeData data=3 struct=8", "  FreeFindDataW cwd= count=2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.dll));
    EXPECT_EQ(run(c.dll, script, "rrrrc"), c.expected);
  }
}

TEST(Walk, MinimalPluginListsAndExtractsWithTheFiveEntryPointsAlone) {
  FileManager fm({{L"Fix", L"fixture_min.dll"}});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\ndir a\nfile a\\x data=x\nfile b data=bb\n");
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  EXPECT_EQ(extract_entries(fm, archive, dest, {}),
            (Lines{"a=0", "b=0", "end=10", "close=0"}));
  EXPECT_EQ(read_file(dest + L"b"), "bb");
}

TEST(Walk, FailedListingOrFolderChangeSkipsTheFolderAndOwesOnlyWhatSucceeded) {
  const std::string tree = "dir a\nfile a\\x size=1\nfile b size=1\n";
  struct Case {
    const char* option;
    Lines expected;
  } cases[] = {
      // Could not enter: no listing, no way back owed.
      {"option fail SetDirectoryW a\n",
       {"read a", "  GetFindDataW cwd= struct=32", "read b", "  SetDirectoryW dir=a cwd= user=0 struct=32 result=0",
        "read rc=10", "close 0", "  FreeFindDataW cwd= count=2", "  ClosePanelW cwd="}},
      // Entered but not listed: nothing to release, still one way back.
      {"option fail GetFindDataW a\n",
       {"read a", "  GetFindDataW cwd= struct=32", "read b", "  SetDirectoryW dir=a cwd= user=0 struct=32 result=1",
        "  GetFindDataW cwd=a struct=32", "  SetDirectoryW dir=.. cwd=a user=0 struct=32 result=1", "read rc=10",
        "close 0", "  FreeFindDataW cwd= count=2", "  ClosePanelW cwd="}},
      // The root cannot be listed: an empty archive.
      {"option fail GetFindDataW\n",
       {"read rc=10", "  GetFindDataW cwd= struct=32", "read rc=10", "read rc=10", "close 0", "  ClosePanelW cwd="}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    EXPECT_EQ(run(kFull, std::string("WXFIX\n") + c.option + tree, "rrrc"), c.expected);
  }
}

TEST(Faults, FaultingPluginCallsGiveErrorCodesAndTheFileManagerGoesOn) {
  const std::string tree = "dir a\nfile a\\x data=x\nfile b data=b\n";
  struct Case {
    const char* option;
    const char* steps;
    Lines results;  // the trace's file-manager lines only
  } cases[] = {
      {"option fault GetFindDataW a\n", "rrrrc", {"read a", "read rc=18", "read b", "read rc=10", "close 0"}},
      {"option divzero GetFindDataW\n", "rrc", {"read rc=18", "read rc=10", "close 0"}},
      {"option fault SetDirectoryW a\n", "rrrrc", {"read a", "read rc=18", "read b", "read rc=10", "close 0"}},
      {"option raise SetDirectoryW ..\n", "rrrrc", {"read a", "read a\\x", "read rc=18", "read b", "close 0"}},
      {"option fault GetFilesW a\n", "rxxrc", {"read a", "read a\\x", "extract 18", "read b", "extract 0", "read rc=10",
                                               "close 0"}},
      {"option fault ClosePanelW\n", "rrrrc", {"read a", "read a\\x", "read b", "read rc=10", "close 17"}},
      // A plugin that raises and handles its own exception is not disturbed.
      {"option selfhandled GetFindDataW\n", "rrrrc", {"read a", "read a\\x", "read b", "read rc=10", "close 0"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    Lines results;
    for (const auto& l : run(kFull, std::string("WXFIX\n") + c.option + tree, c.steps))
      if (l.compare(0, 2, "  ") != 0) results.push_back(l);
    EXPECT_EQ(results, c.results);
  }
}

TEST(Faults, ModuleStaysUsableAfterAPluginFault) {
  FileManager fm({{L"Fix", kFull}});
  const std::wstring bad = fm.WriteArchive(L"bad.fix", "WXFIX\noption fault GetFindDataW\noption fault ClosePanelW\n"
                                                       "file x size=1\n");
  const std::wstring good = fm.WriteArchive(L"good.fix", "WXFIX\nfile y size=1\n");
  int last = 0;
  EXPECT_TRUE(ListArchive(fm, bad, nullptr, &last).empty());
  EXPECT_EQ(last, wcx::E_EREAD);
  const auto entries = ListArchive(fm, good, nullptr, &last);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, L"y");
  EXPECT_EQ(last, wcx::E_END_ARCHIVE);
}
