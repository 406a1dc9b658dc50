#include "services/qorFarPluginIdsW.h"

#include "api/qorFarPluginW.h"
#include "common/qorPluginGuard.h"
#include "services/qorFarLang.h"
#include "services/qorFarSettingsW.h"

namespace qor {

namespace {

bool names_known_store(const GUID& AGuid) noexcept {
  static const GUID kFarOwn{};
  return IsEqualGUID(AGuid, kFarOwn) || IsPluginRegistered(AGuid);
}

}  // namespace

intptr_t WINAPI FarApiSettingsControlForPlugins(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2) {
  if (ACommand == SCTL_CREATE) {
    TFarSettingsCreate create;
    if (!ReadPluginRecord(AParam2, create) || !names_known_store(create.Guid)) return 0;
  }
  return FarApiSettingsControl(hHandle, ACommand, AParam1, AParam2);
}

}  // namespace qor
