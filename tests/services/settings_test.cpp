// The settings service as a plugin sees it through SettingsControl of the built module.
#include <gtest/gtest.h>

#include "services_support.h"

using namespace wxt;
using namespace svc;

TEST(Settings, CreateSubKeysEnumerateReadAndFree) {
  FileManager fm({services_plugin(L"set", 1, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"set",
                              "sc create\n"
                              "sc sub Alpha\n"
                              "sc sub ALPHA\n"
                              "sc sub alpha\n"
                              "sc sub Beta\n"
                              // A root field naming a sub-key still creates below the settings object.
                              "sc sub Gamma k2\n"
                              "sc sub GAMMA\n"
                              "sc subnull\n"
                              "sc sub \n"
                              "sc enum\n"
                              "sc get\n"
                              "sc free\n"
                              // The freed object's id is no longer accepted.
                              "sc sub Delta\n"
                              "sc free0\n");
  const std::vector<std::string> expected = {
      "sc create result=k1 handle=k1",
      "sc sub Alpha -> k2",
      "sc sub ALPHA -> k2",
      "sc sub alpha -> k2",
      "sc sub Beta -> k3",
      "sc sub Gamma -> k4",
      "sc sub GAMMA -> k4",
      "sc subnull -> k5",
      "sc sub  -> k5",
      "sc enum result=1 count=0 items=untouched",
      "sc get result=0 number=1234",
      "sc free result=1",
      "sc sub Delta -> 0",
      "sc free0 result=1",
      "done",
  };
  EXPECT_EQ(log, expected);
  EXPECT_TRUE(boxes.Texts().empty()) << "create, sub-key, enum, get and free warn about nothing";
}

TEST(Settings, UnofferedCommandsWarnOnceAndFail) {
  FileManager fm({services_plugin(L"warn", 3, {})});
  BoxWatcher boxes;
  const auto log = run_script(fm, L"warn", "sc create\nsc set\nsc delete\nsc open\nsc cmd 99\nsc cmd -1\nsc free\n");
  EXPECT_EQ(line_with(log, "sc set "), "result=0");
  EXPECT_EQ(line_with(log, "sc delete "), "result=0");
  EXPECT_EQ(line_with(log, "sc open "), "result=0");
  EXPECT_EQ(line_with(log, "sc cmd 99 "), "result=0");
  EXPECT_EQ(line_with(log, "sc cmd -1 "), "result=0");
  EXPECT_EQ(line_with(log, "sc free "), "result=1");
  EXPECT_EQ(boxes.Take(), std::vector<std::wstring>(5, L"FarApiSettingsControl"));
}

TEST(Settings, UnreadableRecordsFailInsteadOfCrashing) {
  FileManager fm({services_plugin(L"bad", 4, {})});
  const auto log = run_script(fm, L"bad", "sc badcreate\nsc create\nsc badname\nsc sub Fine\nmsgbad\nsc free\n");
  EXPECT_EQ(log, (std::vector<std::string>{"sc badcreate -> 0", "sc create result=k1 handle=k1", "sc badname -> 0",
                                           "sc sub Fine -> k2", "msgbad=[]", "sc free result=1", "done"}));
}
