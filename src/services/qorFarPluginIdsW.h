// Host entries that take a plugin's GUID and, as FAR does, refuse one that names no loaded plugin
// before the service behind them sees it.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qor {

// Host entry for PluginStartupInfo.SettingsControl: SCTL_CREATE for a GUID that is neither
// all-zero (FAR's own settings) nor a loaded plugin's fails and leaves the record untouched;
// everything else goes to the settings service.
intptr_t WINAPI FarApiSettingsControlForPlugins(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
