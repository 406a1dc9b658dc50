#include "services/qorFarCurrentFolder.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace qor {

namespace {

thread_local const std::wstring* TFolder = nullptr;

std::wstring process_folder() {
  const DWORD n = ::GetCurrentDirectoryW(0, nullptr);
  std::wstring out(n, L'\0');
  const DWORD got = n ? ::GetCurrentDirectoryW(n, out.data()) : 0;
  out.resize(got < n ? got : 0);
  return out;
}

// The length of "X:\" or "\\server\share\" at the start of a path with backslashes; 0 for others.
size_t root_length(const std::wstring& APath) {
  if (APath.size() >= 3 && APath[1] == L':' && APath[2] == L'\\') return 3;
  if (APath.size() < 2 || APath[0] != L'\\' || APath[1] != L'\\') return 0;
  const size_t server_end = APath.find(L'\\', 2);
  if (server_end == std::wstring::npos) return 0;
  const size_t share_end = APath.find(L'\\', server_end + 1);
  return share_end == std::wstring::npos ? 0 : share_end + 1;
}

bool is_separator(wchar_t AChar) noexcept { return AChar == L'\\' || AChar == L'/'; }

bool is_drive_letter(wchar_t AChar) noexcept { return (AChar >= L'A' && AChar <= L'Z') || (AChar >= L'a' && AChar <= L'z'); }

bool has_prefix(const std::wstring& APath) {
  return APath.compare(0, 4, L"\\\\?\\") == 0 || APath.compare(0, 4, L"\\\\.\\") == 0 ||
         APath.compare(0, 4, L"\\??\\") == 0;
}

// The root that ".." never climbs above: "X:\", "X:" or "\\server\share\" (either separator).
size_t fold_root(const std::wstring& APath) {
  if (APath.size() >= 2 && APath[1] == L':' && is_drive_letter(APath[0]))
    return APath.size() > 2 && is_separator(APath[2]) ? 3 : 2;
  if (APath.size() < 2 || !is_separator(APath[0]) || !is_separator(APath[1])) return 0;
  size_t at = 2;
  for (int part = 0; part < 2 && at <= APath.size(); ++part) {
    while (at < APath.size() && !is_separator(APath[at])) ++at;
    if (at < APath.size()) ++at;
  }
  return std::min(at, APath.size());
}

// Drops "." segments and ".." with the segment before it; the separator in front of a dropped
// run stays, so "x\y/../z" gives "x\z".
std::wstring fold_dots(const std::wstring& APath) {
  const size_t root = fold_root(APath);
  struct segment {
    wchar_t Separator;  // 0 for the first segment after the root
    std::wstring Name;
  };
  std::vector<segment> kept;
  wchar_t pending = 0;
  bool has_pending = false;
  wchar_t separator = 0;
  std::wstring name;
  auto take = [&]() {
    if (name == L"." || name == L"..") {
      if (!has_pending) {
        pending = separator;
        has_pending = true;
      }
      if (name == L".." && !kept.empty()) {
        pending = kept.back().Separator;
        kept.pop_back();
      }
    } else {
      kept.push_back({has_pending ? pending : separator, name});
      has_pending = false;
    }
    name.clear();
  };
  for (size_t i = root; i < APath.size(); ++i) {
    if (is_separator(APath[i])) {
      take();
      separator = APath[i];
    } else {
      name += APath[i];
    }
  }
  if (root < APath.size()) take();
  std::wstring out = APath.substr(0, root);
  for (const segment& s : kept) {
    if (s.Separator && !(out.size() == root && root > 0 && is_separator(out.back()))) out += s.Separator;
    out += s.Name;
  }
  return out;
}

std::wstring with_separator(std::wstring AFolder) {
  if (AFolder.empty() || !is_separator(AFolder.back())) AFolder += L'\\';
  return AFolder;
}

// The base of a drive-relative "D:a": the drive's folder the environment keeps ("=D:"), FAR's
// folder when it is on that drive, else the drive itself.
std::wstring drive_folder(wchar_t ADrive, const std::wstring& AFolder) {
  const wchar_t name[] = {L'=', static_cast<wchar_t>(::towupper(ADrive)), L':', 0};
  wchar_t value[MAX_PATH + 1];
  const DWORD n = ::GetEnvironmentVariableW(name, value, MAX_PATH + 1);
  if (n > 0 && n <= MAX_PATH) return value;
  if (AFolder.size() >= 2 && AFolder[1] == L':' && ::towupper(AFolder[0]) == ::towupper(ADrive)) return AFolder;
  return std::wstring{ADrive, L':'};
}

}  // namespace

std::wstring FarFullPath(const std::wstring& APath) {
  if (has_prefix(APath)) return APath;
  const std::wstring folder = FarCurrentFolder();
  if (APath.empty()) return with_separator(folder);
  if (APath.size() >= 2 && is_separator(APath[0]) && is_separator(APath[1])) return fold_dots(APath);
  if (APath.size() >= 2 && APath[1] == L':' && is_drive_letter(APath[0])) {
    if (APath.size() > 2 && is_separator(APath[2])) return fold_dots(APath);
    return fold_dots(with_separator(drive_folder(APath[0], folder)) + APath.substr(2));
  }
  if (is_separator(APath[0])) {
    const std::wstring root = folder.substr(0, fold_root(folder));
    return fold_dots((!root.empty() && is_separator(root.back()) ? root.substr(0, root.size() - 1) : root) + APath);
  }
  return fold_dots(with_separator(folder) + APath);
}

TqorFarFolderScope::TqorFarFolderScope(const std::wstring& AFolder)
    : FFolder(FarFolderForm(AFolder)), FPrevious(TFolder) {
  TFolder = &FFolder;
}

TqorFarFolderScope::~TqorFarFolderScope() { TFolder = FPrevious; }

std::wstring FarCurrentFolder() { return FarFolderForm(TFolder ? *TFolder : process_folder()); }

std::wstring FarFolderForm(std::wstring AFolder) {
  std::replace(AFolder.begin(), AFolder.end(), L'/', L'\\');
  // "\\server\share" is a root without its backslash.
  if (AFolder.size() > 2 && AFolder.compare(0, 2, L"\\\\") == 0 && root_length(AFolder + L'\\') == AFolder.size() + 1)
    return AFolder + L'\\';
  if (AFolder.size() == 2 && AFolder[1] == L':') return AFolder + L'\\';
  const size_t root = root_length(AFolder);
  while (AFolder.size() > std::max<size_t>(root, 1) && AFolder.back() == L'\\') AFolder.pop_back();
  return AFolder;
}

}  // namespace qor
