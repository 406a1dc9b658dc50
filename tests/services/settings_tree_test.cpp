// The settings key tree and SettingsControl as tables of operations, linked directly.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwctype>
#include <string>
#include <thread>

#include "services/qorFarSettingsFile.h"
#include "services/qorFarSettingsStore.h"
#include "services/qorFarSettingsW.h"
#include "wexlor_harness.h"

using namespace qor;

namespace {

// The settings of this program go to a folder of its own, not to the prefix's application data.
class SettingsFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    FFolder = wxt::make_temp_folder();
    SetSettingsFolder(FFolder + L"wincmd.ini");
  }
  void TearDown() override { wxt::remove_tree(FFolder); }

 private:
  std::wstring FFolder;
};

[[maybe_unused]] ::testing::Environment* const GSettingsFolder = ::testing::AddGlobalTestEnvironment(new SettingsFolder);

GUID plugin_guid(unsigned char ANumber) { return GUID{0x5758F1A0, 0xBEEF, 0x0001, {0, 0, 0, 0, 0, 0, 0, ANumber}}; }

HANDLE create(const GUID& AGuid, intptr_t ALocation = PSL_ROAMING) {
  TFarSettingsCreate record{sizeof(record), AGuid, INVALID_HANDLE_VALUE};
  return FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, ALocation, &record) == 1 ? record.Handle : nullptr;
}

intptr_t free_handle(HANDLE AHandle) { return FarApiSettingsControl(AHandle, SCTL_FREE, 0, nullptr); }

intptr_t sub_key(HANDLE AHandle, size_t ARoot, const wchar_t* AName, int ACommand = SCTL_CREATESUBKEY) {
  TFarSettingsValue record{sizeof(record), ARoot, AName};
  return FarApiSettingsControl(AHandle, ACommand, 0, &record);
}

intptr_t set_number(HANDLE AHandle, size_t ARoot, const wchar_t* AName, unsigned long long ANumber) {
  TFarSettingsItem item{sizeof(item), ARoot, AName, FST_QWORD, {}};
  item.Number = ANumber;
  return FarApiSettingsControl(AHandle, SCTL_SET, 0, &item);
}

TFarSettingsItem get(HANDLE AHandle, size_t ARoot, const wchar_t* AName, int AType, intptr_t* AResult) {
  TFarSettingsItem item{sizeof(item), ARoot, AName, AType, {}};
  item.Number = 0xDEADBEEFCAFEULL;
  *AResult = FarApiSettingsControl(AHandle, SCTL_GET, 0, &item);
  return item;
}

}  // namespace

TEST(SettingsTree, FindOrCreateKeepsNamesExactAndOrder) {
  TqorFarSettings root(nullptr, L"");
  EXPECT_EQ(root.SubKeyCount(), 0);
  EXPECT_EQ(root.ValueCount(), 0);
  TqorFarSettings* alpha = root.GetSubKeyByName(L"Alpha");
  TqorFarSettings* beta = root.GetSubKeyByName(L"beta");
  EXPECT_EQ(root.GetSubKeyByName(L"Alpha"), alpha);
  EXPECT_EQ(root.FindSubKey(L"beta"), beta);
  EXPECT_EQ(root.FindSubKey(L"Beta"), nullptr);
  EXPECT_NE(root.GetSubKeyByName(L"ALPHA"), alpha);
  EXPECT_EQ(root.SubKeyCount(), 3);
  EXPECT_EQ(root.GetSubKey(0), alpha);
  EXPECT_EQ(root.GetSubKey(1), beta);
  EXPECT_EQ(alpha->Owner(), &root);
  EXPECT_THROW(root.GetSubKey(3), std::exception);

  TqorFarSettingValue* value = alpha->GetValueByName(L"Size");
  EXPECT_EQ(value->Type(), FST_UNKNOWN);
  value->SetNumber(5);
  EXPECT_EQ(alpha->GetValueByName(L"Size"), value);
  EXPECT_EQ(alpha->FindValue(L"SIZE"), nullptr);
  value->SetText(L"five");
  EXPECT_EQ(value->Type(), FST_STRING);
  EXPECT_EQ(value->Text(), L"five");
  EXPECT_EQ(value->Number(), 0u);
  value->SetData({std::byte{0}, std::byte{5}});
  EXPECT_EQ(value->Type(), FST_DATA);
  EXPECT_EQ(value->Data().size(), 2u);
  EXPECT_TRUE(value->Text().empty());
  alpha->GetValueByName(L"Other");
  EXPECT_EQ(alpha->ValueCount(), 2);
  delete value;  // a value leaves its key's list when destroyed
  EXPECT_EQ(alpha->ValueCount(), 1);
  EXPECT_EQ(alpha->GetValue(0)->Name(), L"Other");

  alpha->GetSubKeyByName(L"Child");
  alpha->Clear();
  EXPECT_EQ(alpha->SubKeyCount(), 0);
  EXPECT_EQ(alpha->ValueCount(), 0);
  delete alpha;  // a key leaves its parent's list
  EXPECT_EQ(root.SubKeyCount(), 2);
  EXPECT_EQ(root.GetSubKey(0), beta);
}

TEST(SettingsTree, KeyIdsAreCheckedAgainstTheHandlesTree) {
  HANDLE mine = create(plugin_guid(1));
  HANDLE theirs = create(plugin_guid(2));
  ASSERT_TRUE(mine && theirs);
  const intptr_t child = sub_key(mine, 0, L"Child");
  const intptr_t grandchild = sub_key(mine, child, L"Grandchild");
  ASSERT_NE(child, 0);
  ASSERT_NE(grandchild, 0);
  EXPECT_NE(grandchild, child);
  EXPECT_EQ(sub_key(mine, 0, L"Grandchild", SCTL_OPENSUBKEY), 0);
  EXPECT_EQ(sub_key(mine, child, L"Grandchild", SCTL_OPENSUBKEY), grandchild);
  // Ids reach nothing through another plugin's handle, a handle is no key id and a key id no handle.
  EXPECT_EQ(set_number(theirs, child, L"Stolen", 1), 0);
  EXPECT_EQ(sub_key(theirs, grandchild, L"Stolen"), 0);
  EXPECT_EQ(set_number(mine, reinterpret_cast<size_t>(mine), L"Value", 1), 0);
  EXPECT_EQ(sub_key(reinterpret_cast<HANDLE>(child), 0, L"Value"), 0);
  EXPECT_EQ(free_handle(reinterpret_cast<HANDLE>(child)), 0);
  // A second handle of the same plugin has ids of its own, as FAR keeps them per handle: this
  // handle's ids reach nothing through it.
  HANDLE again = create(plugin_guid(1));
  EXPECT_EQ(set_number(again, grandchild, L"Value", 9), 0);
  EXPECT_EQ(sub_key(again, child, L"Value"), 0);
  EXPECT_EQ(set_number(mine, grandchild, L"Value", 9), 1);
  // Deleting a key makes its ids and those below it stale.
  TFarSettingsValue remove{sizeof(remove), static_cast<size_t>(child), nullptr};
  EXPECT_EQ(FarApiSettingsControl(mine, SCTL_DELETE, 0, &remove), 1);
  intptr_t result = -1;
  get(mine, grandchild, L"Value", FST_QWORD, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(sub_key(mine, child, L"Late"), 0);
  // Keys made after the deletion never take over a stale id, even where memory is reused.
  for (int i = 0; i < 50; ++i) {
    const intptr_t fresh = sub_key(mine, 0, (L"Fresh" + std::to_wstring(i)).c_str());
    ASSERT_NE(fresh, 0);
    EXPECT_NE(fresh, child);
    EXPECT_NE(fresh, grandchild);
  }
  EXPECT_EQ(set_number(mine, child, L"Late", 1), 0);
  for (HANDLE handle : {mine, theirs, again}) EXPECT_EQ(free_handle(handle), 1);
  // Freed handles and made-up ones are refused; nothing is touched.
  for (HANDLE handle : {mine, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x10)}) {
    EXPECT_EQ(free_handle(handle), 0);
    EXPECT_EQ(sub_key(handle, 0, L"Late"), 0);
    get(handle, 0, L"Value", FST_QWORD, &result);
    EXPECT_EQ(result, 0);
  }
}

TEST(SettingsTree, CreateWritesTheHandleAndAnswersTrue) {
  TFarSettingsCreate record{sizeof(record), plugin_guid(3), INVALID_HANDLE_VALUE};
  EXPECT_EQ(FarApiSettingsControl(nullptr, SCTL_CREATE, PSL_LOCAL, &record), 1);
  EXPECT_NE(record.Handle, INVALID_HANDLE_VALUE);
  EXPECT_NE(record.Handle, nullptr);
  EXPECT_EQ(free_handle(record.Handle), 1);
  EXPECT_EQ(FarApiSettingsControl(INVALID_HANDLE_VALUE, SCTL_CREATE, 0, nullptr), 0);
}

// Every record is refused as FAR refuses it: StructSize below the record's size or above 64 KiB.
TEST(SettingsTree, RecordSizesAreCheckedAsFarChecksThem) {
  struct size_case {
    const char* What;
    size_t (*Size)(size_t ARecord);
    bool Accepted;
  };
  const size_case cases[] = {
      {"zero", [](size_t) { return size_t{0}; }, false},
      {"one byte short", [](size_t ARecord) { return ARecord - 1; }, false},
      {"exact", [](size_t ARecord) { return ARecord; }, true},
      {"from a newer header", [](size_t ARecord) { return ARecord + 8; }, true},
      {"64 KiB", [](size_t) { return size_t{65536}; }, true},
      {"past 64 KiB", [](size_t) { return size_t{65537}; }, false},
      {"garbage", [](size_t) { return size_t{0x80000000u}; }, false},
  };
  HANDLE handle = create(plugin_guid(4));
  ASSERT_NE(handle, nullptr);
  for (const size_case& c : cases) {
    SCOPED_TRACE(c.What);
    const intptr_t ok = c.Accepted ? 1 : 0;
    TFarSettingsCreate record{c.Size(sizeof(TFarSettingsCreate)), plugin_guid(4), INVALID_HANDLE_VALUE};
    EXPECT_EQ(FarApiSettingsControl(nullptr, SCTL_CREATE, 0, &record), ok);
    EXPECT_EQ(record.Handle != INVALID_HANDLE_VALUE, c.Accepted);
    if (c.Accepted) free_handle(record.Handle);
    TFarSettingsItem item{c.Size(sizeof(TFarSettingsItem)), 0, L"Value", FST_QWORD, {}};
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_SET, 0, &item), ok);
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_GET, 0, &item), ok);
    TFarSettingsEnum items{c.Size(sizeof(TFarSettingsEnum)), 0, 77, {}};
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_ENUM, 0, &items), ok);
    EXPECT_EQ(items.Count != 77, c.Accepted);
    TFarSettingsValue value{c.Size(sizeof(TFarSettingsValue)), 0, L"Key"};
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_CREATESUBKEY, 0, &value) != 0, c.Accepted);
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_OPENSUBKEY, 0, &value) != 0, c.Accepted);
    EXPECT_EQ(FarApiSettingsControl(handle, SCTL_DELETE, 0, &value), ok);
  }
  EXPECT_EQ(free_handle(handle), 1);
}

// FAR's own options as a fresh installation has them; names compare without regard to case.
TEST(SettingsTree, HostOptionsAnswerFarDefaultsForEveryPublishedName) {
  struct option_case {
    size_t Root;
    const wchar_t* Name;
    unsigned long long Number;  // for numbers
  };
  const option_case numbers[] = {
      {16, L"Copy", 1}, {16, L"Move", 1}, {16, L"Drag", 1}, {16, L"Delete", 1}, {16, L"DeleteFolder", 1},
      {16, L"Esc", 1}, {16, L"Exit", 1}, {16, L"HistoryClear", 1}, {16, L"RemoveConnection", 1}, {16, L"RO", 1},
      {17, L"CopyOpened", 1}, {17, L"DeleteToRecycleBin", 1}, {17, L"PluginMaxReadData", 131072},
      {17, L"ScanJunction", 1}, {18, L"ShowHidden", 1}, {18, L"ShowBytes", 0}, {18, L"TreatDotFilesAsHidden", 0},
      {18, L"ShortcutAlwaysChdir", 0}, {20, L"KeyBar", 1}, {21, L"EditBlock", 0}, {21, L"DelRemovesBlocks", 1},
      {21, L"EULBsClear", 0}, {22, L"ShowMenuBar", 0}, {23, L"ColumnTitles", 1}, {23, L"StatusLine", 1},
      {23, L"SortMode", 1}, {23, L"DetailedJunction", 0},
  };
  HANDLE host = create(GUID{});
  ASSERT_NE(host, nullptr);
  auto fold = [](std::wstring AName, bool AUpper) {
    for (auto& c : AName) c = AUpper ? towupper(c) : towlower(c);
    return AName;
  };
  for (const option_case& c : numbers)
    for (const std::wstring& name : {std::wstring(c.Name), fold(c.Name, true), fold(c.Name, false)})
      for (int asked : {FST_QWORD, FST_STRING, FST_UNKNOWN}) {
        SCOPED_TRACE(std::to_string(c.Root) + " " + std::string(name.begin(), name.end()));
        intptr_t result = 0;
        const TFarSettingsItem item = get(host, c.Root, name.c_str(), asked, &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(item.Type, FST_QWORD);
        EXPECT_EQ(item.Number, c.Number);
      }
  const std::wstring word_div = L"~!%^&*()+|{}:\"<>?`-=\\[];',./";
  EXPECT_EQ(word_div.size(), 28u);
  for (size_t root : {FSSF_SYSTEM, FSSF_EDITOR})
    for (const wchar_t* name : {L"WordDiv", L"worddiv"}) {
      intptr_t result = 0;
      const TFarSettingsItem first = get(host, root, name, FST_QWORD, &result);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(first.Type, FST_STRING);
      ASSERT_NE(first.String, nullptr);
      EXPECT_EQ(std::wstring(first.String), word_div);
      // Every read is a copy of its own, valid until the handle is freed.
      const TFarSettingsItem second = get(host, root, name, FST_STRING, &result);
      EXPECT_NE(second.String, first.String);
      EXPECT_EQ(std::wstring(first.String), word_div);
    }
  struct missing_case {
    size_t Root;
    const wchar_t* Name;
  };
  const missing_case missing[] = {
      {16, L"AllowReedit"}, {16, L"EscTwiceToInterrupt"}, {21, L"EditHistory"}, {17, L"Collation"},
      {17, L"Esc"},         {0, L"Esc"},                  {1, L"Esc"},          {15, L"Esc"},
      {24, L"Esc"},         {16, L"Esc "},                {16, L""},            {16, nullptr},
      {18, L"WordDiv"},     {16, L"\x0415sc"},
  };
  for (const missing_case& c : missing) {
    SCOPED_TRACE(std::to_string(c.Root));
    intptr_t result = -1;
    const TFarSettingsItem item = get(host, c.Root, c.Name, FST_QWORD, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(item.Type, FST_QWORD);
    EXPECT_EQ(item.Number, 0xDEADBEEFCAFEULL);
  }
  EXPECT_EQ(free_handle(host), 1);
}

TEST(SettingsTree, HostOptionsRefuseEveryWrite) {
  HANDLE host = create(GUID{});
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(set_number(host, FSSF_CONFIRMATIONS, L"Esc", 0), 0);
  EXPECT_EQ(set_number(host, 0, L"Mine", 0), 0);
  TFarSettingsValue value{sizeof(value), FSSF_CONFIRMATIONS, L"Esc"};
  EXPECT_EQ(FarApiSettingsControl(host, SCTL_DELETE, 0, &value), 0);
  value.Value = nullptr;
  EXPECT_EQ(FarApiSettingsControl(host, SCTL_DELETE, 0, &value), 0);
  for (size_t root : {FSSF_ROOT, FSSF_CONFIRMATIONS}) EXPECT_EQ(sub_key(host, root, L"Mine"), 0);
  intptr_t result = 0;
  EXPECT_EQ(get(host, FSSF_CONFIRMATIONS, L"Esc", FST_QWORD, &result).Number, 1u);
  // Histories and folder shortcuts list nothing; other roots cannot be listed.
  for (size_t root = 0; root <= 30; ++root) {
    TFarSettingsEnum items{sizeof(items), root, 77, {}};
    const bool listable = root >= FSSF_HISTORY_CMD && root <= FSSF_FOLDERSHORTCUT_9;
    EXPECT_EQ(FarApiSettingsControl(host, SCTL_ENUM, 0, &items), listable ? 1 : 0) << root;
    EXPECT_EQ(items.Count, listable ? 0u : 77u) << root;
  }
  // Dialog histories open below FSSF_ROOT only, each call with an id of its own.
  EXPECT_EQ(sub_key(host, FSSF_ROOT, L"Copy", SCTL_OPENSUBKEY), 24);
  EXPECT_EQ(sub_key(host, FSSF_ROOT, L"Copy", SCTL_OPENSUBKEY), 25);
  EXPECT_EQ(sub_key(host, FSSF_ROOT, L"", SCTL_OPENSUBKEY), 0);
  EXPECT_EQ(sub_key(host, FSSF_CONFIRMATIONS, L"Copy", SCTL_OPENSUBKEY), 0);
  TFarSettingsEnum history{sizeof(history), 25, 77, {}};
  EXPECT_EQ(FarApiSettingsControl(host, SCTL_ENUM, 0, &history), 1);
  EXPECT_EQ(history.Count, 0u);
  EXPECT_EQ(history.Histories, nullptr);
  EXPECT_EQ(free_handle(host), 1);
}

TEST(SettingsTree, EnumListsSubKeysFirstWithNamesOwnedByTheHandle) {
  HANDLE handle = create(plugin_guid(5));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(set_number(handle, 0, L"Number", 1), 1);
  const intptr_t key = sub_key(handle, 0, L"Key");
  TFarSettingsItem text{sizeof(text), 0, L"Text", FST_STRING, {}};
  text.String = L"abc";
  EXPECT_EQ(FarApiSettingsControl(handle, SCTL_SET, 0, &text), 1);
  const unsigned char bytes[] = {0, 1, 0};
  TFarSettingsItem data{sizeof(data), 0, L"Data", FST_DATA, {}};
  data.Data.Size = sizeof(bytes);
  data.Data.Data = bytes;
  EXPECT_EQ(FarApiSettingsControl(handle, SCTL_SET, 0, &data), 1);
  sub_key(handle, key, L"Below");

  TFarSettingsEnum items{sizeof(items), 0, 0, {}};
  ASSERT_EQ(FarApiSettingsControl(handle, SCTL_ENUM, 0, &items), 1);
  ASSERT_EQ(items.Count, 4u);
  const std::pair<std::wstring, int> expected[] = {
      {L"Key", FST_SUBKEY}, {L"Number", FST_QWORD}, {L"Text", FST_STRING}, {L"Data", FST_DATA}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(items.Items[i].Name, expected[i].first);
    EXPECT_EQ(items.Items[i].Type, expected[i].second);
  }
  // Another listing gets a copy of its own; the first stays readable until the handle is freed.
  TFarSettingsEnum again{sizeof(again), 0, 0, {}};
  ASSERT_EQ(FarApiSettingsControl(handle, SCTL_ENUM, 0, &again), 1);
  EXPECT_NE(again.Items, items.Items);
  EXPECT_EQ(std::wstring(items.Items[3].Name), L"Data");
  intptr_t result = 0;
  const TFarSettingsItem read = get(handle, 0, L"Data", FST_DATA, &result);
  EXPECT_EQ(result, 1);
  ASSERT_EQ(read.Data.Size, 3u);
  EXPECT_EQ(std::memcmp(read.Data.Data, bytes, 3), 0);
  EXPECT_NE(read.Data.Data, static_cast<const void*>(bytes));
  EXPECT_EQ(free_handle(handle), 1);
}

TEST(SettingsTree, TwoThreadsFreeingTheSameObjectFreeItOnce) {
  for (int round = 0; round < 200; ++round) {
    HANDLE handle = create(plugin_guid(6));
    ASSERT_NE(handle, nullptr);
    sub_key(handle, 0, L"Child");
    std::atomic<int> ready{0};
    intptr_t results[2] = {};
    auto free_it = [&](int AIndex) {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      results[AIndex] = free_handle(handle);
    };
    std::thread a(free_it, 0), b(free_it, 1);
    a.join();
    b.join();
    ASSERT_EQ(results[0] + results[1], 1) << "round " << round;
  }
}

TEST(SettingsTree, ThreadsDeletingAndUsingTheSameKeysNeverCrash) {
  HANDLE handle = create(plugin_guid(7));
  ASSERT_NE(handle, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> used{0};
  // One thread keeps re-creating and deleting a key while others write below it through ids
  // that go stale at any moment.
  std::thread deleter([&] {
    for (int i = 0; i < 2000; ++i) {
      const intptr_t key = sub_key(handle, 0, L"Busy");
      TFarSettingsValue remove{sizeof(remove), static_cast<size_t>(key), nullptr};
      FarApiSettingsControl(handle, SCTL_DELETE, 0, &remove);
    }
    stop = true;
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 3; ++t)
    writers.emplace_back([&] {
      while (!stop) {
        const intptr_t key = sub_key(handle, 0, L"Busy", SCTL_OPENSUBKEY);
        if (key && set_number(handle, key, L"Value", 1)) ++used;
        sub_key(handle, key, L"Below");
      }
    });
  deleter.join();
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(sub_key(handle, 0, L"Busy", SCTL_OPENSUBKEY), 0);
  EXPECT_EQ(free_handle(handle), 1);
  RecordProperty("writes_that_found_the_key", used.load());
}

TEST(SettingsTree, AnObjectSeesWhatAnotherStoredOnceThatOneIsFreed) {
  HANDLE first = create(plugin_guid(8));
  HANDLE early = create(plugin_guid(8));
  ASSERT_TRUE(first && early);
  EXPECT_EQ(set_number(first, 0, L"Stored", 8), 1);
  intptr_t result = -1;
  // Not before it is freed: each object is one transaction, as in FAR.
  get(early, 0, L"Stored", FST_QWORD, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(free_handle(first), 1);
  get(early, 0, L"Stored", FST_QWORD, &result);
  EXPECT_EQ(result, 0);
  HANDLE late = create(plugin_guid(8));
  const TFarSettingsItem item = get(late, 0, L"Stored", FST_QWORD, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(item.Number, 8u);
  // What the early object changes goes on top of the stored value, not in place of it.
  EXPECT_EQ(set_number(early, 0, L"Other", 1), 1);
  EXPECT_EQ(free_handle(early), 1);
  EXPECT_EQ(free_handle(late), 1);
  HANDLE last = create(plugin_guid(8));
  get(last, 0, L"Stored", FST_QWORD, &result);
  EXPECT_EQ(result, 1);
  get(last, 0, L"Other", FST_QWORD, &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(free_handle(last), 1);
  // The host's own tree is no plugin's.
  EXPECT_EQ(create(kWexlorSettingsGuid), nullptr);
}

TEST(SettingsFile, TextComesBackAsItWasWritten) {
  TqorSettingsDocument document;
  document.Tree(plugin_guid(9), true).Key(L"empty");
  TqorSettingsKey& root = document.Tree(plugin_guid(9), false);
  const std::wstring texts[] = {L"", L"plain", L"\"\\\n\r\t", std::wstring(1, wchar_t(0xDFFF)) + L"x" + wchar_t(0xD800),
                                L"\U0001F600\u00e9\u2028", std::wstring(5000, L'z')};
  int n = 0;
  for (const std::wstring& text : texts) {
    TqorSettingsValue& value = root.Value(L"t" + std::to_wstring(n++) + text.substr(0, 3));
    value.Type = FST_STRING;
    value.Text = text;
  }
  TqorSettingsValue& number = root.Value(L"n");
  number.Type = FST_QWORD;
  number.Number = ~0ULL;
  TqorSettingsValue& data = root.Key(L"a key").Key(L"\"]=").Value(L"");
  data.Type = FST_DATA;
  for (int i = 0; i < 256; ++i) data.Data.push_back(static_cast<std::byte>(i));

  TqorSettingsDocument read;
  ASSERT_TRUE(ParseSettings(FormatSettings(document), read));
  EXPECT_EQ(FormatSettings(read), FormatSettings(document));
  const TqorSettingsKey* again = read.Find(plugin_guid(9), false);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->Values.size(), root.Values.size());
  for (size_t i = 0; i < root.Values.size(); ++i) {
    EXPECT_EQ(again->Values[i].Name, root.Values[i].Name);
    EXPECT_EQ(again->Values[i].Text, root.Values[i].Text) << i;
    EXPECT_EQ(again->Values[i].Number, root.Values[i].Number);
  }
  const TqorSettingsKey* inner = again->FindKey(L"a key") ? again->FindKey(L"a key")->FindKey(L"\"]=") : nullptr;
  ASSERT_NE(inner, nullptr);
  ASSERT_NE(inner->FindValue(L""), nullptr);
  EXPECT_EQ(inner->FindValue(L"")->Data, data.Data);
  ASSERT_NE(read.Find(plugin_guid(9), true), nullptr);
  EXPECT_NE(read.Find(plugin_guid(9), true)->FindKey(L"empty"), nullptr);
  // A person's edits within the rules are read: blank lines, comments, other spacing, upper-case hex.
  TqorSettingsDocument edited;
  ASSERT_TRUE(ParseSettings("\xEF\xBB\xBF# mine\r\n\r\n  [{5758F1A0-BEEF-0001-0000-000000000009}   local  \"k\" ]\r\n"
                            "  qword \"a\"=1\r\ndata \"b\" = 0A0b\r\n\tstring \"c\"   =   \"\\u00e9\"",
                            edited));
  const TqorSettingsKey* key = edited.Find(plugin_guid(9), true);
  ASSERT_NE(key, nullptr);
  ASSERT_NE(key->FindKey(L"k"), nullptr);
  EXPECT_EQ(key->FindKey(L"k")->FindValue(L"a")->Number, 1u);
  EXPECT_EQ(key->FindKey(L"k")->FindValue(L"b")->Data, (std::vector<std::byte>{std::byte{10}, std::byte{11}}));
  EXPECT_EQ(key->FindKey(L"k")->FindValue(L"c")->Text, L"\u00e9");
}

TEST(SettingsFile, TextsThatCannotComeBackExactlyAreRefused) {
  const char* const head = "[{5758F1A0-BEEF-0001-0000-000000000009} roaming]\n";
  const std::vector<std::string> bad = {
      "qword \"a\" = 1\n",                                            // a value before any key
      std::string(head) + "qword \"a\" = -1\n",
      std::string(head) + "qword \"a\" = 18446744073709551616\n",
      std::string(head) + "qword \"a\" = 1 2\n",
      std::string(head) + "qword a = 1\n",
      std::string(head) + "string \"a\" = \"b\n",
      std::string(head) + "string \"a\" = \"\\q\"\n",
      std::string(head) + "string \"a\" = \"\\u12\"\n",
      std::string(head) + "string \"a\" = \"\\u0000\"\n",
      std::string(head) + "data \"a\" = 0g\n",
      std::string(head) + "data \"a\" = 012\n",
      std::string(head) + "number \"a\" = 1\n",
      "[{5758F1A0-BEEF-0001-0000-00000000000} roaming]\n",
      "[{5758F1A0-BEEF-0001-0000-000000000009} both]\n",
      "[{5758F1A0-BEEF-0001-0000-000000000009} roaming \"a\\\\b\"]\n",  // no backslash in key names
      "[{5758F1A0-BEEF-0001-0000-000000000009} roaming \"\"]\n",
      "[{5758F1A0-BEEF-0001-0000-000000000009} roaming\n",
      std::string(head) + "string \"a\" = \"\xC0\xAF\"\n",                // overlong UTF-8
      std::string(head) + "string \"a\" = \"\xF4\x90\x80\x80\"\n",        // above U+10FFFF
      std::string(head) + "string \"a\" = \"\xE2\x82\"\n",                 // cut short
  };
  for (const std::string& text : bad) {
    TqorSettingsDocument document;
    EXPECT_FALSE(ParseSettings(text, document)) << text;
  }
}
