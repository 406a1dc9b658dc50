// Which file a handle stands for, told apart from any other file by volume and file index and
// from its own earlier self by its change time; and the calls on an open handle that say where
// it really lies and delete it without a path. Newer kernel functions are looked up at run time.
#pragma once

#include <windows.h>

#include <string>

namespace qor {

struct TqorFileIdentity {
  DWORD Volume = 0;
  unsigned long long Index = 0;
  long long ChangeTime = 0;  // 0 where the system does not tell it
  FILETIME WriteTime{};
  unsigned long long Size = 0;
  DWORD Attributes = 0;
  DWORD Links = 0;

  bool SameFile(const TqorFileIdentity& AOther) const noexcept {
    return Volume == AOther.Volume && Index == AOther.Index;
  }
  // The same file, not changed since AOther was read.
  bool Unchanged(const TqorFileIdentity& AOther) const noexcept {
    return SameFile(AOther) && ChangeTime == AOther.ChangeTime && Size == AOther.Size &&
           ::CompareFileTime(&WriteTime, &AOther.WriteTime) == 0;
  }
};

// Opens APath (extended-length) itself, never what a link there points to, with AAccess and every
// sharing; INVALID_HANDLE_VALUE when it cannot.
HANDLE OpenNoFollow(const std::wstring& APath, DWORD AAccess) noexcept;

bool ReadFileIdentity(HANDLE AFile, TqorFileIdentity& AIdentity) noexcept;
// The path the system resolves for an open file or folder ("\\?\C:\...", "\\?\UNC\..."); empty
// when it cannot tell.
std::wstring FinalPathOf(HANDLE AFile);
// Deletes the open file or empty folder when its last handle closes; false when it cannot (a
// folder that is not empty, a read-only file).
bool DeleteOnClose(HANDLE AFile) noexcept;
// As DeleteOnClose, for a read-only file, without lifting its mark (which other names of the file
// share); false where the system cannot (before Windows 10 1809).
bool DeleteOnCloseIgnoringReadOnly(HANDLE AFile) noexcept;
// Sets the attributes of the open file; false when it cannot.
bool SetAttributesOf(HANDLE AFile, DWORD AAttributes) noexcept;

}  // namespace qor
