// The owner tag of the module's working files: process id, start time and a count.
#include "common/qorOwnedNames.h"

#include <windows.h>

#include <atomic>
#include <cwchar>

#include "common/qorHandles.h"

namespace qor {
namespace {

std::atomic<unsigned> GOwnedCount{0};

// The start time tells a process that has ended from a running one that got its id since.
unsigned long process_start(HANDLE AProcess) noexcept {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!::GetProcessTimes(AProcess, &created, &exited, &kernel, &user)) return 0;
  return created.dwLowDateTime;
}

}  // namespace

std::wstring OwnedName(const wchar_t* APrefix) {
  static const unsigned long start = process_start(::GetCurrentProcess());
  wchar_t tag[64];
  std::swprintf(tag, 64, L"%lx-%lx-%x", static_cast<unsigned long>(::GetCurrentProcessId()), start,
                GOwnedCount.fetch_add(1));
  return std::wstring(APrefix) + tag;
}

bool OwnerGone(const std::wstring& AName, const wchar_t* APrefix, size_t* AEnd) noexcept {
  const size_t prefix = std::wcslen(APrefix);
  unsigned long pid = 0, start = 0;
  unsigned count = 0;
  int used = 0;
  if (AName.compare(0, prefix, APrefix) != 0 ||
      std::swscanf(AName.c_str() + prefix, L"%lx-%lx-%x%n", &pid, &start, &count, &used) != 3)
    return false;
  if (AEnd) *AEnd = prefix + static_cast<size_t>(used);
  if (pid == ::GetCurrentProcessId()) return false;
  unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) process.reset(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  if (::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) return true;
  const unsigned long running = process_start(process.get());
  return running != 0 && running != start;
}

}  // namespace qor
