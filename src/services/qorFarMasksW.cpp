#include "services/qorFarMasksW.h"

#include <array>
#include <cwchar>

#include "common/qorLocks.h"

namespace qor {

const wchar_t* UpperCaseTable() {
  static const std::unique_ptr<wchar_t[]> table = [] {
    std::unique_ptr<wchar_t[]> t(new wchar_t[0x10000]);
    for (unsigned c = 0; c < 0x10000; ++c) t[c] = static_cast<wchar_t>(c);
    ::CharUpperBuffW(t.get() + 1, 0xFFFF);  // the NUL stays as it is
    return t;
  }();
  return table.get();
}

namespace {

const wchar_t* find_char(const wchar_t* AFrom, const wchar_t* AEnd, wchar_t AChar) noexcept {
  while (AFrom != AEnd && *AFrom != AChar) ++AFrom;
  return AFrom;
}

bool has_wildcards(const wchar_t* AFrom, const wchar_t* AEnd) noexcept {
  for (; AFrom != AEnd; ++AFrom)
    if (*AFrom == L'*' || *AFrom == L'?' || *AFrom == L'[') return true;
  return false;
}

bool equal_ignoring_case(const wchar_t* A, const wchar_t* AEnd, const wchar_t* B, const wchar_t* BEnd,
                         const wchar_t* AUp) noexcept {
  if (AEnd - A != BEnd - B) return false;
  for (; A != AEnd; ++A, ++B)
    if (AUp[*A] != AUp[*B]) return false;
  return true;
}

bool match(const wchar_t* p, const wchar_t* pe, const wchar_t* s, const wchar_t* se, const wchar_t* up) noexcept {
  for (;;) {
    if (p == pe) return s == se;
    const wchar_t pc = *p++;
    switch (pc) {
      case L'?':
        if (s == se) return false;
        ++s;
        continue;
      case L'*': {
        while (p != pe && *p == L'*') ++p;
        if (p == pe) return true;
        if (*p == L'.') {
          // "*.*" matches every name; "*." only names without an extension; "*.ext" compares
          // the last extension directly.
          if (pe - p == 2 && p[1] == L'*') return true;
          if (!has_wildcards(p, pe)) {
            const wchar_t* dot = nullptr;
            for (const wchar_t* q = s; q != se; ++q)
              if (*q == L'.') dot = q;
            if (pe - p == 1) return !dot || dot + 1 == se;
            const bool mask_has_dot = find_char(p + 1, pe, L'.') != pe;
            if (mask_has_dot && !dot) return false;
            if (!mask_has_dot && dot) return equal_ignoring_case(p + 1, pe, dot + 1, se, up);
          }
        }
        for (;; ++s) {
          if (match(p, pe, s, se, up)) return true;
          if (s == se) return false;
        }
      }
      case L'[': {
        const wchar_t* close = find_char(p, pe, L']');
        if (close == p) {  // "[]" is skipped
          ++p;
          continue;
        }
        if (close != pe) {
          if (s == se) return false;
          const wchar_t c = up[*s];
          bool hit = false;
          for (const wchar_t* q = p; q < close && !hit; ++q) {
            if (q + 2 < close && q[1] == L'-') {
              hit = up[q[0]] <= c && c <= up[q[2]];
              q += 2;
            } else {
              hit = up[*q] == c;
            }
          }
          if (!hit) return false;
          ++s;
          p = close + 1;
          continue;
        }
        break;  // an unclosed '[' is an ordinary character
      }
      default:
        break;
    }
    if (s == se) {
      // Legacy rules: a trailing "." or ".*" also matches the end of a name without extension.
      if (pc == L'.' && (p == pe || *p != L'.')) return match(p, pe, s, se, up);
      return false;
    }
    if (up[pc] != up[*s]) return false;
    ++s;
  }
}

// Default mask groups of FAR's configuration.
const wchar_t* group_text(const std::wstring& AName) {
  static const struct {
    const wchar_t* name;
    const wchar_t* text;
  } groups[] = {
      {L"arc",
       L"*.rar,*.r[0-9][0-9],*.zip,*.z[0-9][0-9],*.7z,*.[0-9][0-9][0-9],*.arj,*.a[0-9][0-9],*.cab,*.lzh,*.lha,"
       L"*.ace,*.uc2,*.ha,*.zoo,*.arc,*.pak,*.sqz,*.tar,*.t[agbx]z,*.tbz2,*.tzst,*.[gx]z,*.bz2,*.lz,*.lzma,*.z,"
       L"*.zst,*.cpio,*.rpm,*.deb,*.iso,*.udf,*.img,*.wim,*.swm,*.msi,*.chm,*.dmg,*.vhd,*.vhdx,*.jar,*.apk,*.xar"},
      {L"temp", L"*.bak,*.tmp"},
      {L"exec", L"*.exe,*.cmd,*.bat,*.com,%PATHEXT%"},
  };
  const wchar_t* up = UpperCaseTable();
  for (const auto& g : groups)
    if (equal_ignoring_case(AName.data(), AName.data() + AName.size(), g.name, g.name + std::wcslen(g.name), up))
      return g.text;
  return L"";
}

bool is_blank(wchar_t AChar) noexcept { return AChar == L' ' || AChar == L'\t'; }
bool is_list_separator(wchar_t AChar) noexcept { return AChar == L',' || AChar == L';'; }

}  // namespace

bool MatchFileMask(const wchar_t* AMask, size_t AMaskLength, const wchar_t* AName, size_t ANameLength) noexcept {
  return match(AMask, AMask + AMaskLength, AName, AName + ANameLength, UpperCaseTable());
}

// -------------------------------------------------------------------------------------------------

TqorFarMaskList::TqorFarMaskList(const std::wstring& AText) : FText(AText) {
  bool exclude = false;
  FValid = parse(AText, 0, exclude);
  if (FValid && FInclude.empty() && !FExclude.empty()) FInclude.push_back({L"*", nullptr});
  if (FInclude.empty()) FValid = false;
}

bool TqorFarMaskList::parse(const std::wstring& AText, int ADepth, bool& AExclude) {
  const size_t n = AText.size();
  size_t i = 0;
  while (i < n && !FEnded) {
    while (i < n && (is_blank(AText[i]) || is_list_separator(AText[i]))) ++i;
    if (i >= n) break;
    if (AText[i] == L'|') {
      if (AExclude) {  // a second '|' ends the list
        FEnded = true;
        break;
      }
      AExclude = true;
      ++i;
      continue;
    }
    std::wstring item;
    if (AText[i] == L'"') {
      const size_t close = AText.find(L'"', i + 1);
      item = AText.substr(i + 1, close == std::wstring::npos ? std::wstring::npos : close - i - 1);
      i = close == std::wstring::npos ? n : close + 1;
    } else if (AText[i] == L'/') {
      // A regular expression up to the next unescaped '/', then its option letters.
      size_t j = i + 1;
      while (j < n && AText[j] != L'/') j += AText[j] == L'\\' ? 2 : 1;
      if (j >= n) return false;
      ++j;
      while (j < n && !is_list_separator(AText[j]) && AText[j] != L'|' && !is_blank(AText[j])) ++j;
      item = AText.substr(i, j - i);
      i = j;
    } else {
      size_t j = i;
      while (j < n && !is_list_separator(AText[j]) && AText[j] != L'|') {
        if (AText[j] == L'[') {
          const size_t close = AText.find(L']', j + 1);
          if (close != std::wstring::npos) j = close;
        }
        ++j;
      }
      size_t end = j;
      while (end > i && is_blank(AText[end - 1])) --end;
      item = AText.substr(i, end - i);
      i = j;
    }
    if (!add_item(std::move(item), AExclude, ADepth)) return false;
  }
  return true;
}

bool TqorFarMaskList::add_item(std::wstring AItem, bool AExclude, int ADepth) {
  if (AItem.empty()) return true;
  const wchar_t* up = UpperCaseTable();
  auto& target = AExclude ? FExclude : FInclude;
  if (AItem.size() > 2 && AItem.front() == L'<' && AItem.back() == L'>') {
    if (ADepth >= 4) return true;
    bool exclude = AExclude;
    const bool ended = FEnded;
    const bool ok = parse(group_text(AItem.substr(1, AItem.size() - 2)), ADepth + 1, exclude);
    FEnded = ended;
    return ok;
  }
  static const wchar_t kPathExt[] = L"%PATHEXT%";
  if (equal_ignoring_case(AItem.data(), AItem.data() + AItem.size(), kPathExt, kPathExt + 9, up)) {
    wchar_t value[2048];
    const DWORD got = ::GetEnvironmentVariableW(L"PATHEXT", value, 2048);
    if (!got || got >= 2048) return true;
    std::wstring list;
    for (const wchar_t* p = value; *p;) {
      const wchar_t* end = p;
      while (*end && *end != L';') ++end;
      if (end != p) list += L"*" + std::wstring(p, end) + L",";
      p = *end ? end + 1 : end;
    }
    bool exclude = AExclude;
    return parse(list, ADepth + 1, exclude);
  }
  if (AItem.front() == L'/') {
    const size_t close = AItem.rfind(L'/');
    if (close == 0) return false;
    auto flags = std::regex_constants::ECMAScript;
    for (size_t k = close + 1; k < AItem.size(); ++k)
      if (AItem[k] == L'i' || AItem[k] == L'I') flags |= std::regex_constants::icase;
    try {
      target.push_back({AItem, std::make_unique<std::wregex>(AItem.substr(1, close - 1), flags)});
    } catch (const std::regex_error&) {
      return false;
    }
    FHasRegex = true;
    return true;
  }
  // "**" runs fold to one star; "*.*" is "*".
  std::wstring mask;
  for (wchar_t c : AItem)
    if (!(c == L'*' && !mask.empty() && mask.back() == L'*')) mask += c;
  if (mask == L"*.*") mask = L"*";
  target.push_back({std::move(mask), nullptr});
  return true;
}

bool TqorFarMaskList::match_any(const std::vector<item>& AItems, const wchar_t* AName, size_t ALength) {
  for (const auto& i : AItems) {
    if (i.regex) {
      if (std::regex_search(AName, AName + ALength, *i.regex)) return true;
    } else if (MatchFileMask(i.mask.data(), i.mask.size(), AName, ALength)) {
      return true;
    }
  }
  return false;
}

bool TqorFarMaskList::Match(const wchar_t* AName, size_t ALength) const {
  return FValid && match_any(FInclude, AName, ALength) && !match_any(FExclude, AName, ALength);
}

// -------------------------------------------------------------------------------------------------

namespace {

struct cached_list {
  std::uint32_t Hash = 0;
  size_t Length = 0;
  std::shared_ptr<const TqorFarMaskList> List;
};

struct mask_cache {
  critical_section Lock;
  std::array<cached_list, 8> Entries;
  size_t Next = 0;
};

mask_cache& MaskCache() {
  static mask_cache cache;
  return cache;
}

}  // namespace

std::uint32_t MaskTextHash(const wchar_t* AText, size_t ALength) noexcept {
  std::uint32_t h = 2166136261u;
  for (size_t i = 0; i < ALength; ++i) h = (h ^ AText[i]) * 16777619u;
  return h;
}

std::shared_ptr<const TqorFarMaskList> FindMaskList(std::uint32_t AHash, size_t ALength) {
  mask_cache& cache = MaskCache();
  lock_guard<critical_section> guard(cache.Lock);
  for (const auto& e : cache.Entries)
    if (e.List && e.Hash == AHash && e.Length == ALength) return e.List;
  return nullptr;
}

std::shared_ptr<const TqorFarMaskList> AddMaskList(std::uint32_t AHash, const std::wstring& AText) {
  auto list = std::make_shared<const TqorFarMaskList>(AText);
  mask_cache& cache = MaskCache();
  std::shared_ptr<const TqorFarMaskList> evicted;  // freed outside the lock
  lock_guard<critical_section> guard(cache.Lock);
  cached_list& slot = cache.Entries[cache.Next];
  cache.Next = (cache.Next + 1) % cache.Entries.size();
  evicted = std::move(slot.List);
  slot = {AHash, AText.size(), list};
  return list;
}

}  // namespace qor
