#include "services/qorFarSettingsW.h"

#include "services/qorFarStartupInfoW.h"

namespace qor {

// Not offered yet.
intptr_t WINAPI FarApiSettingsControl(HANDLE, int, intptr_t, void*) {
  ShowHostWarning(L"FarApiSettingsControl");
  return 0;
}

}  // namespace qor
