// Discovery cost: a plugins folder (Plugins32, or Plugins64 for the 64-bit build) with 50 folders
// holding 200 DLLs that fail the export-name filter (copies of nonplugin.dll, whose DllMain leaves
// a marker file) and 5 plugins. Times registry creation (load the module, first CanYouHandleThisFileW) against a baseline that loads every DLL
// with LoadLibraryW and asks GetProcAddress, in the same run, and checks that discovery ran none
// of the 200 DllMains.
//
//   bench_discovery [rounds]     default 5 rounds of each
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "hosting/qorFarExportNames.h"
#include "common/qorTarget.h"

namespace {

using Clock = std::chrono::steady_clock;

std::wstring exe_folder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

void copy_or_die(const std::wstring& AFrom, const std::wstring& ATo) {
  if (!CopyFileW(AFrom.c_str(), ATo.c_str(), FALSE)) {
    std::fprintf(stderr, "cannot copy %ls to %ls (%lu)\n", AFrom.c_str(), ATo.c_str(), GetLastError());
    std::exit(2);
  }
}

void remove_tree(const std::wstring& AFolder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(AFolder + name + L"\\");
      else
        DeleteFileW((AFolder + name).c_str());
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  RemoveDirectoryW(AFolder.c_str());
}

double ms_since(Clock::time_point AStart) {
  return std::chrono::duration<double, std::milli>(Clock::now() - AStart).count();
}

double median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  return AValues[AValues.size() / 2];
}

int count_markers(const std::vector<std::wstring>& ADlls) {
  int n = 0;
  for (const auto& dll : ADlls) n += GetFileAttributesW((dll + L".loaded").c_str()) != INVALID_FILE_ATTRIBUTES;
  return n;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = std::max(1, argc > 1 ? _wtoi(argv[1]) : 5);
  const std::wstring bin = exe_folder();
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"wexlor-bench-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetTickCount()) + L"\\";
  remove_tree(root);
  CreateDirectoryW(root.c_str(), nullptr);
  copy_or_die(bin + qor::kModuleFileName, root + qor::kModuleFileName);
  const std::wstring plugins = root + qor::kPluginsFolder + L"\\";
  CreateDirectoryW(plugins.c_str(), nullptr);

  std::vector<std::wstring> nonplugins, plugin_dlls;
  for (int f = 0; f < 50; ++f) {
    wchar_t name[16];
    swprintf(name, 16, L"f%02d\\", f);
    const std::wstring folder = plugins + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    for (int i = 0; i < 4; ++i) {
      nonplugins.push_back(folder + L"np" + std::to_wstring(i) + L".dll");
      copy_or_die(bin + L"nonplugin.dll", nonplugins.back());
    }
    if (f % 10 == 0) {
      plugin_dlls.push_back(folder + L"plugin.dll");
      copy_or_die(bin + L"fixture_full.dll", plugin_dlls.back());
    }
  }
  const std::wstring archive = root + L"a.fix";
  HANDLE file = CreateFileW(archive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, "WXFIX\n", 6, &written, nullptr);
  CloseHandle(file);
  std::printf("%ls: 50 folders, %zu non-plugin DLLs, %zu plugins\n", qor::kPluginsFolder, nonplugins.size(),
              plugin_dlls.size());

  // Registry creation: one warm-up, then the timed rounds.
  std::vector<double> creation, first_call;
  int accepted = 0;
  for (int r = 0; r <= rounds; ++r) {
    const auto t0 = Clock::now();
    HMODULE wexlor = LoadLibraryW((root + qor::kModuleFileName).c_str());
    if (!wexlor) {
      std::fprintf(stderr, "cannot load %ls (%lu)\n", qor::kModuleFileName, GetLastError());
      return 2;
    }
    auto can_handle = reinterpret_cast<int(WINAPI*)(const wchar_t*)>(
        reinterpret_cast<void*>(GetProcAddress(wexlor, "CanYouHandleThisFileW")));
    const auto t1 = Clock::now();
    const int result = can_handle(archive.c_str());
    const double call_ms = ms_since(t1), total_ms = ms_since(t0);
    FreeLibrary(wexlor);
    if (r == 0) continue;
    accepted += result == -1;
    creation.push_back(total_ms);
    first_call.push_back(call_ms);
  }
  // The export-name filter alone, as discovery runs it on every candidate.
  std::vector<double> filter;
  for (int r = 0; r <= rounds; ++r) {
    const auto t0 = Clock::now();
    for (const auto* list : {&nonplugins, &plugin_dlls})
      for (const auto& dll : *list) {
        std::vector<std::wstring> names;
        bool is64 = false;
        try {
          qor::ReadExportNames(dll, is64, &names);
        } catch (...) {
        }
      }
    if (r > 0) filter.push_back(ms_since(t0));
  }
  const int markers_after_discovery = count_markers(nonplugins);

  // Baseline: load every DLL and ask for an entry point, the way a loader-based scan would.
  // Few rounds: each DLL's static TLS and runtime set-up leak a little per load under Wine, and a
  // few thousand loads of these DLLs exhaust the process.
  const int baseline_rounds = std::min(rounds, 3);
  std::vector<double> baseline;
  for (int r = 0; r <= baseline_rounds; ++r) {
    std::vector<HMODULE> loaded;
    const auto t0 = Clock::now();
    for (const auto* list : {&nonplugins, &plugin_dlls})
      for (const auto& dll : *list) {
        HMODULE m = LoadLibraryW(dll.c_str());
        if (m) {
          GetProcAddress(m, "GetGlobalInfoW");
          loaded.push_back(m);
        }
      }
    const double ms = ms_since(t0);
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) FreeLibrary(*it);
    if (r > 0) baseline.push_back(ms);
  }
  const int markers_after_baseline = count_markers(nonplugins);

  const double creation_ms = median(creation), baseline_ms = median(baseline);
  std::printf("registry creation (load %ls + first CanYouHandleThisFileW), median of %d: %.1f ms"
              " (first call alone %.1f ms); archive accepted in %d of %d rounds\n",
              qor::kModuleFileName, rounds, creation_ms, median(first_call), accepted, rounds);
  std::printf("export-name filter alone on all %zu DLLs, median of %d: %.1f ms\n",
              nonplugins.size() + plugin_dlls.size(), rounds, median(filter));
  std::printf("baseline (LoadLibraryW + GetProcAddress on all %zu DLLs), median of %d: %.1f ms\n",
              nonplugins.size() + plugin_dlls.size(), baseline_rounds, baseline_ms);
  std::printf("ratio baseline / registry creation: %.1f\n", baseline_ms / creation_ms);
  std::printf("non-plugin DllMain markers: %d after discovery (must be 0), %d after the baseline\n",
              markers_after_discovery, markers_after_baseline);
  remove_tree(root);
  return markers_after_discovery == 0 && accepted == rounds ? 0 : 1;
}
