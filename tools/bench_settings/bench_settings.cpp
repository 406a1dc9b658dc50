// What a plugin's settings object costs now that it is kept in the settings file, with a plugin
// tree of 200 values in a file that holds 20 such plugins:
//   - an object that only reads (SCTL_CREATE, five gets, SCTL_FREE), next to the one file-system
//     call every create makes to see whether another process replaced the file;
//   - an object that changes one value (its SCTL_FREE writes the file under the lock), next to
//     writing the same bytes through a temporary file and a replacement with nothing else.
//   bench_settings [rounds, default 5]: the best round of each is shown.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "services/qorFarSettingsFile.h"
#include "services/qorFarSettingsStore.h"
#include "services/qorFarSettingsW.h"

using namespace qor;
using clock_type = std::chrono::steady_clock;

namespace {

GUID plugin(int ANumber) { return GUID{0x5758F1A0, 0xBE4C, 0x0001, {0, 0, 0, 0, 0, 0, 0, static_cast<unsigned char>(ANumber)}}; }

HANDLE create(const GUID& AGuid) {
  TFarSettingsCreate record{sizeof(record), AGuid, INVALID_HANDLE_VALUE};
  return FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, PSL_ROAMING, &record) ? record.Handle : nullptr;
}

void set(HANDLE AHandle, const std::wstring& AName, unsigned long long ANumber) {
  TFarSettingsItem item{sizeof(item), 0, AName.c_str(), FST_QWORD, {}};
  item.Number = ANumber;
  FarApiSettingsControl(AHandle, SCTL_SET, 0, &item);
}

void get(HANDLE AHandle, const std::wstring& AName) {
  TFarSettingsItem item{sizeof(item), 0, AName.c_str(), FST_QWORD, {}};
  FarApiSettingsControl(AHandle, SCTL_GET, 0, &item);
}

template <class F>
double best_microseconds(int ARounds, int ACalls, F ACall) {
  double best = 1e30;
  for (int round = 0; round < ARounds; ++round) {
    const auto start = clock_type::now();
    for (int i = 0; i < ACalls; ++i) ACall(i);
    const double us = std::chrono::duration<double, std::micro>(clock_type::now() - start).count() / ACalls;
    if (us < best) best = us;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"bench_settings_" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  SetSettingsFolder(folder + L"wincmd.ini");
  for (int p = 0; p < 20; ++p) {
    HANDLE h = create(plugin(p));
    for (int v = 0; v < 200; ++v) set(h, L"Value" + std::to_wstring(v), static_cast<unsigned long long>(v) * 977);
    FarApiSettingsControl(h, SCTL_FREE, 0, nullptr);
  }
  const std::wstring file = SettingsFileName();

  const double read = best_microseconds(rounds, 2000, [](int) {
    HANDLE h = create(plugin(3));
    for (int v = 0; v < 5; ++v) get(h, L"Value" + std::to_wstring(v));
    FarApiSettingsControl(h, SCTL_FREE, 0, nullptr);
  });
  const double stamp = best_microseconds(rounds, 2000, [&](int) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
  });
  const double write = best_microseconds(rounds, 100, [](int AIndex) {
    HANDLE h = create(plugin(3));
    set(h, L"Counter", static_cast<unsigned long long>(AIndex));
    FarApiSettingsControl(h, SCTL_FREE, 0, nullptr);
  });
  TqorSettingsDocument document;
  TqorSettingsStamp ignored;
  ReadSettingsFile(file, false, document, ignored);
  const std::string text = FormatSettings(document);
  const std::wstring bare = folder + L"bare.txt";
  const double replace = best_microseconds(rounds, 100, [&](int) {
    const std::wstring temporary = bare + L".tmp";
    HANDLE out = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(out);
    CloseHandle(out);
    MoveFileExW(temporary.c_str(), bare.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  });

  std::printf("settings file: %zu bytes, 20 plugins of 200 values\n", text.size());
  std::printf("read-only object (create, 5 gets, free): %8.1f us   the replacement check alone: %6.1f us   ratio %5.1f\n",
              read, stamp, read / stamp);
  std::printf("object changing one value (write at free): %8.1f us   temporary file + replace alone: %6.1f us   ratio %5.1f\n",
              write, replace, write / replace);
  DeleteFileW(bare.c_str());
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
  return 0;
}
