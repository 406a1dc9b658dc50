// Panel and window services: AdvControl and PanelControl for a host that has neither FAR's console
// nor its panels. Informational requests get the answers FAR gives for one panels window and no
// panel; requests that would change a panel, a window or the command line show the warning box.
#pragma once

#include "hosting/qorFarPluginW.h"

namespace qor {

// Host entry for PluginStartupInfo.AdvControl.
intptr_t WINAPI FarApiAdvControl(const GUID* APluginId, int ACommand, intptr_t AParam1, void* AParam2);

// Host entry for PluginStartupInfo.PanelControl.
intptr_t WINAPI FarApiPanelControl(HANDLE hPanel, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
