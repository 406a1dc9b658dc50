#include "services/qorFarSettingsW.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "common/qorErrors.h"
#include "common/qorLocks.h"
#include "common/qorPluginGuard.h"
#include "services/qorFarPanelsW.h"
#include "ui/qorHostWarning.h"

namespace qor {

namespace {

// Everything the settings keep between calls, under one lock. Members go in reverse order at
// module unload: the handles (and their trees) first, while the set of live keys and the lock
// still exist.
struct settings_state {
  // Recursive: a key registers itself while the command that creates it holds the lock.
  critical_section Lock;
  // Every key alive by id, so that an id from a plugin is checked before it is used. Ids are
  // serial and never reused: an address would come back for the next key made, and a stale id
  // would then reach it.
  std::unordered_map<size_t, TqorFarSettings*> Keys;
  std::unordered_map<uintptr_t, std::unique_ptr<TqorFarSettingsHandle>> Handles;
  // One counter for key ids and handles, so that neither is ever taken for the other; it starts
  // above FAR's dialog-history ids (24 and up).
  uintptr_t LastId = 0x10000;
};

settings_state GSettings;

using settings_guard = lock_guard<critical_section>;

template <class T>
void remove_first(std::vector<T*>* AList, T* AItem) noexcept {
  if (!AList) return;
  auto it = std::find(AList->begin(), AList->end(), AItem);
  if (it != AList->end()) AList->erase(it);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TqorFarSettingValue::TqorFarSettingValue(TqorFarSettings* AOwner, std::wstring AName)
    : FOwner(AOwner), FName(std::move(AName)) {
  if (FOwner) {
    if (!FOwner->FValues) FOwner->FValues = std::make_unique<std::vector<TqorFarSettingValue*>>();
    FOwner->FValues->push_back(this);
  }
}

TqorFarSettingValue::~TqorFarSettingValue() {
  if (FOwner) remove_first(FOwner->FValues.get(), this);
}

void TqorFarSettingValue::SetNumber(std::uint64_t ANumber) {
  FType = FST_QWORD;
  FNumber = ANumber;
  FText.clear();
  FData.clear();
}

void TqorFarSettingValue::SetText(std::wstring AText) {
  FType = FST_STRING;
  FNumber = 0;
  FText = std::move(AText);
  FData.clear();
}

void TqorFarSettingValue::SetData(std::vector<std::byte> AData) {
  FType = FST_DATA;
  FNumber = 0;
  FText.clear();
  FData = std::move(AData);
}

TqorFarSettings::TqorFarSettings(TqorFarSettings* AOwner, std::wstring AName)
    : FOwner(AOwner), FName(std::move(AName)) {
  settings_guard guard(GSettings.Lock);
  FId = ++GSettings.LastId;
  GSettings.Keys.emplace(FId, this);
  if (FOwner) {
    try {
      if (!FOwner->FSubKeys) FOwner->FSubKeys = std::make_unique<std::vector<TqorFarSettings*>>();
      FOwner->FSubKeys->push_back(this);
    } catch (...) {
      GSettings.Keys.erase(FId);
      throw;
    }
  }
}

TqorFarSettings::~TqorFarSettings() {
  settings_guard guard(GSettings.Lock);
  GSettings.Keys.erase(FId);
  Clear();
  FSubKeys.reset();
  FValues.reset();
  if (FOwner) remove_first(FOwner->FSubKeys.get(), this);
}

void TqorFarSettings::Clear() noexcept {
  // Each child and value takes itself out of its list.
  if (FSubKeys)
    while (!FSubKeys->empty()) delete FSubKeys->back();
  if (FValues)
    while (!FValues->empty()) delete FValues->back();
}

TqorFarSettings* TqorFarSettings::GetSubKey(int AIndex) const {
  if (AIndex < 0 || AIndex >= SubKeyCount()) throw EqorError(L"List index out of bounds");
  return (*FSubKeys)[AIndex];
}

TqorFarSettingValue* TqorFarSettings::GetValue(int AIndex) const {
  if (AIndex < 0 || AIndex >= ValueCount()) throw EqorError(L"List index out of bounds");
  return (*FValues)[AIndex];
}

TqorFarSettings* TqorFarSettings::FindSubKey(const std::wstring& AName) const noexcept {
  if (FSubKeys)
    for (TqorFarSettings* key : *FSubKeys)
      if (key->FName == AName) return key;
  return nullptr;
}

TqorFarSettingValue* TqorFarSettings::FindValue(const std::wstring& AName) const noexcept {
  if (FValues)
    for (TqorFarSettingValue* value : *FValues)
      if (value->Name() == AName) return value;
  return nullptr;
}

TqorFarSettings* TqorFarSettings::GetSubKeyByName(const std::wstring& AName) {
  if (TqorFarSettings* key = FindSubKey(AName)) return key;
  return new TqorFarSettings(this, AName);
}

TqorFarSettingValue* TqorFarSettings::GetValueByName(const std::wstring& AName) {
  if (TqorFarSettingValue* value = FindValue(AName)) return value;
  return new TqorFarSettingValue(this, AName);
}

namespace {

void copy_stored_key(const TqorSettingsKey& AStored, TqorFarSettings& AKey) {
  for (const TqorSettingsValue& stored : AStored.Values) {
    TqorFarSettingValue* value = AKey.GetValueByName(stored.Name);
    switch (stored.Type) {
      case FST_QWORD: value->SetNumber(stored.Number); break;
      case FST_STRING: value->SetText(stored.Text); break;
      case FST_DATA: value->SetData(stored.Data); break;
      default: break;
    }
  }
  for (const TqorSettingsKey& stored : AStored.Keys) copy_stored_key(stored, *AKey.GetSubKeyByName(stored.Name));
}

}  // namespace

TqorFarSettingsHandle::TqorFarSettingsHandle(const GUID& AGuid, bool ALocal, const TqorSettingsKey& AStored)
    : FGuid(AGuid), FLocal(ALocal), FRoot(std::make_unique<TqorFarSettings>(nullptr, std::wstring())) {
  copy_stored_key(AStored, *FRoot);
}

TqorFarSettingsHandle::~TqorFarSettingsHandle() = default;

void TqorFarSettingsHandle::Record(TqorSettingsChange::TKind AKind, const TqorFarSettings* AKey,
                                   const TqorSettingsValue& AValue) {
  TqorSettingsChange change;
  change.Kind = AKind;
  change.Guid = FGuid;
  change.Local = FLocal;
  for (const TqorFarSettings* key = AKey; key && key->Owner(); key = key->Owner()) change.Path.push_back(key->Name());
  std::reverse(change.Path.begin(), change.Path.end());
  change.Value = AValue;
  FChanges.push_back(std::move(change));
}

void* TqorFarSettingsHandle::Keep(size_t ASize) {
  FFreeList.push_back(std::make_unique<std::byte[]>(ASize ? ASize : 1));
  return FFreeList.back().get();
}

const wchar_t* TqorFarSettingsHandle::KeepText(const std::wstring& AText) {
  auto* text = static_cast<wchar_t*>(Keep((AText.size() + 1) * sizeof(wchar_t)));
  std::memcpy(text, AText.c_str(), (AText.size() + 1) * sizeof(wchar_t));
  return text;
}

// ---------------------------------------------------------------------------------------------

namespace {

// The options FAR publishes to plugins, with the values of a fresh installation.
struct host_option {
  size_t Root;
  const wchar_t* Name;
  int Type;
  std::uint64_t Number;
};

constexpr wchar_t kWordDiv[] = L"~!%^&*()+|{}:\"<>?`-=\\[];',./";

constexpr host_option kHostOptions[] = {
    {FSSF_CONFIRMATIONS, L"Copy", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"Move", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"Drag", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"Delete", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"DeleteFolder", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"Esc", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"Exit", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"HistoryClear", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"RemoveConnection", FST_QWORD, 1},
    {FSSF_CONFIRMATIONS, L"RO", FST_QWORD, 1},
    {FSSF_SYSTEM, L"CopyOpened", FST_QWORD, 1},
    {FSSF_SYSTEM, L"DeleteToRecycleBin", FST_QWORD, 1},
    {FSSF_SYSTEM, L"PluginMaxReadData", FST_QWORD, 0x20000},
    {FSSF_SYSTEM, L"ScanJunction", FST_QWORD, 1},
    {FSSF_SYSTEM, L"WordDiv", FST_STRING, 0},
    {FSSF_PANEL, L"ShowHidden", FST_QWORD, 1},
    {FSSF_PANEL, L"ShowBytes", FST_QWORD, 0},
    {FSSF_PANEL, L"TreatDotFilesAsHidden", FST_QWORD, 0},
    {FSSF_PANEL, L"ShortcutAlwaysChdir", FST_QWORD, 0},
    {FSSF_EDITOR, L"WordDiv", FST_STRING, 0},
    {FSSF_SCREEN, L"KeyBar", FST_QWORD, 1},
    {FSSF_DIALOG, L"EditBlock", FST_QWORD, 0},
    {FSSF_DIALOG, L"DelRemovesBlocks", FST_QWORD, 1},
    {FSSF_DIALOG, L"EULBsClear", FST_QWORD, 0},
    {FSSF_INTERFACE, L"ShowMenuBar", FST_QWORD, 0},
    {FSSF_PANELLAYOUT, L"ColumnTitles", FST_QWORD, 1},
    {FSSF_PANELLAYOUT, L"StatusLine", FST_QWORD, 1},
    {FSSF_PANELLAYOUT, L"SortMode", FST_QWORD, 1},
    {FSSF_PANELLAYOUT, L"DetailedJunction", FST_QWORD, 0},
};

// Option names are ASCII; FAR compares them without regard to case.
bool same_option_name(const wchar_t* AOption, const std::wstring& AName) noexcept {
  auto fold = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
  size_t i = 0;
  for (; AOption[i] && i < AName.size(); ++i)
    if (fold(AOption[i]) != fold(AName[i])) return false;
  return !AOption[i] && i == AName.size();
}

const host_option* find_host_option(size_t ARoot, const std::wstring& AName) noexcept {
  for (const host_option& option : kHostOptions)
    if (option.Root == ARoot && same_option_name(option.Name, AName)) return &option;
  return nullptr;
}

bool is_history_root(size_t ARoot) noexcept { return ARoot >= FSSF_HISTORY_CMD && ARoot <= FSSF_FOLDERSHORTCUT_9; }

// Key names FAR accepts: not empty, no path separator.
bool read_key_name(const wchar_t* AText, std::wstring& AName) {
  return AText && CopyPluginText(AText, AName) && !AName.empty() && AName.find(L'\\') == std::wstring::npos;
}

bool all_zero(const GUID& AGuid) noexcept {
  static const GUID zero{};
  return std::memcmp(&AGuid, &zero, sizeof(GUID)) == 0;
}

TqorFarSettingsHandle* find_handle(HANDLE AHandle) {
  auto it = GSettings.Handles.find(reinterpret_cast<uintptr_t>(AHandle));
  return it == GSettings.Handles.end() ? nullptr : it->second.get();
}

// Root 0 is the plugin's own key; any other id must be a live key of the same tree, so that a
// stale id or one from another plugin's settings reaches nothing.
TqorFarSettings* find_key(const TqorFarSettingsHandle& AHandle, size_t AId) {
  if (AHandle.HostOptions()) return nullptr;
  if (AId == 0) return AHandle.Root();
  auto it = GSettings.Keys.find(AId);
  if (it == GSettings.Keys.end()) return nullptr;
  TqorFarSettings* key = it->second;
  TqorFarSettings* top = key;
  while (top->Owner()) top = top->Owner();
  return top == AHandle.Root() ? key : nullptr;
}

// Writes the fields of a record from AFirst to its end back into the plugin's copy.
template <class R, class F>
bool write_back(void* AParam, const R& ARecord, F R::*AFirst) noexcept {
  const auto* record = reinterpret_cast<const std::byte*>(&ARecord);
  const size_t offset = reinterpret_cast<const std::byte*>(&(ARecord.*AFirst)) - record;
  return CopyPluginMemory(static_cast<std::byte*>(AParam) + offset, record + offset, sizeof(R) - offset);
}

// The stored tree is read before the lock is taken: reading may wait for another process.
intptr_t create_settings(intptr_t ALocation, void* AParam2) {
  TFarSettingsCreate create;
  if (!ReadPluginRecord(AParam2, create)) return 0;
  std::unique_ptr<TqorFarSettingsHandle> handle;
  if (all_zero(create.Guid)) {
    handle = std::make_unique<TqorFarSettingsHandle>();
  } else {
    // The host's own tree (its plugin list) belongs to no plugin.
    if (IsEqualGUID(create.Guid, kWexlorSettingsGuid)) return 0;
    const bool local = ALocation == PSL_LOCAL;
    const TqorSettingsKey stored = ReadStoredTree(create.Guid, local);
    settings_guard guard(GSettings.Lock);
    handle = std::make_unique<TqorFarSettingsHandle>(create.Guid, local, stored);
  }
  settings_guard guard(GSettings.Lock);
  const uintptr_t id = ++GSettings.LastId;
  GSettings.Handles.emplace(id, std::move(handle));
  create.Handle = reinterpret_cast<HANDLE>(id);
  if (!write_back(AParam2, create, &TFarSettingsCreate::Handle)) {
    GSettings.Handles.erase(id);
    return 0;
  }
  return 1;
}

TqorSettingsValue stored_value(const std::wstring& AName, const TqorFarSettingValue& AValue) {
  TqorSettingsValue value;
  value.Name = AName;
  value.Type = AValue.Type();
  value.Number = AValue.Number();
  value.Text = AValue.Text();
  value.Data = AValue.Data();
  return value;
}

// The value as the plugin gave it; false when its text or data cannot be read.
bool read_item_value(const TFarSettingsItem& AItem, TqorSettingsValue& AValue) {
  AValue.Type = AItem.Type;
  switch (AItem.Type) {
    case FST_QWORD:
      AValue.Number = AItem.Number;
      return true;
    case FST_STRING:
      return CopyPluginText(AItem.String, AValue.Text);
    case FST_DATA:
      AValue.Data.resize(AItem.Data.Size);
      return AValue.Data.empty() ||
             (AItem.Data.Data && CopyPluginMemory(AValue.Data.data(), AItem.Data.Data, AValue.Data.size()));
    default:
      return false;
  }
}

// A value that would make the file bigger than a reader takes is refused, as FAR refuses one its
// database cannot hold. It is measured against the file as this process last saw it, with what
// this object already set.
bool take_room(TqorFarSettingsHandle& AHandle, const TqorFarSettingValue* AOld, const TqorSettingsValue& ANew) {
  std::int64_t growth = static_cast<std::int64_t>(FormattedValueSize(ANew));
  if (AOld && AOld->Type() != FST_UNKNOWN)
    growth -= static_cast<std::int64_t>(FormattedValueSize(stored_value(ANew.Name, *AOld)));
  const std::int64_t total = AHandle.Growth() + growth;
  if (total > 0 && static_cast<std::uint64_t>(total) > SettingsFileRoom()) return false;
  AHandle.Grow(growth);
  return true;
}

intptr_t set_value(TqorFarSettingsHandle& AHandle, void* AParam2) {
  TFarSettingsItem item;
  if (!ReadPluginRecord(AParam2, item)) return 0;
  TqorFarSettings* key = find_key(AHandle, item.Root);
  TqorSettingsValue wanted;
  if (!key || !CopyPluginText(item.Name, wanted.Name) || !read_item_value(item, wanted)) return 0;
  if (!take_room(AHandle, key->FindValue(wanted.Name), wanted)) return 0;
  TqorFarSettingValue* value = key->GetValueByName(wanted.Name);
  switch (wanted.Type) {
    case FST_QWORD: value->SetNumber(wanted.Number); break;
    case FST_STRING: value->SetText(wanted.Text); break;
    default: value->SetData(wanted.Data); break;
  }
  AHandle.Record(TqorSettingsChange::SetValue, key, std::move(wanted));
  return 1;
}

// FAR's own options: the type is the option's, whatever the plugin asked for.
intptr_t get_host_option(TqorFarSettingsHandle& AHandle, void* AParam2, TFarSettingsItem& AItem) {
  std::wstring name;
  if (!AItem.Name || !CopyPluginText(AItem.Name, name)) return 0;
  const host_option* option = find_host_option(AItem.Root, name);
  if (!option) return 0;
  AItem.Type = option->Type;
  if (option->Type == FST_STRING)
    AItem.String = AHandle.KeepText(kWordDiv);
  else
    AItem.Number = option->Number;
  // The file manager's cancel already is the user's answer: no "Interrupt?" asks it again.
  if (AItem.Root == FSSF_CONFIRMATIONS && same_option_name(L"Esc", name) && HostCancelling()) AItem.Number = 0;
  return write_back(AParam2, AItem, &TFarSettingsItem::Type) ? 1 : 0;
}

// Returned texts and data are copies owned by the handle; the plugin frees nothing.
intptr_t get_value(TqorFarSettingsHandle& AHandle, void* AParam2) {
  TFarSettingsItem item;
  if (!ReadPluginRecord(AParam2, item)) return 0;
  if (AHandle.HostOptions()) return get_host_option(AHandle, AParam2, item);
  TqorFarSettings* key = find_key(AHandle, item.Root);
  std::wstring name;
  if (!key || !CopyPluginText(item.Name, name)) return 0;
  const TqorFarSettingValue* value = key->FindValue(name);
  // A value of another type counts as missing: the plugin keeps its own default.
  if (!value || value->Type() != item.Type) return 0;
  switch (value->Type()) {
    case FST_QWORD:
      item.Number = value->Number();
      break;
    case FST_STRING:
      item.String = AHandle.KeepText(value->Text());
      break;
    case FST_DATA: {
      void* data = AHandle.Keep(value->Data().size());
      if (!value->Data().empty()) std::memcpy(data, value->Data().data(), value->Data().size());
      item.Data.Size = value->Data().size();
      item.Data.Data = data;
      break;
    }
    default:
      return 0;
  }
  return write_back(AParam2, item, &TFarSettingsItem::Number) ? 1 : 0;
}

// Sub-keys first, then values, each in creation order; the array and its names are one block
// owned by the handle.
intptr_t enum_key(TqorFarSettingsHandle& AHandle, void* AParam2) {
  TFarSettingsEnum items;
  if (!ReadPluginRecord(AParam2, items)) return 0;
  if (AHandle.HostOptions()) {
    // No histories or folder shortcuts exist here: those roots list nothing.
    if (!is_history_root(items.Root) && !AHandle.IsHistory(items.Root)) return 0;
    items.Count = 0;
    items.Histories = nullptr;
    return write_back(AParam2, items, &TFarSettingsEnum::Count) ? 1 : 0;
  }
  TqorFarSettings* key = find_key(AHandle, items.Root);
  if (!key) return 0;
  std::vector<std::pair<const std::wstring*, int>> names;
  for (int i = 0; i < key->SubKeyCount(); ++i) names.emplace_back(&key->GetSubKey(i)->Name(), FST_SUBKEY);
  for (int i = 0; i < key->ValueCount(); ++i)
    if (const TqorFarSettingValue* value = key->GetValue(i); value->Type() != FST_UNKNOWN)
      names.emplace_back(&value->Name(), value->Type());
  items.Count = names.size();
  items.Items = nullptr;
  if (!names.empty()) {
    size_t size = names.size() * sizeof(TFarSettingsName);
    for (const auto& [name, type] : names) size += (name->size() + 1) * sizeof(wchar_t);
    auto* block = static_cast<std::byte*>(AHandle.Keep(size));
    auto* array = reinterpret_cast<TFarSettingsName*>(block);
    auto* text = reinterpret_cast<wchar_t*>(block + names.size() * sizeof(TFarSettingsName));
    for (size_t i = 0; i < names.size(); ++i) {
      std::memcpy(text, names[i].first->c_str(), (names[i].first->size() + 1) * sizeof(wchar_t));
      array[i].Name = text;
      array[i].Type = names[i].second;
      text += names[i].first->size() + 1;
    }
    items.Items = array;
  }
  return write_back(AParam2, items, &TFarSettingsEnum::Count) ? 1 : 0;
}

// A name deletes that value (done even when it did not exist); no name deletes the key itself
// with everything below it. The plugin's own key is emptied instead, so its handle stays usable.
intptr_t delete_value(TqorFarSettingsHandle& AHandle, void* AParam2) {
  TFarSettingsValue record;
  if (!ReadPluginRecord(AParam2, record)) return 0;
  TqorFarSettings* key = find_key(AHandle, record.Root);
  if (!key) return 0;
  if (record.Value) {
    std::wstring name;
    if (!CopyPluginText(record.Value, name)) return 0;
    if (TqorFarSettingValue* value = key->FindValue(name)) {
      delete value;
      TqorSettingsValue named;
      named.Name = name;
      AHandle.Record(TqorSettingsChange::DeleteValue, key, named);
    }
  } else if (key == AHandle.Root()) {
    if (key->SubKeyCount() > 0 || key->ValueCount() > 0) AHandle.Record(TqorSettingsChange::DeleteKey, key);
    key->Clear();
  } else {
    AHandle.Record(TqorSettingsChange::DeleteKey, key);
    delete key;
  }
  return 1;
}

intptr_t open_sub_key(TqorFarSettingsHandle& AHandle, void* AParam2, bool ACreate) {
  TFarSettingsValue record;
  std::wstring name;
  if (!ReadPluginRecord(AParam2, record)) return 0;
  if (AHandle.HostOptions()) {
    // Dialog histories hang below FSSF_ROOT; there are none to create.
    if (ACreate || record.Root != FSSF_ROOT || !read_key_name(record.Value, name)) return 0;
    return static_cast<intptr_t>(AHandle.OpenHistory());
  }
  TqorFarSettings* key = find_key(AHandle, record.Root);
  if (!key || !read_key_name(record.Value, name)) return 0;
  TqorFarSettings* sub_key = key->FindSubKey(name);
  if (!sub_key && ACreate) {
    sub_key = key->GetSubKeyByName(name);
    AHandle.Record(TqorSettingsChange::CreateKey, sub_key);
  }
  return sub_key ? static_cast<intptr_t>(sub_key->Id()) : 0;
}

// Frees the handle and every block it handed out; what it changed goes to the file first, outside
// the lock (writing may wait for another process).
intptr_t free_settings(HANDLE hHandle) {
  std::unique_ptr<TqorFarSettingsHandle> handle;
  {
    settings_guard guard(GSettings.Lock);
    auto it = GSettings.Handles.find(reinterpret_cast<uintptr_t>(hHandle));
    if (it == GSettings.Handles.end()) return 0;
    handle = std::move(it->second);
    GSettings.Handles.erase(it);
  }
  if (!handle->Changes().empty()) CommitSettings(handle->Changes());
  return 1;
}

intptr_t settings_control(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2) {
  if (ACommand < SCTL_CREATE || ACommand > SCTL_OPENSUBKEY) {
    // Never under the lock: the box waits for the user.
    ShowHostWarning(L"FarApiSettingsControl");
    return 0;
  }
  if (ACommand == SCTL_CREATE) return create_settings(AParam1, AParam2);
  if (ACommand == SCTL_FREE) return free_settings(hHandle);
  settings_guard guard(GSettings.Lock);
  TqorFarSettingsHandle* handle = find_handle(hHandle);
  if (!handle) return 0;
  switch (ACommand) {
    case SCTL_SET:
      return handle->HostOptions() ? 0 : set_value(*handle, AParam2);
    case SCTL_GET:
      return get_value(*handle, AParam2);
    case SCTL_ENUM:
      return enum_key(*handle, AParam2);
    case SCTL_DELETE:
      return handle->HostOptions() ? 0 : delete_value(*handle, AParam2);
    case SCTL_CREATESUBKEY:
      return open_sub_key(*handle, AParam2, true);
    default:  // SCTL_OPENSUBKEY
      return open_sub_key(*handle, AParam2, false);
  }
}

}  // namespace

intptr_t WINAPI FarApiSettingsControl(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2) {
  try {
    return settings_control(hHandle, ACommand, AParam1, AParam2);
  } catch (...) {
    return 0;
  }
}

}  // namespace qor
