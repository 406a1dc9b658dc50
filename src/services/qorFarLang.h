// Plugin message catalogue: answers a plugin's GetMsg from its own .lng files. A plugin's messages
// in one UI language are read once, into a table that never changes afterwards and is published
// with its pointer: lookups after that take no lock, so that threads asking at once do not wait
// for each other.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorLocks.h"
#include "strings/qorShellCommonLang.h"

namespace qor {

// The messages of a .lng file, numbered from 0: the text between the quotes of every line that
// starts with one (blanks around it ignored). They stay in the decoded text of the file, each
// ended in place, so that a file of thousands costs no allocation per message; the object is
// filled where it stands and must not be copied or moved afterwards.
struct TqorLngMessages {
  std::wstring Text;
  std::vector<const wchar_t*> Messages;
};
class TqorFarLang {
 public:
  TqorFarLang();
  ~TqorFarLang();
  TqorFarLang(const TqorFarLang&) = delete;
  TqorFarLang& operator=(const TqorFarLang&) = delete;

  // The text of message AMsgID of the plugin APluginID in the calling thread's UI language; the
  // pointer stays valid until the catalogue is freed at unload.
  const wchar_t* GetString(const GUID& APluginID, int AMsgID);

 private:
  // One plugin's messages in one language, numbered from 0; never changed once published.
  struct messages {
    LANGID Lang;
    GUID PluginID;
    TqorLngMessages Texts;
  };
  // Every table published so far; replaced whole (never changed) when one is added.
  struct published {
    std::vector<const messages*> Tables;
  };

  const messages* find_published(LANGID ALang, const GUID& APluginID) const noexcept;
  void publish(std::unique_ptr<messages> ATable);
  const wchar_t* keep_text(const std::wstring& AText);

  std::atomic<const published*> FPublished{nullptr};
  // Serialises the first request of a plugin per language: the load and the publishing, so that a
  // text once handed out is never replaced and a second thread waits for the texts. What readers
  // may still hold (every table and every list of them) is freed only with the catalogue.
  critical_section FLoadLock;
  std::vector<std::unique_ptr<messages>> FTables;
  std::vector<std::unique_ptr<published>> FLists;
  std::vector<std::unique_ptr<std::wstring>> FKeptTexts;
};

extern TqorShellLanguages* FarLanguages;
extern TqorFarLang* FarLang;

// The plugin GUID in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case.
std::wstring GuidToText(const GUID& AGuid);
// The English name of a LANGID's language ("German"), or "".
std::wstring GetLocaleLanguageName(LANGID ALangID);
// The language named in a .lng file's header, or "".
std::wstring GetLngFileLanguage(const std::wstring& AFileName);
// Fills AMessages; stops silently at a failure, keeping what was read.
void ReadLngMessages(const std::wstring& AFileName, TqorLngMessages& AMessages);
// Adds every message of a .lng file to ALang, numbered from 0; stops silently at a failure.
void LoadLngFile(TqorShellLanguage* ALang, const GUID& APluginID, const std::wstring& AFileName);

// The lines of a .lng file's bytes: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE,
// anything else is the ANSI code page; lines end at CR LF, LF or CR.
std::vector<std::wstring> DecodeLngLines(const char* AData, size_t ASize, size_t AMaxLines = SIZE_MAX);
// The message text of a line, or false when the line is no message.
bool ParseLngMessage(const std::wstring& ALine, std::wstring& AText);
// Larger files are read up to this size only.
constexpr size_t MaxLngFileSize = 64u << 20;

// The plugin registry tells the catalogue where each plugin's .lng files are: once the plugin's
// GUID is known and before it starts (it may ask for messages from SetStartupInfoW), and again
// when the plugin goes away. The first plugin registered with a GUID answers for it.
void RegisterPluginFolder(const GUID& APluginID, const std::wstring& APluginFile);
void UnregisterPluginFolder(const std::wstring& APluginFile) noexcept;
// True while a plugin with this GUID is registered, that is loaded.
bool IsPluginRegistered(const GUID& APluginID) noexcept;

// Unit start-up creates the store, then the catalogue; shut-down frees them after every plugin.
void FarLangStartup() noexcept;
void FarLangShutdown() noexcept;

// Host entry for PluginStartupInfo.GetMsg; never raises, answers "" on any failure.
const wchar_t* WINAPI FarApiGetMsg(const GUID* APluginId, intptr_t AMsgId);

}  // namespace qor
