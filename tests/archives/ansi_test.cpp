// The ANSI entry points in a single-byte code page: names converted through the system ANSI code
// page, cut so that the field always ends with a NUL, numbers copied (high parts dropped by
// ReadHeader).
#include <gtest/gtest.h>

#include "archive_util.h"

using namespace wxt;

namespace {

const PluginSpec kFull{L"Fix", L"fixture_full.dll"};

// As the module converts: no look-alikes, '_' for what the code page lacks.
std::string cp1252(const std::wstring& AText) {
  std::string out(AText.size() * 2 + 1, '\0');
  const int n = WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, AText.c_str(), -1, out.data(), (int)out.size(), "_",
                                    nullptr);
  out.resize(n > 0 ? n - 1 : 0);
  return out;
}

}  // namespace

TEST(Ansi, ProcessRunsInCodePage1252) { ASSERT_EQ(GetACP(), 1252u); }

TEST(Ansi, HeadersInAllThreeRecordShapes) {
  FileManager fm({kFull});
  const std::string t = std::to_string(kJune2021);
  const std::string long_name(1500, 'L');
  // Names are UTF-8 in the fixture script.
  const std::wstring archive =
      fm.WriteArchive(L"a.fix", "WXFIX\n"
                                "dir \xC3\xBC" "ber time=" + t + "\n"
                                "file \xC3\xBC" "ber\\\xE6\x97\xA5.txt size=5000000000 alloc=4294967297 attr=0x21\n"
                                "file " + long_name + " size=3\n");
  struct Expected {
    std::string name_ex, name;
    unsigned size_ex, size_high, packed, packed_high;
    int attr, time;
  } expected[] = {
      {cp1252(L"\u00fcber"), cp1252(L"\u00fcber"), 0, 0, 0, 0, 0x10, dos_time(2021, 6, 15, 13, 45, 30)},
      {cp1252(L"\u00fcber\\_.txt"), cp1252(L"\u00fcber\\_.txt"), 705032704u, 1, 1, 1, 0x21, 0},
      {std::string(1023, 'L'), std::string(259, 'L'), 3, 0, 0, 0, 0x20, 0},
  };
  for (int shape = 0; shape < 2; ++shape) {
    SCOPED_TRACE(shape == 0 ? "ReadHeaderEx" : "ReadHeader");
    int opened = -1;
    HANDLE h = open_archive_ansi(fm, narrow(archive), wcx::PK_OM_LIST, &opened);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(opened, 0);
    for (const auto& e : expected) {
      SCOPED_TRACE(e.name_ex.substr(0, 20));
      if (shape == 0) {
        auto header = std::make_unique<wcx::tHeaderDataEx>();
        std::memset(header.get(), 0x55, sizeof(*header));
        ASSERT_EQ(fm.ReadHeaderEx(h, header.get()), 0);
        EXPECT_EQ(std::string(header->FileName), e.name_ex);
        for (size_t i = e.name_ex.size(); i < sizeof(header->FileName); ++i) ASSERT_EQ(header->FileName[i], 0);
        EXPECT_EQ(header->ArcName[0], 0);
        EXPECT_EQ(header->UnpSize, e.size_ex);
        EXPECT_EQ(header->UnpSizeHigh, e.size_high);
        EXPECT_EQ(header->PackSize, e.packed);
        EXPECT_EQ(header->PackSizeHigh, e.packed_high);
        EXPECT_EQ(header->FileAttr, e.attr);
        EXPECT_EQ(header->FileTime, e.time);
        EXPECT_EQ(header->CmtBuf, nullptr);
        for (char c : header->Reserved) ASSERT_EQ(c, 0);
      } else {
        wcx::tHeaderData header;
        std::memset(&header, 0x55, sizeof(header));
        ASSERT_EQ(fm.ReadHeader(h, &header), 0);
        EXPECT_EQ(std::string(header.FileName), e.name);
        EXPECT_EQ(header.FileName[259], 0);
        EXPECT_EQ(header.ArcName[0], 0);
        EXPECT_EQ(static_cast<unsigned>(header.UnpSize), e.size_ex);
        EXPECT_EQ(static_cast<unsigned>(header.PackSize), e.packed);
        EXPECT_EQ(header.FileAttr, e.attr);
        EXPECT_EQ(header.FileTime, e.time);
        EXPECT_EQ(header.CmtBuf, nullptr);
        EXPECT_EQ(header.CmtBufSize | header.CmtSize | header.CmtState, 0);
      }
      EXPECT_EQ(fm.ProcessFile(h, wcx::PK_SKIP, nullptr, nullptr), 0);
    }
    wcx::tHeaderData end{};
    EXPECT_EQ(fm.ReadHeader(h, &end), wcx::E_END_ARCHIVE);
    EXPECT_EQ(fm.CloseArchive(h), 0);
  }
}

TEST(Ansi, ExtractThroughTheAnsiEntryPoints) {
  FileManager fm({kFull});
  const std::wstring archive = fm.WriteArchive(L"\u00e4rchiv.fix", "WXFIX\nfile f.txt data=ansi\n");
  const std::wstring dest = fm.Root() + L"\u00f6ut\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  const std::string path = cp1252(archive);
  EXPECT_EQ(fm.CanYouHandleThisFile(path.c_str()), -1);
  HANDLE h = open_archive_ansi(fm, path, wcx::PK_OM_EXTRACT);
  ASSERT_NE(h, nullptr);
  wcx::tHeaderData header{};
  ASSERT_EQ(fm.ReadHeader(h, &header), 0);
  EXPECT_EQ(fm.ProcessFile(h, wcx::PK_EXTRACT, cp1252(dest).c_str(), header.FileName), 0);
  EXPECT_EQ(fm.ReadHeader(h, &header), wcx::E_END_ARCHIVE);
  EXPECT_EQ(fm.CloseArchive(h), 0);
  EXPECT_EQ(read_file(dest + L"f.txt"), "ansi");
}
