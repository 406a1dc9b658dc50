// Helpers shared by the archive tests: a file manager's extraction loop and a trace that
// interleaves the file manager's calls with the plugin's call log.
#pragma once

#include <cctype>
#include <cstring>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "wexlor_harness.h"

namespace wxt {

inline std::string fixture_log_name(const std::string& ALine) { return ALine.substr(0, ALine.find(' ')); }

// Records each file-manager step followed by the plugin calls it caused, indented.
class CallTrace {
 public:
  CallTrace(FileManager& AFm, std::wstring AFolder, std::wstring ADll)
      : FFm(AFm), FFolder(std::move(AFolder)), FDll(std::move(ADll)) {
    Sync();
  }
  // Forgets everything logged so far (plugin start-up, analysis, open).
  void Sync() { FSeen = FFm.Log(FFolder, FDll).size(); }
  void Step(const std::string& ALabel) {
    FLines.push_back(ALabel);
    const auto log = FFm.Log(FFolder, FDll);
    for (size_t i = FSeen; i < log.size(); ++i) FLines.push_back("  " + log[i]);
    FSeen = log.size();
  }
  const std::vector<std::string>& Lines() const { return FLines; }

 private:
  FileManager& FFm;
  std::wstring FFolder, FDll;
  size_t FSeen = 0;
  std::vector<std::string> FLines;
};

inline HANDLE open_archive(FileManager& AFm, const std::wstring& AArchive, int AMode, int* AResult = nullptr) {
  std::wstring name = AArchive;
  wcx::tOpenArchiveDataW open{};
  open.ArcName = name.data();
  open.OpenMode = AMode;
  HANDLE h = AFm.OpenArchiveW(&open);
  if (AResult) *AResult = open.OpenResult;
  return h;
}

// The same through the ANSI export, with the archive's path in the ANSI code page.
inline HANDLE open_archive_ansi(FileManager& AFm, std::string AArchive, int AMode, int* AResult = nullptr) {
  wcx::tOpenArchiveData open{};
  open.ArcName = AArchive.data();
  open.OpenMode = AMode;
  HANDLE h = AFm.OpenArchive(&open);
  if (AResult) *AResult = open.OpenResult;
  return h;
}

// What a file manager does to unpack chosen entries: folders are made by the file manager
// itself, files are handed to ProcessFileW with the full target path; the rest is skipped.
// Returns "name=result" per entry read, and the final header result last.
inline std::vector<std::string> extract_entries(FileManager& AFm, const std::wstring& AArchive,
                                                const std::wstring& ADest,
                                                const std::vector<std::wstring>& AChosen) {
  std::vector<std::string> results;
  HANDLE h = open_archive(AFm, AArchive, wcx::PK_OM_EXTRACT);
  if (!h) return {"open failed"};
  auto header = std::make_unique<wcx::tHeaderDataExW>();
  int rc;
  while ((rc = AFm.ReadHeaderExW(h, header.get())) == 0) {
    const std::wstring name = header->FileName;
    bool chosen = AChosen.empty();
    for (const auto& c : AChosen) chosen = chosen || c == name;
    int result;
    if (chosen && (header->FileAttr & FILE_ATTRIBUTE_DIRECTORY)) {
      CreateDirectoryW((ADest + name).c_str(), nullptr);
      result = AFm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr);
    } else if (chosen) {
      const std::wstring target = ADest + name;
      // Parent folders as the file manager creates them before asking for the file.
      for (size_t p = ADest.size(); (p = target.find(L'\\', p)) != std::wstring::npos; ++p)
        CreateDirectoryW(target.substr(0, p).c_str(), nullptr);
      result = AFm.ProcessFileW(h, wcx::PK_EXTRACT, ADest.c_str(), name.c_str());
    } else {
      result = AFm.ProcessFileW(h, wcx::PK_SKIP, nullptr, nullptr);
    }
    results.push_back(narrow(name) + "=" + std::to_string(result));
  }
  results.push_back("end=" + std::to_string(rc));
  results.push_back("close=" + std::to_string(AFm.CloseArchive(h)));
  return results;
}

// The module's staging folders are hidden folders named ".wexlor-..." inside the target's folder,
// one sub-folder per plugin call: "<folder>\.wexlor-1f-3\2\" reads "<folder>\<staging>\".
inline std::string without_staging(std::string ALine) {
  for (size_t at; (at = ALine.find(".wexlor-")) != std::string::npos;) {
    size_t end = ALine.find('\\', at);
    if (end == std::string::npos) break;
    size_t digits = end + 1;
    // The call folder: hexadecimal digits and '-'.
    while (digits < ALine.size() && (std::isxdigit(static_cast<unsigned char>(ALine[digits])) || ALine[digits] == '-'))
      ++digits;
    if (digits > end + 1 && digits < ALine.size() && ALine[digits] == '\\') end = digits;
    ALine.replace(at, end - at, "<staging>");
  }
  return ALine;
}

// The staging folders in AFolder (with its backslash), with their attributes.
inline std::vector<std::pair<std::wstring, DWORD>> staging_folders(const std::wstring& AFolder) {
  std::vector<std::pair<std::wstring, DWORD>> found;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L".wexlor-*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return found;
  do found.emplace_back(data.cFileName, data.dwFileAttributes);
  while (FindNextFileW(find, &data));
  FindClose(find);
  return found;
}

// The destination folders of the plugin's GetFilesW calls, in order, from the fixture's log.
inline std::vector<std::wstring> get_files_dests(const std::vector<std::string>& ALog) {
  std::vector<std::wstring> dests;
  for (const auto& line : ALog) {
    if (line.compare(0, 10, "GetFilesW ") != 0) continue;
    const size_t at = line.find(" dest=");
    const size_t end = line.find(" cwd=", at);
    if (at != std::string::npos && end != std::string::npos) dests.push_back(widen(line.substr(at + 6, end - at - 6)));
  }
  return dests;
}

// 2021-06-15 13:45:30 UTC as a FILETIME value.
constexpr unsigned long long kJune2021 = 132682383300000000ULL;

inline int dos_time(int AYear, int AMonth, int ADay, int AHour, int AMinute, int ASecond) {
  const unsigned date = ((AYear - 1980) << 9) | (AMonth << 5) | ADay;
  const unsigned time = (AHour << 11) | (AMinute << 5) | (ASecond / 2);
  return static_cast<int>((date << 16) | time);
}

// A file manager working through an open archive one entry at a time: 'x' extracts the entry
// read into Dest (making its folders first), 't' tests it, 's' skips it. Each step gives
// "name=result".
struct Steps {
  Steps(FileManager& AFm, const std::wstring& AArchive, std::wstring ADest)
      : fm(AFm), dest(std::move(ADest)), h(open_archive(AFm, AArchive, wcx::PK_OM_EXTRACT)) {}
  ~Steps() {
    if (h) fm.CloseArchive(h);
  }
  std::string step(char AOperation) {
    const int rc = fm.ReadHeaderExW(h, header.get());
    if (rc != 0) return "end=" + std::to_string(rc);
    const std::wstring name = header->FileName;
    int result = 0;
    if (AOperation == 'x') {
      const std::wstring target = dest + name;
      for (size_t p = dest.size(); (p = target.find(L'\\', p)) != std::wstring::npos; ++p)
        CreateDirectoryW(target.substr(0, p).c_str(), nullptr);
      result = fm.ProcessFileW(h, wcx::PK_EXTRACT, dest.c_str(), name.c_str());
    } else {
      result = fm.ProcessFileW(h, AOperation == 't' ? wcx::PK_TEST : wcx::PK_SKIP, nullptr, nullptr);
    }
    return narrow(name) + "=" + std::to_string(result);
  }
  std::vector<std::string> steps(const std::string& AOperations) {
    std::vector<std::string> results;
    for (char operation : AOperations) results.push_back(step(operation));
    return results;
  }
  int close() {
    const int rc = fm.CloseArchive(h);
    h = nullptr;
    return rc;
  }
  FileManager& fm;
  std::wstring dest;
  HANDLE h;
  std::unique_ptr<wcx::tHeaderDataExW> header = std::make_unique<wcx::tHeaderDataExW>();
};

inline std::string files_script(const std::string& APrefix, int ACount, const std::string& AExtra = "") {
  std::string script;
  for (int i = 0; i < ACount; ++i)
    script += "file " + APrefix + std::to_string(i) + " data=" + APrefix + std::to_string(i) + AExtra + "\n";
  return script;
}

}  // namespace wxt
