#include "services/qorFarSettingsW.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "common/qorErrors.h"
#include "common/qorPluginGuard.h"
#include "services/qorFarStartupInfoW.h"

namespace qor {

namespace {

bool same_name(const std::wstring& A, const std::wstring& B) noexcept {
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.c_str(), static_cast<int>(A.size()),
                          B.c_str(), static_cast<int>(B.size())) == CSTR_EQUAL;
}

template <class T>
void remove_first(std::vector<T*>* AList, T* AItem) {
  if (!AList) return;
  auto it = std::find(AList->begin(), AList->end(), AItem);
  if (it != AList->end()) AList->erase(it);
}

// Every key alive, so that an id from a plugin is checked before it is used: a stale or made-up
// id must not reach a destructor.
class live_keys {
 public:
  void add(const TqorFarSettings* AKey) {
    std::lock_guard<std::mutex> guard(FLock);
    FKeys.insert(AKey);
  }
  void remove(const TqorFarSettings* AKey) noexcept {
    std::lock_guard<std::mutex> guard(FLock);
    FKeys.erase(AKey);
  }
  TqorFarSettings* find(HANDLE AHandle) {
    std::lock_guard<std::mutex> guard(FLock);
    auto* key = static_cast<TqorFarSettings*>(AHandle);
    return FKeys.count(key) ? key : nullptr;
  }

 private:
  std::mutex FLock;
  std::unordered_set<const TqorFarSettings*> FKeys;
};

// Freed with the module, after every plugin has been unloaded.
live_keys GLiveKeys;

live_keys& LiveKeys() { return GLiveKeys; }

// A plugin's zero-terminated name; false when it cannot be read.
bool read_plugin_name(const wchar_t* AName, std::wstring& AText) {
  AText.clear();
  if (!AName) return true;
  size_t length = 0;
  struct measure {
    const wchar_t* Text;
    size_t* Length;
  } m{AName, &length};
  if (RunGuarded([](void* AContext) noexcept {
        auto& m = *static_cast<measure*>(AContext);
        *m.Length = std::wcslen(m.Text);
      },
      &m) != 0)
    return false;
  AText.resize(length);
  return CopyPluginMemory(AText.data(), AName, length * sizeof(wchar_t));
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

TqorFarSettings::TqorFarSettings(TqorFarSettings* AOwner, std::wstring AName)
    : FOwner(AOwner), FName(std::move(AName)) {
  if (FOwner) {
    if (!FOwner->FSubKeys) FOwner->FSubKeys = std::make_unique<std::vector<TqorFarSettings*>>();
    FOwner->FSubKeys->push_back(this);
  }
  try {
    LiveKeys().add(this);
  } catch (...) {
    if (FOwner) remove_first(FOwner->FSubKeys.get(), this);
    throw;
  }
}

// The location type and the plugin GUID are accepted and not kept: nothing is stored anywhere.
TqorFarSettings::TqorFarSettings(int, const GUID&) { LiveKeys().add(this); }

TqorFarSettings::~TqorFarSettings() {
  LiveKeys().remove(this);
  if (FFreeList) {
    for (auto it = FFreeList->rbegin(); it != FFreeList->rend(); ++it) std::free(*it);
    FFreeList.reset();
  }
  if (FSubKeys) {
    // Each child takes itself out of the list.
    while (!FSubKeys->empty()) delete FSubKeys->back();
    FSubKeys.reset();
  }
  if (FValues) {
    while (!FValues->empty()) delete FValues->back();
    FValues.reset();
  }
  if (FOwner) remove_first(FOwner->FSubKeys.get(), this);
}

TqorFarSettings* TqorFarSettings::GetSubKey(int AIndex) const {
  if (AIndex < 0 || AIndex >= SubKeyCount()) throw EqorError(L"List index out of bounds");
  return (*FSubKeys)[AIndex];
}

TqorFarSettingValue* TqorFarSettings::GetValue(int AIndex) const {
  if (AIndex < 0 || AIndex >= ValueCount()) throw EqorError(L"List index out of bounds");
  return (*FValues)[AIndex];
}

TqorFarSettings* TqorFarSettings::GetSubKeyByName(const std::wstring& AName) {
  if (FSubKeys)
    for (TqorFarSettings* key : *FSubKeys)
      if (same_name(key->FName, AName)) return key;
  return new TqorFarSettings(this, AName);
}

TqorFarSettingValue* TqorFarSettings::GetValueByName(const std::wstring& AName) {
  if (FValues)
    for (TqorFarSettingValue* value : *FValues)
      if (same_name(value->Name(), AName)) return value;
  return new TqorFarSettingValue(this, AName);
}

// ---------------------------------------------------------------------------------------------

namespace {

// Plugins use their trees from one thread each; this lock only keeps two threads that name the
// same id (say, freeing it twice) from using a key the other is destroying.
std::mutex GTreeLock;

intptr_t settings_control(HANDLE hHandle, int ACommand, intptr_t AParam1, void* AParam2) {
  std::unique_lock<std::mutex> tree(GTreeLock, std::defer_lock);
  // Never held across a warning box.
  if (ACommand == SCTL_CREATE || ACommand == SCTL_FREE || ACommand == SCTL_ENUM || ACommand == SCTL_CREATESUBKEY)
    tree.lock();
  switch (ACommand) {
    case SCTL_CREATE: {
      auto* create = static_cast<TFarSettingsCreate*>(AParam2);
      GUID guid;
      if (!create || !CopyPluginMemory(&guid, &create->Guid, sizeof(guid))) return 0;
      auto root = std::make_unique<TqorFarSettings>(static_cast<int>(AParam1), guid);
      HANDLE handle = root.get();
      if (!CopyPluginMemory(&create->Handle, &handle, sizeof(handle))) return 0;
      return reinterpret_cast<intptr_t>(root.release());
    }
    case SCTL_FREE:
      if (hHandle) {
        TqorFarSettings* key = LiveKeys().find(hHandle);
        if (!key) return 0;
        delete key;
      }
      return 1;
    case SCTL_GET:
      // No value exists: the plugin falls back to its own default.
      return 0;
    case SCTL_ENUM: {
      auto* items = static_cast<TFarSettingsEnum*>(AParam2);
      const size_t none = 0;
      if (!items || !LiveKeys().find(hHandle)) return 0;
      return CopyPluginMemory(&items->Count, &none, sizeof(none)) ? 1 : 0;
    }
    case SCTL_CREATESUBKEY: {
      const auto* value = static_cast<const TFarSettingsValue*>(AParam2);
      TqorFarSettings* key = LiveKeys().find(hHandle);
      const wchar_t* name_pointer = nullptr;
      std::wstring name;
      if (!value || !key || !CopyPluginMemory(&name_pointer, &value->Value, sizeof(name_pointer)) ||
          !read_plugin_name(name_pointer, name))
        return 0;
      // Every sub-key hangs below the settings object itself, whatever root the record names.
      return reinterpret_cast<intptr_t>(key->GetSubKeyByName(name));
    }
    default:  // set, delete, open sub-key and every unknown command
      ShowHostWarning(L"FarApiSettingsControl");
      return 0;
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
