// What the benchmarks that drive the module like a file manager share: the folder of the program,
// a file written whole, and the module's packer entry points bound by name. A missing module or
// export ends the program, as no figure would mean anything then.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "api/qorWcxApi.h"
#include "common/qorTarget.h"

namespace bench {

inline std::wstring exe_folder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

inline void write_file(const std::wstring& APath, const std::string& ABytes) {
  HANDLE h = CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, ABytes.data(), (DWORD)ABytes.size(), &written, nullptr);
  CloseHandle(h);
}

// Seconds on the performance counter.
inline double now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return double(t.QuadPart) / double(frequency.QuadPart);
}

// A folder with everything below it, read-only files included.
inline void remove_tree(const std::wstring& APath) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((APath + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(APath + L"\\" + name);
      } else {
        SetFileAttributesW((APath + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((APath + L"\\" + name).c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(APath.c_str());
}

template <class T>
void bind(HMODULE AModule, T& ASlot, const char* AName) {
  ASlot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(AModule, AName)));
  if (!ASlot) {
    std::fprintf(stderr, "missing export %s\n", AName);
    std::exit(3);
  }
}

struct Module {
  HMODULE Handle;  // freed by the benchmark once its files are no longer in use
  HANDLE(WINAPI* OpenArchiveW)(wcx::tOpenArchiveDataW*);
  int(WINAPI* ReadHeaderExW)(HANDLE, wcx::tHeaderDataExW*);
  int(WINAPI* ProcessFileW)(HANDLE, int, const wchar_t*, const wchar_t*);
  int(WINAPI* CloseArchive)(HANDLE);
  int(WINAPI* CanYouHandleThisFileW)(const wchar_t*);
  int(WINAPI* PackFilesW)(wchar_t*, wchar_t*, wchar_t*, wchar_t*, int);
  int(WINAPI* DeleteFilesW)(wchar_t*, wchar_t*);
  void(WINAPI* SetProcessDataProcW)(HANDLE, wcx::tProcessDataProcW);
};

// Loads the target's module from ARoot (its folder, with a backslash) and binds its entry points.
inline Module load_module(const std::wstring& ARoot) {
  HMODULE module = LoadLibraryW((ARoot + qor::kModuleFileName).c_str());
  if (!module) {
    std::fprintf(stderr, "cannot load %ls\n", qor::kModuleFileName);
    std::exit(3);
  }
  Module m{};
  m.Handle = module;
  bind(module, m.OpenArchiveW, "OpenArchiveW");
  bind(module, m.ReadHeaderExW, "ReadHeaderExW");
  bind(module, m.ProcessFileW, "ProcessFileW");
  bind(module, m.CloseArchive, "CloseArchive");
  bind(module, m.CanYouHandleThisFileW, "CanYouHandleThisFileW");
  bind(module, m.PackFilesW, "PackFilesW");
  bind(module, m.DeleteFilesW, "DeleteFilesW");
  bind(module, m.SetProcessDataProcW, "SetProcessDataProcW");
  return m;
}

}  // namespace bench
