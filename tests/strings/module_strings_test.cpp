// System string source over a module built with string tables of several lengths.
#include <gtest/gtest.h>

#include <cwctype>

#include "common/qorErrors.h"
#include "strings/qorShellStrings.h"
#include "wexlor_harness.h"

using namespace qor;

namespace {

std::wstring digits(size_t ALength) {
  std::wstring text;
  for (size_t i = 0; i < ALength; ++i) text += static_cast<wchar_t>(L'0' + i % 10);
  return text;
}

class ModuleStrings : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ShellStringsStartup(); }
  static void TearDownTestSuite() { ShellStringsShutdown(); }
  std::wstring module_file() const { return wxt::exe_folder() + L"strings_resource.dll"; }
};

}  // namespace

TEST_F(ModuleStrings, TextsOfEveryLengthAreReadWhole) {
  TqorShellStrings strings(module_file());
  EXPECT_EQ(strings.GetString(100), L"Short text");
  for (size_t length : {255u, 256u, 257u, 300u, 1000u, 5000u}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(strings.GetString(static_cast<UINT>(1000 + length)), digits(length));
  }
  EXPECT_EQ(strings.GetString(999), L"");
  EXPECT_EQ(strings.GetStringEx(999, L"fallback"), L"fallback");
  EXPECT_EQ(strings.GetStringEx(100, L"fallback"), L"Short text");
  EXPECT_EQ(GetEnvironmentVariableW(L"WEXLOR_RESOURCE_CODE_RAN", nullptr, 0), 0u) << "mapped as data only";
}

TEST_F(ModuleStrings, EachTextIsReadOncePerLanguage) {
  TqorShellStrings strings(module_file());
  EXPECT_EQ(strings.GetString(1300), digits(300));
  // The cache answers from now on: a changed cache entry shows, the module is not read again.
  const std::wstring tag = module_file() + L",StringID1300";
  ShellStringsLanguages->Lang()->Add(tag, L"from the cache");
  EXPECT_EQ(strings.GetString(1300), L"from the cache");
  // An id the module lacks is cached as "" as well.
  EXPECT_EQ(strings.GetString(4242), L"");
  std::wstring cached;
  EXPECT_TRUE(ShellStringsLanguages->Lang()->GetValueEx(module_file() + L",StringID4242", cached));
  EXPECT_EQ(cached, L"");
}

TEST_F(ModuleStrings, NamesDifferingInCaseShareOneHandle) {
  std::wstring upper = module_file();
  for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(c));
  TqorShellStrings a(module_file()), b(upper);
  a.LoadModule();
  b.LoadModule();
  ASSERT_NE(a.Module(), nullptr);
  EXPECT_EQ(a.Module(), b.Module());
  EXPECT_EQ(GetResourceModule(module_file()), a.Module());
}

TEST_F(ModuleStrings, EnvironmentReferencesAreExpanded) {
  const std::wstring folder = wxt::exe_folder();
  SetEnvironmentVariableW(L"WEXLOR_STRINGS_DIR", folder.c_str());
  TqorShellStrings strings(L"%WEXLOR_STRINGS_DIR%strings_resource.dll");
  EXPECT_EQ(strings.GetString(100), L"Short text");
}

TEST_F(ModuleStrings, MissingModuleRaisesAndCachesNothing) {
  TqorShellStrings strings(wxt::exe_folder() + L"no_such_module.dll");
  const int before = ShellStringsLanguages->Lang()->Count();
  EXPECT_THROW(strings.GetString(100), EqorError);
  EXPECT_EQ(ShellStringsLanguages->Lang()->Count(), before);
}
