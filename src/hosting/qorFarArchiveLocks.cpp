// The archives being changed, as named kernel mutexes. The key is the folder's final path, not the
// archive's file id: plugins replace the archive with a new file at every change, so its id
// changes while the lock is held.
#include "hosting/qorFarArchiveLocks.h"

#include <cwchar>

#include "common/qorErrors.h"
#include "common/qorFileIdentity.h"
#include "common/qorText.h"
#include "hosting/qorFarStaging.h"
#include "services/qorFarCurrentFolder.h"

namespace qor {
namespace {

// FNV-1a over the key: kernel object names are short and hold no backslash.
unsigned long long hash_of(const std::wstring& AKey) noexcept {
  unsigned long long hash = 14695981039346656037ull;
  for (wchar_t c : AKey) {
    hash ^= static_cast<unsigned short>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

std::wstring ArchiveLockKey(const std::wstring& AArchive) {
  const std::wstring full = FarFullPath(AArchive);
  const size_t cut = full.find_last_of(L'\\');
  if (cut == std::wstring::npos) return FoldedName(full);
  unique_handle folder(OpenNoFollow(ExtendedPath(full.substr(0, cut + 1)), FILE_READ_ATTRIBUTES));
  std::wstring resolved = folder.get() != INVALID_HANDLE_VALUE ? FinalPathOf(folder.get()) : std::wstring();
  if (resolved.empty()) resolved = ExtendedPath(full.substr(0, cut));
  while (!resolved.empty() && resolved.back() == L'\\') resolved.pop_back();
  return FoldedName(resolved + L"\\" + full.substr(cut + 1));
}

TqorArchiveChangeLock::TqorArchiveChangeLock(const std::wstring& AArchive) {
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\Wexlor.Change.%016llx", hash_of(ArchiveLockKey(AArchive)));
  FMutex.reset(::CreateMutexW(nullptr, FALSE, name));
  if (!FMutex) RaiseOSError(::GetLastError());
  const DWORD waited = ::WaitForSingleObject(FMutex.get(), INFINITE);
  // An abandoned lock is free: its holder died, and the plugin it ran wrote only whole archives.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) RaiseOSError(::GetLastError());
  FOwned = true;
}

TqorArchiveChangeLock::~TqorArchiveChangeLock() {
  if (FOwned) ::ReleaseMutex(FMutex.get());
}

}  // namespace qor
