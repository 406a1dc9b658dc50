#include "hosting/qorFarStaging.h"

#include <atomic>
#include <cwchar>

#include "common/qorErrors.h"
#include "common/qorHandles.h"

namespace qor {
namespace {

// Process id and a process-wide count make the name unique among running processes; one left by
// a process that ended without cleaning up only moves the count on.
std::atomic<unsigned> GStagingCount{0};

std::wstring full_path(const std::wstring& APath) {
  if (APath.empty()) return {};
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetFullPathNameW(APath.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return {};
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
}

std::wstring with_backslash(std::wstring APath) {
  if (!APath.empty() && APath.back() != L'\\' && APath.back() != L'/') APath += L'\\';
  return APath;
}

// A new hidden folder in AParent (with its backslash); empty when none can be made there.
std::wstring make_hidden_folder(const std::wstring& AParent) {
  if (AParent.empty()) return {};
  wchar_t name[48];
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::swprintf(name, 48, L".wexlor-%lx-%x", static_cast<unsigned long>(::GetCurrentProcessId()),
                  GStagingCount.fetch_add(1));
    const std::wstring path = AParent + name;
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
      return path + L'\\';
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::wstring temporary_folder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  return length > 0 && length <= MAX_PATH ? with_backslash(temp) : std::wstring();
}

std::wstring without_backslash(std::wstring APath) {
  while (APath.size() > 3 && (APath.back() == L'\\' || APath.back() == L'/')) APath.pop_back();
  return APath;
}

// Every folder along APath's parent, outermost first; failures show when the file is moved.
void make_parent_folders(const std::wstring& APath) {
  for (size_t at = APath.find_first_of(L"\\/", 1); at != std::wstring::npos; at = APath.find_first_of(L"\\/", at + 1))
    ::CreateDirectoryW(APath.substr(0, at).c_str(), nullptr);
}

}  // namespace

TqorStagingFolder::TqorStagingFolder(const std::wstring& ANearFolder) {
  FPath = make_hidden_folder(with_backslash(full_path(ANearFolder)));
  if (!FPath.empty()) return;
  FNear = false;
  FPath = make_hidden_folder(temporary_folder());
  if (FPath.empty()) RaiseLastOSError();
}

TqorStagingFolder::~TqorStagingFolder() { RemoveStagedPath(FPath); }

std::wstring TqorStagingFolder::NewCallFolder() {
  const std::wstring folder = FPath + std::to_wstring(++FCalls);
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) RaiseLastOSError();
  return folder + L'\\';
}

DWORD ClaimStagedFile(const std::wstring& AStaged, const std::wstring& ATarget, bool ACopy) noexcept {
  const auto claim = [&]() -> DWORD {
    if (!ACopy) return ::MoveFileExW(AStaged.c_str(), ATarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
                           ? 0
                           : ::GetLastError();
    if (!::CopyFileW(AStaged.c_str(), ATarget.c_str(), FALSE)) return ::GetLastError();
    RemoveStagedPath(AStaged);
    return 0;
  };
  DWORD error = claim();
  if (error == 0) return 0;
  if (error == ERROR_PATH_NOT_FOUND) {
    make_parent_folders(ATarget);
    error = claim();
    if (error == 0) return 0;
  }
  // The file manager asked the user before replacing the file; its read-only mark is no refusal.
  const DWORD attributes = ::GetFileAttributesW(ATarget.c_str());
  if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(ATarget.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    error = claim();
    if (error == 0) return 0;
    ::SetFileAttributesW(ATarget.c_str(), attributes);
  }
  return error;
}

void RemoveStagedPath(const std::wstring& APath) noexcept {
  if (APath.empty()) return;
  try {
    const std::wstring path = without_backslash(APath);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY)
      ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::DeleteFileW(path.c_str());
      return;
    }
    // A link a plugin made goes itself; what it points to is not ours.
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      WIN32_FIND_DATAW data;
      unique_find find(::FindFirstFileW((path + L"\\*").c_str(), &data));
      if (find.get() != INVALID_HANDLE_VALUE) {
        do {
          if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
          RemoveStagedPath(path + L'\\' + data.cFileName);
        } while (::FindNextFileW(find.get(), &data));
      }
    }
    ::RemoveDirectoryW(path.c_str());
  } catch (...) {
    // Out of memory while building a path: what is left goes with the folder above, or stays.
  }
}

bool PathInside(const std::wstring& APath, const std::wstring& AFolder) {
  const std::wstring path = full_path(APath);
  const std::wstring folder = full_path(AFolder);
  if (folder.empty() || path.size() <= folder.size()) return false;
  return ::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace qor
