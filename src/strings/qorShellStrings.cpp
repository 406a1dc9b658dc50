#include "strings/qorShellStrings.h"

#include <memory>
#include <utility>
#include <vector>

#include "common/qorErrors.h"
#include "common/qorHandles.h"
#include "common/qorLocks.h"

namespace qor {

TqorShellLanguages* ShellStringsLanguages = nullptr;

namespace {

struct loaded_module {
  std::wstring Name;  // as the caller wrote it, unexpanded
  unique_module Module;
};

critical_section* GModulesLock = nullptr;
std::vector<loaded_module>* GLoadedModules = nullptr;

bool same_module_name(const std::wstring& A, const std::wstring& B) noexcept {
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.c_str(), static_cast<int>(A.size()),
                          B.c_str(), static_cast<int>(B.size())) == CSTR_EQUAL;
}

std::wstring expand_environment(const std::wstring& AText, bool& AOk) {
  AOk = false;
  const DWORD size = ::ExpandEnvironmentStringsW(AText.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::wstring expanded(size, L'\0');
  const DWORD written = ::ExpandEnvironmentStringsW(AText.c_str(), expanded.data(), size);
  if (written == 0 || written > size) return {};
  expanded.resize(written - 1);
  AOk = true;
  return expanded;
}

}  // namespace

HMODULE GetResourceModule(const std::wstring& AModuleName) {
  if (!GModulesLock) throw EqorError(L"String source not started");
  lock_guard<critical_section> guard(*GModulesLock);
  if (!GLoadedModules) GLoadedModules = new std::vector<loaded_module>;
  for (const loaded_module& m : *GLoadedModules)
    if (same_module_name(m.Name, AModuleName)) return m.Module.get();
  bool expanded_ok = false;
  const std::wstring expanded = expand_environment(AModuleName, expanded_ok);
  if (!expanded_ok) return nullptr;
  // Mapped for its resources only: none of the module's code runs.
  unique_module module(::LoadLibraryExW(expanded.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (!module) RaiseLastOSError();
  HMODULE handle = module.get();
  GLoadedModules->push_back({AModuleName, std::move(module)});
  return handle;
}

void FreeResourceModules() noexcept {
  if (!GModulesLock) return;
  lock_guard<critical_section> guard(*GModulesLock);
  if (GLoadedModules) GLoadedModules->clear();
}

void TqorModule::LoadModule() {
  if (!FModule) FModule = GetResourceModule(FModuleName);
}

std::wstring TqorShellStrings::GetString(UINT AID) {
  if (!ShellStringsLanguages) throw EqorError(L"String source not started");
  TqorShellLanguage* lang = ShellStringsLanguages->Lang();
  const std::wstring tag = FModuleName + L",StringID" + std::to_wstring(AID);
  std::wstring text;
  if (lang->GetValueEx(tag, text)) return text;
  LoadModule();
  // A null handle would make LoadStringW read the process's own resources.
  if (!FModule) throw EqorError(L"Cannot load module " + FModuleName);
  // LoadStringW cuts a text silently: a result that fills the buffer may have been cut, so
  // the buffer grows until the text fits.
  int size = 256;
  int length = 0;
  for (;;) {
    text.assign(static_cast<size_t>(size) + 1, L'\0');
    length = ::LoadStringW(FModule, AID, text.data(), size + 1);
    if (length < size) break;
    if (size > (1 << 20)) break;  // string resources hold at most 65535 characters
    size *= 2;
  }
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  lang->Add(tag, text);
  return text;
}

std::wstring TqorShellStrings::GetStringEx(UINT AID, const std::wstring& ADefault) {
  std::wstring text = GetString(AID);
  return text.empty() ? ADefault : text;
}

void ShellStringsStartup() noexcept {
  try {
    GModulesLock = new critical_section;
    GLoadedModules = nullptr;
    ShellStringsLanguages = new TqorShellLanguages;
  } catch (...) {
  }
}

void ShellStringsShutdown() noexcept {
  FreeResourceModules();
  TqorShellLanguages* store = ShellStringsLanguages;
  ShellStringsLanguages = nullptr;
  delete store;
  delete GLoadedModules;
  GLoadedModules = nullptr;
  critical_section* lock = GModulesLock;
  GModulesLock = nullptr;
  delete lock;
}

}  // namespace qor
