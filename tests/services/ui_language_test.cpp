// File choice by the user-interface language. Wine takes the UI language from LC_ALL at process
// start, so CTest runs this program once per language, each time with one test selected.
#include <gtest/gtest.h>

#include "services_support.h"

using namespace wxt;
using namespace svc;

namespace {

std::vector<PluginSpec> plugins() {
  return {
      services_plugin(L"ende", 1,
                      {{L"en.lng", ".Language=English,English\r\n\"Hello\"\r\n\"Yes\"\r\n"},
                       {L"de.lng", utf8_bom(".Language=German,Deutsch\r\n\"Grüß dich\"\r\n\"Ja\"\r\n")}}),
      // No English file: the first file with a language stands in.
      services_plugin(L"dede", 2, {{L"de.lng", ".Language=German,Deutsch\r\n\"Hallo\"\r\n"}}),
      // A header name in lower case still names the language.
      services_plugin(L"lower", 3,
                      {{L"a.lng", ".Language=english,English\r\n\"Hello\"\r\n"},
                       {L"b.lng", ".Language=german,Deutsch\r\n\"Hallo klein\"\r\n"},
                       {L"c.lng", utf8_bom(".Language=russian,Russian\r\n\"Привет\"\r\n")}}),
      services_plugin(L"ru", 4,
                      {{L"en.lng", ".Language=English,English\r\n\"Hello\"\r\n"},
                       {L"ru.lng", utf8_bom(".Language=Russian,Russian (Русский)\r\n\"Привет\"\r\n\"Да\"\r\n")},
                       {L"de.lng", ".Language=German,Deutsch\r\n\"Hallo\"\r\n"}}),
  };
}

// The language must really have taken, in this process and in the plugin's view.
void expect_ui_language(FileManager& AFm, LANGID ALangID) {
  ASSERT_EQ(GetThreadUILanguage(), ALangID) << "LC_ALL did not set the UI language";
  char expected[16];
  std::snprintf(expected, sizeof(expected), "0x%04x", ALangID);
  const auto log = run_script(AFm, L"ende", "uilang\n");
  ASSERT_EQ(line_with(log, "uilang thread=").substr(0, 6), expected);
}

std::vector<std::string> first_two(FileManager& AFm, const std::wstring& AFolder) {
  const auto log = run_script(AFm, AFolder, "msg 0 1\n");
  return {msg(log, 0), msg(log, 1)};
}

}  // namespace

TEST(UiLanguage, German) {
  FileManager fm(plugins());
  expect_ui_language(fm, 0x0407);
  EXPECT_EQ(first_two(fm, L"ende"), (std::vector<std::string>{"Grüß dich", "Ja"}));
  EXPECT_EQ(first_two(fm, L"dede"), (std::vector<std::string>{"Hallo", ""}));
  EXPECT_EQ(first_two(fm, L"lower"), (std::vector<std::string>{"Hallo klein", ""}));
  EXPECT_EQ(first_two(fm, L"ru"), (std::vector<std::string>{"Hallo", ""}));
}

TEST(UiLanguage, French) {
  FileManager fm(plugins());
  expect_ui_language(fm, 0x040C);
  EXPECT_EQ(first_two(fm, L"ende"), (std::vector<std::string>{"Hello", "Yes"}));
  EXPECT_EQ(first_two(fm, L"dede"), (std::vector<std::string>{"Hallo", ""}));
  EXPECT_EQ(first_two(fm, L"lower"), (std::vector<std::string>{"Hello", ""}));
  EXPECT_EQ(first_two(fm, L"ru"), (std::vector<std::string>{"Hello", ""}));
}

TEST(UiLanguage, Russian) {
  FileManager fm(plugins());
  expect_ui_language(fm, 0x0419);
  EXPECT_EQ(first_two(fm, L"ende"), (std::vector<std::string>{"Hello", "Yes"}));
  EXPECT_EQ(first_two(fm, L"dede"), (std::vector<std::string>{"Hallo", ""}));
  EXPECT_EQ(first_two(fm, L"lower"), (std::vector<std::string>{"Привет", ""}));
  EXPECT_EQ(first_two(fm, L"ru"), (std::vector<std::string>{"Привет", "Да"}));
}

TEST(UiLanguage, RussianAnsiFileUsesTheRussianCodePage) {
  ASSERT_EQ(GetACP(), 1251u) << "LC_ALL did not set the ANSI code page";
  // "Привет" in Windows-1251, without any byte-order mark.
  FileManager fm({services_plugin(L"cp", 5, {{L"ru.lng", ".Language=Russian,Russian\r\n\"\xCF\xF0\xE8\xE2\xE5\xF2\"\r\n"}})});
  EXPECT_EQ(msg(run_script(fm, L"cp", "msg 0\n"), 0), "Привет");
}
