// What the packing tests share: the writing fixture's archive format read and written, and a
// file manager with that plugin, a source tree and a folder for archives.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "wexlor_harness.h"

namespace wxt {

// The fixture's archive: "WXPACK", then "d PATH" and "f SIZE TIME PATH" + bytes records.
inline std::map<std::string, std::string> read_pack(const std::wstring& APath) {
  std::map<std::string, std::string> entries;
  const std::string text = read_file(APath);
  size_t at = text.find('\n') + 1;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.rfind("d ", 0) == 0) {
      entries[line.substr(2) + "\\"] = "";
    } else if (line.rfind("f ", 0) == 0) {
      const size_t size_end = line.find(' ', 2);
      const size_t time_end = line.find(' ', size_end + 1);
      const size_t size = std::stoul(line.substr(2, size_end - 2));
      entries[line.substr(time_end + 1)] = text.substr(at, size);
      at += size + 1;
    }
  }
  return entries;
}

inline std::string pack_text(const std::vector<std::pair<std::string, std::string>>& AFiles) {
  std::string text = "WXPACK\n";
  for (const auto& file : AFiles)
    text += "f " + std::to_string(file.second.size()) + " 132000000000000000 " + file.first + "\n" + file.second + "\n";
  return text;
}

inline std::wstring list_of(const std::vector<std::wstring>& ANames) {
  std::wstring list;
  for (const std::wstring& name : ANames) list += name + L'\0';
  return list + L'\0';
}

inline std::vector<std::wstring> files_in(const std::wstring& AFolder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

inline int count_lines(const std::vector<std::string>& ALog, const std::string& APrefix) {
  return static_cast<int>(std::count_if(ALog.begin(), ALog.end(), [&](const std::string& l) { return l.rfind(APrefix, 0) == 0; }));
}

inline std::string line_starting(const std::vector<std::string>& ALog, const std::string& APrefix) {
  for (const std::string& line : ALog)
    if (line.rfind(APrefix, 0) == 0) return line;
  return "";
}

// A file manager with one writing plugin (the FAR route's or the command route's), a source tree
// and a folder for archives.
struct Packer {
  explicit Packer(const wchar_t* ABinary = L"pack_plugin.dll", std::string AConfig = "")
      : Dll(ABinary), Fm({PluginSpec{L"pack", ABinary, L"", {{L"pack.cfg", AConfig}}}}) {
    Source = Fm.Root() + L"src\\";
    Archives = Fm.Root() + L"out";
    CreateDirectoryW(Source.c_str(), nullptr);
    CreateDirectoryW((Source + L"d").c_str(), nullptr);
    CreateDirectoryW(Archives.c_str(), nullptr);
    write_file(Source + L"a.txt", "alpha");
    write_file(Source + L"d\\b.txt", "bravo!");
  }
  // FAR's order, in every test: no change was asked for on a folder not listed since the panel came
  // there or last changed.
  ~Packer() {
    for (const std::string& line : Log())
      if (line.rfind("unshown ", 0) == 0) ADD_FAILURE() << line;
  }
  void Configure(const std::string& AText) { write_file(Fm.PluginFile(L"pack", L"pack.cfg"), AText); }
  std::vector<std::string> Log() { return Fm.Log(L"pack", Dll); }
  int Pack(const std::wstring& AArchive, const std::vector<std::wstring>& ANames, int AFlags = wcx::PK_PACK_SAVE_PATHS,
           const wchar_t* ASubPath = nullptr) {
    std::wstring archive = AArchive, source = Source, list = list_of(ANames);
    std::wstring sub = ASubPath ? ASubPath : L"";
    return Fm.PackFilesW(archive.data(), ASubPath ? sub.data() : nullptr, source.data(), list.data(), AFlags);
  }
  int Delete(const std::wstring& AArchive, const std::vector<std::wstring>& ANames) {
    std::wstring archive = AArchive, list = list_of(ANames);
    return Fm.DeleteFilesW(archive.data(), list.data());
  }
  std::wstring Archive(const std::wstring& AName) const { return Archives + L"\\" + AName; }

  const std::wstring Dll;
  FileManager Fm;
  std::wstring Source, Archives;
};

inline const std::vector<std::wstring> kTree = {L"a.txt", L"d\\", L"d\\b.txt"};

}  // namespace wxt
