#include "services/qorFarSettingsFile.h"

#include <algorithm>
#include <cstring>

#include "api/qorFarPluginW.h"
#include "services/qorFarLang.h"

namespace qor {

// ---- the tree ----

TqorSettingsKey* TqorSettingsKey::FindKey(const std::wstring& AName) noexcept {
  for (TqorSettingsKey& key : Keys)
    if (key.Name == AName) return &key;
  return nullptr;
}

const TqorSettingsKey* TqorSettingsKey::FindKey(const std::wstring& AName) const noexcept {
  return const_cast<TqorSettingsKey*>(this)->FindKey(AName);
}

TqorSettingsKey& TqorSettingsKey::Key(const std::wstring& AName) {
  if (TqorSettingsKey* key = FindKey(AName)) return *key;
  Keys.emplace_back();
  Keys.back().Name = AName;
  return Keys.back();
}

const TqorSettingsValue* TqorSettingsKey::FindValue(const std::wstring& AName) const noexcept {
  for (const TqorSettingsValue& value : Values)
    if (value.Name == AName) return &value;
  return nullptr;
}

TqorSettingsValue& TqorSettingsKey::Value(const std::wstring& AName) {
  for (TqorSettingsValue& value : Values)
    if (value.Name == AName) return value;
  Values.emplace_back();
  Values.back().Name = AName;
  return Values.back();
}

void TqorSettingsKey::RemoveKey(const std::wstring& AName) {
  Keys.erase(std::remove_if(Keys.begin(), Keys.end(), [&](const TqorSettingsKey& AKey) { return AKey.Name == AName; }),
             Keys.end());
}

void TqorSettingsKey::RemoveValue(const std::wstring& AName) {
  Values.erase(std::remove_if(Values.begin(), Values.end(),
                              [&](const TqorSettingsValue& AValue) { return AValue.Name == AName; }),
               Values.end());
}

const TqorSettingsKey* TqorSettingsDocument::Find(const GUID& AGuid, bool ALocal) const noexcept {
  for (const TqorSettingsTree& tree : Trees)
    if (IsEqualGUID(tree.Guid, AGuid) && tree.Local == ALocal) return &tree.Root;
  return nullptr;
}

TqorSettingsKey& TqorSettingsDocument::Tree(const GUID& AGuid, bool ALocal) {
  for (TqorSettingsTree& tree : Trees)
    if (IsEqualGUID(tree.Guid, AGuid) && tree.Local == ALocal) return tree.Root;
  Trees.emplace_back();
  Trees.back().Guid = AGuid;
  Trees.back().Local = ALocal;
  return Trees.back().Root;
}

// ---- text ----

namespace {

constexpr char kHeader[] =
    "# Wexlor settings: the hosted plugins' settings by plugin GUID and location (roaming, local).\n"
    "# [{GUID} location \"key\" \"sub-key\" ...] starts a key; below it one value a line:\n"
    "#   qword \"name\" = 123   string \"name\" = \"text\"   data \"name\" = 00ff (hex bytes)\n"
    "# UTF-8; in quotes \\\\ \\\" \\n \\r \\t and \\uXXXX (one UTF-16 unit) stand for characters.\n";

bool is_high_surrogate(wchar_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(wchar_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }

void append_utf8(std::string& AOut, std::uint32_t ACode) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACode >> 6));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACode >> 12));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACode >> 18));
    AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

void append_hex(std::string& AOut, unsigned AValue, int ADigits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int i = ADigits - 1; i >= 0; --i) AOut += kDigits[(AValue >> (4 * i)) & 0xF];
}

// A name or text in quotes. Line breaks, other control characters, the line separators some
// editors break lines at, and unpaired surrogates (which UTF-8 cannot carry) are escaped, so every
// UTF-16 text comes back unit for unit.
void append_quoted(std::string& AOut, const std::wstring& AText) {
  AOut += '"';
  for (size_t i = 0; i < AText.size(); ++i) {
    const wchar_t c = AText[i];
    switch (c) {
      case L'\\': AOut += "\\\\"; continue;
      case L'"': AOut += "\\\""; continue;
      case L'\n': AOut += "\\n"; continue;
      case L'\r': AOut += "\\r"; continue;
      case L'\t': AOut += "\\t"; continue;
      default: break;
    }
    if (is_high_surrogate(c) && i + 1 < AText.size() && is_low_surrogate(AText[i + 1])) {
      append_utf8(AOut, 0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) + (AText[i + 1] - 0xDC00));
      ++i;
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029 || c == 0xFEFF ||
               is_high_surrogate(c) || is_low_surrogate(c)) {
      AOut += "\\u";
      append_hex(AOut, c, 4);
    } else {
      append_utf8(AOut, c);
    }
  }
  AOut += '"';
}

void append_narrow(std::string& AOut, const std::wstring& AAscii) {
  for (wchar_t c : AAscii) AOut += static_cast<char>(c);
}

// One value's line; without AWithData a data value's bytes are left out (the line's head alone).
void append_value(std::string& AOut, const TqorSettingsValue& AValue, bool AWithData) {
  switch (AValue.Type) {
    case FST_QWORD: AOut += "qword "; break;
    case FST_STRING: AOut += "string "; break;
    case FST_DATA: AOut += "data "; break;
    default: return;
  }
  append_quoted(AOut, AValue.Name);
  AOut += " =";
  if (AValue.Type == FST_QWORD) {
    AOut += ' ';
    AOut += std::to_string(AValue.Number);
  } else if (AValue.Type == FST_STRING) {
    AOut += ' ';
    append_quoted(AOut, AValue.Text);
  } else if (AWithData && !AValue.Data.empty()) {
    AOut += ' ';
    for (std::byte b : AValue.Data) append_hex(AOut, static_cast<unsigned>(b), 2);
  }
  AOut += '\n';
}

void format_key(std::string& AOut, const TqorSettingsTree& ATree, const TqorSettingsKey& AKey,
                std::vector<const std::wstring*>& APath) {
  AOut += '[';
  append_narrow(AOut, GuidToText(ATree.Guid));
  AOut += ATree.Local ? " local" : " roaming";
  for (const std::wstring* name : APath) {
    AOut += ' ';
    append_quoted(AOut, *name);
  }
  AOut += "]\n";
  for (const TqorSettingsValue& value : AKey.Values) append_value(AOut, value, true);
  for (const TqorSettingsKey& key : AKey.Keys) {
    APath.push_back(&key.Name);
    format_key(AOut, ATree, key, APath);
    APath.pop_back();
  }
}

// Strict UTF-8: no overlong forms, no encoded surrogates, nothing above U+10FFFF.
bool decode_utf8(std::string_view AText, std::wstring& AOut) {
  AOut.clear();
  AOut.reserve(AText.size());
  size_t i = 0;
  while (i < AText.size()) {
    const auto b = static_cast<unsigned char>(AText[i]);
    std::uint32_t code;
    size_t extra;
    if (b < 0x80) {
      AOut += static_cast<wchar_t>(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      code = b & 0x1F;
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      code = b & 0x0F;
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      code = b & 0x07;
      extra = 3;
    } else {
      return false;
    }
    if (i + extra >= AText.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(AText[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
      return false;
    if (code >= 0x10000) {
      code -= 0x10000;
      AOut += static_cast<wchar_t>(0xD800 + (code >> 10));
      AOut += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      AOut += static_cast<wchar_t>(code);
    }
    i += extra + 1;
  }
  return true;
}

int hex_digit(wchar_t c) noexcept {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads one line from left to right; every reader answers false when the line does not fit.
class line_reader {
 public:
  explicit line_reader(std::wstring_view ALine) : FLine(ALine) {}

  void skip_blanks() noexcept {
    while (FPos < FLine.size() && (FLine[FPos] == L' ' || FLine[FPos] == L'\t')) ++FPos;
  }
  bool at_end() noexcept {
    skip_blanks();
    return FPos == FLine.size();
  }
  bool take(wchar_t AChar) noexcept {
    skip_blanks();
    if (FPos >= FLine.size() || FLine[FPos] != AChar) return false;
    ++FPos;
    return true;
  }
  bool peek(wchar_t AChar) noexcept {
    skip_blanks();
    return FPos < FLine.size() && FLine[FPos] == AChar;
  }
  // A run of letters.
  std::wstring_view word() noexcept {
    skip_blanks();
    const size_t start = FPos;
    while (FPos < FLine.size() && ((FLine[FPos] >= L'a' && FLine[FPos] <= L'z') || (FLine[FPos] >= L'A' && FLine[FPos] <= L'Z')))
      ++FPos;
    return FLine.substr(start, FPos - start);
  }
  bool quoted(std::wstring& AOut) {
    AOut.clear();
    if (!take(L'"')) return false;
    while (FPos < FLine.size()) {
      const wchar_t c = FLine[FPos++];
      if (c == L'"') return true;
      if (c != L'\\') {
        AOut += c;
        continue;
      }
      if (FPos >= FLine.size()) return false;
      const wchar_t e = FLine[FPos++];
      switch (e) {
        case L'\\': AOut += L'\\'; break;
        case L'"': AOut += L'"'; break;
        case L'n': AOut += L'\n'; break;
        case L'r': AOut += L'\r'; break;
        case L't': AOut += L'\t'; break;
        case L'u': {
          if (FPos + 4 > FLine.size()) return false;
          unsigned code = 0;
          for (int k = 0; k < 4; ++k) {
            const int d = hex_digit(FLine[FPos++]);
            if (d < 0) return false;
            code = code * 16 + static_cast<unsigned>(d);
          }
          // Names and texts end at a NUL for plugins: one inside cannot come back.
          if (code == 0) return false;
          AOut += static_cast<wchar_t>(code);
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool number(std::uint64_t& AOut) noexcept {
    skip_blanks();
    const size_t start = FPos;
    AOut = 0;
    while (FPos < FLine.size() && FLine[FPos] >= L'0' && FLine[FPos] <= L'9') {
      const unsigned digit = FLine[FPos++] - L'0';
      if (AOut > (UINT64_MAX - digit) / 10) return false;
      AOut = AOut * 10 + digit;
    }
    return FPos > start;
  }
  bool bytes(std::vector<std::byte>& AOut) {
    skip_blanks();
    AOut.clear();
    while (FPos < FLine.size() && hex_digit(FLine[FPos]) >= 0) {
      if (FPos + 1 >= FLine.size()) return false;
      const int high = hex_digit(FLine[FPos]), low = hex_digit(FLine[FPos + 1]);
      if (low < 0) return false;
      AOut.push_back(static_cast<std::byte>(high * 16 + low));
      FPos += 2;
    }
    return true;
  }
  bool guid(GUID& AOut) noexcept {
    skip_blanks();
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (FPos + 38 > FLine.size()) return false;
    const std::wstring_view text = FLine.substr(FPos, 38);
    if (text[0] != L'{' || text[37] != L'}' || text[9] != L'-' || text[14] != L'-' || text[19] != L'-' ||
        text[24] != L'-')
      return false;
    auto hex = [&](size_t AFrom, int ADigits, unsigned long& AValue) {
      AValue = 0;
      for (int k = 0; k < ADigits; ++k) {
        const int d = hex_digit(text[AFrom + static_cast<size_t>(k)]);
        if (d < 0) return false;
        AValue = AValue * 16 + static_cast<unsigned long>(d);
      }
      return true;
    };
    unsigned long part = 0;
    if (!hex(1, 8, part)) return false;
    AOut.Data1 = part;
    if (!hex(10, 4, part)) return false;
    AOut.Data2 = static_cast<unsigned short>(part);
    if (!hex(15, 4, part)) return false;
    AOut.Data3 = static_cast<unsigned short>(part);
    static constexpr size_t kBytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int k = 0; k < 8; ++k) {
      if (!hex(kBytes[k], 2, part)) return false;
      AOut.Data4[k] = static_cast<unsigned char>(part);
    }
    FPos += 38;
    return true;
  }

 private:
  std::wstring_view FLine;
  size_t FPos = 0;
};

// A key name as plugins may make one: not empty, no backslash.
bool valid_key_name(const std::wstring& AName) noexcept {
  return !AName.empty() && AName.find(L'\\') == std::wstring::npos;
}

bool parse_section(line_reader& ALine, TqorSettingsDocument& ADocument, TqorSettingsKey*& AKey) {
  GUID guid{};
  if (!ALine.take(L'[') || !ALine.guid(guid)) return false;
  const std::wstring_view location = ALine.word();
  if (location != L"roaming" && location != L"local") return false;
  TqorSettingsKey* key = &ADocument.Tree(guid, location == L"local");
  std::wstring name;
  while (!ALine.peek(L']')) {
    if (!ALine.quoted(name) || !valid_key_name(name)) return false;
    key = &key->Key(name);
  }
  if (!ALine.take(L']') || !ALine.at_end()) return false;
  AKey = key;
  return true;
}

bool parse_value(line_reader& ALine, TqorSettingsKey& AKey) {
  const std::wstring_view type = ALine.word();
  TqorSettingsValue value;
  if (type == L"qword")
    value.Type = FST_QWORD;
  else if (type == L"string")
    value.Type = FST_STRING;
  else if (type == L"data")
    value.Type = FST_DATA;
  else
    return false;
  if (!ALine.quoted(value.Name) || !ALine.take(L'=')) return false;
  const bool read = value.Type == FST_QWORD    ? ALine.number(value.Number)
                    : value.Type == FST_STRING ? ALine.quoted(value.Text)
                                               : ALine.bytes(value.Data);
  if (!read || !ALine.at_end()) return false;
  // A name given twice keeps the later value, as a second set would.
  TqorSettingsValue& stored = AKey.Value(value.Name);
  stored = std::move(value);
  return true;
}

}  // namespace

bool ParseGuidText(std::wstring_view AText, GUID& AGuid) noexcept {
  line_reader reader(AText);
  return reader.guid(AGuid) && reader.at_end();
}

std::string FormatSettings(const TqorSettingsDocument& ADocument) {
  std::string out = kHeader;
  std::vector<const std::wstring*> path;
  for (const TqorSettingsTree& tree : ADocument.Trees) {
    if (tree.Root.Empty()) continue;
    out += '\n';
    format_key(out, tree, tree.Root, path);
  }
  return out;
}

size_t FormattedValueSize(const TqorSettingsValue& AValue) {
  std::string line;
  append_value(line, AValue, false);
  // A blank and two hex digits a byte, counted rather than written.
  if (AValue.Type == FST_DATA && !AValue.Data.empty()) return line.size() + 1 + 2 * AValue.Data.size();
  return line.size();
}

bool ParseSettings(std::string_view AText, TqorSettingsDocument& ADocument) {
  ADocument.Trees.clear();
  if (AText.size() >= 3 && AText.compare(0, 3, "\xEF\xBB\xBF") == 0) AText.remove_prefix(3);
  std::wstring text;
  if (!decode_utf8(AText, text)) return false;
  TqorSettingsKey* key = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring_view line(text.data() + start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    line_reader reader(line);
    if (reader.at_end() || reader.peek(L'#')) continue;
    if (reader.peek(L'[')) {
      if (!parse_section(reader, ADocument, key)) return false;
    } else if (!key || !parse_value(reader, *key)) {
      return false;
    }
  }
  return true;
}

// ---- disk ----

bool TqorSettingsStamp::operator==(const TqorSettingsStamp& A) const noexcept {
  return Exists == A.Exists && std::memcmp(&Created, &A.Created, sizeof(FILETIME)) == 0 &&
         std::memcmp(&Written, &A.Written, sizeof(FILETIME)) == 0 && Size == A.Size;
}

TqorSettingsStamp SettingsFileStamp(const std::wstring& AFileName) noexcept {
  TqorSettingsStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(AFileName.c_str(), GetFileExInfoStandard, &data)) return stamp;
  stamp.Exists = true;
  stamp.Created = data.ftCreationTime;
  stamp.Written = data.ftLastWriteTime;
  stamp.Size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return stamp;
}

namespace {

bool busy_error(DWORD AError) noexcept {
  // A lock file being deleted by its last holder answers "access denied" for a moment.
  return AError == ERROR_SHARING_VIOLATION || AError == ERROR_LOCK_VIOLATION || AError == ERROR_ACCESS_DENIED;
}

// Files another program has open for a moment (a virus scanner, a backup) are tried again.
template <class F>
bool retry_while_busy(F AAttempt, DWORD ATimeout) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    if (AAttempt()) return true;
    if (!busy_error(::GetLastError()) || ::GetTickCount64() - start >= ATimeout) return false;
    ::Sleep(10);
  }
}

constexpr DWORD kBusyTimeout = 2000;

// Renamed, never deleted: whatever the damaged file holds stays for the user to look at. An
// earlier .bad file is kept too.
DWORD set_aside(const std::wstring& AFileName) {
  for (unsigned n = 1; n < 10000; ++n) {
    const std::wstring aside = AFileName + (n == 1 ? std::wstring() : L"." + std::to_wstring(n)) + L".bad";
    if (::MoveFileExW(AFileName.c_str(), aside.c_str(), 0)) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
  }
  return ERROR_FILE_EXISTS;
}

enum class load_result { read, missing, unreadable };

load_result load_file(const std::wstring& AFileName, std::string& AText, DWORD& AError) {
  unique_handle file;
  const bool opened = retry_while_busy(
      [&] {
        file.reset(::CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) return true;
        file.release();
        return false;
      },
      kBusyTimeout);
  if (!opened) {
    AError = ::GetLastError();
    return AError == ERROR_FILE_NOT_FOUND || AError == ERROR_PATH_NOT_FOUND ? load_result::missing
                                                                            : load_result::unreadable;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) {
    AError = ::GetLastError();
    return load_result::unreadable;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) > kMaxSettingsFileSize) {
    AError = ERROR_FILE_TOO_LARGE;
    return load_result::unreadable;
  }
  AText.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < AText.size()) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), AText.data() + done, static_cast<DWORD>(AText.size() - done), &got, nullptr)) {
      AError = ::GetLastError();
      return load_result::unreadable;
    }
    if (got == 0) {
      AError = ERROR_HANDLE_EOF;
      return load_result::unreadable;
    }
    done += got;
  }
  return load_result::read;
}

// "Not found" is the one answer that says no lock file is there: one being deleted fails too,
// but otherwise.
bool lock_file_absent(const std::wstring& AName) noexcept {
  if (::GetFileAttributesW(AName.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

TqorSettingsLock::TqorSettingsLock(const std::wstring& AFileName, DWORD ATimeout) noexcept {
  const std::wstring name = AFileName + L".lock";
  const ULONGLONG start = ::GetTickCount64();
  bool denied_before = false;
  for (;;) {
    HANDLE file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      FFile.reset(file);
      FError = ERROR_SUCCESS;
      return;
    }
    FError = ::GetLastError();
    if (!busy_error(FError)) return;
    // Denied with no lock file there: the folder takes no new files, and waiting changes nothing.
    // Asked twice, as the last holder's file may have gone between the two calls.
    const bool denied_without_file = FError == ERROR_ACCESS_DENIED && lock_file_absent(name);
    if (denied_without_file && denied_before) return;
    denied_before = denied_without_file;
    if (::GetTickCount64() - start >= ATimeout) return;
    ::Sleep(10);
  }
}

TqorSettingsRead ReadSettingsFile(const std::wstring& AFileName, bool ASetAside, TqorSettingsDocument& ADocument,
                                  TqorSettingsStamp& AStamp, DWORD* AError) {
  ADocument.Trees.clear();
  AStamp = SettingsFileStamp(AFileName);
  std::string text;
  DWORD error = ERROR_INVALID_DATA;
  const load_result loaded = load_file(AFileName, text, error);
  if (loaded == load_result::missing) {
    AStamp = TqorSettingsStamp{};
    return TqorSettingsRead::Missing;
  }
  if (loaded == load_result::read && ParseSettings(text, ADocument)) return TqorSettingsRead::Read;
  ADocument.Trees.clear();
  if (ASetAside) error = set_aside(AFileName);
  if (!ASetAside || error != ERROR_SUCCESS) {
    if (AError) *AError = error;
    return TqorSettingsRead::Unusable;
  }
  AStamp = SettingsFileStamp(AFileName);
  return TqorSettingsRead::SetAside;
}

DWORD WriteSettingsFile(const std::wstring& AFileName, const std::string& AText, TqorSettingsStamp& AStamp) {
  if (AText.size() > kMaxSettingsFileSize) return ERROR_FILE_TOO_LARGE;
  const size_t cut = AFileName.find_last_of(L'\\');
  if (cut != std::wstring::npos) ::CreateDirectoryW(AFileName.substr(0, cut).c_str(), nullptr);
  const std::wstring temporary = AFileName + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  {
    unique_handle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
      file.release();
      return ::GetLastError();
    }
    size_t done = 0;
    bool written = true;
    while (written && done < AText.size()) {
      DWORD put = 0;
      written = ::WriteFile(file.get(), AText.data() + done, static_cast<DWORD>(AText.size() - done), &put, nullptr) &&
                put > 0;
      done += put;
    }
    // On the disk before it takes the old file's place: a crash then leaves one whole file or the other.
    if (!written || !::FlushFileBuffers(file.get())) {
      const DWORD error = ::GetLastError();
      file.reset();
      ::DeleteFileW(temporary.c_str());
      return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
    }
  }
  const bool replaced = retry_while_busy(
      [&] { return ::MoveFileExW(temporary.c_str(), AFileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; },
      kBusyTimeout);
  if (!replaced) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(temporary.c_str());
    return error;
  }
  AStamp = SettingsFileStamp(AFileName);
  return ERROR_SUCCESS;
}

}  // namespace qor
