#include "hosting/qorFarProgress.h"

#include <algorithm>
#include <climits>

#include "common/qorText.h"
#include "services/qorFarPanelsW.h"

namespace qor {

namespace {

thread_local TqorProgressScope* TCurrentScope = nullptr;

// Completed/Total as a whole percentage, without overflowing for counters near 2^64.
int percent_of(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept {
  if (ATotal == 0) return 0;
  if (ACompleted >= ATotal) return 100;
  if (ATotal <= UINT64_MAX / 100) return static_cast<int>(ACompleted * 100 / ATotal);
  return static_cast<int>(ACompleted / (ATotal / 100));
}

INPUT_RECORD escape_key(bool ADown) noexcept {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = ADown ? TRUE : FALSE;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualKeyCode = VK_ESCAPE;
  record.Event.KeyEvent.wVirtualScanCode = 1;
  record.Event.KeyEvent.uChar.UnicodeChar = 27;
  return record;
}

}  // namespace

void TqorArchiveProgress::SetProc(wcx::tProcessDataProc AProc) noexcept {
  std::lock_guard<std::mutex> guard(FLock);
  FProcs.Ansi = AProc;
}

void TqorArchiveProgress::SetProcW(wcx::tProcessDataProcW AProc) noexcept {
  std::lock_guard<std::mutex> guard(FLock);
  FProcs.Wide = AProc;
}

void TqorArchiveProgress::BeginEntry(std::wstring AName, unsigned long long ASize) {
  FTarget = std::move(AName);
  FSize = ASize;
  FReported = 0;
  FWhole = false;
  FPercent = 0;
}

void TqorArchiveProgress::BeginWhole(std::wstring AName, unsigned long long ATotal) {
  BeginEntry(std::move(AName), ATotal);
  FWhole = true;
}

void TqorArchiveProgress::ReportValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept {
  const int percent = percent_of(ACompleted, ATotal);
  // A plugin runs several phases, each from 0: the file manager's bar only moves forward.
  if (percent <= FPercent || FCancelled) return;
  FPercent = percent;
  if (!FWhole) {
    if (!call_back(-percent)) FCancelled = true;
    return;
  }
  const unsigned long long done = FSize / 100 * static_cast<unsigned>(percent) + FSize % 100 * static_cast<unsigned>(percent) / 100;
  if (done > FReported) report_bytes(done - FReported);
}

void TqorArchiveProgress::ReportPercents(int AFile, int ATotal) noexcept {
  if (FCancelled) return;
  if (!call_back(-std::clamp(AFile, 1, 100)) || !call_back(-1000 - std::clamp(ATotal, 0, 100))) FCancelled = true;
}

void TqorArchiveProgress::EndEntry() noexcept {
  // A cancel that came while the plugin worked ends the operation; the entry is not reported.
  if (FCancelled) return;
  report_bytes(FSize > FReported ? FSize - FReported : 0);
}

void TqorArchiveProgress::report_bytes(unsigned long long ABytes) noexcept {
  // The callback's size is an int of bytes done since the last call: a bigger count goes in parts.
  // An empty entry is still reported once, with 0.
  unsigned long long left = ABytes;
  do {
    const int part = static_cast<int>(std::min<unsigned long long>(left, INT_MAX));
    left -= static_cast<unsigned long long>(part);
    FReported += static_cast<unsigned long long>(part);
    if (!call_back(part)) FCancelled = true;
  } while (left != 0 && !FCancelled);
}

bool TqorArchiveProgress::call_back(int ASize) noexcept {
  TqorProcessDataProcs procs;
  {
    std::lock_guard<std::mutex> guard(FLock);
    procs = FProcs;
  }
  try {
    if (procs.Wide) {
      std::wstring name = FTarget;
      return procs.Wide(name.data(), ASize) != 0;
    }
    if (procs.Ansi) {
      std::string name = WideToAnsi(FTarget);
      return procs.Ansi(name.data(), ASize) != 0;
    }
  } catch (...) {
    // A name that cannot be converted costs one report, not the extraction.
  }
  return true;
}

TqorProgressScope::TqorProgressScope(TqorArchiveProgress& AProgress) noexcept
    : FProgress(AProgress), FPrevious(TCurrentScope) {
  TCurrentScope = this;
}

TqorProgressScope::~TqorProgressScope() { TCurrentScope = FPrevious; }

void ReportProgressValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept {
  if (TCurrentScope) TCurrentScope->Progress().ReportValue(ACompleted, ATotal);
}

namespace {

// The plugin's values go to the archive its calling thread extracts from.
class thread_progress_receiver final : public IqorProgressReceiver {
 public:
  void ProgressValue(std::uint64_t ACompleted, std::uint64_t ATotal) noexcept override {
    ReportProgressValue(ACompleted, ATotal);
  }
  bool Cancelling() const noexcept override { return TCurrentScope && TCurrentScope->Progress().Cancelled(); }
};

thread_progress_receiver GThreadProgressReceiver;

}  // namespace

void ProgressStartup() noexcept { SetProgressReceiver(&GThreadProgressReceiver); }

void ProgressShutdown() noexcept { SetProgressReceiver(nullptr); }

DWORD CancelKeys(INPUT_RECORD* ABuffer, DWORD ALength, bool ARemove) noexcept {
  TqorProgressScope* scope = TCurrentScope;
  if (!scope || !scope->Progress().Cancelled()) return 0;
  constexpr DWORD kKeys = 2;
  const DWORD count = std::min(ALength, kKeys - std::min(scope->FCancelKeysRead, kKeys));
  for (DWORD i = 0; i < count; ++i) ABuffer[i] = escape_key(scope->FCancelKeysRead + i == 0);
  if (ARemove) scope->FCancelKeysRead += count;
  return count;
}

}  // namespace qor
