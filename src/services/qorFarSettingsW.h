// Settings behind the SettingsControl host entry. Each plugin GUID has one key tree per location
// (roaming, local), kept in the settings file (qorFarSettingsStore). A settings object starts from
// a copy of the stored tree and sees its own changes at once; they reach the file, and with it
// every later settings object of any process, when the object is freed, as FAR commits them then.
// No plugin reaches another's tree unless it names that plugin's GUID, as FAR allows. A settings
// object created with the all-zero GUID is a read-only view of the host's own options, answered
// with FAR's defaults. Key ids and handles are serial numbers, never reused, so a stale one
// reaches nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "api/qorFarPluginW.h"
#include "services/qorFarSettingsStore.h"

namespace qor {

class TqorFarSettings;

// One named value of a key: a number, a text or a block of bytes (FST_QWORD, FST_STRING,
// FST_DATA); FST_UNKNOWN until the first Set.
class TqorFarSettingValue {
 public:
  TqorFarSettingValue(TqorFarSettings* AOwner, std::wstring AName);
  ~TqorFarSettingValue();
  TqorFarSettingValue(const TqorFarSettingValue&) = delete;
  TqorFarSettingValue& operator=(const TqorFarSettingValue&) = delete;

  const std::wstring& Name() const noexcept { return FName; }
  int Type() const noexcept { return FType; }
  std::uint64_t Number() const noexcept { return FNumber; }
  const std::wstring& Text() const noexcept { return FText; }
  const std::vector<std::byte>& Data() const noexcept { return FData; }
  // Each replaces whatever the value held, of any type.
  void SetNumber(std::uint64_t ANumber);
  void SetText(std::wstring AText);
  void SetData(std::vector<std::byte> AData);

 private:
  TqorFarSettings* FOwner;
  std::wstring FName;
  int FType = FST_UNKNOWN;
  std::uint64_t FNumber = 0;
  std::wstring FText;
  std::vector<std::byte> FData;
};

// One key. Its serial number is the key id a plugin sees.
class TqorFarSettings {
 public:
  TqorFarSettings(TqorFarSettings* AOwner, std::wstring AName);
  ~TqorFarSettings();
  TqorFarSettings(const TqorFarSettings&) = delete;
  TqorFarSettings& operator=(const TqorFarSettings&) = delete;

  const std::wstring& Name() const noexcept { return FName; }
  size_t Id() const noexcept { return FId; }
  TqorFarSettings* Owner() const noexcept { return FOwner; }
  int SubKeyCount() const noexcept { return FSubKeys ? static_cast<int>(FSubKeys->size()) : 0; }
  int ValueCount() const noexcept { return FValues ? static_cast<int>(FValues->size()) : 0; }
  TqorFarSettings* GetSubKey(int AIndex) const;
  TqorFarSettingValue* GetValue(int AIndex) const;
  // Names compare exactly, as FAR's plugin settings do: a plugin may keep "Mode" and "mode"
  // apart, and folding them would lose one of them.
  TqorFarSettings* FindSubKey(const std::wstring& AName) const noexcept;
  TqorFarSettingValue* FindValue(const std::wstring& AName) const noexcept;
  // Find or create.
  TqorFarSettings* GetSubKeyByName(const std::wstring& AName);
  TqorFarSettingValue* GetValueByName(const std::wstring& AName);
  // Destroys every sub-key and value; the key itself stays.
  void Clear() noexcept;

 private:
  friend class TqorFarSettingValue;

  TqorFarSettings* FOwner = nullptr;
  std::wstring FName;
  size_t FId = 0;
  std::unique_ptr<std::vector<TqorFarSettings*>> FSubKeys;      // owns the children
  std::unique_ptr<std::vector<TqorFarSettingValue*>> FValues;  // owns the values
};

// What SCTL_CREATE hands out: a plugin's own copy of one stored tree with the changes made in it,
// or a view of the host's own options, and the memory returned to the plugin through it, which
// stays valid until the handle is freed.
class TqorFarSettingsHandle {
 public:
  // The host's own options.
  TqorFarSettingsHandle() noexcept = default;
  // A copy of AStored, the tree of AGuid at ALocal.
  TqorFarSettingsHandle(const GUID& AGuid, bool ALocal, const TqorSettingsKey& AStored);
  ~TqorFarSettingsHandle();
  TqorFarSettingsHandle(const TqorFarSettingsHandle&) = delete;
  TqorFarSettingsHandle& operator=(const TqorFarSettingsHandle&) = delete;

  TqorFarSettings* Root() const noexcept { return FRoot.get(); }
  bool HostOptions() const noexcept { return FRoot == nullptr; }
  // A zero-filled block owned by the handle (never null, even for 0 bytes).
  void* Keep(size_t ASize);
  const wchar_t* KeepText(const std::wstring& AText);
  // Ids of dialog histories opened below FSSF_ROOT: 24, 25, ... as FAR numbers them.
  size_t OpenHistory() noexcept { return kFirstHistory + FHistories++; }
  bool IsHistory(size_t AId) const noexcept { return AId >= kFirstHistory && AId - kFirstHistory < FHistories; }

  // A change made through the handle, for the file: AKey is a key of this handle's tree.
  void Record(TqorSettingsChange::TKind AKind, const TqorFarSettings* AKey, const TqorSettingsValue& AValue = {});
  const TqorSettingsChanges& Changes() const noexcept { return FChanges; }
  // Bytes the values set through the handle add to the file (less what they replaced).
  std::int64_t Growth() const noexcept { return FGrowth; }
  void Grow(std::int64_t ABytes) noexcept { FGrowth += ABytes; }

 private:
  static constexpr size_t kFirstHistory = 24;
  GUID FGuid{};
  bool FLocal = false;
  std::unique_ptr<TqorFarSettings> FRoot;
  std::vector<std::unique_ptr<std::byte[]>> FFreeList;
  size_t FHistories = 0;
  TqorSettingsChanges FChanges;
  std::int64_t FGrowth = 0;
};

// Host entry for PluginStartupInfo.SettingsControl.
intptr_t WINAPI FarApiSettingsControl(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2);

}  // namespace qor
