// The host warning box: shown by each plugin service the system does not offer. Dialogs and
// services both show it, so it lives on the floor under them.
#pragma once

namespace qor {

// Modal box without owner: the service's name, caption "Callback", warning icon, OK only.
void ShowHostWarning(const wchar_t* AService) noexcept;

}  // namespace qor
