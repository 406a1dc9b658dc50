// Archives end to end through the file-manager emulator: detection, listing with sizes, times and
// attributes, extraction of chosen entries, the interface's error codes and its bounds.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};

// The process runs with TZ=UTC unless the environment names Tokyo (no daylight saving there).
int local_hour_shift() {
  wchar_t tz[64] = {};
  GetEnvironmentVariableW(L"TZ", tz, 64);
  return std::wstring(tz) == L"Asia/Tokyo" ? 9 : 0;
}

}  // namespace

TEST(Detect, ByContentOnlyWhateverTheName) {
  FileManager fm({kFull});
  struct Case {
    const wchar_t* name;
    std::string content;
    int expected;
  } cases[] = {
      {L"plain.txt", "WXFIX\nfile a size=1\n", -1},
      {L"noext", "WXFIX\n", -1},
      {L"looks.fix", "NOTFIX\nfile a size=1\n", 0},
      {L"empty.fix", "", 0},
      {L"refused.fix", "WXFIX\noption refuse\n", 0},
  };
  for (const auto& c : cases) {
    const std::wstring path = fm.WriteArchive(c.name, c.content);
    EXPECT_EQ(fm.CanYouHandleThisFileW(path.c_str()), c.expected) << narrow(c.name);
    EXPECT_EQ(fm.CanYouHandleThisFile(narrow(path).c_str()), c.expected) << narrow(c.name);
  }
  EXPECT_EQ(fm.CanYouHandleThisFileW((fm.Root() + L"missing.fix").c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(nullptr), 0);
  EXPECT_EQ(fm.CanYouHandleThisFile(nullptr), 0);
}

TEST(List, SizesTimesAndAttributesAsTheFileManagerSeesThem) {
  FileManager fm({kFull});
  const std::string t = std::to_string(kJune2021);
  const std::wstring archive = fm.WriteArchive(
      L"a.fix", "WXFIX\n"
                "dir docs time=" + t + "\n"
                "file docs\\big.bin size=5000000000 alloc=4294967296 time=" + t + "\n"
                "file docs\\ro.txt size=7 alloc=3 attr=0x21\n"
                "file small size=4294967295 alloc=1 attr=0x2 time=" + t + "\n"
                "dir hidden attr=0x12\n");
  int open_result = -1, last = -1;
  const auto entries = ListArchive(fm, archive, &open_result, &last);
  EXPECT_EQ(open_result, 0);
  EXPECT_EQ(last, wcx::E_END_ARCHIVE);
  const int stamp = dos_time(2021, 6, 15, 13 + local_hour_shift(), 45, 30);
  struct Expected {
    const wchar_t* name;
    unsigned long long size, packed;
    int time, attr;
  } expected[] = {
      {L"docs", 0, 0, stamp, 0x10},
      {L"docs\\big.bin", 5000000000ULL, 4294967296ULL, stamp, 0x20},
      {L"docs\\ro.txt", 7, 3, 0, 0x21},
      {L"small", 4294967295ULL, 1, stamp, 0x2},
      {L"hidden", 0, 0, 0, 0x12},
  };
  ASSERT_EQ(entries.size(), std::size(expected));
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(narrow(expected[i].name));
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].size, expected[i].size);
    EXPECT_EQ(entries[i].packed, expected[i].packed);
    EXPECT_EQ(entries[i].time, expected[i].time);
    EXPECT_EQ(entries[i].attr, expected[i].attr);
  }
}

TEST(List, HeaderRecordIsZeroedAndFieldsBeyondTheEntryStayZero) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile f size=9\n");
  HANDLE h = open_archive(fm, archive, wcx::PK_OM_LIST);
  ASSERT_NE(h, nullptr);
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  std::memset(header.get(), 0xCC, sizeof(*header));
  ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
  EXPECT_STREQ(header->FileName, L"f");
  EXPECT_EQ(header->ArcName[0], 0);
  EXPECT_EQ(header->HostOS, 0);
  EXPECT_EQ(header->FileCRC, 0);
  EXPECT_EQ(header->Method, 0);
  EXPECT_EQ(header->CmtBuf, nullptr);
  for (char c : header->Reserved) ASSERT_EQ(c, 0);
  for (size_t i = 2; i < 1024; ++i) ASSERT_EQ(header->FileName[i], 0);
  EXPECT_EQ(fm.ReadHeaderExW(h, header.get()), wcx::E_END_ARCHIVE);
  EXPECT_EQ(fm.ReadHeaderExW(h, header.get()), wcx::E_END_ARCHIVE);
  EXPECT_EQ(fm.CloseArchive(h), 0);
}

TEST(List, EmptyArchivesAndArchivesWithOnlyAnEmptyFolder) {
  struct Case {
    const char* script;
    std::vector<std::wstring> names;
    std::vector<std::string> close_calls;
  } cases[] = {
      {"WXFIX\n", {}, {"FreeFindDataW cwd= count=0", "ClosePanelW cwd="}},
      {"WXFIX\ndir empty\n", {L"empty"}, {"FreeFindDataW cwd= count=1", "ClosePanelW cwd="}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    FileManager fm({kFull});
    const std::wstring archive = fm.WriteArchive(L"a.fix", c.script);
    int last = 0;
    const auto entries = ListArchive(fm, archive, nullptr, &last);
    EXPECT_EQ(last, wcx::E_END_ARCHIVE);
    std::vector<std::wstring> names;
    for (const auto& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, c.names);
    if (!entries.empty()) {
      EXPECT_EQ(entries[0].attr & 0x10, 0x10);
    }
    const auto log = fm.Log(L"Fix", L"fixture_full.dll");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()), c.close_calls);
    EXPECT_EQ(count_prefix(log, "ClosePanelW"), 1);
  }
}

TEST(Extract, ChosenEntriesAreWrittenWithTheirBytesAndOthersSkipped) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"a.fix",
                                               "WXFIX\n"
                                               "dir a\n"
                                               "dir a\\s\n"
                                               "file a\\s\\deep.txt data=deep\n"
                                               "file a\\f.txt data=alpha\n"
                                               "file a\\g.txt data=skipped\n"
                                               "file top.bin size=1000\n"
                                               "file other.txt data=other\n");
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  const auto results = extract_entries(fm, archive, dest, {L"a\\s\\deep.txt", L"a\\f.txt", L"top.bin"});
  const std::vector<std::string> expected = {"a=0",          "a\\s=0",     "a\\s\\deep.txt=0", "a\\f.txt=0",
                                             "a\\g.txt=0",   "top.bin=0",  "other.txt=0",      "end=10",
                                             "close=0"};
  EXPECT_EQ(results, expected);
  EXPECT_EQ(read_file(dest + L"a\\s\\deep.txt"), "deep");
  EXPECT_EQ(read_file(dest + L"a\\f.txt"), "alpha");
  std::string top;
  for (int i = 0; i < 1000; ++i) top.push_back((char)(i % 251));
  EXPECT_EQ(read_file(dest + L"top.bin"), top);
  EXPECT_FALSE(file_exists(dest + L"a\\g.txt"));
  EXPECT_FALSE(file_exists(dest + L"other.txt"));
  // Each file was asked for alone (the first in its folder, each time), in its own folder,
  // silently, into the staging folder in the folder the file manager extracts into.
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  std::vector<std::string> gets;
  for (const auto& l : log)
    if (fixture_log_name(l) == "GetFilesW") gets.push_back(without_staging(l));
  const std::string d = narrow(dest);
  const std::vector<std::string> expected_gets = {
      "GetFilesW item=deep.txt dest=" + d + "<staging>\\ cwd=a\\s count=1 opmode=1",
      "GetFilesW item=f.txt dest=" + d + "<staging>\\ cwd=a count=1 opmode=1",
      "GetFilesW item=top.bin dest=" + d + "<staging>\\ cwd= count=1 opmode=1",
  };
  EXPECT_EQ(gets, expected_gets);
  EXPECT_TRUE(staging_folders(dest).empty());
}

// The target is the file manager's: a renamed one, an existing one, a read-only one. Nothing else
// in the folder is touched, not even a file with the entry's own name, and the entry keeps the
// time and attributes the plugin gave it.
TEST(Extract, EveryEntryLandsExactlyAtItsTargetAndNothingElseIsTouched) {
  FileManager fm({kFull});
  const std::string t = std::to_string(kJune2021);
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile x.txt data=xx attr=0x21 time=" + t + "\n");
  const std::wstring dest = fm.Root() + L"out\\sub\\";
  CreateDirectoryW((fm.Root() + L"out").c_str(), nullptr);
  CreateDirectoryW(dest.c_str(), nullptr);
  struct Case {
    const char* name;
    bool ansi;
    bool dest_path;  // DestPath and DestName, or the whole target in DestName
    const wchar_t* target;
    const char* before;  // the target's content beforehand, if it exists
    DWORD before_attributes;
  } cases[] = {
      {"renamed, whole target in DestName", false, false, L"renamed.txt", nullptr, 0},
      {"renamed, DestPath and DestName", false, true, L"other.txt", nullptr, 0},
      {"renamed, ANSI", true, true, L"ansi.txt", nullptr, 0},
      {"existing target replaced", false, true, L"taken.txt", "old", FILE_ATTRIBUTE_ARCHIVE},
      {"existing read-only target replaced", false, false, L"locked.txt", "old", FILE_ATTRIBUTE_READONLY},
      {"the entry's own name as target", false, true, L"x.txt", "old", FILE_ATTRIBUTE_ARCHIVE},
      // No staging folder can be made where the target goes: one in the temporary folder, copied.
      {"target in folders still to be made", false, true, L"new\\deeper\\made.txt", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remove_tree(dest);
    CreateDirectoryW(dest.c_str(), nullptr);
    // A file under the entry's own name that must stay as it is (unless it is the target).
    write_file(dest + L"x.txt", "keep");
    write_file(dest + L"neighbour.txt", "near");
    const std::wstring target = dest + c.target;
    if (c.before) {
      write_file(target, c.before);
      SetFileAttributesW(target.c_str(), c.before_attributes);
    }
    HANDLE h = open_archive(fm, archive, wcx::PK_OM_EXTRACT);
    ASSERT_NE(h, nullptr);
    auto header = std::make_unique<wcx::tHeaderDataExW>();
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    int result;
    if (c.ansi) {
      result = fm.ProcessFile(h, wcx::PK_EXTRACT, narrow(dest).c_str(), narrow(c.target).c_str());
    } else {
      result = fm.ProcessFileW(h, wcx::PK_EXTRACT, c.dest_path ? dest.c_str() : nullptr,
                               c.dest_path ? c.target : target.c_str());
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fm.CloseArchive(h), 0);
    EXPECT_EQ(read_file(target), "xx");
    if (std::wstring(c.target) != L"x.txt") {
      EXPECT_EQ(read_file(dest + L"x.txt"), "keep");
    }
    EXPECT_EQ(read_file(dest + L"neighbour.txt"), "near");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.dwFileAttributes, 0x21u);
    EXPECT_EQ((static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                  data.ftLastWriteTime.dwLowDateTime,
              kJune2021);
    // Nothing else is in the folder: no staging folder, no file under another name.
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dest + L"*").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
      const std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> expected = {L"neighbour.txt", L"x.txt"};
    const std::wstring first_part = std::wstring(c.target).substr(0, std::wstring(c.target).find(L'\\'));
    if (first_part != L"x.txt") expected.push_back(first_part);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(names, expected);
  }
  // Every plugin call went into a staging folder that is gone.
  const auto dests = get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"));
  EXPECT_EQ(dests.size(), std::size(cases));
  for (const auto& d : dests) EXPECT_FALSE(file_exists(d)) << narrow(d);
  // In the extraction folder, but for the last case, whose came from the temporary folder.
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  for (size_t i = 0; i < dests.size(); ++i) {
    const bool in_dest = dests[i].compare(0, dest.size(), dest) == 0;
    EXPECT_EQ(in_dest, i + 1 < dests.size()) << narrow(dests[i]);
    EXPECT_EQ(_wcsnicmp(dests[i].c_str(), temp, wcslen(temp)), 0) << narrow(dests[i]);
  }
}

TEST(Extract, PluginResultsMapToErrorCodes) {
  struct Case {
    const char* result;
    int expected;
  // -1 with nobody asking to stop is how plugins give up on a damaged entry in silent mode.
  } cases[] = {{"1", 0}, {"7", 0}, {"0", wcx::E_BAD_DATA}, {"-1", wcx::E_EREAD}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    FileManager fm({kFull});
    const std::wstring archive =
        fm.WriteArchive(L"a.fix", std::string("WXFIX\nfile x.txt data=xx result=") + c.result + "\nfile y.txt data=yy\n");
    const std::wstring dest = fm.Root() + L"out\\";
    CreateDirectoryW(dest.c_str(), nullptr);
    const auto results = extract_entries(fm, archive, dest, {});
    // A failed entry does not stop the file manager: the next one is still extracted.
    EXPECT_EQ(results, (std::vector<std::string>{"x.txt=" + std::to_string(c.expected), "y.txt=0", "end=10",
                                                 "close=0"}));
    EXPECT_EQ(read_file(dest + L"y.txt"), "yy");
  }
}

TEST(Operations, SkipTestAndExtractAreOffered) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile x.txt data=xx\nfile y.txt data=yy\n");
  HANDLE h = open_archive(fm, archive, wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
  EXPECT_EQ(fm.ProcessFileW(h, 3, nullptr, nullptr), wcx::E_NOT_SUPPORTED);
  EXPECT_EQ(fm.ProcessFileW(h, -1, nullptr, nullptr), wcx::E_NOT_SUPPORTED);
  EXPECT_EQ(fm.ProcessFile(h, 7, nullptr, nullptr), wcx::E_NOT_SUPPORTED);
  EXPECT_EQ(fm.ProcessFile(h, -2, nullptr, nullptr), wcx::E_NOT_SUPPORTED);
  EXPECT_EQ(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW"), 0);
  EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_TEST, nullptr, nullptr), 0);
  EXPECT_EQ(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW"), 1);
  ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
  EXPECT_STREQ(header->FileName, L"y.txt");
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_TEST, nullptr, nullptr), 0);
  EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr), 0);
  EXPECT_EQ(fm.ReadHeaderExW(h, header.get()), wcx::E_END_ARCHIVE);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW"), 2);
}

TEST(Open, BadModesAndRefusalsGiveTheirCodesWithCommentFieldsCleared) {
  FileManager fm({kFull});
  const std::wstring good = fm.WriteArchive(L"good.fix", "WXFIX\nfile x size=1\n");
  const std::wstring foreign = fm.WriteArchive(L"foreign.bin", "nothing here");
  const std::wstring zero = fm.WriteArchive(L"zero.fix", "WXFIX\noption open_zero\n");
  const std::wstring stop = fm.WriteArchive(L"stop.fix", "WXFIX\noption open_stop\n");
  struct Case {
    std::wstring file;
    int mode;
    int result;
  } cases[] = {
      {good, 2, wcx::E_NOT_SUPPORTED}, {good, -1, wcx::E_NOT_SUPPORTED}, {foreign, 0, wcx::E_EOPEN},
      {zero, 0, wcx::E_EOPEN},         {stop, 1, wcx::E_EOPEN},          {fm.Root() + L"missing", 0, wcx::E_EOPEN},
      {good, 0, 0},                    {good, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.file) + " mode " + std::to_string(c.mode));
    std::wstring name = c.file;
    wcx::tOpenArchiveDataW open{};
    open.ArcName = name.data();
    open.OpenMode = c.mode;
    open.OpenResult = 99;
    open.CmtBuf = reinterpret_cast<wchar_t*>(0x1234);
    open.CmtBufSize = open.CmtSize = open.CmtState = 5;
    HANDLE h = fm.OpenArchiveW(&open);
    EXPECT_EQ(open.OpenResult, c.result);
    EXPECT_EQ(h != nullptr, c.result == 0);
    EXPECT_EQ(open.CmtBuf, nullptr);
    EXPECT_EQ(open.CmtBufSize | open.CmtSize | open.CmtState, 0);
    if (h) {
      EXPECT_EQ(fm.CloseArchive(h), 0);
    }

    std::string ansi = narrow(c.file);
    wcx::tOpenArchiveData open_a{};
    open_a.ArcName = ansi.data();
    open_a.OpenMode = c.mode;
    open_a.CmtBuf = reinterpret_cast<char*>(0x1234);
    open_a.CmtBufSize = open_a.CmtSize = open_a.CmtState = 5;
    h = fm.OpenArchive(&open_a);
    EXPECT_EQ(open_a.OpenResult, c.result);
    EXPECT_EQ(h != nullptr, c.result == 0);
    EXPECT_EQ(open_a.CmtBuf, nullptr);
    EXPECT_EQ(open_a.CmtBufSize | open_a.CmtSize | open_a.CmtState, 0);
    if (h) {
      EXPECT_EQ(fm.CloseArchive(h), 0);
    }
  }
  // PANEL_STOP is never taken for a panel: it is not closed as one either.
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  EXPECT_EQ(count_prefix(log, "OpenW"), 2 * 4);
  EXPECT_EQ(count_prefix(log, "ClosePanelW"), 2 * 2);
  EXPECT_EQ(count_prefix(log, "GetFindDataW"), 0);
}

TEST(Bounds, NullRecordsAndUnknownHandlesAreRefusedWithoutTouchingMemory) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile x data=x\n");
  EXPECT_EQ(fm.OpenArchiveW(nullptr), nullptr);
  EXPECT_EQ(fm.OpenArchive(nullptr), nullptr);
  wcx::tOpenArchiveDataW no_name{};
  EXPECT_EQ(fm.OpenArchiveW(&no_name), nullptr);
  EXPECT_EQ(no_name.OpenResult, wcx::E_EOPEN);
  wcx::tOpenArchiveData no_name_a{};
  EXPECT_EQ(fm.OpenArchive(&no_name_a), nullptr);
  EXPECT_EQ(no_name_a.OpenResult, wcx::E_EOPEN);
  fm.PackSetDefaultParams(nullptr);

  HANDLE h = open_archive(fm, archive, wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(fm.ReadHeaderExW(h, nullptr), wcx::E_EREAD);
  EXPECT_EQ(fm.ReadHeaderEx(h, nullptr), wcx::E_EREAD);
  EXPECT_EQ(fm.ReadHeader(h, nullptr), wcx::E_EREAD);
  // Extract before the first header: there is no current entry.
  EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, (fm.Root() + L"").c_str(), L"x"), wcx::E_EREAD);

  // Handles the module never gave out, one it gave out and took back, and an unaligned one.
  HANDLE closed = open_archive(fm, archive, wcx::PK_OM_LIST);
  ASSERT_NE(closed, nullptr);
  EXPECT_EQ(fm.CloseArchive(closed), 0);
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  for (HANDLE bogus : {HANDLE(nullptr), HANDLE(INVALID_HANDLE_VALUE), HANDLE(0x10), closed,
                       HANDLE(reinterpret_cast<char*>(h) + 1)}) {
    SCOPED_TRACE(reinterpret_cast<uintptr_t>(bogus));
    EXPECT_EQ(fm.ReadHeaderExW(bogus, header.get()), wcx::E_EREAD);
    EXPECT_EQ(fm.ProcessFileW(bogus, wcx::PK_EXTRACT, fm.Root().c_str(), L"x"), wcx::E_EREAD);
    EXPECT_EQ(fm.CloseArchive(bogus), wcx::E_ECLOSE);
  }
  // The real archive is unharmed by all of that.
  ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
  EXPECT_STREQ(header->FileName, L"x");
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(fm.CloseArchive(h), wcx::E_ECLOSE);
}

TEST(Bounds, ExtractWithoutATargetFolderIsRefused) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile x data=x\n");
  HANDLE h = open_archive(fm, archive, wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
  // Without a folder the plugin would write into the file manager's current directory.
  EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, nullptr, nullptr), wcx::E_EREAD);
  EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, nullptr, L"x"), wcx::E_EREAD);
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, nullptr, "x"), wcx::E_EREAD);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW"), 0);
}

TEST(Bounds, LongPathsArriveCutTo1023CharactersWithTheirNul) {
  FileManager fm({kFull});
  const std::string folder(1000, 'd');
  const std::string file(500, 'f');
  const std::string flat(1500, 'x');
  const std::wstring archive = fm.WriteArchive(
      L"a.fix", "WXFIX\ndir " + folder + "\nfile " + folder + "\\" + file + " size=1\nfile " + flat + " size=2\n");
  const auto entries = ListArchive(fm, archive);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, widen(folder));
  EXPECT_EQ(entries[1].name, widen(folder + "\\" + file).substr(0, 1023));
  EXPECT_EQ(entries[2].name, widen(flat).substr(0, 1023));
  EXPECT_EQ(entries[2].size, 2u);
}
