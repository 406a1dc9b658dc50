// Listing benchmark (a program, not a test): the cost the module adds to walking a plugin's
// folders, its memory while walking, and the cost of one detection.
//
//   bench_listing [ROUNDS]
//
// 1. An archive model of 100,000 entries in 2,000 folders, listed through OpenArchiveW +
//    ReadHeaderExW/ProcessFileW(skip) + CloseArchive, next to a direct walk of the same plugin
//    with the same GetFindDataW/SetDirectoryW/FreeFindDataW calls and no host.
// 2. Private memory while walking, for archives of 10,000 and 100,000 entries: the module keeps
//    only the listings along the current folder path, so the growth must not follow the archive.
// 3. CanYouHandleThisFileW on a 200 KiB file next to a plain read of its first 128 KiB.
// 4. wcxhost.exe listing the 100,000 entries into a file, next to listing an archive of three
//    entries (start-up, loading the module and its plugin) and to the listing through the module
//    of section 1: what printing the lines costs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorTarget.h"
#include "../bench_module.h"

namespace {

using bench::now;

// Bytes in busy blocks of every heap of the process: what the module, the plugin and the C
// runtime have allocated and not freed.
bool GSampleMemory = false;
size_t heap_in_use() {
  if (!GSampleMemory) return 0;
  HANDLE heaps[64];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  size_t total = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry))
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    HeapUnlock(heaps[i]);
  }
  return total;
}

struct Plugin {
  TAnalyseW AnalyseW;
  TOpenW OpenW;
  TGetFindDataW GetFindDataW;
  TFreeFindDataW FreeFindDataW;
  TSetDirectoryW SetDirectoryW;
  TClosePanelW ClosePanelW;
};

struct WalkResult {
  double seconds = 0;
  unsigned long long entries = 0, checksum = 0;
  size_t peak_growth = 0;  // private bytes above the level before the walk
};

// Memory is sampled every this many entries.
constexpr unsigned kSampleEvery = 500;

WalkResult host_walk(const bench::Module& AModule, const std::wstring& AArchive) {
  WalkResult r;
  std::wstring name = AArchive;
  wcx::tOpenArchiveDataW open{};
  open.ArcName = name.data();
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  const size_t before = heap_in_use();
  const double start = now();
  HANDLE h = AModule.OpenArchiveW(&open);
  if (!h) {
    std::fprintf(stderr, "OpenArchiveW failed: %d\n", open.OpenResult);
    std::exit(1);
  }
  while (AModule.ReadHeaderExW(h, header.get()) == 0) {
    r.checksum += header->UnpSize + header->FileAttr;
    AModule.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr);
    if (++r.entries % kSampleEvery == 0) r.peak_growth = std::max(r.peak_growth, heap_in_use() - std::min(before, heap_in_use()));
  }
  AModule.CloseArchive(h);
  r.seconds = now() - start;
  return r;
}

struct DirectWalker {
  const Plugin& plugin;
  HANDLE panel;
  WalkResult& r;
  size_t before;

  void walk() {
    TGetFindDataInfo find{};
    find.StructSize = sizeof(find);
    find.hPanel = panel;
    if (!plugin.GetFindDataW(&find)) return;
    for (size_t i = 0; i < find.ItemsNumber; ++i) {
      const TPluginPanelItem& item = find.PanelItem[i];
      r.checksum += (unsigned)item.FileSize + (unsigned)item.FileAttributes;
      if (++r.entries % kSampleEvery == 0) r.peak_growth = std::max(r.peak_growth, heap_in_use() - std::min(before, heap_in_use()));
      if (item.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        TSetDirectoryInfo set{};
        set.StructSize = SetDirectoryInfoAnnouncedSize;
        set.hPanel = panel;
        set.Dir = item.FileName;
        set.UserData = item.UserData;
        if (plugin.SetDirectoryW(&set)) {
          walk();
          TSetDirectoryInfo up{};
          up.StructSize = SetDirectoryInfoAnnouncedSize;
          up.hPanel = panel;
          up.Dir = L"..";
          plugin.SetDirectoryW(&up);
        }
      }
    }
    TFreeFindDataInfo free_info{};
    free_info.StructSize = sizeof(free_info);
    free_info.hPanel = panel;
    free_info.PanelItem = find.PanelItem;
    free_info.ItemsNumber = find.ItemsNumber;
    plugin.FreeFindDataW(&free_info);
  }
};

// The same plugin without the module: analyse, open, walk depth-first, close.
WalkResult direct_walk(const Plugin& APlugin, const std::wstring& AArchive, const std::string& AHead) {
  WalkResult r;
  const size_t before = heap_in_use();
  const double start = now();
  TAnalyseInfo analyse{};
  analyse.StructSize = sizeof(analyse);
  analyse.FileName = AArchive.c_str();
  analyse.Buffer = const_cast<char*>(AHead.data());
  analyse.BufferSize = AHead.size();
  analyse.OpMode = OPM_PGDN;
  TOpenAnalyseInfo open_analyse{sizeof(TOpenAnalyseInfo), &analyse, APlugin.AnalyseW(&analyse)};
  TOpenInfo open{};
  open.StructSize = sizeof(open);
  open.OpenFrom = OPEN_ANALYSE;
  open.Data = reinterpret_cast<intptr_t>(&open_analyse);
  HANDLE panel = APlugin.OpenW(&open);
  DirectWalker{APlugin, panel, r, before}.walk();
  TClosePanelInfo close{};
  close.StructSize = sizeof(close);
  close.hPanel = panel;
  APlugin.ClosePanelW(&close);
  r.seconds = now() - start;
  return r;
}

// Runs wcxhost.exe with its output in AOutput; returns the seconds it ran, or -1.
double run_wcxhost(const std::wstring& AProgram, const std::wstring& AArgs, const std::wstring& AOutput) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE output = CreateFileW(AOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return -1;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = output;
  si.hStdError = output;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  std::wstring command = L"\"" + AProgram + L"\" " + AArgs;
  PROCESS_INFORMATION pi{};
  const double start = now();
  double seconds = -1;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(pi.hProcess, &status);
    if (status == 0) seconds = now() - start;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(output);
  return seconds;
}

double median(std::vector<double> A) {
  std::sort(A.begin(), A.end());
  return A[A.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::wstring bin = bench::exe_folder();

  // A private copy of the module with the benchmark plugin as its only plugin.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"wexlor-bench-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW((root + qor::kPluginsFolder).c_str(), nullptr);
  CreateDirectoryW((root + qor::kPluginsFolder + L"\\Bench").c_str(), nullptr);
  if (!CopyFileW((bin + qor::kModuleFileName).c_str(), (root + qor::kModuleFileName).c_str(), FALSE) ||
      !CopyFileW((bin + L"bench_plugin.dll").c_str(), (root + qor::kPluginsFolder + L"\\Bench\\bench_plugin.dll").c_str(), FALSE)) {
    std::fprintf(stderr, "cannot copy %ls and bench_plugin.dll from %ls\n", qor::kModuleFileName, bin.c_str());
    return 3;
  }
  // 40 top folders with 49 sub-folders each: 2,000 folders; 49 files in each: 98,000 files.
  const std::string big_head = "WXBENCH 40 49 49\n";
  // 10 top folders with 19 sub-folders each: 200 folders; 49 files in each: 9,800 files.
  const std::string small_head = "WXBENCH 10 19 49\n";
  const std::wstring big = root + L"big.wxb", small = root + L"small.wxb", detect = root + L"detect.wxb";
  bench::write_file(big, big_head);
  bench::write_file(small, small_head);
  bench::write_file(detect, big_head + std::string(200 * 1024, 'x'));
  const std::wstring tiny = root + L"tiny.wxb";
  bench::write_file(tiny, "WXBENCH 1 1 1\n");

  const bench::Module m = bench::load_module(root);
  // Creates the registry, so that the plugin is loaded before the direct walk binds to it.
  if (m.CanYouHandleThisFileW(big.c_str()) != -1) {
    std::fprintf(stderr, "the benchmark plugin did not accept its archive\n");
    return 3;
  }
  HMODULE plugin_module = GetModuleHandleW((root + qor::kPluginsFolder + L"\\Bench\\bench_plugin.dll").c_str());
  if (!plugin_module) plugin_module = LoadLibraryW((root + qor::kPluginsFolder + L"\\Bench\\bench_plugin.dll").c_str());
  Plugin p{};
  bench::bind(plugin_module, p.AnalyseW, "AnalyseW");
  bench::bind(plugin_module, p.OpenW, "OpenW");
  bench::bind(plugin_module, p.GetFindDataW, "GetFindDataW");
  bench::bind(plugin_module, p.FreeFindDataW, "FreeFindDataW");
  bench::bind(plugin_module, p.SetDirectoryW, "SetDirectoryW");
  bench::bind(plugin_module, p.ClosePanelW, "ClosePanelW");

  // 1. Listing speed; host and direct runs alternate so that both see the same machine state.
  std::vector<double> host_times, direct_times;
  WalkResult host{}, direct{};
  host_walk(m, big);  // warm-up
  direct_walk(p, big, big_head);
  for (int i = 0; i < rounds; ++i) {
    host = host_walk(m, big);
    direct = direct_walk(p, big, big_head);
    host_times.push_back(host.seconds);
    direct_times.push_back(direct.seconds);
  }
  if (host.entries != direct.entries || host.checksum != direct.checksum) {
    std::fprintf(stderr, "host and direct walks disagree: %llu/%llu entries\n", host.entries, direct.entries);
    return 1;
  }
  const double host_best = *std::min_element(host_times.begin(), host_times.end());
  const double direct_best = *std::min_element(direct_times.begin(), direct_times.end());
  std::printf("listing: %llu entries in 2000 folders, %d rounds\n", host.entries, rounds);
  std::printf("  through the module : best %8.1f ms  median %8.1f ms  %10.0f entries/s\n", host_best * 1e3,
              median(host_times) * 1e3, host.entries / host_best);
  std::printf("  direct walk        : best %8.1f ms  median %8.1f ms  %10.0f entries/s\n", direct_best * 1e3,
              median(direct_times) * 1e3, direct.entries / direct_best);
  std::printf("  ratio module/direct: best %.3f  median %.3f  (module adds %.0f ns per entry)\n",
              host_best / direct_best, median(host_times) / median(direct_times),
              (host_best - direct_best) * 1e9 / host.entries);

  // 2. Memory while walking (timings of these runs are not used: sampling walks every heap).
  GSampleMemory = true;
  const WalkResult host_small = host_walk(m, small), direct_small = direct_walk(p, small, small_head);
  const WalkResult host_big = host_walk(m, big), direct_big = direct_walk(p, big, big_head);
  GSampleMemory = false;
  std::printf("memory: peak growth of heap bytes in use while walking (sampled every %u entries)\n", kSampleEvery);
  std::printf("  %6llu entries: module %8zu bytes   direct %8zu bytes\n", host_small.entries, host_small.peak_growth,
              direct_small.peak_growth);
  std::printf("  %6llu entries: module %8zu bytes   direct %8zu bytes\n", host_big.entries, host_big.peak_growth,
              direct_big.peak_growth);

  // 3. Detection; plain reads and detections alternate in rounds, the best round of each counts.
  const int calls = 1000;
  std::vector<char> buffer(128 * 1024);
  double read_seconds = 1e9, detect_seconds = 1e9;
  int accepted = 0;
  for (int round = 0; round < 5; ++round) {
    double start = now();
    for (int i = 0; i < calls; ++i) {
      HANDLE h = CreateFileW(detect.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      DWORD got = 0;
      ReadFile(h, buffer.data(), (DWORD)buffer.size(), &got, nullptr);
      CloseHandle(h);
    }
    read_seconds = std::min(read_seconds, now() - start);
    start = now();
    accepted = 0;
    for (int i = 0; i < calls; ++i) accepted += m.CanYouHandleThisFileW(detect.c_str()) == -1;
    detect_seconds = std::min(detect_seconds, now() - start);
  }
  std::printf("detection: 200 KiB file, %d calls per round, best of 5 rounds (%d accepted)\n", calls, accepted);
  std::printf("  CanYouHandleThisFileW : %10.0f calls/s\n", calls / detect_seconds);
  std::printf("  read of first 128 KiB : %10.0f reads/s\n", calls / read_seconds);
  std::printf("  ratio                 : %.2f\n", detect_seconds / read_seconds);

  // 4. The command-line host; start-ups and listings alternate, the best of each counts.
  const std::wstring wcxhost = bin + L"wcxhost.exe", listing = root + L"listing.txt";
  const std::wstring module_arg = L"--wcx \"" + root + qor::kModuleFileName + L"\" ";
  double start_up = 1e9, list_time = 1e9;
  for (int round = 0; round < 3; ++round) {
    start_up = std::min(start_up, run_wcxhost(wcxhost, module_arg + L"list \"" + tiny + L"\"", listing));
    list_time = std::min(list_time, run_wcxhost(wcxhost, module_arg + L"list \"" + big + L"\"", listing));
  }
  if (start_up < 0 || list_time < 0) {
    std::fprintf(stderr, "wcxhost.exe failed or is missing beside this program\n");
    return 1;
  }
  std::printf("wcxhost list: %llu entries into a file, best of 3 runs\n", host_big.entries);
  std::printf("  list                 : %8.1f ms\n", list_time * 1e3);
  std::printf("  list of 3 entries    : %8.1f ms  (start-up)\n", start_up * 1e3);
  std::printf("  printing per entry   : %8.0f ns  (listing minus start-up minus the module's walk)\n",
              (list_time - start_up - host_best) * 1e9 / host_big.entries);
  std::printf("  ratio (list - start-up) / module walk: %.2f\n", (list_time - start_up) / host_best);

  FreeLibrary(m.Handle);
  DeleteFileW(listing.c_str());
  for (const std::wstring& f : {std::wstring(L"big.wxb"), std::wstring(L"small.wxb"), std::wstring(L"detect.wxb"),
                                std::wstring(L"tiny.wxb"), std::wstring(qor::kModuleFileName),
                                qor::kPluginsFolder + std::wstring(L"\\Bench\\bench_plugin.dll")})
    DeleteFileW((root + f).c_str());
  RemoveDirectoryW((root + qor::kPluginsFolder + L"\\Bench").c_str());
  RemoveDirectoryW((root + qor::kPluginsFolder).c_str());
  RemoveDirectoryW(root.c_str());
  return 0;
}
