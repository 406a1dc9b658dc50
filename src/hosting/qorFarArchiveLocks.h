// One change at a time to each archive in this process: packing and deleting on the same archive
// wait for each other. Archives are told apart by full path, without regard to case.
#pragma once

#include <string>

namespace qor {

// Held for the length of one change; waits while another thread changes the same archive.
class TqorArchiveChangeLock {
 public:
  explicit TqorArchiveChangeLock(const std::wstring& AArchive);
  ~TqorArchiveChangeLock();
  TqorArchiveChangeLock(const TqorArchiveChangeLock&) = delete;
  TqorArchiveChangeLock& operator=(const TqorArchiveChangeLock&) = delete;

 private:
  std::wstring FKey;
};

}  // namespace qor
