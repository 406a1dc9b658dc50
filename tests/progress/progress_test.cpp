// Progress and cancel of long extractions as a file manager sees them: the process-data callbacks
// it hands over (per archive and for archives opened later, ANSI and Unicode), the percentages the
// plugin's ACTL_SETPROGRESSVALUE becomes, the written entry's name and size, and a cancel that the
// plugin learns from its console poll, with and without a console.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "wexlor_harness.h"

using namespace wxt;

namespace {

// What one file manager's callbacks heard on this thread; each archive in these tests runs on one.
struct Heard {
  std::vector<std::string> calls;  // "<callback> <size> <name>"
  int cancel_at = 0;               // answer 0 once a percentage reaches this (0: never)
  bool cancel_written = false;     // answer 0 to the written entry's report
  std::string cancel_only_of;      // the cancels above, for the entry whose name ends so only
};
thread_local Heard* THeard = nullptr;

int heard(const char* ACallback, const std::string& AName, int ASize) {
  if (!THeard) return 1;
  THeard->calls.push_back(std::string(ACallback) + " " + std::to_string(ASize) + " " + AName);
  const std::string& of = THeard->cancel_only_of;
  const bool named = of.empty() || (AName.size() >= of.size() && AName.compare(AName.size() - of.size(), of.size(), of) == 0);
  const bool cancel =
      named && ((THeard->cancel_at != 0 && ASize <= -THeard->cancel_at) || (THeard->cancel_written && ASize >= 0));
  return cancel ? 0 : 1;
}
int WINAPI wide_proc(wchar_t* AName, int ASize) { return heard("W", narrow(AName), ASize); }
int WINAPI other_wide_proc(wchar_t* AName, int ASize) { return heard("W2", narrow(AName), ASize); }
int WINAPI ansi_proc(char* AName, int ASize) { return heard("A", AName, ASize); }

void* proc(int(WINAPI* AProc)(wchar_t*, int)) { return reinterpret_cast<void*>(AProc); }
void* proc(int(WINAPI* AProc)(char*, int)) { return reinterpret_cast<void*>(AProc); }

const HANDLE kNoArchive = INVALID_HANDLE_VALUE;

HANDLE open_for_extract(FileManager& AFm, const std::wstring& AArchive) {
  std::wstring name = AArchive;
  wcx::tOpenArchiveDataW open{};
  open.ArcName = name.data();
  open.OpenMode = wcx::PK_OM_EXTRACT;
  return AFm.OpenArchiveW(&open);
}

// Extracts every entry of an open archive into ADest as a file manager does; "name=result" each.
std::vector<std::string> extract_open(FileManager& AFm, HANDLE AArchive, const std::wstring& ADest) {
  std::vector<std::string> results;
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  while (AFm.ReadHeaderExW(AArchive, header.get()) == 0) {
    const std::wstring name = header->FileName;
    results.push_back(narrow(name) + "=" + std::to_string(AFm.ProcessFileW(AArchive, wcx::PK_EXTRACT, ADest.c_str(),
                                                                            name.c_str())));
  }
  results.push_back("close=" + std::to_string(AFm.CloseArchive(AArchive)));
  return results;
}

std::vector<std::string> extract_all(FileManager& AFm, const std::wstring& AArchive, const std::wstring& ADest) {
  HANDLE h = open_for_extract(AFm, AArchive);
  if (!h) return {"open failed"};
  return extract_open(AFm, h, ADest);
}

// The percentages heard, as positive numbers, in order.
std::vector<int> percentages(const Heard& AHeard) {
  std::vector<int> out;
  for (const auto& call : AHeard.calls) {
    const int size = std::atoi(call.c_str() + call.find(' ') + 1);
    if (size < 0) out.push_back(-size);
  }
  return out;
}

bool strictly_rising(const std::vector<int>& AValues) {
  return std::adjacent_find(AValues.begin(), AValues.end(), [](int A, int B) { return B <= A; }) == AValues.end();
}

unsigned long long file_size(const std::wstring& APath) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(APath.c_str(), GetFileExInfoStandard, &data)) return ~0ULL;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::string> lines_starting(const std::vector<std::string>& ALog, const std::string& APrefix) {
  std::vector<std::string> out;
  for (const auto& line : ALog)
    if (line.compare(0, APrefix.size(), APrefix) == 0) out.push_back(line);
  return out;
}

struct ProgressFixture : ::testing::Test {
  FileManager fm{{PluginSpec{L"Prg", L"progress_plugin.dll"}}};
  Heard heard;
  std::wstring dest = fm.Root() + L"out\\";
  void SetUp() override {
    CreateDirectoryW(dest.c_str(), nullptr);
    THeard = &heard;
  }
  void TearDown() override { THeard = nullptr; }
  std::vector<std::string> Log() const { return fm.Log(L"Prg", L"progress_plugin.dll"); }
};

}  // namespace

TEST_F(ProgressFixture, PercentagesRiseWithoutFloodAndTheWrittenEntryIsReported) {
  // 250 steps, each reported twice, and a second phase that starts again from 0 after step 100.
  const std::wstring archive =
      fm.WriteArchive(L"big.prg", "WXPRG\nfile big.bin size=1000000 steps=250 rewind=100\nfile small.txt size=10 steps=1\n");
  fm.SetProcessDataProcW(kNoArchive, proc(wide_proc));
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"big.bin=0", "small.txt=0", "close=0"}));

  const std::string big = narrow(dest) + "big.bin";
  const std::string small = narrow(dest) + "small.txt";
  std::vector<std::string> big_calls, small_calls;
  for (const auto& call : heard.calls) (call.find(big) != std::string::npos ? big_calls : small_calls).push_back(call);
  ASSERT_GE(big_calls.size(), 2u);
  // Every percentage names the entry; the file manager hears each one once, rising to 100.
  Heard big_heard{{big_calls.begin(), big_calls.end() - 1}};
  const std::vector<int> big_percent = percentages(big_heard);
  EXPECT_EQ(big_percent.size(), big_calls.size() - 1);
  EXPECT_TRUE(strictly_rising(big_percent));
  EXPECT_EQ(big_percent.front(), 1);
  EXPECT_EQ(big_percent.back(), 100);
  EXPECT_LE(big_percent.size(), 100u);
  EXPECT_EQ(big_calls.back(), "W 1000000 " + big);
  EXPECT_EQ(small_calls, (std::vector<std::string>{"W -100 " + small, "W 10 " + small}));
  EXPECT_EQ(file_size(dest + L"big.bin"), 1000000u);

  // The plugin reported 500 times and was answered TRUE each time.
  const auto steps = lines_starting(Log(), "step ");
  EXPECT_EQ(steps.size(), 251u);
  for (const auto& step : steps) EXPECT_NE(step.find("answer=1"), std::string::npos) << step;
}

TEST_F(ProgressFixture, CancelMidWayAbortsAndNothingFurtherIsWritten) {
  const std::string big = narrow(dest) + "big.bin";
  const std::vector<std::string> up_to_40 = {"W -10 " + big, "W -20 " + big, "W -30 " + big, "W -40 " + big};
  std::vector<std::string> all_and_written;
  for (int p = 10; p <= 100; p += 10) all_and_written.push_back("W -" + std::to_string(p) + " " + big);
  all_and_written.push_back("W 1000000 " + big);
  struct Case {
    const char* name;
    const char* poll;
    int cancel_at;
    bool cancel_written;
    // What the file manager heard, how the plugin ended and what is left on disk.
    std::vector<std::string> heard;
    std::vector<std::string> plugin_end;
    unsigned long long left_on_disk;
  } cases[] = {
      // The plugin sees the cancel as Esc in its console poll and stops; its truncated file goes.
      {"cancel at 40 %", "", 40, false, up_to_40,
       {"step 4 written=400000 answer=1", "poll result=escape", "GetFilesW big.bin cancelled"}, ~0ULL},
      // A plugin that never polls writes the whole entry; the complete file stays.
      {"plugin that does not poll", " poll=no", 40, false, up_to_40,
       {"step 10 written=1000000 answer=1", "GetFilesW big.bin done"}, 1000000},
      // A cancel answered to the written entry's report ends the operation and keeps the entry.
      {"cancel when written", "", 0, true, all_and_written,
       {"step 10 written=1000000 answer=1", "poll result=none", "GetFilesW big.bin done"}, 1000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fm.ClearLog(L"Prg", L"progress_plugin.dll");
    DeleteFileW((dest + L"big.bin").c_str());
    heard = Heard{};
    heard.cancel_at = c.cancel_at;
    heard.cancel_written = c.cancel_written;
    const std::wstring archive = fm.WriteArchive(
        L"cancel.prg", std::string("WXPRG\nfile big.bin size=1000000 steps=10") + c.poll + "\nfile next.bin size=5\n");
    HANDLE h = open_for_extract(fm, archive);
    ASSERT_NE(h, nullptr);
    fm.SetProcessDataProcW(h, proc(wide_proc));
    auto header = std::make_unique<wcx::tHeaderDataExW>();
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), L"big.bin"), wcx::E_EABORTED);
    EXPECT_EQ(heard.calls, c.heard);
    EXPECT_EQ(file_size(dest + L"big.bin"), c.left_on_disk);

    // The following entry is not started, however the file manager asks; skipping still works.
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), L"next.bin"), wcx::E_EABORTED);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr), 0);
    EXPECT_EQ(fm.ReadHeaderExW(h, header.get()), wcx::E_END_ARCHIVE);
    EXPECT_EQ(fm.CloseArchive(h), 0);
    EXPECT_FALSE(file_exists(dest + L"next.bin"));
    // Nothing more was heard after the cancel.
    EXPECT_EQ(heard.calls, c.heard);

    const auto log = Log();
    ASSERT_GE(log.size(), c.plugin_end.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - c.plugin_end.size(), log.end()), c.plugin_end);
    EXPECT_TRUE(lines_starting(log, "GetFilesW next.bin").empty());
  }
}

TEST_F(ProgressFixture, CallbackWithoutHandleAppliesToArchivesOpenedLater) {
  const std::string script = "WXPRG\nfile f.bin size=100 steps=1\n";
  const std::wstring archive = fm.WriteArchive(L"one.prg", script);
  const std::string f = narrow(dest) + "f.bin";
  const std::vector<std::string> heard_w = {"W -100 " + f, "W 100 " + f};
  const std::vector<std::string> heard_w2 = {"W2 -100 " + f, "W2 100 " + f};

  // Both ways file managers say "no archive" set the callback for archives opened afterwards.
  fm.SetProcessDataProcW(nullptr, proc(wide_proc));
  HANDLE first = open_for_extract(fm, archive);
  fm.SetProcessDataProcW(kNoArchive, proc(other_wide_proc));
  HANDLE second = open_for_extract(fm, archive);
  HANDLE third = open_for_extract(fm, archive);
  // A callback set for one archive is that archive's alone.
  fm.SetProcessDataProcW(third, proc(wide_proc));
  ASSERT_TRUE(first && second && third);

  extract_open(fm, first, dest);
  EXPECT_EQ(heard.calls, heard_w);
  heard.calls.clear();
  extract_open(fm, second, dest);
  EXPECT_EQ(heard.calls, heard_w2);
  heard.calls.clear();
  extract_open(fm, third, dest);
  EXPECT_EQ(heard.calls, heard_w);

  // A null callback takes the default away again; a handle the module never gave is ignored.
  heard.calls.clear();
  fm.SetProcessDataProcW(kNoArchive, nullptr);
  fm.SetProcessDataProcW(reinterpret_cast<HANDLE>(0x1234), proc(wide_proc));
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"f.bin=0", "close=0"}));
  EXPECT_TRUE(heard.calls.empty());
}

TEST_F(ProgressFixture, UnicodeCallbackIsPreferredOverTheAnsiOne) {
  const std::wstring archive = fm.WriteArchive(L"one.prg", "WXPRG\nfile f.bin size=100 steps=1\n");
  const std::string f = narrow(dest) + "f.bin";
  struct Case {
    const char* name;
    void* default_ansi;
    void* default_wide;
    void* own_ansi;
    std::vector<std::string> expected;
  } cases[] = {
      {"both without handle", proc(ansi_proc), proc(wide_proc), nullptr, {"W -100 " + f, "W 100 " + f}},
      {"ansi alone", proc(ansi_proc), nullptr, nullptr, {"A -100 " + f, "A 100 " + f}},
      {"ansi for the archive, wide without handle", nullptr, proc(wide_proc), proc(ansi_proc),
       {"W -100 " + f, "W 100 " + f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    heard.calls.clear();
    fm.SetProcessDataProc(kNoArchive, c.default_ansi);
    fm.SetProcessDataProcW(kNoArchive, c.default_wide);
    HANDLE h = open_for_extract(fm, archive);
    ASSERT_NE(h, nullptr);
    if (c.own_ansi) fm.SetProcessDataProc(h, c.own_ansi);
    extract_open(fm, h, dest);
    EXPECT_EQ(heard.calls, c.expected);
  }
}

TEST_F(ProgressFixture, CancelReachesOnlyTheArchiveOfItsThread) {
  const std::wstring slow = fm.WriteArchive(L"a.prg", "WXPRG\nfile a.bin size=2000000 steps=200\n");
  const std::wstring other = fm.WriteArchive(L"b.prg", "WXPRG\nfile b.bin size=2000000 steps=200\n");
  std::atomic<int> ready{0};
  std::vector<std::string> results[2];
  Heard heard_by[2];
  heard_by[0].cancel_at = 30;
  auto run = [&](int AIndex, const std::wstring& AArchive) {
    THeard = &heard_by[AIndex];
    HANDLE h = open_for_extract(fm, AArchive);
    fm.SetProcessDataProcW(h, proc(wide_proc));
    ++ready;
    while (ready < 2) std::this_thread::yield();
    results[AIndex] = extract_open(fm, h, dest);
  };
  std::thread a(run, 0, slow), b(run, 1, other);
  a.join();
  b.join();
  EXPECT_EQ(results[0], (std::vector<std::string>{"a.bin=21", "close=0"}));
  EXPECT_EQ(results[1], (std::vector<std::string>{"b.bin=0", "close=0"}));
  EXPECT_FALSE(file_exists(dest + L"a.bin"));
  EXPECT_EQ(file_size(dest + L"b.bin"), 2000000u);
  const std::vector<int> b_percent = percentages(heard_by[1]);
  EXPECT_TRUE(strictly_rising(b_percent));
  ASSERT_FALSE(b_percent.empty());
  EXPECT_EQ(b_percent.back(), 100);
  EXPECT_EQ(percentages(heard_by[0]).back(), 30);
  const auto log = Log();
  EXPECT_EQ(lines_starting(log, "GetFilesW a.bin cancelled").size(), 1u);
  EXPECT_EQ(lines_starting(log, "GetFilesW b.bin done").size(), 1u);
}

// The widely used archive plugin polls with an event count it never initialises and results it
// never checks. Without a console the calls fail; the count must not be left as it was.
TEST_F(ProgressFixture, FailedConsolePollNeitherSpinsNorCancels) {
  FreeConsole();
  DWORD events = 0;
  ASSERT_FALSE(GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &events));
  const std::wstring archive = fm.WriteArchive(
      L"seeded.prg", "WXPRG\nfile spin.bin size=3000 steps=3 seed=spin\nfile phantom.bin size=3000 steps=3 seed=phantom\n");
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"spin.bin=0", "phantom.bin=0", "close=0"}));
  EXPECT_EQ(file_size(dest + L"spin.bin"), 3000u);
  EXPECT_EQ(file_size(dest + L"phantom.bin"), 3000u);
  // The seeds landed in the poll's frame: left alone, the count would have said 0x5A5A5A5A events
  // (a loop without end) and one Esc press (a cancel nobody asked for).
  const auto polls = lines_starting(Log(), "poll ");
  const std::string spin = "poll result=none seeded=same-frame start=" + std::to_string(0x5A5A5A5Au) +
                           " start-key=other";
  const std::string phantom = "poll result=none seeded=same-frame start=1 start-key=escape";
  EXPECT_EQ(polls, (std::vector<std::string>{spin, spin, spin, phantom, phantom, phantom}));
}

// With a console, the cancel reaches the plugin's poll without entering the console's input
// buffer, and keys the user typed there are neither lost nor joined by a stray Esc.
TEST_F(ProgressFixture, CancelWithAConsoleLeavesItsInputAlone) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(input, INVALID_HANDLE_VALUE);
  SetStdHandle(STD_INPUT_HANDLE, input);
  FlushConsoleInputBuffer(input);
  auto key = [](WORD AKey, wchar_t AChar, BOOL ADown) {
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = ADown;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = AKey;
    record.Event.KeyEvent.uChar.UnicodeChar = AChar;
    return record;
  };
  const std::wstring archive = fm.WriteArchive(L"console.prg", "WXPRG\nfile big.bin size=100000 steps=10\n");

  // The file manager cancels at 50 %: the plugin sees Esc, stops, and nothing is left behind.
  fm.SetProcessDataProcW(kNoArchive, proc(wide_proc));
  heard.cancel_at = 50;
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"big.bin=21", "close=0"}));
  EXPECT_FALSE(file_exists(dest + L"big.bin"));
  DWORD events = 99;
  EXPECT_TRUE(GetNumberOfConsoleInputEvents(input, &events));
  EXPECT_EQ(events, 0u);
  EXPECT_EQ(lines_starting(Log(), "GetFilesW big.bin cancelled").size(), 1u);

  // A user who presses Esc in the console itself cancels as in FAR: the host lets the key through.
  fm.ClearLog(L"Prg", L"progress_plugin.dll");
  heard = Heard{};
  const INPUT_RECORD escape[] = {key(VK_ESCAPE, 27, TRUE), key(VK_ESCAPE, 27, FALSE)};
  DWORD written = 0;
  ASSERT_TRUE(WriteConsoleInputW(input, escape, 2, &written));
  ASSERT_TRUE(GetNumberOfConsoleInputEvents(GetStdHandle(STD_INPUT_HANDLE), &events));
  ASSERT_EQ(events, 2u);
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"big.bin=21", "close=0"}));
  const auto log = Log();
  EXPECT_EQ(lines_starting(log, "step ").size(), 1u);
  EXPECT_EQ(lines_starting(log, "GetFilesW big.bin cancelled").size(), 1u);
  EXPECT_FALSE(file_exists(dest + L"big.bin"));

  SetStdHandle(STD_INPUT_HANDLE, nullptr);
  CloseHandle(input);
  FreeConsole();
}

namespace {

// The module's staging folders in AFolder: hidden ".wexlor-..." folders.
size_t staging_folders(const std::wstring& AFolder) {
  size_t count = 0;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L".wexlor-*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do ++count;
  while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

const char kFourEntries[] =
    "WXPRG\nfile a.bin size=1000 steps=1\nfile b.bin size=100000 steps=10\nfile c.bin size=100000 steps=10\n"
    "file d.bin size=100000 steps=10\n";

}  // namespace

// The plugin extracts b, c and d in one call, asked for b; its progress goes to b, rising, and
// each entry is reported with its name and size when it is put in place.
TEST_F(ProgressFixture, ReadAheadReportsEachEntryWhenItIsInPlace) {
  const std::wstring archive = fm.WriteArchive(L"four.prg", kFourEntries);
  fm.SetProcessDataProcW(kNoArchive, proc(wide_proc));
  EXPECT_EQ(extract_all(fm, archive, dest), (std::vector<std::string>{"a.bin=0", "b.bin=0", "c.bin=0", "d.bin=0", "close=0"}));
  const std::string d = narrow(dest);
  std::vector<std::string> b_calls, others;
  for (const auto& call : heard.calls) (call.find(d + "b.bin") != std::string::npos ? b_calls : others).push_back(call);
  EXPECT_EQ(others, (std::vector<std::string>{"W -100 " + d + "a.bin", "W 1000 " + d + "a.bin", "W 100000 " + d + "c.bin",
                                              "W 100000 " + d + "d.bin"}));
  ASSERT_GE(b_calls.size(), 2u);
  EXPECT_EQ(b_calls.back(), "W 100000 " + d + "b.bin");
  const std::vector<int> b_percent = percentages(Heard{{b_calls.begin(), b_calls.end() - 1}});
  EXPECT_EQ(b_percent.size(), b_calls.size() - 1);
  EXPECT_TRUE(strictly_rising(b_percent));
  EXPECT_EQ(b_percent.back(), 100);
  // One call brought b, c and d.
  const auto log = Log();
  EXPECT_EQ(lines_starting(log, "GetFilesW c.bin begin").size(), 1u);
  EXPECT_EQ(lines_starting(log, "GetFilesW d.bin begin").size(), 1u);
  for (const char* name : {"b.bin", "c.bin", "d.bin"}) EXPECT_EQ(file_size(dest + widen(name)), 100000u);
}

// A cancel while the plugin reads ahead, or with the report of an entry read ahead, deletes at
// once what is staged; an entry reported whole stays.
TEST_F(ProgressFixture, CancelDuringReadAheadDeletesWhatIsStaged) {
  struct Case {
    const char* name;
    int cancel_at;
    bool cancel_written;
    bool b_stays;
  } cases[] = {
      {"cancel while the plugin works", 50, false, false},
      {"cancel with the entry's report", 0, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    remove_tree(dest);
    CreateDirectoryW(dest.c_str(), nullptr);
    heard = Heard{};
    heard.cancel_at = c.cancel_at;
    heard.cancel_written = c.cancel_written;
    heard.cancel_only_of = "b.bin";
    const std::wstring archive = fm.WriteArchive(L"four.prg", kFourEntries);
    HANDLE h = open_for_extract(fm, archive);
    ASSERT_NE(h, nullptr);
    fm.SetProcessDataProcW(h, proc(wide_proc));
    auto header = std::make_unique<wcx::tHeaderDataExW>();
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), header->FileName), 0);
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), header->FileName), wcx::E_EABORTED);
    EXPECT_EQ(staging_folders(dest), 0u);
    EXPECT_EQ(file_size(dest + L"b.bin"), c.b_stays ? 100000u : ~0ULL);
    // Nothing further is started.
    ASSERT_EQ(fm.ReadHeaderExW(h, header.get()), 0);
    EXPECT_EQ(fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), header->FileName), wcx::E_EABORTED);
    EXPECT_EQ(fm.CloseArchive(h), 0);
    EXPECT_FALSE(file_exists(dest + L"c.bin"));
    EXPECT_FALSE(file_exists(dest + L"d.bin"));
    EXPECT_EQ(file_size(dest + L"a.bin"), 1000u);
    EXPECT_EQ(staging_folders(dest), 0u);
  }
}

namespace {

// wcxhost extracting AArchive into ADest, with stderr on AStdErr (a pipe when null).
ProgramRun run_wcxhost(FileManager& AFm, const std::wstring& AArchive, const std::wstring& ADest, HANDLE AStdErr,
                       const std::function<void()>& AWhileRunning = {}) {
  return RunProgram(L"\"" + exe_folder() + L"wcxhost.exe\" --wcx \"" + AFm.Root() + qor::kModuleFileName + L"\" extract \"" +
                        AArchive + L"\" \"" + ADest + L"\"",
                    AStdErr, AWhileRunning);
}

}  // namespace

// wcxhost shows a long extraction's progress on one console line, and only on a console.
TEST_F(ProgressFixture, WcxHostShowsProgressOnAConsoleLineOnly) {
  const std::wstring archive =
      fm.WriteArchive(L"slow.prg", "WXPRG\nfile slow.bin size=100000 steps=10 pause=60 poll=no\n");
  fm.Unload();

  // stderr into a pipe: results only.
  const ProgramRun piped = run_wcxhost(fm, archive, dest + L"piped", nullptr);
  EXPECT_EQ(piped.status, 0u);
  EXPECT_EQ(piped.err, "");
  EXPECT_NE(piped.out.find("extracted slow.bin"), std::string::npos) << piped.out;
  EXPECT_EQ(file_size(dest + L"piped\\slow.bin"), 100000u);

  // stderr on a console: the line shows rising percentages and is gone when the entry is done.
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  auto first_row = [&] {
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    GetConsoleScreenBufferInfo(console, &screen);
    std::wstring row(static_cast<size_t>(screen.dwSize.X), L' ');
    DWORD got = 0;
    ReadConsoleOutputCharacterW(console, row.data(), static_cast<DWORD>(row.size()), COORD{0, 0}, &got);
    row.resize(got);
    return narrow(row.substr(0, row.find_last_not_of(L' ') + 1));
  };
  std::vector<std::string> seen;
  const ProgramRun shown_run = run_wcxhost(fm, archive, dest + L"console", console, [&] {
    const std::string row = first_row();
    if (!row.empty() && (seen.empty() || seen.back() != row)) seen.push_back(row);
  });
  EXPECT_EQ(shown_run.status, 0u);
  EXPECT_NE(shown_run.out.find("extracted slow.bin"), std::string::npos) << shown_run.out;
  EXPECT_EQ(file_size(dest + L"console\\slow.bin"), 100000u);
  EXPECT_EQ(first_row(), "");
  ASSERT_GE(seen.size(), 2u);
  const std::string name = narrow(dest) + "console\\slow.bin";
  std::vector<int> shown;
  for (const auto& row : seen) {
    const size_t percent = row.find("% ");
    ASSERT_NE(percent, std::string::npos) << row;
    EXPECT_EQ(row.substr(percent + 2), name);
    shown.push_back(std::atoi(row.c_str()));
  }
  EXPECT_TRUE(strictly_rising(shown));
  CloseHandle(console);
  FreeConsole();
}
