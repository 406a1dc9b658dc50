// Mutation loop for export-name reading: mutates real PE files of the build (header fields,
// export directory and name table, byte flips, truncations), runs ReadExportNames on each mutant
// under the plugin guard and counts what happened. Any hardware fault is a crash and fails the run.
//
//   fuzz_exports [count] [seed] [file...]     defaults: 20000 mutants, seed 1, fuzz_corpus\*
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/qorErrors.h"
#include "common/qorPluginGuard.h"
#include "hosting/qorFarExportNames.h"

namespace {
std::atomic<size_t> GLargest{0};
}

void* operator new(size_t ASize) {
  size_t seen = GLargest.load();
  while (ASize > seen && !GLargest.compare_exchange_weak(seen, ASize)) {
  }
  if (void* p = std::malloc(ASize ? ASize : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t ASize) { return operator new(ASize); }
void operator delete(void* APointer) noexcept { std::free(APointer); }
void operator delete[](void* APointer) noexcept { std::free(APointer); }
void operator delete(void* APointer, size_t) noexcept { std::free(APointer); }
void operator delete[](void* APointer, size_t) noexcept { std::free(APointer); }

namespace {

std::wstring exe_folder() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::string read_all(const std::wstring& APath) {
  std::ifstream in(APath.c_str(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_all(const std::wstring& APath, const char* AData, size_t ASize) {
  HANDLE f = CreateFileW(APath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                         0, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot write %ls\n", APath.c_str());
    std::exit(2);
  }
  DWORD written = 0;
  if (ASize) WriteFile(f, AData, (DWORD)ASize, &written, nullptr);
  CloseHandle(f);
}

DWORD get32(const std::string& ABytes, size_t AOffset) {
  DWORD v = 0;
  if (AOffset + 4 <= ABytes.size()) std::memcpy(&v, &ABytes[AOffset], 4);
  return v;
}
WORD get16(const std::string& ABytes, size_t AOffset) {
  WORD v = 0;
  if (AOffset + 2 <= ABytes.size()) std::memcpy(&v, &ABytes[AOffset], 2);
  return v;
}

// A seed file with the offsets of the fields worth breaking.
struct Seed {
  std::wstring name;
  std::string bytes;
  std::vector<std::pair<size_t, int>> fields;  // offset, width 2 or 4
  size_t export_start = 0, export_end = 0;     // file range of directory, arrays and names
};

size_t rva_to_offset(const std::string& ABytes, size_t ASections, int ACount, DWORD ARva) {
  for (int i = 0; i < ACount; ++i) {
    const size_t s = ASections + i * 40;
    const DWORD va = get32(ABytes, s + 12), raw = get32(ABytes, s + 16), ptr = get32(ABytes, s + 20);
    if (va <= ARva && ARva - va < raw) return ARva - va + ptr;
  }
  return 0;
}

Seed analyse_seed(const std::wstring& APath) {
  Seed seed;
  seed.name = APath.substr(APath.find_last_of(L'\\') + 1);
  seed.bytes = read_all(APath);
  const std::string& b = seed.bytes;
  auto field = [&](size_t AOffset, int AWidth) { seed.fields.emplace_back(AOffset, AWidth); };
  const size_t lfanew = get32(b, 60);
  const size_t fh = lfanew + 4, oh = fh + 20;
  const int sections = get16(b, fh + 2);
  const bool is64 = get16(b, fh) == 0x8664;
  const size_t section_table = oh + get16(b, fh + 16);
  const size_t export_entry = oh + (is64 ? 112 : 96);
  field(60, 4);
  field(lfanew, 4);
  field(fh, 2);
  field(fh + 2, 2);
  field(fh + 16, 2);
  field(fh + 18, 2);
  field(export_entry, 4);
  field(export_entry + 4, 4);
  for (int i = 0; i < sections; ++i) {
    field(section_table + i * 40 + 12, 4);
    field(section_table + i * 40 + 16, 4);
    field(section_table + i * 40 + 20, 4);
  }
  const size_t dir = rva_to_offset(b, section_table, sections, get32(b, export_entry));
  if (dir) {
    for (size_t o = 12; o < 40; o += 4) field(dir + o, 4);
    const DWORD count = get32(b, dir + 24);
    const size_t names = rva_to_offset(b, section_table, sections, get32(b, dir + 32));
    for (DWORD i = 0; names && i < count; ++i) field(names + i * 4, 4);
    seed.export_start = dir;
    seed.export_end = std::min<size_t>(b.size(), dir + get32(b, export_entry + 4) + 64);
  }
  return seed;
}

struct Mutant {
  std::vector<std::pair<size_t, std::string>> patches;
  size_t length = 0;  // less than the seed's size: truncated
};

class Mutator {
 public:
  explicit Mutator(unsigned ASeed) : FRandom(ASeed) {}

  Mutant make(const Seed& ASeed) {
    Mutant m;
    m.length = ASeed.bytes.size();
    const int steps = pick(100) < 20 ? 2 + pick(3) : 1;
    for (int i = 0; i < steps; ++i) {
      const unsigned kind = pick(100);
      if (kind < 40)
        overwrite_field(ASeed, m);
      else if (kind < 65)
        flip_near(ASeed, m);
      else if (kind < 80)
        flip_anywhere(ASeed, m);
      else
        truncate(ASeed, m);
    }
    return m;
  }

 private:
  unsigned pick(unsigned AUpTo) { return AUpTo ? FRandom() % AUpTo : 0; }

  DWORD interesting(DWORD AOriginal, size_t AFileSize) {
    static const DWORD values[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000,
                                   0xFFFFFFFF, 0xFFFFFFFE, 0x3FFFFFFF, 0x40000000, 224, 240, 232, 0x14C, 0x8664,
                                   0x2000, 0x2102};
    switch (pick(5)) {
      case 0: return values[pick(sizeof(values) / sizeof(values[0]))];
      case 1: return AOriginal + pick(64) - 32;
      case 2: return (DWORD)AFileSize + pick(64) - 32;
      case 3: return AOriginal ^ (1u << pick(32));
      default: return (DWORD)FRandom();
    }
  }

  void overwrite_field(const Seed& ASeed, Mutant& AM) {
    if (ASeed.fields.empty()) return;
    const auto& [offset, width] = ASeed.fields[pick((unsigned)ASeed.fields.size())];
    const DWORD value = interesting(get32(ASeed.bytes, offset), ASeed.bytes.size());
    AM.patches.emplace_back(offset, std::string(reinterpret_cast<const char*>(&value), width));
  }

  void flip_range(Mutant& AM, size_t AStart, size_t AEnd) {
    if (AEnd <= AStart) return;
    const int count = 1 + pick(8);
    for (int i = 0; i < count; ++i) {
      const size_t offset = AStart + pick((unsigned)(AEnd - AStart));
      AM.patches.emplace_back(offset, std::string(1, (char)FRandom()));
    }
  }

  void flip_near(const Seed& ASeed, Mutant& AM) {
    if (pick(2) || !ASeed.export_end)
      flip_range(AM, 0, std::min<size_t>(ASeed.bytes.size(), 4096));
    else
      flip_range(AM, ASeed.export_start, ASeed.export_end);
  }

  void flip_anywhere(const Seed& ASeed, Mutant& AM) { flip_range(AM, 0, ASeed.bytes.size()); }

  void truncate(const Seed& ASeed, Mutant& AM) {
    size_t cut;
    switch (pick(3)) {
      case 0: cut = pick(1024); break;
      case 1: cut = ASeed.export_end ? ASeed.export_start + pick((unsigned)(ASeed.export_end - ASeed.export_start + 1))
                                     : pick(4096);
        break;
      default: cut = pick((unsigned)ASeed.bytes.size()); break;
    }
    AM.length = std::min(AM.length, cut);
  }

  std::mt19937 FRandom;
};

enum Outcome { Accepted, Rejected193, RejectedRva, RejectedRead, RejectedOther, OutOfMemory, Crashed, kOutcomes };
const char* const kOutcomeNames[] = {"accepted", "rejected, error 193", "rejected, RVA not found",
                                     "rejected, stream read error", "rejected, other error", "out of memory",
                                     "CRASHED (hardware fault)"};

struct Run {
  const std::wstring* file;
  bool with_list;
  Outcome outcome;
  size_t names;
};

Outcome classify(const qor::EqorError& AError) {
  if (AError.Code() == ERROR_BAD_EXE_FORMAT) return Rejected193;
  if (AError.Message() == L"RVA not found") return RejectedRva;
  if (AError.Message() == L"Stream read error") return RejectedRead;
  return RejectedOther;
}

void run_once(void* AContext) noexcept {
  auto& run = *static_cast<Run*>(AContext);
  std::vector<std::wstring> names;
  bool is64 = false;
  try {
    qor::ReadExportNames(*run.file, is64, run.with_list ? &names : nullptr);
    run.outcome = Accepted;
  } catch (const qor::EqorError& e) {
    run.outcome = classify(e);
  } catch (const std::bad_alloc&) {
    run.outcome = OutOfMemory;
  } catch (...) {
    run.outcome = RejectedOther;
  }
  run.names = names.size();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int count = argc > 1 ? _wtoi(argv[1]) : 20000;
  const unsigned seed_value = argc > 2 ? (unsigned)_wtoi(argv[2]) : 1;
  std::vector<std::wstring> files;
  for (int i = 3; i < argc; ++i) files.push_back(argv[i]);
  if (files.empty()) {
    const std::wstring corpus = exe_folder() + L"fuzz_corpus\\";
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((corpus + L"*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(corpus + data.cFileName);
      while (FindNextFileW(find, &data));
      FindClose(find);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "no input files\n");
    return 2;
  }

  std::vector<Seed> seeds;
  for (const auto& f : files) {
    seeds.push_back(analyse_seed(f));
    std::printf("seed %ls: %zu bytes, %zu fields, export data at 0x%zx..0x%zx\n", seeds.back().name.c_str(),
                seeds.back().bytes.size(), seeds.back().fields.size(), seeds.back().export_start,
                seeds.back().export_end);
  }

  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring target = std::wstring(temp) + L"wexlor-fuzz-" + std::to_wstring(GetCurrentProcessId()) + L".dll";

  Mutator mutator(seed_value);
  long long outcomes[2][kOutcomes] = {};
  size_t largest = 0;
  double slowest_ms = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const Seed& seed = seeds[i % seeds.size()];
    const Mutant m = mutator.make(seed);
    std::string bytes = seed.bytes;
    for (const auto& [offset, patch] : m.patches)
      if (offset < bytes.size()) bytes.replace(offset, std::min(patch.size(), bytes.size() - offset), patch);
    write_all(target, bytes.data(), m.length);
    for (int with_list = 0; with_list < 2; ++with_list) {
      Run run{&target, with_list != 0, Crashed, 0};
      GLargest = 0;
      const auto t0 = std::chrono::steady_clock::now();
      if (qor::RunGuarded(run_once, &run) != 0) run.outcome = Crashed;
      const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
      slowest_ms = std::max(slowest_ms, ms);
      largest = std::max<size_t>(largest, GLargest);
      ++outcomes[with_list][run.outcome];
      if (run.outcome == Crashed) std::printf("crash: mutant %d of %ls\n", i, seed.name.c_str());
    }
  }
  DeleteFileW(target.c_str());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("\n%d mutants (seed %u), each read with and without a name list, in %.1f s\n", count, seed_value,
              seconds);
  std::printf("%-32s %10s %10s\n", "outcome", "with list", "no list");
  for (int o = 0; o < kOutcomes; ++o)
    std::printf("%-32s %10lld %10lld\n", kOutcomeNames[o], outcomes[1][o], outcomes[0][o]);
  std::printf("largest single allocation: %zu bytes; slowest read: %.2f ms\n", largest, slowest_ms);
  const long long crashes = outcomes[0][Crashed] + outcomes[1][Crashed];
  const long long oom = outcomes[0][OutOfMemory] + outcomes[1][OutOfMemory];
  std::printf("crashes: %lld\n", crashes);
  return crashes == 0 && oom == 0 ? 0 : 1;
}
