#include "TarUpdate.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "TarMessages.h"

namespace tar {

namespace {

struct FindCloser {
  void operator()(HANDLE AHandle) const noexcept { FindClose(AHandle); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

UniqueFind own_find(HANDLE AHandle) { return UniqueFind(AHandle == INVALID_HANDLE_VALUE ? nullptr : AHandle); }

// The archive as its file holds it now; only a complete one may be rewritten, or what follows
// the damage would be lost.
Archive load_for_update(const std::wstring& AFile) {
  Archive archive;
  archive.file = AFile;
  ArchiveFile file(AFile);
  if (!file.ok()) throw system_failure(MErrRead, AFile);
  load_archive(file, archive);
  if (!archive.complete) throw Failure{MErrDamaged, AFile};
  return archive;
}

std::wstring join(const std::wstring& AFolder, const std::wstring& AName) {
  if (AFolder.empty() || AFolder.back() == L'\\' || AFolder.back() == L'/') return AFolder + AName;
  return AFolder + L"\\" + AName;
}

std::string join(const std::string& AFolder, const std::string& AName) {
  return AFolder.empty() ? AName : AFolder + "/" + AName;
}

bool same_path(const std::wstring& A, const std::wstring& B) {
  return CompareStringOrdinal(A.c_str(), (int)A.size(), B.c_str(), (int)B.size(), TRUE) == CSTR_EQUAL;
}

std::wstring full_path(const std::wstring& APath) {
  std::wstring full(APath.size() + MAX_PATH, L'\0');
  const DWORD n = GetFullPathNameW(APath.c_str(), (DWORD)full.size(), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return APath;
  full.resize(n);
  return full;
}

// Walks the items on disk in the order they are written: a folder before what it holds.
class SourceScan {
 public:
  // The archive being written is never packed into itself.
  explicit SourceScan(const std::wstring& AArchive) : FArchive(full_path(AArchive)) {}

  void item(const std::wstring& ADisk, const std::string& APath) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(long_path(ADisk).c_str(), GetFileExInfoStandard, &data))
      throw system_failure(MErrRead, ADisk);
    const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!dir && same_path(full_path(ADisk), FArchive)) return;
    NewEntry entry;
    entry.path = APath;
    entry.dir = dir;
    entry.source = ADisk;
    entry.size = dir ? 0 : ((std::uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    entry.mtime = filetime_to_unix(data.ftLastWriteTime);
    FEntries.push_back(std::move(entry));
    // A linked folder may lead back above itself: it is packed as a folder, not followed.
    if (dir && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folder(ADisk, APath);
  }

  std::vector<NewEntry> take() { return std::move(FEntries); }

 private:
  void folder(const std::wstring& ADisk, const std::string& APath) {
    WIN32_FIND_DATAW data;
    const UniqueFind find = own_find(FindFirstFileExW(long_path(join(ADisk, L"*")).c_str(), FindExInfoBasic,
                                                      &data, FindExSearchNameMatch, nullptr, 0));
    if (!find) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) return;  // an empty drive root
      throw Failure{MErrRead, ADisk, error};
    }
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::string raw;
      if (!to_utf8(name, raw)) throw Failure{MErrBadName, join(ADisk, name)};
      item(join(ADisk, name), join(APath, raw));
    } while (FindNextFileW(find.get(), &data));
  }

  std::wstring FArchive;
  std::vector<NewEntry> FEntries;
};

std::vector<NewEntry> scan_sources(const Sources& ASources, const std::string& AFolder, const std::wstring& AArchive) {
  SourceScan scan(AArchive);
  for (const auto& name : ASources.names) {
    std::string raw;
    if (!valid_name(name) || !to_utf8(name, raw)) throw Failure{MErrBadName, name};
    scan.item(join(ASources.folder, name), join(AFolder, raw));
  }
  return scan.take();
}

// A path of the archive as the user reads paths.
std::wstring shown(const std::string& APath) {
  std::wstring path = from_utf8(APath);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// Drops the records of the paths the new entries take. A file never takes a folder's place: the
// folder's contents would stay and make it a folder again.
std::vector<char> keep_unreplaced(const Archive& AArchive, const std::vector<NewEntry>& AEntries) {
  std::vector<char> replaced(AArchive.nodes.size(), 0);
  for (const auto& e : AEntries) {
    const auto at = AArchive.locate(e.path);
    if (!at.second) continue;
    if (AArchive.nodes[(size_t)at.first].dir && !e.dir) throw Failure{MErrFolderInPlace, shown(e.path)};
    replaced[(size_t)at.first] = 1;
  }
  std::vector<char> keep(AArchive.records.size(), 1);
  for (size_t i = 0; i < keep.size(); ++i) {
    const Record& r = AArchive.records[i];
    if (r.node >= 0 && r.exact && replaced[(size_t)r.node]) keep[i] = 0;
  }
  return keep;
}

void mark_subtree(const Archive& AArchive, int ANode, std::vector<char>& AMarks) {
  AMarks[(size_t)ANode] = 1;
  for (int child : AArchive.nodes[(size_t)ANode].children) mark_subtree(AArchive, child, AMarks);
}

std::uint64_t now_unix() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return filetime_to_unix(now);
}

}  // namespace

bool valid_name(const std::wstring& AName) {
  if (AName.empty() || AName == L"." || AName == L"..") return false;
  for (wchar_t c : AName)
    if (c < 32 || std::wcschr(L"<>:\"/\\|?*", c)) return false;
  return true;
}

std::vector<NewEntry> add_files(const std::wstring& AFile, const std::string& AFolder, const Sources& ASources,
                                ProgressReport AReport) {
  const Archive archive = load_for_update(AFile);
  Rewrite job;
  job.source = &archive;
  job.entries = scan_sources(ASources, AFolder, AFile);
  job.keep = keep_unreplaced(archive, job.entries);
  write_archive(AFile, job, true, AReport);
  return std::move(job.entries);
}

std::vector<NewEntry> create_archive(const std::wstring& AFile, const Sources& ASources, ProgressReport AReport) {
  if (GetFileAttributesW(long_path(AFile).c_str()) != INVALID_FILE_ATTRIBUTES) throw Failure{MErrExists, AFile};
  Rewrite job;
  job.entries = scan_sources(ASources, "", AFile);
  write_archive(AFile, job, false, AReport);
  return std::move(job.entries);
}

void delete_entries(const std::wstring& AFile, const std::vector<std::string>& APaths, ProgressReport AReport) {
  const Archive archive = load_for_update(AFile);
  std::vector<char> doomed(archive.nodes.size(), 0);
  for (const auto& path : APaths) {
    const auto at = archive.locate(path);
    if (!at.second) throw Failure{MErrNotFound, shown(path)};
    mark_subtree(archive, at.first, doomed);
  }
  Rewrite job;
  job.source = &archive;
  job.keep.resize(archive.records.size());
  for (size_t i = 0; i < job.keep.size(); ++i) {
    const int node = archive.records[i].node;
    job.keep[i] = node < 0 || !doomed[(size_t)node];
  }
  write_archive(AFile, job, true, AReport);
}

bool make_folder(const std::wstring& AFile, const std::string& APath, ProgressReport AReport) {
  const Archive archive = load_for_update(AFile);
  const auto at = archive.locate(APath);
  if (at.second) {
    if (archive.nodes[(size_t)at.first].dir) return false;
    throw Failure{MErrExists, shown(APath)};
  }
  Rewrite job;
  job.source = &archive;
  job.keep.assign(archive.records.size(), 1);
  NewEntry folder;
  folder.path = APath;
  folder.dir = true;
  folder.mtime = now_unix();
  job.entries.push_back(std::move(folder));
  write_archive(AFile, job, true, AReport);
  return true;
}

std::wstring delete_sources(const std::vector<NewEntry>& APacked) {
  std::wstring kept;
  for (const auto& e : APacked)
    if (!e.dir && !DeleteFileW(long_path(e.source).c_str()) && kept.empty()) kept = e.source;
  // Deepest first: the scan put every folder before what it holds. A linked folder stays, as
  // what it leads to was not packed.
  for (auto it = APacked.rbegin(); it != APacked.rend(); ++it) {
    if (!it->dir) continue;
    const std::wstring path = long_path(it->source);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool linked = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if ((linked || !RemoveDirectoryW(path.c_str())) && kept.empty()) kept = it->source;
  }
  return kept;
}

}  // namespace tar
