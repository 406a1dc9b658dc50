// Mutation loop for the Tar plugin: damaged copies of the sample archives are analysed, opened,
// walked and extracted by calling the plugin directly, with no guard around it, so a fault ends
// this program at the mutant that caused it (its seed and number are printed first).
//
//   tar_mutate [ITERATIONS] [SEED]
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorTarget.h"

namespace {

std::wstring exe_folder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::string read_file(const std::wstring& APath) {
  std::string bytes;
  HANDLE h = CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size{};
  GetFileSizeEx(h, &size);
  bytes.resize((size_t)size.QuadPart);
  DWORD got = 0;
  ReadFile(h, bytes.data(), (DWORD)bytes.size(), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

void write_file(const std::wstring& APath, const std::string& ABytes) {
  HANDLE h = CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(h, ABytes.data(), (DWORD)ABytes.size(), &written, nullptr);
  CloseHandle(h);
}

void remove_tree(const std::wstring& AFolder) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L"*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        remove_tree(AFolder + name + L"\\");
        RemoveDirectoryW((AFolder + name).c_str());
      } else {
        DeleteFileW((AFolder + name).c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
}

struct Plugin {
  TAnalyseW AnalyseW;
  TOpenW OpenW;
  TGetFindDataW GetFindDataW;
  TFreeFindDataW FreeFindDataW;
  TSetDirectoryW SetDirectoryW;
  TGetFilesW GetFilesW;
  TClosePanelW ClosePanelW;
};

struct Counts {
  unsigned long long accepted = 0, opened = 0, entries = 0, extracted = 0, refused_extracts = 0;
};

void walk(const Plugin& APlugin, HANDLE APanel, const std::wstring& AOut, Counts& ACounts, int ADepth) {
  TGetFindDataInfo find{};
  find.StructSize = sizeof(find);
  find.hPanel = APanel;
  if (!APlugin.GetFindDataW(&find)) return;
  for (size_t i = 0; i < find.ItemsNumber; ++i) {
    TPluginPanelItem& item = find.PanelItem[i];
    ++ACounts.entries;
    if (item.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      TSetDirectoryInfo set{};
      set.StructSize = SetDirectoryInfoAnnouncedSize;
      set.hPanel = APanel;
      set.Dir = item.FileName;
      if (ADepth < 64 && APlugin.SetDirectoryW(&set)) {
        walk(APlugin, APanel, AOut, ACounts, ADepth + 1);
        set.Dir = L"..";
        APlugin.SetDirectoryW(&set);
      }
    } else {
      TGetFilesInfo get{};
      get.StructSize = sizeof(get);
      get.hPanel = APanel;
      get.PanelItem = &item;
      get.ItemsNumber = 1;
      get.DestPath = AOut.c_str();
      get.OpMode = OPM_SILENT;
      if (APlugin.GetFilesW(&get) == 1)
        ++ACounts.extracted;
      else
        ++ACounts.refused_extracts;
    }
  }
  TFreeFindDataInfo free_info{};
  free_info.StructSize = sizeof(free_info);
  free_info.hPanel = APanel;
  free_info.PanelItem = find.PanelItem;
  free_info.ItemsNumber = find.ItemsNumber;
  APlugin.FreeFindDataW(&free_info);
}

template <class T>
void bind(HMODULE AModule, T& ASlot, const char* AName) {
  ASlot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(AModule, AName)));
  if (!ASlot) {
    std::fprintf(stderr, "Tar.dll lacks %s\n", AName);
    std::exit(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long iterations = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 12345;
  const std::wstring bin = exe_folder();
  HMODULE module = LoadLibraryW((bin + qor::kPluginsFolder + L"\\Tar\\Tar.dll").c_str());
  if (!module) {
    std::fprintf(stderr, "cannot load %ls\\Tar\\Tar.dll\n", qor::kPluginsFolder);
    return 3;
  }
  Plugin p{};
  bind(module, p.AnalyseW, "AnalyseW");
  bind(module, p.OpenW, "OpenW");
  bind(module, p.GetFindDataW, "GetFindDataW");
  bind(module, p.FreeFindDataW, "FreeFindDataW");
  bind(module, p.SetDirectoryW, "SetDirectoryW");
  bind(module, p.GetFilesW, "GetFilesW");
  bind(module, p.ClosePanelW, "ClosePanelW");
  const std::vector<std::string> samples = {read_file(bin + L"sample.tar"), read_file(bin + L"sample-pax.tar")};
  if (samples[0].empty() || samples[1].empty()) {
    std::fprintf(stderr, "sample.tar or sample-pax.tar missing beside the program\n");
    return 3;
  }

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"wexlor-mutate-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  const std::wstring archive = root + L"m.tar", out = root + L"out\\";
  CreateDirectoryW(root.c_str(), nullptr);
  CreateDirectoryW(out.c_str(), nullptr);

  std::mt19937 random(seed);
  Counts counts;
  double slowest = 0;
  for (unsigned long n = 0; n < iterations; ++n) {
    std::string bytes = samples[n % samples.size()];
    // One to four damages: flipped bits in header fields, digits in size fields, a cut, a
    // duplicated or dropped block.
    const int damages = 1 + (int)(random() % 4);
    for (int d = 0; d < damages && !bytes.empty(); ++d) {
      const size_t block = (random() % ((bytes.size() + 511) / 512)) * 512;
      switch (random() % 5) {
        case 0:
          bytes[std::min(bytes.size() - 1, block + random() % 512)] ^= (char)(1u << (random() % 8));
          break;
        case 1: {
          const size_t at = block + 124 + random() % 12;  // the size field
          if (at < bytes.size()) bytes[at] = "0123456789 \x80\xff"[random() % 13];
          break;
        }
        case 2:
          bytes.resize(random() % bytes.size());
          break;
        case 3:
          if (block < bytes.size()) bytes.insert(block, bytes.substr(block, 512));
          break;
        default:
          if (block < bytes.size()) bytes.erase(block, 512);
          break;
      }
    }
    write_file(archive, bytes);
    if (n % 200 == 0) {
      std::printf("mutant %lu (seed %lu)\n", n, seed);
      std::fflush(stdout);
    }
    const auto start = std::chrono::steady_clock::now();
    std::string head = bytes.substr(0, 131072);
    TAnalyseInfo analyse{};
    analyse.StructSize = sizeof(analyse);
    analyse.FileName = archive.c_str();
    analyse.Buffer = head.empty() ? nullptr : head.data();
    analyse.BufferSize = head.size();
    analyse.OpMode = OPM_PGDN;
    TOpenAnalyseInfo open_analyse{sizeof(TOpenAnalyseInfo), &analyse, p.AnalyseW(&analyse)};
    if (open_analyse.Handle) {
      ++counts.accepted;
      TOpenInfo open{};
      open.StructSize = sizeof(open);
      open.OpenFrom = OPEN_ANALYSE;
      open.Data = reinterpret_cast<intptr_t>(&open_analyse);
      HANDLE panel = p.OpenW(&open);
      if (panel) {
        ++counts.opened;
        walk(p, panel, out, counts, 0);
        TClosePanelInfo close{};
        close.StructSize = sizeof(close);
        close.hPanel = panel;
        p.ClosePanelW(&close);
      }
    }
    slowest = std::max(slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    remove_tree(out);
  }
  std::printf("mutants %lu (seed %lu): accepted %llu, opened %llu, entries %llu, extracted %llu, extractions "
              "refused %llu, slowest %.1f ms, no fault\n",
              iterations, seed, counts.accepted, counts.opened, counts.entries, counts.extracted,
              counts.refused_extracts, slowest * 1e3);
  DeleteFileW(archive.c_str());
  RemoveDirectoryW(out.c_str());
  RemoveDirectoryW(root.c_str());
  FreeLibrary(module);
  return 0;
}
