// Export-name reading from PE files: a table of hand-broken images, the real DLLs of the build,
// and the bound on what a lying header may cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "common/qorErrors.h"
#include "hosting/qorFarExportNames.h"
#include "allocation_probe.h"
#include "pe_builder.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

enum class Outcome { Accept, BadFormat, RvaNotFound, ReadError, FileError };

const char* outcome_name(Outcome AOutcome) {
  switch (AOutcome) {
    case Outcome::Accept: return "accept";
    case Outcome::BadFormat: return "error 193";
    case Outcome::RvaNotFound: return "RVA not found";
    case Outcome::ReadError: return "stream read error";
    case Outcome::FileError: return "file error";
  }
  return "?";
}

struct Result {
  Outcome outcome = Outcome::Accept;
  bool is64 = false;
  std::vector<std::wstring> names;
  std::wstring message;
  size_t largest_allocation = 0;
};

Result read_names(const std::wstring& AFile, bool AWithList) {
  Result result;
  std::vector<std::wstring> names;
  ResetLargestAllocation();
  try {
    qor::ReadExportNames(AFile, result.is64, AWithList ? &names : nullptr);
  } catch (const qor::EqorError& e) {
    result.message = e.Message();
    if (e.Code() == ERROR_BAD_EXE_FORMAT)
      result.outcome = Outcome::BadFormat;
    else if (e.Message() == L"RVA not found")
      result.outcome = Outcome::RvaNotFound;
    else if (e.Message() == L"Stream read error")
      result.outcome = Outcome::ReadError;
    else
      result.outcome = Outcome::FileError;
  }
  result.largest_allocation = LargestAllocation();
  result.names = names;
  return result;
}

std::vector<std::wstring> wide(std::initializer_list<const char*> ANames) {
  std::vector<std::wstring> out;
  for (const char* n : ANames) out.push_back(widen(n));
  return out;
}

const std::vector<std::string> kNames = {"Zeta", "Alpha", "Mid"};  // table order, not sorted

PeOptions dll32() {
  PeOptions o;
  o.names = kNames;
  return o;
}

struct Case {
  const char* title;
  std::function<std::string()> build;
  bool with_list;
  Outcome expected;
};

std::string built(const PeOptions& AOptions, std::function<void(PeImage&)> ABreak = nullptr) {
  PeImage image = BuildPe(AOptions);
  if (ABreak) ABreak(image);
  return image.bytes;
}

std::string truncated(size_t (*AWhere)(const PeLayout&)) {
  PeImage image = BuildPe(dll32());
  image.bytes.resize(AWhere(image.at));
  return image.bytes;
}

class ExportNames : public ::testing::Test {
 protected:
  void SetUp() override { FFolder = make_temp_folder(); }
  void TearDown() override { remove_tree(FFolder); }
  std::wstring write(const std::string& ABytes) {
    const std::wstring path = FFolder + L"case" + std::to_wstring(FCount++) + L".dll";
    write_file(path, ABytes);
    return path;
  }
  std::wstring FFolder;
  int FCount = 0;
};

}  // namespace

TEST_F(ExportNames, WellFormedImagesGiveTheirNamesInTableOrder) {
  const Result r32 = read_names(write(built(dll32())), true);
  EXPECT_EQ(r32.outcome, Outcome::Accept) << narrow(r32.message);
  EXPECT_FALSE(r32.is64);
  EXPECT_EQ(r32.names, wide({"Zeta", "Alpha", "Mid"}));

  PeOptions o64 = dll32();
  o64.amd64 = true;
  const Result r64 = read_names(write(built(o64)), true);
  EXPECT_EQ(r64.outcome, Outcome::Accept) << narrow(r64.message);
  EXPECT_TRUE(r64.is64);
  EXPECT_EQ(r64.names, wide({"Zeta", "Alpha", "Mid"}));

  // Ordinal-only exports: a valid table with no names.
  PeOptions ordinals;
  ordinals.functions = 3;
  const Result none = read_names(write(built(ordinals)), true);
  EXPECT_EQ(none.outcome, Outcome::Accept) << narrow(none.message);
  EXPECT_TRUE(none.names.empty());

  // The list is appended to, not cleared.
  std::vector<std::wstring> list = {L"kept"};
  bool is64 = true;
  qor::ReadExportNames(write(built(dll32())), is64, &list);
  EXPECT_FALSE(is64);
  EXPECT_EQ(list, wide({"kept", "Zeta", "Alpha", "Mid"}));
}

TEST_F(ExportNames, BrokenImagesAreRefusedWithTheRightError) {
  const DWORD huge = 0xFFFFFFFFu;
  const std::vector<Case> cases = {
      {"EXE (no DLL bit)", [] { PeOptions o = dll32(); o.dll = false; return built(o); }, true, Outcome::BadFormat},
      {"EXE, no list", [] { PeOptions o = dll32(); o.dll = false; return built(o); }, false, Outcome::BadFormat},
      {"no export directory", [] { PeOptions o = dll32(); o.export_dir = false; return built(o); }, true,
       Outcome::BadFormat},
      {"no export directory, no list", [] { PeOptions o = dll32(); o.export_dir = false; return built(o); }, false,
       Outcome::BadFormat},
      {"export directory size 0",
       [] { return built(dll32(), [](PeImage& i) { i.put32(i.at.export_entry + 4, 0); }); }, false,
       Outcome::BadFormat},
      {"i386 optional header 232", [] { PeOptions o = dll32(); o.optional_size = 232; return built(o); }, true,
       Outcome::BadFormat},
      {"i386 optional header 240", [] { PeOptions o = dll32(); o.optional_size = 240; return built(o); }, false,
       Outcome::BadFormat},
      {"AMD64 optional header 224",
       [] { PeOptions o = dll32(); o.amd64 = true; o.optional_size = 224; return built(o); }, true,
       Outcome::BadFormat},
      {"unknown machine (ARM)",
       [] { return built(dll32(), [](PeImage& i) { i.put16(i.at.file_header, 0x01C0); }); }, true,
       Outcome::BadFormat},
      {"no MZ", [] { return built(dll32(), [](PeImage& i) { i.put16(0, 0x4D5A); }); }, true, Outcome::BadFormat},
      {"no PE signature", [] { return built(dll32(), [](PeImage& i) { i.put16(i.at.signature, 0x454E); }); }, true,
       Outcome::BadFormat},
      {"name RVA in the section's uninitialized tail",
       [] {
         return built(dll32(), [](PeImage& i) {
           i.put32(i.at.names_array + 4, i.at.section_rva + i.at.section_raw_size + 0x10);
         });
       },
       true, Outcome::RvaNotFound},
      {"export directory outside every section",
       [] { return built(dll32(), [](PeImage& i) { i.put32(i.at.export_entry, 0x9000); }); }, true,
       Outcome::RvaNotFound},
      {"export directory outside every section, no list",
       [] { return built(dll32(), [](PeImage& i) { i.put32(i.at.export_entry, 0x9000); }); }, false,
       Outcome::Accept},
      {"AddressOfNames below every section",
       [] { return built(dll32(), [](PeImage& i) { i.put32(i.at.export_directory + 32, 0x10); }); }, true,
       Outcome::RvaNotFound},
      {"no sections", [] { return built(dll32(), [](PeImage& i) { i.put16(i.at.file_header + 2, 0); }); }, true,
       Outcome::RvaNotFound},
      {"65535 sections", [] { return built(dll32(), [](PeImage& i) { i.put16(i.at.file_header + 2, 0xFFFF); }); },
       true, Outcome::ReadError},
      {"NumberOfNames 0xFFFFFFFF",
       [huge] { return built(dll32(), [huge](PeImage& i) { i.put32(i.at.export_directory + 24, huge); }); }, true,
       Outcome::ReadError},
      {"NumberOfNames just within the file size, array runs past the end",
       [] {
         return built(dll32(), [](PeImage& i) {
           i.put32(i.at.export_directory + 24, static_cast<DWORD>(i.bytes.size() / 4));
         });
       },
       true, Outcome::ReadError},
      {"raw data pointer beyond the file",
       [] { return built(dll32(), [](PeImage& i) { i.put32(i.at.section_table + 20, 0x7FFFFFF0); }); }, true,
       Outcome::ReadError},
      {"raw size 0xFFFFFFFF", [] {
         return built(dll32(), [](PeImage& i) {
           i.put32(i.at.section_table + 16, 0xFFFFFFFF);
           i.put32(i.at.names_array, 0xFFFFFF00);
         });
       },
       true, Outcome::ReadError},
      {"e_lfanew beyond the file", [] { return built(dll32(), [](PeImage& i) { i.put32(60, 0x00100000); }); }, true,
       Outcome::ReadError},
      {"e_lfanew negative", [] { return built(dll32(), [](PeImage& i) { i.put32(60, 0x80000000); }); }, true,
       Outcome::BadFormat},
      {"empty file", [] { return std::string(); }, true, Outcome::ReadError},
      {"cut inside the DOS header", [] { return truncated([](const PeLayout&) -> size_t { return 40; }); }, true,
       Outcome::ReadError},
      {"cut inside the signature", [] { return truncated([](const PeLayout& l) { return l.signature + 3; }); },
       true, Outcome::ReadError},
      {"cut inside the file header", [] { return truncated([](const PeLayout& l) { return l.file_header + 10; }); },
       false, Outcome::ReadError},
      {"cut inside the optional header",
       [] { return truncated([](const PeLayout& l) { return l.optional_header + 100; }); }, false,
       Outcome::ReadError},
      {"cut inside the section table",
       [] { return truncated([](const PeLayout& l) { return l.section_table + 20; }); }, true, Outcome::ReadError},
      {"cut inside the export directory",
       [] { return truncated([](const PeLayout& l) { return l.export_directory + 30; }); }, true,
       Outcome::ReadError},
      {"cut inside the name array", [] { return truncated([](const PeLayout& l) { return l.names_array + 6; }); },
       true, Outcome::ReadError},
      {"cut inside the last name", [] {
         PeImage image = BuildPe(dll32());
         // "Mid" is the last name; cut before its terminator.
         const size_t mid = image.offset_of(image.get32(image.at.names_array + 8));
         image.bytes.resize(mid + 2);
         return image.bytes;
       },
       true, Outcome::ReadError},
      {"2000 name slots pointing at one 3000-byte name", [] {
         PeOptions o;
         o.names.assign(2000, "x");
         o.names.push_back(std::string(3000, 'L'));
         PeImage image = BuildPe(o);
         const DWORD long_name = image.get32(image.at.names_array + 2000 * 4);
         for (int n = 0; n < 2000; ++n) image.put32(image.at.names_array + n * 4, long_name);
         return image.bytes;
       },
       true, Outcome::BadFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::wstring file = write(c.build());
    const Result r = read_names(file, c.with_list);
    EXPECT_EQ(outcome_name(r.outcome), std::string(outcome_name(c.expected))) << narrow(r.message);
    // Nothing a header claims may cost more than a buffer the size of the file itself.
    EXPECT_LT(r.largest_allocation, 1u << 20);
    if (c.expected == Outcome::BadFormat) {
      EXPECT_EQ(r.message, qor::SystemErrorMessage(ERROR_BAD_EXE_FORMAT));
    }
  }
}

TEST_F(ExportNames, MissingFileRaisesTheOpenError) {
  bool is64 = false;
  try {
    qor::ReadExportNames(FFolder + L"missing.dll", is64, nullptr);
    FAIL() << "no error";
  } catch (const qor::EqorError& e) {
    EXPECT_EQ(e.Code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
}

TEST_F(ExportNames, RealDllsOfTheBuild) {
  const std::wstring bin = exe_folder();
  const auto full = wide({"AnalyseW", "CloseAnalyseW", "ClosePanelW", "ConfigureW", "ExitFARW", "FreeFindDataW",
                          "GetFilesW", "GetFindDataW", "GetGlobalInfoW", "GetPluginInfoW", "OpenW", "SetDirectoryW",
                          "SetStartupInfoW"});
  Result r = read_names(bin + L"fixture_full.dll", true);
  EXPECT_EQ(r.outcome, Outcome::Accept) << narrow(r.message);
  EXPECT_EQ(r.is64, kTarget64);
  EXPECT_EQ(r.names, full);

  r = read_names(bin + L"fixture_three.dll", true);
  EXPECT_EQ(r.names, wide({"AnalyseW", "GetGlobalInfoW", "OpenW"}));

  // The linker sorts by byte value: the lower-case name comes last.
  r = read_names(bin + L"fixture_lower.dll", true);
  ASSERT_FALSE(r.names.empty());
  EXPECT_EQ(r.names.back(), L"analysew");

  r = read_names(bin + L"nonplugin.dll", true);
  EXPECT_EQ(r.names, wide({"SomethingElse"}));

  r = read_names(bin + qor::kModuleFileName, true);
  EXPECT_EQ(r.outcome, Outcome::Accept) << narrow(r.message);
  EXPECT_EQ(r.is64, kTarget64);
  // The same plain names from both modules: no stdcall decoration on i686 either.
  EXPECT_EQ(r.names, wide({"CanYouHandleThisFile", "CanYouHandleThisFileW", "CloseArchive", "ConfigurePacker",
                           "DeleteFiles", "DeleteFilesW", "GetBackgroundFlags", "GetPackerCaps", "ListHostedPluginsW",
                           "OpenArchive", "OpenArchiveW", "PackFiles", "PackFilesW", "PackSetDefaultParams", "ProcessFile",
                           "ProcessFileW", "ReadHeader", "ReadHeaderEx", "ReadHeaderExW", "SetChangeVolProc",
                           "SetChangeVolProcW", "SetProcessDataProc", "SetProcessDataProcW"}));

  r = read_names(bin + L"fixture_exe.exe", true);
  EXPECT_EQ(r.outcome, Outcome::BadFormat);
}
