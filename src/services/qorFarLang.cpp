#include "services/qorFarLang.h"

#include "services/qorFarStartupInfoW.h"

namespace qor {

// Not offered yet: warn and hand back an empty text, never a null pointer.
const wchar_t* WINAPI FarApiGetMsg(const GUID*, intptr_t) {
  ShowHostWarning(L"FarApiGetMsg");
  return L"";
}

}  // namespace qor
