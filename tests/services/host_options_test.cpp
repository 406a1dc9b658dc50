// An archive plugin that, like real ones, reads the host's Confirmations/Esc before it accepts
// an archive and keeps its own options in the host's settings, driven through the built module.
#include <gtest/gtest.h>

#include "../archives/archive_util.h"
#include "services_support.h"

using namespace wxt;
using namespace svc;

namespace {

PluginSpec options_plugin(const std::string& AConfig = "") {
  return PluginSpec{L"opt", L"options_plugin.dll", L"", {{L"options.cfg", AConfig}}};
}

std::vector<std::string> plugin_log(FileManager& AFm) { return AFm.Log(L"opt", L"options_plugin.dll"); }

const char kArchive[] = "WXOPT\nfile readme.txt Read me first\nfile data.bin 0123456789\n";

}  // namespace

TEST(HostOptions, PluginThatReadsEscIsDetectedListedAndExtracted) {
  FileManager fm({options_plugin()});
  BoxWatcher boxes;
  const std::wstring archive = fm.WriteArchive(L"first.opt", kArchive);
  const std::wstring other = fm.WriteArchive(L"other.txt", "not an archive of this plugin\n");
  EXPECT_NE(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  EXPECT_EQ(fm.CanYouHandleThisFileW(other.c_str()), 0);

  int open_result = -1;
  const auto entries = ListArchive(fm, archive, &open_result);
  EXPECT_EQ(open_result, 0);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, L"readme.txt");
  EXPECT_EQ(entries[0].size, 13u);
  EXPECT_EQ(entries[1].name, L"data.bin");

  const std::wstring dest = fm.Root() + L"\\out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  EXPECT_EQ(extract_entries(fm, archive, dest, {}),
            (std::vector<std::string>{"readme.txt=0", "data.bin=0", "end=10", "close=0"}));
  EXPECT_EQ(read_file(dest + L"readme.txt"), "Read me first");
  EXPECT_EQ(read_file(dest + L"data.bin"), "0123456789");

  const auto log = plugin_log(fm);
  EXPECT_EQ(count_prefix(log, "AnalyseW esc=1 accepted"), 3) << "the check, the listing and the extraction";
  EXPECT_EQ(count_prefix(log, "AnalyseW esc=1 refused"), 1);
  EXPECT_EQ(count_prefix(log, "AnalyseW esc=failed"), 0);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(HostOptions, PluginOptionsSurviveFromOneArchiveToTheNext) {
  FileManager fm({options_plugin()});
  BoxWatcher boxes;
  for (const wchar_t* name : {L"first.opt", L"second.opt", L"first.opt"}) {
    int open_result = -1;
    ListArchive(fm, fm.WriteArchive(name, kArchive), &open_result);
    EXPECT_EQ(open_result, 0);
  }
  std::vector<std::string> opened;
  for (const auto& line : plugin_log(fm))
    if (line.rfind("OpenW ", 0) == 0 || line.rfind("ClosePanelW ", 0) == 0) opened.push_back(line);
  const std::vector<std::string> expected = {
      "OpenW opens=0 last=none profiles: none",
      "ClosePanelW saved=1",
      "OpenW opens=1 last=first profiles: first=first.opt",
      "ClosePanelW saved=1",
      "OpenW opens=2 last=second profiles: first=first.opt second=second.opt",
      "ClosePanelW saved=1",
  };
  EXPECT_EQ(opened, expected);
  EXPECT_TRUE(boxes.Texts().empty());
}

TEST(HostOptions, PluginRefusesEveryArchiveWhenTheReadFails) {
  // A name FAR keeps private: the read fails as it did when the host answered no read at all.
  FileManager fm({options_plugin("escname=EscTwiceToInterrupt\n")});
  BoxWatcher boxes;
  const std::wstring archive = fm.WriteArchive(L"first.opt", kArchive);
  EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), 0);
  int open_result = -1;
  EXPECT_TRUE(ListArchive(fm, archive, &open_result).empty());
  EXPECT_NE(open_result, 0);
  const auto log = plugin_log(fm);
  EXPECT_GE(count_prefix(log, "AnalyseW esc=failed"), 2);
  EXPECT_EQ(count_prefix(log, "AnalyseW esc=1"), 0);
  EXPECT_TRUE(boxes.Texts().empty());
}
