// The sample Tar plugin hosted by the module: archives made by the system's tar at build time and
// archives written here field by field, well-formed and malformed.
#include <gtest/gtest.h>

#include <cstdio>

#include "archive_util.h"
#include "common/qorTarget.h"

using namespace wxt;

namespace {

const PluginSpec kTar{L"Tar", std::wstring(qor::kPluginsFolder) + L"\\Tar\\Tar.dll", L"Tar.dll"};

// Writes tar records field by field.
class TarWriter {
 public:
  struct Header {
    std::string name;
    unsigned long long size = 0;
    char type = '0';
    unsigned long long mtime = 1700000000;
    std::string link, prefix;
    bool gnu = false, no_magic = false, base256_size = false;
    std::string raw_size;  // replaces the size field's text when set
  };

  TarWriter& header(const Header& AHeader, int AChecksumDelta = 0) {
    unsigned char b[512] = {};
    std::memcpy(b, AHeader.name.data(), std::min<size_t>(AHeader.name.size(), 100));
    std::memcpy(b + 100, "0000644", 8);
    std::memcpy(b + 108, "0000000", 8);
    std::memcpy(b + 116, "0000000", 8);
    if (!AHeader.raw_size.empty()) {
      std::memcpy(b + 124, AHeader.raw_size.data(), std::min<size_t>(AHeader.raw_size.size(), 12));
    } else if (AHeader.base256_size) {
      b[124] = 0x80;
      for (int i = 0; i < 8; ++i) b[135 - i] = (unsigned char)(AHeader.size >> (8 * i));
    } else {
      std::snprintf((char*)b + 124, 12, "%011llo", AHeader.size);
    }
    std::snprintf((char*)b + 136, 12, "%011llo", AHeader.mtime);
    b[156] = (unsigned char)AHeader.type;
    std::memcpy(b + 157, AHeader.link.data(), std::min<size_t>(AHeader.link.size(), 100));
    if (AHeader.gnu) {
      std::memcpy(b + 257, "ustar  ", 8);
    } else if (!AHeader.no_magic) {
      std::memcpy(b + 257, "ustar", 6);
      std::memcpy(b + 263, "00", 2);
      std::memcpy(b + 345, AHeader.prefix.data(), std::min<size_t>(AHeader.prefix.size(), 155));
    }
    unsigned sum = 0;
    std::memset(b + 148, ' ', 8);
    for (unsigned char c : b) sum += c;
    std::snprintf((char*)b + 148, 8, "%06o", sum + AChecksumDelta);
    FBytes.append((const char*)b, 512);
    return *this;
  }
  TarWriter& data(const std::string& AData) {
    FBytes += AData;
    FBytes.append((512 - AData.size() % 512) % 512, '\0');
    return *this;
  }
  TarWriter& file(const std::string& AName, const std::string& AData, unsigned long long AMtime = 1700000000) {
    Header h;
    h.name = AName;
    h.size = AData.size();
    h.mtime = AMtime;
    return header(h).data(AData);
  }
  TarWriter& end() {
    FBytes.append(1024, '\0');
    return *this;
  }
  const std::string& bytes() const { return FBytes; }

 private:
  std::string FBytes;
};

std::string pax_record(const std::string& AKey, const std::string& AValue) {
  const std::string body = " " + AKey + "=" + AValue + "\n";
  size_t length = body.size() + 1;
  while (std::to_string(length).size() + body.size() != length) ++length;
  return std::to_string(length) + body;
}

std::wstring unix_to_windows(std::string APath) {
  for (auto& c : APath)
    if (c == '/') c = '\\';
  return L"Z:" + widen(APath);
}

// Every file below AFolder (relative names with '\'), recursively.
void collect_files(const std::wstring& AFolder, const std::wstring& ARelative, std::vector<std::wstring>& AOut) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((AFolder + ARelative + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      collect_files(AFolder, ARelative + name + L"\\", AOut);
    else
      AOut.push_back(ARelative + name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

std::vector<std::wstring> names_of(const std::vector<ListedEntry>& AEntries) {
  std::vector<std::wstring> names;
  for (const auto& e : AEntries) names.push_back(e.name);
  return names;
}

}  // namespace

TEST(Tar, ArchivesMadeBySystemTarExtractToTheOriginalBytes) {
  const std::wstring sample = unix_to_windows(WEXLOR_SOURCE_DIR "/samples/tar/sample/");
  std::vector<std::wstring> originals;
  collect_files(sample, L"", originals);
  ASSERT_GE(originals.size(), 5u);
  for (const wchar_t* tar : {L"sample.tar", L"sample-pax.tar"}) {
    SCOPED_TRACE(narrow(tar));
    FileManager fm({kTar});
    const std::wstring archive = exe_folder() + tar;
    EXPECT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
    int last = 0;
    const auto entries = ListArchive(fm, archive, nullptr, &last);
    EXPECT_EQ(last, wcx::E_END_ARCHIVE);
    size_t files = 0;
    for (const auto& e : entries) {
      // Packed with --mtime=2024-03-01T12:00:00Z; the test process runs in UTC.
      EXPECT_EQ(e.time, dos_time(2024, 3, 1, 12, 0, 0)) << narrow(e.name);
      if (e.attr & FILE_ATTRIBUTE_DIRECTORY) continue;
      ++files;
      EXPECT_EQ(e.size, read_file(sample + e.name.substr(7)).size()) << narrow(e.name);
    }
    EXPECT_EQ(files, originals.size());
    const std::wstring dest = fm.Root() + L"out\\";
    CreateDirectoryW(dest.c_str(), nullptr);
    const auto results = extract_entries(fm, archive, dest, {});
    EXPECT_EQ(results.back(), "close=0");
    for (const auto& r : results) EXPECT_EQ(r.substr(r.size() - 2), r.compare(0, 4, "end=") ? "=0" : "10") << r;
    std::vector<std::wstring> extracted;
    collect_files(dest + L"sample\\", L"", extracted);
    EXPECT_EQ(extracted.size(), originals.size());
    for (const auto& name : originals)
      EXPECT_EQ(read_file(dest + L"sample\\" + name), read_file(sample + name)) << narrow(name);
  }
}

TEST(Tar, HeaderVariantsListWithTheirPathsSizesAndTimes) {
  const std::string long_name = "long/" + std::string(180, 'n') + ".txt";
  TarWriter::Header prefixed;
  prefixed.name = "r.txt";
  prefixed.prefix = "p/q";
  prefixed.size = 3;
  TarWriter::Header gnu_long;
  gnu_long.name = "././@LongLink";
  gnu_long.type = 'L';
  gnu_long.gnu = true;
  gnu_long.size = long_name.size() + 1;
  TarWriter::Header after_long;
  after_long.name = "truncated";
  after_long.gnu = true;
  after_long.size = 4;
  const std::string pax = pax_record("path", "pax/\xC3\xBCnicode.txt") + pax_record("size", "5") +
                          pax_record("mtime", "1600000000.25") + pax_record("comment", "ignored");
  TarWriter::Header pax_header;
  pax_header.name = "PaxHeaders/x";
  pax_header.type = 'x';
  pax_header.size = pax.size();
  TarWriter::Header paxed;
  paxed.name = "short-name-overridden";
  paxed.size = 0;  // the pax size wins
  TarWriter::Header binary;
  binary.name = "b256.bin";
  binary.size = 6;
  binary.base256_size = true;
  TarWriter::Header hard;
  hard.name = "hard.txt";
  hard.type = '1';
  hard.link = "p/q/r.txt";
  TarWriter::Header symlink;
  symlink.name = "sym";
  symlink.type = '2';
  symlink.link = "r.txt";
  TarWriter::Header v7dir;
  v7dir.name = "olddir/";
  v7dir.type = '\0';
  v7dir.no_magic = true;
  TarWriter::Header dir;
  dir.name = "emptydir/";
  dir.type = '5';
  dir.mtime = 1500000000;

  TarWriter tar;
  tar.header(prefixed).data("pqr");
  tar.header(gnu_long).data(long_name + '\0').header(after_long).data("long");
  tar.header(pax_header).data(pax).header(paxed).data("paxed");
  tar.header(binary).data("base-2");
  tar.header(hard).header(symlink).header(v7dir).header(dir);
  tar.file("../escape.txt", "no").file("/abs/olute.txt", "abs").file("we\\ird:name", "w");
  tar.file("dup.txt", "first").file("dup.txt", "second!", 1800000000);
  tar.end();

  FileManager fm({kTar});
  const std::wstring archive = fm.WriteArchive(L"variants.tar", tar.bytes());
  const auto entries = ListArchive(fm, archive);
  const int t1700 = dos_time(2023, 11, 14, 22, 13, 20);
  struct Expected {
    std::wstring name;
    unsigned long long size;
    int time, attr;
  } expected[] = {
      {L"p", 0, 0, 0x10},
      {L"p\\q", 0, 0, 0x10},
      {L"p\\q\\r.txt", 3, t1700, 0x20},
      {L"long", 0, 0, 0x10},
      {L"long\\" + widen(std::string(180, 'n')) + L".txt", 4, t1700, 0x20},
      {L"pax", 0, 0, 0x10},
      {L"pax\\\u00fcnicode.txt", 5, dos_time(2020, 9, 13, 12, 26, 40), 0x20},
      {L"b256.bin", 6, t1700, 0x20},
      {L"hard.txt", 3, t1700, 0x20},
      {L"olddir", 0, t1700, 0x10},
      {L"emptydir", 0, dos_time(2017, 7, 14, 2, 40, 0), 0x10},
      {L"abs", 0, 0, 0x10},
      {L"abs\\olute.txt", 3, t1700, 0x20},
      {L"we_ird_name", 1, t1700, 0x20},
      {L"dup.txt", 7, dos_time(2027, 1, 15, 8, 0, 0), 0x20},
  };
  ASSERT_EQ(entries.size(), std::size(expected)) << narrow(names_of(entries).back());
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(narrow(expected[i].name));
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].size, expected[i].size);
    EXPECT_EQ(entries[i].time, expected[i].time);
    EXPECT_EQ(entries[i].attr, expected[i].attr);
  }

  const std::wstring dest = fm.Root() + L"out\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  extract_entries(fm, archive, dest, {});
  EXPECT_EQ(read_file(dest + L"p\\q\\r.txt"), "pqr");
  EXPECT_EQ(read_file(dest + L"pax\\\u00fcnicode.txt"), "paxed");
  EXPECT_EQ(read_file(dest + L"b256.bin"), "base-2");
  EXPECT_EQ(read_file(dest + L"hard.txt"), "pqr");
  EXPECT_EQ(read_file(dest + L"dup.txt"), "second!");
  EXPECT_FALSE(file_exists(fm.Root() + L"escape.txt"));
  // The extracted file carries the entry's time.
  HANDLE f = CreateFileW((dest + L"p\\q\\r.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  FILETIME written{};
  GetFileTime(f, nullptr, nullptr, &written);
  CloseHandle(f);
  EXPECT_EQ((static_cast<unsigned long long>(written.dwHighDateTime) << 32) | written.dwLowDateTime,
            116444736000000000ULL + 1700000000ULL * 10000000ULL);
}

TEST(Tar, MalformedArchivesNeverCrashAndKeepWhatCameBefore) {
  const std::string good = TarWriter().file("ok.txt", "fine").bytes();
  TarWriter::Header h;
  h.name = "bad.txt";
  h.size = 10;
  auto with = [&](const TarWriter& ATail) { return good + ATail.bytes(); };
  TarWriter::Header beyond = h;
  beyond.size = 1ULL << 40;
  TarWriter::Header garbage_size = h;
  garbage_size.raw_size = "12x45";
  TarWriter::Header negative = h;
  negative.raw_size = std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12);
  TarWriter::Header long_beyond = h;
  long_beyond.type = 'L';
  long_beyond.size = 5000;
  TarWriter::Header pax_garbage = h;
  pax_garbage.type = 'x';
  const std::string junk = "999999 path=x\n5 a\nabc 12 =\n0 \n";
  pax_garbage.size = junk.size();
  TarWriter::Header after = h;
  after.name = "after.txt";
  after.size = 2;

  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::wstring> names;
  } cases[] = {
      {"bad checksum", with(TarWriter().header(h, 1).data("0123456789").end()), {L"ok.txt"}},
      {"data beyond the end", with(TarWriter().header(beyond).data("short")), {L"ok.txt"}},
      {"non-octal size", with(TarWriter().header(garbage_size).data("0123456789")), {L"ok.txt"}},
      {"negative base-256 size", with(TarWriter().header(negative)), {L"ok.txt"}},
      {"long name beyond the end", with(TarWriter().header(long_beyond).data("abc")), {L"ok.txt"}},
      {"half a header", good + std::string(300, 'x'), {L"ok.txt"}},
      {"no end marker", good, {L"ok.txt"}},
      {"data cut short", good.substr(0, 512 + 2), {}},
      {"garbage pax records", with(TarWriter().header(pax_garbage).data(junk).header(after).data("af").end()),
       {L"ok.txt", L"after.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FileManager fm({kTar});
    const std::wstring archive = fm.WriteArchive(L"m.tar", c.bytes);
    ASSERT_EQ(fm.CanYouHandleThisFileW(archive.c_str()), -1);
    int last = 0;
    EXPECT_EQ(names_of(ListArchive(fm, archive, nullptr, &last)), c.names);
    EXPECT_EQ(last, wcx::E_END_ARCHIVE);
  }
}

TEST(Tar, DetectionNeedsAValidFirstHeader) {
  FileManager fm({kTar});
  std::string corrupted = TarWriter().file("a", "b").end().bytes();
  corrupted[3] ^= 0x40;
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"zeros", std::string(10240, '\0')},
      {"short", TarWriter().file("a", "b").bytes().substr(0, 511)},
      {"corrupted", corrupted},
      {"text", std::string(2048, 'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = fm.WriteArchive(L"d.tar", c.bytes);
    EXPECT_EQ(fm.CanYouHandleThisFileW(path.c_str()), 0);
  }
}
