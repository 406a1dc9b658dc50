// Writing tar archives: ustar headers (GNU long name records where a path fits none), and whole
// archives written to a temporary file that takes the target's place only once it is complete.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TarArchive.h"

namespace tar {

// A failure the user hears of: one of the plugin's messages and the name it concerns.
struct Failure {
  intptr_t message;
  std::wstring subject;
  DWORD code = 0;  // the system's error, 0 for none
};

// The failure of the system call that just failed, its error taken before anything can change it.
Failure system_failure(intptr_t AMessage, const std::wstring& ASubject);

// The user pressed Esc while the archive was being written.
struct Cancelled {};

// An entry to write after the ones kept.
struct NewEntry {
  std::string path;        // '/'-separated, as the archive spells it, no trailing slash
  bool dir = false;
  std::wstring source;     // the file or folder on disk; empty for a folder made in the archive
  std::uint64_t size = 0;  // as the scan saw it; the file's size when it is read counts
  std::uint64_t mtime = 0; // Unix seconds
};

// The percentage of the job done, 0 to 100, each value once.
using ProgressReport = void (*)(int APercent);

// The records of `source` that `keep` marks, in their order, then `entries`.
struct Rewrite {
  const Archive* source = nullptr;
  std::vector<char> keep;  // one flag per record of source
  std::vector<NewEntry> entries;
};

// Writes the archive to a temporary file in ATarget's folder and puts it in ATarget's place:
// replacing it, or only where no file is yet (AReplace false). Throws Failure or Cancelled, and
// then leaves ATarget as it was and no temporary file behind.
void write_archive(const std::wstring& ATarget, const Rewrite& AJob, bool AReplace, ProgressReport AReport);

// The header blocks of one entry, with a GNU long name record first when the path fits no ustar
// header. Folder paths end with '/'. AMtime in Unix seconds.
std::string entry_headers(const std::string& APath, bool ADir, std::uint64_t ASize, std::uint64_t AMtime);

std::uint64_t filetime_to_unix(const FILETIME& ATime);
// False for text Windows holds but UTF-8 cannot (a lone surrogate).
bool to_utf8(const std::wstring& AText, std::string& AUtf8);
std::wstring from_utf8(const std::string& AUtf8);

}  // namespace tar
