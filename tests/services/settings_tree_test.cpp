// The settings key tree as a table of operations, linked directly.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "services/qorFarSettingsW.h"

using namespace qor;

TEST(SettingsTree, FindOrCreateIgnoresCaseAndKeepsOrder) {
  TqorFarSettings root(0, GUID{});
  EXPECT_EQ(root.SubKeyCount(), 0);
  EXPECT_EQ(root.ValueCount(), 0);
  TqorFarSettings* alpha = root.GetSubKeyByName(L"Alpha");
  TqorFarSettings* beta = root.GetSubKeyByName(L"beta");
  EXPECT_EQ(root.GetSubKeyByName(L"ALPHA"), alpha);
  EXPECT_EQ(root.GetSubKeyByName(L"Beta"), beta);
  EXPECT_EQ(root.SubKeyCount(), 2);
  EXPECT_EQ(root.GetSubKey(0), alpha);
  EXPECT_EQ(root.GetSubKey(1), beta);
  EXPECT_EQ(alpha->Owner(), &root);
  EXPECT_THROW(root.GetSubKey(2), std::exception);

  TqorFarSettingValue* value = alpha->GetValueByName(L"Size");
  EXPECT_EQ(alpha->GetValueByName(L"SIZE"), value);
  alpha->GetValueByName(L"Other");
  EXPECT_EQ(alpha->ValueCount(), 2);
  delete value;  // a value leaves its key's list when destroyed
  EXPECT_EQ(alpha->ValueCount(), 1);
  EXPECT_EQ(alpha->GetValue(0)->Name(), L"Other");

  delete alpha;  // a key leaves its parent's list, with its own values
  EXPECT_EQ(root.SubKeyCount(), 1);
  EXPECT_EQ(root.GetSubKey(0), beta);
}

TEST(SettingsTree, FreeingTheSettingsObjectFreesEveryKey) {
  TFarSettingsCreate create{};
  create.StructSize = sizeof(create);
  const intptr_t root = FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, 0, &create);
  ASSERT_NE(root, 0);
  EXPECT_EQ(reinterpret_cast<intptr_t>(create.Handle), root);

  TFarSettingsValue sub{};
  sub.StructSize = sizeof(sub);
  sub.Value = L"Child";
  const intptr_t child = FarApiSettingsControl(create.Handle, SCTL_CREATESUBKEY, 0, &sub);
  ASSERT_NE(child, 0);
  // A key id used as the handle makes a grandchild below that key.
  sub.Value = L"Grandchild";
  const intptr_t grandchild = FarApiSettingsControl(reinterpret_cast<HANDLE>(child), SCTL_CREATESUBKEY, 0, &sub);
  ASSERT_NE(grandchild, 0);
  EXPECT_EQ(reinterpret_cast<TqorFarSettings*>(grandchild)->Owner(), reinterpret_cast<TqorFarSettings*>(child));

  EXPECT_EQ(FarApiSettingsControl(create.Handle, SCTL_FREE, 0, nullptr), 1);
  // Every id of the freed tree is refused from now on instead of being used.
  sub.Value = L"Late";
  for (intptr_t id : {root, child, grandchild})
    EXPECT_EQ(FarApiSettingsControl(reinterpret_cast<HANDLE>(id), SCTL_CREATESUBKEY, 0, &sub), 0);
  EXPECT_EQ(FarApiSettingsControl(reinterpret_cast<HANDLE>(root), SCTL_FREE, 0, nullptr), 0);
  EXPECT_EQ(FarApiSettingsControl(nullptr, SCTL_FREE, 0, nullptr), 1);
}

TEST(SettingsTree, MissingRecordsAreRefused) {
  EXPECT_EQ(FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, 0, nullptr), 0);
  TFarSettingsCreate create{};
  const intptr_t root = FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, 0, &create);
  EXPECT_EQ(FarApiSettingsControl(create.Handle, SCTL_CREATESUBKEY, 0, nullptr), 0);
  EXPECT_EQ(FarApiSettingsControl(create.Handle, SCTL_ENUM, 0, nullptr), 0);
  EXPECT_EQ(FarApiSettingsControl(create.Handle, SCTL_GET, 0, nullptr), 0);
  EXPECT_EQ(FarApiSettingsControl(reinterpret_cast<HANDLE>(root), SCTL_FREE, 0, nullptr), 1);
}

TEST(SettingsTree, TwoThreadsFreeingTheSameObjectFreeItOnce) {
  for (int round = 0; round < 200; ++round) {
    TFarSettingsCreate create{};
    FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, 0, &create);
    TFarSettingsValue sub{};
    sub.Value = L"Child";
    FarApiSettingsControl(create.Handle, SCTL_CREATESUBKEY, 0, &sub);
    std::atomic<int> ready{0};
    intptr_t results[2] = {};
    auto free_it = [&](int AIndex) {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      results[AIndex] = FarApiSettingsControl(create.Handle, SCTL_FREE, 0, nullptr);
    };
    std::thread a(free_it, 0), b(free_it, 1);
    a.join();
    b.join();
    ASSERT_EQ(results[0] + results[1], 1) << "round " << round;
  }
}
