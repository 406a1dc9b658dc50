// Test harness: a file-manager emulator that loads the built Wexlor.wcx from a fresh folder with
// a Plugins32 tree of fixture plugins, and a watcher that reads and closes host warning boxes.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/qorWcxApi.h"
#include "common/qorTarget.h"

namespace wxt {

std::wstring exe_folder();
std::wstring make_temp_folder();
void remove_tree(const std::wstring& APath);
void write_file(const std::wstring& APath, const std::string& ABytes);
std::string read_file(const std::wstring& APath);
std::vector<std::string> read_lines(const std::wstring& APath);
bool file_exists(const std::wstring& APath);
std::wstring widen(const std::string& AText);
std::string narrow(const std::wstring& AText);

// One plugin DLL to place: Plugins32\<folder>\<as_name>, copied from the build's <binary>.
struct PluginSpec {
  std::wstring folder;
  std::wstring binary;
  std::wstring as_name;                            // defaults to binary
  std::map<std::wstring, std::string> extra_files;  // more files for the folder (fixture.cfg, .lng)
};

class FileManager {
 public:
  explicit FileManager(std::initializer_list<PluginSpec> APlugins, bool ALoad = true);
  explicit FileManager(const std::vector<PluginSpec>& APlugins, bool ALoad = true);
  ~FileManager();
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // Loads the module and, as a file manager does, hands it the suggested settings file:
  // <root>wincmd.ini unless SuggestIni(false) came first (the module then uses its own default).
  void Load();
  void Unload();
  bool Loaded() const { return FModule != nullptr; }
  void SuggestIni(bool ASuggest) { FSuggestIni = ASuggest; }
  // The module's settings file, when the suggested folder is used.
  std::wstring SettingsFile() const { return FRoot + L"WexlorSettings.txt"; }

  const std::wstring& Root() const { return FRoot; }
  std::wstring PluginFile(const std::wstring& AFolder, const std::wstring& AName) const;
  // The fixture's call log for a plugin placed by this emulator.
  std::vector<std::string> Log(const std::wstring& AFolder, const std::wstring& AName) const;
  void ClearLog(const std::wstring& AFolder, const std::wstring& AName) const;
  // Writes a file below Root()\archives and returns its path.
  std::wstring WriteArchive(const std::wstring& AName, const std::string& AContent) const;

  int(WINAPI* GetPackerCaps)() = nullptr;
  int(WINAPI* GetBackgroundFlags)() = nullptr;
  void(WINAPI* PackSetDefaultParams)(wcx::PackDefaultParamStruct*) = nullptr;
  int(WINAPI* CanYouHandleThisFileW)(const wchar_t*) = nullptr;
  int(WINAPI* CanYouHandleThisFile)(const char*) = nullptr;
  HANDLE(WINAPI* OpenArchiveW)(wcx::tOpenArchiveDataW*) = nullptr;
  HANDLE(WINAPI* OpenArchive)(wcx::tOpenArchiveData*) = nullptr;
  int(WINAPI* ReadHeaderExW)(HANDLE, wcx::tHeaderDataExW*) = nullptr;
  int(WINAPI* ReadHeaderEx)(HANDLE, wcx::tHeaderDataEx*) = nullptr;
  int(WINAPI* ReadHeader)(HANDLE, wcx::tHeaderData*) = nullptr;
  int(WINAPI* ProcessFileW)(HANDLE, int, const wchar_t*, const wchar_t*) = nullptr;
  int(WINAPI* ProcessFile)(HANDLE, int, const char*, const char*) = nullptr;
  int(WINAPI* CloseArchive)(HANDLE) = nullptr;
  void(WINAPI* SetChangeVolProc)(HANDLE, void*) = nullptr;
  void(WINAPI* SetChangeVolProcW)(HANDLE, void*) = nullptr;
  void(WINAPI* SetProcessDataProc)(HANDLE, void*) = nullptr;
  void(WINAPI* SetProcessDataProcW)(HANDLE, void*) = nullptr;
  void(WINAPI* ConfigurePacker)(HWND, HINSTANCE) = nullptr;
  int(WINAPI* ListHostedPluginsW)(wchar_t*, int) = nullptr;
  int(WINAPI* PackFilesW)(wchar_t*, wchar_t*, wchar_t*, wchar_t*, int) = nullptr;
  int(WINAPI* PackFiles)(char*, char*, char*, char*, int) = nullptr;
  int(WINAPI* DeleteFilesW)(wchar_t*, wchar_t*) = nullptr;
  int(WINAPI* DeleteFiles)(char*, char*) = nullptr;

  HMODULE Module() const { return FModule; }

 private:
  std::wstring FRoot;
  HMODULE FModule = nullptr;
  bool FSuggestIni = true;
};

// Finds every host warning box ("Callback" caption) of this process, records its text and
// closes it with OK.
class BoxWatcher {
 public:
  BoxWatcher();
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  std::vector<std::wstring> Texts();
  std::vector<std::wstring> Take();

 private:
  void run();
  static BOOL CALLBACK on_window(HWND AWnd, LPARAM AThis);

  std::atomic<bool> FStop{false};
  std::mutex FLock;
  std::vector<std::wstring> FTexts;
  std::set<HWND> FSeen;
  std::thread FThread;
};

// Call-log helpers: how many lines start with APrefix, and the entry point of every line.
int count_prefix(const std::vector<std::string>& ALog, const std::string& APrefix);
std::vector<std::string> entries_of(const std::vector<std::string>& ALog);

// One entry as the file manager sees it through ReadHeaderExW.
struct ListedEntry {
  std::wstring name;
  unsigned long long size = 0;
  unsigned long long packed = 0;
  int time = 0;
  int attr = 0;
};

// Opens an archive through OpenArchiveW and reads every header (skipping each entry); returns
// the entries and leaves the last result code in AResult.
std::vector<ListedEntry> ListArchive(FileManager& AFm, const std::wstring& AArchive, int* AOpenResult = nullptr,
                                     int* ALastResult = nullptr);

// A program of the build run to its end: its exit status and what it wrote.
struct ProgramRun {
  DWORD status = 0xFFFFFFFF;
  std::string out, err;  // err stays empty when stderr went elsewhere
};

// Runs ACommand with stdout in a pipe and stderr in a pipe, or on AStdErr when given (a console,
// say); AWhileRunning is called every few milliseconds until the program ends. A program still
// running after two minutes is ended with status 0xDEAD.
ProgramRun RunProgram(std::wstring ACommand, HANDLE AStdErr = nullptr,
                      const std::function<void()>& AWhileRunning = {});

}  // namespace wxt
