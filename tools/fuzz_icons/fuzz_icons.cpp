// Mutation loop over .ico/.cur files: every mutant goes through the icon reader, which must give
// an icon or 0 and never crash, leak GDI/USER objects or allocate beyond the file's size.
//   fuzz_icons [iterations] [seed]
// A mutant that crashes the process is written to fuzz_icons_crash.ico beside the program.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "icon_builders.h"
#include "ui/qorShellBaseExtension.h"

using namespace icons;
namespace sbe = qor::ShellBaseExtension;

namespace {

bytes GCurrent;
std::wstring GCrashPath;

LONG WINAPI save_crash(EXCEPTION_POINTERS* AInfo) {
  std::fprintf(stderr, "crash 0x%08lX: mutant saved\n", AInfo->ExceptionRecord->ExceptionCode);
  write_file(GCrashPath, GCurrent);
  return EXCEPTION_EXECUTE_HANDLER;
}

std::vector<bytes> seeds() {
  std::vector<bytes> result;
  result.push_back(multi_ico());
  bytes cursor = multi_ico();
  cursor[2] = 2;
  result.push_back(cursor);
  std::vector<ico_entry> depths;
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    dib_image image;
    image.Width = image.Height = 16;
    image.BitCount = bits;
    image.Palette = {0, argb(0, 200, 10, 10), argb(0, 10, 200, 10)};
    image.Pixel = [bits](int x, int y) -> uint32_t { return bits <= 8 ? (x + y) % 2 : argb(255, x * 16, y * 16, 77); };
    image.Transparent = [](int x, int y) { return x < y; };
    depths.push_back({16, 16, bits, make_dib(image)});
  }
  result.push_back(make_ico(depths));
  result.push_back(make_ico({{0, 0, 32, make_png_rgba(64, 64, [](int x, int y) { return quadrant_pixel(x, y, 64); })},
                             {16, 16, 32, make_dib(sized_image(16))}}));
  return result;
}

uint32_t extreme(std::mt19937& ARandom, size_t AFileSize) {
  const uint32_t values[] = {0, 1, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFF, 0x10000,
                             static_cast<uint32_t>(AFileSize), static_cast<uint32_t>(AFileSize - 1),
                             static_cast<uint32_t>(AFileSize + 1), 256, 4000};
  return values[ARandom() % (sizeof(values) / sizeof(values[0]))];
}

void mutate(bytes& AData, std::mt19937& ARandom) {
  const int rounds = 1 + static_cast<int>(ARandom() % 4);
  for (int r = 0; r < rounds && !AData.empty(); ++r) {
    const size_t at = ARandom() % AData.size();
    switch (ARandom() % 6) {
      case 0:  // flip bits
        AData[at] ^= static_cast<uint8_t>(1u << (ARandom() % 8));
        break;
      case 1:  // random byte
        AData[at] = static_cast<uint8_t>(ARandom());
        break;
      case 2:  // an extreme 32-bit field, mostly inside the headers where sizes and offsets live
        if (AData.size() >= 4) {
          const size_t field = (ARandom() % 2 ? ARandom() % std::min<size_t>(AData.size(), 140) : at) & ~size_t{1};
          const uint32_t v = extreme(ARandom, AData.size());
          for (size_t i = 0; i < 4 && field + i < AData.size(); ++i) AData[field + i] = static_cast<uint8_t>(v >> (8 * i));
        }
        break;
      case 3:  // truncate
        AData.resize(at);
        break;
      case 4:  // a 16-bit field: counts, bit counts
        AData[at] = static_cast<uint8_t>(ARandom() % 2 ? 0xFF : ARandom() % 40);
        break;
      default: {  // repeat a slice
        const size_t length = std::min<size_t>(ARandom() % 64 + 1, AData.size() - at);
        AData.insert(AData.begin() + static_cast<ptrdiff_t>(ARandom() % AData.size()), AData.begin() + at,
                     AData.begin() + at + length);
        break;
      }
    }
  }
}

SIZE_T private_bytes() {
  MEMORY_BASIC_INFORMATION info;
  SIZE_T total = 0;
  for (const char* p = nullptr; ::VirtualQuery(p, &info, sizeof(info)) == sizeof(info);
       p = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
    if (reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize < reinterpret_cast<uintptr_t>(info.BaseAddress)) break;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 5489u;
  wchar_t module[MAX_PATH];
  std::wstring dir(module, ::GetModuleFileNameW(nullptr, module, MAX_PATH));
  dir.erase(dir.find_last_of(L'\\'));
  GCrashPath = dir + L"\\fuzz_icons_crash.ico";
  const std::wstring file = dir + L"\\fuzz_icons_current.ico";
  ::SetUnhandledExceptionFilter(save_crash);

  const std::vector<bytes> bases = seeds();
  std::mt19937 random(seed);
  const int sizes[] = {16, 32, 48, 24, 0};
  long loaded = 0, zero = 0, through_file = 0;
  SIZE_T peak_private = 0;
  const DWORD gdi_before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD user_before = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  const SIZE_T private_before = private_bytes();
  const ULONGLONG start = ::GetTickCount64();
  for (long i = 0; i < iterations; ++i) {
    GCurrent = bases[random() % bases.size()];
    mutate(GCurrent, random);
    const int size = sizes[random() % 5];
    HICON icon = nullptr;
    if (i % 25 == 0) {
      // The whole road, through a file on disk and the retry as a module.
      write_file(file, GCurrent);
      icon = sbe::LoadIconFromLocation(file + L",1", size, size, 32);
      ++through_file;
    } else {
      sbe::TMyMemoryStream stream(GCurrent.data(), GCurrent.size());
      try {
        icon = sbe::LoadIconFromIcoStream(stream, size, size, random() % 2 ? 32 : 8);
      } catch (const qor::EqorError&) {
        icon = nullptr;
      }
    }
    if (icon) {
      ++loaded;
      ::DestroyIcon(icon);
    } else {
      ++zero;
    }
    if (i % 500 == 0) peak_private = std::max(peak_private, private_bytes());
  }
  const double seconds = static_cast<double>(::GetTickCount64() - start) / 1000.0;
  peak_private = std::max(peak_private, private_bytes());
  ::DeleteFileW(file.c_str());
  std::printf("iterations        %ld (seed %u, %ld through files)\n", iterations, seed, through_file);
  std::printf("icons loaded      %ld\n", loaded);
  std::printf("zero results      %ld\n", zero);
  std::printf("crashes           0\n");
  std::printf("time              %.1f s (%.0f per second)\n", seconds, static_cast<double>(iterations) / seconds);
  const DWORD gdi_after = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD user_after = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  if (gdi_before == 0 && gdi_after == 0)
    std::printf("GDI/USER objects  not counted by this system\n");
  else
    std::printf("GDI/USER objects  %lu/%lu before, %lu/%lu after\n", gdi_before, user_before, gdi_after, user_after);
  std::printf("private committed %.1f MiB before, %.1f MiB peak (sampled)\n", private_before / 1048576.0,
              peak_private / 1048576.0);
  return 0;
}
