// Settings tree behind the SettingsControl host entry: an in-memory key tree that stores no
// values. Every read finds nothing and nothing survives the settings object.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosting/qorFarPluginW.h"

namespace qor {

class TqorFarSettings;

// One named value of a key; no data is held.
class TqorFarSettingValue {
 public:
  TqorFarSettingValue(TqorFarSettings* AOwner, std::wstring AName);
  ~TqorFarSettingValue();
  TqorFarSettingValue(const TqorFarSettingValue&) = delete;
  TqorFarSettingValue& operator=(const TqorFarSettingValue&) = delete;

  const std::wstring& Name() const noexcept { return FName; }

 private:
  TqorFarSettings* FOwner;
  std::wstring FName;
};

// One key. The settings object a plugin gets is a key without owner; its address and the
// addresses of its sub-keys are the ids the plugin sees.
class TqorFarSettings {
 public:
  TqorFarSettings(TqorFarSettings* AOwner, std::wstring AName);
  TqorFarSettings(int AType, const GUID& AGUID);
  ~TqorFarSettings();
  TqorFarSettings(const TqorFarSettings&) = delete;
  TqorFarSettings& operator=(const TqorFarSettings&) = delete;

  const std::wstring& Name() const noexcept { return FName; }
  TqorFarSettings* Owner() const noexcept { return FOwner; }
  int SubKeyCount() const noexcept { return FSubKeys ? static_cast<int>(FSubKeys->size()) : 0; }
  int ValueCount() const noexcept { return FValues ? static_cast<int>(FValues->size()) : 0; }
  TqorFarSettings* GetSubKey(int AIndex) const;
  TqorFarSettingValue* GetValue(int AIndex) const;
  // Find or create; names compare ignoring case.
  TqorFarSettings* GetSubKeyByName(const std::wstring& AName);
  TqorFarSettingValue* GetValueByName(const std::wstring& AName);

 private:
  friend class TqorFarSettingValue;

  TqorFarSettings* FOwner = nullptr;
  std::unique_ptr<std::vector<void*>> FFreeList;  // blocks handed to the plugin; none so far
  std::wstring FName;
  std::unique_ptr<std::vector<TqorFarSettings*>> FSubKeys;      // owns the children
  std::unique_ptr<std::vector<TqorFarSettingValue*>> FValues;  // owns the values
};

// Host entry for PluginStartupInfo.SettingsControl.
intptr_t WINAPI FarApiSettingsControl(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
