// Wexlor's own question for the password of an archive it is about to create: the password typed
// twice in masked edits, taken only when both agree and are not empty; otherwise the form stays
// open and says why. It stands on the ui toolkit alone and belongs to the file manager's window
// (CallerOwnerWindow). The password goes back to the caller and nowhere else.
#pragma once

#include <string>

namespace qor {

// True with APassword set when the user confirms a password; false when the user cancels. APassword
// changes only on true. Throws EqorError when the form cannot be shown.
bool AskNewArchivePassword(std::wstring& APassword);

}  // namespace qor
