// Prints the version resource of each file named, read the way file properties read it
// (GetFileVersionInfoW), one line per file:
//
//   FILE<TAB>FIXED<TAB>FileVersion<TAB>ProductVersion
//
// FIXED is the numeric file version a.b.c.d; the two strings come from the first translation the
// resource lists. Exit status: 0 every file has a version resource, 1 one has none, 2 no files.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string utf8(const std::wstring& AText) {
  if (AText.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, AText.data(), (int)AText.size(), out.data(), n, nullptr, nullptr);
  return out;
}

// A string value of the first translation, or "-" when the resource has none.
std::wstring string_value(const std::vector<BYTE>& ABlock, const wchar_t* AName) {
  struct translation { WORD language, code_page; };
  translation* list = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(ABlock.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&list), &size) ||
      size < sizeof(translation))
    return L"-";
  wchar_t path[64];
  swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\%ls", list->language, list->code_page, AName);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(ABlock.data(), path, reinterpret_cast<void**>(&text), &size) || size == 0) return L"-";
  // The length counts the terminator when there is one.
  std::wstring value(text, size);
  while (!value.empty() && value.back() == L'\0') value.pop_back();
  return value.empty() ? L"-" : value;
}

bool print_version(const wchar_t* AFile) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(AFile, &ignored);
  std::vector<BYTE> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (size == 0 || !GetFileVersionInfoW(AFile, 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed_size < sizeof(VS_FIXEDFILEINFO) || fixed->dwSignature != VS_FFI_SIGNATURE) {
    std::fprintf(stderr, "verinfo: %s: no version resource (error %lu)\n", utf8(AFile).c_str(), GetLastError());
    return false;
  }
  std::printf("%s\t%u.%u.%u.%u\t%s\t%s\n", utf8(AFile).c_str(), unsigned(HIWORD(fixed->dwFileVersionMS)),
              unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)),
              unsigned(LOWORD(fixed->dwFileVersionLS)),
              utf8(string_value(block, L"FileVersion")).c_str(),
              utf8(string_value(block, L"ProductVersion")).c_str());
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: verinfo FILE...\n");
    return 2;
  }
  bool all = true;
  for (int i = 1; i < argc; ++i) all = print_version(argv[i]) && all;
  return all ? 0 : 1;
}
