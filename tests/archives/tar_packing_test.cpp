// The sample Tar plugin writing through the module, driven as a file manager drives it: the
// sample folder added below a folder the archive lacks, entries deleted, and a new archive by
// FAR's route, named in the plugin's input box. The module reads the results back through Tar.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "archive_util.h"
#include "common/qorTarget.h"
#include "form_answerer.h"

using namespace wxt;

namespace {

const PluginSpec kTar{L"Tar", std::wstring(qor::kPluginsFolder) + L"\\Tar\\Tar.dll", L"Tar.dll"};

std::wstring samples_folder() {
  std::wstring path = L"Z:" + widen(WEXLOR_SOURCE_DIR "/samples/tar/");
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// The sample folder as a file manager lists it for packing: every folder (ending in '\') and
// file below it, with the folder's own name in front.
void collect_tree(const std::wstring& ABase, const std::wstring& ARelative, std::vector<std::wstring>& AOut) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((ABase + ARelative + L"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    AOut.push_back(ARelative + name + (dir ? L"\\" : L""));
    if (dir) collect_tree(ABase, ARelative + name + L"\\", AOut);
  } while (FindNextFileW(find, &data));
  FindClose(find);
}

std::vector<std::wstring> sample_tree() {
  std::vector<std::wstring> tree{L"sample\\"};
  collect_tree(samples_folder(), L"sample\\", tree);
  return tree;
}

std::wstring list_of(const std::vector<std::wstring>& ANames) {
  std::wstring list;
  for (const std::wstring& name : ANames) list += name + L'\0';
  return list + L'\0';
}

int pack(FileManager& AFm, const std::wstring& AArchive, const wchar_t* ASubPath) {
  std::wstring archive = AArchive, source = samples_folder(), list = list_of(sample_tree());
  std::wstring sub = ASubPath ? ASubPath : L"";
  return AFm.PackFilesW(archive.data(), ASubPath ? sub.data() : nullptr, source.data(), list.data(),
                        wcx::PK_PACK_SAVE_PATHS);
}

std::set<std::wstring> listed_files(FileManager& AFm, const std::wstring& AArchive) {
  std::set<std::wstring> names;
  for (const auto& e : ListArchive(AFm, AArchive))
    if (!(e.attr & FILE_ATTRIBUTE_DIRECTORY)) names.insert(e.name);
  return names;
}

// Extracts the whole archive and compares each expected file, "<prefix><sample file>", with its
// original in the sample folder.
void expect_original_bytes(FileManager& AFm, const std::wstring& AArchive, const std::set<std::wstring>& AFiles) {
  const std::wstring dest = AFm.Root() + L"extracted\\";
  CreateDirectoryW(dest.c_str(), nullptr);
  extract_entries(AFm, AArchive, dest, {});
  for (const auto& name : AFiles) {
    const std::wstring original = name.substr(name.find(L"sample\\"));
    EXPECT_EQ(read_file(dest + name), read_file(samples_folder() + original)) << narrow(name);
  }
}

std::vector<std::wstring> names_in(const std::wstring& AFolder) {
  std::vector<std::wstring> names;
  collect_tree(AFolder + L"\\", L"", names);
  return names;
}

}  // namespace

TEST(TarPacking, FilesAddedBelowANewFolderAndEntriesDeletedLeaveEveryOtherByte) {
  FileManager fm({kTar});
  const std::wstring folder = fm.Root() + L"out";
  const std::wstring archive = folder + L"\\copy.tar";
  CreateDirectoryW(folder.c_str(), nullptr);
  write_file(archive, read_file(exe_folder() + L"sample.tar"));
  std::set<std::wstring> expected = listed_files(fm, archive);
  ASSERT_GE(expected.size(), 5u);

  ASSERT_EQ(pack(fm, archive, L"added"), 0);
  ASSERT_EQ(fm.DeleteFilesW(std::wstring(archive).data(),
                            list_of({L"sample\\data\\numbers.csv", L"added\\sample\\data\\nested\\*.*"}).data()),
            0);

  for (const auto& name : std::set<std::wstring>(expected))
    if (name.find(L"sample\\data\\nested\\") != 0) expected.insert(L"added\\" + name);
  expected.erase(L"sample\\data\\numbers.csv");
  EXPECT_EQ(listed_files(fm, archive), expected);
  expect_original_bytes(fm, archive, expected);
  EXPECT_EQ(names_in(folder), std::vector<std::wstring>{L"copy.tar"}) << "no temporary file is left";
}

TEST(TarPacking, NewArchiveThroughFarsRouteIsNamedInTheInputBox) {
  FileManager fm({kTar});
  const std::wstring folder = fm.Root() + L"out";
  const std::wstring archive = folder + L"\\new.tar";
  CreateDirectoryW(folder.c_str(), nullptr);
  FormAnswerer answerer(archive);

  ASSERT_EQ(pack(fm, archive, nullptr), 0);
  EXPECT_EQ(answerer.Count(), 1);
  EXPECT_EQ(answerer.Initial(), L"sample.tar") << "the first item's name";
  std::set<std::wstring> expected;
  for (const auto& name : sample_tree())
    if (name.back() != L'\\') expected.insert(name);
  EXPECT_EQ(listed_files(fm, archive), expected);
  expect_original_bytes(fm, archive, expected);
  EXPECT_EQ(names_in(folder), std::vector<std::wstring>{L"new.tar"});
}
