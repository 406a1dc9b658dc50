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

  // One entry's extraction. AName is the name the file manager hears (its target), ASize the
  // entry's size.
  void BeginEntry(std::wstring AName, unsigned long long ASize);
  // The plugin's Completed/Total for the entry; the file manager hears only rising percentages.
  void ReportValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept;
  // The entry is in place: the file manager hears its name and size. What a cancelled or failed
  // entry leaves lies in the staging folder, which goes with the cancel.
  void EndEntry() noexcept;
  // A whole packing call of ATotal bytes under the name AName: the plugin's percentages of its job
  // reach the file manager as the bytes they stand for, and EndEntry() reports what is left.
  void BeginWhole(std::wstring AName, unsigned long long ATotal);
  // A step of a call that counts no bytes (deleting): AFile and ATotal percent, in both of the
  // callback's negative forms.
  void ReportPercents(int AFile, int ATotal) noexcept;

 private:
  // Calls the file manager back; false when it answers that the user cancelled.
  bool call_back(int ASize) noexcept;
  // ABytes more done, in parts that fit the callback's int.
  void report_bytes(unsigned long long ABytes) noexcept;

  mutable std::mutex FLock;  // the file manager may replace a callback from another thread
  TqorProcessDataProcs FProcs;
  std::atomic<bool> FCancelled{false};
  std::wstring FTarget;
  unsigned long long FSize = 0;
  unsigned long long FReported = 0;  // bytes of FSize the file manager has heard of
  bool FWhole = false;
  int FPercent = 0;
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
