// The message catalogue as a plugin sees it through GetMsg of the built module (English UI).
#include <gtest/gtest.h>

#include "services_support.h"
#include "common/qorTarget.h"

using namespace wxt;
using namespace svc;

namespace {

const std::string kEnglishHeader = ".Language=English,English\r\n";

std::vector<std::string> all_msgs(const std::vector<std::string>& ALog, int ANumber) {
  std::vector<std::string> texts;
  const std::string prefix = "msg " + std::to_string(ANumber) + "=";
  for (const auto& line : ALog)
    if (line.compare(0, prefix.size(), prefix) == 0) texts.push_back(line.substr(prefix.size()));
  return texts;
}

}  // namespace

TEST(Catalogue, RunsUnderAnEnglishUserInterface) {
  // The expectations below rely on the UI language CTest gives this process.
  EXPECT_EQ(PRIMARYLANGID(GetThreadUILanguage()), LANG_ENGLISH);
  FileManager fm({services_plugin(L"en", 1, {{L"en.lng", kEnglishHeader + "\"Hello\"\r\n"}})});
  const auto log = run_script(fm, L"en", "uilang\nmsg 0\n");
  EXPECT_EQ(line_with(log, "uilang thread="), "0x0409 user=0x0409 langid=0x0409");
  EXPECT_EQ(msg(log, 0), "Hello");
}

TEST(Catalogue, EveryEncodingYieldsTheSameTexts) {
  const std::string body = kEnglishHeader + "\"Grüße\"\r\n\"Привет, мир\"\r\n\"日本語 ✓\"\r\n";
  struct Case {
    const wchar_t* folder;
    std::string bytes;
  } cases[] = {
      {L"utf8bom", utf8_bom(body)},
      {L"utf16le", utf16(body, false)},
      {L"utf16be", utf16(body, true)},
  };
  std::vector<PluginSpec> plugins;
  int guid = 10;
  for (const auto& c : cases) plugins.push_back(services_plugin(c.folder, guid++, {{L"texts.lng", c.bytes}}));
  FileManager fm(plugins);
  BoxWatcher boxes;
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.folder));
    const auto log = run_script(fm, c.folder, "msg 0 1 2 3\n");
    EXPECT_EQ(msg(log, 0), "Grüße");
    EXPECT_EQ(msg(log, 1), "Привет, мир");
    EXPECT_EQ(msg(log, 2), "日本語 ✓");
    EXPECT_EQ(msg(log, 3), "");
  }
  EXPECT_TRUE(boxes.Texts().empty()) << "GetMsg shows no warning";
}

TEST(Catalogue, FileWithoutMarkIsReadInTheAnsiCodePage) {
  const std::string utf8 = kEnglishHeader + "\"Grüße\"\r\n";
  const std::string native = kEnglishHeader + "\"" + ansi(L"Grüße") + "\"\r\n";
  FileManager fm({services_plugin(L"plain", 20, {{L"a.lng", utf8}}),
                  services_plugin(L"native", 21, {{L"a.lng", native}})});
  // UTF-8 bytes without the mark are taken as ANSI text, whatever they were meant to be.
  EXPECT_EQ(msg(run_script(fm, L"plain", "msg 0\n"), 0), ansi_reading("Grüße"));
  EXPECT_NE(ansi_reading("Grüße"), "Grüße");
  EXPECT_EQ(msg(run_script(fm, L"native", "msg 0\n"), 0), "Grüße");
}

TEST(Catalogue, NumberingSkipsEverythingButQuotedLines) {
  const std::string file = kEnglishHeader +
                           "// a comment line\r\n"
                           "\r\n"
                           "MFirst\r\n"
                           "\"first\"\r\n"
                           "   \t\"  padded text  \"  \t\r\n"
                           "MSecond\n"
                           "\"back\\\"slash\\\\\"\n"
                           "\"no closing quote\r"
                           "\"\r\n"
                           "\"\"\r\n"
                           "   \r\n"
                           "; another comment\r\n"
                           "\"last\"";
  FileManager fm({services_plugin(L"num", 30, {{L"num.lng", file}})});
  const auto log = run_script(fm, L"num", "msg 0 1 2 3 4 5 6 7 -1\n");
  EXPECT_EQ(msg(log, 0), "first");
  EXPECT_EQ(msg(log, 1), "  padded text  ");
  EXPECT_EQ(msg(log, 2), "back\\\"slash\\\\");
  EXPECT_EQ(msg(log, 3), "no closing quote");
  EXPECT_EQ(msg(log, 4), "") << "a lone quote is an empty message that takes its number";
  EXPECT_EQ(msg(log, 5), "");
  EXPECT_EQ(msg(log, 6), "last");
  EXPECT_EQ(msg(log, 7), "");
  EXPECT_EQ(msg(log, -1), "");
}

TEST(Catalogue, MissingNumberIsEmptyAlsoOnTheLoadingRequest) {
  FileManager fm({services_plugin(L"five", 40, {{L"five.lng", kEnglishHeader + "\"0\"\n\"1\"\n\"2\"\n\"3\"\n\"4\"\n"}})});
  // Message 5 is the request that loads the file.
  const auto log = run_script(fm, L"five", "msg 5\nmsg 5\nmsg 4\nmsg 0\n");
  EXPECT_EQ(all_msgs(log, 5), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(msg(log, 4), "4");
  EXPECT_EQ(msg(log, 0), "0");
}

TEST(Catalogue, UnknownGuidYieldsItsTextOnceThenEmpty) {
  FileManager fm({services_plugin(L"g", 50, {{L"g.lng", kEnglishHeader + "\"own\"\n"}})});
  const auto log = run_script(fm, L"g",
                              "msgguid {0badc0de-1234-5678-9abc-def012345678} 3\n"
                              "msgguid {0badc0de-1234-5678-9abc-def012345678} 3\n"
                              "msgguid {0badc0de-1234-5678-9abc-def012345678} 0\n"
                              "msgnull 0\n"
                              "msg 0\n");
  std::vector<std::string> guid_answers;
  for (const auto& line : log)
    if (line.rfind("msgguid ", 0) == 0) guid_answers.push_back(line);
  EXPECT_EQ(guid_answers, (std::vector<std::string>{"msgguid 3={0BADC0DE-1234-5678-9ABC-DEF012345678}",
                                                    "msgguid 3=", "msgguid 0="}));
  EXPECT_EQ(line_with(log, "msgnull="), "[]");
  EXPECT_EQ(msg(log, 0), "own");
}

TEST(Catalogue, FileChoiceOnAnEnglishInterface) {
  FileManager fm({
      services_plugin(L"none", 60, {}),
      services_plugin(L"russian", 61, {{L"ru.lng", utf8_bom(".Language=Russian,Russian (Русский)\r\n\"Привет\"\r\n")}}),
      // A lower-case keyword gives the first file no language: the Russian one is the only candidate.
      services_plugin(L"keyword", 62,
                      {{L"a.lng", ".language=English,English\r\n\"wrong\"\r\n"},
                       {L"b.lng", utf8_bom(".Language=Russian,Russian\r\n\"Привет\"\r\n")}}),
      services_plugin(L"english", 63,
                      {{L"de.lng", ".Language=German,Deutsch\r\n\"Hallo\"\r\n"},
                       {L"en.lng", ".Language= English ,English\r\n\"Hello\"\r\n"},
                       {L"sub.lng", ""}}),
  });
  CreateDirectoryW(fm.PluginFile(L"english", L"folder.lng").c_str(), nullptr);
  EXPECT_EQ(all_msgs(run_script(fm, L"none", "msg 0\nmsg 0\n"), 0), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(msg(run_script(fm, L"russian", "msg 0\n"), 0), "Привет");
  EXPECT_EQ(msg(run_script(fm, L"keyword", "msg 0\n"), 0), "Привет");
  EXPECT_EQ(msg(run_script(fm, L"english", "msg 0\n"), 0), "Hello");
}

TEST(Catalogue, TextsStayValidForTheLifeOfTheModule) {
  std::string file = kEnglishHeader;
  for (int i = 0; i < 300; ++i) file += "\"text number " + std::to_string(i) + "\"\r\n";
  FileManager fm({services_plugin(L"many", 70, {{L"many.lng", file}}),
                  services_plugin(L"other", 71, {{L"other.lng", file}})});
  // Pointers kept in one call of the plugin are read again in a later one, after other
  // plugins have loaded their catalogues into the same table.
  run_script(fm, L"many", "keep 0\nkeep 299\n");
  run_script(fm, L"other", "msg 1\n");
  const auto log = run_script(fm, L"many", "keep 150\nmsg 7\nrecheck\n");
  EXPECT_EQ(line_with(log, "kept 0="), "text number 0");
  EXPECT_EQ(line_with(log, "kept 150="), "text number 150");
  EXPECT_EQ(line_with(log, "kept 299="), "text number 299");
}

TEST(Catalogue, TextsOutliveThePluginsAtUnload) {
  FileManager fm({services_plugin(L"exit", 72, {{L"exit.lng", kEnglishHeader + "\"first\"\n\"second\"\n"}})});
  // Requests from other threads too: nothing of them may keep the module loaded.
  run_script(fm, L"exit", "keep 0\nkeep 1\nthreads 4 0 1\n");
  fm.ClearLog(L"exit", L"services_plugin.dll");
  fm.Unload();
  EXPECT_EQ(GetModuleHandleW((fm.Root() + qor::kModuleFileName).c_str()), nullptr) << "the module really unloaded";
  EXPECT_EQ(fm.Log(L"exit", L"services_plugin.dll"),
            (std::vector<std::string>{"exit kept 0=first", "exit msg 0=first same", "exit kept 1=second",
                                      "exit msg 1=second same"}));
}

TEST(Catalogue, MessagesWhileThePluginStarts) {
  PluginSpec early = services_plugin(L"early", 73, {{L"early.lng", kEnglishHeader + "\"ready\"\n"}});
  early.extra_files[L"services.cfg"] += "startmsg=1\n";
  FileManager fm({early, services_plugin(L"later", 74, {})});
  // The registry is created by the first request; the plugin asks for its text from inside it.
  const auto log = run_script(fm, L"later", "msg 0\n");
  EXPECT_EQ(fm.Log(L"early", L"services_plugin.dll"), (std::vector<std::string>{"startup msg 0=ready"}));
  EXPECT_EQ(msg(log, 0), "") << "a plugin without .lng files";
}

TEST(Catalogue, EightThreadsAskForTheSameNewCatalogueAtOnce) {
  std::string file = kEnglishHeader;
  for (int i = 0; i < 400; ++i) file += "\"message " + std::to_string(i) + "\"\n";
  std::vector<PluginSpec> plugins;
  for (int p = 0; p < 5; ++p)
    plugins.push_back(services_plugin(L"mt" + std::to_wstring(p), 80 + p, {{L"mt.lng", file}}));
  FileManager fm(plugins);
  for (int p = 0; p < 5; ++p) {
    // Every round starts on a catalogue that has not been requested yet.
    const auto log = run_script(fm, L"mt" + std::to_wstring(p), "threads 8 0 399\nmsg 399\n");
    EXPECT_EQ(line_with(log, "threads "), "asked=3200 stable=3200 agree=3200 empty=0") << "round " << p;
    EXPECT_EQ(msg(log, 399), "message 399");
  }
}

// --- damaged files ---------------------------------------------------------------------------

TEST(Catalogue, DamagedFilesYieldTheMessagesBeforeTheDamage) {
  const std::string good = kEnglishHeader + "\"one\"\r\n\"two\"\r\n\"three\"\r\n";
  std::string le = utf16(good, false);
  std::string be = utf16(good, true);
  std::string long_line = kEnglishHeader + "\"first\"\r\n\"" + std::string(10u << 20, 'x') + "\"\r\n\"after\"\r\n";
  struct Case {
    const wchar_t* folder;
    std::string bytes;
    std::vector<std::string> expected;  // messages 0..n-1, then "" for n
  } cases[] = {
      // Cut inside the third message, with an odd number of body bytes.
      {L"le_cut", le.substr(0, le.size() - 7), {"one", "two", "thre"}},
      {L"be_odd", be + "\x00", {"one", "two", "three"}},
      {L"le_odd", le.substr(0, le.size() - 1), {"one", "two", "three"}},
      {L"utf8_cut", utf8_bom(kEnglishHeader + "\"Grüße\"\r\n\"Gr\xC3"), {"Grüße", "Gr\xEF\xBF\xBD"}},
      {L"utf8_bad",
       utf8_bom(kEnglishHeader + "\"before\"\r\n\"in \xFF the middle\"\r\n\"after\"\r\n"),
       {"before", "in \xEF\xBF\xBD the middle", "after"}},
      {L"no_newline", ".Language=English,English", {}},
      {L"one_line_cr", ".Language=English,English\r\"a\"\r\"b\"", {"a", "b"}},
      {L"only_mark", "\xEF\xBB\xBF", {}},
      {L"empty", "", {}},
      {L"nul_inside", kEnglishHeader + std::string("\"a\0b\"\r\n\"c\"\r\n", 12), {"a", "c"}},
      // Headers longer than the part read first for the language.
      {L"long_header", ".Language=English," + std::string(100000, 'x') + "\r\n\"m\"\r\n", {"m"}},
      {L"long_blanks", utf16(".Language=English" + std::string(100000, ' ') + "\n\"m\"", true), {"m"}},
  };
  std::vector<PluginSpec> plugins;
  int guid = 100;
  for (const auto& c : cases) plugins.push_back(services_plugin(c.folder, guid++, {{L"x.lng", c.bytes}}));
  plugins.push_back(services_plugin(L"long_line", guid++, {{L"x.lng", long_line}}));
  FileManager fm(plugins);
  for (const auto& c : cases) {
    SCOPED_TRACE(narrow(c.folder));
    std::string script = "msg";
    for (size_t i = 0; i <= c.expected.size(); ++i) script += " " + std::to_string(i);
    const auto log = run_script(fm, c.folder, script + "\n");
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(msg(log, (int)i), c.expected[i]) << i;
    EXPECT_EQ(msg(log, (int)c.expected.size()), "");
  }
  const auto log = run_script(fm, L"long_line", "msg 0\nmsglen 1\nmsg 2\nmsg 3\n");
  EXPECT_EQ(msg(log, 0), "first");
  EXPECT_EQ(line_with(log, "msglen 1="), std::to_string(10u << 20) + " x x");
  EXPECT_EQ(msg(log, 2), "after");
  EXPECT_EQ(msg(log, 3), "");
}

TEST(Catalogue, FileOpenForWritingElsewhereCountsAsUnreadable) {
  FileManager fm({services_plugin(L"locked", 150,
                                  {{L"en.lng", kEnglishHeader + "\"Hello\"\r\n"},
                                   {L"de.lng", ".Language=German,Deutsch\r\n\"Hallo\"\r\n"}})});
  // A writer that lets others read and write: the catalogue's reader allows no writer, so it fails.
  HANDLE writer = CreateFileW(fm.PluginFile(L"locked", L"en.lng").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const auto log = run_script(fm, L"locked", "msg 0\n");
  CloseHandle(writer);
  EXPECT_EQ(msg(log, 0), "Hallo") << "the English file is skipped, the German one stands in";
}
