// Tar: a FAR Manager 3 archive plugin for POSIX tar files (ustar, GNU long names, pax
// path/size/mtime). Folders are synthesized from the paths; GetFilesW copies entries out.
// PutFilesW, MakeDirectoryW and DeleteFilesW rewrite the archive into a temporary file that takes
// its place only when complete, and PutFilesW on the panel of FAR's creation probe makes a new one.
// Every field of the archive is checked against the file's size before it is used: a malformed
// archive ends the listing early, it never makes the plugin read outside what it owns, and it is
// never rewritten.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace {

// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E31}
constexpr GUID kPluginGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x31}};
// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E32}
constexpr GUID kMenuGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x32}};
// The plugin's boxes: {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E33} and on.
constexpr GUID kErrorGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x33}};
constexpr GUID kDeleteGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x34}};
constexpr GUID kCreateGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x35}};
constexpr GUID kMakeFolderGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x36}};

// Line numbers of the language files, counted from 0.
enum MessageId : intptr_t {
  MTitle = 0,
  MDescription,
  MCreateTitle,
  MCreatePrompt,
  MMakeFolderTitle,
  MMakeFolderPrompt,
  MDeleteTitle,
  MDeleteQuestion,
  MDeleteButton,
  MCancelButton,
  MErrorTitle,
  MErrExists,
  MErrRead,
  MErrWrite,
  MErrDamaged,
  MErrBadName,
  MErrNameTooLong,
  MErrFolderInPlace,
  MErrNotFound,
  MErrDeleteSource,
  MErrMemory,
};

PluginStartupInfo GInfo{};
FarStandardFunctions GFsf{};
bool GHaveInfo = false;

constexpr size_t kBlock = 512;
constexpr std::uint64_t kMaxLongName = 64 * 1024;      // a GNU long name or link
constexpr std::uint64_t kMaxPaxHeader = 1024 * 1024;  // one pax extended header
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// --- the host's services -----------------------------------------------------------------------

const wchar_t* msg(intptr_t AId) {
  const wchar_t* text = GHaveInfo && GInfo.GetMsg ? GInfo.GetMsg(&kPluginGuid, AId) : nullptr;
  return text ? text : L"";
}

void report_progress(int APercent) {
  if (!GHaveInfo || !GInfo.AdvControl) return;
  TProgressValue value{sizeof(TProgressValue), (std::uint64_t)APercent, 100};
  GInfo.AdvControl(&kPluginGuid, ACTL_SETPROGRESSVALUE, 0, &value);
}

// --- files -------------------------------------------------------------------------------------

struct HandleCloser {
  void operator()(HANDLE AHandle) const noexcept { CloseHandle(AHandle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Owns what CreateFileW returned; empty for INVALID_HANDLE_VALUE.
UniqueHandle own_file(HANDLE AHandle) { return UniqueHandle(AHandle == INVALID_HANDLE_VALUE ? nullptr : AHandle); }

struct FindCloser {
  void operator()(HANDLE AHandle) const noexcept { FindClose(AHandle); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

UniqueFind own_find(HANDLE AHandle) { return UniqueFind(AHandle == INVALID_HANDLE_VALUE ? nullptr : AHandle); }

// A path Windows opens beyond MAX_PATH: full, with the extended-length prefix when long.
std::wstring long_path(const std::wstring& APath) {
  if (APath.size() < MAX_PATH - 12 || APath.compare(0, 4, L"\\\\?\\") == 0) return APath;
  std::wstring full(APath.size() + MAX_PATH, L'\0');
  const DWORD n = GetFullPathNameW(APath.c_str(), (DWORD)full.size(), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return APath;
  full.resize(n);
  if (full.size() > 2 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return full;
}

class ArchiveFile {
 public:
  explicit ArchiveFile(const std::wstring& AName)
      : FHandle(own_file(CreateFileW(long_path(AName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {
    LARGE_INTEGER size{};
    if (FHandle && GetFileSizeEx(FHandle.get(), &size)) FSize = (std::uint64_t)size.QuadPart;
  }

  bool ok() const { return FHandle != nullptr; }
  std::uint64_t size() const { return FSize; }

  // Reads exactly ACount bytes at AOffset, or fails without reading past the end.
  bool read(std::uint64_t AOffset, void* ADest, size_t ACount) {
    if (AOffset > FSize || ACount > FSize - AOffset) return false;
    auto* dest = static_cast<char*>(ADest);
    while (ACount > 0) {
      OVERLAPPED at{};
      at.Offset = (DWORD)AOffset;
      at.OffsetHigh = (DWORD)(AOffset >> 32);
      DWORD got = 0;
      const DWORD chunk = (DWORD)std::min<size_t>(ACount, 1 << 20);
      if (!ReadFile(FHandle.get(), dest, chunk, &got, &at) || got == 0) return false;
      dest += got;
      ACount -= got;
      AOffset += got;
    }
    return true;
  }

 private:
  UniqueHandle FHandle;
  std::uint64_t FSize = 0;
};

// --- header fields -----------------------------------------------------------------------------

// An octal field (NUL or space terminated), or GNU base-256 when the top bit of the first byte is
// set. False for anything else or a value beyond 63 bits.
bool parse_number(const unsigned char* AField, size_t ALength, std::uint64_t& AValue) {
  AValue = 0;
  if (AField[0] & 0x80) {
    if (AField[0] != 0x80) return false;  // negative or too large for us
    for (size_t i = 1; i < ALength; ++i) {
      if (AValue >> 55) return false;
      AValue = (AValue << 8) | AField[i];
    }
    return true;
  }
  size_t i = 0;
  while (i < ALength && AField[i] == ' ') ++i;
  bool digits = false;
  for (; i < ALength && AField[i] >= '0' && AField[i] <= '7'; ++i) {
    if (AValue >> 60) return false;
    AValue = AValue * 8 + (AField[i] - '0');
    digits = true;
  }
  for (; i < ALength; ++i)
    if (AField[i] != ' ' && AField[i] != 0) return false;
  return digits || ALength > 0;
}

std::string field_text(const unsigned char* AField, size_t ALength) {
  const auto* end = static_cast<const unsigned char*>(std::memchr(AField, 0, ALength));
  return std::string(reinterpret_cast<const char*>(AField), end ? (size_t)(end - AField) : ALength);
}

bool checksum_ok(const unsigned char* ABlock) {
  std::uint64_t stored = 0;
  if (!parse_number(ABlock + 148, 8, stored)) return false;
  std::uint64_t unsigned_sum = 0;
  std::int64_t signed_sum = 0;
  for (size_t i = 0; i < kBlock; ++i) {
    const unsigned char c = (i >= 148 && i < 156) ? ' ' : ABlock[i];
    unsigned_sum += c;
    signed_sum += static_cast<signed char>(c);
  }
  return stored == unsigned_sum || (std::int64_t)stored == signed_sum;
}

bool all_zero(const unsigned char* ABlock) {
  for (size_t i = 0; i < kBlock; ++i)
    if (ABlock[i]) return false;
  return true;
}

bool is_gnu_magic(const unsigned char* ABlock) { return std::memcmp(ABlock + 257, "ustar  ", 8) == 0; }
bool is_ustar_magic(const unsigned char* ABlock) { return std::memcmp(ABlock + 257, "ustar", 6) == 0; }

std::uint64_t unix_to_filetime(std::uint64_t ASeconds) {
  if (ASeconds > 900000000000ULL) return 0;  // beyond what FILETIME holds
  return kUnixEpochAsFileTime + ASeconds * 10000000ULL;
}

// pax records: "<length> <key>=<value>\n", each length counting the whole record.
void parse_pax(const std::string& AData, std::string& APath, bool& AHasPath, std::uint64_t& ASize, bool& AHasSize,
               std::uint64_t& AMtime, bool& AHasMtime) {
  size_t pos = 0;
  while (pos < AData.size()) {
    size_t length = 0, i = pos;
    while (i < AData.size() && AData[i] >= '0' && AData[i] <= '9' && length < AData.size())
      length = length * 10 + (size_t)(AData[i++] - '0');
    if (i >= AData.size() || AData[i] != ' ' || length <= i - pos || length > AData.size() - pos) return;
    const std::string record = AData.substr(i + 1, pos + length - (i + 1));
    pos += length;
    const size_t eq = record.find('=');
    if (eq == std::string::npos || record.empty() || record.back() != '\n') continue;
    const std::string key = record.substr(0, eq);
    const std::string value = record.substr(eq + 1, record.size() - eq - 2);
    if (key == "path") {
      APath = value;
      AHasPath = true;
    } else if (key == "size" || key == "mtime") {
      std::uint64_t v = 0;
      bool good = !value.empty();
      size_t k = 0;
      for (; k < value.size() && value[k] >= '0' && value[k] <= '9'; ++k) {
        if (v > 0x7FFFFFFFFFFFFFFULL) good = false;
        v = v * 10 + (std::uint64_t)(value[k] - '0');
      }
      if (k == 0 || (k < value.size() && (key == "size" || value[k] != '.'))) good = false;
      if (!good) continue;
      if (key == "size") {
        ASize = v;
        AHasSize = true;
      } else {
        AMtime = v;
        AHasMtime = true;
      }
    }
  }
}

// The name of one path component as Windows can store it: tar allows what Windows does not.
std::wstring windows_component(const std::string& ARaw) {
  std::wstring text;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, ARaw.data(), (int)ARaw.size(), nullptr, 0);
  UINT codepage = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (n <= 0) {
    // Not UTF-8: an archive from a system with a legacy code page.
    codepage = CP_ACP;
    flags = 0;
    n = MultiByteToWideChar(codepage, flags, ARaw.data(), (int)ARaw.size(), nullptr, 0);
  }
  if (n > 0) {
    text.resize((size_t)n);
    MultiByteToWideChar(codepage, flags, ARaw.data(), (int)ARaw.size(), text.data(), n);
  }
  for (auto& c : text)
    if (c < 32 || std::wcschr(L"<>:\"\\|?*", c)) c = L'_';
  return text;
}

// Splits a tar path into its components; false for a path that climbs out of the archive.
bool split_path(const std::string& APath, std::vector<std::string>& AParts) {
  AParts.clear();
  size_t start = 0;
  while (start <= APath.size()) {
    size_t end = APath.find('/', start);
    if (end == std::string::npos) end = APath.size();
    std::string part = APath.substr(start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") AParts.push_back(std::move(part));
    start = end + 1;
  }
  return true;
}

// --- archive model -----------------------------------------------------------------------------

struct Node {
  std::wstring name;  // as Windows can store it
  std::string raw;    // the path component as the archive spells it
  bool dir = false;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;  // of the data in the archive
  std::uint64_t mtime = 0;   // FILETIME value, 0 unknown
  int parent = -1;
  std::vector<int> children;
  std::map<std::wstring, int> by_name;
};

// One entry of the archive with the extension headers before it, or a global header.
struct Record {
  std::uint64_t start = 0;
  std::uint64_t end = 0;  // after the data's padding
  int node = -1;          // the node its path names, else the nearest one above; -1 none
  bool exact = false;     // the path names `node` itself
};

struct Archive {
  std::wstring file;
  std::vector<Node> nodes;  // node 0 is the root
  std::vector<Record> records;
  bool complete = false;  // read to its end; only then may a rewrite copy it

  Archive() { nodes.emplace_back().dir = true; }

  int child(int AParent, const std::wstring& AName) const;
  // Adds an entry; returns its node or -1 when it has no usable path.
  int add(const std::string& APath, bool ADir, std::uint64_t ASize, std::uint64_t AOffset, std::uint64_t AMtime);
  int find_path(const std::string& APath) const;
  // The node a path names, or the nearest one above it (exact false); -1 for a path that climbs.
  std::pair<int, bool> locate(const std::string& APath) const;
  // The archive's spelling of a node's path, '/'-separated, empty for the root.
  std::string raw_path(int ANode) const;

 private:
  int add_child(int AParent, const std::string& ARaw, bool ADir);
};

int Archive::child(int AParent, const std::wstring& AName) const {
  const auto& m = nodes[(size_t)AParent].by_name;
  auto it = m.find(AName);
  return it == m.end() ? -1 : it->second;
}

int Archive::add_child(int AParent, const std::string& ARaw, bool ADir) {
  Node node;
  node.name = windows_component(ARaw);
  node.raw = ARaw;
  node.dir = ADir;
  node.parent = AParent;
  nodes.push_back(std::move(node));
  const int index = (int)nodes.size() - 1;
  nodes[(size_t)AParent].children.push_back(index);
  nodes[(size_t)AParent].by_name[nodes.back().name] = index;
  return index;
}

int Archive::add(const std::string& APath, bool ADir, std::uint64_t ASize, std::uint64_t AOffset,
                 std::uint64_t AMtime) {
  std::vector<std::string> parts;
  if (!split_path(APath, parts) || parts.empty()) return -1;
  int at = 0;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    int next = child(at, windows_component(parts[i]));
    if (next < 0) next = add_child(at, parts[i], true);
    nodes[(size_t)next].dir = true;  // a folder now, whatever an earlier entry said
    at = next;
  }
  int node = child(at, windows_component(parts.back()));
  if (node < 0) node = add_child(at, parts.back(), ADir);
  Node& n = nodes[(size_t)node];
  // A later entry of the same path replaces the earlier one, as tar extracts them.
  n.dir = ADir || (!n.children.empty());
  n.size = ADir ? 0 : ASize;
  n.offset = AOffset;
  n.mtime = AMtime;
  return node;
}

int Archive::find_path(const std::string& APath) const {
  const auto at = locate(APath);
  return at.second ? at.first : -1;
}

std::pair<int, bool> Archive::locate(const std::string& APath) const {
  std::vector<std::string> parts;
  if (!split_path(APath, parts)) return {-1, false};
  int at = 0;
  for (const auto& p : parts) {
    const int next = child(at, windows_component(p));
    if (next < 0) return {at, false};
    at = next;
  }
  return {at, !parts.empty()};
}

std::string Archive::raw_path(int ANode) const {
  std::string path;
  for (int at = ANode; at > 0; at = nodes[(size_t)at].parent)
    path = path.empty() ? nodes[(size_t)at].raw : nodes[(size_t)at].raw + "/" + path;
  return path;
}

// --- reading -----------------------------------------------------------------------------------

// What the extension headers before an entry said.
struct Extensions {
  std::string long_name, pax_path;
  bool has_long_name = false, has_pax_path = false, has_pax_size = false, has_pax_mtime = false;
  std::uint64_t pax_size = 0, pax_mtime = 0;
  bool pending = false;         // headers read that belong to an entry still to come
  std::uint64_t entry_start = 0;  // where they began
};

std::string entry_path(const unsigned char* ABlock, const Extensions& AExt) {
  if (AExt.has_pax_path) return AExt.pax_path;
  if (AExt.has_long_name) return AExt.long_name;
  std::string path = field_text(ABlock, 100);
  // Only POSIX ustar keeps a path prefix; GNU headers use that space for other fields.
  if (is_ustar_magic(ABlock) && !is_gnu_magic(ABlock)) {
    const std::string prefix = field_text(ABlock + 345, 155);
    if (!prefix.empty()) path = prefix + "/" + path;
  }
  return path;
}

// Puts an entry into the tree as tar would extract it.
void add_entry(Archive& AArchive, const unsigned char* ABlock, const std::string& APath, std::uint64_t ASize,
               std::uint64_t AData, std::uint64_t AWhen) {
  const char type = (char)ABlock[156];
  if (type == '0' || type == '\0' || type == '7') {
    // Old archives mark folders only with a trailing slash.
    const bool dir = type == '\0' && !APath.empty() && APath.back() == '/';
    AArchive.add(APath, dir, ASize, AData, AWhen);
  } else if (type == '5') {
    AArchive.add(APath, true, 0, 0, AWhen);
  } else if (type == '1') {
    // A hard link shares the data of an earlier entry.
    const int target = AArchive.find_path(field_text(ABlock + 157, 100));
    if (target >= 0 && !AArchive.nodes[(size_t)target].dir) {
      const Node t = AArchive.nodes[(size_t)target];
      AArchive.add(APath, false, t.size, t.offset, AWhen);
    }
  }
  // Symbolic links, devices and FIFOs have no place in a Windows folder: not listed.
}

// Reads the data of an 'L' or 'x' header into AExt; false when it cannot be read.
bool read_extension(ArchiveFile& AFile, char AType, std::uint64_t AData, std::uint64_t ASize, Extensions& AExt) {
  if (ASize > (AType == 'L' ? kMaxLongName : kMaxPaxHeader)) return false;
  std::string text((size_t)ASize, '\0');
  if (ASize && !AFile.read(AData, text.data(), (size_t)ASize)) return false;
  if (AType == 'L') {
    AExt.long_name = text.substr(0, text.find('\0'));
    AExt.has_long_name = true;
  } else {
    parse_pax(text, AExt.pax_path, AExt.has_pax_path, AExt.pax_size, AExt.has_pax_size, AExt.pax_mtime,
              AExt.has_pax_mtime);
  }
  return true;
}

// The node each record belongs to, once the whole tree is known.
void place_records(Archive& AArchive, const std::vector<std::string>& APaths) {
  for (size_t i = 0; i < AArchive.records.size(); ++i) {
    if (APaths[i].empty()) continue;  // a global header, or an entry without a path: always kept
    const auto at = AArchive.locate(APaths[i]);
    AArchive.records[i].node = at.first;
    AArchive.records[i].exact = at.second;
  }
}

// Reads the headers of the whole archive. Stops quietly at the end marker, at the file's end or at
// the first block that is not a valid header; only the first two leave the archive complete.
void load_archive(ArchiveFile& AFile, Archive& AArchive) {
  unsigned char block[kBlock];
  std::uint64_t pos = 0;
  Extensions ext;
  std::vector<std::string> paths;  // per record, for placing it once the tree is complete
  for (;;) {
    // An archive without its end marker is whole as well; a torn block is not.
    const bool at_end = pos == AFile.size();
    if (!at_end && !AFile.read(pos, block, kBlock)) break;
    if (at_end || all_zero(block)) {
      AArchive.complete = !ext.pending;
      break;
    }
    if (!checksum_ok(block)) break;
    std::uint64_t size = 0, mtime = 0;
    if (!parse_number(block + 124, 12, size)) break;
    if (!parse_number(block + 136, 12, mtime)) mtime = 0;
    const char type = (char)block[156];
    if (ext.has_pax_size && type != 'x' && type != 'g') size = ext.pax_size;
    const std::uint64_t data = pos + kBlock;
    if (size > AFile.size() - std::min(AFile.size(), data)) break;  // data beyond the file's end
    const std::uint64_t next = data + ((size + kBlock - 1) / kBlock) * kBlock;
    if (!ext.pending) ext.entry_start = pos;

    if (type == 'L' || type == 'x' || type == 'K') {
      if (type != 'K' && !read_extension(AFile, type, data, size, ext)) break;
      ext.pending = true;  // long link names change no entry here, but belong to the next one
      pos = next;
      continue;
    }
    if (type == 'g') {
      if (!ext.pending) {
        AArchive.records.push_back(Record{pos, next});
        paths.emplace_back();
      }
      pos = next;
      continue;
    }

    const std::string path = entry_path(block, ext);
    add_entry(AArchive, block, path, size, data, unix_to_filetime(ext.has_pax_mtime ? ext.pax_mtime : mtime));
    AArchive.records.push_back(Record{ext.entry_start, next});
    paths.push_back(path);
    ext = Extensions{};
    pos = next;
  }
  place_records(AArchive, paths);
}

bool looks_like_tar(const unsigned char* ABuffer, size_t ASize) {
  if (!ABuffer || ASize < kBlock) return false;
  return !all_zero(ABuffer) && checksum_ok(ABuffer);
}

// --- failures ----------------------------------------------------------------------------------

// A failure the user hears of: one of the plugin's messages and the name it concerns.
struct Failure {
  intptr_t message;
  std::wstring subject;
  DWORD code = 0;  // the system's error, 0 for none
};

// The user pressed Esc while the archive was being written.
struct Cancelled {};

// The failure of the system call that just failed, its error taken before anything can change it.
Failure system_failure(intptr_t AMessage, const std::wstring& ASubject) {
  const DWORD code = GetLastError();
  return Failure{AMessage, ASubject, code};
}

// --- text and times ----------------------------------------------------------------------------

// False for text Windows holds but UTF-8 cannot (a lone surrogate).
bool to_utf8(const std::wstring& AText, std::string& AUtf8) {
  AUtf8.clear();
  if (AText.empty()) return true;
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, AText.data(), (int)AText.size(), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return false;
  AUtf8.resize((size_t)n);
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, AText.data(), (int)AText.size(), AUtf8.data(), n, nullptr,
                      nullptr);
  return true;
}

std::wstring from_utf8(const std::string& AUtf8) {
  std::wstring text;
  const int n = MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), (int)AUtf8.size(), nullptr, 0);
  if (n <= 0) return text;
  text.resize((size_t)n);
  MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), (int)AUtf8.size(), text.data(), n);
  return text;
}

std::uint64_t filetime_to_unix(const FILETIME& ATime) {
  const std::uint64_t value = ((std::uint64_t)ATime.dwHighDateTime << 32) | ATime.dwLowDateTime;
  return value > kUnixEpochAsFileTime ? (value - kUnixEpochAsFileTime) / 10000000ULL : 0;
}

// --- headers -----------------------------------------------------------------------------------

constexpr std::uint64_t kMaxOctal11 = 077777777777ULL;  // what 11 octal digits hold
constexpr unsigned kFileMode = 0644, kFolderMode = 0755;

void put_octal(char* AField, size_t ALength, std::uint64_t AValue) {
  std::snprintf(AField, ALength, "%0*llo", (int)(ALength - 1), (unsigned long long)AValue);
}

// Sizes beyond 8 GiB take GNU base-256, which the reader and GNU tar both understand.
void put_size(char* AField, std::uint64_t ASize) {
  if (ASize <= kMaxOctal11) return put_octal(AField, 12, ASize);
  AField[0] = (char)0x80;
  for (int i = 0; i < 8; ++i) AField[11 - i] = (char)(ASize >> (8 * i));
}

std::string header_block(const std::string& AName, const std::string& APrefix, char AType, unsigned AMode,
                         std::uint64_t ASize, std::uint64_t AMtime, bool AGnu) {
  std::string b(kBlock, '\0');
  std::memcpy(&b[0], AName.data(), std::min<size_t>(AName.size(), 100));
  put_octal(&b[100], 8, AMode);
  put_octal(&b[108], 8, 0);
  put_octal(&b[116], 8, 0);
  put_size(&b[124], ASize);
  put_octal(&b[136], 12, std::min(AMtime, kMaxOctal11));
  b[156] = AType;
  if (AGnu) {
    std::memcpy(&b[257], "ustar  ", 8);
  } else {
    std::memcpy(&b[257], "ustar", 6);
    std::memcpy(&b[263], "00", 2);
    std::memcpy(&b[345], APrefix.data(), std::min<size_t>(APrefix.size(), 155));
  }
  std::memset(&b[148], ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : b) sum += c;
  std::snprintf(&b[148], 7, "%06o", sum);  // six digits, NUL, and the space already there
  return b;
}

// A ustar path: a name of up to 100 bytes after a prefix of up to 155, split at a '/'.
bool ustar_split(const std::string& APath, std::string& APrefix, std::string& AName) {
  if (APath.size() <= 100) {
    APrefix.clear();
    AName = APath;
    return true;
  }
  const size_t slash = APath.find('/', APath.size() - 101);
  if (slash == std::string::npos || slash == 0 || slash > 155 || slash + 1 == APath.size()) return false;
  APrefix = APath.substr(0, slash);
  AName = APath.substr(slash + 1);
  return true;
}

void pad_to_block(std::string& AData) { AData.append((kBlock - AData.size() % kBlock) % kBlock, '\0'); }

// The header blocks of one entry, with a GNU long name record first when the path fits no ustar
// header. Folder paths end with '/'. AMtime in Unix seconds.
std::string entry_headers(const std::string& APath, bool ADir, std::uint64_t ASize, std::uint64_t AMtime) {
  const char type = ADir ? '5' : '0';
  const unsigned mode = ADir ? kFolderMode : kFileMode;
  std::string prefix, name;
  if (ustar_split(APath, prefix, name)) return header_block(name, prefix, type, mode, ASize, AMtime, false);
  if (APath.size() >= kMaxLongName) throw Failure{MErrNameTooLong, from_utf8(APath)};
  // GNU tar's form: a record named ././@LongLink holding the path, then the entry with the path cut.
  std::string data = APath + '\0';
  pad_to_block(data);
  return header_block("././@LongLink", "", 'L', kFileMode, APath.size() + 1, 0, true) + data +
         header_block(APath.substr(0, 100), "", type, mode, ASize, AMtime, true);
}

// --- output ------------------------------------------------------------------------------------

constexpr size_t kChunk = 1 << 20;  // what the plugin reads and writes at a time

std::wstring folder_of(const std::wstring& APath) {
  const size_t slash = APath.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : APath.substr(0, slash);
}

// The new archive, in a temporary file beside the target until commit puts it in place. Anything
// else deletes it.
class OutputFile {
 public:
  explicit OutputFile(const std::wstring& ATarget) : FTarget(ATarget) {
    const std::wstring folder = folder_of(ATarget);
    for (unsigned attempt = 0; !FHandle && attempt < 100; ++attempt) {
      wchar_t name[64];
      std::swprintf(name, 64, L"\\~tar%lX%llX%X.tmp", GetCurrentProcessId(), GetTickCount64(), attempt);
      FTemp = folder + name;
      FHandle = own_file(CreateFileW(long_path(FTemp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      if (!FHandle && GetLastError() != ERROR_FILE_EXISTS) throw system_failure(MErrWrite, ATarget);
    }
    if (!FHandle) throw Failure{MErrWrite, ATarget, ERROR_FILE_EXISTS};
    FBuffer.reserve(kChunk);
  }
  ~OutputFile() {
    FHandle.reset();
    if (!FCommitted) DeleteFileW(long_path(FTemp).c_str());
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(const char* AData, size_t ACount) {
    FBuffer.insert(FBuffer.end(), AData, AData + ACount);
    if (FBuffer.size() >= kChunk) flush();
  }
  void write(const std::string& AData) { write(AData.data(), AData.size()); }

  void commit(bool AReplace) {
    flush();
    FHandle.reset();
    if (!MoveFileExW(long_path(FTemp).c_str(), long_path(FTarget).c_str(), AReplace ? MOVEFILE_REPLACE_EXISTING : 0)) {
      const DWORD error = GetLastError();
      const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
      throw Failure{taken ? MErrExists : MErrWrite, FTarget, taken ? 0 : error};
    }
    FCommitted = true;
  }

 private:
  void flush() {
    DWORD written = 0;
    if (!FBuffer.empty() &&
        (!WriteFile(FHandle.get(), FBuffer.data(), (DWORD)FBuffer.size(), &written, nullptr) ||
         written != FBuffer.size()))
      throw system_failure(MErrWrite, FTarget);
    FBuffer.clear();
  }

  std::wstring FTarget, FTemp;
  UniqueHandle FHandle;
  std::vector<char> FBuffer;
  bool FCommitted = false;
};

// --- progress ----------------------------------------------------------------------------------

// Esc in the console input, the way FAR's plugins learn of the user's cancel. Reads what input is
// waiting and nothing more, so it never blocks.
bool escape_pressed() {
  // No console is no reason to stop asking: the host answers these calls itself.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD count = 0;
  if (!GetNumberOfConsoleInputEvents(input, &count)) return false;
  INPUT_RECORD records[16];
  bool escape = false;
  while (count > 0) {
    DWORD read = 0;
    if (!ReadConsoleInputW(input, records, std::min<DWORD>(count, 16), &read) || read == 0) break;
    for (DWORD i = 0; i < read; ++i)
      escape = escape || (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                          records[i].Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE);
    count -= std::min(count, read);
  }
  return escape;
}

// Reports each new percentage of the job and looks for a cancel at the same moments only: at most
// a hundred times a job.
class Progress {
 public:
  explicit Progress(std::uint64_t ATotal) : FTotal(ATotal) {}

  void advance(std::uint64_t ABytes) {
    FDone += ABytes;
    const int percent = FTotal == 0 || FDone >= FTotal ? 100
                        : FTotal <= UINT64_MAX / 100   ? (int)(FDone * 100 / FTotal)
                                                       : (int)(FDone / (FTotal / 100));
    if (percent == FPercent) return;
    FPercent = percent;
    report_progress(percent);
    if (escape_pressed()) throw Cancelled{};
  }

  // The job is done whatever the estimate from the scan said.
  void finish() {
    if (FPercent != 100) report_progress(100);
    FPercent = 100;
  }

 private:
  std::uint64_t FTotal, FDone = 0;
  int FPercent = -1;
};

// --- rewrites ----------------------------------------------------------------------------------

// An entry to write after the ones kept.
struct NewEntry {
  std::string path;         // '/'-separated, as the archive spells it, no trailing slash
  bool dir = false;
  std::wstring source;      // the file or folder on disk; empty for a folder made in the archive
  std::uint64_t size = 0;   // as the scan saw it; the file's size when it is read counts
  std::uint64_t mtime = 0;  // Unix seconds
};

// The records of `source` that `keep` marks, in their order, then `entries`.
struct Rewrite {
  const Archive* source = nullptr;
  std::vector<char> keep;  // one flag per record of source
  std::vector<NewEntry> entries;
};

std::uint64_t padded(std::uint64_t ASize) { return (ASize + kBlock - 1) / kBlock * kBlock; }

std::uint64_t job_size(const Rewrite& AJob) {
  std::uint64_t total = 0;
  for (size_t i = 0; AJob.source && i < AJob.source->records.size(); ++i)
    if (AJob.keep[i]) total += AJob.source->records[i].end - AJob.source->records[i].start;
  for (const auto& e : AJob.entries) total += kBlock + padded(e.size);
  return total;
}

void copy_span(ArchiveFile& AFrom, const std::wstring& AName, std::uint64_t AStart, std::uint64_t AEnd,
               OutputFile& ATo, Progress& AProgress, std::vector<char>& ABuffer) {
  while (AStart < AEnd) {
    const size_t chunk = (size_t)std::min<std::uint64_t>(ABuffer.size(), AEnd - AStart);
    if (!AFrom.read(AStart, ABuffer.data(), chunk)) throw system_failure(MErrRead, AName);
    ATo.write(ABuffer.data(), chunk);
    AStart += chunk;
    AProgress.advance(chunk);
  }
}

// The kept records, adjacent ones copied as one span.
void copy_kept(const Archive& ASource, const std::vector<char>& AKeep, OutputFile& ATo, Progress& AProgress) {
  ArchiveFile from(ASource.file);
  if (!from.ok()) throw system_failure(MErrRead, ASource.file);
  std::vector<char> buffer(kChunk);
  std::uint64_t start = 0, end = 0;
  for (size_t i = 0; i < ASource.records.size(); ++i) {
    if (!AKeep[i]) continue;
    const Record& r = ASource.records[i];
    if (r.start != end) {
      copy_span(from, ASource.file, start, end, ATo, AProgress, buffer);
      start = r.start;
    }
    end = r.end;
  }
  copy_span(from, ASource.file, start, end, ATo, AProgress, buffer);
}

void write_folder(const NewEntry& AEntry, OutputFile& ATo, Progress& AProgress) {
  ATo.write(entry_headers(AEntry.path + "/", true, 0, AEntry.mtime));
  AProgress.advance(kBlock);
}

// The file's size and time are taken from the open file, so the header matches what is read.
void write_file(const NewEntry& AEntry, OutputFile& ATo, Progress& AProgress, std::vector<char>& ABuffer) {
  const UniqueHandle file = own_file(CreateFileW(long_path(AEntry.source).c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !GetFileInformationByHandle(file.get(), &info)) throw system_failure(MErrRead, AEntry.source);
  const std::uint64_t size = ((std::uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
  ATo.write(entry_headers(AEntry.path, false, size, filetime_to_unix(info.ftLastWriteTime)));
  AProgress.advance(kBlock);
  for (std::uint64_t done = 0; done < size;) {
    DWORD got = 0;
    const DWORD chunk = (DWORD)std::min<std::uint64_t>(ABuffer.size(), size - done);
    if (!ReadFile(file.get(), ABuffer.data(), chunk, &got, nullptr)) throw system_failure(MErrRead, AEntry.source);
    if (got == 0) throw Failure{MErrRead, AEntry.source, ERROR_HANDLE_EOF};  // shorter than its header says
    ATo.write(ABuffer.data(), got);
    done += got;
    AProgress.advance(got);
  }
  const std::string padding((size_t)(padded(size) - size), '\0');
  ATo.write(padding);
  AProgress.advance(padding.size());
}

// Writes the archive to a temporary file in ATarget's folder and puts it in ATarget's place:
// replacing it, or only where no file is yet (AReplace false). Throws Failure or Cancelled, and
// then leaves ATarget as it was and no temporary file behind.
void write_archive(const std::wstring& ATarget, const Rewrite& AJob, bool AReplace) {
  Progress progress(job_size(AJob));
  progress.advance(0);
  OutputFile out(ATarget);
  if (AJob.source) copy_kept(*AJob.source, AJob.keep, out, progress);
  std::vector<char> buffer(kChunk);
  for (const auto& entry : AJob.entries) {
    if (entry.dir)
      write_folder(entry, out, progress);
    else
      write_file(entry, out, progress, buffer);
  }
  out.write(std::string(2 * kBlock, '\0'));  // the end marker
  out.commit(AReplace);
  progress.finish();
}

// --- changes -----------------------------------------------------------------------------------

// Items as FAR hands them to PutFilesW: bare names in a folder on disk.
struct Sources {
  std::wstring folder;
  std::vector<std::wstring> names;
};

// A name one path component of the archive may take: what Windows allows in a file name.
bool valid_name(const std::wstring& AName) {
  if (AName.empty() || AName == L"." || AName == L"..") return false;
  for (wchar_t c : AName)
    if (c < 32 || std::wcschr(L"<>:\"/\\|?*", c)) return false;
  return true;
}

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

// Adds the items, folders with all they hold, below AFolder (the archive's spelling, empty for the
// root); each replaces an entry of the same path. Returns what was packed.
std::vector<NewEntry> add_files(const std::wstring& AFile, const std::string& AFolder, const Sources& ASources) {
  const Archive archive = load_for_update(AFile);
  Rewrite job;
  job.source = &archive;
  job.entries = scan_sources(ASources, AFolder, AFile);
  job.keep = keep_unreplaced(archive, job.entries);
  write_archive(AFile, job, true);
  return std::move(job.entries);
}

// Writes a new archive of the items; never over an existing file.
std::vector<NewEntry> create_archive(const std::wstring& AFile, const Sources& ASources) {
  if (GetFileAttributesW(long_path(AFile).c_str()) != INVALID_FILE_ATTRIBUTES) throw Failure{MErrExists, AFile};
  Rewrite job;
  job.entries = scan_sources(ASources, "", AFile);
  write_archive(AFile, job, false);
  return std::move(job.entries);
}

// Deletes the entries of these paths, folders with all below them.
void delete_entries(const std::wstring& AFile, const std::vector<std::string>& APaths) {
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
  write_archive(AFile, job, true);
}

// Adds a folder entry; false, and no rewrite, when the folder is there already.
bool make_folder(const std::wstring& AFile, const std::string& APath) {
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
  write_archive(AFile, job, true);
  return true;
}

// Removes packed sources: the files, then each folder that is empty then. The first that stays, or "".
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

// --- the user ----------------------------------------------------------------------------------

void show_failure(const Failure& AFailure) {
  if (!GHaveInfo || !GInfo.Message) return;
  const wchar_t* items[] = {msg(MErrorTitle), msg(AFailure.message), AFailure.subject.c_str()};
  const TFarFlags flags = FMSG_WARNING | FMSG_MB_OK | (AFailure.code ? FMSG_ERRORTYPE : 0);
  SetLastError(AFailure.code);  // what FMSG_ERRORTYPE explains
  GInfo.Message(&kPluginGuid, &kErrorGuid, flags, nullptr, items, AFailure.subject.empty() ? 2 : 3, 0);
}

// The text the user typed; Cancelled for Esc or an empty answer.
std::wstring ask(const GUID& AId, intptr_t ATitle, intptr_t APrompt, const std::wstring& AInitial) {
  if (!GHaveInfo || !GInfo.InputBox) throw Failure{MErrBadName, AInitial};  // no one to ask
  std::vector<wchar_t> answer(32768);
  if (!GInfo.InputBox(&kPluginGuid, &AId, msg(ATitle), msg(APrompt), nullptr, AInitial.c_str(), answer.data(),
                      answer.size(), nullptr, FIB_BUTTONS | FIB_NOUSELASTHISTORY) ||
      !answer[0])
    throw Cancelled{};
  return answer.data();
}

bool confirm_delete() {
  if (!GHaveInfo || !GInfo.Message) return false;
  const wchar_t* items[] = {msg(MDeleteTitle), msg(MDeleteQuestion), msg(MDeleteButton), msg(MCancelButton)};
  return GInfo.Message(&kPluginGuid, &kDeleteGuid, 0, nullptr, items, 4, 2) == 0;
}

// A name typed for a new archive, resolved against FAR's current folder as FAR resolves it.
std::wstring full_name(const std::wstring& AName) {
  std::vector<wchar_t> full(32768);
  if (GFsf.ConvertPath) {
    full.resize(std::max<size_t>(GFsf.ConvertPath(CPM_FULL, AName.c_str(), nullptr, 0), 1));
    GFsf.ConvertPath(CPM_FULL, AName.c_str(), full.data(), full.size());
  } else if (GetFullPathNameW(AName.c_str(), (DWORD)full.size(), full.data(), nullptr) >= full.size()) {
    full[0] = 0;
  }
  if (!full[0]) throw Failure{MErrBadName, AName};
  return full.data();
}

// One boundary for every call that may fail: failures are told unless the call is silent, and no
// exception leaves.
template <typename Body>
intptr_t guarded(TFarFlags AOpMode, intptr_t AFailed, intptr_t ACancelled, Body ABody) {
  const bool silent = (AOpMode & OPM_SILENT) != 0;
  try {
    return ABody();
  } catch (const Failure& failure) {
    if (!silent) show_failure(failure);
  } catch (const Cancelled&) {
    return ACancelled;
  } catch (const std::bad_alloc&) {
    if (!silent) show_failure(Failure{MErrMemory, L""});
  } catch (...) {
  }
  return AFailed;
}

// --- panels ------------------------------------------------------------------------------------

// A panel's archive; one without a file is the creation probe's, which PutFilesW fills.
struct Panel {
  Archive archive;
  int current = 0;
  std::wstring made;  // the folder MakeDirectoryW made last, for FAR to read back
};

// The archive as its file holds it after a change, standing in the same folder where it still is.
void reload(Panel& APanel) {
  const std::string folder = APanel.archive.raw_path(APanel.current);
  Archive fresh;
  fresh.file = APanel.archive.file;
  ArchiveFile file(fresh.file);
  if (file.ok()) load_archive(file, fresh);
  APanel.archive = std::move(fresh);
  const auto at = APanel.archive.locate(folder);
  APanel.current = at.first > 0 && APanel.archive.nodes[(size_t)at.first].dir ? at.first : 0;
}

// Our own items carry their node; a foreign item is looked up by name in the current folder.
int item_node(const Panel& APanel, const TPluginPanelItem& AItem) {
  const int index = (int)reinterpret_cast<intptr_t>(AItem.UserData.Data) - 1;
  if (index > 0 && (size_t)index < APanel.archive.nodes.size() &&
      APanel.archive.nodes[(size_t)index].parent == APanel.current)
    return index;
  return AItem.FileName ? APanel.archive.child(APanel.current, AItem.FileName) : -1;
}

void fill_item(const Node& ANode, int AIndex, TPluginPanelItem& AItem) {
  AItem = TPluginPanelItem{};
  AItem.FileName = ANode.name.c_str();
  AItem.FileSize = ANode.size;
  AItem.AllocationSize = ANode.size;
  AItem.LastWriteTime.dwLowDateTime = (DWORD)ANode.mtime;
  AItem.LastWriteTime.dwHighDateTime = (DWORD)(ANode.mtime >> 32);
  AItem.FileAttributes = ANode.dir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  AItem.UserData.Data = reinterpret_cast<void*>((intptr_t)AIndex + 1);
}

bool set_time(HANDLE AFile, std::uint64_t AMtime) {
  if (!AMtime) return true;
  FILETIME t{(DWORD)AMtime, (DWORD)(AMtime >> 32)};
  return SetFileTime(AFile, nullptr, nullptr, &t) != 0;
}

bool extract_node(ArchiveFile& AFile, const Archive& AArchive, int AIndex, const std::wstring& AFolder) {
  const Node& node = AArchive.nodes[(size_t)AIndex];
  const std::wstring target = AFolder + node.name;
  if (node.dir) {
    if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    bool ok = true;
    for (int child : node.children) ok = extract_node(AFile, AArchive, child, target + L"\\") && ok;
    return ok;
  }
  const UniqueHandle out = own_file(
      CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return false;
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (std::uint64_t done = 0; ok && done < node.size;) {
    const size_t chunk = (size_t)std::min<std::uint64_t>(buffer.size(), node.size - done);
    DWORD written = 0;
    ok = AFile.read(node.offset + done, buffer.data(), chunk) &&
         WriteFile(out.get(), buffer.data(), (DWORD)chunk, &written, nullptr) && written == chunk;
    done += chunk;
  }
  ok = set_time(out.get(), node.mtime) && ok;
  if (!ok) DeleteFileW(target.c_str());
  return ok;
}

// --- calls -------------------------------------------------------------------------------------

intptr_t put_files(Panel& APanel, const TPutFilesInfo& AInfo) {
  Sources sources{AInfo.SrcPath ? AInfo.SrcPath : L"", {}};
  for (size_t i = 0; i < AInfo.ItemsNumber; ++i)
    sources.names.emplace_back(AInfo.PanelItem[i].FileName ? AInfo.PanelItem[i].FileName : L"");
  if (sources.names.empty()) return 0;
  std::vector<NewEntry> packed;
  if (APanel.archive.file.empty()) {
    const std::wstring name = full_name(ask(kCreateGuid, MCreateTitle, MCreatePrompt, sources.names[0] + L".tar"));
    packed = create_archive(name, sources);
    APanel.archive.file = name;
  } else {
    packed = add_files(APanel.archive.file, APanel.archive.raw_path(APanel.current), sources);
  }
  reload(APanel);
  if (AInfo.Move) {
    // The archive holds the files now: a source that stays is told, the copy stands.
    const std::wstring kept = delete_sources(packed);
    if (!kept.empty() && !(AInfo.OpMode & OPM_SILENT)) show_failure(Failure{MErrDeleteSource, kept});
  }
  return 2;
}

intptr_t delete_files(Panel& APanel, const TDeleteFilesInfo& AInfo) {
  if (APanel.archive.file.empty() || AInfo.ItemsNumber == 0) return FALSE;
  std::vector<std::string> paths;
  for (size_t i = 0; i < AInfo.ItemsNumber; ++i) {
    const TPluginPanelItem& item = AInfo.PanelItem[i];
    const int node = item_node(APanel, item);
    if (node <= 0) throw Failure{MErrNotFound, item.FileName ? item.FileName : L""};
    paths.push_back(APanel.archive.raw_path(node));
  }
  if (!(AInfo.OpMode & OPM_SILENT) && !confirm_delete()) return FALSE;
  delete_entries(APanel.archive.file, paths);
  reload(APanel);
  return TRUE;
}

intptr_t make_directory(Panel& APanel, TMakeDirectoryInfo& AInfo) {
  if (APanel.archive.file.empty()) return 0;
  std::wstring name = AInfo.Name ? AInfo.Name : L"";
  if (!(AInfo.OpMode & OPM_SILENT)) name = ask(kMakeFolderGuid, MMakeFolderTitle, MMakeFolderPrompt, name);
  std::string raw;
  if (!valid_name(name) || !to_utf8(name, raw)) throw Failure{MErrBadName, name};
  const std::string folder = APanel.archive.raw_path(APanel.current);
  make_folder(APanel.archive.file, join(folder, raw));
  reload(APanel);
  APanel.made = name;
  AInfo.Name = APanel.made.c_str();
  return 1;
}

}  // namespace

extern "C" {

void WINAPI GetGlobalInfoW(TGlobalInfo* AInfo) {
  AInfo->MinFarVersion = TVersionInfo{3, 0, 0, 0, 0};
  AInfo->Version = TVersionInfo{1, 1, 0, 1, 0};
  AInfo->Guid = kPluginGuid;
  AInfo->Title = L"Tar";
  AInfo->Description = L"POSIX tar archives";
  AInfo->Author = L"Wexlor samples";
}

void WINAPI SetStartupInfoW(const PluginStartupInfo* AInfo) {
  // Older hosts may hand over shorter tables: copy what they announce. Both live only for this call.
  std::memcpy(&GInfo, AInfo, std::min<size_t>(sizeof(GInfo), AInfo->StructSize));
  if (AInfo->StructSize > offsetof(PluginStartupInfo, FSF) && AInfo->FSF)
    std::memcpy(&GFsf, AInfo->FSF, std::min<size_t>(sizeof(GFsf), AInfo->FSF->StructSize));
  GInfo.FSF = &GFsf;
  GHaveInfo = true;
}

void WINAPI GetPluginInfoW(TPluginInfo* AInfo) {
  static const wchar_t* strings[1];
  strings[0] = GHaveInfo && GInfo.GetMsg ? GInfo.GetMsg(&kPluginGuid, MTitle) : L"Tar";
  AInfo->PluginConfig.Guids = &kMenuGuid;
  AInfo->PluginConfig.Strings = strings;
  AInfo->PluginConfig.Count = 0;  // nothing to configure
}

// A null FileName is FAR's probe for a plugin that creates archives.
HANDLE WINAPI AnalyseW(const TAnalyseInfo* AInfo) {
  if (!AInfo) return nullptr;
  if (!AInfo->FileName) return reinterpret_cast<HANDLE>(1);
  if (!looks_like_tar(static_cast<const unsigned char*>(AInfo->Buffer), AInfo->BufferSize)) return nullptr;
  return reinterpret_cast<HANDLE>(1);
}

void WINAPI CloseAnalyseW(const TCloseAnalyseInfo*) {}

HANDLE WINAPI OpenW(const TOpenInfo* AInfo) {
  if (!AInfo || AInfo->OpenFrom != OPEN_ANALYSE || !AInfo->Data) return nullptr;
  const auto* open = reinterpret_cast<const TOpenAnalyseInfo*>(AInfo->Data);
  if (!open->Info) return nullptr;
  try {
    auto panel = std::make_unique<Panel>();
    if (open->Info->FileName) {
      panel->archive.file = open->Info->FileName;
      ArchiveFile file(panel->archive.file);
      if (!file.ok()) return nullptr;
      load_archive(file, panel->archive);
    }
    return panel.release();
  } catch (...) {
    return nullptr;
  }
}

void WINAPI ClosePanelW(const TClosePanelInfo* AInfo) { delete static_cast<Panel*>(AInfo->hPanel); }

intptr_t WINAPI GetFindDataW(TGetFindDataInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  try {
    const Node& dir = panel->archive.nodes[(size_t)panel->current];
    AInfo->ItemsNumber = dir.children.size();
    AInfo->PanelItem = nullptr;
    if (dir.children.empty()) return 1;
    auto* items = new TPluginPanelItem[dir.children.size()];
    for (size_t i = 0; i < dir.children.size(); ++i)
      fill_item(panel->archive.nodes[(size_t)dir.children[i]], dir.children[i], items[i]);
    AInfo->PanelItem = items;
    return 1;
  } catch (...) {
    AInfo->ItemsNumber = 0;
    return 0;
  }
}

void WINAPI FreeFindDataW(const TFreeFindDataInfo* AInfo) { delete[] AInfo->PanelItem; }

intptr_t WINAPI SetDirectoryW(const TSetDirectoryInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  const std::wstring dir = AInfo->Dir ? AInfo->Dir : L"";
  if (dir == L"\\" || dir.empty()) {
    panel->current = 0;
    return 1;
  }
  int at = dir[0] == L'\\' ? 0 : panel->current;
  size_t start = dir[0] == L'\\' ? 1 : 0;
  while (start < dir.size()) {
    size_t end = dir.find(L'\\', start);
    if (end == std::wstring::npos) end = dir.size();
    const std::wstring part = dir.substr(start, end - start);
    if (part == L"..") {
      if (at == 0) return 0;
      at = panel->archive.nodes[(size_t)at].parent;
    } else if (!part.empty() && part != L".") {
      const int next = panel->archive.child(at, part);
      if (next < 0 || !panel->archive.nodes[(size_t)next].dir) return 0;
      at = next;
    }
    start = end + 1;
  }
  panel->current = at;
  return 1;
}

intptr_t WINAPI GetFilesW(TGetFilesInfo* AInfo) {
  auto* panel = static_cast<Panel*>(AInfo->hPanel);
  if (!AInfo->PanelItem || !AInfo->DestPath) return 0;
  try {
    std::wstring folder = AInfo->DestPath;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    ArchiveFile file(panel->archive.file);
    if (!file.ok()) return 0;
    bool ok = true;
    for (size_t i = 0; i < AInfo->ItemsNumber; ++i) {
      const int index = item_node(*panel, AInfo->PanelItem[i]);
      ok = index > 0 && extract_node(file, panel->archive, index, folder) && ok;
    }
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

intptr_t WINAPI PutFilesW(const TPutFilesInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel || (AInfo->ItemsNumber && !AInfo->PanelItem)) return 0;
  return guarded(AInfo->OpMode, 0, -1, [&] { return put_files(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

intptr_t WINAPI DeleteFilesW(const TDeleteFilesInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel || (AInfo->ItemsNumber && !AInfo->PanelItem)) return FALSE;
  return guarded(AInfo->OpMode, FALSE, FALSE,
                 [&] { return delete_files(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

intptr_t WINAPI MakeDirectoryW(TMakeDirectoryInfo* AInfo) {
  if (!AInfo || !AInfo->hPanel) return 0;
  return guarded(AInfo->OpMode, 0, -1, [&] { return make_directory(*static_cast<Panel*>(AInfo->hPanel), *AInfo); });
}

void WINAPI ExitFARW(const TExitInfo*) {}

}  // extern "C"
