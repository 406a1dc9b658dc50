// ProcessName's compiled-list cache at unit level: the match path of a repeated list allocates
// nothing, and many lists from many threads (more than the cache holds) keep matching correctly.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "allocation_probe.h"
#include "services/qorFarStandardW.h"

using namespace qor;

TEST(MaskCache, RepeatedListsMatchWithoutAllocating) {
  const wchar_t* list = L"*.zip,*.[7r]ar,*.t[agx]z|x*";
  wchar_t hit[] = L"dir\\archive.tgz";
  wchar_t miss[] = L"dir\\xarchive.tgz";
  // The first call compiles the list and fills the upper-case table.
  ASSERT_EQ(FarStdProcessName(list, hit, 0, PN_CMPNAMELIST | PN_SKIPPATH), 1u);
  const long before = wxt::AllocationCount();
  size_t matched = 0;
  for (int i = 0; i < 1000; ++i) {
    matched += FarStdProcessName(list, hit, 0, PN_CMPNAMELIST | PN_SKIPPATH);
    matched += FarStdProcessName(list, miss, 0, PN_CMPNAMELIST | PN_SKIPPATH);
    matched += FarStdProcessName(L"*.t[agx]z", hit, 0, PN_CMPNAME | PN_SKIPPATH);
  }
  EXPECT_EQ(wxt::AllocationCount() - before, 0);
  EXPECT_EQ(matched, 2000u);
}

TEST(MaskCache, ManyListsFromManyThreads) {
  constexpr int kLists = 20;  // more than the cache keeps: entries are replaced while in use
  std::vector<std::wstring> lists, names;
  for (int i = 0; i < kLists; ++i) {
    lists.push_back(L"*.e" + std::to_wstring(i) + L",<temp>|z*");
    names.push_back(L"file.E" + std::to_wstring(i));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int k = 0; k < 3000; ++k) {
        const int i = (k * 7 + t) % kLists;
        const int other = (i + 1) % kLists;
        if (FarStdProcessName(lists[i].c_str(), const_cast<wchar_t*>(names[i].c_str()), 0, PN_CMPNAMELIST) != 1)
          ++wrong;
        if (FarStdProcessName(lists[i].c_str(), const_cast<wchar_t*>(names[other].c_str()), 0, PN_CMPNAMELIST) != 0)
          ++wrong;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}
