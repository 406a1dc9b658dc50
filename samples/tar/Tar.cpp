// Tar: a read-only FAR Manager 3 archive plugin for POSIX tar files (ustar, GNU long names,
// pax path/size/mtime). Folders are synthesized from the paths; GetFilesW copies entries out.
// Every field of the archive is checked against the file's size before it is used: a malformed
// archive ends the listing early, it never makes the plugin read outside what it owns.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"

namespace {

// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E31}
constexpr GUID kPluginGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x31}};
// {6A0C4E52-7A3B-4D19-9F1E-2B7D5C8A9E32}
constexpr GUID kMenuGuid = {0x6A0C4E52, 0x7A3B, 0x4D19, {0x9F, 0x1E, 0x2B, 0x7D, 0x5C, 0x8A, 0x9E, 0x32}};

enum MessageId : intptr_t { MTitle = 0, MDescription = 1 };

PluginStartupInfo GInfo{};
bool GHaveInfo = false;

constexpr size_t kBlock = 512;
constexpr std::uint64_t kMaxLongName = 64 * 1024;      // a GNU long name or link
constexpr std::uint64_t kMaxPaxHeader = 1024 * 1024;  // one pax extended header
constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// --- archive file ------------------------------------------------------------------------------

class ArchiveFile {
 public:
  explicit ArchiveFile(const wchar_t* AName)
      : FHandle(CreateFileW(AName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr)) {
    LARGE_INTEGER size{};
    if (FHandle != INVALID_HANDLE_VALUE && GetFileSizeEx(FHandle, &size)) FSize = (std::uint64_t)size.QuadPart;
  }
  ~ArchiveFile() {
    if (FHandle != INVALID_HANDLE_VALUE) CloseHandle(FHandle);
  }
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  bool ok() const { return FHandle != INVALID_HANDLE_VALUE; }
  std::uint64_t size() const { return FSize; }

  // Reads exactly ACount bytes at AOffset, or fails without reading past the end.
  bool read(std::uint64_t AOffset, void* ADest, size_t ACount) {
    if (AOffset > FSize || ACount > FSize - AOffset) return false;
    OVERLAPPED at{};
    at.Offset = (DWORD)AOffset;
    at.OffsetHigh = (DWORD)(AOffset >> 32);
    auto* dest = static_cast<char*>(ADest);
    while (ACount > 0) {
      DWORD got = 0;
      const DWORD chunk = (DWORD)std::min<size_t>(ACount, 1 << 20);
      if (!ReadFile(FHandle, dest, chunk, &got, &at) || got == 0) return false;
      dest += got;
      ACount -= got;
      AOffset += got;
      at.Offset = (DWORD)AOffset;
      at.OffsetHigh = (DWORD)(AOffset >> 32);
    }
    return true;
  }

 private:
  HANDLE FHandle;
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

// The name of one path component as Windows can store it: tar allows what Windows does not.
std::wstring windows_component(const std::string& AUtf8) {
  std::wstring text;
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, AUtf8.data(), (int)AUtf8.size(), nullptr, 0);
  UINT codepage = CP_UTF8;
  DWORD flags = MB_ERR_INVALID_CHARS;
  if (n <= 0) {
    // Not UTF-8: an archive from a system with a legacy code page.
    codepage = CP_ACP;
    flags = 0;
    n = MultiByteToWideChar(codepage, flags, AUtf8.data(), (int)AUtf8.size(), nullptr, 0);
  }
  if (n > 0) {
    text.resize((size_t)n);
    MultiByteToWideChar(codepage, flags, AUtf8.data(), (int)AUtf8.size(), text.data(), n);
  }
  for (auto& c : text)
    if (c < 32 || std::wcschr(L"<>:\"\\|?*", c)) c = L'_';
  return text;
}

// --- archive model -----------------------------------------------------------------------------

struct Node {
  std::wstring name;
  bool dir = false;
  std::uint64_t size = 0;
  std::uint64_t offset = 0;  // of the data in the archive
  std::uint64_t mtime = 0;   // FILETIME value, 0 unknown
  int parent = -1;
  std::vector<int> children;
  std::map<std::wstring, int> by_name;
};

struct Archive {
  std::wstring file;
  std::vector<Node> nodes;  // node 0 is the root

  Archive() { nodes.emplace_back().dir = true; }

  int child(int AParent, const std::wstring& AName) const {
    const auto& m = nodes[(size_t)AParent].by_name;
    auto it = m.find(AName);
    return it == m.end() ? -1 : it->second;
  }

  int add_child(int AParent, const std::wstring& AName, bool ADir) {
    Node node;
    node.name = AName;
    node.dir = ADir;
    node.parent = AParent;
    nodes.push_back(std::move(node));
    const int index = (int)nodes.size() - 1;
    nodes[(size_t)AParent].children.push_back(index);
    nodes[(size_t)AParent].by_name[AName] = index;
    return index;
  }

  // Splits a tar path into Windows components; false for a path that climbs out of the archive.
  static bool components(const std::string& APath, std::vector<std::wstring>& AParts) {
    AParts.clear();
    size_t start = 0;
    while (start <= APath.size()) {
      size_t end = APath.find('/', start);
      if (end == std::string::npos) end = APath.size();
      const std::string part = APath.substr(start, end - start);
      if (part == "..") return false;
      if (!part.empty() && part != ".") AParts.push_back(windows_component(part));
      start = end + 1;
    }
    return true;
  }

  // Adds an entry; returns its node or -1 when it has no usable path.
  int add(const std::string& APath, bool ADir, std::uint64_t ASize, std::uint64_t AOffset, std::uint64_t AMtime) {
    std::vector<std::wstring> parts;
    if (!components(APath, parts) || parts.empty()) return -1;
    int at = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      int next = child(at, parts[i]);
      if (next < 0) next = add_child(at, parts[i], true);
      nodes[(size_t)next].dir = true;  // a folder now, whatever an earlier entry said
      at = next;
    }
    int node = child(at, parts.back());
    if (node < 0) node = add_child(at, parts.back(), ADir);
    Node& n = nodes[(size_t)node];
    // A later entry of the same path replaces the earlier one, as tar extracts them.
    n.dir = ADir || (!n.children.empty());
    n.size = ADir ? 0 : ASize;
    n.offset = AOffset;
    n.mtime = AMtime;
    return node;
  }

  int find_path(const std::string& APath) const {
    std::vector<std::wstring> parts;
    if (!components(APath, parts) || parts.empty()) return -1;
    int at = 0;
    for (const auto& p : parts)
      if ((at = child(at, p)) < 0) return -1;
    return at;
  }
};

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

// Reads the headers of the whole archive. Stops quietly at the end marker, at the file's end or at
// the first block that is not a valid header.
bool load_archive(ArchiveFile& AFile, Archive& AArchive) {
  unsigned char block[kBlock];
  std::uint64_t pos = 0;
  std::string long_name, pax_path;
  bool has_long_name = false, has_pax_path = false, has_pax_size = false, has_pax_mtime = false;
  std::uint64_t pax_size = 0, pax_mtime = 0;
  while (AFile.read(pos, block, kBlock)) {
    if (all_zero(block)) break;
    if (!checksum_ok(block)) break;
    std::uint64_t size = 0, mtime = 0;
    if (!parse_number(block + 124, 12, size)) break;
    if (!parse_number(block + 136, 12, mtime)) mtime = 0;
    const char type = (char)block[156];
    if (has_pax_size && type != 'x' && type != 'g') size = pax_size;
    const std::uint64_t data = pos + kBlock;
    if (size > AFile.size() - std::min(AFile.size(), data)) break;  // data beyond the file's end
    const std::uint64_t next = data + ((size + kBlock - 1) / kBlock) * kBlock;

    if (type == 'L' || type == 'x') {
      if (size > (type == 'L' ? kMaxLongName : kMaxPaxHeader)) break;
      std::string text((size_t)size, '\0');
      if (size && !AFile.read(data, text.data(), (size_t)size)) break;
      if (type == 'L') {
        long_name = text.substr(0, text.find('\0'));
        has_long_name = true;
      } else {
        parse_pax(text, pax_path, has_pax_path, pax_size, has_pax_size, pax_mtime, has_pax_mtime);
      }
      pos = next;
      continue;
    }
    if (type == 'K' || type == 'g') {  // long link names and global headers change no entry here
      pos = next;
      continue;
    }

    std::string path;
    if (has_pax_path) {
      path = pax_path;
    } else if (has_long_name) {
      path = long_name;
    } else {
      path = field_text(block, 100);
      // Only POSIX ustar keeps a path prefix; GNU headers use that space for other fields.
      if (is_ustar_magic(block) && !is_gnu_magic(block)) {
        const std::string prefix = field_text(block + 345, 155);
        if (!prefix.empty()) path = prefix + "/" + path;
      }
    }
    const std::uint64_t when = unix_to_filetime(has_pax_mtime ? pax_mtime : mtime);

    if (type == '0' || type == '\0' || type == '7') {
      // Old archives mark folders only with a trailing slash.
      const bool dir = type == '\0' && !path.empty() && path.back() == '/';
      AArchive.add(path, dir, size, data, when);
    } else if (type == '5') {
      AArchive.add(path, true, 0, 0, when);
    } else if (type == '1') {
      // A hard link shares the data of an earlier entry.
      const int target = AArchive.find_path(field_text(block + 157, 100));
      if (target >= 0 && !AArchive.nodes[(size_t)target].dir) {
        const Node t = AArchive.nodes[(size_t)target];
        AArchive.add(path, false, t.size, t.offset, when);
      }
    }
    // Symbolic links, devices and FIFOs have no place in a Windows folder: not listed.
    has_long_name = has_pax_path = has_pax_size = has_pax_mtime = false;
    pos = next;
  }
  return true;
}

bool looks_like_tar(const unsigned char* ABuffer, size_t ASize) {
  if (!ABuffer || ASize < kBlock) return false;
  return !all_zero(ABuffer) && checksum_ok(ABuffer);
}

// --- panels ------------------------------------------------------------------------------------

struct Panel {
  Archive archive;
  int current = 0;
};

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
  HANDLE out = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (std::uint64_t done = 0; ok && done < node.size;) {
    const size_t chunk = (size_t)std::min<std::uint64_t>(buffer.size(), node.size - done);
    DWORD written = 0;
    ok = AFile.read(node.offset + done, buffer.data(), chunk) &&
         WriteFile(out, buffer.data(), (DWORD)chunk, &written, nullptr) && written == chunk;
    done += chunk;
  }
  ok = set_time(out, node.mtime) && ok;
  CloseHandle(out);
  if (!ok) DeleteFileW(target.c_str());
  return ok;
}

}  // namespace

extern "C" {

void WINAPI GetGlobalInfoW(TGlobalInfo* AInfo) {
  AInfo->MinFarVersion = TVersionInfo{3, 0, 0, 0, 0};
  AInfo->Version = TVersionInfo{1, 0, 0, 1, 0};
  AInfo->Guid = kPluginGuid;
  AInfo->Title = L"Tar";
  AInfo->Description = L"POSIX tar archives, read-only";
  AInfo->Author = L"Wexlor samples";
}

void WINAPI SetStartupInfoW(const PluginStartupInfo* AInfo) {
  // Older hosts may hand over a shorter table: copy what they announce.
  std::memcpy(&GInfo, AInfo, std::min<size_t>(sizeof(GInfo), AInfo->StructSize));
  GHaveInfo = true;
}

void WINAPI GetPluginInfoW(TPluginInfo* AInfo) {
  static const wchar_t* strings[1];
  strings[0] = GHaveInfo && GInfo.GetMsg ? GInfo.GetMsg(&kPluginGuid, MTitle) : L"Tar";
  AInfo->PluginConfig.Guids = &kMenuGuid;
  AInfo->PluginConfig.Strings = strings;
  AInfo->PluginConfig.Count = 0;  // nothing to configure
}

HANDLE WINAPI AnalyseW(const TAnalyseInfo* AInfo) {
  if (!AInfo || !looks_like_tar(static_cast<const unsigned char*>(AInfo->Buffer), AInfo->BufferSize)) return nullptr;
  return reinterpret_cast<HANDLE>(1);
}

void WINAPI CloseAnalyseW(const TCloseAnalyseInfo*) {}

HANDLE WINAPI OpenW(const TOpenInfo* AInfo) {
  if (!AInfo || AInfo->OpenFrom != OPEN_ANALYSE || !AInfo->Data) return nullptr;
  const auto* open = reinterpret_cast<const TOpenAnalyseInfo*>(AInfo->Data);
  if (!open->Info || !open->Info->FileName) return nullptr;
  try {
    auto panel = std::make_unique<Panel>();
    panel->archive.file = open->Info->FileName;
    ArchiveFile file(panel->archive.file.c_str());
    if (!file.ok() || !load_archive(file, panel->archive)) return nullptr;
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
    ArchiveFile file(panel->archive.file.c_str());
    if (!file.ok()) return 0;
    bool ok = true;
    for (size_t i = 0; i < AInfo->ItemsNumber; ++i) {
      const TPluginPanelItem& item = AInfo->PanelItem[i];
      // Our own items carry their node; a foreign item is looked up by name in the current folder.
      int index = (int)reinterpret_cast<intptr_t>(item.UserData.Data) - 1;
      if (index <= 0 || (size_t)index >= panel->archive.nodes.size() ||
          panel->archive.nodes[(size_t)index].parent != panel->current)
        index = item.FileName ? panel->archive.child(panel->current, item.FileName) : -1;
      ok = index > 0 && extract_node(file, panel->archive, index, folder) && ok;
    }
    return ok ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void WINAPI ExitFARW(const TExitInfo*) {}

}  // extern "C"
