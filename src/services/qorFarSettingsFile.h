// The settings file: every plugin's settings by plugin GUID and location, as typed text lines a
// person can read and edit, and the file's safe handling on disk. Several processes share it (two
// file-manager windows, the 32-bit and the 64-bit module): a lock file beside it serialises the
// readers and writers, a write goes to a temporary file that then replaces the old one, and a file
// that cannot be read back is set aside, never overwritten.
//
//   # comment
//   [{GUID} roaming]                       the plugin's own key (location roaming or local)
//   qword "Level" = 9                      a number, decimal
//   string "Title" = "two\nlines"          a text
//   data "Blob" = 00ff10                   bytes, in hex
//   [{GUID} roaming "Options" "Advanced"]  a sub-key, by the names of the keys above it
//
// The file is UTF-8. In quotes, \\ \" \n \r \t stand for themselves and \uXXXX for one UTF-16
// unit (other control characters and unpaired surrogates are written so).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/qorHandles.h"

namespace qor {

// One named value: FST_QWORD, FST_STRING or FST_DATA.
struct TqorSettingsValue {
  std::wstring Name;
  int Type = 0;
  std::uint64_t Number = 0;
  std::wstring Text;
  std::vector<std::byte> Data;
};

// One key with its sub-keys and values, each in creation order; names compare exactly.
struct TqorSettingsKey {
  std::wstring Name;
  std::vector<TqorSettingsKey> Keys;
  std::vector<TqorSettingsValue> Values;

  TqorSettingsKey* FindKey(const std::wstring& AName) noexcept;
  const TqorSettingsKey* FindKey(const std::wstring& AName) const noexcept;
  TqorSettingsKey& Key(const std::wstring& AName);  // found or added
  const TqorSettingsValue* FindValue(const std::wstring& AName) const noexcept;
  TqorSettingsValue& Value(const std::wstring& AName);  // found or added
  void RemoveKey(const std::wstring& AName);
  void RemoveValue(const std::wstring& AName);
  bool Empty() const noexcept { return Keys.empty() && Values.empty(); }
};

// One plugin's key tree in one location.
struct TqorSettingsTree {
  GUID Guid{};
  bool Local = false;
  TqorSettingsKey Root;
};

struct TqorSettingsDocument {
  std::vector<TqorSettingsTree> Trees;

  const TqorSettingsKey* Find(const GUID& AGuid, bool ALocal) const noexcept;
  TqorSettingsKey& Tree(const GUID& AGuid, bool ALocal);  // found or added
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", in either case, as a GUID (the text GuidToText writes).
bool ParseGuidText(std::wstring_view AText, GUID& AGuid) noexcept;

// The text of a document; empty trees are left out.
std::string FormatSettings(const TqorSettingsDocument& ADocument);
// The bytes one value's line takes in that text.
size_t FormattedValueSize(const TqorSettingsValue& AValue);
// False when the text is not one FormatSettings could have written (or a person kept to its
// rules): the document is then incomplete and must not be used.
bool ParseSettings(std::string_view AText, TqorSettingsDocument& ADocument);

// What identifies one version of the file on disk: a replacement brings a new creation time.
struct TqorSettingsStamp {
  bool Exists = false;
  FILETIME Created{};
  FILETIME Written{};
  std::uint64_t Size = 0;
  bool operator==(const TqorSettingsStamp& A) const noexcept;
  bool operator!=(const TqorSettingsStamp& A) const noexcept { return !(*this == A); }
};
TqorSettingsStamp SettingsFileStamp(const std::wstring& AFileName) noexcept;

// The reader sets a bigger file aside unread; the writer never writes one.
constexpr std::uint64_t kMaxSettingsFileSize = 64 * 1024 * 1024;

// The lock file beside the settings file: held while this object lives, gone when it goes (also
// when the process dies). Waits at most ATimeout milliseconds for another holder.
class TqorSettingsLock {
 public:
  TqorSettingsLock(const std::wstring& AFileName, DWORD ATimeout) noexcept;
  bool Held() const noexcept { return FFile != nullptr; }
  // Why it is not held: the system error of the last attempt.
  DWORD Error() const noexcept { return FError; }

 private:
  unique_handle FFile;
  DWORD FError = ERROR_SUCCESS;
};

enum class TqorSettingsRead { Read, Missing, SetAside, Unusable };

// Reads and parses the file. A file that cannot be read or parsed comes back as an empty document;
// with ASetAside (only for a caller that holds the lock) it is renamed aside first, to a fresh
// name ending in ".bad". Unusable: it could not be read nor set aside, and must not be replaced;
// AError (when given) then receives the system error that stopped it.
TqorSettingsRead ReadSettingsFile(const std::wstring& AFileName, bool ASetAside, TqorSettingsDocument& ADocument,
                                  TqorSettingsStamp& AStamp, DWORD* AError = nullptr);
// Writes a document's text (FormatSettings) to a temporary file beside the file and puts that in the
// file's place (the caller holds the lock). ERROR_SUCCESS, or the system error of the step that
// failed, the old file then staying as it was; a text the reader would set aside is refused with
// ERROR_FILE_TOO_LARGE.
DWORD WriteSettingsFile(const std::wstring& AFileName, const std::string& AText, TqorSettingsStamp& AStamp);

}  // namespace qor
