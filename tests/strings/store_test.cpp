// Language string store, its lock, the language sources and the .lng line rules, as tables.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "services/qorFarLang.h"
#include "strings/qorShellCommonLang.h"
#include "strings/qorShellLang.h"

using namespace qor;

namespace {

// Runs ABody on a thread and reports whether it ended within the limit (a deadlock never does).
template <class F>
bool finishes(F ABody, int ASeconds = 60) {
  auto done = std::async(std::launch::async, ABody);
  return done.wait_for(std::chrono::seconds(ASeconds)) == std::future_status::ready;
}

}  // namespace

TEST(ShellLanguage, AbsentTagYieldsTheTagItself) {
  TqorShellLanguage lang(nullptr, 0x0409);
  EXPECT_EQ(lang.GetValue(L"missing"), L"missing");
  std::wstring value = L"stale";
  EXPECT_FALSE(lang.GetValueEx(L"missing", value));
  EXPECT_EQ(value, L"missing");
  EXPECT_EQ(lang.Find(L"missing"), nullptr);
}

TEST(ShellLanguage, AddReplacesInPlaceAndAppendsNewTags) {
  TqorShellLanguage lang(nullptr, 0x0409);
  lang.Add(L"a", L"1");
  lang.Add(L"b", L"2");
  const TqorShellTagValue* entry = lang.Find(L"a");
  lang.Add(L"a", L"one");
  EXPECT_EQ(lang.Count(), 2);
  EXPECT_EQ(lang.GetTagValue(0), entry) << "replacing keeps the entry and its position";
  EXPECT_EQ(lang.GetValue(L"a"), L"one");
  lang.Add(L"c", L"3");
  EXPECT_EQ(lang.Count(), 3);
  EXPECT_EQ(lang.GetTagValue(2)->Tag, L"c");
  EXPECT_THROW(lang.GetTagValue(3), std::exception);
}

TEST(ShellLanguage, EmptyTextCaseAndIntegerTags) {
  TqorShellLanguage lang(nullptr, 0x0409);
  lang.Add(L"empty", L"");
  std::wstring value = L"x";
  EXPECT_TRUE(lang.GetValueEx(L"empty", value));
  EXPECT_EQ(value, L"");
  lang.Add(L"Tag", L"upper");
  lang.Add(L"tag", L"lower");
  EXPECT_EQ(lang.GetValue(L"Tag"), L"upper");
  EXPECT_EQ(lang.GetValue(L"tag"), L"lower");
  lang.Add(7, L"seven");
  lang.Add(-12, L"minus");
  EXPECT_EQ(lang.GetValue(L"7"), L"seven");
  lang.Add(L"7", L"SEVEN");
  EXPECT_EQ(lang.GetValue(L"7"), L"SEVEN");
  EXPECT_EQ(lang.GetValue(L"-12"), L"minus");
  EXPECT_EQ(lang.Count(), 5);
}

TEST(ShellLanguage, AddIfAbsentNeverReplaces) {
  TqorShellLanguage lang(nullptr, 0x0409);
  EXPECT_TRUE(lang.AddIfAbsent(L"m", L""));
  EXPECT_FALSE(lang.AddIfAbsent(L"m", L"other"));
  EXPECT_EQ(lang.GetValue(L"m"), L"");
}

TEST(ShellLanguage, ManyTagsStayFindableThroughTheIndex) {
  TqorShellLanguage lang(nullptr, 0x0409);
  for (int i = 0; i < 5000; ++i) lang.Add(L"{GUID}," + std::to_wstring(i), L"text " + std::to_wstring(i));
  for (int i = 0; i < 5000; i += 7) ASSERT_EQ(lang.GetValue(L"{GUID}," + std::to_wstring(i)), L"text " + std::to_wstring(i));
  EXPECT_EQ(lang.Find(L"{GUID},5000"), nullptr);
}

TEST(ShellLanguages, TablesByLangId) {
  TqorShellLanguages store;
  EXPECT_EQ(store.Count(), 0);
  EXPECT_FALSE(store.HasLangList()) << "a store never asked has no list";
  TqorShellLanguage* german = store.LangByID(0x0407);
  TqorShellLanguage* swiss = store.LangByID(0x0807);
  EXPECT_NE(german, swiss) << "all 16 bits of the LANGID count";
  EXPECT_EQ(store.LangByID(0x0407), german);
  EXPECT_EQ(store.Count(), 2);
  EXPECT_EQ(store.GetLang_(0), german);
  EXPECT_EQ(store.GetLang_(1), swiss);
  EXPECT_THROW(store.GetLang_(2), std::exception);
  german->Add(L"k", L"Hallo");
  swiss->Add(L"k", L"Grüezi");
  EXPECT_EQ(store.LangByID(0x0407)->GetValue(L"k"), L"Hallo");
  EXPECT_EQ(store.LangByID(0x0807)->GetValue(L"k"), L"Grüezi");
  EXPECT_EQ(store.Lang(), store.LangByID(GetCurrentLangID()));
}

TEST(ShellLanguages, ConcurrentFirstRequestsShareOneTable) {
  TqorShellLangSourceList sources;
  new TqorShellBaseLangSource(sources);
  std::atomic<int> ready{0};
  TqorShellLanguage* seen[8] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < 8) std::this_thread::yield();
      seen[t] = sources.LangByID(0x0419);
    });
  for (auto& thread : threads) thread.join();
  for (auto* lang : seen) EXPECT_EQ(lang, seen[0]);
  EXPECT_EQ(static_cast<TqorShellLanguages&>(sources).Count(), 1);
  EXPECT_EQ(seen[0]->Count(), 11) << "the sources filled the table once";
}

TEST(ShellLangSources, BuiltInTextsByLanguage) {
  TqorShellLangSourceList sources;
  new TqorShellBaseLangSource(sources);
  EXPECT_EQ(sources.Count(), 1);
  const struct {
    LANGID id;
    const wchar_t* information;
    const wchar_t* no_description;
  } cases[] = {
      {0x0419, L"Информация", L"Отсутствует описание ошибки"},
      {0x0422, L"Информация", L"Отсутствует описание ошибки"},
      {0x0423, L"Информация", L"Отсутствует описание ошибки"},
      {0x0409, L"Information", L"No error description available"},
      {0x0809, L"Information", L"No error description available"},
      {0x0407, L"Information", L"No error description available"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    TqorShellLanguage* lang = sources.LangByID(c.id);
    EXPECT_EQ(lang->Count(), 11);
    EXPECT_EQ(lang->GetValue(L"0"), c.information);
    EXPECT_EQ(lang->GetValue(L"10"), c.no_description);
  }
  EXPECT_EQ(sources.LangByID(0x0409)->GetValue(L"7"), L"New  folder");
  EXPECT_EQ(sources.LangByID(0x0419)->GetValue(L"5"), L"Требуется следующий том");
}

TEST(ShellLockObject, NestingRules) {
  TqorShellLockObject lock;
  EXPECT_TRUE(finishes([&] {
    lock.BeginWrite();
    lock.BeginWrite();
    lock.BeginRead();
    lock.EndRead();
    lock.EndWrite();
    lock.EndWrite();
    lock.BeginRead();
    lock.BeginRead();
    lock.BeginWrite();  // promotion with nested read holds
    lock.EndWrite();
    lock.EndRead();
    lock.EndRead();
  }));
  // Everything was released: another thread gets the write lock at once.
  EXPECT_TRUE(finishes([&] {
    lock.BeginWrite();
    lock.EndWrite();
  }));
}

TEST(ShellLockObject, TwoReadersPromotingAtOnceDoNotDeadlock) {
  for (int round = 0; round < 50; ++round) {
    TqorShellLockObject lock;
    std::atomic<int> reading{0};
    std::atomic<int> undisturbed{0};
    auto promote = [&] {
      lock.BeginRead();
      ++reading;
      while (reading.load() < 2) std::this_thread::yield();  // both hold the read lock now
      if (lock.BeginWrite()) ++undisturbed;
      lock.EndWrite();
      lock.EndRead();
    };
    ASSERT_TRUE(finishes([&] {
      std::thread a(promote), b(promote);
      a.join();
      b.join();
    })) << "round " << round;
    EXPECT_EQ(undisturbed.load(), 1) << "the second promotion learns that a writer came first";
  }
}

TEST(ShellLanguage, TwoThreadsFindingTheIndexStaleAtOnce) {
  // A new table's index is stale: both first lookups promote to rebuild it.
  for (int round = 0; round < 200; ++round) {
    TqorShellLanguages store;
    TqorShellLanguage* lang = store.LangByID(0x0409);
    std::atomic<int> ready{0};
    std::wstring results[2];
    auto lookup = [&](int AIndex) {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      results[AIndex] = lang->GetValue(L"absent");
    };
    ASSERT_TRUE(finishes([&] {
      std::thread a(lookup, 0), b(lookup, 1);
      a.join();
      b.join();
    }));
    EXPECT_EQ(results[0], L"absent");
    EXPECT_EQ(results[1], L"absent");
  }
}

TEST(ShellLanguage, ReadersAndWritersTogether) {
  TqorShellLanguage lang(nullptr, 0x0409);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  ASSERT_TRUE(finishes([&] {
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
      threads.emplace_back([&, w] {
        for (int i = 0; i < 3000; ++i) lang.Add(L"w" + std::to_wstring(w) + L"," + std::to_wstring(i), std::to_wstring(i));
      });
    for (int r = 0; r < 4; ++r)
      threads.emplace_back([&] {
        while (!stop) {
          for (int i = 0; i < 3000; i += 97) {
            std::wstring value;
            const std::wstring tag = L"w0," + std::to_wstring(i);
            if (lang.GetValueEx(tag, value) && value != std::to_wstring(i)) ++wrong;
          }
        }
      });
    threads[0].join();
    threads[1].join();
    stop = true;
    for (size_t i = 2; i < threads.size(); ++i) threads[i].join();
  }));
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(lang.Count(), 6000);
}

// --- .lng line rules -------------------------------------------------------------------------

TEST(LngLines, MessageLines) {
  const struct {
    const wchar_t* line;
    bool message;
    const wchar_t* text;
  } cases[] = {
      {L"\"plain\"", true, L"plain"},
      {L"  \t\"padded\"  \t", true, L"padded"},
      {L"\"  inner blanks  \"", true, L"  inner blanks  "},
      {L"\"back\\\"slash\\\\\"", true, L"back\\\"slash\\\\"},
      {L"\"no closing", true, L"no closing"},
      {L"\"", true, L""},
      {L"\"\"", true, L""},
      {L"\"a\"b\"", true, L"a\"b"},
      {L"MName", false, L""},
      {L"// \"quoted\" comment", false, L""},
      {L"", false, L""},
      {L"   ", false, L""},
  };
  for (const auto& c : cases) {
    std::wstring text;
    EXPECT_EQ(ParseLngMessage(c.line, text), c.message) << c.line;
    if (c.message) {
      EXPECT_EQ(text, c.text) << c.line;
    }
  }
}

TEST(LngLines, LineBreaksAndMarks) {
  const struct {
    std::string bytes;
    std::vector<std::wstring> lines;
  } cases[] = {
      {"a\r\nb\nc\rd", {L"a", L"b", L"c", L"d"}},
      {"a\r\n", {L"a"}},
      {"a\r\n\r\nb", {L"a", L"", L"b"}},
      {"\n\n", {L"", L""}},
      {"\xEF\xBB\xBF" "x\xC3\xA4", {L"x\u00E4"}},
      {std::string("\xFF\xFE" "a\0\n\0b\0", 8), {L"a", L"b"}},
      {std::string("\xFE\xFF\0a\0\r\0\n\0b", 10), {L"a", L"b"}},
      {std::string("\xFF\xFE" "a\0b", 5), {L"a"}},  // half a character at the end
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeLngLines(c.bytes.data(), c.bytes.size()), c.lines);
    // The header alone: only the first line, whatever the encoding.
    const auto first = DecodeLngLines(c.bytes.data(), c.bytes.size(), 1);
    EXPECT_EQ(first, c.lines.empty() ? c.lines : std::vector<std::wstring>{c.lines[0]});
  }
}

TEST(LngLines, LanguageNamesAndGuidText) {
  EXPECT_EQ(GetLocaleLanguageName(0x0409), L"English");
  EXPECT_EQ(GetLocaleLanguageName(0x0407), L"German");
  EXPECT_EQ(GetLocaleLanguageName(0x0419), L"Russian");
  const GUID guid{0x0badc0de, 0x1234, 0x5678, {0x9a, 0xbc, 0xde, 0xf0, 0x12, 0x34, 0x56, 0x78}};
  EXPECT_EQ(GuidToText(guid), L"{0BADC0DE-1234-5678-9ABC-DEF012345678}");
}
