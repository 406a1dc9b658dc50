// FAR's file-name masks: one mask (wildcards, sets, the legacy dot rules) and mask lists (items
// split at ',' and ';', quotes, '|' exclusions, <groups>, %PATHEXT%, /regex/ items).
#pragma once

#include <windows.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace qor {

// Upper case of every UTF-16 unit (CharUpperBuffW), built on first use.
const wchar_t* UpperCaseTable();

// One mask against one name, case-insensitively. Reads nothing outside the two ranges and
// allocates nothing, so it may run directly on a plugin's memory under the guard.
bool MatchFileMask(const wchar_t* AMask, size_t AMaskLength, const wchar_t* AName, size_t ANameLength) noexcept;

class TqorFarMaskList {
 public:
  // Parses a list; an invalid one (empty, a bad regex, an unterminated regex) gives Valid() false.
  explicit TqorFarMaskList(const std::wstring& AText);

  bool Valid() const noexcept { return FValid; }
  bool HasRegex() const noexcept { return FHasRegex; }
  const std::wstring& Text() const noexcept { return FText; }
  // A name matches when it matches an include item and no exclude item. Lists without regex
  // items match without allocating; regex items may allocate and are matched outside the guard.
  bool Match(const wchar_t* AName, size_t ALength) const;

 private:
  struct item {
    std::wstring mask;
    std::unique_ptr<std::wregex> regex;
  };
  bool parse(const std::wstring& AText, int ADepth, bool& AExclude);
  bool add_item(std::wstring AItem, bool AExclude, int ADepth);
  static bool match_any(const std::vector<item>& AItems, const wchar_t* AName, size_t ALength);

  std::wstring FText;
  std::vector<item> FInclude;
  std::vector<item> FExclude;
  bool FValid = false;
  bool FHasRegex = false;
  bool FEnded = false;
};

// The compiled list for a text, from a small process-wide cache keyed on the text: repeated calls
// with the same list (a mask test per archive entry) neither parse nor allocate. ATextLength and
// AHash come from MaskTextHash; the caller compares the text itself before using a hit.
std::uint32_t MaskTextHash(const wchar_t* AText, size_t ALength) noexcept;
std::shared_ptr<const TqorFarMaskList> FindMaskList(std::uint32_t AHash, size_t ALength);
std::shared_ptr<const TqorFarMaskList> AddMaskList(std::uint32_t AHash, const std::wstring& AText);

}  // namespace qor
