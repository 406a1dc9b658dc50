// The original kept by a hard link, put back on failure; working and temporary files swept.
#include "hosting/qorFarArchiveChange.h"

#include <windows.h>

#include <vector>

#include "common/qorFileIdentity.h"
#include "common/qorHandles.h"
#include "common/qorOwnedNames.h"
#include "common/qorText.h"
#include "hosting/qorFarStaging.h"

namespace qor {

const wchar_t kWorkingFilePrefix[] = L"~wexlor-";

namespace {

std::wstring with_backslash(std::wstring AFolder) {
  if (!AFolder.empty() && AFolder.back() != L'\\') AFolder += L'\\';
  return AFolder;
}

std::wstring folder_of(const std::wstring& APath) { return APath.substr(0, APath.find_last_of(L'\\') + 1); }

bool is_temporary_name(const std::wstring& AName) {
  return AName.size() > 4 && FoldedName(std::wstring_view(AName).substr(AName.size() - 4)) == L".TMP";
}

// Deletes a plain file nobody has open: one a running change still writes is left alone.
void delete_unused(const std::wstring& APath) noexcept {
  unique_handle file(::CreateFileW(APath.c_str(), DELETE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return;
  TqorFileIdentity identity;
  if (!ReadFileIdentity(file.get(), identity) || (identity.Attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  DeleteOnClose(file.get());
}

template <class F>
void for_each_file(const std::wstring& APattern, F&& AVisit) {
  WIN32_FIND_DATAW data;
  unique_find find(::FindFirstFileExW(APattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) AVisit(std::wstring(data.cFileName));
  } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

std::wstring WorkingFileName(const std::wstring& AFolder, const std::wstring& ATail) {
  return with_backslash(AFolder) + OwnedName(kWorkingFilePrefix) + L"-" + ATail;
}

void RemoveStaleWorkingFiles(const std::wstring& AFolder) noexcept {
  try {
    const std::wstring folder = with_backslash(ExtendedPath(with_backslash(AFolder)));
    std::vector<std::wstring> stale;
    for_each_file(folder + kWorkingFilePrefix + L"*", [&](const std::wstring& AName) {
      if (OwnerGone(AName, kWorkingFilePrefix)) stale.push_back(AName);
    });
    for (const std::wstring& name : stale) delete_unused(folder + name);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// TqorTemporaryFiles

TqorTemporaryFiles::TqorTemporaryFiles(std::wstring AFolder)
    : FFolder(with_backslash(ExtendedPath(with_backslash(AFolder)))), FBefore(list()) {}

std::set<std::wstring> TqorTemporaryFiles::list() const {
  std::set<std::wstring> names;
  for_each_file(FFolder + L"*.tmp", [&](const std::wstring& AName) {
    if (is_temporary_name(AName)) names.insert(AName);
  });
  return names;
}

void TqorTemporaryFiles::RemoveNew() const noexcept {
  try {
    for (const std::wstring& name : list())
      if (!FBefore.count(name)) delete_unused(FFolder + name);
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------------------------
// TqorArchiveChange

TqorArchiveChange::TqorArchiveChange(const std::wstring& AArchive)
    : FArchive(ExtendedPath(AArchive)), FTemporary(folder_of(AArchive)) {
  const std::wstring folder = folder_of(AArchive);
  RemoveStaleWorkingFiles(folder);
  const std::wstring link = ExtendedPath(WorkingFileName(folder, AArchive.substr(folder.size())));
  // Attributes belong to the file, not to one of its names: the link gets none of its own.
  if (::CreateHardLinkW(link.c_str(), FArchive.c_str(), nullptr)) FLink = link;
}

TqorArchiveChange::~TqorArchiveChange() {
  if (!FDone) RollBack();
}

void TqorArchiveChange::drop_link() noexcept {
  if (FLink.empty()) return;
  ::DeleteFileW(FLink.c_str());
  FLink.clear();
}

void TqorArchiveChange::Commit() noexcept {
  FDone = true;
  drop_link();
}

void TqorArchiveChange::RollBack() noexcept {
  FDone = true;
  FTemporary.RemoveNew();
  if (FLink.empty()) return;
  TqorFileIdentity original, now;
  bool replaced = true;
  {
    unique_handle link(OpenNoFollow(FLink, FILE_READ_ATTRIBUTES));
    unique_handle archive(OpenNoFollow(FArchive, FILE_READ_ATTRIBUTES));
    if (link.get() != INVALID_HANDLE_VALUE && archive.get() != INVALID_HANDLE_VALUE &&
        ReadFileIdentity(link.get(), original) && ReadFileIdentity(archive.get(), now))
      replaced = !original.SameFile(now);
  }
  // Written in place: the link is the archive itself, and nothing can be put back.
  if (!replaced) {
    drop_link();
    return;
  }
  if (::MoveFileExW(FLink.c_str(), FArchive.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    FLink.clear();
    return;
  }
  drop_link();
}

}  // namespace qor
