// Several archives listed on several threads at once while other threads ask about files, all
// starting before the plugin registry exists: every listing is complete and discovery runs once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "archive_util.h"

using namespace wxt;

TEST(Threads, ConcurrentListingsAndDetectionsWithALazyRegistry) {
  FileManager fm({{L"Fix", L"fixture_full.dll"}});
  constexpr int kListers = 4, kCheckers = 3, kRounds = 3;
  std::vector<std::wstring> archives;
  std::vector<std::vector<std::wstring>> expected(kListers);
  for (int a = 0; a < kListers; ++a) {
    std::string script = "WXFIX\n";
    for (int d = 0; d < 4; ++d) {
      const std::string dir = "t" + std::to_string(a) + "d" + std::to_string(d);
      script += "dir " + dir + "\n";
      expected[a].push_back(widen(dir));
      for (int f = 0; f < 5; ++f) {
        const std::string file = dir + "\\f" + std::to_string(f);
        script += "file " + file + " size=" + std::to_string(a * 1000 + d * 10 + f) + "\n";
        expected[a].push_back(widen(file));
      }
    }
    archives.push_back(fm.WriteArchive(L"t" + std::to_wstring(a) + L".fix", script));
  }
  const std::wstring foreign = fm.WriteArchive(L"foreign.bin", "not an archive");

  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> failures{0};
  auto wait_start = [&] {
    ++ready;
    while (!go) std::this_thread::yield();
  };
  std::vector<std::thread> threads;
  for (int a = 0; a < kListers; ++a) {
    threads.emplace_back([&, a] {
      wait_start();
      for (int round = 0; round < kRounds; ++round) {
        int open_result = -1, last = -1;
        const auto entries = ListArchive(fm, archives[a], &open_result, &last);
        std::vector<std::wstring> names;
        bool sizes_ok = true;
        for (const auto& e : entries) {
          names.push_back(e.name);
          if (!(e.attr & FILE_ATTRIBUTE_DIRECTORY)) {
            const std::wstring n = e.name;
            const unsigned long long want = a * 1000 + (n[3] - L'0') * 10 + (n.back() - L'0');
            sizes_ok = sizes_ok && e.size == want;
          }
        }
        if (open_result != 0 || last != wcx::E_END_ARCHIVE || names != expected[a] || !sizes_ok) ++failures;
      }
    });
  }
  for (int c = 0; c < kCheckers; ++c) {
    threads.emplace_back([&, c] {
      wait_start();
      for (int i = 0; i < 20; ++i) {
        if (fm.CanYouHandleThisFileW(archives[(c + i) % kListers].c_str()) != -1) ++failures;
        if (fm.CanYouHandleThisFileW(foreign.c_str()) != 0) ++failures;
      }
    });
  }
  while (ready < kListers + kCheckers) std::this_thread::yield();
  // Nothing has discovered the plugins yet: the threads race to create the registry.
  EXPECT_TRUE(fm.Log(L"Fix", L"fixture_full.dll").empty());
  go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  fm.Unload();
  const auto log = fm.Log(L"Fix", L"fixture_full.dll");
  EXPECT_EQ(count_prefix(log, "GetGlobalInfoW"), 1);
  EXPECT_EQ(count_prefix(log, "SetStartupInfoW"), 1);
  EXPECT_EQ(count_prefix(log, "ClosePanelW"), kListers * kRounds);
  EXPECT_EQ(count_prefix(log, "ExitFARW"), 1);
}
