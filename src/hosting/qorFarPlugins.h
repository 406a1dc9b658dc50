// The plugin list: the FAR3 plugin DLLs found beside the module, the loaded plugin modules and the
// detection order, with the registry instance the module's start-up and shut-down own. Detection
// reads a file's head here. Calls the plugin module, the export-name reader and the services
// floor's plugin records.
#pragma once

#include <windows.h>
#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "common/qorLocks.h"
#include "hosting/qorFarPlugin.h"

namespace qor {

// One plugin DLL found on disk, as the plugin list shows it. A plugin disabled before discovery is
// never loaded: what it shows was kept from its last load.
struct TqorFarPluginState {
  std::wstring FileName;
  GUID Guid{};
  bool Enabled = true;
  TqorFarPlugin* Plugin = nullptr;  // null while not loaded
  std::wstring Title, Version, Author, Description;
};

// The plugins found beside the module: the loaded modules (in load order, which they are
// unloaded against) and every plugin's place in the detection order with its enabled state.
// Order and states come from the settings file and go back to it.
class TqorFarPluginList {
 public:
  TqorFarPluginList() = default;
  ~TqorFarPluginList();
  TqorFarPluginList(const TqorFarPluginList&) = delete;
  TqorFarPluginList& operator=(const TqorFarPluginList&) = delete;

  // Scans the plugins folder (Plugins32, or Plugins64 for the 64-bit module) beside the module and
  // loads every enabled DLL that passes the export-name filter.
  void Discover();

  // Loaded modules.
  int Count() const;
  TqorFarPlugin* GetPlugin(int AIndex) const;
  TqorFarPlugin* FindPlugin(const std::wstring& AFileName) const;
  TqorFarPlugin* FindPluginAndOpen(const std::wstring& AFileName, HANDLE& AHandle) const;
  TqorFarPlugin* FindPluginByGuid(const GUID& AGuid) const;
  // FAR's probe for a new archive: AnalyseW without a file, over the enabled modules in detection
  // order that put files; the first that accepts wins, and AHandle gets its answer.
  TqorFarPlugin* ProbeNewArchive(HANDLE& AHandle) const;

  // Every plugin found, in detection order.
  std::vector<TqorFarPluginState> States() const;
  // A new detection order and new enabled states, given as the States() entries (matched by file
  // name) in their new order. A newly enabled plugin is loaded; a disabled one is asked about no
  // file from now on. Both are saved to the settings file: ERROR_SUCCESS, or the system error that
  // kept them out of it for now (they are in effect all the same, and written later).
  DWORD Apply(const std::vector<TqorFarPluginState>& AStates);

 private:
  TqorFarPlugin* FindPluginEx(const std::wstring& AFileName, HANDLE* AHandle) const;
  // The enabled loaded modules, in detection order.
  std::vector<TqorFarPlugin*> active_plugins() const;
  TqorFarPlugin* load_plugin(const std::wstring& AFileName);

  mutable critical_section FLock;
  std::vector<std::unique_ptr<TqorFarPlugin>> FList;
  std::vector<TqorFarPluginState> FStates;
};

// The version of a plugin as FAR shows it: Major.Minor.Revision.Build.
std::wstring PluginVersionText(const TVersionInfo& AVersion);

// The registry, created by the first caller under the unit's critical section.
TqorFarPluginList& PluginRegistry();
// True once the registry exists (for callers that must not create it).
bool PluginRegistryCreated() noexcept;

void PluginsStartup() noexcept;
// Frees the registry: every plugin gets ExitFARW and is unloaded, last discovered first.
void PluginsShutdown() noexcept;

constexpr DWORD MaxFileHeadSize = 0x20000;

// The first bytes of a file (at most 128 KiB) as a plugin's AnalyseW sees them. Its buffer goes
// back to a spare slot for the next file: a fresh 128 KiB block costs more than the read itself.
class file_head {
 public:
  file_head() noexcept = default;
  file_head(file_head&&) noexcept = default;
  file_head& operator=(file_head&&) noexcept = default;
  ~file_head();

  const unsigned char* data() const noexcept { return FBuffer.get(); }
  unsigned char* data() noexcept { return FBuffer.get(); }
  size_t size() const noexcept { return FSize; }
  bool empty() const noexcept { return FSize == 0; }

 private:
  friend file_head ReadFileHead(const std::wstring& AFileName);
  std::unique_ptr<unsigned char[]> FBuffer;
  size_t FSize = 0;
};

file_head ReadFileHead(const std::wstring& AFileName);

}  // namespace qor
