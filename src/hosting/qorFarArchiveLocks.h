// One change at a time to each archive, across threads and processes: packing and deleting on the
// same archive wait for each other, whichever file manager window or tool asks. Archives are told
// apart by where their folder really lies (8.3 names, "\\?\" forms and mapped drives lead to one
// lock) and their name, without regard to case. Calls the system and the current folder only.
#pragma once

#include <windows.h>

#include <string>

#include "common/qorHandles.h"

namespace qor {

// Held for the length of one change; waits while another thread or process changes the same
// archive. A holder that died leaves the lock free.
class TqorArchiveChangeLock {
 public:
  explicit TqorArchiveChangeLock(const std::wstring& AArchive);
  ~TqorArchiveChangeLock();
  TqorArchiveChangeLock(const TqorArchiveChangeLock&) = delete;
  TqorArchiveChangeLock& operator=(const TqorArchiveChangeLock&) = delete;

 private:
  unique_handle FMutex;
  bool FOwned = false;
};

// The key the lock is named after: the archive's folder as the system resolves it, and its name,
// folded.
std::wstring ArchiveLockKey(const std::wstring& AArchive);

}  // namespace qor
