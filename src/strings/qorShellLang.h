// Language sources: a store whose new tables are filled at once by every registered source, and
// the built-in source with the library's English and Russian texts.
#pragma once

#include <vector>

#include "strings/qorShellCommonLang.h"

namespace qor {

class TqorShellLangSourceList;

class TqorShellLangSource {
 public:
  // Registers the source with AList, which owns it from then on (start-up only, no lock).
  explicit TqorShellLangSource(TqorShellLangSourceList& AList);
  virtual ~TqorShellLangSource() = default;
  TqorShellLangSource(const TqorShellLangSource&) = delete;
  TqorShellLangSource& operator=(const TqorShellLangSource&) = delete;

  virtual void FillLang(TqorShellLanguage* ALang) = 0;
};

class TqorShellLangSourceList : public TqorShellLanguages {
 public:
  TqorShellLangSourceList() = default;
  // Sources go first (last registered first), then the tables.
  ~TqorShellLangSourceList() override;

  TqorShellLangSource* GetObj(int AIndex) const;
  int Count() const noexcept { return static_cast<int>(FList.size()); }

 protected:
  void InitLang(TqorShellLanguage* ALang) override;

 private:
  friend class TqorShellLangSource;
  std::vector<TqorShellLangSource*> FList;  // owns the sources
};

class TqorShellBaseLangSource : public TqorShellLangSource {
 public:
  using TqorShellLangSource::TqorShellLangSource;
  void FillLang(TqorShellLanguage* ALang) override;
};

// Tags of the built-in texts.
enum : int {
  ShellLangInformation = 0, ShellLangConfirmation, ShellLangWarning, ShellLangCalculating,
  ShellLangUploading, ShellLangNextVolume, ShellLangNeedVolume, ShellLangNewFolder,
  ShellLangEnterFolderName, ShellLangErrorFormat, ShellLangNoErrorDescription,
};

extern TqorShellLangSourceList* ShellLangSources;

// Unit start-up: the source list with the built-in source; shut-down frees it.
void ShellLangStartup() noexcept;
void ShellLangShutdown() noexcept;

}  // namespace qor
