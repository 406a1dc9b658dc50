#include "services/qorFarLang.h"

#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

#include "common/qorErrors.h"
#include "common/qorHandles.h"
#include "common/qorPluginGuard.h"

namespace qor {

TqorShellLanguages* FarLanguages = nullptr;
TqorFarLang* FarLang = nullptr;

namespace {

// The header line is short: a longer first line is read whole afterwards.
constexpr size_t kHeaderReadSize = 4u << 10;

// Held by the module: every empty answer points here, so it outlives any plugin.
constexpr wchar_t kEmptyText[] = L"";

bool is_blank(wchar_t AChar) noexcept { return AChar <= L' '; }

std::wstring trim(const std::wstring& AText) {
  size_t first = 0, last = AText.size();
  while (first < last && is_blank(AText[first])) ++first;
  while (last > first && is_blank(AText[last - 1])) --last;
  return AText.substr(first, last - first);
}

// Where the message of the line [AStart, AEnd) of AText lies: blanks around the line ignored, its
// opening quote and a closing one left out. False for a line that is no message.
bool message_bounds(const wchar_t* AText, size_t& AStart, size_t& AEnd) noexcept {
  while (AStart < AEnd && is_blank(AText[AStart])) ++AStart;
  while (AEnd > AStart && is_blank(AText[AEnd - 1])) --AEnd;
  if (AStart == AEnd || AText[AStart] != L'"') return false;
  if (AEnd - AStart > 1 && AText[AEnd - 1] == L'"') --AEnd;
  ++AStart;
  return true;
}

bool same_text_ignoring_case(const std::wstring& A, const std::wstring& B) noexcept {
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.c_str(), static_cast<int>(A.size()),
                          B.c_str(), static_cast<int>(B.size())) == CSTR_EQUAL;
}

// The file's bytes up to ALimit (at most MaxLngFileSize); a read error keeps what was read
// before it. Other processes may read along but not write.
std::string read_lng_bytes(const std::wstring& AFileName, size_t ALimit = MaxLngFileSize) {
  unique_handle file(::CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) RaiseLastOSError();
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) RaiseLastOSError();
  const size_t limit = ALimit < MaxLngFileSize ? ALimit : MaxLngFileSize;
  const size_t wanted = size.QuadPart > static_cast<LONGLONG>(limit) ? limit : static_cast<size_t>(size.QuadPart);
  std::string bytes(wanted, '\0');
  size_t got = 0;
  while (got < wanted) {
    DWORD chunk = 0;
    const DWORD ask = static_cast<DWORD>(wanted - got < (1u << 20) ? wanted - got : (1u << 20));
    if (!::ReadFile(file.get(), bytes.data() + got, ask, &chunk, nullptr) || chunk == 0) break;
    got += chunk;
  }
  bytes.resize(got);
  return bytes;
}

// Appends AData as ACodePage gives it. Invalid sequences become U+FFFD: the lines around them keep
// their text and their numbers. No byte makes more than one UTF-16 unit.
void append_converted(UINT ACodePage, const char* AData, size_t ASize, std::wstring& AText) {
  if (ASize == 0) return;
  const size_t at = AText.size();
  AText.resize(at + ASize);
  const int written =
      ::MultiByteToWideChar(ACodePage, 0, AData, static_cast<int>(ASize), &AText[at], static_cast<int>(ASize));
  AText.resize(at + (written > 0 ? static_cast<size_t>(written) : 0));
}

std::wstring multibyte_to_wide(UINT ACodePage, const char* AData, size_t ASize) {
  // Most of a message file is ASCII, which every code page reads alike: it is widened here, and
  // only the rest goes through the system's conversion, which costs several times as much. In
  // UTF-8 a run of bytes above 0x7F is whole characters; in another code page a trail byte may be
  // below 0x80, so there everything from the first such byte on is converted by the system.
  std::wstring text;
  // One place more: a reader may end the text's last line in place.
  text.reserve(ASize + 1);
  const auto* bytes = reinterpret_cast<const unsigned char*>(AData);
  size_t i = 0;
  while (i < ASize) {
    const size_t ascii = i;
    while (i < ASize && bytes[i] < 0x80) ++i;
    for (size_t k = ascii; k < i; ++k) text.push_back(static_cast<wchar_t>(bytes[k]));
    if (i == ASize) break;
    const size_t other = i;
    if (ACodePage != CP_UTF8) {
      append_converted(ACodePage, AData + other, ASize - other, text);
      break;
    }
    while (i < ASize && bytes[i] >= 0x80) ++i;
    append_converted(ACodePage, AData + other, i - other, text);
  }
  return text;
}

std::wstring utf16_to_wide(const unsigned char* AData, size_t ASize, bool ABigEndian) {
  // An odd trailing byte is half a character: it is dropped.
  std::wstring text(ASize / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned lo = AData[2 * i], hi = AData[2 * i + 1];
    text[i] = static_cast<wchar_t>(ABigEndian ? (lo << 8) | hi : (hi << 8) | lo);
  }
  return text;
}

// The length of the first line in bytes, its first break character included, for units of AUnit
// bytes (CR and LF are never part of another character in UTF-8 or in an ANSI code page).
size_t first_line_bytes(const unsigned char* AData, size_t ASize, int AUnit, bool ABigEndian) {
  if (AUnit == 1) {
    for (size_t i = 0; i < ASize; ++i)
      if (AData[i] == '\r' || AData[i] == '\n') return i + 1;
    return ASize;
  }
  for (size_t i = 0; i + 1 < ASize; i += 2) {
    const unsigned unit = ABigEndian ? (AData[i] << 8) | AData[i + 1] : (AData[i + 1] << 8) | AData[i];
    if (unit == '\r' || unit == '\n') return i + 2;
  }
  return ASize;
}

// AFirstLineOnly spares decoding the rest when only the header is wanted.
std::wstring decode_lng_text(const char* AData, size_t ASize, bool AFirstLineOnly) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(AData);
  auto cut = [&](size_t AStart, int AUnit, bool ABigEndian) {
    return AFirstLineOnly ? first_line_bytes(bytes + AStart, ASize - AStart, AUnit, ABigEndian) : ASize - AStart;
  };
  if (ASize >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    return multibyte_to_wide(CP_UTF8, AData + 3, cut(3, 1, false));
  if (ASize >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return utf16_to_wide(bytes + 2, cut(2, 2, false), false);
  if (ASize >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return utf16_to_wide(bytes + 2, cut(2, 2, true), true);
  return multibyte_to_wide(CP_ACP, AData, cut(0, 1, false));
}

// Chooses a plugin's .lng file in its folder for a language: the one whose header names it, else
// the last English one, else the first one with any language.
std::wstring choose_lng_file(LANGID ALangID, const std::wstring& AFolder) {
  const std::wstring language = GetLocaleLanguageName(ALangID);
  WIN32_FIND_DATAW data;
  unique_find find(::FindFirstFileW((AFolder + L"*.lng").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return {};
  std::wstring first, english;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const std::wstring file = AFolder + data.cFileName;
    const std::wstring header = GetLngFileLanguage(file);
    if (header.empty()) continue;
    if (same_text_ignoring_case(header, language)) return file;
    if (first.empty()) first = file;
    if (same_text_ignoring_case(header, L"English")) english = file;
  } while (::FindNextFileW(find.get(), &data));
  return !english.empty() ? english : first;
}

// The registered plugins' folders, in registration order. A lock of its own: a plugin starting
// on one thread registers while another thread's plugin asks for its messages.
struct plugin_folder {
  GUID PluginID;
  std::wstring File;
  std::wstring Folder;
};

critical_section GFoldersLock;
std::vector<plugin_folder> GFolders;

// The folder of the plugin APluginID, or false when no plugin with that GUID is registered.
bool find_plugin_folder(const GUID& APluginID, std::wstring& AFolder) {
  lock_guard<critical_section> guard(GFoldersLock);
  for (const plugin_folder& entry : GFolders)
    if (IsEqualGUID(entry.PluginID, APluginID)) {
      AFolder = entry.Folder;
      return true;
    }
  return false;
}

const wchar_t* text_of(const wchar_t* AText) noexcept { return AText && *AText ? AText : kEmptyText; }

}  // namespace

std::vector<std::wstring> DecodeLngLines(const char* AData, size_t ASize, size_t AMaxLines) {
  const std::wstring text = decode_lng_text(AData, ASize, AMaxLines == 1);
  std::vector<std::wstring> lines;
  size_t start = 0;
  const size_t n = text.size();
  while (start < n && lines.size() < AMaxLines) {
    size_t end = start;
    while (end < n && text[end] != L'\r' && text[end] != L'\n') ++end;
    lines.emplace_back(text, start, end - start);
    if (end < n && text[end] == L'\r' && end + 1 < n && text[end + 1] == L'\n') ++end;
    start = end + 1;
  }
  return lines;
}

bool ParseLngMessage(const std::wstring& ALine, std::wstring& AText) {
  size_t start = 0, end = ALine.size();
  if (!message_bounds(ALine.c_str(), start, end)) return false;
  AText.assign(ALine, start, end - start);
  return true;
}

namespace {

void write_guid_text(const GUID& AGuid, wchar_t* AText) noexcept {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  auto hex = [&](unsigned long AValue, int ADigits, wchar_t*& AOut) {
    for (int i = ADigits - 1; i >= 0; --i) AOut[i] = kDigits[(AValue >> (4 * (ADigits - 1 - i))) & 0xF];
    AOut += ADigits;
  };
  wchar_t* out = AText;
  *out++ = L'{';
  hex(AGuid.Data1, 8, out);
  *out++ = L'-';
  hex(AGuid.Data2, 4, out);
  *out++ = L'-';
  hex(AGuid.Data3, 4, out);
  *out++ = L'-';
  hex(AGuid.Data4[0], 2, out);
  hex(AGuid.Data4[1], 2, out);
  *out++ = L'-';
  for (int i = 2; i < 8; ++i) hex(AGuid.Data4[i], 2, out);
  *out++ = L'}';
}

}  // namespace

std::wstring GuidToText(const GUID& AGuid) {
  std::wstring text(38, L'\0');
  write_guid_text(AGuid, text.data());
  return text;
}

std::wstring GetLocaleLanguageName(LANGID ALangID) {
  const LCID locale = MAKELCID(ALangID, SORT_DEFAULT);
  const int size = ::GetLocaleInfoW(locale, LOCALE_SENGLANGUAGE, nullptr, 0);
  if (size < 2) return {};
  std::wstring name(static_cast<size_t>(size), L'\0');
  const int written = ::GetLocaleInfoW(locale, LOCALE_SENGLANGUAGE, name.data(), size);
  if (written < 2) return {};
  name.resize(static_cast<size_t>(written - 1));
  return name;
}

std::wstring GetLngFileLanguage(const std::wstring& AFileName) {
  try {
    // The header is near the start: the rest is read only for a first line longer than that.
    std::string bytes = read_lng_bytes(AFileName, kHeaderReadSize);
    std::wstring line = decode_lng_text(bytes.data(), bytes.size(), true);
    const auto ends_at_break = [&] { return !line.empty() && (line.back() == L'\r' || line.back() == L'\n'); };
    if (bytes.size() == kHeaderReadSize && !ends_at_break()) {
      bytes = read_lng_bytes(AFileName);
      line = decode_lng_text(bytes.data(), bytes.size(), true);
    }
    if (ends_at_break()) line.pop_back();
    static constexpr wchar_t kKeyword[] = L".Language=";
    constexpr size_t keyword_length = std::size(kKeyword) - 1;
    if (line.compare(0, keyword_length, kKeyword) != 0) return {};
    std::wstring name = line.substr(keyword_length);
    name = name.substr(0, name.find(L','));
    return trim(name);
  } catch (...) {
    return {};
  }
}

namespace {

// The message of the line [AStart, AEnd) of AText, as ParseLngMessage gives it: its start, ended
// in place (the character after it is a quote, a blank or a line break); nil for a line that is
// no message.
const wchar_t* message_in(std::wstring& AText, size_t AStart, size_t AEnd) {
  if (!message_bounds(AText.c_str(), AStart, AEnd)) return nullptr;
  AText[AEnd] = L'\0';
  return AText.c_str() + AStart;
}

}  // namespace

void ReadLngMessages(const std::wstring& AFileName, TqorLngMessages& AMessages) {
  AMessages.Messages.clear();
  try {
    const std::string bytes = read_lng_bytes(AFileName);
    // One extra place at the end: the last message may end there.
    AMessages.Text = decode_lng_text(bytes.data(), bytes.size(), false);
    const size_t n = AMessages.Text.size();
    AMessages.Text.push_back(L'\0');
    AMessages.Messages.reserve(n / 64);
    for (size_t start = 0; start < n;) {
      size_t end = start;
      while (end < n && AMessages.Text[end] != L'\r' && AMessages.Text[end] != L'\n') ++end;
      const size_t next = end < n && AMessages.Text[end] == L'\r' && end + 1 < n && AMessages.Text[end + 1] == L'\n'
                              ? end + 2
                              : end + 1;
      if (const wchar_t* message = message_in(AMessages.Text, start, end)) AMessages.Messages.push_back(message);
      start = next;
    }
  } catch (...) {
    // The messages read before the failure stay.
  }
}

void LoadLngFile(TqorShellLanguage* ALang, const GUID& APluginID, const std::wstring& AFileName) {
  try {
    TqorLngMessages messages;
    ReadLngMessages(AFileName, messages);
    std::wstring tag = GuidToText(APluginID) + L",";
    const size_t prefix_length = tag.size();
    // One write hold for the whole file: the table is locked once, not once per message.
    write_hold hold(*ALang);
    for (size_t i = 0; i < messages.Messages.size(); ++i) {
      tag.resize(prefix_length);
      tag += IntToTag(static_cast<int>(i));
      ALang->Add(tag, messages.Messages[i]);
    }
  } catch (...) {
    // The messages added before the failure stay.
  }
}

// ---------------------------------------------------------------------------------------------

TqorFarLang::TqorFarLang() = default;
TqorFarLang::~TqorFarLang() = default;

const wchar_t* TqorFarLang::keep_text(const std::wstring& AText) {
  FKeptTexts.push_back(std::make_unique<std::wstring>(AText));
  return FKeptTexts.back()->c_str();
}

const TqorFarLang::messages* TqorFarLang::find_published(LANGID ALang, const GUID& APluginID) const noexcept {
  const published* list = FPublished.load(std::memory_order_acquire);
  if (!list) return nullptr;
  for (const messages* table : list->Tables)
    if (table->Lang == ALang && IsEqualGUID(table->PluginID, APluginID)) return table;
  return nullptr;
}

void TqorFarLang::publish(std::unique_ptr<messages> ATable) {
  auto list = std::make_unique<published>();
  if (const published* current = FPublished.load(std::memory_order_relaxed)) list->Tables = current->Tables;
  list->Tables.push_back(ATable.get());
  FTables.push_back(std::move(ATable));
  FPublished.store(list.get(), std::memory_order_release);
  FLists.push_back(std::move(list));
}

const wchar_t* TqorFarLang::GetString(const GUID& APluginID, int AMsgID) {
  const LANGID language = GetCurrentLangID();
  const auto text_at = [AMsgID](const messages* ATable) -> const wchar_t* {
    // A number the file does not have is "".
    if (AMsgID < 0 || static_cast<size_t>(AMsgID) >= ATable->Texts.Messages.size()) return kEmptyText;
    return text_of(ATable->Texts.Messages[static_cast<size_t>(AMsgID)]);
  };
  if (const messages* table = find_published(language, APluginID)) return text_at(table);

  // The plugin's folder is looked up before our lock is taken: a plugin starting on another
  // thread may call here while it registers.
  std::wstring folder;
  const bool registered = find_plugin_folder(APluginID, folder);

  lock_guard<critical_section> guard(FLoadLock);
  // Perhaps published by a thread that has just finished loading.
  if (const messages* table = find_published(language, APluginID)) return text_at(table);
  // The first request of this plugin in this language; the table stops every later load.
  auto table = std::make_unique<messages>();
  table->Lang = language;
  table->PluginID = APluginID;
  if (registered) {
    const std::wstring file = choose_lng_file(language, folder);
    if (!file.empty()) ReadLngMessages(file, table->Texts);
  }
  const messages* loaded = table.get();
  publish(std::move(table));
  // A plugin nobody registered is told its own GUID once, so that the answer shows what is wrong.
  return registered ? text_at(loaded) : keep_text(GuidToText(APluginID));
}

void RegisterPluginFolder(const GUID& APluginID, const std::wstring& APluginFile) {
  plugin_folder entry{APluginID, APluginFile, APluginFile.substr(0, APluginFile.find_last_of(L"\\/") + 1)};
  lock_guard<critical_section> guard(GFoldersLock);
  GFolders.push_back(std::move(entry));
}

void UnregisterPluginFolder(const std::wstring& APluginFile) noexcept {
  lock_guard<critical_section> guard(GFoldersLock);
  for (auto it = GFolders.begin(); it != GFolders.end(); ++it)
    if (it->File == APluginFile) {
      GFolders.erase(it);
      return;
    }
}

bool IsPluginRegistered(const GUID& APluginID) noexcept {
  try {
    std::wstring folder;
    return find_plugin_folder(APluginID, folder);
  } catch (...) {
    return false;
  }
}

void FarLangStartup() noexcept {
  try {
    FarLanguages = new TqorShellLanguages;
    FarLang = new TqorFarLang;
  } catch (...) {
  }
}

void FarLangShutdown() noexcept {
  TqorShellLanguages* store = FarLanguages;
  FarLanguages = nullptr;
  delete store;
  TqorFarLang* lang = FarLang;
  FarLang = nullptr;
  delete lang;
}

const wchar_t* WINAPI FarApiGetMsg(const GUID* APluginId, intptr_t AMsgId) {
  try {
    GUID id;
    if (!APluginId || !FarLang || !FarLanguages || !CopyPluginMemory(&id, APluginId, sizeof(id))) return kEmptyText;
    return FarLang->GetString(id, static_cast<int>(AMsgId));
  } catch (...) {
    return kEmptyText;
  }
}

}  // namespace qor
