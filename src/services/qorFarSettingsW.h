// Settings tree behind the SettingsControl host entry.
#pragma once

#include "hosting/qorFarPluginW.h"

namespace qor {

// Host entry for PluginStartupInfo.SettingsControl.
intptr_t WINAPI FarApiSettingsControl(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
