// Locks as classes, taken by scoped guards only.
#pragma once

#include <windows.h>

namespace qor {

class critical_section {
 public:
  critical_section() noexcept { ::InitializeCriticalSection(&FSection); }
  ~critical_section() { ::DeleteCriticalSection(&FSection); }
  critical_section(const critical_section&) = delete;
  critical_section& operator=(const critical_section&) = delete;
  void lock() noexcept { ::EnterCriticalSection(&FSection); }
  bool try_lock() noexcept { return ::TryEnterCriticalSection(&FSection) != 0; }
  void unlock() noexcept { ::LeaveCriticalSection(&FSection); }

 private:
  CRITICAL_SECTION FSection;
};

template <class Lock>
class lock_guard {
 public:
  explicit lock_guard(Lock& ALock) noexcept : FLock(ALock) { FLock.lock(); }
  ~lock_guard() { FLock.unlock(); }
  lock_guard(const lock_guard&) = delete;
  lock_guard& operator=(const lock_guard&) = delete;

 private:
  Lock& FLock;
};

}  // namespace qor
