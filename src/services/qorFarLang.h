// Plugin message catalogue: answers a plugin's GetMsg from its own .lng files.
#pragma once

#include "hosting/qorFarPluginW.h"

namespace qor {

// Host entry for PluginStartupInfo.GetMsg.
const wchar_t* WINAPI FarApiGetMsg(const GUID* APluginId, intptr_t AMsgId);

}  // namespace qor
