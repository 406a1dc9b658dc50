// The two host tables every hosted plugin receives, and the host warning box shown by each
// service the system does not offer.
#pragma once

#include "hosting/qorFarPluginW.h"

namespace qor {

extern PluginStartupInfo HostStartupInfo;
extern FarStandardFunctions HostStandardFunctions;

// Fills both tables; runs once at module start-up, before any plugin loads.
void InitStartupInfo() noexcept;

// Modal box without owner: the service's name, caption "Callback", warning icon, OK only.
void ShowHostWarning(const wchar_t* AService) noexcept;

}  // namespace qor
