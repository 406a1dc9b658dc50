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
  bool try_lock() noexcept { return ::TryEnterCriticalSection(&FSection) != FALSE; }
  void unlock() noexcept { ::LeaveCriticalSection(&FSection); }

 private:
  CRITICAL_SECTION FSection;
};

// A slim reader/writer lock: readers share it, so that lookups on several threads do not queue.
class srw_lock {
 public:
  srw_lock() noexcept = default;
  srw_lock(const srw_lock&) = delete;
  srw_lock& operator=(const srw_lock&) = delete;
  void lock() noexcept { ::AcquireSRWLockExclusive(&FLock); }
  void unlock() noexcept { ::ReleaseSRWLockExclusive(&FLock); }
  void lock_shared() noexcept { ::AcquireSRWLockShared(&FLock); }
  void unlock_shared() noexcept { ::ReleaseSRWLockShared(&FLock); }

 private:
  SRWLOCK FLock = SRWLOCK_INIT;
};

// Holds a reader/writer lock shared for its scope.
template <class Lock>
class shared_guard {
 public:
  explicit shared_guard(Lock& ALock) noexcept : FLock(ALock) { FLock.lock_shared(); }
  ~shared_guard() { FLock.unlock_shared(); }
  shared_guard(const shared_guard&) = delete;
  shared_guard& operator=(const shared_guard&) = delete;

 private:
  Lock& FLock;
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

// Takes the lock only when it is free at once.
template <class Lock>
class try_lock_guard {
 public:
  explicit try_lock_guard(Lock& ALock) noexcept : FLock(ALock), FOwns(ALock.try_lock()) {}
  ~try_lock_guard() {
    if (FOwns) FLock.unlock();
  }
  try_lock_guard(const try_lock_guard&) = delete;
  try_lock_guard& operator=(const try_lock_guard&) = delete;
  bool Owns() const noexcept { return FOwns; }

 private:
  Lock& FLock;
  bool FOwns;
};

}  // namespace qor
