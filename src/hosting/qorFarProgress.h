// Progress and cancel of an extraction as the file manager sees them: the process-data callbacks
// it gave for an archive, the percentage a plugin reports through ACTL_SETPROGRESSVALUE while it
// extracts an entry, and the user's cancel, which the plugin learns from an Esc press in its
// console poll (see qorFarConsoleInput).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "api/qorWcxApi.h"

namespace qor {

// The file manager's process-data callbacks; the Unicode one is used when both are set.
struct TqorProcessDataProcs {
  wcx::tProcessDataProc Ansi = nullptr;
  wcx::tProcessDataProcW Wide = nullptr;
};

// Progress and cancel of one open archive. Once the user cancels, the archive stays cancelled:
// the file manager's operation is over, whatever it asks next.
class TqorArchiveProgress {
 public:
  explicit TqorArchiveProgress(const TqorProcessDataProcs& AProcs) noexcept : FProcs(AProcs) {}
  TqorArchiveProgress(const TqorArchiveProgress&) = delete;
  TqorArchiveProgress& operator=(const TqorArchiveProgress&) = delete;

  void SetProc(wcx::tProcessDataProc AProc) noexcept;
  void SetProcW(wcx::tProcessDataProcW AProc) noexcept;
  bool Cancelled() const noexcept { return FCancelled; }

  // One entry's extraction. ATarget is the name the file manager asked for, AWritten the file the
  // plugin writes, ASize the entry's size.
  void BeginEntry(std::wstring ATarget, std::wstring AWritten, unsigned long long ASize);
  // The plugin's Completed/Total for the entry; the file manager hears only rising percentages.
  void ReportValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept;
  // After the plugin's call with its result (-1 cancelled, 0 failed, other written): a written
  // entry is reported with its name and size; a cancelled one leaves no half-written file behind.
  void EndEntry(intptr_t AResult) noexcept;

 private:
  // Calls the file manager back; false when it answers that the user cancelled.
  bool call_back(int ASize) noexcept;
  void remove_partial_file() noexcept;

  mutable std::mutex FLock;  // the file manager may replace a callback from another thread
  TqorProcessDataProcs FProcs;
  std::atomic<bool> FCancelled{false};
  std::wstring FTarget;
  std::wstring FWritten;
  unsigned long long FSize = 0;
  int FPercent = 0;
  bool FExisted = false;
  FILETIME FWriteTime{};
};

// For the duration of one plugin call, the archive the calling thread works on: the plugin's
// progress reports and console polls on this thread belong to it, never to another thread's.
class TqorProgressScope {
 public:
  explicit TqorProgressScope(TqorArchiveProgress& AProgress) noexcept;
  ~TqorProgressScope();
  TqorProgressScope(const TqorProgressScope&) = delete;
  TqorProgressScope& operator=(const TqorProgressScope&) = delete;

  TqorArchiveProgress& Progress() const noexcept { return FProgress; }

 private:
  friend DWORD CancelKeys(INPUT_RECORD* ABuffer, DWORD ALength, bool ARemove) noexcept;

  TqorArchiveProgress& FProgress;
  TqorProgressScope* FPrevious;
  DWORD FCancelKeysRead = 0;
};

// ACTL_SETPROGRESSVALUE from a plugin on this thread.
void ReportProgressValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept;

// Start-up registers the services' progress receiver that feeds ReportProgressValue; shut-down
// takes it back.
void ProgressStartup() noexcept;
void ProgressShutdown() noexcept;

// The console input the file manager's cancel stands for on this thread: an Esc press (key down,
// key up) until the plugin has read it. Copies up to ALength of the records not yet read into
// ABuffer and returns their number; ARemove marks them read.
DWORD CancelKeys(INPUT_RECORD* ABuffer, DWORD ALength, bool ARemove) noexcept;

}  // namespace qor
