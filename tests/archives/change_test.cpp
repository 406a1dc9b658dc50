// Changes of an existing archive that must never lose what it held, through the built module and
// the writing fixture given the real plugin's behaviours: its update starts from what its panel
// listed, it may drop or over-delete while answering success, skip an entry already there, fault,
// or race another process's change of the same archive.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pack_util.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

// An archive made elsewhere: a file at the root and one below a folder.
const std::string kMadeElsewhere = pack_text({{"keep.txt", "kept"}, {"x\\other.txt", "other"}});

}  // namespace

TEST(Changes, AddingAtTheRootKeepsEveryEntryTheArchiveHeld) {
  Packer p;
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, kMadeElsewhere);
  ASSERT_EQ(p.Pack(archive, kTree), 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.at("keep.txt"), "kept");
  EXPECT_EQ(entries.at("x\\other.txt"), "other");
  EXPECT_EQ(entries.at("a.txt"), "alpha");
  EXPECT_EQ(entries.at("d\\b.txt"), "bravo!");
  // As FAR shows a panel before anything is done in it.
  const auto log = p.Log();
  const auto put = std::find_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("PutFilesW items", 0) == 0; });
  ASSERT_NE(put, log.end());
  EXPECT_NE(std::find_if(log.begin(), put, [](const std::string& l) { return l.rfind("GetFindDataW folder= ", 0) == 0; }), put);
  EXPECT_EQ(count_lines(log, "no index"), 0);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"});
}

TEST(Changes, AChangeThatLosesAnEntryOrFailsHalfWayIsRolledBackByteForByte) {
  struct Case {
    std::string config;
    bool deleting;
    const wchar_t* sub;  // packing below this folder
    int result;
  };
  const std::vector<Case> cases = {
      {"drop=keep.txt", false, nullptr, wcx::E_EWRITE},      // packing loses an unrelated entry
      {"drop=keep.txt", true, nullptr, wcx::E_EWRITE},       // deleting takes one more
      {"put=fail", false, L"new\\deeper", wcx::E_EWRITE},   // folders were made before the put failed
      {"delete=fail:other.txt", true, nullptr, wcx::E_EWRITE},  // the second folder's deletion fails
  };
  for (const Case& c : cases) {
    Packer p(L"pack_plugin.dll", c.config);
    const std::wstring archive = p.Archive(L"old.wxp");
    write_file(archive, kMadeElsewhere + pack_text({{"gone.txt", "g"}}).substr(7));
    const int result = c.deleting ? p.Delete(archive, {L"gone.txt", L"x\\other.txt"}) : p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS, c.sub);
    EXPECT_EQ(result, c.result) << c.config;
    EXPECT_EQ(read_file(archive), kMadeElsewhere + pack_text({{"gone.txt", "g"}}).substr(7)) << c.config;
    EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"}) << c.config << ": no link, no temporary file";
  }
}

TEST(Changes, AMoveKeepsASourceWhoseEntryTheCallDidNotWrite) {
  // The archive holds an older a.txt of the same size; the user picks Skip in the plugin's
  // overwrite dialog, and the plugin answers success.
  Packer p(L"pack_plugin.dll", "put=keep");
  const std::wstring archive = p.Archive(L"old.wxp");
  const std::string before = pack_text({{"a.txt", "ALPHA"}});
  write_file(archive, before);
  EXPECT_EQ(p.Pack(archive, {L"a.txt"}, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_MOVE_FILES), wcx::E_EWRITE);
  EXPECT_EQ(read_file(p.Source + L"a.txt"), "alpha");
  EXPECT_EQ(read_pack(archive).at("a.txt"), "ALPHA");
  // A source the call did write goes.
  p.Configure("");
  ASSERT_EQ(p.Pack(archive, {L"a.txt"}, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_MOVE_FILES), 0);
  EXPECT_FALSE(file_exists(p.Source + L"a.txt"));
  EXPECT_EQ(read_pack(archive).at("a.txt"), "alpha");
}

TEST(Changes, DeletingTakesTheExactShownName) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> held;
    std::wstring name;
    int result;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {{{"Readme", "1"}, {"README", "2"}}, L"README", 0, {"Readme"}},
      {{{"Readme", "1"}, {"README", "2"}}, L"readme", wcx::E_NO_FILES, {"README", "Readme"}},
      // Shown as "a_b~2.txt" and "a_b.txt": the name made for the file manager never takes another's.
      {{{"a?b.txt", "1"}, {"a_b.txt", "2"}}, L"a_b.txt", 0, {"a?b.txt"}},
      {{{"a?b.txt", "1"}, {"a_b.txt", "2"}}, L"a_b~2.txt", 0, {"a_b.txt"}},
      {{{"only.txt", "1"}, {"other", "2"}}, L"ONLY.TXT", 0, {"other"}},
  };
  for (const Case& c : cases) {
    Packer p;
    const std::wstring archive = p.Archive(L"old.wxp");
    const std::string before = pack_text(c.held);
    write_file(archive, before);
    EXPECT_EQ(p.Delete(archive, {c.name}), c.result) << narrow(c.name);
    std::vector<std::string> left;
    for (const auto& entry : read_pack(archive)) left.push_back(entry.first);
    EXPECT_EQ(left, c.left) << narrow(c.name);
    if (c.result != 0) {
      EXPECT_EQ(read_file(archive), before) << narrow(c.name);
      EXPECT_EQ(count_lines(p.Log(), "DeleteFilesW"), 0) << narrow(c.name);
    }
  }
}

// An ANSI file manager is shown names without look-alikes (a full-width "a" is no "a"), and finds
// entries through the same form; a name that form gives two items is refused.
TEST(Changes, AnsiNamesReachOnlyTheItemTheyWereShownFor) {
  ASSERT_EQ(GetACP(), 1252u);
  const std::string a = "a.txt", wide_a = "\xEF\xBD\x81.txt", wide_b = "\xEF\xBD\x82.txt";  // U+FF41, U+FF42
  struct Case {
    std::vector<std::pair<std::string, std::string>> held;
    std::string name;  // as the ANSI file manager was shown it
    int result;
    std::vector<std::string> left;
  };
  const std::vector<Case> cases = {
      {{{a, "1"}, {wide_a, "2"}}, "a.txt", 0, {wide_a}},
      {{{a, "1"}, {wide_a, "2"}}, "_.txt", 0, {a}},
      {{{wide_a, "1"}, {wide_b, "2"}}, "_.txt", wcx::E_NOT_SUPPORTED, {wide_a, wide_b}},
  };
  for (const Case& c : cases) {
    Packer p;
    const std::wstring archive = p.Archive(L"old.wxp");
    const std::string before = pack_text(c.held);
    write_file(archive, before);
    std::string path = narrow(archive), list = c.name + std::string(2, '\0');
    EXPECT_EQ(p.Fm.DeleteFiles(path.data(), list.data()), c.result) << c.name;
    std::vector<std::string> left;
    for (const auto& entry : read_pack(archive)) left.push_back(entry.first);
    EXPECT_EQ(left, c.left) << c.name;
    if (c.result != 0) {
      EXPECT_EQ(read_file(archive), before) << c.name;
    }
  }
}

TEST(Changes, TwoProcessesAddingToOneArchiveBothKeepTheirFiles) {
  Packer p(L"pack_plugin.dll", "slow=1500");
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, pack_text({{"keep.txt", "kept"}}));
  const std::wstring host = L"\"" + exe_folder() + L"wcxhost.exe\" --wcx \"" + p.Fm.Root() + qor::kModuleFileName + L"\" pack ";
  const std::wstring source = p.Source.substr(0, p.Source.size() - 1);
  ProgramRun other;
  std::atomic<bool> ended{false};
  std::thread second([&] {
    other = RunProgram(host + L"\"" + archive + L"\" \"" + source + L"\" a.txt");
    ended = true;
  });
  // The other process is writing its update when this one starts its own.
  for (int i = 0; i < 1200 && !ended && count_lines(p.Log(), "PutFilesW items=a.txt") == 0; ++i) Sleep(50);
  const int result = p.Pack(archive, {L"d\\", L"d\\b.txt"});
  second.join();
  EXPECT_EQ(other.status, 0u) << other.out << other.err;
  EXPECT_EQ(result, 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.count("keep.txt"), 1u);
  EXPECT_EQ(entries.count("a.txt"), 1u);
  EXPECT_EQ(entries.count("d\\b.txt"), 1u);
}

TEST(Changes, EncryptionIsRefusedForAnExistingArchiveBeforeAnyDialogOrWrite) {
  Packer p(L"pack_plugin.dll", "dialog=yes");
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, kMadeElsewhere);
  EXPECT_EQ(p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_ENCRYPT), wcx::E_NOT_SUPPORTED);
  EXPECT_EQ(read_file(archive), kMadeElsewhere);
  EXPECT_EQ(count_lines(p.Log(), "PutFilesW") + count_lines(p.Log(), "update dialog"), 0);
}

// Processor faults inside the plugin: run only where the processor is not emulated.
TEST(ChangesNativeFaults, AFaultWhileDeletingOrMakingAFolderLeavesNoTemporaryFile) {
  struct Case {
    std::string config;
    bool deleting;
  };
  for (const Case& c : {Case{"delete=fault", true}, Case{"mkdir=fault", false}}) {
    Packer p(L"pack_plugin.dll", c.config);
    const std::wstring archive = p.Archive(L"old.wxp");
    write_file(archive, kMadeElsewhere);
    const int result = c.deleting ? p.Delete(archive, {L"keep.txt"}) : p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS, L"new");
    EXPECT_EQ(result, wcx::E_EWRITE) << c.config;
    EXPECT_EQ(read_file(archive), kMadeElsewhere) << c.config;
    EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"}) << c.config;
  }
}

TEST(Changes, WhatAKilledProcessLeftBesideArchivesIsSweptAndNothingElse) {
  Packer p;
  // A process that has ended, and its start time, as the module tags its working files.
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + exe_folder() + L"wcxhost.exe\" --help";
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  FILETIME created{}, exited{}, kernel{}, user{};
  GetProcessTimes(pi.hProcess, &created, &exited, &kernel, &user);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  wchar_t dead[64], alive[64];
  swprintf(dead, 64, L"~wexlor-%lx-%lx-0-", pi.dwProcessId, created.dwLowDateTime);
  swprintf(alive, 64, L"~wexlor-%lx-0-0-", GetCurrentProcessId());
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, kMadeElsewhere);
  CreateHardLinkW((p.Archives + L"\\" + dead + L"old.wxp").c_str(), archive.c_str(), nullptr);  // a stale link
  write_file(p.Archives + L"\\" + dead + L"new.7z", "half");                                     // a stale creation
  write_file(p.Archives + L"\\" + alive + L"other.wxp", "in use");
  write_file(p.Archives + L"\\~wexlor-notes.txt", "mine");
  ASSERT_EQ(p.Pack(archive, {L"a.txt"}), 0);
  EXPECT_EQ(files_in(p.Archives), (std::vector<std::wstring>{L"old.wxp", std::wstring(alive) + L"other.wxp", L"~wexlor-notes.txt"}));
}
