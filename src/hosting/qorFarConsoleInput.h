// Console input as hosted plugins see it. Archive plugins poll the process's console for Esc by
// calling the console input functions themselves, often with an uninitialised event count that a
// failed call leaves as it was. The host points each plugin module's imports of those functions
// at its own versions: a failed call reports no events, and the file manager's cancel appears on
// the cancelling thread as an Esc press that never enters the real console's input buffer.
#pragma once

#include <windows.h>

namespace qor {

// Redirects AModule's imports of the console input functions; a module it cannot read is left as
// it is.
void RedirectConsoleInput(HMODULE AModule) noexcept;

}  // namespace qor
