// The DM_LIST* commands on a list box or combo box item, with FAR's answers, its rules for the
// current entry (DN_LISTCHANGE when FAR moves it itself) and a drop-down list's field that
// follows the current entry (DN_EDITCHANGE).
#pragma once

#include <cstdint>

#include "dialogs/qorFarDialogControlsW.h"

namespace qor {

bool IsListMessage(intptr_t AMsg) noexcept;

// AMsg on the list of item AIndex of a dialog whose lists exist.
intptr_t ListMessage(TqorFarDialog& ADialog, int AIndex, TqorFarListItems& AList, intptr_t AMsg, void* AParam2);

}  // namespace qor
