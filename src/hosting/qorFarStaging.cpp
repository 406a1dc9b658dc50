#include "hosting/qorFarStaging.h"

#include <cstdio>
#include <cwchar>
#include <random>
#include <set>
#include <vector>

#include "common/qorErrors.h"
#include "common/qorFileIdentity.h"
#include "common/qorHandles.h"
#include "common/qorLocks.h"
#include "common/qorOwnedNames.h"
#include "common/qorPluginGuard.h"

namespace qor {
namespace {

const wchar_t kPrefix[] = L".wexlor-";

// A staging folder of a process that has ended; false when it may still run or the name is none
// of ours.
bool owner_gone(const wchar_t* AName) noexcept {
  try {
    return OwnerGone(AName, kPrefix);
  } catch (...) {
    return false;
  }
}

bool is_separator(wchar_t AChar) noexcept { return AChar == L'\\' || AChar == L'/'; }

std::wstring with_backslash(std::wstring APath) {
  if (!APath.empty() && !is_separator(APath.back())) APath += L'\\';
  return APath;
}

std::wstring without_backslash(std::wstring APath) {
  while (APath.size() > 7 && is_separator(APath.back())) APath.pop_back();
  return APath;
}

// Length of the part of an extended path that is no folder of its own: "\\?\C:\" or
// "\\?\UNC\server\share\".
size_t root_length(const std::wstring& AExtended) noexcept {
  if (AExtended.compare(0, 8, L"\\\\?\\UNC\\") != 0) return AExtended.size() >= 7 ? 7 : AExtended.size();
  size_t at = AExtended.find(L'\\', 8);
  if (at != std::wstring::npos) at = AExtended.find(L'\\', at + 1);
  return at == std::wstring::npos ? AExtended.size() : at + 1;
}

DWORD attributes_of(const std::wstring& AExtended) noexcept { return ::GetFileAttributesW(AExtended.c_str()); }

bool is_link(DWORD AAttributes) noexcept {
  return AAttributes != INVALID_FILE_ATTRIBUTES && (AAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The file inside every staging folder that says the module made it: the folder's name and its
// file id, which a folder of the same name that came out of an archive does not have.
const wchar_t kMarker[] = L"~wexlor-staging";

std::string marker_text(const std::wstring& AFolder, const TqorFileIdentity& AIdentity) {
  const size_t cut = AFolder.find_last_of(L'\\', AFolder.size() - 2);
  std::string text;
  for (wchar_t c : AFolder.substr(cut + 1, AFolder.size() - cut - 2)) text += static_cast<char>(c < 128 ? c : '?');
  char id[48];
  std::snprintf(id, sizeof(id), " %08lx-%016llx", static_cast<unsigned long>(AIdentity.Volume), AIdentity.Index);
  return text + id;
}

// The identity of the folder AFolder (extended, with its backslash), itself and no link.
bool folder_identity(const std::wstring& AFolder, TqorFileIdentity& AIdentity) noexcept {
  unique_handle folder(OpenNoFollow(without_backslash(AFolder), FILE_READ_ATTRIBUTES));
  return folder.get() != INVALID_HANDLE_VALUE && ReadFileIdentity(folder.get(), AIdentity) &&
         (AIdentity.Attributes & FILE_ATTRIBUTE_DIRECTORY) && !(AIdentity.Attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// AFolder (extended, with its backslash) holds the marker the module wrote when it made it.
bool marked(const std::wstring& AFolder) noexcept {
  try {
    TqorFileIdentity identity;
    if (!folder_identity(AFolder, identity)) return false;
    unique_handle file(::CreateFileW((AFolder + kMarker).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    char text[128] = {};
    DWORD read = 0;
    if (!::ReadFile(file.get(), text, sizeof(text) - 1, &read, nullptr)) return false;
    return std::string(text, read) == marker_text(AFolder, identity);
  } catch (...) {
    return false;
  }
}

bool write_marker(const std::wstring& AFolder) noexcept {
  try {
    TqorFileIdentity identity;
    if (!folder_identity(AFolder, identity)) return false;
    unique_handle file(::CreateFileW((AFolder + kMarker).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    const std::string text = marker_text(AFolder, identity);
    DWORD written = 0;
    return ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  } catch (...) {
    return false;
  }
}

// A new hidden folder in AParent (extended, with its backslash), marked as the module's; empty
// when none can be made there.
std::wstring make_hidden_folder(const std::wstring& AParent) {
  if (AParent.empty()) return {};
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::wstring path = AParent + OwnedName(kPrefix);
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
      if (write_marker(path + L'\\')) return path + L'\\';
      ::RemoveDirectoryW(path.c_str());
      return {};
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

// Deletes one plain file. A file with other names (hard links) is unlinked only: its marks
// belong to every name, so a read-only one is deleted without lifting the mark, or left.
void remove_file(const std::wstring& APath) noexcept {
  unique_handle file(OpenNoFollow(APath, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
  TqorFileIdentity identity;
  if (file.get() == INVALID_HANDLE_VALUE || !ReadFileIdentity(file.get(), identity)) return;
  if (!(identity.Attributes & FILE_ATTRIBUTE_READONLY)) {
    DeleteOnClose(file.get());
  } else if (identity.Links > 1) {
    DeleteOnCloseIgnoringReadOnly(file.get());
  } else if (SetAttributesOf(file.get(), identity.Attributes & ~FILE_ATTRIBUTE_READONLY) &&
             !DeleteOnClose(file.get())) {
    SetAttributesOf(file.get(), identity.Attributes);
  }
}

// Deletes an extended path with everything below it; no link is ever entered.
void remove_tree(const std::wstring& AExtended) noexcept {
  try {
    const std::wstring path = without_backslash(AExtended);
    const DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A link goes itself, untouched otherwise: what it points to is not ours.
    if (is_link(attributes)) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        ::RemoveDirectoryW(path.c_str());
      else
        ::DeleteFileW(path.c_str());
      return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      remove_file(path);
      return;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    {
      WIN32_FIND_DATAW data;
      unique_find find(::FindFirstFileW((path + L"\\*").c_str(), &data));
      if (find.get() != INVALID_HANDLE_VALUE) {
        do {
          if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
          remove_tree(path + L'\\' + data.cFileName);
        } while (::FindNextFileW(find.get(), &data));
      }
    }
    ::RemoveDirectoryW(path.c_str());
  } catch (...) {
    // Out of memory while building a path: what is left goes with the folder above, or stays.
  }
}

// Goes depth first through the plain folders from ARoot + AStart (AStart empty or ending with a
// backslash), never into a link: AVisit(path below ARoot, attributes) for every file and every
// link; false from it ends the walk.
template <class F>
void for_each_entry_below(const std::wstring& ARoot, const std::wstring& AStart, F AVisit) {
  std::vector<std::wstring> pending{AStart};
  while (!pending.empty()) {
    const std::wstring folder = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW data;
    unique_find find(::FindFirstFileW((ARoot + folder + L'*').c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) continue;
    do {
      if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
      const DWORD attributes = data.dwFileAttributes;
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        pending.push_back(folder + data.cFileName + L'\\');
      else if (!AVisit(folder + data.cFileName, attributes))
        return;
    } while (::FindNextFileW(find.get(), &data));
  }
}

// Staging folders a killed process left in AParent (extended, with its backslash).
void remove_stale_folders(const std::wstring& AParent) noexcept {
  try {
    std::vector<std::wstring> stale;
    WIN32_FIND_DATAW data;
    unique_find find(::FindFirstFileW((AParent + kPrefix + L"*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) return;
    do {
      // Only folders the module made: one merely named like them (from an archive, say) stays.
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && owner_gone(data.cFileName) &&
          marked(AParent + data.cFileName + L'\\'))
        stale.push_back(AParent + data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    find.reset();
    for (const std::wstring& path : stale) remove_tree(path);
  } catch (...) {
  }
}

// The staging folders of this process, for the unloading at process exit.
class live_folders {
 public:
  void add(const std::wstring& APath) {
    lock_guard<critical_section> guard(FLock);
    FPaths.insert(APath);
  }
  void remove(const std::wstring& APath) noexcept {
    lock_guard<critical_section> guard(FLock);
    FPaths.erase(APath);
  }
  // Other threads are gone when the process ends; one may have died holding the lock.
  void remove_all() noexcept {
    if (!FLock.try_lock()) return;
    for (const std::wstring& path : FPaths) remove_tree(path);
    FPaths.clear();
    FLock.unlock();
  }

 private:
  critical_section FLock;
  std::set<std::wstring> FPaths;
};

live_folders& GLiveFolders() {
  static live_folders folders;
  return folders;
}

// Every folder along AExtended's parent below its root, outermost first; failures show when the
// file is moved.
void make_parent_folders(const std::wstring& AExtended) {
  for (size_t at = AExtended.find(L'\\', root_length(AExtended)); at != std::wstring::npos;
       at = AExtended.find(L'\\', at + 1))
    ::CreateDirectoryW(AExtended.substr(0, at).c_str(), nullptr);
}

// Marks that refuse a replacement: the file manager asked the user before replacing the file.
constexpr DWORD kRefusing = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Renames ASource over ATarget (both extended), lifting the target's refusing marks if needed.
DWORD replace_with(const std::wstring& ASource, const std::wstring& ATarget) noexcept {
  if (::MoveFileExW(ASource.c_str(), ATarget.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  DWORD error = ::GetLastError();
  const DWORD attributes = attributes_of(ATarget);
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) || !(attributes & kRefusing))
    return error;
  ::SetFileAttributesW(ATarget.c_str(), (attributes & ~kRefusing) | FILE_ATTRIBUTE_NORMAL);
  if (::MoveFileExW(ASource.c_str(), ATarget.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  error = ::GetLastError();
  ::SetFileAttributesW(ATarget.c_str(), attributes);
  return error;
}

// Copies ASource to a new name beside ATarget and renames it over ATarget only once it is whole:
// a copy that fails part way (a full disk) leaves the old file as it was.
DWORD copy_over(const std::wstring& ASource, const std::wstring& ATarget) noexcept {
  try {
    const size_t cut = ATarget.find_last_of(L'\\');
    if (cut == std::wstring::npos) return ERROR_INVALID_NAME;
    const std::wstring beside = ATarget.substr(0, cut + 1) + OwnedName(kPrefix);
    if (!::CopyFileExW(ASource.c_str(), beside.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
      const DWORD error = ::GetLastError();
      remove_tree(beside);
      return error;
    }
    const DWORD error = replace_with(beside, ATarget);
    if (error != 0) {
      remove_tree(beside);
      return error;
    }
    remove_tree(ASource);
    return 0;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace

std::wstring ExtendedPath(const std::wstring& APath) {
  std::wstring path = APath;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  std::wstring root;
  size_t rest = 0;
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
    root = L"\\\\?\\" + path.substr(0, 3);
    rest = 3;
  } else if (path.compare(0, 2, L"\\\\") == 0 && path.compare(0, 4, L"\\\\.\\") != 0) {
    root = L"\\\\?\\UNC\\";
    rest = 2;
  } else {
    // Relative to a current folder: the system's own rules, which also trim the last name.
    const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return {};
    full.resize(length);
    if (full.size() >= 3 && full[1] == L':') return L"\\\\?\\" + full;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return {};
  }
  // "." and ".." resolved and doubled backslashes dropped, as the system does for plain paths.
  std::vector<std::wstring> names;
  size_t start = rest;
  const bool trailing = !path.empty() && path.back() == L'\\' && path.size() > rest;
  for (size_t i = rest; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\') continue;
    const std::wstring name = path.substr(start, i - start);
    start = i + 1;
    if (name.empty() || name == L".") continue;
    if (name == L"..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.push_back(name);
  }
  std::wstring extended = root;
  for (size_t i = 0; i < names.size(); ++i) extended += (i ? L"\\" : L"") + names[i];
  if (trailing && !names.empty()) extended += L'\\';
  return extended;
}

TqorStagingFolder::TqorStagingFolder(const std::wstring& ANearFolder) {
  const std::wstring near_folder = ANearFolder.empty() ? std::wstring() : with_backslash(ExtendedPath(ANearFolder));
  std::wstring parent = near_folder;
  if (!parent.empty()) {
    remove_stale_folders(parent);
    FExtended = make_hidden_folder(parent);
  }
  if (FExtended.empty()) {
    FNear = false;
    parent = with_backslash(ExtendedPath(temporary_folder()));
    remove_stale_folders(parent);
    FExtended = make_hidden_folder(parent);
    if (FExtended.empty()) RaiseLastOSError();
  }
  // Plugins get the path as FAR would give it; the name itself is plain.
  const std::wstring plain_parent = FNear ? with_backslash(ANearFolder) : temporary_folder();
  FPath = plain_parent + FExtended.substr(parent.size());
  GLiveFolders().add(FExtended);
}

TqorStagingFolder::~TqorStagingFolder() {
  remove_tree(FExtended);
  GLiveFolders().remove(FExtended);
}

std::wstring TqorStagingFolder::NewCallFolder() {
  // A folder of this call's own: newly made, under a name a plugin writing beside its destination
  // cannot guess, and no link.
  static thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<unsigned long long>(::GetTickCount64())};
  for (int attempt = 0; attempt < 64; ++attempt) {
    wchar_t name[40];
    std::swprintf(name, 40, L"%x-%08llx", ++FCalls, static_cast<unsigned long long>(random() & 0xFFFFFFFFFFull));
    const std::wstring path = FExtended + name;
    if (::CreateDirectoryW(path.c_str(), nullptr)) {
      if (is_link(attributes_of(path))) RaiseOSError(ERROR_CANT_ACCESS_FILE);
      return FPath + name + L'\\';
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) RaiseLastOSError();
  }
  RaiseOSError(ERROR_ALREADY_EXISTS);
}

void TqorStagingFolder::Survey(const std::wstring& ACallFolder) noexcept {
  try {
    take_survey(ACallFolder);
  } catch (...) {
    // Out of memory: HoldsFile looks at the disk instead.
    FSurveys.clear();
  }
}

void TqorStagingFolder::take_survey(const std::wstring& ACallFolder) {
  if (ACallFolder.size() <= FPath.size() || ACallFolder.compare(0, FPath.size(), FPath) != 0) return;
  std::wstring name = ACallFolder.substr(FPath.size());
  while (!name.empty() && is_separator(name.back())) name.pop_back();
  FSurveys.erase(name);
  if (name.empty() || name.find_first_of(L"\\/") != std::wstring::npos) return;
  // Read before the pass: a writing call that begins during it makes the survey stale.
  survey taken;
  taken.Epoch = WritingCallsEpoch();
  if (taken.Epoch == 0) return;
  const DWORD attributes = attributes_of(FExtended + name);
  if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  // What lies beyond a link is left out, and HoldsFile then looks and refuses.
  for_each_entry_below(FExtended, name + L'\\', [&](const std::wstring& ARelative, DWORD AAttributes) {
    if (!(AAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) taken.Files.insert(ARelative);
    return true;
  });
  FSurveys[name] = std::move(taken);
}

bool TqorStagingFolder::surveyed(const std::wstring& ARelative) const noexcept {
  try {
    const size_t cut = ARelative.find(L'\\');
    if (cut == std::wstring::npos) return false;
    const auto it = FSurveys.find(ARelative.substr(0, cut));
    if (it == FSurveys.end() || it->second.Epoch != WritingCallsEpoch() || it->second.Files.count(ARelative) == 0)
      return false;
    for (size_t at = ARelative.find(L'\\', cut + 1); at != std::wstring::npos; at = ARelative.find(L'\\', at + 1))
      if (it->second.Removed.count(ARelative.substr(0, at)) != 0) return false;
    return true;
  } catch (...) {
    return false;
  }
}

void TqorStagingFolder::forget(const std::wstring& ARelative) noexcept {
  try {
    std::wstring relative = ARelative;
    while (!relative.empty() && is_separator(relative.back())) relative.pop_back();
    const size_t cut = relative.find(L'\\');
    const auto it = FSurveys.find(relative.substr(0, cut));
    if (it == FSurveys.end()) return;
    if (cut == std::wstring::npos)
      FSurveys.erase(it);
    else if (it->second.Files.erase(relative) == 0)
      it->second.Removed.insert(relative);
  } catch (...) {
    // Out of memory: the survey goes, and HoldsFile looks at the disk.
    FSurveys.clear();
  }
}

bool TqorStagingFolder::HoldsFile(const std::wstring& AFolder, const std::wstring& ARelative) const {
  if (AFolder.compare(0, FPath.size(), FPath) != 0 || ARelative.empty()) return false;
  const std::wstring relative = AFolder.substr(FPath.size()) + ARelative;
  if (surveyed(relative)) return true;
  // Every step from the staging folder down is checked: a plugin may have restored a link.
  std::wstring path = FExtended;
  size_t start = 0;
  for (size_t i = 0; i <= relative.size(); ++i) {
    if (i < relative.size() && !is_separator(relative[i])) continue;
    const std::wstring name = relative.substr(start, i - start);
    start = i + 1;
    if (name.empty() && i == relative.size()) break;
    if (name.empty() || name == L"." || name == L"..") return false;
    path += name;
    const DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes)) return false;
    if (i == relative.size()) return !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    path += L'\\';
  }
  return false;
}

std::wstring TqorStagingFolder::OnlyFileIn(const std::wstring& AFolder) const {
  if (AFolder.compare(0, FPath.size(), FPath) != 0) return {};
  std::wstring found;  // relative to AFolder
  bool usable = true;
  // A link anywhere makes the call's result unusable.
  for_each_entry_below(FExtended + AFolder.substr(FPath.size()), std::wstring(),
                       [&](const std::wstring& ARelative, DWORD AAttributes) {
                         usable = !(AAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && found.empty();
                         if (usable) found = ARelative;
                         return usable;
                       });
  return usable && !found.empty() ? AFolder + found : std::wstring();
}

DWORD TqorStagingFolder::Claim(const std::wstring& AStaged, const std::wstring& ATarget) noexcept {
  try {
    if (AStaged.compare(0, FPath.size(), FPath) != 0) return ERROR_INVALID_NAME;
    const std::wstring staged = FExtended + AStaged.substr(FPath.size());
    const std::wstring target = ExtendedPath(ATarget);
    if (target.empty()) return ERROR_INVALID_NAME;
    const auto claim = [&]() -> DWORD {
      if (FNear) {
        const DWORD error = replace_with(staged, target);
        if (error != ERROR_NOT_SAME_DEVICE) return error;
      }
      return copy_over(staged, target);
    };
    DWORD error = claim();
    if (error == ERROR_PATH_NOT_FOUND) {
      make_parent_folders(target);
      error = claim();
    }
    if (error == 0) forget(AStaged.substr(FPath.size()));
    return error;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

void TqorStagingFolder::Remove(const std::wstring& APath) noexcept {
  try {
    if (APath.size() <= FPath.size() || APath.compare(0, FPath.size(), FPath) != 0) return;
    std::wstring relative = APath.substr(FPath.size());
    while (!relative.empty() && is_separator(relative.back())) relative.pop_back();
    forget(relative);
    // Inside, and reached without a link: every folder on the way is checked; the last step may
    // be a link, which goes itself.
    std::wstring path = FExtended;
    size_t start = 0;
    for (size_t i = 0; i <= relative.size(); ++i) {
      if (i < relative.size() && !is_separator(relative[i])) continue;
      const std::wstring name = relative.substr(start, i - start);
      start = i + 1;
      if (name.empty() || name == L"." || name == L"..") return;
      path += name;
      if (i == relative.size()) break;
      const DWORD attributes = attributes_of(path);
      if (attributes == INVALID_FILE_ATTRIBUTES || is_link(attributes) || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
      path += L'\\';
    }
    remove_tree(path);
  } catch (...) {
  }
}

bool MakeTargetFolder(const std::wstring& ATarget) {
  std::wstring target = ExtendedPath(ATarget);
  while (target.size() > root_length(target) && target.back() == L'\\') target.pop_back();
  if (target.empty()) return false;
  if (!::CreateDirectoryW(target.c_str(), nullptr) && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
    make_parent_folders(target);
    ::CreateDirectoryW(target.c_str(), nullptr);
  }
  const DWORD attributes = attributes_of(target);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveLiveStagingFolders() noexcept { GLiveFolders().remove_all(); }

}  // namespace qor
