// The two host tables every hosted plugin receives; the services the system does not offer show
// the host warning box (ui/qorHostWarning.h).
#pragma once

#include "api/qorFarPluginW.h"

namespace qor {

extern PluginStartupInfo HostStartupInfo;
extern FarStandardFunctions HostStandardFunctions;

// Fills both tables; runs once at module start-up, before any plugin loads.
void InitStartupInfo() noexcept;

}  // namespace qor
