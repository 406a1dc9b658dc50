// Reading tar archives (ustar, GNU long names, pax path/size/mtime). Every field of the archive is
// checked against the file's size before it is used: a malformed archive ends the listing early,
// it never makes the plugin read outside what it owns.
#include "TarArchive.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace tar {

namespace {

constexpr std::uint64_t kMaxPaxHeader = 1024 * 1024;  // one pax extended header
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

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

}  // namespace

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

ArchiveFile::ArchiveFile(const std::wstring& AName)
    : FHandle(own_file(CreateFileW(long_path(AName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr))) {
  LARGE_INTEGER size{};
  if (FHandle && GetFileSizeEx(FHandle.get(), &size)) FSize = (std::uint64_t)size.QuadPart;
}

bool ArchiveFile::read(std::uint64_t AOffset, void* ADest, size_t ACount) {
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

}  // namespace tar
