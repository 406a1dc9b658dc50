#include "wexlor_harness.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace wxt {

std::wstring widen(const std::string& AText) {
  if (AText.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, AText.data(), (int)AText.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, AText.data(), (int)AText.size(), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& AText) {
  if (AText.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring exe_folder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring make_temp_folder() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  for (;;) {
    std::wstring path = std::wstring(temp) + L"wexlor-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++) + L"\\";
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
  }
}

void remove_tree(const std::wstring& APath) {
  std::wstring folder = APath;
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(folder + name);
      else {
        SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((folder + name).c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(folder.c_str());
}

void write_file(const std::wstring& APath, const std::string& ABytes) {
  std::ofstream out(APath.c_str(), std::ios::binary | std::ios::trunc);
  out << ABytes;
}

std::string read_file(const std::wstring& APath) {
  std::ifstream in(APath.c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> read_lines(const std::wstring& APath) {
  std::vector<std::string> lines;
  std::istringstream in(read_file(APath));
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool file_exists(const std::wstring& APath) { return GetFileAttributesW(APath.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---------------------------------------------------------------------------------------------

FileManager::FileManager(std::initializer_list<PluginSpec> APlugins, bool ALoad)
    : FileManager(std::vector<PluginSpec>(APlugins), ALoad) {}

FileManager::FileManager(const std::vector<PluginSpec>& APlugins, bool ALoad) : FRoot(make_temp_folder()) {
  const std::wstring bin = exe_folder();
  CopyFileW((bin + qor::kModuleFileName).c_str(), (FRoot + qor::kModuleFileName).c_str(), FALSE);
  CreateDirectoryW((FRoot + L"archives").c_str(), nullptr);
  CreateDirectoryW((FRoot + qor::kPluginsFolder).c_str(), nullptr);
  for (const auto& plugin : APlugins) {
    std::wstring folder = FRoot + qor::kPluginsFolder + L"\\";
    if (!plugin.folder.empty()) {
      folder += plugin.folder + L"\\";
      CreateDirectoryW(folder.c_str(), nullptr);
    }
    if (!plugin.binary.empty()) {
      const std::wstring name = plugin.as_name.empty() ? plugin.binary : plugin.as_name;
      CopyFileW((bin + plugin.binary).c_str(), (folder + name).c_str(), FALSE);
    }
    for (const auto& [name, bytes] : plugin.extra_files) write_file(folder + name, bytes);
  }
  if (ALoad) Load();
}

FileManager::~FileManager() {
  Unload();
  remove_tree(FRoot);
}

template <class T>
static void bind(HMODULE AModule, T& ASlot, const char* AName) {
  ASlot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(AModule, AName)));
}

void FileManager::Load() {
  if (FModule) return;
  FModule = LoadLibraryW((FRoot + qor::kModuleFileName).c_str());
  if (!FModule) return;
  bind(FModule, GetPackerCaps, "GetPackerCaps");
  bind(FModule, GetBackgroundFlags, "GetBackgroundFlags");
  bind(FModule, PackSetDefaultParams, "PackSetDefaultParams");
  bind(FModule, CanYouHandleThisFileW, "CanYouHandleThisFileW");
  bind(FModule, CanYouHandleThisFile, "CanYouHandleThisFile");
  bind(FModule, OpenArchiveW, "OpenArchiveW");
  bind(FModule, OpenArchive, "OpenArchive");
  bind(FModule, ReadHeaderExW, "ReadHeaderExW");
  bind(FModule, ReadHeaderEx, "ReadHeaderEx");
  bind(FModule, ReadHeader, "ReadHeader");
  bind(FModule, ProcessFileW, "ProcessFileW");
  bind(FModule, ProcessFile, "ProcessFile");
  bind(FModule, CloseArchive, "CloseArchive");
  bind(FModule, SetChangeVolProc, "SetChangeVolProc");
  bind(FModule, SetChangeVolProcW, "SetChangeVolProcW");
  bind(FModule, SetProcessDataProc, "SetProcessDataProc");
  bind(FModule, SetProcessDataProcW, "SetProcessDataProcW");
  bind(FModule, ConfigurePacker, "ConfigurePacker");
  bind(FModule, ListHostedPluginsW, "ListHostedPluginsW");
  bind(FModule, PackFilesW, "PackFilesW");
  bind(FModule, PackFiles, "PackFiles");
  bind(FModule, DeleteFilesW, "DeleteFilesW");
  bind(FModule, DeleteFiles, "DeleteFiles");
  if (FSuggestIni && PackSetDefaultParams) {
    wcx::PackDefaultParamStruct params{};
    params.size = sizeof(params);
    params.PluginInterfaceVersionLow = 10;
    params.PluginInterfaceVersionHi = 2;
    const std::wstring ini = FRoot + L"wincmd.ini";
    WideCharToMultiByte(CP_ACP, 0, ini.c_str(), -1, params.DefaultIniName, sizeof(params.DefaultIniName), nullptr,
                        nullptr);
    PackSetDefaultParams(&params);
  }
}

void FileManager::Unload() {
  if (!FModule) return;
  FreeLibrary(FModule);
  FModule = nullptr;
}

std::wstring FileManager::PluginFile(const std::wstring& AFolder, const std::wstring& AName) const {
  return FRoot + qor::kPluginsFolder + L"\\" + (AFolder.empty() ? L"" : AFolder + L"\\") + AName;
}

std::vector<std::string> FileManager::Log(const std::wstring& AFolder, const std::wstring& AName) const {
  return read_lines(PluginFile(AFolder, AName) + L".log");
}

void FileManager::ClearLog(const std::wstring& AFolder, const std::wstring& AName) const {
  DeleteFileW((PluginFile(AFolder, AName) + L".log").c_str());
}

std::wstring FileManager::WriteArchive(const std::wstring& AName, const std::string& AContent) const {
  const std::wstring path = FRoot + L"archives\\" + AName;
  write_file(path, AContent);
  return path;
}

// ---------------------------------------------------------------------------------------------

BoxWatcher::BoxWatcher() : FThread([this] { run(); }) {}

BoxWatcher::~BoxWatcher() {
  FStop = true;
  FThread.join();
}

std::vector<std::wstring> BoxWatcher::Texts() {
  std::lock_guard<std::mutex> guard(FLock);
  return FTexts;
}

std::vector<std::wstring> BoxWatcher::Take() {
  std::lock_guard<std::mutex> guard(FLock);
  std::vector<std::wstring> texts;
  texts.swap(FTexts);
  return texts;
}

void BoxWatcher::run() {
  while (!FStop) {
    EnumWindows(on_window, reinterpret_cast<LPARAM>(this));
    Sleep(5);
  }
}

namespace {
BOOL CALLBACK find_text(HWND AChild, LPARAM AOut) {
  wchar_t cls[32] = {};
  GetClassNameW(AChild, cls, 32);
  if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
  wchar_t text[1024] = {};
  GetWindowTextW(AChild, text, 1024);
  if (!text[0]) return TRUE;
  *reinterpret_cast<std::wstring*>(AOut) = text;
  return FALSE;
}
}  // namespace

BOOL CALLBACK BoxWatcher::on_window(HWND AWnd, LPARAM AThis) {
  auto* self = reinterpret_cast<BoxWatcher*>(AThis);
  DWORD pid = 0;
  GetWindowThreadProcessId(AWnd, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(AWnd)) return TRUE;
  wchar_t cls[32] = {}, caption[64] = {};
  GetClassNameW(AWnd, cls, 32);
  GetWindowTextW(AWnd, caption, 64);
  if (std::wcscmp(cls, L"#32770") != 0 || std::wcscmp(caption, L"Callback") != 0) return TRUE;
  {
    std::lock_guard<std::mutex> guard(self->FLock);
    for (auto it = self->FSeen.begin(); it != self->FSeen.end();)
      it = IsWindow(*it) ? std::next(it) : self->FSeen.erase(it);
    if (!self->FSeen.insert(AWnd).second) return TRUE;
  }
  std::wstring text;
  EnumChildWindows(AWnd, find_text, reinterpret_cast<LPARAM>(&text));
  {
    std::lock_guard<std::mutex> guard(self->FLock);
    self->FTexts.push_back(text);
  }
  PostMessageW(AWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return TRUE;
}

// ---------------------------------------------------------------------------------------------

int count_prefix(const std::vector<std::string>& ALog, const std::string& APrefix) {
  int n = 0;
  for (const auto& line : ALog) n += line.compare(0, APrefix.size(), APrefix) == 0;
  return n;
}

std::vector<std::string> entries_of(const std::vector<std::string>& ALog) {
  std::vector<std::string> names;
  for (const auto& line : ALog) names.push_back(line.substr(0, line.find(' ')));
  return names;
}

std::vector<ListedEntry> ListArchive(FileManager& AFm, const std::wstring& AArchive, int* AOpenResult,
                                     int* ALastResult) {
  std::vector<ListedEntry> entries;
  std::wstring name = AArchive;
  wcx::tOpenArchiveDataW open{};
  open.ArcName = name.data();
  open.OpenMode = wcx::PK_OM_LIST;
  HANDLE archive = AFm.OpenArchiveW(&open);
  if (AOpenResult) *AOpenResult = open.OpenResult;
  if (!archive) return entries;
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  int result;
  while ((result = AFm.ReadHeaderExW(archive, header.get())) == 0) {
    ListedEntry e;
    e.name = header->FileName;
    e.size = (static_cast<unsigned long long>(header->UnpSizeHigh) << 32) | header->UnpSize;
    e.packed = (static_cast<unsigned long long>(header->PackSizeHigh) << 32) | header->PackSize;
    e.time = header->FileTime;
    e.attr = header->FileAttr;
    entries.push_back(e);
    AFm.ProcessFileW(archive, wcx::PK_SKIP, nullptr, nullptr);
  }
  if (ALastResult) *ALastResult = result;
  AFm.CloseArchive(archive);
  return entries;
}

namespace {

// Reads what the pipe holds without waiting for its end: a process that Wine starts on demand
// (its desktop, when the program shows a window) may inherit the write end and keep it open.
std::string drain_pipe(HANDLE APipe) {
  std::string text;
  char buffer[4096];
  DWORD available = 0, got = 0;
  while (APipe && PeekNamedPipe(APipe, nullptr, 0, nullptr, &available, nullptr) && available &&
         ReadFile(APipe, buffer, sizeof(buffer), &got, nullptr) && got)
    text.append(buffer, got);
  return text;
}

}  // namespace

ProgramRun RunProgram(std::wstring ACommand, HANDLE AStdErr, const std::function<void()>& AWhileRunning) {
  ProgramRun run;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  // Room for all the program writes: the pipes are read once it has ended.
  CreatePipe(&out_read, &out_write, &sa, 1 << 20);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  if (!AStdErr) {
    CreatePipe(&err_read, &err_write, &sa, 1 << 20);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out_write;
  si.hStdError = AStdErr ? AStdErr : err_write;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(nullptr, ACommand.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(out_write);
  if (err_write) CloseHandle(err_write);
  if (started) {
    // A program that hangs (a dialog nobody answers) fails the test instead of stopping the run.
    const ULONGLONG deadline = GetTickCount64() + 120000;
    while (WaitForSingleObject(pi.hProcess, 3) == WAIT_TIMEOUT) {
      if (GetTickCount64() > deadline) {
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, INFINITE);
        break;
      }
      if (AWhileRunning) AWhileRunning();
    }
    GetExitCodeProcess(pi.hProcess, &run.status);
    run.out = drain_pipe(out_read);
    run.err = drain_pipe(err_read);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out_read);
  if (err_read) CloseHandle(err_read);
  return run;
}

}  // namespace wxt
