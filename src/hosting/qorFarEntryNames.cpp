#include "hosting/qorFarEntryNames.h"

#include <algorithm>
#include <cwctype>
#include <unordered_set>

namespace qor {
namespace {

bool is_separator(wchar_t AChar) noexcept { return AChar == L'\\' || AChar == L'/'; }

bool forbidden_char(wchar_t AChar) noexcept {
  return AChar < 32 || AChar == L'<' || AChar == L'>' || AChar == L':' || AChar == L'"' || AChar == L'|' ||
         AChar == L'?' || AChar == L'*';
}

bool dots_and_spaces(std::wstring_view AName) noexcept {
  return !AName.empty() && AName.find_first_not_of(L". ") == std::wstring_view::npos;
}

bool same_letters(std::wstring_view AName, const wchar_t* AUpper) noexcept {
  size_t i = 0;
  for (; i < AName.size() && AUpper[i]; ++i)
    if (std::towupper(AName[i]) != static_cast<wint_t>(AUpper[i])) return false;
  return i == AName.size() && !AUpper[i];
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9 (with the superscript digits), CONIN$ and CONOUT$ name
// devices in every folder, whatever extension follows and with trailing spaces.
bool device_name(std::wstring_view AName) noexcept {
  std::wstring_view base = AName.substr(0, AName.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  if (base.size() == 3)
    return same_letters(base, L"CON") || same_letters(base, L"PRN") || same_letters(base, L"AUX") ||
           same_letters(base, L"NUL");
  if (base.size() == 4 && (same_letters(base.substr(0, 3), L"COM") || same_letters(base.substr(0, 3), L"LPT"))) {
    const wchar_t digit = base[3];
    return (digit >= L'1' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
  }
  return same_letters(base, L"CONIN$") || same_letters(base, L"CONOUT$");
}

template <class Visit>
void each_component(std::wstring_view APath, Visit AVisit) {
  size_t start = 0;
  for (size_t i = 0; i <= APath.size(); ++i) {
    if (i < APath.size() && !is_separator(APath[i])) continue;
    AVisit(APath.substr(start, i - start), start == 0);
    start = i + 1;
  }
}

}  // namespace

bool EntryPathContained(std::wstring_view APath) noexcept {
  if (APath.empty()) return false;
  bool contained = true;
  each_component(APath, [&](std::wstring_view AName, bool AFirst) {
    if (AName.empty() || dots_and_spaces(AName) || device_name(AName)) contained = false;
    // "C:", "C:x": a drive, absolute or relative to that drive's current folder.
    if (AFirst && AName.size() >= 2 && AName[1] == L':') contained = false;
  });
  return contained;
}

bool PathHasDotComponent(std::wstring_view APath) noexcept {
  bool dotted = false;
  each_component(APath, [&](std::wstring_view AName, bool) { dotted = dotted || AName == L"." || AName == L".."; });
  return dotted;
}

bool PlainEntryName(std::wstring_view AName) noexcept {
  if (!EntryPathContained(AName)) return false;
  for (wchar_t c : AName)
    if (is_separator(c) || forbidden_char(c)) return false;
  return true;
}

bool ItemNameContained(std::wstring_view AName) noexcept {
  if (AName.empty()) return false;
  if (AName.size() >= 2 && is_separator(AName[0]) && is_separator(AName[1])) return false;
  bool contained = true, first = true;
  each_component(AName, [&](std::wstring_view APart, bool) {
    if (APart.empty()) return;
    if (dots_and_spaces(APart) || device_name(APart)) contained = false;
    if (first && APart.size() >= 2 && APart[1] == L':') contained = false;
    first = false;
  });
  return contained;
}

namespace {

// What each ASCII character is to a name, one table look per character.
enum : unsigned char { kSeparator = 1, kForbidden = 2, kNotDotOrSpace = 4 };

struct char_classes {
  unsigned char Of[128] = {};
  constexpr char_classes() {
    for (int c = 0; c < 128; ++c) {
      unsigned char bits = (c == '.' || c == ' ') ? 0 : kNotDotOrSpace;
      if (c == '\\' || c == '/') bits |= kSeparator;
      else if (c < 32 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*')
        bits |= kForbidden;
      Of[c] = bits;
    }
  }
};
constexpr char_classes kClasses;

}  // namespace

TqorItemNameTraits JudgeItemName(std::wstring_view AName) noexcept {
  TqorItemNameTraits traits;
  if (AName.empty()) return traits;
  unsigned bits = 0;
  for (wchar_t c : AName) bits |= c < 128 ? kClasses.Of[c] : static_cast<unsigned>(kNotDotOrSpace);
  // A name with separators is judged part by part; most names have none and are judged whole.
  if (bits & kSeparator) {
    traits.Contained = ItemNameContained(AName);
    return traits;
  }
  const bool dots_spaces = !(bits & kNotDotOrSpace);
  // Every device name starts with one of these letters.
  const wchar_t first = AName[0] | 0x20;
  const bool device =
      (first == L'c' || first == L'p' || first == L'a' || first == L'n' || first == L'l') && device_name(AName);
  traits.Contained = !dots_spaces && !device && !(AName.size() >= 2 && AName[1] == L':');
  traits.ShownAsListed = !dots_spaces && !device && !(bits & kForbidden);
  return traits;
}

namespace {

// One name made safe to show, without regard to the other names of its folder.
std::wstring listed_item_name(std::wstring_view AName) {
  if (AName.empty()) return L"_";
  std::wstring listed(AName);
  const bool climbing = dots_and_spaces(AName);
  for (wchar_t& c : listed)
    if (climbing || forbidden_char(c) || is_separator(c)) c = L'_';
  if (device_name(listed)) listed.insert(listed.begin(), L'_');
  return listed;
}

std::wstring with_suffix(const std::wstring& AName, unsigned ANumber) {
  const size_t dot = AName.find_last_of(L'.');
  const size_t cut = dot == std::wstring::npos || dot == 0 ? AName.size() : dot;
  return AName.substr(0, cut) + L"~" + std::to_wstring(ANumber) + AName.substr(cut);
}

}  // namespace

bool ListedItemNames(const std::vector<std::wstring_view>& ANames, std::vector<std::wstring>& AListed) {
  AListed.clear();
  const auto needs_change = [](std::wstring_view AName) {
    if (AName.empty() || dots_and_spaces(AName) || device_name(AName)) return true;
    for (wchar_t c : AName)
      if (forbidden_char(c) || is_separator(c)) return true;
    return false;
  };
  if (std::none_of(ANames.begin(), ANames.end(), needs_change)) return false;
  AListed.resize(ANames.size());
  std::vector<size_t> changed;
  std::unordered_set<std::wstring> taken;
  taken.reserve(ANames.size());
  // Names that need no change keep theirs; the first of two identical ones does.
  for (size_t i = 0; i < ANames.size(); ++i) {
    AListed[i] = listed_item_name(ANames[i]);
    if (AListed[i] != ANames[i] || !taken.insert(AListed[i]).second) changed.push_back(i);
  }
  for (size_t i : changed) {
    if (taken.insert(AListed[i]).second) continue;
    for (unsigned number = 2;; ++number) {
      std::wstring candidate = with_suffix(AListed[i], number);
      if (taken.insert(candidate).second) {
        AListed[i] = std::move(candidate);
        break;
      }
    }
  }
  return true;
}

}  // namespace qor
