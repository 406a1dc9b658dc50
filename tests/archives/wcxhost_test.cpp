// The command-line WCX host run as its own process against the built module and a fixture plugin:
// its listing, extraction, detection, error names and exit statuses.
#include <gtest/gtest.h>

#include "archive_util.h"

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

HostRun run_host(const std::wstring& AArgs) {
  HostRun run;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out_read, out_write, err_read, err_write;
  // Room for all the host writes: it is read once the host has ended.
  CreatePipe(&out_read, &out_write, &sa, 1 << 20);
  CreatePipe(&err_read, &err_write, &sa, 1 << 20);
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
    run.out = drain(out_read);
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
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + L"Wexlor.wcx") + L" ";

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

    const std::wstring dest = fm.Root() + L"out" + (mode[0] ? L"a" : L"w");
    const HostRun extract = run_host(wcx + mode + L"extract " + quoted(archive) + L" " + quoted(dest) + L" docs note.txt");
    EXPECT_EQ(extract.status, 0u) << extract.err;
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
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + L"Wexlor.wcx") + L" ";
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
      // A name that would leave the destination folder is not handed to the plugin.
      {wcx + L"extract " + quoted(unsafe) + L" " + out, 1, "refusing unsafe name C:evil"},
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
  const std::wstring wcx = L"--wcx " + quoted(fm.Root() + L"Wexlor.wcx") + L" ";
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
