// System string source: string-table texts of Windows modules, read through a data-file mapping
// and cached per UI language.
#pragma once

#include <windows.h>

#include <string>

#include "strings/qorShellCommonLang.h"

namespace qor {

// A module named by file name (environment references allowed), loaded on first use. The handle
// belongs to the unit's module cache and is shared by every object naming the same module.
class TqorModule {
 public:
  explicit TqorModule(std::wstring AModuleName) : FModuleName(std::move(AModuleName)) {}
  virtual ~TqorModule() = default;

  void LoadModule();
  HMODULE Module() const noexcept { return FModule; }
  const std::wstring& ModuleName() const noexcept { return FModuleName; }

 protected:
  std::wstring FModuleName;
  HMODULE FModule = nullptr;
};

class TqorShellStrings : public TqorModule {
 public:
  using TqorModule::TqorModule;
  // The text of string id AID, "" when the module has none; raises when the module cannot load.
  std::wstring GetString(UINT AID);
  std::wstring GetStringEx(UINT AID, const std::wstring& ADefault);
};

class TqorUser32Strings : public TqorShellStrings {
 public:
  TqorUser32Strings() : TqorShellStrings(L"user32.dll") {}
};

// The cached loader: one data-file mapping per module name (names compare ignoring case).
HMODULE GetResourceModule(const std::wstring& AModuleName);
void FreeResourceModules() noexcept;

extern TqorShellLanguages* ShellStringsLanguages;

void ShellStringsStartup() noexcept;
void ShellStringsShutdown() noexcept;

}  // namespace qor
