// Command-line WCX host: loads a packer plugin (by default the module of its own bitness beside
// this program: Wexlor.wcx, or Wexlor.wcx64 for the 64-bit build) and drives its exports in the
// order a file manager uses them.
//
//   wcxhost [--wcx PATH] [--ansi] [--password TEXT] list [--bare] ARCHIVE
//   wcxhost [--wcx PATH] [--ansi] [--password TEXT] extract ARCHIVE DEST [NAME...]
//   wcxhost [--wcx PATH] [--ansi] [--password TEXT] test ARCHIVE
//   wcxhost [--wcx PATH] [--ansi] [--password TEXT] pack [--move] [--no-paths] [--encrypt] [--sub PATH]
//           ARCHIVE SRCDIR [NAME...]
//   wcxhost [--wcx PATH] [--ansi] delete ARCHIVE NAME...
//   wcxhost [--wcx PATH] [--ansi] check FILE...
//   wcxhost [--wcx PATH] plugins
//   wcxhost [--wcx PATH] configure
//   wcxhost --help
//
// pack hands PackFilesW (PackFiles with --ansi) the list a file manager builds from a selection:
// the whole tree of the named items relative to SRCDIR, each folder ending in a backslash and
// listed before what it holds. delete hands DeleteFilesW (DeleteFiles) the names as given; a
// folder with all it holds is written DIR\*.*, as file managers write it.
//
// Plugin dialogs are real windows, as in a file manager. --password answers password dialogs for
// scripts: it fills every password edit of each dialog that shows one (a plugin's, or Wexlor's own
// with its confirmation) and presses the default button, as a user would; the module knows nothing
// of it. A dialog that asks again more than three times, or stays open after the answer, is
// cancelled instead, so a wrong password ends the run rather than looping.
//
// While a long entry is extracted, or while packing or deleting, a console on stderr shows one
// line of progress.
//
// Exit status: 0 success, 1 an operation failed, 2 bad command line, 3 the plugin cannot be used.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorHandles.h"
#include "common/qorTarget.h"

using namespace wcx;

namespace {

enum : int { kOk = 0, kFailed = 1, kUsage = 2, kNoPlugin = 3 };

// --- output ------------------------------------------------------------------------------------

std::string utf8(const wchar_t* AText, size_t ALength) {
  if (ALength == 0) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, AText, (int)ALength, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText, (int)ALength, out.data(), n, nullptr, nullptr);
  return out;
}

// One standard stream. Whether it is a console is asked once: a console gets UTF-16 through
// WriteConsoleW, a pipe or file UTF-8 through WriteFile. Text is collected and written in large
// pieces, since each write is a system call (and under Wine a server round trip).
class output_stream {
 public:
  output_stream(DWORD AStream, size_t AFlushAt) : FHandle(GetStdHandle(AStream)), FFlushAt(AFlushAt) {
    DWORD mode = 0;
    FConsole = GetConsoleMode(FHandle, &mode) != 0;
  }
  ~output_stream() { Flush(); }
  output_stream(const output_stream&) = delete;
  output_stream& operator=(const output_stream&) = delete;

  // A whole line; the stream is written once enough text has gathered.
  void Line(const std::wstring& AText) {
    FText.append(AText).push_back(L'\n');
    if (FText.size() >= FFlushAt) Flush();
  }
  // Progress a person watches: shown at once on a console, gathered for a pipe.
  void Progress() {
    if (FConsole) Flush();
  }
  bool Console() const { return FConsole; }
  // Text without a line end, written at once.
  void Now(const std::wstring& AText) {
    FText.append(AText);
    Flush();
  }
  void Flush() {
    if (FText.empty()) return;
    DWORD written = 0;
    if (FConsole) {
      WriteConsoleW(FHandle, FText.data(), (DWORD)FText.size(), &written, nullptr);
    } else {
      const std::string bytes = utf8(FText.data(), FText.size());
      for (size_t done = 0; done < bytes.size(); done += written) {
        const DWORD size = (DWORD)(bytes.size() - done);
        if (!WriteFile(FHandle, bytes.data() + done, size, &written, nullptr) || !written) break;
      }
    }
    FText.clear();
  }

 private:
  HANDLE FHandle;
  size_t FFlushAt;
  bool FConsole = false;
  std::wstring FText;
};

output_stream& standard_output() {
  static output_stream stream(STD_OUTPUT_HANDLE, 32768);
  return stream;
}

output_stream& error_output() {
  static output_stream stream(STD_ERROR_HANDLE, 0);
  return stream;
}

// One line on a console's stderr while a long extraction runs, "  42% NAME", fed by the plugin's
// process-data callback and erased before anything else is written. A pipe or file never gets it.
class progress_line {
 public:
  // Entries done sooner than this never show a line.
  static constexpr ULONGLONG ShowAfterMs = 250;

  // ATotal: the bytes that packing reports in steps (its files' sizes); 0 when extracting.
  void Start(unsigned long long ATotal = 0) {
    FStart = GetTickCount64();
    FTotal = ATotal;
    FDone = 0;
  }
  void Report(const std::wstring& AName, int ASize) {
    int percent;
    if (ASize <= -1000 && ASize >= -1100) {
      percent = -ASize - 1000;
    } else if (ASize < 0 && ASize >= -100) {
      percent = -ASize;
    } else if (ASize > 0 && FTotal > 0) {
      // Bytes done since the last call.
      FDone += static_cast<unsigned>(ASize);
      percent = static_cast<int>(std::min(FDone, FTotal) * 100 / FTotal);
    } else {
      return;  // a byte count of an extracted entry: the entry is written
    }
    if (GetTickCount64() - FStart < ShowAfterMs) return;
    const std::wstring number = std::to_wstring(percent);
    show(std::wstring(4 - std::min<size_t>(number.size(), 4), L' ') + number + L"% " + AName);
  }
  void Clear() {
    if (FShown.empty()) return;
    error_output().Now(L"\r" + std::wstring(FShown.size(), L' ') + L"\r");
    FShown.clear();
  }

 private:
  void show(std::wstring AText) {
    if (!error_output().Console()) return;
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    const size_t width = GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen) && screen.dwSize.X > 10
                             ? static_cast<size_t>(screen.dwSize.X) - 1
                             : 79;
    // A long name keeps its end, which tells the entries apart.
    if (AText.size() > width) AText = AText.substr(0, 6) + L"..." + AText.substr(AText.size() - (width - 9));
    if (AText == FShown) return;
    const size_t blank = FShown.size() > AText.size() ? FShown.size() - AText.size() : 0;
    error_output().Now(L"\r" + AText + std::wstring(blank, L' ') + std::wstring(blank, L'\b'));
    FShown = AText;
  }

  ULONGLONG FStart = 0;
  unsigned long long FTotal = 0, FDone = 0;
  std::wstring FShown;
};

progress_line& progress() {
  static progress_line line;
  return line;
}

void out(const std::wstring& AText) {
  progress().Clear();
  standard_output().Line(AText);
}

// Errors are written at once, after what was printed before them.
void err(const std::wstring& AText) {
  progress().Clear();
  standard_output().Flush();
  error_output().Line(L"wcxhost: " + AText);
}

std::wstring error_name(int ACode) {
  static const wchar_t* const names[] = {
      L"E_END_ARCHIVE", L"E_NO_MEMORY", L"E_BAD_DATA",  L"E_BAD_ARCHIVE", L"E_UNKNOWN_FORMAT",
      L"E_EOPEN",       L"E_ECREATE",   L"E_ECLOSE",    L"E_EREAD",       L"E_EWRITE",
      L"E_SMALL_BUF",   L"E_EABORTED",  L"E_NO_FILES",  L"E_TOO_MANY_FILES", L"E_NOT_SUPPORTED"};
  const std::wstring number = L" (" + std::to_wstring(ACode) + L")";
  if (ACode >= 10 && ACode <= 24) return names[ACode - 10] + number;
  return L"unknown error" + number;
}

// Appends AValue right-aligned in AWidth characters, filled with AFill. The listing prints
// these for every entry: plain digits, no printf.
void append_number(std::wstring& AText, unsigned long long AValue, size_t AWidth, wchar_t AFill) {
  wchar_t digits[24];
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + AValue % 10);
    AValue /= 10;
  } while (AValue != 0);
  if (AWidth > count) AText.append(AWidth - count, AFill);
  while (count > 0) AText.push_back(digits[--count]);
}

// "YYYY-MM-DD hh:mm:ss" of an MS-DOS date and time, blanks when there is none.
void append_dos_time(std::wstring& AText, int AFileTime) {
  if (AFileTime == 0) {
    AText.append(19, L' ');
    return;
  }
  const unsigned date = static_cast<unsigned>(AFileTime) >> 16, time = AFileTime & 0xFFFF;
  append_number(AText, 1980 + (date >> 9), 4, L'0');
  AText.push_back(L'-');
  append_number(AText, (date >> 5) & 15, 2, L'0');
  AText.push_back(L'-');
  append_number(AText, date & 31, 2, L'0');
  AText.push_back(L' ');
  append_number(AText, time >> 11, 2, L'0');
  AText.push_back(L':');
  append_number(AText, (time >> 5) & 63, 2, L'0');
  AText.push_back(L':');
  append_number(AText, (time & 31) * 2, 2, L'0');
}

void append_attributes(std::wstring& AText, int AAttr) {
  AText.push_back(AAttr & FILE_ATTRIBUTE_DIRECTORY ? L'D' : L'.');
  AText.push_back(AAttr & FILE_ATTRIBUTE_READONLY ? L'R' : L'.');
  AText.push_back(AAttr & FILE_ATTRIBUTE_HIDDEN ? L'H' : L'.');
  AText.push_back(AAttr & FILE_ATTRIBUTE_SYSTEM ? L'S' : L'.');
  AText.push_back(AAttr & FILE_ATTRIBUTE_ARCHIVE ? L'A' : L'.');
}

// --- the plugin --------------------------------------------------------------------------------

std::string to_ansi(const std::wstring& AText) {
  if (AText.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, AText.data(), (int)AText.size(), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, AText.data(), (int)AText.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring from_ansi(const char* AText) {
  const int n = MultiByteToWideChar(CP_ACP, 0, AText, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, AText, -1, out.data(), n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

int WINAPI progress_w(wchar_t* AName, int ASize) {
  progress().Report(AName ? AName : L"", ASize);
  return 1;
}

int WINAPI progress_a(char* AName, int ASize) {
  progress().Report(AName ? from_ansi(AName) : std::wstring(), ASize);
  return 1;
}

struct Header {
  std::wstring name;
  unsigned long long size = 0;
  int time = 0, attr = 0;
};

class Plugin {
 public:
  Plugin(const std::wstring& APath, bool AAnsi) : FPath(APath), FAnsi(AAnsi) {
    FModule = LoadLibraryW(APath.c_str());
    if (!FModule) {
      FError = L"cannot load " + APath + L" (system error " + std::to_wstring(GetLastError()) + L")";
      return;
    }
    bind(FPackSetDefaultParams, "PackSetDefaultParams");
    bind(FCanYouHandleThisFileW, "CanYouHandleThisFileW");
    bind(FCanYouHandleThisFile, "CanYouHandleThisFile");
    bind(FOpenArchiveW, "OpenArchiveW");
    bind(FOpenArchive, "OpenArchive");
    bind(FReadHeaderExW, "ReadHeaderExW");
    bind(FReadHeaderEx, "ReadHeaderEx");
    bind(FReadHeader, "ReadHeader");
    bind(FProcessFileW, "ProcessFileW");
    bind(FProcessFile, "ProcessFile");
    bind(FCloseArchive, "CloseArchive");
    bind(FSetProcessDataProcW, "SetProcessDataProcW");
    bind(FSetProcessDataProc, "SetProcessDataProc");
    bind(FConfigurePacker, "ConfigurePacker");
    bind(FListHostedPluginsW, "ListHostedPluginsW");
    bind(FPackFilesW, "PackFilesW");
    bind(FPackFiles, "PackFiles");
    bind(FDeleteFilesW, "DeleteFilesW");
    bind(FDeleteFiles, "DeleteFiles");
    FReads = FAnsi ? (FOpenArchive && (FReadHeaderEx || FReadHeader) && FProcessFile && FCloseArchive)
                   : (FOpenArchiveW && FReadHeaderExW && FProcessFileW && FCloseArchive);
    if (FPackSetDefaultParams) {
      // Once after loading, as a file manager does; the module only keeps the record.
      PackDefaultParamStruct params{};
      params.size = sizeof(params);
      params.PluginInterfaceVersionLow = 10;
      params.PluginInterfaceVersionHi = 2;
      std::strcpy(params.DefaultIniName, "wcxhost.ini");
      FPackSetDefaultParams(&params);
    }
  }
  ~Plugin() {
    if (FModule) FreeLibrary(FModule);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::wstring& Error() const { return FError; }

  // Why ACommand cannot be run with this plugin; empty when it can.
  std::wstring Lacks(const std::wstring& ACommand) const {
    auto missing = [&](const wchar_t* AName) { return FPath + L" has no " + AName + L" export"; };
    if (ACommand == L"pack") {
      if (FAnsi ? !FPackFiles : !FPackFilesW) return missing(FAnsi ? L"PackFiles" : L"PackFilesW");
    } else if (ACommand == L"delete") {
      if (FAnsi ? !FDeleteFiles : !FDeleteFilesW) return missing(FAnsi ? L"DeleteFiles" : L"DeleteFilesW");
    } else if (!FReads) {
      return FPath + (FAnsi ? L" lacks the ANSI archive exports" : L" lacks the Unicode archive exports");
    }
    return {};
  }

  // For every archive opened afterwards, as file managers set it: without an archive handle.
  void ShowProgress() {
    if (FAnsi && FSetProcessDataProc) FSetProcessDataProc(INVALID_HANDLE_VALUE, progress_a);
    if (!FAnsi && FSetProcessDataProcW) FSetProcessDataProcW(INVALID_HANDLE_VALUE, progress_w);
  }

  // -1 archive, 0 not, 1 the plugin cannot tell (export missing).
  int CanHandle(const std::wstring& AFile) {
    if (FAnsi) return FCanYouHandleThisFile ? (FCanYouHandleThisFile(to_ansi(AFile).c_str()) ? -1 : 0) : 1;
    return FCanYouHandleThisFileW ? (FCanYouHandleThisFileW(AFile.c_str()) ? -1 : 0) : 1;
  }

  HANDLE Open(const std::wstring& AArchive, int AMode, int& AResult) {
    if (FAnsi) {
      std::string name = to_ansi(AArchive);
      tOpenArchiveData data{};
      data.ArcName = name.data();
      data.OpenMode = AMode;
      HANDLE h = FOpenArchive(&data);
      AResult = data.OpenResult;
      return h;
    }
    std::wstring name = AArchive;
    tOpenArchiveDataW data{};
    data.ArcName = name.data();
    data.OpenMode = AMode;
    HANDLE h = FOpenArchiveW(&data);
    AResult = data.OpenResult;
    return h;
  }

  // The records are kept for the whole listing: the plugin fills them for every entry.
  int Read(HANDLE AArchive, Header& AHeader) {
    int rc;
    if (!FAnsi) {
      tHeaderDataExW& h = *FWide;
      rc = FReadHeaderExW(AArchive, &h);
      if (rc == 0) {
        h.FileName[1023] = 0;
        AHeader.name.assign(h.FileName);
        AHeader.size = (static_cast<unsigned long long>(h.UnpSizeHigh) << 32) | h.UnpSize;
        AHeader.time = h.FileTime;
        AHeader.attr = h.FileAttr;
      }
    } else if (FReadHeaderEx) {
      tHeaderDataEx& h = *FAnsiEx;
      rc = FReadHeaderEx(AArchive, &h);
      if (rc == 0) {
        h.FileName[1023] = 0;
        AHeader.name = from_ansi(h.FileName);
        AHeader.size = (static_cast<unsigned long long>(h.UnpSizeHigh) << 32) | h.UnpSize;
        AHeader.time = h.FileTime;
        AHeader.attr = h.FileAttr;
      }
    } else {
      tHeaderData h{};
      rc = FReadHeader(AArchive, &h);
      if (rc == 0) {
        h.FileName[259] = 0;
        AHeader = {from_ansi(h.FileName), static_cast<unsigned>(h.UnpSize), h.FileTime, h.FileAttr};
      }
    }
    return rc;
  }

  int Skip(HANDLE AArchive) {
    return FAnsi ? FProcessFile(AArchive, PK_SKIP, nullptr, nullptr) : FProcessFileW(AArchive, PK_SKIP, nullptr, nullptr);
  }

  // DestPath nil and the full target in DestName, as file managers commonly call it.
  int Extract(HANDLE AArchive, const std::wstring& ATarget) {
    if (FAnsi) return FProcessFile(AArchive, PK_EXTRACT, nullptr, to_ansi(ATarget).c_str());
    return FProcessFileW(AArchive, PK_EXTRACT, nullptr, ATarget.c_str());
  }

  int Test(HANDLE AArchive) {
    return FAnsi ? FProcessFile(AArchive, PK_TEST, nullptr, nullptr) : FProcessFileW(AArchive, PK_TEST, nullptr, nullptr);
  }

  int Close(HANDLE AArchive) { return FCloseArchive(AArchive); }

  // ASubPath null: the archive's root. The lists end in a second NUL, which ANSI conversion keeps.
  int Pack(const std::wstring& AArchive, const std::wstring* ASubPath, const std::wstring& ASrcPath,
           const std::wstring& AAddList, int AFlags) {
    if (FAnsi) {
      std::string archive = to_ansi(AArchive), sub = ASubPath ? to_ansi(*ASubPath) : std::string(),
                  source = to_ansi(ASrcPath), list = to_ansi(AAddList);
      return FPackFiles(archive.data(), ASubPath ? sub.data() : nullptr, source.data(), list.data(), AFlags);
    }
    std::wstring archive = AArchive, sub = ASubPath ? *ASubPath : std::wstring(), source = ASrcPath, list = AAddList;
    return FPackFilesW(archive.data(), ASubPath ? sub.data() : nullptr, source.data(), list.data(), AFlags);
  }

  int Delete(const std::wstring& AArchive, const std::wstring& ADeleteList) {
    if (FAnsi) {
      std::string archive = to_ansi(AArchive), list = to_ansi(ADeleteList);
      return FDeleteFiles(archive.data(), list.data());
    }
    std::wstring archive = AArchive, list = ADeleteList;
    return FDeleteFilesW(archive.data(), list.data());
  }

  // The module's configuration dialog, as a file manager's Configure button opens it; false
  // without the export.
  bool Configure() {
    if (!FConfigurePacker) return false;
    FConfigurePacker(nullptr, FModule);
    return true;
  }

  // The hosted plugins, one line each (place, 1 or 0, title, version, folder; tab-separated);
  // false when the module does not list them.
  bool ListPlugins(std::wstring& AText) {
    if (!FListHostedPluginsW) return false;
    const int size = FListHostedPluginsW(nullptr, 0);
    if (size <= 0) return false;
    std::wstring text(static_cast<size_t>(size), L'\0');
    if (FListHostedPluginsW(text.data(), size) != size) return false;
    text.resize(static_cast<size_t>(size) - 1);
    AText = std::move(text);
    return true;
  }

 private:
  template <class T>
  void bind(T& ASlot, const char* AName) {
    ASlot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(FModule, AName)));
  }

  std::wstring FPath;
  bool FAnsi;
  bool FReads = false;
  HMODULE FModule = nullptr;
  std::unique_ptr<tHeaderDataExW> FWide = std::make_unique<tHeaderDataExW>();
  std::unique_ptr<tHeaderDataEx> FAnsiEx = std::make_unique<tHeaderDataEx>();
  std::wstring FError;
  void(WINAPI* FPackSetDefaultParams)(PackDefaultParamStruct*) = nullptr;
  int(WINAPI* FCanYouHandleThisFileW)(const wchar_t*) = nullptr;
  int(WINAPI* FCanYouHandleThisFile)(const char*) = nullptr;
  HANDLE(WINAPI* FOpenArchiveW)(tOpenArchiveDataW*) = nullptr;
  HANDLE(WINAPI* FOpenArchive)(tOpenArchiveData*) = nullptr;
  int(WINAPI* FReadHeaderExW)(HANDLE, tHeaderDataExW*) = nullptr;
  int(WINAPI* FReadHeaderEx)(HANDLE, tHeaderDataEx*) = nullptr;
  int(WINAPI* FReadHeader)(HANDLE, tHeaderData*) = nullptr;
  int(WINAPI* FProcessFileW)(HANDLE, int, const wchar_t*, const wchar_t*) = nullptr;
  int(WINAPI* FProcessFile)(HANDLE, int, const char*, const char*) = nullptr;
  int(WINAPI* FCloseArchive)(HANDLE) = nullptr;
  void(WINAPI* FSetProcessDataProcW)(HANDLE, tProcessDataProcW) = nullptr;
  void(WINAPI* FSetProcessDataProc)(HANDLE, tProcessDataProc) = nullptr;
  void(WINAPI* FConfigurePacker)(HWND, HINSTANCE) = nullptr;
  int(WINAPI* FListHostedPluginsW)(wchar_t*, int) = nullptr;
  tPackFilesW FPackFilesW = nullptr;
  tPackFiles FPackFiles = nullptr;
  tDeleteFilesW FDeleteFilesW = nullptr;
  tDeleteFiles FDeleteFiles = nullptr;
};

// --- password dialogs ----------------------------------------------------------------------------

// Watches this process's top-level windows for one holding password edits, from a thread of its
// own, and answers it through the window messages a user's typing and click would cause: every
// password edit gets the password, so that a confirmation agrees with it.
class PasswordAnswerer {
 public:
  // Returns once the thread has made its first window call: a thread whose user32 state is set
  // up while the module loads its plugins can deadlock with the loader.
  explicit PasswordAnswerer(std::wstring APassword) : FPassword(std::move(APassword)), FThread([this] { run(); }) {
    while (!FStarted) Sleep(1);
  }
  ~PasswordAnswerer() {
    FStop = true;
    FThread.join();
  }
  PasswordAnswerer(const PasswordAnswerer&) = delete;
  PasswordAnswerer& operator=(const PasswordAnswerer&) = delete;

 private:
  static constexpr int MaxAnswers = 3;
  // A dialog still open this long after its answer has refused it (an empty password, say).
  static constexpr ULONGLONG RefusedAfterMs = 3000;

  struct search {
    std::vector<HWND> edits;
    HWND default_button = nullptr;
  };

  static BOOL CALLBACK on_child(HWND AChild, LPARAM AFound) {
    auto& found = *reinterpret_cast<search*>(AFound);
    wchar_t cls[32] = {};
    GetClassNameW(AChild, cls, 32);
    const LONG style = GetWindowLongW(AChild, GWL_STYLE);
    if (_wcsicmp(cls, L"Edit") == 0 && (style & ES_PASSWORD) && IsWindowVisible(AChild)) found.edits.push_back(AChild);
    if (!found.default_button && _wcsicmp(cls, L"Button") == 0 && (style & 0xF) == BS_DEFPUSHBUTTON &&
        IsWindowVisible(AChild) && IsWindowEnabled(AChild))
      found.default_button = AChild;
    return TRUE;
  }

  static BOOL CALLBACK on_window(HWND AWnd, LPARAM AThis) {
    auto* self = reinterpret_cast<PasswordAnswerer*>(AThis);
    DWORD pid = 0;
    GetWindowThreadProcessId(AWnd, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(AWnd) || self->FAnswered.count(AWnd)) return TRUE;
    search found;
    EnumChildWindows(AWnd, on_child, reinterpret_cast<LPARAM>(&found));
    if (found.edits.empty()) return TRUE;
    if (++self->FAnswers > MaxAnswers) {
      self->FAnswered[AWnd] = 0;
      PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
      return TRUE;
    }
    self->FAnswered[AWnd] = GetTickCount64();
    for (HWND edit : found.edits) SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(self->FPassword.c_str()));
    if (found.default_button) {
      PostMessageW(found.default_button, BM_CLICK, 0, 0);
    } else {
      // No default button: Enter in the edit, and the dialog's own rules pick what it means.
      PostMessageW(found.edits.front(), WM_KEYDOWN, VK_RETURN, 1);
      PostMessageW(found.edits.front(), WM_KEYUP, VK_RETURN, 0xC0000001);
    }
    return TRUE;
  }

  void run() {
    while (!FStop) {
      EnumWindows(on_window, reinterpret_cast<LPARAM>(this));
      FStarted = true;
      // A dialog shown again (the plugin asking once more) is a new question; one that stays
      // open refused the answer and is given up, as a user would.
      for (auto it = FAnswered.begin(); it != FAnswered.end();) {
        if (!IsWindowVisible(it->first)) {
          it = FAnswered.erase(it);
          continue;
        }
        if (it->second != 0 && GetTickCount64() - it->second > RefusedAfterMs) {
          PostMessageW(it->first, WM_SYSCOMMAND, SC_CLOSE, 0);
          it->second = 0;
        }
        ++it;
      }
      Sleep(50);
    }
  }

  std::wstring FPassword;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FStarted{false};
  std::map<HWND, ULONGLONG> FAnswered;  // when answered; 0 once closed
  int FAnswers = 0;
  std::thread FThread;
};

// --- commands ------------------------------------------------------------------------------------

std::wstring full_path(const std::wstring& APath) {
  wchar_t buffer[32768];
  const DWORD n = GetFullPathNameW(APath.c_str(), 32768, buffer, nullptr);
  return n > 0 && n < 32768 ? std::wstring(buffer, n) : APath;
}

// An entry name that would land outside the destination folder is never written.
bool safe_entry_name(const std::wstring& AName) {
  if (AName.empty() || AName[0] == L'\\' || AName[0] == L'/' || AName.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = AName.find_first_of(L"\\/", start);
    const std::wstring part = AName.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
    if (part == L".." || part == L"." || part.empty()) return false;
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

bool make_folders(const std::wstring& APath, size_t AFrom) {
  for (size_t p = AFrom; p <= APath.size(); ++p) {
    if (p < APath.size() && APath[p] != L'\\') continue;
    const std::wstring folder = APath.substr(0, p);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

// Why a path named on the command line cannot be read as a file; empty when it can be tried.
std::wstring file_problem(const std::wstring& APath) {
  const DWORD attributes = GetFileAttributesW(APath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
        error == ERROR_BAD_NETPATH || error == ERROR_INVALID_DRIVE)
      return L"no such file";
    return L"cannot read (system error " + std::to_wstring(error) + L")";
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return L"is a folder";
  return {};
}

// Opens AArchive or says why not; a path that is not a file never reaches the plugin.
HANDLE open_or_report(Plugin& APlugin, const std::wstring& AArchive, int AMode) {
  const std::wstring problem = file_problem(AArchive);
  if (!problem.empty()) {
    err(AArchive + L": " + problem);
    return nullptr;
  }
  int open_result = 0;
  HANDLE h = APlugin.Open(AArchive, AMode, open_result);
  if (!h) err(L"cannot open " + AArchive + L": " + error_name(open_result));
  return h;
}

int run_list(Plugin& APlugin, const std::wstring& AArchive, bool ABare) {
  HANDLE h = open_or_report(APlugin, AArchive, PK_OM_LIST);
  if (!h) return kFailed;
  Header e;
  std::wstring line;
  int rc;
  unsigned long long count = 0, total = 0;
  while ((rc = APlugin.Read(h, e)) == 0) {
    if (ABare) {
      out(e.name);
    } else {
      line.clear();
      append_dos_time(line, e.time);
      line.append(L"  ");
      append_attributes(line, e.attr);
      line.append(L"  ");
      append_number(line, e.size, 14, L' ');
      line.append(L"  ").append(e.name);
      out(line);
    }
    ++count;
    total += e.size;
    const int skip = APlugin.Skip(h);
    if (skip != 0) {
      err(L"skipping " + e.name + L": " + error_name(skip));
      rc = skip;
      break;
    }
  }
  const int close = APlugin.Close(h);
  if (!ABare) out(std::to_wstring(count) + L" entries, " + std::to_wstring(total) + L" bytes");
  if (rc != E_END_ARCHIVE) {
    err(L"listing " + AArchive + L" stopped: " + error_name(rc));
    return kFailed;
  }
  if (close != 0) {
    err(L"closing " + AArchive + L": " + error_name(close));
    return kFailed;
  }
  return kOk;
}

// Closes an archive whose headers were read until RC, reporting a reading that stopped early or a
// close that failed; false when either happened.
bool close_after_reading(Plugin& APlugin, HANDLE AArchiveHandle, int ARead, const std::wstring& AArchive) {
  const int close = APlugin.Close(AArchiveHandle);
  bool ok = true;
  if (ARead != 0 && ARead != E_END_ARCHIVE) {
    err(L"reading " + AArchive + L" stopped: " + error_name(ARead));
    ok = false;
  }
  if (close != 0) {
    err(L"closing " + AArchive + L": " + error_name(close));
    ok = false;
  }
  return ok;
}

// Every chosen entry is tried: one that fails is reported with its error and the rest go on.
int run_extract(Plugin& APlugin, const std::wstring& AArchive, std::wstring ADest, const std::vector<std::wstring>& ANames) {
  const std::wstring problem = file_problem(AArchive);
  if (!problem.empty()) {
    err(AArchive + L": " + problem);
    return kFailed;
  }
  ADest = full_path(ADest);
  if (ADest.back() != L'\\') ADest += L'\\';
  if (!make_folders(ADest.substr(0, ADest.size() - 1), 3)) {
    err(L"cannot create " + ADest);
    return kFailed;
  }
  HANDLE h = open_or_report(APlugin, AArchive, PK_OM_EXTRACT);
  if (!h) return kFailed;
  std::vector<bool> found(ANames.size(), false);
  auto chosen = [&](const std::wstring& AName) {
    if (ANames.empty()) return true;
    bool any = false;
    for (size_t i = 0; i < ANames.size(); ++i) {
      const std::wstring& n = ANames[i];
      // A chosen folder brings everything below it.
      if (AName == n || (AName.size() > n.size() && AName.compare(0, n.size(), n) == 0 && AName[n.size()] == L'\\')) {
        found[i] = true;
        any = true;
      }
    }
    return any;
  };
  int status = kOk;
  unsigned long long extracted = 0, failed = 0;
  auto fail = [&](const std::wstring& AMessage) {
    err(AMessage);
    ++failed;
  };
  Header e;
  int rc;
  while ((rc = APlugin.Read(h, e)) == 0) {
    int skip = 0;
    if (!chosen(e.name)) {
      skip = APlugin.Skip(h);
    } else if (!safe_entry_name(e.name)) {
      fail(L"refusing unsafe name " + e.name);
      skip = APlugin.Skip(h);
    } else if (e.attr & FILE_ATTRIBUTE_DIRECTORY) {
      if (!make_folders(ADest + e.name, ADest.size())) fail(L"cannot create " + ADest + e.name);
      skip = APlugin.Skip(h);
    } else {
      const std::wstring target = ADest + e.name;
      if (!make_folders(target.substr(0, target.find_last_of(L'\\')), ADest.size())) {
        fail(L"cannot create the folder of " + target);
        skip = APlugin.Skip(h);
      } else {
        progress().Start();
        const int result = APlugin.Extract(h, target);
        progress().Clear();
        if (result == 0) {
          out(L"extracted " + e.name);
          standard_output().Progress();
          ++extracted;
        } else {
          fail(L"extracting " + e.name + L": " + error_name(result));
          // The plugin says the user cancelled: nothing more is wanted.
          if (result == E_EABORTED) break;
        }
      }
    }
    if (skip != 0) {
      err(L"skipping " + e.name + L": " + error_name(skip));
      status = kFailed;
      break;
    }
  }
  if (!close_after_reading(APlugin, h, rc, AArchive)) status = kFailed;
  for (size_t i = 0; i < ANames.size(); ++i)
    if (!found[i]) {
      err(L"not in the archive: " + ANames[i]);
      status = kFailed;
    }
  out(std::to_wstring(extracted) + L" extracted, " + std::to_wstring(failed) + L" failed");
  return failed > 0 ? kFailed : status;
}

// Every file entry is tested (the plugin extracts it and it is thrown away); one that fails is
// reported with its error and the rest go on. Folders hold nothing to test.
int run_test(Plugin& APlugin, const std::wstring& AArchive) {
  HANDLE h = open_or_report(APlugin, AArchive, PK_OM_EXTRACT);
  if (!h) return kFailed;
  int status = kOk;
  unsigned long long ok = 0, failed = 0;
  Header e;
  int rc;
  while ((rc = APlugin.Read(h, e)) == 0) {
    if (e.attr & FILE_ATTRIBUTE_DIRECTORY) {
      const int skip = APlugin.Skip(h);
      if (skip == 0) continue;
      err(L"skipping " + e.name + L": " + error_name(skip));
      status = kFailed;
      break;
    }
    progress().Start();
    const int result = APlugin.Test(h);
    progress().Clear();
    if (result == 0) {
      out(L"tested " + e.name);
      standard_output().Progress();
      ++ok;
    } else {
      err(L"testing " + e.name + L": " + error_name(result));
      ++failed;
      if (result == E_EABORTED) break;
    }
  }
  if (!close_after_reading(APlugin, h, rc, AArchive)) status = kFailed;
  out(std::to_wstring(ok) + L" ok, " + std::to_wstring(failed) + L" failed");
  return failed > 0 ? kFailed : status;
}

std::wstring count_of(unsigned long long ACount, const std::wstring& AThing) {
  return std::to_wstring(ACount) + L" " + AThing + (ACount == 1 ? L"" : L"s");
}

// What a file manager hands PackFiles for a selection: names relative to the source folder, NUL
// after each and a second NUL at the end, with the counts and the files' bytes for the progress.
struct AddList {
  std::wstring names;
  unsigned long long files = 0, folders = 0, bytes = 0;
};

// The names in AFolder, in the order of their names regardless of case.
std::vector<std::wstring> folder_entries(const std::wstring& AFolder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  qor::unique_find find(FindFirstFileW((AFolder + L"\\*").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) names.push_back(data.cFileName);
  } while (FindNextFileW(find.get(), &data));
  std::sort(names.begin(), names.end(), [](const std::wstring& A, const std::wstring& B) {
    return CompareStringOrdinal(A.c_str(), -1, B.c_str(), -1, TRUE) == CSTR_LESS_THAN;
  });
  return names;
}

// Adds AName and, when it is a folder, everything below it, each folder before what it holds.
void add_tree(const std::wstring& ASrcPath, const std::wstring& AName, AddList& AList) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  // A file, a name that is not there, or one that climbs out of the source folder or names
  // another place: the plugin gets it as given and answers for it.
  if (!safe_entry_name(AName) || !GetFileAttributesExW((ASrcPath + AName).c_str(), GetFileExInfoStandard, &data) ||
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    AList.names.append(AName).push_back(L'\0');
    ++AList.files;
    AList.bytes += (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return;
  }
  AList.names.append(AName).append(L"\\").push_back(L'\0');
  ++AList.folders;
  // A link to a folder is listed, not followed: it may lead back up the tree.
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
  for (const std::wstring& child : folder_entries(ASrcPath + AName)) add_tree(ASrcPath, AName + L"\\" + child, AList);
}

int run_pack(Plugin& APlugin, const std::wstring& AArchive, const std::wstring& ASource,
             const std::vector<std::wstring>& ANames, const std::wstring* ASubPath, int AFlags) {
  std::wstring source = full_path(ASource);
  const DWORD attributes = GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    err(ASource + L": no such folder");
    return kFailed;
  }
  if (source.back() != L'\\') source += L'\\';
  std::vector<std::wstring> names = ANames.empty() ? folder_entries(source.substr(0, source.size() - 1)) : ANames;
  AddList list;
  for (std::wstring name : names) {
    std::replace(name.begin(), name.end(), L'/', L'\\');
    while (name.size() > 1 && name.back() == L'\\') name.pop_back();
    add_tree(source, name, list);
  }
  list.names.push_back(L'\0');
  APlugin.ShowProgress();
  progress().Start(list.bytes);
  const int result = APlugin.Pack(AArchive, ASubPath, source, list.names, AFlags);
  progress().Clear();
  if (result != 0) {
    err(L"packing " + AArchive + L": " + error_name(result));
    return kFailed;
  }
  out(L"packed " + count_of(list.files, L"file") + L" and " + count_of(list.folders, L"folder") + L" into " + AArchive);
  return kOk;
}

int run_delete(Plugin& APlugin, const std::wstring& AArchive, const std::vector<std::wstring>& ANames) {
  std::wstring list;
  for (const std::wstring& name : ANames) list.append(name).push_back(L'\0');
  list.push_back(L'\0');
  APlugin.ShowProgress();
  progress().Start();
  const int result = APlugin.Delete(AArchive, list);
  progress().Clear();
  if (result != 0) {
    err(L"deleting from " + AArchive + L": " + error_name(result));
    return kFailed;
  }
  out(L"deleted " + count_of(ANames.size(), L"name") + L" from " + AArchive);
  return kOk;
}

int run_check(Plugin& APlugin, const std::vector<std::wstring>& AFiles) {
  int status = kOk;
  for (const auto& file : AFiles) {
    const std::wstring problem = file_problem(file);
    if (!problem.empty()) {
      err(file + L": " + problem);
      status = kFailed;
      continue;
    }
    const int answer = APlugin.CanHandle(file);
    if (answer == 1) {
      err(L"the plugin has no CanYouHandleThisFile export");
      return kNoPlugin;
    }
    out(file + (answer ? L": archive" : L": not an archive"));
    if (!answer) status = kFailed;
  }
  return status;
}

// One line per plugin: place, enabled or not, title, version and folder in columns.
int run_plugins(Plugin& APlugin) {
  std::wstring text;
  if (!APlugin.ListPlugins(text)) {
    err(L"the plugin does not list hosted plugins");
    return kNoPlugin;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::vector<std::wstring> fields;
    size_t field = start;
    for (;;) {
      const size_t tab = text.find(L'\t', field);
      if (tab == std::wstring::npos || tab > end) {
        fields.push_back(text.substr(field, end - field));
        break;
      }
      fields.push_back(text.substr(field, tab - field));
      field = tab + 1;
    }
    start = end + 1;
    if (fields.size() < 5) continue;
    auto padded = [](std::wstring AText, size_t AWidth) {
      if (AText.size() < AWidth) AText.append(AWidth - AText.size(), L' ');
      return AText;
    };
    out(padded(fields[0], 3) + L"  " + padded(fields[1] == L"1" ? L"enabled" : L"disabled", 8) + L"  " +
        padded(fields[2], 24) + L"  " + padded(fields[3], 12) + L"  " + fields[4]);
  }
  return kOk;
}

int run_configure(Plugin& APlugin) {
  if (!APlugin.Configure()) {
    err(L"the plugin has no ConfigurePacker export");
    return kNoPlugin;
  }
  return kOk;
}

const wchar_t kUsageLines[] =
    L"usage: wcxhost [--wcx PATH] [--ansi] [--password TEXT] list [--bare] ARCHIVE\n"
    L"       wcxhost [--wcx PATH] [--ansi] [--password TEXT] extract ARCHIVE DEST [NAME...]\n"
    L"       wcxhost [--wcx PATH] [--ansi] [--password TEXT] test ARCHIVE\n"
    L"       wcxhost [--wcx PATH] [--ansi] [--password TEXT] pack [--move] [--no-paths] [--encrypt] [--sub PATH]\n"
    L"               ARCHIVE SRCDIR [NAME...]\n"
    L"       wcxhost [--wcx PATH] [--ansi] delete ARCHIVE NAME...\n"
    L"       wcxhost [--wcx PATH] [--ansi] check FILE...\n"
    L"       wcxhost [--wcx PATH] plugins\n"
    L"       wcxhost [--wcx PATH] configure\n"
    L"       wcxhost --help";

const wchar_t kHelpDetails[] =
    L"\n"
    L"  list       lists the entries: date, attributes, size, name\n"
    L"  extract    extracts everything, or the named entries and folders, below DEST\n"
    L"  test       tests every entry (the plugin extracts it, and it is thrown away) and ends with\n"
    L"             \"N ok, M failed\"\n"
    L"  pack       packs the named files and folders of SRCDIR (by default all it holds) with all\n"
    L"             below them into ARCHIVE, which is made when it does not exist\n"
    L"  delete     deletes the named entries from ARCHIVE; DIR\\*.* names a folder with all it holds\n"
    L"  check      tells for each file whether the plugin takes it for an archive\n"
    L"  plugins    lists the hosted plugins in detection order: place, enabled, title, version, folder\n"
    L"  configure  opens the configuration dialog, as a file manager's Configure button does\n"
    L"\n"
    L"  --wcx PATH  the packer plugin to drive (default: Wexlor.wcx beside a 32-bit wcxhost.exe,\n"
    L"              Wexlor.wcx64 beside a 64-bit one)\n"
    L"  --ansi      use the plugin's ANSI exports instead of the Unicode ones\n"
    L"  --password TEXT\n"
    L"              answer password dialogs, the plugin's and Wexlor's own, with TEXT (every\n"
    L"              password edit is filled and the default button pressed; a dialog asking more\n"
    L"              than three times, or staying open after the answer, is cancelled)\n"
    L"  --bare      list names only, one per line, for scripts\n"
    L"  --move      pack: the sources go once they are in the archive\n"
    L"  --no-paths  pack: the entries are stored without their folders\n"
    L"  --encrypt   pack: the archive is encrypted (the plugin asks for the password)\n"
    L"  --sub PATH  pack: into the folder PATH inside the archive\n"
    L"  --help      show this text\n"
    L"\n"
    L"Exit status: 0 success, 1 an operation failed, 2 bad command line, 3 the plugin cannot be used.";

int usage() {
  err(kUsageLines);
  return kUsage;
}

int help() {
  out(kUsageLines);
  out(kHelpDetails);
  return kOk;
}

struct Options {
  std::wstring module;
  bool ansi = false;
  bool answer_passwords = false;
  std::wstring password;
  bool bare = false;
  bool help = false;
  int pack_flags = PK_PACK_SAVE_PATHS;
  bool pack_options = false;  // any of the options of pack given
  bool has_sub = false;
  std::wstring sub;
  std::vector<std::wstring> args;  // the command and its operands
};

// Options may stand anywhere on the line; one that takes a value takes the word after it.
bool parse_options(int argc, wchar_t** argv, Options& AOptions) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    auto value = [&](std::wstring& ATo) {
      if (i + 1 >= argc) return false;
      ATo = argv[++i];
      return true;
    };
    if (a == L"--wcx") {
      if (!value(AOptions.module)) return false;
      AOptions.module = full_path(AOptions.module);
    } else if (a == L"--ansi") {
      AOptions.ansi = true;
    } else if (a == L"--password") {
      if (!value(AOptions.password)) return false;
      AOptions.answer_passwords = true;
    } else if (a == L"--bare") {
      AOptions.bare = true;
    } else if (a == L"--move") {
      AOptions.pack_flags |= PK_PACK_MOVE_FILES;
      AOptions.pack_options = true;
    } else if (a == L"--no-paths") {
      AOptions.pack_flags &= ~PK_PACK_SAVE_PATHS;
      AOptions.pack_options = true;
    } else if (a == L"--encrypt") {
      AOptions.pack_flags |= PK_PACK_ENCRYPT;
      AOptions.pack_options = true;
    } else if (a == L"--sub") {
      if (!value(AOptions.sub)) return false;
      AOptions.has_sub = true;
      AOptions.pack_options = true;
    } else if (a == L"--help" || a == L"-h" || a == L"/?") {
      AOptions.help = true;
    } else if (a.compare(0, 2, L"--") == 0) {
      return false;
    } else {
      AOptions.args.push_back(a);
    }
  }
  return true;
}

bool valid_command(const Options& AOptions) {
  const auto& args = AOptions.args;
  if (args.empty()) return false;
  if (args[0] == L"pack") return args.size() >= 3 && !AOptions.bare;
  if (AOptions.pack_options) return false;
  if (args[0] == L"list") return args.size() == 2;
  if (AOptions.bare) return false;
  if (args[0] == L"extract") return args.size() >= 3;
  if (args[0] == L"delete") return args.size() >= 3;
  if (args[0] == L"test") return args.size() == 2;
  if (args[0] == L"check") return args.size() >= 2;
  if (args[0] == L"plugins" || args[0] == L"configure") return args.size() == 1 && !AOptions.ansi;
  return false;
}

std::wstring default_module() {
  wchar_t path[MAX_PATH * 4] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1) + qor::kModuleFileName;
}


int run(int argc, wchar_t** argv) {
  Options options;
  options.module = default_module();
  if (!parse_options(argc, argv, options)) return usage();
  if (options.help) return help();
  if (!valid_command(options)) return usage();

  std::unique_ptr<PasswordAnswerer> answerer;
  if (options.answer_passwords) answerer = std::make_unique<PasswordAnswerer>(options.password);
  Plugin plugin(options.module, options.ansi);
  if (!plugin.Error().empty()) {
    err(plugin.Error());
    return kNoPlugin;
  }
  const auto& args = options.args;
  if (const std::wstring lacks = plugin.Lacks(args[0]); !lacks.empty()) {
    err(lacks);
    return kNoPlugin;
  }
  if (args[0] == L"pack")
    return run_pack(plugin, full_path(args[1]), args[2], std::vector<std::wstring>(args.begin() + 3, args.end()),
                    options.has_sub ? &options.sub : nullptr, options.pack_flags);
  if (args[0] == L"delete")
    return run_delete(plugin, full_path(args[1]), std::vector<std::wstring>(args.begin() + 2, args.end()));
  if (error_output().Console()) plugin.ShowProgress();
  if (args[0] == L"plugins") return run_plugins(plugin);
  if (args[0] == L"configure") return run_configure(plugin);
  if (args[0] == L"list") return run_list(plugin, full_path(args[1]), options.bare);
  if (args[0] == L"extract")
    return run_extract(plugin, full_path(args[1]), args[2], std::vector<std::wstring>(args.begin() + 3, args.end()));
  if (args[0] == L"test") return run_test(plugin, full_path(args[1]));
  std::vector<std::wstring> files;
  for (size_t i = 1; i < args.size(); ++i) files.push_back(full_path(args[i]));
  return run_check(plugin, files);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int status = run(argc, argv);
  standard_output().Flush();
  return status;
}
