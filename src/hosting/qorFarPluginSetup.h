// The file manager's Configure button and the plugin list as text: the registry's plugins shown in
// the plugins form, the user's order and ticks handed back to the registry, and each plugin's own
// configuration run from there.
#pragma once

#include <windows.h>

#include <string>

namespace qor {

// Shows the plugins form owned by AParent (may be 0) and applies what the user chose with OK.
void ConfigurePlugins(HWND AParent);

// One line per plugin in detection order: place (from 1), 1 enabled or 0 disabled, title,
// version and folder, separated by tabs.
std::wstring DescribePlugins();

}  // namespace qor
