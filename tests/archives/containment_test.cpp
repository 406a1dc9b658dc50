// What extraction may touch, through the module and the scriptable fixture plugin: names that
// would lead out of the target or that Windows cannot hold, links a plugin restores, exact names
// and long paths, entries differing only in case, what read-ahead may fetch, a plugin's -1, the
// copy onto a target, and staging folders that a process ending or killed leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "archive_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};
using Lines = std::vector<std::string>;

// A path written into a fixture script: backslashes and spaces escaped inside one name.
std::string escaped(const std::wstring& APath) {
  std::string text;
  for (char c : narrow(APath)) text += c == '\\' ? std::string("%5C") : c == ' ' ? std::string("%20") : std::string(1, c);
  return text;
}

std::wstring extended(const std::wstring& APath) { return L"\\\\?\\" + APath; }

// A path listed by a plugin as one name, as the file manager is shown it.
std::string shown(const std::wstring& APath) {
  std::string text = narrow(APath);
  for (char& c : text)
    if (c == '\\' || c == ':') c = '_';
  return text;
}

// Plain files below AFolder, links not entered.
size_t files_below(const std::wstring& AFolder) {
  size_t count = 0;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
    else if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) count += files_below(AFolder + L"\\" + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

// The items of every GetFilesW call, as the log has them.
Lines get_files_items(const FileManager& AFm) {
  Lines items;
  for (const std::string& line : AFm.Log(L"Fix", L"fixture_full.dll")) {
    if (fixture_log_name(line) != "GetFilesW") continue;
    const size_t at = line.find("item=") + 5;
    items.push_back(line.substr(at, line.find(" dest=") - at));
  }
  return items;
}

Lines listed_names(FileManager& AFm, const std::wstring& AArchive) {
  Lines names;
  for (const ListedEntry& entry : ListArchive(AFm, AArchive)) names.push_back(narrow(entry.name));
  return names;
}

struct ContainmentFixture : ::testing::Test {
  FileManager fm{{kFull}};
  std::wstring dest = fm.Root() + L"out\\";
  void SetUp() override { CreateDirectoryW(dest.c_str(), nullptr); }
};

}  // namespace

// Names that climb out, absolute names and device names: listed harmlessly, refused with
// E_ECREATE, never handed to the plugin; the files they point at stay as they were.
TEST_F(ContainmentFixture, NamesThatLeadOutsideAreRefusedAndNeverAskedFor) {
  const std::wstring outside = fm.Root() + L"outside\\";
  CreateDirectoryW(outside.c_str(), nullptr);
  write_file(outside + L"abs", "precious");
  struct Case {
    std::string script_name;  // as the plugin lists it (escaped)
    std::string listed;
  };
  const std::vector<Case> cases = {
      // One name each, as the plugin lists them: every separator in it is shown as '_'.
      {"..%5C..%5C..%5Cup3", ".._.._.._up3"},
      {"..%5C..%5C..%5C..%5Cup4", ".._.._.._.._up4"},
      {"a%5C..%5C..%5C..%5Cmixed", "a_.._.._.._mixed"},
      {escaped(outside + L"abs"), shown(outside + L"abs")},
      {"aux.c", "_aux.c"},
      {"NUL", "_NUL"},
  };
  std::string script = "WXFIX\nfile first data=1\n";
  for (const Case& c : cases) script += "file " + c.script_name + " data=evil\n";
  script += "file last data=2\n";
  const std::wstring archive = fm.WriteArchive(L"climb.fix", script);

  Lines expected_names = {"first"};
  for (const Case& c : cases) expected_names.push_back(c.listed);
  expected_names.push_back("last");
  EXPECT_EQ(listed_names(fm, archive), expected_names);

  Steps steps(fm, archive, dest);
  Lines expected = {"first=0"};
  for (const Case& c : cases) expected.push_back(c.listed + "=" + std::to_string(wcx::E_ECREATE));
  expected.push_back("last=0");
  EXPECT_EQ(steps.steps(std::string(cases.size() + 2, 'x')), expected);
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(get_files_items(fm), (Lines{"first", "last"}));
  EXPECT_EQ(read_file(outside + L"abs"), "precious");
  for (const wchar_t* name : {L"up3", L"up4", L"mixed"}) {
    EXPECT_FALSE(file_exists(fm.Root() + name)) << narrow(name);
    EXPECT_FALSE(file_exists(fm.Root() + L"..\\" + name)) << narrow(name);
  }
  EXPECT_TRUE(staging_folders(dest).empty());
}

// Inside a folder that read-ahead would fetch whole, a name that climbs: the folder is not
// fetched whole, and skipping the entry deletes nothing above the target.
TEST_F(ContainmentFixture, AClimbingNameInsideAFolderKeepsTheFolderFromBeingFetchedWhole) {
  // From "<dest>\<staging>\<call>\A\" four levels up is the test's root.
  const std::wstring victim = fm.Root() + L"victim\\";
  CreateDirectoryW(victim.c_str(), nullptr);
  write_file(victim + L"kept", "precious");
  const std::wstring archive = fm.WriteArchive(
      L"inside.fix",
      "WXFIX\ndir d0\nfile d0\\f data=f\ndir A\nfile A\\..%5C..%5C..%5C..%5Cvictim data=evil\nfile A\\ok data=ok\n"
      "file z data=z\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxxsxx"), (Lines{"d0=0", "d0\\f=0", "A=0", "A\\.._.._.._.._victim=0", "A\\ok=0", "z=0"}));
  EXPECT_EQ(steps.step('x'), "end=10");
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(read_file(victim + L"kept"), "precious");
  for (const std::string& items : get_files_items(fm)) EXPECT_EQ(items.find("victim"), std::string::npos) << items;
  for (const std::string& items : get_files_items(fm)) EXPECT_NE(items, "A") << "A went whole into one call";
  EXPECT_EQ(read_file(dest + L"A\\ok"), "ok");
}

// A folder fetched whole in which the plugin restored a link to a folder outside: the module
// neither deletes (skip) nor takes (extract) what lies behind the link.
TEST_F(ContainmentFixture, ALinkRestoredInAFolderFetchedWholeIsNeverFollowed) {
  const std::wstring outside = fm.Root() + L"outside";
  CreateDirectoryW(outside.c_str(), nullptr);
  write_file(outside + L"\\victim", "precious");
  write_file(outside + L"\\other", "keep");
  const std::wstring archive = fm.WriteArchive(
      L"link.fix", "WXFIX\ndir d0\nfile d0\\f data=f\ndir A\ndir A\\lnk link=" + escaped(outside) +
                       "\nfile A\\lnk\\victim data=evil\nfile A\\lnk\\other data=mine\nfile z data=z\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxx"), (Lines{"d0=0", "d0\\f=0", "A=0"}));
  // The folder came whole, with the link in it.
  const auto stagings = staging_folders(dest);
  ASSERT_EQ(stagings.size(), 1u);
  bool link_seen = false;
  WIN32_FIND_DATAW call;
  HANDLE calls = FindFirstFileW((dest + stagings[0].first + L"\\*").c_str(), &call);
  ASSERT_NE(calls, INVALID_HANDLE_VALUE);
  do {
    const DWORD attributes =
        GetFileAttributesW((dest + stagings[0].first + L"\\" + call.cFileName + L"\\A\\lnk").c_str());
    link_seen = link_seen || (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT));
  } while (FindNextFileW(calls, &call));
  FindClose(calls);
  ASSERT_TRUE(link_seen) << "the plugin could not restore the link";
  EXPECT_EQ(steps.steps("xsxx"), (Lines{"A\\lnk=0", "A\\lnk\\victim=0", "A\\lnk\\other=0", "z=0"}));
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(read_file(outside + L"\\victim"), "precious");
  EXPECT_EQ(read_file(outside + L"\\other"), "keep");
  EXPECT_EQ(read_file(dest + L"A\\lnk\\other"), "mine");
  // Wine cannot delete a link to a folder (Windows removes it with the staging folder): whatever
  // is left holds no file.
  for (const auto& staging : staging_folders(dest)) EXPECT_EQ(files_below(dest + staging.first), 0u);
}

// A later call of the plugin turns a folder an earlier call wrote into a link to a folder outside:
// the files the earlier call was seen to bring are looked at again before one is taken, and what
// lies behind the link stays where it is.
TEST_F(ContainmentFixture, ALinkMadeByALaterCallIsSeenBeforeAnEarlierCallsFileIsTaken) {
  const std::wstring outside = fm.Root() + L"outside";
  CreateDirectoryW(outside.c_str(), nullptr);
  write_file(outside + L"\\g", "precious");
  // A comes whole with the read-ahead, but for A\f, which only a call of its own writes; that call
  // makes the first call's A a link to the folder outside.
  const std::wstring archive = fm.WriteArchive(
      L"relink.fix", "WXFIX\noption relink A\noption relink_target " + escaped(outside) +
                         "\ndir d0\nfile d0\\f data=f\ndir A\nfile A\\f data=f alone_only\nfile A\\g data=mine\nfile z data=z\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxxxxx"), (Lines{"d0=0", "d0\\f=0", "A=0", "A\\f=0", "A\\g=0", "z=0"}));
  EXPECT_EQ(steps.close(), 0);
  const Lines items = get_files_items(fm);
  bool relinked = false;
  for (const std::string& line : fm.Log(L"Fix", L"fixture_full.dll")) relinked = relinked || line.rfind("relinked ", 0) == 0;
  ASSERT_TRUE(relinked) << "the later call made no link: " << ::testing::PrintToString(items);
  EXPECT_EQ(read_file(outside + L"\\g"), "precious");
  EXPECT_EQ(read_file(dest + L"A\\g"), "mine");
  EXPECT_EQ(read_file(dest + L"A\\f"), "f");
}

// Names a plain path cannot carry and a target past MAX_PATH arrive exactly; a claim that fails
// (a folder stands at the target) leaves no staging folder behind.
TEST_F(ContainmentFixture, TrailingDotsSpacesAndLongPathsArriveExactly) {
  // A destination of about 250 characters: every target below it is past MAX_PATH.
  std::wstring deep = dest;
  while (deep.size() < 250) {
    deep += std::wstring(std::min<size_t>(60, 250 - deep.size() + 1), L'p') + L"\\";
    ASSERT_TRUE(CreateDirectoryW(extended(deep).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  const std::string long_name(40, 'n');
  const std::wstring archive = fm.WriteArchive(
      L"exact.fix", "WXFIX\noption extended\ndir d\nfile d\\readme. data=dot\nfile d\\space%20 data=sp\nfile d\\" +
                        long_name + " data=long\nfile d\\taken. data=x\n");
  ASSERT_TRUE(CreateDirectoryW(extended(deep + L"d").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(extended(deep + L"d\\taken.").c_str(), nullptr));
  Steps steps(fm, archive, deep);
  EXPECT_EQ(steps.steps("xxxxx"), (Lines{"d=0", "d\\readme.=0", "d\\space =0", "d\\" + long_name + "=0",
                                        "d\\taken.=" + std::to_string(wcx::E_EWRITE)}));
  EXPECT_EQ(steps.close(), 0);
  EXPECT_EQ(read_file(extended(deep + L"d\\readme.")), "dot");
  EXPECT_EQ(read_file(extended(deep + L"d\\space ")), "sp");
  EXPECT_EQ(read_file(extended(deep + L"d\\" + widen(long_name))), "long");
  EXPECT_FALSE(file_exists(extended(deep + L"d\\readme")));
  EXPECT_TRUE(staging_folders(extended(deep)).empty());
}

// Names Windows cannot hold are listed with '_' for each such character and extracted under that
// name, each in a call of its own, whatever name the plugin wrote it under.
TEST_F(ContainmentFixture, NamesWindowsCannotHoldAreListedAndExtractedWithUnderscores) {
  const std::wstring archive = fm.WriteArchive(
      L"names.fix",
      "WXFIX\nfile plain0 data=p0\nfile question?mark data=q\nfile int%20__cdecl%20foo(int%20*) data=f\n"
      "file a<b>c data=abc\nfile pipe|quote\" data=pq\nfile colon:x data=c\ndir dir?x\nfile dir?x\\inner data=i\n"
      "file plain1 data=p1\n");
  const Lines listed = {"plain0", "question_mark", "int __cdecl foo(int _)", "a_b_c", "pipe_quote_", "colon_x",
                        "dir_x",  "dir_x\\inner",  "plain1"};
  EXPECT_EQ(listed_names(fm, archive), listed);
  Steps steps(fm, archive, dest);
  Lines expected;
  for (const std::string& name : listed) expected.push_back(name + "=0");
  EXPECT_EQ(steps.steps(std::string(listed.size(), 'x')), expected);
  EXPECT_EQ(steps.close(), 0);
  const std::vector<std::pair<std::wstring, std::string>> files = {
      {L"question_mark", "q"}, {L"int __cdecl foo(int _)", "f"}, {L"a_b_c", "abc"}, {L"pipe_quote_", "pq"},
      {L"colon_x", "c"},       {L"dir_x\\inner", "i"},           {L"plain1", "p1"}};
  for (const auto& file : files) EXPECT_EQ(read_file(dest + file.first), file.second) << narrow(file.first);
  for (const std::string& items : get_files_items(fm)) {
    if (items.find_first_of("?*<>|:\"") != std::string::npos) {
      EXPECT_EQ(items.find(','), std::string::npos) << items;
    }
  }
  EXPECT_TRUE(staging_folders(dest).empty());
}

// Below a folder fetched whole, two folders whose names differ only in case would share one
// staged copy: each entry gets its own bytes.
TEST_F(ContainmentFixture, EntriesDifferingOnlyInCaseEachGetTheirOwnBytes) {
  const std::wstring archive = fm.WriteArchive(
      L"case.fix", "WXFIX\ndir d0\nfile d0\\f data=f\ndir A\ndir A\\B\nfile A\\B\\x data=upper\ndir A\\b\n"
                   "file A\\b\\x data=lower\nfile z data=z\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxxxx"), (Lines{"d0=0", "d0\\f=0", "A=0", "A\\B=0", "A\\B\\x=0"}));
  EXPECT_EQ(read_file(dest + L"A\\B\\x"), "upper");
  EXPECT_EQ(steps.steps("xx"), (Lines{"A\\b=0", "A\\b\\x=0"}));
  EXPECT_EQ(read_file(dest + L"A\\b\\x"), "lower");
  EXPECT_EQ(steps.steps("x"), (Lines{"z=0"}));
}

// Read-ahead takes only what the file manager goes on to ask for, within its byte cap: a skip
// asks the plugin for nothing, a folder counts with its listed contents, testing stages no more.
TEST_F(ContainmentFixture, ReadAheadStaysWithinWhatWasAskedAndTheByteCap) {
  const std::wstring archive = fm.WriteArchive(
      L"media.fix", "WXFIX\nfile a.txt data=a\ndir docs\nfile docs\\one data=1\ndir media\n"
                    "file media\\big1 size=400000000\nfile media\\big2 size=400000000\nfile b.txt data=b\n");
  struct Case {
    std::string operations;  // per entry: a.txt docs docs\one media media\big1 media\big2 b.txt
    Lines calls;
  };
  const std::vector<Case> cases = {
      {"xsssssx", {"a.txt", "b.txt"}},
      {"xxxxxxx", {"a.txt", "one", "big1", "big2", "b.txt"}},
      {"ttttttt", {"a.txt", "one", "big1", "big2", "b.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operations);
    fm.ClearLog(L"Fix", L"fixture_full.dll");
    {
      Steps steps(fm, archive, dest);
      steps.steps(c.operations);
      EXPECT_EQ(steps.step('s').substr(0, 3), "end");
    }
    EXPECT_EQ(get_files_items(fm), c.calls);
    EXPECT_TRUE(staging_folders(dest).empty());
  }
  // Entries skipped at the start of a folder: the folder is not fetched whole when a later one is
  // asked for; the next folder, asked for from its first entry, is.
  const std::wstring skipped = fm.WriteArchive(
      L"skipped.fix", "WXFIX\ndir d0\n" + files_script("d0\\f", 5) + "dir d1\nfile d1\\s0 data=s\nfile d1\\w data=w\n"
                      "dir d2\nfile d2\\x data=x\n");
  fm.ClearLog(L"Fix", L"fixture_full.dll");
  {
    Steps steps(fm, skipped, dest);
    EXPECT_EQ(steps.steps("sxxxxxssxsx"), (Lines{"d0=0", "d0\\f0=0", "d0\\f1=0", "d0\\f2=0", "d0\\f3=0", "d0\\f4=0",
                                               "d1=0", "d1\\s0=0", "d1\\w=0", "d2=0", "d2\\x=0"}));
  }
  EXPECT_EQ(get_files_items(fm), (Lines{"f0", "f1,f2,f3,f4", "w", "d2"}));
  EXPECT_FALSE(file_exists(dest + L"d1\\s0"));
}

// A plugin's -1 that nobody asked for (a read error in silent mode) is that entry's read error;
// the entries after it are still extracted, alone and in calls for several.
TEST_F(ContainmentFixture, MinusOneWithoutACancelIsAReadErrorAndTheRestGoesOn) {
  const std::wstring archive = fm.WriteArchive(
      L"minus.fix", "WXFIX\n" + files_script("a", 2) + "file bad data=x result=-1\n" + files_script("c", 3));
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.steps("xxxxxx"),
            (Lines{"a0=0", "a1=0", "bad=" + std::to_string(wcx::E_EREAD), "c0=0", "c1=0", "c2=0"}));
  EXPECT_EQ(steps.close(), 0);
  for (const char* name : {"a0", "a1", "c0", "c1", "c2"}) EXPECT_EQ(read_file(dest + widen(name)), name);
  EXPECT_FALSE(file_exists(dest + L"bad"));
}

namespace {

// The staging folder names of this process, as the module makes them: ".wexlor-PID-START-N".
std::wstring own_staging_name(unsigned ACount) {
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  wchar_t name[64];
  std::swprintf(name, 64, L".wexlor-%lx-%lx-%x", static_cast<unsigned long>(GetCurrentProcessId()),
                static_cast<unsigned long>(created.dwLowDateTime), ACount);
  return name;
}

}  // namespace

// Where no staging folder can be made beside the target, entries are staged in the temporary
// folder and copied: to a new name beside the target first, which then replaces it. A hidden
// target is replaced; one that cannot be replaced keeps its old bytes, and nothing is left.
TEST(ContainmentCopy, TheCopyFallbackReplacesOnlyWithAWholeCopy) {
  FileManager fm({kFull});
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  // Every name the freshly loaded module would try for its staging folder is taken.
  for (unsigned count = 0; count < 64; ++count) write_file(dest + own_staging_name(count), "taken");
  const std::wstring archive = fm.WriteArchive(L"copy.fix", "WXFIX\nfile hidden data=new1\nfile busy data=new2\n");
  write_file(dest + L"hidden", "old1");
  SetFileAttributesW((dest + L"hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  write_file(dest + L"busy", "old2");
  // Open without delete sharing: the file cannot be replaced, but could be written over.
  HANDLE busy = CreateFileW((dest + L"busy").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(busy, INVALID_HANDLE_VALUE);
  {
    Steps steps(fm, archive, dest);
    EXPECT_EQ(steps.steps("xx"), (Lines{"hidden=0", "busy=" + std::to_string(wcx::E_EWRITE)}));
    EXPECT_EQ(steps.close(), 0);
  }
  CloseHandle(busy);
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  for (const std::wstring& d : get_files_dests(fm.Log(L"Fix", L"fixture_full.dll")))
    EXPECT_EQ(_wcsnicmp(d.c_str(), temp, wcslen(temp)), 0) << narrow(d);
  EXPECT_EQ(read_file(dest + L"hidden"), "new1");
  EXPECT_EQ(read_file(dest + L"busy"), "old2");
  EXPECT_EQ(staging_folders(dest).size(), 64u) << "only the names taken before";
}

// The test program run again as a file manager that extracts one entry and then ends: with
// ExitProcess (the module unloads with the archive open) or killed (nothing of it runs).
TEST(StagingChild, DISABLED_ExtractsOneEntryAndEnds) {
  wchar_t dest[MAX_PATH] = {}, end[16] = {};
  ASSERT_GT(GetEnvironmentVariableW(L"WEXLOR_CHILD_DEST", dest, MAX_PATH), 0u);
  GetEnvironmentVariableW(L"WEXLOR_CHILD_END", end, 16);
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"child.fix", "WXFIX\n" + files_script("f", 6));
  Steps steps(fm, archive, dest);
  // The second entry reads the rest ahead: the staging folder then holds what is not claimed yet.
  steps.steps("xx");
  if (std::wstring(end) == L"kill") TerminateProcess(GetCurrentProcess(), 7);
  ExitProcess(5);
}

TEST(StagingLifetime, NoStagingFolderOutlivesItsProcessOrStaysAfterAKill) {
  FileManager fm({kFull});
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring command =
      L"\"" + std::wstring(self) + L"\" --gtest_filter=StagingChild.* --gtest_also_run_disabled_tests";
  SetEnvironmentVariableW(L"WEXLOR_CHILD_DEST", dest.c_str());

  SetEnvironmentVariableW(L"WEXLOR_CHILD_END", L"exit");
  EXPECT_EQ(RunProgram(command).status, 5u);
  EXPECT_TRUE(staging_folders(dest).empty()) << "removed as the module unloaded";
  EXPECT_EQ(read_file(dest + L"f1"), "f1");

  SetEnvironmentVariableW(L"WEXLOR_CHILD_END", L"kill");
  EXPECT_EQ(RunProgram(command).status, 7u);
  ASSERT_EQ(staging_folders(dest).size(), 1u) << "a killed process runs nothing";
  // A folder of a process that still runs is left alone.
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring sleeper = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
  ASSERT_TRUE(CreateProcessW(nullptr, sleeper.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                             &si, &pi));
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user);
  wchar_t live[64];
  std::swprintf(live, 64, L".wexlor-%lx-%lx-0", static_cast<unsigned long>(pi.dwProcessId),
                static_cast<unsigned long>(created.dwLowDateTime));
  CreateDirectoryW((dest + live).c_str(), nullptr);
  // Named like a staging folder of a process that has ended, but not made by the module (an
  // archive held it, say): it stays, with what it holds.
  const std::wstring alike = L".wexlor-fffffff0-1-0";
  CreateDirectoryW((dest + alike).c_str(), nullptr);
  write_file(dest + alike + L"\\notes.txt", "mine");

  const std::wstring archive = fm.WriteArchive(L"next.fix", "WXFIX\nfile g data=g\n");
  Steps steps(fm, archive, dest);
  EXPECT_EQ(steps.step('x'), "g=0");
  const auto left = staging_folders(dest);
  std::set<std::wstring> names;
  for (const auto& folder : left) names.insert(folder.first);
  EXPECT_EQ(names.size(), 3u) << "the killed process's folder is gone; the live one, the look-alike and ours stay";
  EXPECT_EQ(names.count(live), 1u);
  EXPECT_EQ(read_file(dest + alike + L"\\notes.txt"), "mine");
  EXPECT_EQ(steps.close(), 0);
  TerminateProcess(pi.hProcess, 0);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}
