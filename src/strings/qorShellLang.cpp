#include "strings/qorShellLang.h"

#include <iterator>

#include "common/qorErrors.h"

namespace qor {

TqorShellLangSourceList* ShellLangSources = nullptr;

TqorShellLangSource::TqorShellLangSource(TqorShellLangSourceList& AList) { AList.FList.push_back(this); }

TqorShellLangSourceList::~TqorShellLangSourceList() {
  while (!FList.empty()) {
    TqorShellLangSource* last = FList.back();
    FList.pop_back();
    delete last;
  }
}

TqorShellLangSource* TqorShellLangSourceList::GetObj(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw EqorError(L"List index out of bounds (" + IntToTag(AIndex) + L")");
  return FList[AIndex];
}

void TqorShellLangSourceList::InitLang(TqorShellLanguage* ALang) {
  for (TqorShellLangSource* source : FList) source->FillLang(ALang);
}

namespace {

constexpr const wchar_t* kEnglish[] = {
    L"Information",
    L"Confirmation",
    L"Warning",
    L"Calculating...",
    L"Uploading...",
    L"Next volumn is required",
    L"You need to have the following volume to continue extraction:",
    L"New  folder",
    L"Enter new folder name:",
    L"Error %s: %s",
    L"No error description available",
};

constexpr const wchar_t* kRussian[] = {
    L"Информация",
    L"Подтверждение",
    L"Предупреждение",
    L"Оценка...",
    L"Отправка...",
    L"Требуется следующий том",
    L"Вы должны иметь следующий том для продолжения извлечения:",
    L"Новая папка",
    L"Введите имя новой папки:",
    L"Ошибка %s: %s",
    L"Отсутствует описание ошибки",
};

static_assert(sizeof(kEnglish) == sizeof(kRussian));

// Russian, Ukrainian and Belarusian users read the Russian texts.
bool reads_russian(LANGID ALangID) noexcept {
  const WORD primary = PRIMARYLANGID(ALangID);
  return primary == LANG_RUSSIAN || primary == LANG_UKRAINIAN || primary == LANG_BELARUSIAN;
}

}  // namespace

void TqorShellBaseLangSource::FillLang(TqorShellLanguage* ALang) {
  for (int i = 0; i < static_cast<int>(std::size(kEnglish)); ++i) ALang->Add(i, kEnglish[i]);
  if (reads_russian(ALang->LangID()))
    for (int i = 0; i < static_cast<int>(std::size(kRussian)); ++i) ALang->Add(i, kRussian[i]);
}

void ShellLangStartup() noexcept {
  try {
    ShellLangSources = new TqorShellLangSourceList;
    new TqorShellBaseLangSource(*ShellLangSources);
  } catch (...) {
  }
}

void ShellLangShutdown() noexcept {
  TqorShellLangSourceList* list = ShellLangSources;
  ShellLangSources = nullptr;
  delete list;
}

}  // namespace qor
