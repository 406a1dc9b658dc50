// The ANSI entry points under a double-byte code page (932): names are cut so that the field ends
// with a NUL and never with half of a double-byte character; ANSI paths with double-byte
// characters open, detect and extract. Run with LC_ALL=ja_JP.UTF-8 and TZ=Asia/Tokyo.
#include <gtest/gtest.h>

#include "archive_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};

std::string to_acp(const std::wstring& AText) {
  std::string out(AText.size() * 2 + 1, '\0');
  const int n = WideCharToMultiByte(CP_ACP, 0, AText.c_str(), -1, out.data(), (int)out.size(), nullptr, nullptr);
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

// No byte of the text is a dangling lead byte.
bool whole_characters(const std::string& AText) {
  for (size_t i = 0; i < AText.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(AText[i]))) {
      if (i + 1 >= AText.size()) return false;
      ++i;
    }
  }
  return true;
}

const std::string kSun = "\xE6\x97\xA5";  // U+65E5 in UTF-8, two bytes in code page 932

}  // namespace

TEST(Dbcs, ProcessRunsInCodePage932AndTokyoTime) {
  ASSERT_EQ(GetACP(), 932u);
  TIME_ZONE_INFORMATION tz{};
  GetTimeZoneInformation(&tz);
  EXPECT_EQ(tz.Bias, -540);
}

TEST(Dbcs, NamesAreCutBeforeADoubleByteCharacterThatDoesNotFit) {
  ASSERT_EQ(GetACP(), 932u);
  FileManager fm({kFull});
  struct Case {
    std::string script_name;
    std::wstring wide;
    size_t ex_bytes, bytes;  // expected lengths in ReadHeaderEx and ReadHeader
  } cases[] = {
      {std::string(1022, 'a') + kSun, std::wstring(1022, L'a') + L"\u65e5", 1022, 259},
      {std::string(1021, 'a') + kSun, std::wstring(1021, L'a') + L"\u65e5", 1023, 259},
      {std::string(258, 'b') + kSun + kSun, std::wstring(258, L'b') + L"\u65e5\u65e5", 262, 258},
      {std::string(257, 'c') + kSun, std::wstring(257, L'c') + L"\u65e5", 259, 259},
      {kSun + kSun + ".txt", L"\u65e5\u65e5.txt", 8, 8},
  };
  std::string script = "WXFIX\n";
  for (const auto& c : cases) script += "file " + c.script_name + " size=1\n";
  const std::wstring archive = fm.WriteArchive(L"a.fix", script);
  for (int shape = 0; shape < 2; ++shape) {
    HANDLE h = open_archive_ansi(fm, to_acp(archive), wcx::PK_OM_LIST);
    ASSERT_NE(h, nullptr);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(shape) + " " + std::to_string(c.ex_bytes));
      const std::string full = to_acp(c.wide);
      std::string got;
      if (shape == 0) {
        auto header = std::make_unique<wcx::tHeaderDataEx>();
        std::memset(header.get(), 0x55, sizeof(*header));
        ASSERT_EQ(fm.ReadHeaderEx(h, header.get()), 0);
        ASSERT_EQ(header->FileName[sizeof(header->FileName) - 1], 0);
        got = header->FileName;
        EXPECT_EQ(got.size(), c.ex_bytes);
      } else {
        wcx::tHeaderData header;
        std::memset(&header, 0x55, sizeof(header));
        ASSERT_EQ(fm.ReadHeader(h, &header), 0);
        ASSERT_EQ(header.FileName[sizeof(header.FileName) - 1], 0);
        got = header.FileName;
        EXPECT_EQ(got.size(), c.bytes);
      }
      EXPECT_EQ(got, full.substr(0, got.size()));
      EXPECT_TRUE(whole_characters(got));
      fm.ProcessFile(h, wcx::PK_SKIP, nullptr, nullptr);
    }
    EXPECT_EQ(fm.CloseArchive(h), 0);
  }
}

TEST(Dbcs, AnsiPathsWithDoubleByteCharactersDetectOpenAndExtract) {
  ASSERT_EQ(GetACP(), 932u);
  FileManager fm({kFull});
  const std::string t = std::to_string(kJune2021);
  const std::wstring archive =
      fm.WriteArchive(L"\u65e5\u672c.fix", "WXFIX\ndir " + kSun + " time=" + t + "\nfile " + kSun + "\\" + kSun +
                                               ".txt data=sun\n");
  const std::wstring dest = fm.Root() + L"\u51fa\u529b\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  CreateDirectoryW((dest + L"\u65e5").c_str(), nullptr);
  const std::string path = to_acp(archive);
  EXPECT_EQ(fm.CanYouHandleThisFile(path.c_str()), -1);
  HANDLE h = open_archive_ansi(fm, path, wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  wcx::tHeaderData header{};
  ASSERT_EQ(fm.ReadHeader(h, &header), 0);
  EXPECT_EQ(std::string(header.FileName), to_acp(L"\u65e5"));
  // Tokyo is nine hours ahead of UTC all year.
  EXPECT_EQ(header.FileTime, dos_time(2021, 6, 15, 22, 45, 30));
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_SKIP, nullptr, nullptr), 0);
  ASSERT_EQ(fm.ReadHeader(h, &header), 0);
  EXPECT_EQ(std::string(header.FileName), to_acp(L"\u65e5\\\u65e5.txt"));
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, to_acp(dest).c_str(), header.FileName), 0);
  EXPECT_EQ(fm.ReadHeader(h, &header), wcx::E_END_ARCHIVE);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(read_file(dest + L"\u65e5\\\u65e5.txt"), "sun");
}

// In code page 932 the byte of '\' is the yen sign: a name with a yen sign is no path of two
// names in the ANSI header, and it is extracted as one file inside the target.
TEST(Dbcs, AYenSignNeverBecomesASeparator) {
  ASSERT_EQ(GetACP(), 932u);
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"yen.fix", "WXFIX\nfile ..\xC2\xA5..\xC2\xA5" "evil.txt data=evil\n");
  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  HANDLE h = open_archive_ansi(fm, to_acp(archive), wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  wcx::tHeaderDataEx header{};
  ASSERT_EQ(fm.ReadHeaderEx(h, &header), 0);
  EXPECT_EQ(std::string(header.FileName), ".._.._evil.txt");
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, to_acp(dest).c_str(), header.FileName), 0);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(read_file(dest + L".._.._evil.txt"), "evil");
  EXPECT_FALSE(file_exists(fm.Root() + L"evil.txt"));
}
