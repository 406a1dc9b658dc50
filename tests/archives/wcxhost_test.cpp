// The command-line WCX host run as its own process against the built module and a fixture plugin:
// its listing, extraction, detection, error names, exit statuses and its buffered output.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive_util.h"
#include "common/qorTarget.h"

using namespace wxt;

namespace {

struct HostRun {
  DWORD status = 0xFFFFFFFF;
  std::string out, err;
};

// Reads what the pipe holds without waiting for its end: a process that Wine starts on demand
// (its desktop, when the host shows a window) may inherit the write end and keep it open.
std::string drain(HANDLE APipe) {
  std::string text;
  char buffer[4096];
  DWORD available = 0, got = 0;
  while (PeekNamedPipe(APipe, nullptr, 0, nullptr, &available, nullptr) && available &&
         ReadFile(APipe, buffer, sizeof(buffer), &got, nullptr) && got)
    text.append(buffer, got);
  return text;
}

// Output goes to pipes, or standard output to AOutFile when given (read back into out).
HostRun run_host(const std::wstring& AArgs, const std::wstring& AOutFile = {}) {
  HostRun run;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  // Room for all the host writes: it is read once the host has ended.
  CreatePipe(&out_read, &out_write, &sa, 1 << 20);
  CreatePipe(&err_read, &err_write, &sa, 1 << 20);
  if (!AOutFile.empty()) {
    CloseHandle(out_write);
    out_write = CreateFileW(AOutFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  }
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out_write;
  si.hStdError = err_write;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + exe_folder() + L"wcxhost.exe\" " + AArgs;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(out_write);
    CloseHandle(err_write);
    // A host that hangs (a dialog nobody answers) fails the test instead of stopping the run.
    if (WaitForSingleObject(pi.hProcess, 120000) == WAIT_TIMEOUT) {
      TerminateProcess(pi.hProcess, 0xDEAD);
      WaitForSingleObject(pi.hProcess, INFINITE);
    }
    GetExitCodeProcess(pi.hProcess, &run.status);
    run.out = AOutFile.empty() ? drain(out_read) : read_file(AOutFile);
    run.err = drain(err_read);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    CloseHandle(out_write);
    CloseHandle(err_write);
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  return run;
}

std::wstring quoted(const std::wstring& A) { return L"\"" + A + L"\""; }

std::string without_cr(std::string AText) {
  for (size_t p; (p = AText.find('\r')) != std::string::npos;) AText.erase(p, 1);
  return AText;
}

}  // namespace

TEST(WcxHost, ListsExtractsAndChecksThroughTheModule) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  const std::string t = std::to_string(kJune2021);
  const std::wstring archive = fm.WriteArchive(
      L"a.fix", "WXFIX\ndir docs time=" + t + "\nfile docs\\r\xC3\xA9sum\xC3\xA9.txt data=cv attr=0x21 time=" + t +
                    "\nfile big.bin size=5000000000\nfile note.txt data=hello\n");
  const std::wstring foreign = fm.WriteArchive(L"foreign.bin", "plain");
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";

  for (const wchar_t* mode : {L"", L"--ansi "}) {
    SCOPED_TRACE(narrow(mode));
    const HostRun list = run_host(wcx + mode + L"list " + quoted(archive));
    EXPECT_EQ(list.status, 0u) << list.err;
    const std::string expected_list = std::string("2021-06-15 13:45:30  D....               0  docs\n") +
                                      "2021-06-15 13:45:30  .R..A               2  docs\\r\xC3\xA9sum\xC3\xA9.txt\n" +
                                      "                     ....A      5000000000  big.bin\n" +
                                      "                     ....A               5  note.txt\n" +
                                      "4 entries, 5000000007 bytes\n";
    EXPECT_EQ(without_cr(list.out), expected_list);

    const HostRun bare = run_host(wcx + mode + L"list --bare " + quoted(archive));
    EXPECT_EQ(bare.status, 0u) << bare.err;
    EXPECT_EQ(without_cr(bare.out), "docs\ndocs\\r\xC3\xA9sum\xC3\xA9.txt\nbig.bin\nnote.txt\n");

    const std::wstring dest = fm.Root() + L"out" + (mode[0] ? L"a" : L"w");
    const HostRun extract = run_host(wcx + mode + L"extract " + quoted(archive) + L" " + quoted(dest) + L" docs note.txt");
    EXPECT_EQ(extract.status, 0u) << extract.err;
    EXPECT_EQ(without_cr(extract.out),
              "extracted docs\\r\xC3\xA9sum\xC3\xA9.txt\nextracted note.txt\n2 extracted, 0 failed\n");
    EXPECT_EQ(read_file(dest + L"\\docs\\r\u00e9sum\u00e9.txt"), "cv");
    EXPECT_EQ(read_file(dest + L"\\note.txt"), "hello");
    EXPECT_FALSE(file_exists(dest + L"\\big.bin"));

    const HostRun check = run_host(wcx + mode + L"check " + quoted(archive) + L" " + quoted(foreign));
    EXPECT_EQ(check.status, 1u);
    EXPECT_EQ(without_cr(check.out), narrow(archive) + ": archive\n" + narrow(foreign) + ": not an archive\n");
  }
}

TEST(WcxHost, ErrorsNameTheCodeAndExitNonZero) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  const std::wstring foreign = fm.WriteArchive(L"foreign.bin", "plain");
  const std::wstring broken = fm.WriteArchive(L"broken.fix", "WXFIX\noption fault GetFindDataW\nfile x size=1\n");
  const std::wstring failing = fm.WriteArchive(L"failing.fix", "WXFIX\nfile x data=x result=0\nfile y data=y\n");
  const std::wstring unsafe = fm.WriteArchive(L"unsafe.fix", "WXFIX\nfile C:evil data=e\nfile fine data=f\n");
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";
  const std::wstring out = quoted(fm.Root() + L"out");
  struct Case {
    std::wstring args;
    DWORD status;
    std::string message;
  } cases[] = {
      {wcx + L"list " + quoted(foreign), 1, "E_EOPEN (15)"},
      {wcx + L"list " + quoted(broken), 1, "E_EREAD (18)"},
      {wcx + L"extract " + quoted(failing) + L" " + out, 1, "extracting x: E_BAD_DATA (12)"},
      {wcx + L"extract " + quoted(failing) + L" " + out + L" missing", 1, "not in the archive: missing"},
      {L"--wcx " + quoted(fm.Root() + L"nothing.wcx") + L" list " + quoted(foreign), 3, "cannot load"},
      // A name that would leave the destination folder is listed harmlessly and refused by the
      // module, never handed to the plugin.
      {wcx + L"extract " + quoted(unsafe) + L" " + out, 1, "extracting C_evil: E_ECREATE (16)"},
      {L"list", 2, "usage"},
      {L"frobnicate x", 2, "usage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.args));
    const HostRun run = run_host(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  // The failing entry does not stop the others.
  EXPECT_EQ(read_file(fm.Root() + L"out\\y"), "y");
  EXPECT_EQ(read_file(fm.Root() + L"out\\fine"), "f");
  EXPECT_FALSE(file_exists(fm.Root() + L"out\\evil"));
}

// An "encrypted" archive of the dialog fixture: it asks for its password with a dialog (a
// password edit, OK as the default button) while it is opened, and opens only for "s3cret".
TEST(WcxHost, PasswordOptionAnswersPasswordDialogs) {
  FileManager fm({{L"dialogs", L"dialog_plugin.dll"}}, false);
  const std::wstring archive = fm.WriteArchive(
      L"locked.dlg",
      "WXDLG\nfile first.txt\nfile second.txt\n"
      "dialog password -1 -1 40 7 param=1 password=s3cret\n"
      "item 3 3 1 36 5 0 0 Password\n"
      "item 0 5 2 34 2 0 0 &Password:\n"
      "item 5 5 3 34 3 0 0 \n"
      "item 7 10 4 18 4 4294967296 0 OK\n"
      "item 7 20 4 30 4 0 0 Cancel\n"
      "end\n");
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";
  const std::wstring out = fm.Root() + L"out";

  const HostRun extract = run_host(wcx + L"--password s3cret extract " + quoted(archive) + L" " + quoted(out));
  EXPECT_EQ(extract.status, 0u) << extract.err;
  EXPECT_EQ(read_file(out + L"\\first.txt"), "decrypted:first.txt");
  EXPECT_EQ(read_file(out + L"\\second.txt"), "decrypted:second.txt");
  const auto log = fm.Log(L"dialogs", L"dialog_plugin.dll");
  EXPECT_EQ(count_prefix(log, "run password 3"), 1) << "closed by its default button";
  EXPECT_EQ(count_prefix(log, "decrypt password ok 's3cret'"), 1);

  // A wrong password: the plugin's own error path, and the run ends.
  fm.ClearLog(L"dialogs", L"dialog_plugin.dll");
  const HostRun wrong = run_host(wcx + L"--password guess list " + quoted(archive));
  EXPECT_EQ(wrong.status, 1u);
  EXPECT_NE(wrong.err.find("E_EOPEN (15)"), std::string::npos) << wrong.err;
  EXPECT_EQ(count_prefix(fm.Log(L"dialogs", L"dialog_plugin.dll"), "decrypt password wrong 'guess'"), 1);

  EXPECT_EQ(run_host(L"--password").status, 2u) << "the option needs its text";
}

TEST(WcxHost, ExtractGoesOnPastFailingEntriesAndCountsThem) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  const std::wstring archive = fm.WriteArchive(
      L"mixed.fix", "WXFIX\nfile a data=a\nfile x data=x result=0\ndir docs\nfile docs\\y data=y result=0\n"
                    "file docs\\z data=z\nfile c data=c\n");
  const std::wstring dest = fm.Root() + L"mixed";
  const HostRun run = run_host(L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" extract " + quoted(archive) + L" " +
                               quoted(dest));
  EXPECT_EQ(run.status, 1u);
  EXPECT_EQ(without_cr(run.out), "extracted a\nextracted docs\\z\nextracted c\n3 extracted, 2 failed\n");
  EXPECT_EQ(without_cr(run.err),
            "wcxhost: extracting x: E_BAD_DATA (12)\nwcxhost: extracting docs\\y: E_BAD_DATA (12)\n");
  EXPECT_EQ(read_file(dest + L"\\a"), "a");
  EXPECT_EQ(read_file(dest + L"\\docs\\z"), "z");
  EXPECT_EQ(read_file(dest + L"\\c"), "c");
}

// test has the plugin extract every entry and throw it away: the plugin's verdict per entry, a
// count at the end, and exit status 1 when one failed.
TEST(WcxHost, TestChecksEveryEntryAndCountsTheFailures) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  const std::wstring mixed = fm.WriteArchive(
      L"mixed.fix", "WXFIX\nfile a data=a\nfile x data=x result=0\ndir docs\nfile docs\\y data=y\nfile c data=c\n");
  const std::wstring good = fm.WriteArchive(L"good.fix", "WXFIX\nfile a data=a\nfile b data=b\nfile c data=c\n");
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";
  for (const wchar_t* mode : {L"", L"--ansi "}) {
    SCOPED_TRACE(narrow(mode));
    const HostRun failing = run_host(wcx + mode + L"test " + quoted(mixed));
    EXPECT_EQ(failing.status, 1u);
    EXPECT_EQ(without_cr(failing.out), "tested a\ntested docs\\y\ntested c\n3 ok, 1 failed\n");
    EXPECT_EQ(without_cr(failing.err), "wcxhost: testing x: E_BAD_DATA (12)\n");
    const HostRun passing = run_host(wcx + mode + L"test " + quoted(good));
    EXPECT_EQ(passing.status, 0u) << passing.err;
    EXPECT_EQ(without_cr(passing.out), "tested a\ntested b\ntested c\n3 ok, 0 failed\n");
  }
  // The plugin was asked for the entries and wrote them, but nothing of them is left.
  EXPECT_GE(count_prefix(fm.Log(L"Fix", L"fixture_full.dll"), "GetFilesW"), 4);
  for (const auto& d : get_files_dests(fm.Log(L"Fix", L"fixture_full.dll"))) EXPECT_FALSE(file_exists(d)) << narrow(d);
  EXPECT_EQ(run_host(wcx + L"test").status, 2u);
}

TEST(WcxHost, MissingFilesAreReportedAsMissing) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  const std::wstring archive = fm.WriteArchive(L"a.fix", "WXFIX\nfile a data=a\n");
  const std::wstring missing = fm.Root() + L"nothing.fix";
  const std::wstring no_folder = fm.Root() + L"no\\such\\folder.fix";
  const std::wstring folder = fm.Root() + L"a-folder";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";
  struct Case {
    std::wstring args;
    std::string message;
  } cases[] = {
      {L"list " + quoted(missing), narrow(missing) + ": no such file"},
      {L"list " + quoted(no_folder), narrow(no_folder) + ": no such file"},
      {L"list --bare " + quoted(missing), narrow(missing) + ": no such file"},
      {L"extract " + quoted(missing) + L" " + quoted(fm.Root() + L"never"), narrow(missing) + ": no such file"},
      {L"check " + quoted(missing) + L" " + quoted(archive), narrow(missing) + ": no such file"},
      {L"list " + quoted(folder), narrow(folder) + ": is a folder"},
  };
  for (const auto& c : cases) {
    for (const wchar_t* mode : {L"", L"--ansi "}) {
      SCOPED_TRACE(narrow(mode + c.args));
      const HostRun run = run_host(wcx + mode + c.args);
      EXPECT_EQ(run.status, 1u);
      EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
      for (const char* wrong : {"E_EOPEN", "not an archive", "cannot open"}) {
        EXPECT_EQ(run.err.find(wrong), std::string::npos) << run.err;
        EXPECT_EQ(run.out.find(wrong), std::string::npos) << run.out;
      }
    }
  }
  // The other files named with a missing one are still checked; no destination is made for
  // an archive that is not there.
  const HostRun check = run_host(wcx + L"check " + quoted(missing) + L" " + quoted(archive));
  EXPECT_EQ(without_cr(check.out), narrow(archive) + ": archive\n");
  EXPECT_FALSE(file_exists(fm.Root() + L"never"));
}

TEST(WcxHost, HelpPrintsTheUsageAndSucceeds) {
  for (const wchar_t* args : {L"--help", L"list --help", L"-h"}) {
    SCOPED_TRACE(narrow(args));
    const HostRun run = run_host(args);
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(run.err, "");
    const std::string help = without_cr(run.out);
    EXPECT_EQ(help.rfind("usage: wcxhost [--wcx PATH] [--ansi] [--password TEXT] list [--bare] ARCHIVE\n", 0), 0u) << help;
    for (const char* part :
         {"extract ARCHIVE DEST [NAME...]", "test ARCHIVE", "check FILE...", "--bare", "--ansi", "--password TEXT",
          "Exit status"})
      EXPECT_NE(help.find(part), std::string::npos) << part;
  }
  // --bare belongs to list alone.
  const HostRun wrong = run_host(L"extract --bare a b");
  EXPECT_EQ(wrong.status, 2u);
  EXPECT_NE(wrong.err.find("usage"), std::string::npos);
}

// Thousands of lines go through the output buffer, to a pipe and to a file, whole and in order.
TEST(WcxHost, LongListingsArriveWholeAndInOrder) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}}, false);
  std::string script = "WXFIX\n", names;
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "entry-\xC3\xA9-" + std::to_string(100000 + i) + ".txt";
    script += "file " + name + " size=" + std::to_string(i) + "\n";
    names += name + "\n";
  }
  const std::wstring archive = fm.WriteArchive(L"long.fix", script);
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";

  const HostRun bare = run_host(wcx + L"list --bare " + quoted(archive));
  EXPECT_EQ(bare.status, 0u) << bare.err;
  EXPECT_EQ(without_cr(bare.out), names);

  const HostRun to_pipe = run_host(wcx + L"list " + quoted(archive));
  const HostRun to_file = run_host(wcx + L"list " + quoted(archive), fm.Root() + L"listing.txt");
  EXPECT_EQ(to_file.status, 0u) << to_file.err;
  EXPECT_EQ(to_file.out, to_pipe.out);
  const std::string listing = without_cr(to_file.out);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 3001);
  EXPECT_NE(listing.find("              0  entry-\xC3\xA9-100000.txt\n"), std::string::npos);
  const std::string last = "           2999  entry-\xC3\xA9-102999.txt\n3000 entries, 4498500 bytes\n";
  EXPECT_EQ(listing.compare(listing.size() - last.size(), last.size(), last), 0) << listing.substr(listing.size() - 200);
}

TEST(WcxHost, PacksAndDeletesThroughTheModule) {
  FileManager fm({{L"pack", L"pack_arclite.dll"}}, false);
  const std::wstring source = fm.Root() + L"src";
  CreateDirectoryW(source.c_str(), nullptr);
  CreateDirectoryW((source + L"\\d").c_str(), nullptr);
  write_file(source + L"\\a.txt", "alpha");
  write_file(source + L"\\d\\b.txt", "bravo!");
  const std::wstring archive = fm.Root() + L"new.7z";
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + qor::kModuleFileName) + L" ";
  // Every name below the folder by default; the module's own password form answered by --password.
  const HostRun packed = run_host(wcx + L"--password s3cret pack --encrypt " + quoted(archive) + L" " + quoted(source));
  ASSERT_EQ(packed.status, 0u) << packed.err;
  std::string text = read_file(archive);
  for (const char* part : {"password s3cret\n", " a.txt\nalpha\n", " d\\b.txt\nbravo!\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part;
  const HostRun deleted = run_host(wcx + L"delete " + quoted(archive) + L" d\\*.*");
  ASSERT_EQ(deleted.status, 0u) << deleted.err;
  text = read_file(archive);
  EXPECT_EQ(text.find("b.txt"), std::string::npos);
  EXPECT_NE(text.find(" a.txt\nalpha\n"), std::string::npos);
  const HostRun missing = run_host(wcx + L"delete " + quoted(archive) + L" nothing.txt");
  EXPECT_EQ(missing.status, 1u);
  EXPECT_NE(missing.err.find("E_NO_FILES (22)"), std::string::npos) << missing.err;
}
