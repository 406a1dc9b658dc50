// The archive as the plugin sees it: a tree of nodes for the panel, and the archive's records
// (each entry with its extension headers) as byte spans of the file, so that a rewrite can copy
// what it keeps without understanding it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tar {

constexpr size_t kBlock = 512;
constexpr std::uint64_t kMaxLongName = 64 * 1024;  // a GNU long name or link

struct HandleCloser {
  void operator()(HANDLE AHandle) const noexcept { CloseHandle(AHandle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Owns what CreateFileW returned; empty for INVALID_HANDLE_VALUE.
inline UniqueHandle own_file(HANDLE AHandle) {
  return UniqueHandle(AHandle == INVALID_HANDLE_VALUE ? nullptr : AHandle);
}

// A path Windows opens beyond MAX_PATH: full, with the extended-length prefix when long.
std::wstring long_path(const std::wstring& APath);

class ArchiveFile {
 public:
  explicit ArchiveFile(const std::wstring& AName);

  bool ok() const { return FHandle != nullptr; }
  std::uint64_t size() const { return FSize; }

  // Reads exactly ACount bytes at AOffset, or fails without reading past the end.
  bool read(std::uint64_t AOffset, void* ADest, size_t ACount);

 private:
  UniqueHandle FHandle;
  std::uint64_t FSize = 0;
};

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

// Splits a tar path into its components; false for a path that climbs out of the archive.
bool split_path(const std::string& APath, std::vector<std::string>& AParts);
// The name of one path component as Windows can store it: tar allows what Windows does not.
std::wstring windows_component(const std::string& ARaw);

// Reads the headers of the whole archive. Stops quietly at the end marker, at the file's end or at
// the first block that is not a valid header; only the first two leave the archive complete.
void load_archive(ArchiveFile& AFile, Archive& AArchive);
bool looks_like_tar(const unsigned char* ABuffer, size_t ASize);

}  // namespace tar
