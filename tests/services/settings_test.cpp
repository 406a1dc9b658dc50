// The settings service as plugins see it through SettingsControl of the built module.
#include <gtest/gtest.h>

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
                                "sc get q Shared\n");
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

TEST(Settings, ValuesLiveAsLongAsTheModuleAndNeverReachTheDisk) {
  FileManager fm({services_plugin(L"life", 1, {})});
  run_script(fm, L"life", "sc create\nsc set q Kept 7\nsc free\n");
  EXPECT_EQ(line_with(run_script(fm, L"life", "sc create\nsc get q Kept\n"), "sc get q Kept "),
            "result=1 type=q value=7");
  // Loaded again, the module starts with empty settings: nothing was written anywhere to be read back.
  fm.Unload();
  fm.Load();
  EXPECT_EQ(line_with(run_script(fm, L"life", "sc create\nsc get q Kept\n"), "sc get q Kept "), "result=0 untouched");
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
  EXPECT_TRUE(boxes.Texts().empty());
}
