#include "services/qorFarStandardW.h"

#include <winioctl.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/qorHandles.h"
#include "common/qorLocks.h"
#include "common/qorPluginGuard.h"
#include "services/qorFarCurrentFolder.h"
#include "services/qorFarMasksW.h"

#ifndef SORT_DIGITSASNUMBERS
#define SORT_DIGITSASNUMBERS 0x00000008
#endif
#ifndef LINGUISTIC_IGNORECASE
#define LINGUISTIC_IGNORECASE 0x00000010
#endif

namespace qor {
namespace {

constexpr wchar_t kEllipsis = L'\u2026';

// --- functions looked up at run time ---------------------------------------------------------

// The wide formatted-text functions must be the Microsoft CRT's (%s is a wide string, %I64d is
// known): the compiler's own headers may route them to a C99 implementation.
using vsnwprintf_fn = int(__cdecl*)(wchar_t*, size_t, const wchar_t*, va_list);
using swscanf_fn = int(__cdecl*)(const wchar_t*, const wchar_t*, ...);
using compare_ordinal_fn = int(WINAPI*)(const wchar_t*, int, const wchar_t*, int, BOOL);
using final_path_fn = DWORD(WINAPI*)(HANDLE, wchar_t*, DWORD, DWORD);
using create_symlink_fn = BOOLEAN(WINAPI*)(const wchar_t*, const wchar_t*, DWORD);

int __cdecl no_vsnwprintf(wchar_t*, size_t, const wchar_t*, va_list) { return -1; }
int __cdecl no_swscanf(const wchar_t*, const wchar_t*, ...) { return -1; }
DWORD WINAPI no_final_path(HANDLE, wchar_t*, DWORD, DWORD) { return 0; }
BOOLEAN WINAPI no_create_symlink(const wchar_t*, const wchar_t*, DWORD) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

template <class T>
T lookup(HMODULE AModule, const char* AName, T AFallback) noexcept {
  FARPROC p = AModule ? ::GetProcAddress(AModule, AName) : nullptr;
  return p ? reinterpret_cast<T>(reinterpret_cast<void*>(p)) : AFallback;
}

struct system_functions {
  unique_module Crt;
  vsnwprintf_fn vsnwprintf = no_vsnwprintf;
  swscanf_fn swscanf = no_swscanf;
  compare_ordinal_fn CompareStringOrdinal = nullptr;  // null: compare by upper case ourselves
  final_path_fn GetFinalPathNameByHandleW = no_final_path;
  create_symlink_fn CreateSymbolicLinkW = no_create_symlink;

  system_functions() {
    Crt.reset(::LoadLibraryW(L"msvcrt.dll"));
    vsnwprintf = lookup(Crt.get(), "_vsnwprintf", vsnwprintf);
    swscanf = lookup(Crt.get(), "swscanf", swscanf);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    CompareStringOrdinal = lookup<compare_ordinal_fn>(kernel, "CompareStringOrdinal", nullptr);
    GetFinalPathNameByHandleW = lookup(kernel, "GetFinalPathNameByHandleW", GetFinalPathNameByHandleW);
    CreateSymbolicLinkW = lookup(kernel, "CreateSymbolicLinkW", CreateSymbolicLinkW);
  }
};

// Filled once, on first use (the initialisation of a local static is serialised).
const system_functions& System() {
  static system_functions functions;
  return functions;
}

// --- plugin memory -----------------------------------------------------------------------------

// "Ask the size, then fill": len+1 of the whole text; the copy is cut to ASize-1 and terminated.
size_t copy_out(const std::wstring& AText, wchar_t* ADest, size_t ASize) noexcept {
  if (ADest && ASize) {
    const size_t n = std::min(AText.size(), ASize - 1);
    const wchar_t nul = 0;
    if (!CopyPluginMemory(ADest, AText.data(), n * sizeof(wchar_t)) ||
        !CopyPluginMemory(ADest + n, &nul, sizeof(nul)))
      return 0;
  }
  return AText.size() + 1;
}

// --- numbers -------------------------------------------------------------------------------------

template <class Unsigned>
void write_number(Unsigned AMagnitude, bool ANegative, wchar_t* AOut, int ARadix) noexcept {
  wchar_t digits[72];
  int n = 0;
  do {
    const unsigned d = static_cast<unsigned>(AMagnitude % static_cast<Unsigned>(ARadix));
    digits[n++] = static_cast<wchar_t>(d < 10 ? L'0' + d : L'a' + d - 10);
    AMagnitude /= static_cast<Unsigned>(ARadix);
  } while (AMagnitude);
  if (ANegative) *AOut++ = L'-';
  while (n) *AOut++ = digits[--n];
  *AOut = 0;
}

// _itow/_i64tow: a sign only in radix 10, other radixes print the bit pattern unsigned.
template <class Signed, class Unsigned>
wchar_t* format_integer(Signed AValue, wchar_t* AStr, int ARadix) noexcept {
  if (!AStr) return nullptr;
  auto body = [&]() noexcept {
    if (ARadix < 2 || ARadix > 36) {
      *AStr = 0;
      return;
    }
    const bool negative = ARadix == 10 && AValue < 0;
    const Unsigned magnitude = negative ? Unsigned(0) - static_cast<Unsigned>(AValue) : static_cast<Unsigned>(AValue);
    write_number(magnitude, negative, AStr, ARadix);
  };
  RunGuardedLambda(body);
  return AStr;
}

// --- sorting -------------------------------------------------------------------------------------

void swap_bytes(char* A, char* B, size_t AWidth) noexcept {
  for (size_t i = 0; i < AWidth; ++i) std::swap(A[i], B[i]);
}

// Heap sort in place: no allocation and no recursion, so a fault in the plugin's comparator
// (which ends the whole sort under the guard) leaves every element intact, only partly ordered.
void heap_sort(char* ABase, size_t ACount, size_t AWidth, TFarStdCompare ACompare, void* AUser) noexcept {
  auto at = [&](size_t i) { return ABase + i * AWidth; };
  auto sift_down = [&](size_t ARoot, size_t AEnd) {
    for (;;) {
      size_t child = 2 * ARoot + 1;
      if (child >= AEnd) return;
      if (child + 1 < AEnd && ACompare(at(child), at(child + 1), AUser) < 0) ++child;
      if (ACompare(at(ARoot), at(child), AUser) >= 0) return;
      swap_bytes(at(ARoot), at(child), AWidth);
      ARoot = child;
    }
  };
  for (size_t i = ACount / 2; i-- > 0;) sift_down(i, ACount);
  for (size_t end = ACount; end-- > 1;) {
    swap_bytes(at(0), at(end), AWidth);
    sift_down(0, end);
  }
}

// --- characters and strings ---------------------------------------------------------------------

size_t text_length(const wchar_t* AText) noexcept { return AText ? std::wcslen(AText) : 0; }

// -1, 0 or 1, comparing upper-case units ordinally.
int compare_ordinal_ignore_case(const wchar_t* A, size_t ALengthA, const wchar_t* B, size_t ALengthB) noexcept {
  if (auto compare = System().CompareStringOrdinal) {
    const int r = compare(A, static_cast<int>(ALengthA), B, static_cast<int>(ALengthB), TRUE);
    if (r) return r - CSTR_EQUAL;
  }
  const wchar_t* up = UpperCaseTable();
  const size_t n = std::min(ALengthA, ALengthB);
  for (size_t i = 0; i < n; ++i) {
    const wchar_t a = up[A[i]], b = up[B[i]];
    if (a != b) return a < b ? -1 : 1;
  }
  return ALengthA == ALengthB ? 0 : (ALengthA < ALengthB ? -1 : 1);
}

bool is_separator(wchar_t AChar) noexcept { return AChar == L'\\' || AChar == L'/'; }

bool has_prefix_ci(const wchar_t* AText, size_t ALength, const wchar_t* APrefix) noexcept {
  const size_t n = std::wcslen(APrefix);
  return ALength >= n && compare_ordinal_ignore_case(AText, n, APrefix, n) == 0;
}

// Length of the root of a path with its trailing separator: "C:\", "\\server\share\",
// "\\?\C:\", "\\?\UNC\server\share\", "\\?\Volume{...}\"; 0 when the path has none.
size_t root_length(const wchar_t* APath, size_t ALength) noexcept {
  auto upto_separator = [&](size_t AFrom, int ACount) {
    size_t i = AFrom;
    for (int k = 0; k < ACount; ++k) {
      while (i < ALength && !is_separator(APath[i])) ++i;
      if (k + 1 < ACount) {
        if (i >= ALength) return ALength;
        ++i;
      }
    }
    return i < ALength ? i + 1 : ALength;
  };
  auto drive_at = [&](size_t i) {
    return i + 1 < ALength && APath[i + 1] == L':' && std::iswalpha(APath[i]);
  };
  if (has_prefix_ci(APath, ALength, L"\\\\?\\UNC\\")) return upto_separator(8, 2);
  if (has_prefix_ci(APath, ALength, L"\\\\?\\") || has_prefix_ci(APath, ALength, L"\\\\.\\")) {
    if (drive_at(4)) return ALength > 6 && is_separator(APath[6]) ? 7 : 6;
    return upto_separator(4, 1);
  }
  if (ALength >= 2 && is_separator(APath[0]) && is_separator(APath[1])) return upto_separator(2, 2);
  if (drive_at(0)) return ALength > 2 && is_separator(APath[2]) ? 3 : 2;
  return 0;
}

bool is_extended_path(const wchar_t* APath, size_t ALength) noexcept {
  return ALength >= 4 && APath[0] == L'\\' && APath[1] == L'\\' && APath[2] == L'?' && APath[3] == L'\\';
}

// The name part of a path: after the last separator ("\\?\" paths: backslashes only).
const wchar_t* name_of(const wchar_t* APath) noexcept {
  const size_t n = std::wcslen(APath);
  const bool extended = is_extended_path(APath, n);
  const wchar_t* name = APath;
  for (const wchar_t* p = APath; *p; ++p)
    if (*p == L'\\' || (!extended && *p == L'/')) name = p + 1;
  return name;
}

void truncate_text(wchar_t* AText, intptr_t AMaxLength) noexcept {
  const size_t length = std::wcslen(AText);
  if (AMaxLength <= 0) {
    *AText = 0;
    return;
  }
  const size_t max = static_cast<size_t>(AMaxLength);
  if (length <= max) return;
  AText[0] = kEllipsis;
  std::memmove(AText + 1, AText + length - (max - 1), (max - 1) * sizeof(wchar_t));
  AText[max] = 0;
}

std::wstring full_path(const std::wstring& APath) {
  if (APath.empty()) return APath;
  std::wstring out(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFullPathNameW(APath.c_str(), static_cast<DWORD>(out.size()), out.data(), nullptr);
    if (!n) return APath;
    if (n < out.size()) {
      out.resize(n);
      return out;
    }
    out.resize(n);
  }
}

}  // namespace

// ================================================================================================
// Numbers

int WINAPI FarStdAtoi(const wchar_t* s) {
  long value = 0;
  auto body = [&]() noexcept { value = std::wcstol(s, nullptr, 10); };
  return s && RunGuardedLambda(body) ? static_cast<int>(value) : 0;
}

std::int64_t WINAPI FarStdAtoi64(const wchar_t* s) {
  long long value = 0;
  auto body = [&]() noexcept { value = std::wcstoll(s, nullptr, 10); };
  return s && RunGuardedLambda(body) ? value : 0;
}

wchar_t* WINAPI FarStdItoa(int AValue, wchar_t* AStr, int ARadix) {
  return format_integer<int, unsigned>(AValue, AStr, ARadix);
}

wchar_t* WINAPI FarStdItoa64(std::int64_t AValue, wchar_t* AStr, int ARadix) {
  return format_integer<std::int64_t, std::uint64_t>(AValue, AStr, ARadix);
}

// ================================================================================================
// Formatted text

namespace {

int format_guarded(wchar_t* ABuffer, size_t ASize, const wchar_t* AFormat, va_list AArgs) noexcept {
  if (!ABuffer || !AFormat) return -1;
  const vsnwprintf_fn format = System().vsnwprintf;
  int result = -1;
  auto body = [&]() noexcept { result = format(ABuffer, ASize, AFormat, AArgs); };
  return RunGuardedLambda(body) ? result : -1;
}

// Arguments a scanf format consumes: one pointer per conversion that is not suppressed.
size_t scanf_arguments(const wchar_t* AFormat) noexcept {
  size_t count = 0;
  for (const wchar_t* p = AFormat; *p; ++p) {
    if (*p != L'%') continue;
    if (p[1] == L'%') {
      ++p;
      continue;
    }
    if (p[1] != L'*') ++count;
    // Skip a scan set so that '%' inside it is not counted.
    for (++p; *p && !std::wcschr(L"cCdiouxXeEfgGaAsSpn[", *p); ++p) {
    }
    if (*p == L'[') {
      ++p;
      if (*p == L'^') ++p;
      if (*p == L']') ++p;
      while (*p && *p != L']') ++p;
    }
    if (!*p) break;
  }
  return count;
}

}  // namespace

int __cdecl FarStdSprintf(wchar_t* ABuffer, const wchar_t* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  const int result = format_guarded(ABuffer, 32000, AFormat, args);
  va_end(args);
  return result;
}

int __cdecl FarStdSnprintf(wchar_t* ABuffer, size_t ASize, const wchar_t* AFormat, ...) {
  va_list args;
  va_start(args, AFormat);
  const int result = format_guarded(ABuffer, ASize, AFormat, args);
  va_end(args);
  return result;
}

// The system CRT has no vswscanf: the plugin's pointers are handed on to its swscanf, as many as
// the format consumes (every scanf argument is one pointer).
int __cdecl FarStdSscanf(const wchar_t* ABuffer, const wchar_t* AFormat, ...) {
  if (!ABuffer || !AFormat) return -1;
  constexpr size_t kMax = 32;
  void* p[kMax] = {};
  va_list args;
  va_start(args, AFormat);
  size_t count = 0;
  auto measure = [&]() noexcept { count = scanf_arguments(AFormat); };
  const bool readable = RunGuardedLambda(measure);
  for (size_t i = 0; i < count && i < kMax; ++i) p[i] = va_arg(args, void*);
  va_end(args);
  if (!readable || count > kMax) return -1;
  const swscanf_fn scan = System().swscanf;
  int result = -1;
  auto body = [&]() noexcept {
    result = scan(ABuffer, AFormat, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9], p[10], p[11], p[12],
                  p[13], p[14], p[15], p[16], p[17], p[18], p[19], p[20], p[21], p[22], p[23], p[24], p[25], p[26],
                  p[27], p[28], p[29], p[30], p[31]);
  };
  return RunGuardedLambda(body) ? result : -1;
}

// ================================================================================================
// Sorting: the comparator is the plugin's stdcall function, called under the guard.

void WINAPI FarStdQsort(void* ABase, size_t ACount, size_t AWidth, TFarStdCompare ACompare, void* AUser) {
  if (!ABase || !ACompare || ACount < 2 || !AWidth) return;
  auto body = [&]() noexcept { heap_sort(static_cast<char*>(ABase), ACount, AWidth, ACompare, AUser); };
  RunGuardedLambda(body);
}

void* WINAPI FarStdBsearch(const void* AKey, const void* ABase, size_t ACount, size_t AWidth,
                           TFarStdCompare ACompare, void* AUser) {
  if (!ABase || !ACompare || !AWidth) return nullptr;
  void* found = nullptr;
  auto body = [&]() noexcept {
    size_t low = 0, high = ACount;
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      const char* element = static_cast<const char*>(ABase) + middle * AWidth;
      const int r = ACompare(AKey, element, AUser);
      if (r == 0) {
        found = const_cast<char*>(element);
        return;
      }
      if (r < 0)
        high = middle;
      else
        low = middle + 1;
    }
  };
  return RunGuardedLambda(body) ? found : nullptr;
}

// ================================================================================================
// Locale characters

int WINAPI FarStdIsLower(wchar_t AChar) { return ::IsCharLowerW(AChar) ? 1 : 0; }
int WINAPI FarStdIsUpper(wchar_t AChar) { return ::IsCharUpperW(AChar) ? 1 : 0; }
int WINAPI FarStdIsAlpha(wchar_t AChar) { return ::IsCharAlphaW(AChar) ? 1 : 0; }
int WINAPI FarStdIsAlphaNum(wchar_t AChar) { return ::IsCharAlphaNumericW(AChar) ? 1 : 0; }

wchar_t WINAPI FarStdUpper(wchar_t AChar) {
  ::CharUpperBuffW(&AChar, 1);
  return AChar;
}

wchar_t WINAPI FarStdLower(wchar_t AChar) {
  ::CharLowerBuffW(&AChar, 1);
  return AChar;
}

namespace {
void change_case(wchar_t* ABuffer, intptr_t ALength, bool AUpper) noexcept {
  if (!ABuffer || ALength <= 0) return;
  auto body = [&]() noexcept {
    if (AUpper)
      ::CharUpperBuffW(ABuffer, static_cast<DWORD>(ALength));
    else
      ::CharLowerBuffW(ABuffer, static_cast<DWORD>(ALength));
  };
  RunGuardedLambda(body);
}

void change_case(wchar_t* AText, bool AUpper) noexcept {
  size_t length = 0;
  auto measure = [&]() noexcept { length = std::wcslen(AText); };
  if (AText && RunGuardedLambda(measure)) change_case(AText, static_cast<intptr_t>(length), AUpper);
}
}  // namespace

void WINAPI FarStdUpperBuf(wchar_t* ABuffer, intptr_t ALength) { change_case(ABuffer, ALength, true); }
void WINAPI FarStdLowerBuf(wchar_t* ABuffer, intptr_t ALength) { change_case(ABuffer, ALength, false); }
void WINAPI FarStdStrUpr(wchar_t* AText) { change_case(AText, true); }
void WINAPI FarStdStrLwr(wchar_t* AText) { change_case(AText, false); }

// A null string compares as the empty one.
int WINAPI FarStdStrICmp(const wchar_t* A, const wchar_t* B) { return FarStdStrNICmp(A, B, -1); }

int WINAPI FarStdStrNICmp(const wchar_t* A, const wchar_t* B, intptr_t ACount) {
  UpperCaseTable();
  int result = 0;
  auto body = [&]() noexcept {
    size_t a = text_length(A), b = text_length(B);
    if (ACount >= 0) {
      a = std::min(a, static_cast<size_t>(ACount));
      b = std::min(b, static_cast<size_t>(ACount));
    }
    result = compare_ordinal_ignore_case(A ? A : L"", a, B ? B : L"", b);
  };
  return RunGuardedLambda(body) ? result : 0;
}

// ================================================================================================
// Strings in place

void WINAPI FarStdUnquote(wchar_t* AText) {
  if (!AText) return;
  auto body = [&]() noexcept {
    wchar_t* out = AText;
    for (const wchar_t* p = AText; *p; ++p)
      if (*p != L'"') *out++ = *p;
    *out = 0;
  };
  RunGuardedLambda(body);
}

wchar_t* WINAPI FarStdLTrim(wchar_t* AText) {
  if (!AText) return nullptr;
  auto body = [&]() noexcept {
    const wchar_t* p = AText;
    while (*p && std::iswspace(*p)) ++p;
    if (p != AText) std::memmove(AText, p, (std::wcslen(p) + 1) * sizeof(wchar_t));
  };
  RunGuardedLambda(body);
  return AText;
}

wchar_t* WINAPI FarStdRTrim(wchar_t* AText) {
  if (!AText) return nullptr;
  auto body = [&]() noexcept {
    size_t n = std::wcslen(AText);
    while (n && std::iswspace(AText[n - 1])) --n;
    AText[n] = 0;
  };
  RunGuardedLambda(body);
  return AText;
}

wchar_t* WINAPI FarStdTrim(wchar_t* AText) { return FarStdRTrim(FarStdLTrim(AText)); }

wchar_t* WINAPI FarStdTruncStr(wchar_t* AText, intptr_t AMaxLength) {
  if (!AText) return nullptr;
  auto body = [&]() noexcept { truncate_text(AText, AMaxLength); };
  RunGuardedLambda(body);
  return AText;
}

// The root stays in front of the ellipsis unless the room is smaller than the root itself.
wchar_t* WINAPI FarStdTruncPathStr(wchar_t* AText, intptr_t AMaxLength) {
  if (!AText) return nullptr;
  UpperCaseTable();
  auto body = [&]() noexcept {
    const size_t length = std::wcslen(AText);
    const size_t root = root_length(AText, length);
    if (AMaxLength <= 0 || length <= static_cast<size_t>(AMaxLength) || root == 0 ||
        static_cast<size_t>(AMaxLength) <= root) {
      truncate_text(AText, AMaxLength);
      return;
    }
    const size_t tail = static_cast<size_t>(AMaxLength) - root - 1;
    AText[root] = kEllipsis;
    std::memmove(AText + root + 1, AText + length - tail, tail * sizeof(wchar_t));
    AText[AMaxLength] = 0;
  };
  RunGuardedLambda(body);
  return AText;
}

wchar_t* WINAPI FarStdQuoteSpaceOnly(wchar_t* AText) {
  if (!AText) return nullptr;
  auto body = [&]() noexcept {
    size_t n = std::wcslen(AText);
    if (!std::wcschr(AText, L' ')) return;
    if (AText[0] != L'"') {
      std::memmove(AText + 1, AText, (n + 1) * sizeof(wchar_t));
      AText[0] = L'"';
      ++n;
    }
    if (AText[n - 1] != L'"') {
      AText[n] = L'"';
      AText[n + 1] = 0;
    }
  };
  RunGuardedLambda(body);
  return AText;
}

const wchar_t* WINAPI FarStdPointToName(const wchar_t* APath) {
  if (!APath) return nullptr;
  const wchar_t* name = APath;
  auto body = [&]() noexcept { name = name_of(APath); };
  return RunGuardedLambda(body) ? name : APath;
}

size_t WINAPI FarStdGetPathRoot(const wchar_t* APath, wchar_t* ARoot, size_t ASize) {
  try {
    std::wstring path;
    if (!CopyPluginText(APath, path)) return 0;
    const std::wstring full = FarFullPath(path);
    std::wstring root = full.substr(0, root_length(full.c_str(), full.size()));
    if (!root.empty() && !is_separator(root.back())) root += L'\\';
    return copy_out(root, ARoot, ASize);
  } catch (...) {
    return 0;
  }
}

// The separator added is the last one the path already uses; "\\?\" paths always take '\'.
BOOL WINAPI FarStdAddEndSlash(wchar_t* APath) {
  if (!APath) return FALSE;
  auto body = [&]() noexcept {
    const size_t n = std::wcslen(APath);
    if (n && is_separator(APath[n - 1])) return;
    wchar_t separator = L'\\';
    if (!is_extended_path(APath, n))
      for (size_t i = n; i-- > 0;)
        if (is_separator(APath[i])) {
          separator = APath[i];
          break;
        }
    APath[n] = separator;
    APath[n + 1] = 0;
  };
  return RunGuardedLambda(body) ? TRUE : FALSE;
}

// ================================================================================================
// Clipboard: plain text only; FAR's vertical-block format has no meaning outside its editor.

BOOL WINAPI FarStdCopyToClipboard(int AType, const wchar_t* AData) {
  if (AType != FCT_STREAM) return FALSE;
  try {
    std::wstring text;
    if (!CopyPluginText(AData, text)) return FALSE;
    clipboard_session clipboard;
    if (!clipboard.open() || !::EmptyClipboard()) return FALSE;
    if (!AData) return TRUE;
    unique_global block(::GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t)));
    if (!block) return FALSE;
    void* memory = ::GlobalLock(block.get());
    if (!memory) return FALSE;
    std::memcpy(memory, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    ::GlobalUnlock(block.get());
    if (!::SetClipboardData(CF_UNICODETEXT, block.get())) return FALSE;
    block.release();  // the clipboard owns it now
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// Copies min(ASize, len+1) characters: no terminating NUL when the buffer is too short.
size_t WINAPI FarStdPasteFromClipboard(int AType, wchar_t* AData, size_t ASize) {
  if (AType != FCT_ANY && AType != FCT_STREAM) return 0;
  try {
    std::wstring text;
    {
      clipboard_session clipboard;
      if (!clipboard.open()) return 0;
      HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
      if (!data) return 0;
      const auto* memory = static_cast<const wchar_t*>(::GlobalLock(data));
      if (!memory) return 0;
      const size_t capacity = ::GlobalSize(data) / sizeof(wchar_t);
      text.assign(memory, std::find(memory, memory + capacity, L'\0'));
      ::GlobalUnlock(data);
    }
    if (AData && ASize) {
      const size_t n = std::min(ASize, text.size() + 1);
      if (!CopyPluginMemory(AData, text.c_str(), n * sizeof(wchar_t))) return 0;
    }
    return text.size() + 1;
  } catch (...) {
    return 0;
  }
}

// With FAR's default (empty) conversion tables nothing changes.
wchar_t* WINAPI FarStdXLat(wchar_t* ALine, intptr_t, intptr_t, TFarFlags) { return ALine; }

// ================================================================================================
// ProcessName

namespace {

constexpr unsigned kCompareName = 0, kCompareList = 1, kGenerateName = 2, kCheckMask = 3;

const wchar_t* after_last_separator(const wchar_t* AName) noexcept {
  const wchar_t* name = AName;
  for (const wchar_t* p = AName; *p; ++p)
    if (is_separator(*p)) name = p + 1;
  return name;
}

size_t compare_name(const wchar_t* AMask, const wchar_t* AName, bool ASkipPath) noexcept {
  if (!AMask || !AName) return 0;
  UpperCaseTable();
  bool matched = false;
  auto body = [&]() noexcept {
    const wchar_t* name = ASkipPath ? after_last_separator(AName) : AName;
    matched = MatchFileMask(AMask, std::wcslen(AMask), name, std::wcslen(name));
  };
  return RunGuardedLambda(body) && matched ? 1 : 0;
}

// The compiled list for the plugin's text: a cache hit costs one pass to hash and one to compare.
std::shared_ptr<const TqorFarMaskList> mask_list_of(const wchar_t* AList) {
  if (!AList) return nullptr;
  size_t length = 0;
  std::uint32_t hash = 0;
  auto measure = [&]() noexcept {
    length = std::wcslen(AList);
    hash = MaskTextHash(AList, length);
  };
  if (!RunGuardedLambda(measure)) return nullptr;
  if (auto list = FindMaskList(hash, length)) {
    bool same = false;
    auto compare = [&]() noexcept { same = std::wmemcmp(list->Text().data(), AList, length) == 0; };
    if (!RunGuardedLambda(compare)) return nullptr;
    if (same) return list;
  }
  std::wstring text;
  if (!CopyPluginText(AList, text)) return nullptr;
  return AddMaskList(hash, text);
}

bool match_list(const TqorFarMaskList& AList, const wchar_t* AName, bool ASkipPath) {
  if (!AName) return false;
  if (AList.HasRegex()) {
    std::wstring name;
    if (!CopyPluginText(AName, name)) return false;
    const size_t cut = name.find_last_of(L"\\/");
    if (ASkipPath && cut != std::wstring::npos) name.erase(0, cut + 1);
    return AList.Match(name.c_str(), name.size());
  }
  bool matched = false;
  auto body = [&]() noexcept {
    const wchar_t* name = ASkipPath ? after_last_separator(AName) : AName;
    matched = AList.Match(name, std::wcslen(name));
  };
  return RunGuardedLambda(body) && matched;
}

// Windows rename semantics: the mask's name part is applied to the source's name.
std::wstring generate_name(const std::wstring& ASource, const std::wstring& AMask, size_t ACount) {
  const size_t cut = AMask.find_last_of(L"\\/");
  const size_t start = cut == std::wstring::npos ? 0 : cut + 1;
  const std::wstring wild = AMask.substr(start);
  if (wild.find_first_of(L"*?") == std::wstring::npos) return AMask;
  const size_t count = ACount && ACount < ASource.size() ? ACount : ASource.size();
  const std::wstring head = ASource.substr(0, count);
  const std::wstring tail = ASource.substr(count);
  const std::wstring source = head.substr(head.find_last_of(L"\\/") == std::wstring::npos
                                              ? 0
                                              : head.find_last_of(L"\\/") + 1);
  std::wstring out;
  size_t j = 0;
  const size_t n = source.size();
  for (size_t i = 0; i < wild.size(); ++i) {
    const wchar_t c = wild[i];
    if (c == L'?') {
      if (j < n && source[j] != L'.') out += source[j++];
    } else if (c == L'*') {
      if (i + 1 >= wild.size()) {
        out += source.substr(j);
        j = n;
      } else {
        const size_t last = source.rfind(wild[i + 1]);
        const size_t stop = last != std::wstring::npos && last >= j ? last : n;
        out += source.substr(j, stop - j);
        j = stop;
      }
    } else if (c == L'.') {
      out += L'.';
      const size_t dot = source.find(L'.', j);
      j = dot == std::wstring::npos ? n : dot + 1;
    } else {
      out += c;  // replaces one source character, but never the dot
      if (j < n && source[j] != L'.') ++j;
    }
  }
  if (!out.empty() && out.back() == L'.') out.pop_back();
  return AMask.substr(0, start) + out + tail;
}

}  // namespace

size_t WINAPI FarStdProcessName(const wchar_t* AParam1, wchar_t* AParam2, size_t ASize, TFarFlags AFlags) {
  try {
    const bool skip_path = (AFlags & PN_SKIPPATH) != 0;
    switch (static_cast<unsigned>((AFlags >> 16) & 0xFF)) {
      case kCompareName:
        return compare_name(AParam1, AParam2, skip_path);
      case kCompareList: {
        const auto list = mask_list_of(AParam1);
        return list && list->Valid() && match_list(*list, AParam2, skip_path) ? 1 : 0;
      }
      case kCheckMask: {
        const auto list = mask_list_of(AParam1);
        return list && list->Valid() ? 1 : 0;
      }
      case kGenerateName: {
        std::wstring source, mask;
        if (!AParam2 || !CopyPluginText(AParam1, source) || !CopyPluginText(AParam2, mask)) return 0;
        return copy_out(generate_name(source, mask, static_cast<size_t>(AFlags & 0xFFFF)), AParam2, ASize);
      }
      default:
        return 0;
    }
  } catch (...) {
    return 0;
  }
}

// ================================================================================================
// Files and paths

namespace {

// The layout of a reparse point's data as FSCTL_GET/SET_REPARSE_POINT use it.
struct reparse_header {
  DWORD ReparseTag;
  WORD ReparseDataLength;
  WORD Reserved;
  WORD SubstituteNameOffset;
  WORD SubstituteNameLength;
  WORD PrintNameOffset;
  WORD PrintNameLength;
};
constexpr size_t kMountPointPaths = sizeof(reparse_header);     // junctions, volume mount points
constexpr size_t kSymlinkPaths = sizeof(reparse_header) + 4;    // after the symbolic link's flags
constexpr DWORD kReparseBufferSize = 16 * 1024;

unique_handle open_for_attributes(const std::wstring& APath, DWORD AAccess = FILE_READ_ATTRIBUTES) {
  HANDLE h = ::CreateFileW(APath.c_str(), AAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  return unique_handle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// "\??\C:\x" and "\\?\C:\x" -> "C:\x"; "\??\UNC\s\x" and "\\?\UNC\s\x" -> "\\s\x".
std::wstring without_native_prefix(std::wstring APath) {
  if (APath.size() >= 4 && (APath.compare(0, 4, L"\\??\\") == 0 || APath.compare(0, 4, L"\\\\?\\") == 0)) {
    if (has_prefix_ci(APath.c_str(), APath.size(), L"\\??\\UNC\\") ||
        has_prefix_ci(APath.c_str(), APath.size(), L"\\\\?\\UNC\\"))
      return L"\\\\" + APath.substr(8);
    if (APath.size() >= 6 && APath[5] == L':') return APath.substr(4);
  }
  return APath;
}

std::wstring native_path(const std::wstring& AFull) {
  if (AFull.empty() || is_extended_path(AFull.c_str(), AFull.size()) || AFull.compare(0, 4, L"\\\\.\\") == 0 ||
      AFull.compare(0, 4, L"\\??\\") == 0)
    return AFull;
  if (AFull.size() >= 2 && AFull[0] == L'\\' && AFull[1] == L'\\') return L"\\\\?\\UNC\\" + AFull.substr(2);
  return L"\\\\?\\" + AFull;
}

// '/' turned into '\\' and runs of backslashes made one, past a network path's leading pair.
std::wstring backslashed(std::wstring APath) {
  if (APath.compare(0, 4, L"\\\\?\\") == 0 || APath.compare(0, 4, L"\\\\.\\") == 0 || APath.compare(0, 4, L"\\??\\") == 0)
    return APath;
  std::replace(APath.begin(), APath.end(), L'/', L'\\');
  std::wstring out;
  for (size_t i = 0; i < APath.size(); ++i)
    if (!(i >= 2 && APath[i] == L'\\' && out.back() == L'\\')) out += APath[i];
  return out;
}

// Links and junctions resolved through the deepest folder that exists; the rest kept as written.
std::wstring real_path(const std::wstring& AFull) {
  std::wstring existing = AFull;
  for (;;) {
    HANDLE h = ::CreateFileW(existing.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    unique_handle file(h == INVALID_HANDLE_VALUE ? nullptr : h);
    if (file) {
      std::wstring final(MAX_PATH, L'\0');
      DWORD n = System().GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()), 0);
      if (n >= final.size()) {
        final.resize(n + 1);
        n = System().GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()), 0);
      }
      if (!n || n >= final.size()) return AFull;
      final.resize(n);
      return without_native_prefix(final) + AFull.substr(existing.size());
    }
    const size_t root = root_length(existing.c_str(), existing.size());
    size_t cut = existing.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut < root || existing.size() <= root) return AFull;
    if (cut + 1 == existing.size()) cut = existing.find_last_of(L'\\', cut - 1);
    if (cut == std::wstring::npos || cut + 1 < root) return AFull;
    existing.resize(std::max(cut, root));
  }
}

std::wstring reparse_target(const std::wstring& APath) {
  unique_handle file = open_for_attributes(APath, 0);
  if (!file) return {};
  std::vector<char> buffer(kReparseBufferSize);
  DWORD got = 0;
  if (!::DeviceIoControl(file.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &got, nullptr) ||
      got < sizeof(reparse_header))
    return {};
  reparse_header header;
  std::memcpy(&header, buffer.data(), sizeof(header));
  size_t paths = 0;
  if (header.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT)
    paths = kMountPointPaths;
  else if (header.ReparseTag == IO_REPARSE_TAG_SYMLINK)
    paths = kSymlinkPaths;
  else
    return {};
  const size_t first = paths + header.SubstituteNameOffset;
  if (first + header.SubstituteNameLength > got || header.SubstituteNameLength == 0) return {};
  std::wstring target(header.SubstituteNameLength / sizeof(wchar_t), L'\0');
  std::memcpy(target.data(), buffer.data() + first, header.SubstituteNameLength);
  return without_native_prefix(target);
}

// A junction: the folder ADest becomes a mount point of the folder ASource.
bool make_junction(const std::wstring& ASource, const std::wstring& ADest) {
  const std::wstring target = without_native_prefix(full_path(ASource));
  const std::wstring substitute = L"\\??\\" + target;
  const size_t substitute_bytes = substitute.size() * sizeof(wchar_t);
  const size_t print_bytes = target.size() * sizeof(wchar_t);
  const size_t data = 8 + substitute_bytes + 2 + print_bytes + 2;
  if (data > 0xFFFF - 8) return false;
  std::vector<char> buffer(8 + data, 0);
  reparse_header header{};
  header.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  header.ReparseDataLength = static_cast<WORD>(data);
  header.SubstituteNameLength = static_cast<WORD>(substitute_bytes);
  header.PrintNameOffset = static_cast<WORD>(substitute_bytes + 2);
  header.PrintNameLength = static_cast<WORD>(print_bytes);
  std::memcpy(buffer.data(), &header, sizeof(header));
  std::memcpy(buffer.data() + kMountPointPaths, substitute.c_str(), substitute_bytes);
  std::memcpy(buffer.data() + kMountPointPaths + substitute_bytes + 2, target.c_str(), print_bytes);
  const bool created = ::CreateDirectoryW(ADest.c_str(), nullptr) != FALSE;
  bool done = false;
  {
    unique_handle folder = open_for_attributes(ADest, GENERIC_WRITE);
    DWORD got = 0;
    done = folder && ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), nullptr, 0, &got, nullptr);
  }
  if (!done && created) ::RemoveDirectoryW(ADest.c_str());
  return done;
}

bool make_volume_mount(const std::wstring& ASource, const std::wstring& ADest) {
  std::wstring volume_root = full_path(ASource);
  if (volume_root.empty() || !is_separator(volume_root.back())) volume_root += L'\\';
  wchar_t volume[MAX_PATH] = {};
  if (!::GetVolumeNameForVolumeMountPointW(volume_root.c_str(), volume, MAX_PATH)) return false;
  std::wstring mount = full_path(ADest);
  if (!is_separator(mount.back())) mount += L'\\';
  const bool created = ::CreateDirectoryW(mount.c_str(), nullptr) != FALSE;
  const bool done = ::SetVolumeMountPointW(mount.c_str(), volume) != FALSE;
  if (!done && created) ::RemoveDirectoryW(mount.c_str());
  return done;
}

std::wstring sid_text(PSID ASid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(ASid, &text)) return {};
  unique_local<wchar_t> owner(text);
  return text;
}

std::wstring file_owner(const std::wstring& AComputer, const std::wstring& AName) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(AName.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &descriptor) != ERROR_SUCCESS)
    return {};
  unique_local<void> descriptor_owner(descriptor);
  if (!owner) return {};
  wchar_t account[256] = {}, domain[256] = {};
  DWORD account_size = 256, domain_size = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(AComputer.empty() ? nullptr : AComputer.c_str(), owner, account, &account_size, domain,
                           &domain_size, &use))
    return sid_text(owner);
  return *domain ? std::wstring(domain) + L"\\" + account : std::wstring(account);
}

// --- recursive search --------------------------------------------------------------------------

constexpr int kMaxSearchDepth = 256;  // symbolic-link loops end here

struct search {
  const TqorFarMaskList& Mask;
  TFarRecursiveSearchFunc Func;
  unsigned Flags;
  void* Param;

  // False when the plugin asked to stop.
  bool report(const std::wstring& AFolder, const WIN32_FIND_DATAW& AData) const {
    if (!Mask.Match(AData.cFileName, std::wcslen(AData.cFileName))) return true;
    TPluginPanelItem item{};
    item.CreationTime = AData.ftCreationTime;
    item.LastAccessTime = AData.ftLastAccessTime;
    item.LastWriteTime = AData.ftLastWriteTime;
    item.ChangeTime = AData.ftLastWriteTime;
    item.FileSize = (static_cast<std::uint64_t>(AData.nFileSizeHigh) << 32) | AData.nFileSizeLow;
    item.FileName = AData.cFileName;
    item.AlternateFileName = AData.cAlternateFileName;
    item.FileAttributes = AData.dwFileAttributes;
    item.NumberOfLinks = 1;
    const std::wstring full = AFolder + AData.cFileName;
    return GuardedCall(L"FarRecursiveSearch callback", Func, static_cast<const TPluginPanelItem*>(&item),
                       full.c_str(), Param) != 0;
  }

  bool folder(const std::wstring& AFolder, int ADepth) const {
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileExW((AFolder + L"*").c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                                  nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return true;
    std::vector<WIN32_FIND_DATAW> folders;
    {
      unique_find find(h);
      do {
        if (!std::wcscmp(data.cFileName, L".") || !std::wcscmp(data.cFileName, L"..")) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          folders.push_back(data);
        else if (!report(AFolder, data))
          return false;
      } while (::FindNextFileW(find.get(), &data));
    }
    for (const auto& f : folders) {
      if (!report(AFolder, f)) return false;
      const bool link = (f.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if ((Flags & FRS_RECUR) && (!link || (Flags & FRS_SCANSYMLINK)) && ADepth < kMaxSearchDepth) {
        if (!folder(AFolder + f.cFileName + L"\\", ADepth + 1)) return false;
        if ((Flags & FRS_RETUPDIR) && !report(AFolder, f)) return false;
      }
    }
    return true;
  }
};

}  // namespace

size_t WINAPI FarStdGetFileOwner(const wchar_t* AComputer, const wchar_t* AName, wchar_t* AOwner, size_t ASize) {
  try {
    std::wstring computer, name;
    if (!AName || !CopyPluginText(AComputer, computer) || !CopyPluginText(AName, name)) return 0;
    const std::wstring owner = file_owner(computer, name);
    return owner.empty() ? 0 : copy_out(owner, AOwner, ASize);
  } catch (...) {
    return 0;
  }
}

// 1, not 0, when the count cannot be read.
size_t WINAPI FarStdGetNumberOfLinks(const wchar_t* AName) {
  try {
    std::wstring name;
    if (!AName || !CopyPluginText(AName, name)) return 1;
    unique_handle file = open_for_attributes(name);
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !::GetFileInformationByHandle(file.get(), &info) || !info.nNumberOfLinks) return 1;
    return info.nNumberOfLinks;
  } catch (...) {
    return 1;
  }
}

void WINAPI FarStdRecursiveSearch(const wchar_t* AInitDir, const wchar_t* AMask, TFarRecursiveSearchFunc AFunc,
                                  TFarFlags AFlags, void* AParam) {
  try {
    std::wstring folder;
    if (!AInitDir || !AFunc || !CopyPluginText(AInitDir, folder)) return;
    const auto mask = mask_list_of(AMask);
    if (!mask || !mask->Valid()) return;
    if (!folder.empty() && !is_separator(folder.back())) folder += L'\\';
    search{*mask, AFunc, static_cast<unsigned>(AFlags & 0xFF), AParam}.folder(folder, 0);
  } catch (...) {
  }
}

// A name only: the file is not created. GetTempFileNameW with a non-zero number just formats it.
size_t WINAPI FarStdMkTemp(wchar_t* ADest, size_t ASize, const wchar_t* APrefix) {
  static std::atomic<unsigned> counter{0};
  try {
    std::wstring prefix;
    if (!CopyPluginText(APrefix, prefix)) return 0;
    prefix = prefix.empty() ? L"FAR" : prefix.substr(0, 3);
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
    if (!n || n > MAX_PATH - 14) return 0;
    const unsigned base = 23 * ::GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
      const unsigned unique = base + counter++;
      if ((unique & 0xFFFF) == 0) continue;  // 0 would make GetTempFileNameW create the file
      wchar_t name[MAX_PATH] = {};
      if (!::GetTempFileNameW(folder, prefix.c_str(), unique, name)) return 0;
      if (::GetFileAttributesW(name) == INVALID_FILE_ATTRIBUTES) return copy_out(name, ADest, ASize);
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

BOOL WINAPI FarStdMkLink(const wchar_t* ASource, const wchar_t* ADest, int AType, TFarFlags) {
  try {
    std::wstring source, dest;
    if (!ASource || !ADest || !CopyPluginText(ASource, source) || !CopyPluginText(ADest, dest) || source.empty() ||
        dest.empty())
      return FALSE;
    switch (AType) {
      case LINK_HARDLINK:
        return ::CreateHardLinkW(dest.c_str(), source.c_str(), nullptr);
      case LINK_JUNCTION:
        return make_junction(source, dest);
      case LINK_VOLMOUNT:
        return make_volume_mount(source, dest);
      case LINK_SYMLINKFILE:
      case LINK_SYMLINKDIR:
      case LINK_SYMLINK: {
        DWORD flags = AType == LINK_SYMLINKDIR ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0;
        if (AType == LINK_SYMLINK) {
          const DWORD attributes = ::GetFileAttributesW(full_path(source).c_str());
          if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            flags = SYMBOLIC_LINK_FLAG_DIRECTORY;
        }
        return System().CreateSymbolicLinkW(dest.c_str(), source.c_str(), flags) ? TRUE : FALSE;
      }
      default:
        return FALSE;
    }
  } catch (...) {
    return FALSE;
  }
}

// Src and Dest may be the same buffer: the source is copied before anything is written.
size_t WINAPI FarStdConvertPath(int AMode, const wchar_t* ASource, wchar_t* ADest, size_t ASize) {
  try {
    std::wstring source;
    if (!ASource || !CopyPluginText(ASource, source)) return 0;
    if (AMode == CPM_NATIVE)
      return copy_out(native_path(source.empty() ? source : backslashed(FarFullPath(source))), ADest, ASize);
    const std::wstring full = FarFullPath(source);
    if (AMode == CPM_REAL) return copy_out(real_path(full), ADest, ASize);
    return copy_out(full, ADest, ASize);
  } catch (...) {
    return 0;
  }
}

size_t WINAPI FarStdGetReparsePointInfo(const wchar_t* ASource, wchar_t* ADest, size_t ASize) {
  try {
    std::wstring source;
    if (!ASource || !CopyPluginText(ASource, source)) return 0;
    const std::wstring target = reparse_target(source);
    return target.empty() ? 0 : copy_out(target, ADest, ASize);
  } catch (...) {
    return 0;
  }
}

size_t WINAPI FarStdGetCurrentDirectory(size_t ASize, wchar_t* ABuffer) {
  try {
    return copy_out(FarCurrentFolder(), ABuffer, ASize);
  } catch (...) {
    return 0;
  }
}

// ================================================================================================
// FormatFileSize

namespace {

std::wstring locale_text(LCTYPE AType, const wchar_t* AFallback) {
  wchar_t text[8] = {};
  return ::GetLocaleInfoW(LOCALE_USER_DEFAULT, AType, text, 8) > 1 ? std::wstring(text) : std::wstring(AFallback);
}

std::wstring group_digits(const std::wstring& ADigits) {
  const std::wstring separator = locale_text(LOCALE_STHOUSAND, L",");
  std::wstring out;
  for (size_t i = 0; i < ADigits.size(); ++i) {
    if (i && (ADigits.size() - i) % 3 == 0) out += separator;
    out += ADigits[i];
  }
  return out;
}

std::uint64_t power(std::uint64_t ABase, int AExponent) {
  std::uint64_t result = 1;
  for (int i = 0; i < AExponent; ++i) result *= ABase;
  return result;
}

// ASize / ADivider^AUnit, rounded half up.
std::uint64_t scaled(std::uint64_t ASize, std::uint64_t ADivider, int AUnit) {
  const std::uint64_t unit = power(ADivider, AUnit);
  const std::uint64_t q = ASize / unit, r = ASize % unit;
  return q + (AUnit && r >= unit / 2 ? 1 : 0);
}

std::wstring format_size(std::uint64_t ASize, intptr_t AWidth, TFarFlags AFlags) {
  static const wchar_t kUnits[] = L"BKMGTPE";
  const bool thousand = (AFlags & FFFS_THOUSAND) != 0;
  const std::uint64_t divider = thousand ? 1000 : 1024;
  const size_t width = static_cast<size_t>(AWidth < 0 ? -AWidth : AWidth);
  const int min_unit = (AFlags & FFFS_MINSIZEINDEX) ? static_cast<int>(AFlags & FFFS_MINSIZEINDEX_MASK) + 1 : 0;
  auto unit_text = [&](int AUnit) {
    if (AUnit == 0 && !(AFlags & FFFS_SHOWBYTESINDEX)) return std::wstring();
    wchar_t letter = kUnits[AUnit];
    if (thousand) letter = static_cast<wchar_t>(std::towlower(letter));
    return std::wstring((AFlags & FFFS_ECONOMIC) ? L"" : L" ") + letter;
  };
  auto number = [&](std::uint64_t AValue) {
    const std::wstring digits = std::to_wstring(AValue);
    return (AFlags & FFFS_COMMAS) ? group_digits(digits) : digits;
  };
  std::wstring text;
  if (AFlags & FFFS_FLOATSIZE) {
    int unit = min_unit;
    while (unit < 6 && ASize >= power(divider, unit + 1)) ++unit;
    if (unit == 0) {
      text = number(ASize) + unit_text(0);
    } else {
      const std::uint64_t whole_unit = power(divider, unit);
      const std::uint64_t whole = ASize / whole_unit;
      const int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
      std::uint64_t fraction = 0;
      if (decimals) {
        const std::uint64_t scale = decimals == 2 ? 100 : 10;
        fraction = static_cast<std::uint64_t>(static_cast<long double>(ASize % whole_unit) * scale / whole_unit);
      }
      text = number(whole);
      if (decimals) {
        std::wstring digits = std::to_wstring(fraction);
        digits.insert(0, static_cast<size_t>(decimals) - std::min(digits.size(), static_cast<size_t>(decimals)), L'0');
        text += locale_text(LOCALE_SDECIMAL, L".") + digits;
      }
      text += unit_text(unit);
    }
  } else {
    // Larger units, rounded, until the text fits the width.
    for (int unit = min_unit;; ++unit) {
      text = number(scaled(ASize, divider, unit)) + unit_text(unit);
      if (!width || text.size() <= width || unit == 6) break;
    }
  }
  if (width && text.size() > width) {
    if (AWidth > 0)
      text = kEllipsis + text.substr(text.size() - (width - 1));
    else
      text = text.substr(0, width - 1) + kEllipsis;
  } else if (width) {
    const std::wstring pad(width - text.size(), L' ');
    text = AWidth > 0 ? pad + text : text + pad;
  }
  return text;
}

}  // namespace

size_t WINAPI FarStdFormatFileSize(std::uint64_t ASize, intptr_t AWidth, TFarFlags AFlags, wchar_t* ADest,
                                   size_t ADestSize) {
  try {
    return copy_out(format_size(ASize, AWidth, AFlags), ADest, ADestSize);
  } catch (...) {
    return 0;
  }
}

// ================================================================================================
// Clock, comparison, code page

namespace {
std::uint64_t performance_counter() noexcept {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<std::uint64_t>(now.QuadPart);
}
const std::uint64_t GStartTicks = performance_counter();
}  // namespace

std::uint64_t WINAPI FarStdClock() {
  LARGE_INTEGER frequency;
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 0;
  const std::uint64_t f = static_cast<std::uint64_t>(frequency.QuadPart);
  const std::uint64_t ticks = performance_counter() - GStartTicks;
  return ticks / f * 1000000 + ticks % f * 1000000 / f;
}

// FAR's default sort options: linguistic, case-insensitive, digits as numbers.
int WINAPI FarStdCompareStrings(const wchar_t* A, size_t ASizeA, const wchar_t* B, size_t ASizeB) {
  if ((!A && ASizeA) || (!B && ASizeB) || ASizeA > INT_MAX || ASizeB > INT_MAX) return 0;
  int result = 0;
  auto body = [&]() noexcept {
    const wchar_t* a = A ? A : L"";
    const wchar_t* b = B ? B : L"";
    result = ::CompareStringW(LOCALE_USER_DEFAULT, SORT_STRINGSORT | LINGUISTIC_IGNORECASE | SORT_DIGITSASNUMBERS, a,
                              static_cast<int>(ASizeA), b, static_cast<int>(ASizeB));
    if (!result)
      result = ::CompareStringW(LOCALE_USER_DEFAULT, SORT_STRINGSORT | NORM_IGNORECASE, a, static_cast<int>(ASizeA),
                                b, static_cast<int>(ASizeB));
  };
  return RunGuardedLambda(body) && result ? result - CSTR_EQUAL : 0;
}

// A byte-order mark decides; everything else is taken as UTF-8.
uintptr_t WINAPI FarStdDetectCodePage(TDetectCodePageInfo* AInfo) {
  try {
    TDetectCodePageInfo info{};
    std::wstring name;
    if (!AInfo || !CopyPluginMemory(&info, AInfo, sizeof(info)) || !info.FileName ||
        !CopyPluginText(info.FileName, name))
      return 0;
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    unique_handle file(h == INVALID_HANDLE_VALUE ? nullptr : h);
    if (!file) return 0;
    unsigned char head[3] = {};
    DWORD got = 0;
    if (!::ReadFile(file.get(), head, sizeof(head), &got, nullptr)) return 0;
    if (got >= 2 && head[0] == 0xFF && head[1] == 0xFE) return 1200;
    if (got >= 2 && head[0] == 0xFE && head[1] == 0xFF) return 1201;
    return 65001;
  } catch (...) {
    return 0;
  }
}

}  // namespace qor
