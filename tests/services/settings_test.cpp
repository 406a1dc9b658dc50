// The settings service as plugins see it through SettingsControl of the built module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "services_support.h"

using namespace wxt;
using namespace svc;

TEST(Settings, SubKeysHangBelowTheKeyTheirRootNames) {
  FileManager fm({services_plugin(L"set", 1, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"set",
                              "sc create\n"
                              "sc sub Alpha\n"
                              "sc sub Alpha\n"
                              // Plugin settings keep names exactly: another case is another key.
                              "sc sub ALPHA\n"
                              "sc sub @k2 Inner\n"
                              "sc sub @k4 Deepest\n"
                              "sc open @k2 Inner\n"
                              "sc open Inner\n"
                              "sc open Missing\n"
                              // FAR's name rules: no empty or missing name, no backslash.
                              "sc subnull\n"
                              "sc sub ~\n"
                              "sc sub a\\b\n"
                              "sc enum\n"
                              "sc enum @k2\n"
                              "sc enum @k5\n"
                              "sc free\n"
                              // The freed handle is no longer accepted; a null handle never was.
                              "sc sub Delta\n"
                              "sc use null\n"
                              "sc free\n");
  const std::vector<std::string> expected = {
      "sc create result=1 handle=k1",
      "sc sub Alpha -> k2",
      "sc sub Alpha -> k2",
      "sc sub ALPHA -> k3",
      "sc sub @k2 Inner -> k4",
      "sc sub @k4 Deepest -> k5",
      "sc open @k2 Inner -> k4",
      "sc open Inner -> 0",
      "sc open Missing -> 0",
      "sc subnull  -> 0",
      "sc sub ~ -> 0",
      "sc sub a\\b -> 0",
      "sc enum result=1 count=2 Alpha:k ALPHA:k",
      "sc enum @k2 result=1 count=1 Inner:k",
      "sc enum @k5 result=1 count=0 items=null",
      "sc free result=1",
      "sc sub Delta -> 0",
      "sc free result=0",
      "done",
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(boxes.Texts().empty()) << "no settings command shows a box";
}

TEST(Settings, ValuesRoundTripAndOutliveTheSettingsObject) {
  FileManager fm({services_plugin(L"rt", 1, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"rt",
                              "sc create\n"
                              "sc set q Num 42\n"
                              "sc set q Big 0xFFFFFFFFFFFFFFFF\n"
                              "sc set s Text hello_world\n"
                              "sc set s Unicode \xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\n"
                              "sc set s Empty ~\n"
                              "sc set s Null <null>\n"
                              "sc set d Bin 00ff000000\n"
                              "sc set d NoData -\n"
                              "sc set d Broken 00\n"
                              "sc set dnull Broken 4\n"
                              "sc set q <null> 5\n"
                              "sc set k Key\n"
                              "sc set u Unknown\n"
                              "sc get q Num\n"
                              "sc get q Big\n"
                              "sc get s Text\n"
                              "sc get s Unicode\n"
                              "sc get s Empty\n"
                              "sc get s Null\n"
                              "sc get d Bin\n"
                              "sc get d NoData\n"
                              "sc get d Broken\n"
                              "sc get q ~\n"
                              "sc get q num\n"
                              "sc get q Missing\n"
                              "sc get k Num\n"
                              // Overwritten with another type: the old type no longer reads.
                              "sc set s Num forty-two\n"
                              "sc get q Num\n"
                              "sc get s Num\n"
                              "sc enum\n"
                              "sc del Text\n"
                              "sc del Text\n"
                              "sc get s Text\n"
                              "sc free\n"
                              // A new settings object of the same plugin finds what was stored.
                              "sc create\n"
                              "sc get s Num\n"
                              "sc get d Bin\n"
                              "sc get s Text\n"
                              "sc free\n");
  const std::vector<std::string> expected = {
      "sc create result=1 handle=k1",
      "sc set q Num result=1",
      "sc set q Big result=1",
      "sc set s Text result=1",
      "sc set s Unicode result=1",
      "sc set s Empty result=1",
      "sc set s Null result=1",
      "sc set d Bin result=1",
      "sc set d NoData result=1",
      "sc set d Broken result=1",
      "sc set dnull Broken result=0",
      "sc set q <null> result=1",
      "sc set k Key result=0",
      "sc set u Unknown result=0",
      "sc get q Num result=1 type=q value=42",
      "sc get q Big result=1 type=q value=18446744073709551615",
      "sc get s Text result=1 type=s value=\"hello world\"",
      "sc get s Unicode result=1 type=s value=\"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\"",
      "sc get s Empty result=1 type=s value=\"\"",
      "sc get s Null result=1 type=s value=\"\"",
      "sc get d Bin result=1 type=d value=5:00ff000000",
      "sc get d NoData result=1 type=d value=0:-",
      // The failed set with unreadable data left the earlier value alone.
      "sc get d Broken result=1 type=d value=1:00",
      "sc get q ~ result=1 type=q value=5",
      "sc get q num result=0 untouched",
      "sc get q Missing result=0 untouched",
      "sc get k Num result=0 untouched",
      "sc set s Num result=1",
      "sc get q Num result=0 untouched",
      "sc get s Num result=1 type=s value=\"forty-two\"",
      "sc enum result=1 count=10 Num:s Big:q Text:s Unicode:s Empty:s Null:s Bin:d NoData:d Broken:d :q",
      "sc del Text result=1",
      "sc del Text result=1",
      "sc get s Text result=0 untouched",
      "sc free result=1",
      "sc create result=1 handle=k2",
      "sc get s Num result=1 type=s value=\"forty-two\"",
      "sc get d Bin result=1 type=d value=5:00ff000000",
      "sc get s Text result=0 untouched",
      "sc free result=1",
      "done",
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Settings, NestedKeysAreDeletedWithTheirValues) {
  FileManager fm({services_plugin(L"nest", 1, {})});
  const auto log = run_script(fm, L"nest",
                              "sc create\n"
                              "sc sub Outer\n"
                              "sc sub @k2 Inner\n"
                              "sc set @k2 q Depth 1\n"
                              "sc set @k3 q Depth 2\n"
                              "sc set q Depth 0\n"
                              "sc get @k3 q Depth\n"
                              "sc get @k2 q Depth\n"
                              "sc enum @k2\n"
                              "sc delkey @k2\n"
                              // The deleted keys' ids are refused; the root keeps its value.
                              "sc get @k3 q Depth\n"
                              "sc set @k2 q Depth 9\n"
                              "sc enum @k2\n"
                              "sc del @k3 Depth\n"
                              "sc open Outer\n"
                              "sc get q Depth\n"
                              // Re-created, the key is empty.
                              "sc sub Outer\n"
                              "sc enum @k4\n"
                              // No name on the plugin's own key empties it and keeps it usable.
                              "sc delkey\n"
                              "sc enum\n"
                              "sc set q After 3\n"
                              "sc get q After\n"
                              "sc free\n");
  const std::vector<std::string> expected = {
      "sc create result=1 handle=k1",
      "sc sub Outer -> k2",
      "sc sub @k2 Inner -> k3",
      "sc set @k2 q Depth result=1",
      "sc set @k3 q Depth result=1",
      "sc set q Depth result=1",
      "sc get @k3 q Depth result=1 type=q value=2",
      "sc get @k2 q Depth result=1 type=q value=1",
      "sc enum @k2 result=1 count=2 Inner:k Depth:q",
      "sc delkey @k2 result=1",
      "sc get @k3 q Depth result=0 untouched",
      "sc set @k2 q Depth result=0",
      "sc enum @k2 result=0 count=77 items=untouched",
      "sc del @k3 Depth result=0",
      "sc open Outer -> 0",
      "sc get q Depth result=1 type=q value=0",
      "sc sub Outer -> k4",
      "sc enum @k4 result=1 count=0 items=null",
      "sc delkey result=1",
      "sc enum result=1 count=0 items=null",
      "sc set q After result=1",
      "sc get q After result=1 type=q value=3",
      "sc free result=1",
      "done",
  };
  EXPECT_EQ(log, expected);
}

TEST(Settings, TwoPluginsAndTwoLocationsNeverShareValues) {
  FileManager fm({services_plugin(L"one", 1, {}), services_plugin(L"two", 2, {})});
  BoxWatcher boxes;
  const auto first = run_script(fm, L"one",
                                "sc create\n"
                                "sc set q Shared 1\n"
                                "sc sub Key\n"
                                "sc set @k2 s Where one\n"
                                "sc free\n");
  EXPECT_EQ(line_with(first, "sc set @k2 s Where "), "result=1");
  const auto second = run_script(fm, L"two",
                                 "sc create\n"
                                 "sc get q Shared\n"
                                 "sc enum\n"
                                 "sc open Key\n"
                                 "sc set q Shared 2\n"
                                 "sc free\n");
  EXPECT_EQ(line_with(second, "sc get q Shared "), "result=0 untouched");
  EXPECT_EQ(line_with(second, "sc enum "), "result=1 count=0 items=null");
  EXPECT_EQ(line_with(second, "sc open Key "), "-> 0");
  EXPECT_EQ(line_with(second, "sc set q Shared "), "result=1");
  const auto again = run_script(fm, L"one",
                                "sc create\n"
                                "sc get q Shared\n"
                                "sc enum\n"
                                // The local location is a tree of its own.
                                "sc create local\n"
                                "sc get q Shared\n"
                                "sc set q Shared 3\n"
                                "sc use k1\n"
                                "sc get q Shared\n"
                                "sc use k2\n"
                                "sc get q Shared\n"
                                // Another plugin's GUID opens that plugin's tree, as FAR allows.
                                "sc create guid {5758F1A0-7777-8888-0102-030405060702}\n"
                                "sc get q Shared\n"
                                // A GUID that no loaded plugin has opens nothing.
                                "sc create guid {5758F1A0-0000-0000-0102-030405060799}\n");
  const std::vector<std::string> expected = {
      "sc create result=1 handle=k1",
      "sc get q Shared result=1 type=q value=1",
      "sc enum result=1 count=2 Key:k Shared:q",
      "sc create local result=1 handle=k2",
      "sc get q Shared result=0 untouched",
      "sc set q Shared result=1",
      "sc get q Shared result=1 type=q value=1",
      "sc get q Shared result=1 type=q value=3",
      "sc create guid result=1 handle=k3",
      "sc get q Shared result=1 type=q value=2",
      "sc create guid result=0 handle=untouched",
      "done",
  };
  EXPECT_EQ(again, expected);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Settings, ReturnedTextsAndDataStayValidUntilFree) {
  FileManager fm({services_plugin(L"keep", 1, {})});
  const auto log = run_script(fm, L"keep",
                              "sc create\n"
                              "sc set s Text first\n"
                              "sc set d Data 0102\n"
                              "sc keep s Text\n"
                              "sc keep d Data\n"
                              // Later writes, reads and listings do not move what was returned.
                              "sc set s Text second\n"
                              "sc set d Data 03\n"
                              "sc keep s Text\n"
                              "sc enum\n"
                              "sc del Data\n"
                              "sc kept\n"
                              "sc free\n");
  EXPECT_EQ(line_with(log, "sc get s Text "), "result=1 type=s value=\"first\"");
  EXPECT_EQ(line_with(log, "sc kept "), "3/3 same");
}

namespace {

// The services plugin's hash of a text's UTF-16 units (FNV-1a over their bytes).
std::string units_hash(const std::wstring& AText) {
  unsigned long hash = 2166136261UL;
  for (wchar_t c : AText) {
    hash = (hash ^ (c & 0xFF)) * 16777619UL & 0xFFFFFFFFUL;
    hash = (hash ^ ((c >> 8) & 0xFF)) * 16777619UL & 0xFFFFFFFFUL;
  }
  char text[16];
  std::snprintf(text, sizeof(text), "%08lx", hash);
  return text;
}

std::string every_byte() {
  std::string hex;
  char byte[4];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(byte, sizeof(byte), "%02x", (i * 7 + 3) & 0xFF);
    hex += byte;
  }
  return hex;
}

// Texts that a text file could easily get wrong, as the script writes them and as they must come back.
struct TextCase {
  const char* name;
  const char* script;
  std::wstring expected;
};

std::vector<TextCase> text_cases() {
  std::wstring long_text;
  for (int i = 0; i < 100000; ++i) long_text += L"ab\u00e9";
  return {
      {"Empty", "~", L""},
      {"Lines", "one\\u000atwo\\u000d\\u000athree", L"one\ntwo\r\nthree"},
      {"Quotes", "say_\\u0022hi\\u0022_and_\\u005c_[x]_=_#", L"say \"hi\" and \\ [x] = #"},
      {"Controls", "\\u0001\\u0009\\u007f\\u0085\\u2028\\ufeff\\u00a0", L"\u0001\t\u007f\u0085\u2028\ufeff\u00a0"},
      {"Cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", L"\u041f\u0440\u0438\u0432\u0435\u0442"},
      {"Pair", "\\ud83d\\ude00", L"\U0001F600"},
      {"Lone", "a\\ud800b\\udc00c\\udbff", std::wstring(L"a") + wchar_t(0xD800) + L"b" + wchar_t(0xDC00) + L"c" +
                                             wchar_t(0xDBFF)},
      {"Long", "rep:100000:ab\\u00e9", long_text},
      {"Odd\\u0022name\\u005d_=", "x", L"x"},
  };
}

}  // namespace

TEST(Settings, ValuesOfEveryTypeSurviveReloadingTheModule) {
  FileManager fm({services_plugin(L"keep", 1, {})});
  BoxWatcher boxes;
  std::string script =
      "sc create\n"
      "sc set q Zero 0\n"
      "sc set q Max 0xFFFFFFFFFFFFFFFF\n"
      "sc set q Answer 42\n"
      "sc set d Bytes " + every_byte() + "\n"
      "sc set d None -\n"
      "sc sub Key_One\n"
      "sc sub @k2 Inner\\u005dkey\n"
      "sc set @k3 q Deep 7\n"
      "sc sub Empty\n"
      "sc create local\n"
      "sc set q Where 2\n"
      "sc use k1\n";
  for (const TextCase& c : text_cases()) script += std::string("sc set s ") + c.name + " " + c.script + "\n";
  script += "sc free\nsc use k5\nsc free\n";
  const auto stored = run_script(fm, L"keep", script);
  EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](const std::string& l) { return l.find("result=1") != std::string::npos; }),
            4 + 2 + 1 + 1 + 1 + 2 + static_cast<long>(text_cases().size()))
      << ::testing::PrintToString(stored);
  ASSERT_TRUE(file_exists(fm.SettingsFile()));

  // Loaded again, the module reads back what the file holds, unit for unit and byte for byte.
  fm.Unload();
  fm.Load();
  std::string check =
      "sc create\n"
      "sc get q Zero\n"
      "sc get q Max\n"
      "sc get q Answer\n"
      "sc get d Bytes\n"
      "sc get d None\n"
      "sc enum\n"
      "sc open Key_One\n"
      "sc open @k2 Inner\\u005dkey\n"
      "sc get @k3 q Deep\n";
  for (const TextCase& c : text_cases()) check += std::string("sc units s ") + c.name + "\n";
  check += "sc create local\nsc get q Where\nsc enum\n";
  const auto log = run_script(fm, L"keep", check);
  EXPECT_EQ(line_with(log, "sc get q Zero "), "result=1 type=q value=0");
  EXPECT_EQ(line_with(log, "sc get q Max "), "result=1 type=q value=18446744073709551615");
  EXPECT_EQ(line_with(log, "sc get q Answer "), "result=1 type=q value=42");
  EXPECT_EQ(line_with(log, "sc get d Bytes "), "result=1 type=d value=256:" + every_byte());
  EXPECT_EQ(line_with(log, "sc get d None "), "result=1 type=d value=0:-");
  // Keys and values come back in the order they were made.
  EXPECT_EQ(line_with(log, "sc enum "),
            "result=1 count=16 Key One:k Empty:k Zero:q Max:q Answer:q Bytes:d None:d Empty:s Lines:s Quotes:s "
            "Controls:s Cyrillic:s Pair:s Lone:s Long:s Odd\"name] =:s");
  EXPECT_EQ(line_with(log, "sc open Key_One "), "-> k2");
  EXPECT_EQ(line_with(log, "sc get @k3 q Deep "), "result=1 type=q value=7");
  for (const TextCase& c : text_cases())
    EXPECT_EQ(line_with(log, std::string("sc units s ") + c.name + " "),
              "result=1 len=" + std::to_string(c.expected.size()) + " hash=" + units_hash(c.expected))
        << c.name;
  EXPECT_EQ(line_with(log, "sc get q Where "), "result=1 type=q value=2");
  EXPECT_EQ(std::count(log.begin(), log.end(), "sc enum result=1 count=1 Where:q"), 1);

  // A person can read the file: typed lines below a key line, escapes only where needed.
  const std::string text = read_file(fm.SettingsFile());
  for (const char* line : {"[{5758F1A0-7777-8888-0102-030405060701} roaming]\n", "qword \"Answer\" = 42\n",
                           "qword \"Max\" = 18446744073709551615\n", "string \"Lines\" = \"one\\ntwo\\r\\nthree\"\n",
                           "string \"Quotes\" = \"say \\\"hi\\\" and \\\\ [x] = #\"\n",
                           "string \"Cyrillic\" = \"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\"\n",
                           "string \"Lone\" = \"a\\ud800b\\udc00c\\udbff\"\n", "data \"None\" =\n",
                           "[{5758F1A0-7777-8888-0102-030405060701} roaming \"Key One\" \"Inner]key\"]\nqword \"Deep\" = 7\n",
                           "[{5758F1A0-7777-8888-0102-030405060701} roaming \"Empty\"]\n",
                           "[{5758F1A0-7777-8888-0102-030405060701} local]\nqword \"Where\" = 2\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Settings, AnObjectThatChangedNothingWritesNothing) {
  FileManager fm({services_plugin(L"quiet", 1, {})});
  // Reads, opening keys that are not there and creating none: no file appears.
  run_script(fm, L"quiet", "sc create\nsc get q Missing\nsc open Nothing\nsc enum\nsc del Missing\nsc free\n");
  EXPECT_FALSE(file_exists(fm.SettingsFile()));
  run_script(fm, L"quiet", "sc create\nsc sub Made\nsc free\n");
  ASSERT_TRUE(file_exists(fm.SettingsFile()));
  // The key that exists now is opened, not made: the file is not written again.
  WIN32_FILE_ATTRIBUTE_DATA before{}, after{};
  GetFileAttributesExW(fm.SettingsFile().c_str(), GetFileExInfoStandard, &before);
  Sleep(50);
  run_script(fm, L"quiet", "sc create\nsc sub Made\nsc free\n");
  GetFileAttributesExW(fm.SettingsFile().c_str(), GetFileExInfoStandard, &after);
  EXPECT_EQ(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
  EXPECT_EQ(CompareFileTime(&before.ftCreationTime, &after.ftCreationTime), 0);
}

TEST(Settings, ADamagedFileIsSetAsideAndAGoodOneWrittenInItsPlace) {
  FileManager fm({services_plugin(L"bad", 1, {})}, false);
  BoxWatcher boxes;
  const std::string valid = "[{5758F1A0-7777-8888-0102-030405060701} roaming]\nqword \"Kept\" = 1\n";
  // Each of these would lose or change something if read: the whole file is set aside instead.
  const std::vector<std::string> damaged = {
      valid + "qword \"Big\" = 18446744073709551616\n",
      valid + "string \"Open\" = \"no end\n",
      valid + "text \"Unknown\" = \"type\"\n",
      valid + "data \"Odd\" = abc\n",
      valid + "string \"Nul\" = \"a\\u0000b\"\n",
      "qword \"Orphan\" = 1\n" + valid,
      valid + "[{5758F1A0-7777-8888-0102} roaming]\n",
      valid + "[{5758F1A0-7777-8888-0102-030405060701} nowhere]\n",
      valid + "string \"Utf8\" = \"\xC3\x28\"\n",
      valid + "string \"Surrogate\" = \"\xED\xA0\x80\"\n",
      std::string("\0\0\0\0", 4),
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    write_file(fm.SettingsFile(), damaged[i]);
    fm.Load();
    const auto log = run_script(fm, L"bad", "sc create\nsc get q Kept\nsc set q After " + std::to_string(i) + "\nsc free\n");
    fm.Unload();
    EXPECT_EQ(line_with(log, "sc get q Kept "), "result=0 untouched");
    EXPECT_EQ(line_with(log, "sc free "), "result=1");
    // Kept under a fresh name each time: no earlier .bad file is overwritten.
    const std::wstring aside = fm.SettingsFile() + (i == 0 ? L"" : L"." + std::to_wstring(i + 1)) + L".bad";
    EXPECT_EQ(read_file(aside), damaged[i]);
    EXPECT_EQ(read_file(fm.SettingsFile()).find("qword \"After\" = " + std::to_string(i) + "\n") != std::string::npos, true);
  }
  EXPECT_EQ(read_file(fm.SettingsFile() + L".bad"), damaged[0]);
  // The file written in the damaged one's place is read back as it is.
  fm.Load();
  EXPECT_EQ(line_with(run_script(fm, L"bad", "sc create\nsc get q After\n"), "sc get q After "),
            "result=1 type=q value=" + std::to_string(damaged.size() - 1));
  EXPECT_TRUE(boxes.Texts().empty()) << "no box for a damaged file";
}

TEST(Settings, AChangeThatFindsTheLockTakenIsKeptForTheNextWrite) {
  FileManager fm({services_plugin(L"lock", 1, {})});
  run_script(fm, L"lock", "sc create\nsc set q First 1\nsc free\n");
  ASSERT_TRUE(file_exists(fm.SettingsFile()));
  // Another writer holds the lock file for longer than this one waits.
  HANDLE lock = CreateFileW((fm.SettingsFile() + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const auto held = run_script(fm, L"lock", "sc create\nsc set q Second 2\nsc free\nsc create\nsc get q Second\n");
  EXPECT_EQ(line_with(held, "sc free "), "result=1");
  EXPECT_EQ(line_with(held, "sc get q Second "), "result=1 type=q value=2") << "this process sees it at once";
  EXPECT_EQ(read_file(fm.SettingsFile()).find("Second"), std::string::npos) << "the file is left alone meanwhile";
  CloseHandle(lock);
  // The next write takes the kept change along.
  run_script(fm, L"lock", "sc create\nsc set q Third 3\nsc free\n");
  const std::string text = read_file(fm.SettingsFile());
  for (const char* line : {"qword \"First\" = 1\n", "qword \"Second\" = 2\n", "qword \"Third\" = 3\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST(Settings, AFileThatCannotBeReadNorSetAsideIsNotWrittenOver) {
  FileManager fm({services_plugin(L"held", 1, {})});
  run_script(fm, L"held", "sc create\nsc set q Before 1\nsc free\n");
  // Another program holds the file open and shares nothing: it can be neither read nor renamed.
  HANDLE held = CreateFileW(fm.SettingsFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto log = run_script(fm, L"held", "sc create\nsc set q During 2\nsc free\n");
  EXPECT_EQ(line_with(log, "sc free "), "result=1");
  CloseHandle(held);
  EXPECT_FALSE(file_exists(fm.SettingsFile() + L".bad"));
  // Once it is free again, the next write keeps what the file held and adds what waited.
  run_script(fm, L"held", "sc create\nsc set q After 3\nsc free\n");
  const std::string text = read_file(fm.SettingsFile());
  for (const char* line : {"qword \"Before\" = 1\n", "qword \"During\" = 2\n", "qword \"After\" = 3\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST(Settings, TwoProcessesWritingDifferentKeysBothKeepTheirValues) {
  // Both processes and this one find the file below APPDATA: wcxhost suggests no folder.
  FileManager fm({services_plugin(L"proc", 1, {})}, false);
  fm.SuggestIni(false);
  const std::wstring appdata = fm.Root() + L"appdata";
  CreateDirectoryW(appdata.c_str(), nullptr);
  wchar_t previous[MAX_PATH * 2] = {};
  const bool had_appdata = GetEnvironmentVariableW(L"APPDATA", previous, MAX_PATH * 2) > 0;
  SetEnvironmentVariableW(L"APPDATA", appdata.c_str());
  const std::wstring file = appdata + L"\\Wexlor\\WexlorSettings.txt";
  fm.Load();
  // Seen by this process before the others write.
  EXPECT_EQ(line_with(run_script(fm, L"proc", "sc create\nsc set q Mine 3\nsc free\nsc create\nsc get q FromA\n"),
                      "sc get q FromA "),
            "result=0 untouched");
  ASSERT_TRUE(file_exists(file));

  // Each process makes its settings object, sets its own value, and frees it only once the other
  // has made its object too: neither object saw the other's value when it was made.
  const std::wstring a = fm.WriteArchive(L"a.svc", "WXSVC proc\nsc create\nsc set q FromA 1\ntouch a.ready\nwait b.ready\nsc free\n");
  const std::wstring b = fm.WriteArchive(L"b.svc", "WXSVC proc\nsc create\nsc set q FromB 2\ntouch b.ready\nwait a.ready\nsc free\n");
  const std::wstring host = L"\"" + exe_folder() + L"wcxhost.exe\" --wcx \"" + fm.Root() + qor::kModuleFileName + L"\" list ";
  fm.ClearLog(L"proc", L"services_plugin.dll");
  ProgramRun first, second;
  std::thread one([&] { first = RunProgram(host + L"\"" + a + L"\""); });
  std::thread two([&] { second = RunProgram(host + L"\"" + b + L"\""); });
  one.join();
  two.join();
  EXPECT_EQ(first.status, 0u) << first.err;
  EXPECT_EQ(second.status, 0u) << second.err;
  const auto log = fm.Log(L"proc", L"services_plugin.dll");
  EXPECT_EQ(std::count(log.begin(), log.end(), "sc free result=1"), 2) << ::testing::PrintToString(log);
  EXPECT_EQ(std::count(log.begin(), log.end(), "wait a.ready done") + std::count(log.begin(), log.end(), "wait b.ready done"), 2);

  // Both values are in the file, with this process's own, and this process sees them at its next create.
  const std::string text = read_file(file);
  for (const char* line : {"qword \"FromA\" = 1\n", "qword \"FromB\" = 2\n", "qword \"Mine\" = 3\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  const auto seen = run_script(fm, L"proc", "sc create\nsc get q FromA\nsc get q FromB\nsc get q Mine\n");
  EXPECT_EQ(line_with(seen, "sc get q FromA "), "result=1 type=q value=1");
  EXPECT_EQ(line_with(seen, "sc get q FromB "), "result=1 type=q value=2");
  EXPECT_EQ(line_with(seen, "sc get q Mine "), "result=1 type=q value=3");
  fm.Unload();
  SetEnvironmentVariableW(L"APPDATA", had_appdata ? previous : nullptr);
}

TEST(Settings, HostOptionsAreAReadOnlyViewOfFarDefaults) {
  FileManager fm({services_plugin(L"far", 1, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"far",
                              "sc create far\n"
                              "sc get @16 q Esc\n"
                              // FAR gives the option's own type whatever was asked.
                              "sc get @16 s esc\n"
                              "sc get @17 q PluginMaxReadData\n"
                              "sc get @17 q WORDDIV\n"
                              "sc get @16 q AllowReedit\n"
                              "sc get @17 q Esc\n"
                              "sc get @0 q Esc\n"
                              "sc set @16 q Esc 0\n"
                              "sc del @16 Esc\n"
                              "sc delkey @16\n"
                              "sc sub Mine\n"
                              "sc enum @1\n"
                              "sc enum @15\n"
                              "sc enum @16\n"
                              "sc enum\n"
                              "sc open @0 SavedDialogHistory\n"
                              "sc open @0 OtherHistory\n"
                              "sc open @16 SavedDialogHistory\n"
                              "sc enum @25\n"
                              "sc enum @26\n"
                              "sc get @16 q Esc\n"
                              "sc free\n");
  const std::vector<std::string> expected = {
      "sc create far result=1 handle=k1",
      "sc get @16 q Esc result=1 type=q value=1",
      "sc get @16 s esc result=1 type=q value=1",
      "sc get @17 q PluginMaxReadData result=1 type=q value=131072",
      "sc get @17 q WORDDIV result=1 type=s value=\"~!%^&*()+|{}:\"<>?`-=\\[];',./\"",
      "sc get @16 q AllowReedit result=0 untouched",
      "sc get @17 q Esc result=0 untouched",
      "sc get @0 q Esc result=0 untouched",
      "sc set @16 q Esc result=0",
      "sc del @16 Esc result=0",
      "sc delkey @16 result=0",
      "sc sub Mine -> 0",
      "sc enum @1 result=1 count=0 items=null",
      "sc enum @15 result=1 count=0 items=null",
      "sc enum @16 result=0 count=77 items=untouched",
      "sc enum result=0 count=77 items=untouched",
      "sc open @0 SavedDialogHistory -> 24",
      "sc open @0 OtherHistory -> 25",
      "sc open @16 SavedDialogHistory -> 0",
      "sc enum @25 result=1 count=0 items=null",
      "sc enum @26 result=0 count=77 items=untouched",
      // Writes that failed changed nothing.
      "sc get @16 q Esc result=1 type=q value=1",
      "sc free result=1",
      "done",
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(boxes.Texts().empty()) << "refused writes fail without a box";
}

TEST(Settings, UnknownCommandsStillWarnOnceAndFail) {
  FileManager fm({services_plugin(L"warn", 3, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"warn", "sc create\nsc cmd 99\nsc cmd 8\nsc cmd -1\nsc free\n");
  EXPECT_EQ(line_with(log, "sc cmd 99 "), "result=0");
  EXPECT_EQ(line_with(log, "sc cmd 8 "), "result=0");
  EXPECT_EQ(line_with(log, "sc cmd -1 "), "result=0");
  EXPECT_EQ(line_with(log, "sc free "), "result=1");
  EXPECT_EQ(boxes.Take(), std::vector<std::wstring>(3, L"FarApiSettingsControl"));
}

TEST(Settings, BadHandlesRecordsAndSizesFailSoftly) {
  FileManager fm({services_plugin(L"bad", 4, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"bad",
                              "sc badcreate\n"
                              "sc size 8\n"
                              "sc create\n"
                              "sc size 0\n"
                              "sc create\n"
                              "sc badname\n"
                              "sc sub Fine\n"
                              // Records bigger than today's are accepted, absurd sizes are not.
                              "sc size 4096\n"
                              "sc set q Big 1\n"
                              "sc size 65537\n"
                              "sc set q Huge 1\n"
                              "sc get q Big\n"
                              "sc enum\n"
                              "sc sub Other\n"
                              "sc size 11\n"
                              "sc del Big\n"
                              "sc size 0\n"
                              "sc get q Big\n"
                              "msgbad\n"
                              // What a plugin does after a failed create: keeps using INVALID_HANDLE_VALUE.
                              "sc use invalid\n"
                              "sc get q Big\n"
                              "sc set q Big 2\n"
                              "sc enum\n"
                              "sc sub Late\n"
                              "sc free\n"
                              "sc use k1\n"
                              "sc free\n");
  const std::vector<std::string> expected = {
      "sc badcreate -> 0",
      "sc create result=0 handle=untouched",
      "sc create result=1 handle=k1",
      "sc badname -> 0",
      "sc sub Fine -> k2",
      "sc set q Big result=1",
      "sc set q Huge result=0",
      "sc get q Big result=0 untouched",
      "sc enum result=0 count=77 items=untouched",
      "sc sub Other -> 0",
      "sc del Big result=0",
      "sc get q Big result=1 type=q value=1",
      "msgbad=[]",
      "sc get q Big result=0 untouched",
      "sc set q Big result=0",
      "sc enum result=0 count=77 items=untouched",
      "sc sub Late -> 0",
      "sc free result=0",
      "sc free result=1",
      "done",
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(Settings, ThreadsOfTwoPluginsMakeRoundTripsAtOnce) {
  FileManager fm({services_plugin(L"ta", 1, {}), services_plugin(L"tb", 2, {})});
  BoxWatcher boxes;
  const std::wstring a = fm.WriteArchive(L"threads_a.svc", "WXSVC ta\nsc threads 4 40\n");
  const std::wstring b = fm.WriteArchive(L"threads_b.svc", "WXSVC tb\nsc threads 4 40\n");
  int open_a = -1, open_b = -1;
  std::thread first([&] { ListArchive(fm, a, &open_a); });
  std::thread second([&] { ListArchive(fm, b, &open_b); });
  first.join();
  second.join();
  EXPECT_EQ(open_a, 0);
  EXPECT_EQ(open_b, 0);
  // Per thread: create and sub-key, 9 checks a round, delete, open and free at the end.
  const std::string all_good = "good=" + std::to_string(4 * (2 + 40 * 9 + 3)) + " bad=0";
  EXPECT_EQ(line_with(fm.Log(L"ta", L"services_plugin.dll"), "sc threads "), all_good);
  EXPECT_EQ(line_with(fm.Log(L"tb", L"services_plugin.dll"), "sc threads "), all_good);
  // Each plugin's root holds its own threads' values only (in the order the threads got there).
  const std::string listed = line_with(run_script(fm, L"ta", "sc create\nsc enum\n"), "sc enum ");
  EXPECT_EQ(listed.substr(0, 17), "result=1 count=4 ") << listed;
  for (const char* name : {" shared0:q", " shared1:q", " shared2:q", " shared3:q"})
    EXPECT_NE(listed.find(name), std::string::npos) << listed;
  EXPECT_EQ(line_with(run_script(fm, L"tb", "sc create\nsc get q shared2\n"), "sc get q shared2 "),
            "result=1 type=q value=2000039");
  // The file took every thread's values: read back whole after a reload.
  fm.Unload();
  fm.Load();
  EXPECT_EQ(line_with(run_script(fm, L"ta", "sc create\nsc enum\n"), "sc enum "), listed);
  EXPECT_EQ(line_with(run_script(fm, L"tb", "sc create\nsc get q shared2\n"), "sc get q shared2 "),
            "result=1 type=q value=2000039");
  EXPECT_TRUE(boxes.Texts().empty());
}

namespace {

// What keeps a change from the file for a while: another writer's lock file, or another program
// holding the file itself open without sharing it (it can be neither read nor set aside).
enum class Blocker { Lock, HeldFile };
// When it must get there at the latest: the next settings call (an object that changes nothing),
// or the module's unload.
enum class Flush { NextCall, Unload };

HANDLE block(FileManager& AFm, Blocker ABlocker) {
  if (ABlocker == Blocker::Lock)
    return CreateFileW((AFm.SettingsFile() + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                       FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  return CreateFileW(AFm.SettingsFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool has_line(const std::string& AText, const std::string& ALine) { return AText.find(ALine) != std::string::npos; }

}  // namespace

TEST(Settings, AChangePutOffIsWrittenAtTheNextSettingsCallOrAtTheLatestAtUnload) {
  struct Case {
    const char* name;
    Blocker blocker;
    Flush flush;
  };
  const Case cases[] = {
      {"lock held, next call", Blocker::Lock, Flush::NextCall},
      {"lock held, unload", Blocker::Lock, Flush::Unload},
      {"file held, next call", Blocker::HeldFile, Flush::NextCall},
      {"file held, unload", Blocker::HeldFile, Flush::Unload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileManager fm({services_plugin(L"late", 1, {})});
    run_script(fm, L"late", "sc create\nsc set q Before 1\nsc free\n");
    HANDLE blocker = block(fm, c.blocker);
    ASSERT_NE(blocker, INVALID_HANDLE_VALUE);
    const auto put_off = run_script(fm, L"late", "sc create\nsc set q Later 2\nsc free\n");
    EXPECT_EQ(line_with(put_off, "sc free "), "result=1");
    CloseHandle(blocker);
    EXPECT_FALSE(has_line(read_file(fm.SettingsFile()), "Later")) << "put off";
    if (c.flush == Flush::NextCall) {
      const auto next = run_script(fm, L"late", "sc create\nsc get q Later\nsc free\n");
      EXPECT_EQ(line_with(next, "sc get q Later "), "result=1 type=q value=2");
    } else {
      fm.Unload();
    }
    const std::string text = read_file(fm.SettingsFile());
    EXPECT_TRUE(has_line(text, "qword \"Before\" = 1\n")) << text;
    EXPECT_TRUE(has_line(text, "qword \"Later\" = 2\n")) << text;
    EXPECT_FALSE(file_exists(fm.SettingsFile() + L".bad"));
  }
}

TEST(Settings, ALockFileBeingDeletedIsWaitedFor) {
  FileManager fm({services_plugin(L"del", 1, {})});
  run_script(fm, L"del", "sc create\nsc set q Before 1\nsc free\n");
  // Another writer's lock file on its way out: marked for deletion, still open.
  HANDLE lock = CreateFileW((fm.SettingsFile() + L".lock").c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                            FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  FILE_DISPOSITION_INFO deleting{TRUE};
  ASSERT_TRUE(SetFileInformationByHandle(lock, FileDispositionInfo, &deleting, sizeof(deleting)));
  // Gone while the plugin's object is being freed: a writer that waits for the lock gets it then.
  const std::wstring ready = fm.PluginFile(L"del", L"del.ready");
  std::thread holder([&] {
    for (int i = 0; i < 2000 && !file_exists(ready); ++i) Sleep(10);
    Sleep(500);
    CloseHandle(lock);
  });
  const auto log = run_script(fm, L"del", "sc create\nsc set q During 2\ntouch del.ready\nsc free\n");
  holder.join();
  EXPECT_EQ(line_with(log, "sc free "), "result=1");
  const std::string text = read_file(fm.SettingsFile());
  EXPECT_TRUE(has_line(text, "qword \"Before\" = 1\n")) << text;
  EXPECT_TRUE(has_line(text, "qword \"During\" = 2\n")) << "written by that free, not put off: " << text;
}

TEST(Settings, AValueTooBigForTheReaderIsRefusedAndTheFileStaysReadable) {
  // Data takes two hex digits a byte: 17,000,000 bytes fill more than half of the 64 MiB a reader
  // takes, 34,000,000 more than all of it.
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::pair<std::string, std::string>> results;
  };
  const std::string other = "{5758F1A0-7777-8888-0102-030405060702}";
  const Case cases[] = {
      {"one value bigger than a file may be",
       "sc create\nsc set q Mine 1\nsc set dfill Huge 34000000\nsc free\n",
       {{"sc set dfill Huge ", "result=0"}, {"sc free ", "result=1"}}},
      // Each fits when set; together they do not: the object freed last keeps nothing of its own.
      {"two objects that fit alone",
       "sc create\nsc set q Mine 1\nsc set dfill First 17000000\nsc create guid " + other +
           "\nsc set dfill Second 17000000\nsc free\nsc use k1\nsc free\n",
       {{"sc set dfill First ", "result=1"}, {"sc set dfill Second ", "result=1"}}},
      // The file as it is now leaves no room for another such value.
      {"a value the file has no room left for",
       "sc create\nsc set dfill Third 17000000\nsc set q After 3\nsc free\n",
       {{"sc set dfill Third ", "result=0"}, {"sc set q After ", "result=1"}}},
  };
  // The other plugin is loaded: settings are only created for plugins that are.
  FileManager fm({services_plugin(L"big", 1, {}), services_plugin(L"other", 2, {})});
  run_script(fm, L"big", "sc create guid " + other + "\nsc set q Theirs 7\nsc free\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto log = run_script(fm, L"big", c.script);
    for (const auto& [prefix, result] : c.results) EXPECT_EQ(line_with(log, prefix), result) << prefix;
  }
  // A module loaded again reads the file whole: the other plugin's values are all there.
  fm.Unload();
  fm.Load();
  const auto mine =
      run_script(fm, L"big", "sc create\nsc enum\nsc create guid " + other + "\nsc get q Theirs\nsc units d Second\n");
  EXPECT_EQ(line_with(mine, "sc enum "), "result=1 count=2 Mine:q After:q");
  EXPECT_EQ(line_with(mine, "sc get q Theirs "), "result=1 type=q value=7");
  EXPECT_EQ(line_with(mine, "sc units d Second ").substr(0, 21), "result=1 len=17000000");
  EXPECT_FALSE(file_exists(fm.SettingsFile() + L".bad"));
}
