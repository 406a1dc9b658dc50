// Plugin message catalogue: answers a plugin's GetMsg from its own .lng files, cached per UI
// language in the store FarLanguages.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorLocks.h"
#include "strings/qorShellCommonLang.h"

namespace qor {

class TqorFarLang {
 public:
  // The text of message AMsgID of the plugin APluginID in the calling thread's UI language; the
  // pointer stays valid until the store is freed at unload.
  const wchar_t* GetString(const GUID& APluginID, int AMsgID);

 private:
  const wchar_t* keep_text(const std::wstring& AText);

  // Serialises the first request of a plugin per language: its check-and-mark and the load, so
  // that a text once handed out is never replaced and a second thread waits for the texts.
  critical_section FLoadLock;
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
