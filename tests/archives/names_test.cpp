// Item names as FAR means them, through the module and the scriptable fixture plugin: one name
// each, whatever separators it holds; names no file can have; ANSI names that cannot climb; staging
// call folders a plugin cannot plant; and a walk that lost its way.
#include <gtest/gtest.h>

#include <set>

#include "archive_util.h"
#include "pack_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};
using Lines = std::vector<std::string>;

struct NamesFixture : ::testing::Test {
  FileManager fm{{kFull}};
  std::wstring dest = fm.Root() + L"out\\";
  void SetUp() override { CreateDirectoryW(dest.c_str(), nullptr); }
  Lines get_files_items() const {
    Lines items;
    for (const std::string& line : fm.Log(L"Fix", L"fixture_full.dll"))
      if (fixture_log_name(line) == "GetFilesW") items.push_back(line.substr(15, line.find(" dest=") - 15));
    return items;
  }
};

}  // namespace

// A PE browser lists long section names as "/4"; '\' and '/' inside a name are characters, shown
// as '_', and two names made alike stay apart.
TEST_F(NamesFixture, AnItemsNameIsOneNameWhateverSeparatorsItHolds) {
  const std::wstring archive = fm.WriteArchive(
      L"pe.fix", "WXFIX\ndir Section%20Table\nfile Section%20Table\\/4 data=four\nfile Section%20Table\\x/y data=slash\n"
                 "file Section%20Table\\x%5Cy data=backslash\nfile Section%20Table\\x_y~2.txt data=plain\nfile z data=z\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxxxxx"), (Lines{"Section Table=0", "Section Table\\_4=0", "Section Table\\x_y=0",
                                         "Section Table\\x_y~2=0", "Section Table\\x_y~2.txt=0", "z=0"}));
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(read_file(dest + L"Section Table\\_4"), "four");
  EXPECT_EQ(read_file(dest + L"Section Table\\x_y"), "slash");
  EXPECT_EQ(read_file(dest + L"Section Table\\x_y~2"), "backslash");
  EXPECT_EQ(read_file(dest + L"Section Table\\x_y~2.txt"), "plain");
  EXPECT_FALSE(file_exists(dest + L"Section Table\\x")) << "no folder made of a name";
  EXPECT_FALSE(file_exists(dest + L"4"));
}

// A name longer than a file name can be is refused without asking the plugin; the next one is
// extracted.
TEST_F(NamesFixture, ANameNoFileCanHaveIsRefusedWithoutAPluginCall) {
  const std::string long_name(300, 'n');
  const std::wstring archive =
      fm.WriteArchive(L"long.fix", "WXFIX\nfile " + long_name + " data=long\nfile next data=next\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xx"), (Lines{long_name + "=" + std::to_string(wcx::E_ECREATE), "next=0"}));
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(get_files_items(), Lines{"next"});
  EXPECT_EQ(read_file(dest + L"next"), "next");
}

// Full-width dots and backslashes (and a full-width slash) have look-alikes in code page 1252; the
// ANSI header carries none of them, and the ANSI extraction writes inside the target only. A
// DestName that climbs is refused in both forms.
TEST_F(NamesFixture, AnsiNamesNeverClimbAndADestNameThatClimbsIsRefused) {
  ASSERT_EQ(GetACP(), 1252u);
  const std::string fullwidth_dot = "\xEF\xBC\x8E", fullwidth_backslash = "\xEF\xBC\xBC", fullwidth_slash = "\xEF\xBC\x8F";
  const std::wstring archive = fm.WriteArchive(
      L"wide.fix", "WXFIX\nfile " + fullwidth_dot + fullwidth_dot + fullwidth_backslash + fullwidth_dot + fullwidth_dot +
                       fullwidth_backslash + "evil.txt data=evil\nfile " + fullwidth_slash + "x data=x\nfile last data=last\n");
  const std::string ansi_dest = narrow(dest);
  HANDLE h = open_archive_ansi(fm, narrow(archive), wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  Lines names;
  for (int i = 0; i < 2; ++i) {
    wcx::tHeaderDataEx header{};
    ASSERT_EQ(fm.ReadHeaderEx(h, &header), 0);
    names.push_back(header.FileName);
    EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, ansi_dest.c_str(), header.FileName), 0) << header.FileName;
  }
  EXPECT_EQ(names, (Lines{"______evil.txt", "_x"}));
  wcx::tHeaderDataEx header{};
  ASSERT_EQ(fm.ReadHeaderEx(h, &header), 0);
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, ansi_dest.c_str(), "..\\last"), wcx::E_ECREATE);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(read_file(dest + L"______evil.txt"), "evil");
  EXPECT_EQ(read_file(dest + L"_x"), "x");
  for (const wchar_t* outside : {L"evil.txt", L"last", L"x"}) EXPECT_FALSE(file_exists(fm.Root() + outside)) << narrow(outside);
  Steps steps(fm, fm.WriteArchive(L"w.fix", "WXFIX\nfile a data=a\n"), dest);
  ASSERT_EQ(fm.ReadHeaderExW(steps.h, steps.header.get()), 0);
  EXPECT_EQ(fm.ProcessFileW(steps.h, wcx::PK_EXTRACT, dest.c_str(), L"sub\\..\\..\\a"), wcx::E_ECREATE);
  EXPECT_FALSE(file_exists(fm.Root() + L"a"));
}

// A plugin plants, beside its destination, what the host's next call folder would be if it were
// numbered: a folder with planted files, a file, or a link to a folder outside. No call writes
// there, and nothing planted is taken as an entry.
TEST_F(NamesFixture, StagingNeverUsesACallFolderItDidNotMake) {
  const std::wstring outside = fm.Root() + L"outside";
  CreateDirectoryW(outside.c_str(), nullptr);
  for (const std::string kind : {"folder", "file", "junction"}) {
    std::string escaped;
    for (char c : narrow(outside)) escaped += c == '\\' ? std::string("%5C") : std::string(1, c);
    const std::wstring archive = fm.WriteArchive(
        widen(kind) + L".fix", "WXFIX\noption plant " + kind + "\noption plant_target " + escaped + "\n" + files_script("f", 4));
    const std::wstring target = dest + widen(kind) + L"\\";
    CreateDirectoryW(target.c_str(), nullptr);
    Steps steps(fm, archive, target);
    EXPECT_EQ(steps.steps("xsxx"), (Lines{"f0=0", "f1=0", "f2=0", "f3=0"})) << kind;
    EXPECT_EQ(steps.close(), 0) << kind;
    for (const wchar_t* name : {L"f0", L"f2", L"f3"}) EXPECT_EQ(read_file(target + name), narrow(name)) << kind;
    EXPECT_GE(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "planted"), 2) << kind;
    fm.ClearLog(L"Fix", L"fixture_full.dll");
    EXPECT_TRUE(files_in(outside).empty()) << kind;
  }
}

// The plugin goes up to read ahead from the folder above and cannot come back: every later entry
// is an error, and none is asked for from the wrong folder.
TEST_F(NamesFixture, AWalkThatCannotComeBackAsksForNothingMore) {
  const std::wstring archive = fm.WriteArchive(
      L"lost.fix", "WXFIX\noption return_once d1\ndir d0\n" + files_script("d0\\f", 3) + "dir d1\n" +
                       "file d1\\f0 data=right0\nfile d1\\f1 data=right1\nfile f1 data=wrong\n");
  Steps steps(fm, archive, dest);
  // The file manager makes folders itself: at d1's first file the rest is read ahead from above.
  const Lines results = steps.steps("xxxxsxxx");
  ASSERT_EQ(results.size(), 8u);
  EXPECT_EQ(results[4], "d1=0");
  EXPECT_NE(results[5], "d1\\f0=0") << "the entry whose read-ahead lost the way";
  EXPECT_EQ(results[6], "d1\\f1=" + std::to_string(wcx::E_EREAD));
  EXPECT_EQ(results[7], "f1=" + std::to_string(wcx::E_EREAD));
  steps.close();
  EXPECT_NE(read_file(dest + L"d1\\f1"), "wrong");
  const Lines log = fm.Log(L"Fix", L"fixture_full.dll");
  const auto failed = std::find_if(log.begin(), log.end(), [](const std::string& l) {
    return l.rfind("SetDirectoryW dir=d1", 0) == 0 && l.find("result=0") != std::string::npos;
  });
  ASSERT_NE(failed, log.end());
  EXPECT_EQ(std::count_if(failed, log.end(), [](const std::string& l) { return fixture_log_name(l) == "GetFilesW"; }), 0);
}

// A plugin writes a hard link to a read-only file outside: when the staging folder goes, the link
// goes, and the file it shares keeps its mark and its bytes.
TEST_F(NamesFixture, StagingRemovesAHardLinkWithoutChangingTheFileItShares) {
  const std::wstring outside = fm.Root() + L"precious.txt";
  write_file(outside, "precious");
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY);
  std::string escaped;
  for (char c : narrow(outside)) escaped += c == '\\' ? std::string("%5C") : std::string(1, c);
  const std::wstring archive = fm.WriteArchive(
      L"hard.fix", "WXFIX\nfile a data=a\nfile b data=b\nfile c hardlink=" + escaped + "\nfile d data=d\n");
  {
    Steps steps(fm, archive, dest);
    EXPECT_EQ(steps.steps("xx"), (Lines{"a=0", "b=0"}));
    EXPECT_EQ(steps.close(), 0);
  }
  ASSERT_NE(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW item=b,c"), 0) << "c came with b";
  EXPECT_NE(GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(read_file(outside), "precious");
  SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}
