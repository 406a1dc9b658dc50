#include "TarWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TarMessages.h"

namespace tar {

namespace {

constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
constexpr std::uint64_t kMaxOctal11 = 077777777777ULL;  // what 11 octal digits hold
constexpr unsigned kFileMode = 0644, kFolderMode = 0755;
constexpr size_t kChunk = 1 << 20;

// --- headers -----------------------------------------------------------------------------------

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

// --- output ------------------------------------------------------------------------------------

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
  Progress(std::uint64_t ATotal, ProgressReport AReport) : FTotal(ATotal), FReport(AReport) {}

  void advance(std::uint64_t ABytes) {
    FDone += ABytes;
    const int percent = FTotal == 0 || FDone >= FTotal ? 100
                        : FTotal <= UINT64_MAX / 100   ? (int)(FDone * 100 / FTotal)
                                                       : (int)(FDone / (FTotal / 100));
    if (percent == FPercent) return;
    FPercent = percent;
    if (FReport) FReport(percent);
    if (escape_pressed()) throw Cancelled{};
  }

  // The job is done whatever the estimate from the scan said.
  void finish() {
    if (FPercent != 100 && FReport) FReport(100);
    FPercent = 100;
  }

 private:
  std::uint64_t FTotal, FDone = 0;
  ProgressReport FReport;
  int FPercent = -1;
};

std::uint64_t padded(std::uint64_t ASize) { return (ASize + kBlock - 1) / kBlock * kBlock; }

std::uint64_t job_size(const Rewrite& AJob) {
  std::uint64_t total = 0;
  for (size_t i = 0; AJob.source && i < AJob.source->records.size(); ++i)
    if (AJob.keep[i]) total += AJob.source->records[i].end - AJob.source->records[i].start;
  for (const auto& e : AJob.entries) total += kBlock + padded(e.size);
  return total;
}

// --- the job -----------------------------------------------------------------------------------

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

}  // namespace

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

void write_archive(const std::wstring& ATarget, const Rewrite& AJob, bool AReplace, ProgressReport AReport) {
  Progress progress(job_size(AJob), AReport);
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

Failure system_failure(intptr_t AMessage, const std::wstring& ASubject) {
  const DWORD code = GetLastError();
  return Failure{AMessage, ASubject, code};
}

std::uint64_t filetime_to_unix(const FILETIME& ATime) {
  const std::uint64_t value = ((std::uint64_t)ATime.dwHighDateTime << 32) | ATime.dwLowDateTime;
  return value > kUnixEpochAsFileTime ? (value - kUnixEpochAsFileTime) / 10000000ULL : 0;
}

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

}  // namespace tar
