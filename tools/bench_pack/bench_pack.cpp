// Packing benchmark (a program, not a test): the module driven as a file manager packs and
// deletes through the writing fixture plugin (pack_arclite.dll), against a second copy of that
// plugin loaded from another path, given no host table and called through its exports alone.
//
//   bench_pack [ROUNDS]
//
// The sources are 3,000 files of 200 to 500 bytes in 30 folders, and 100 more in a folder of
// their own. Every figure is the best of ROUNDS runs (default 3); each run starts from the same
// files (an archive is copied fresh outside the timing), and both sides must leave archives that
// are the same byte for byte:
// 1. the 3,000 files into a new archive: PackFilesW (the command route) against OpenW from a
//    macro with "c", the archive and a list file of the 30 folders;
// 2. the 100 files added to an archive of the 3,000: PackFilesW against AnalyseW, OpenW,
//    GetFindDataW and FreeFindDataW of the root (FAR shows a panel before it puts files into it,
//    and the plugin builds its update from that listing), PutFilesW of their folder and
//    ClosePanelW;
// 3. the 100 files of one folder deleted from an archive of the 3,000: DeleteFilesW with their
//    names against AnalyseW, OpenW, SetDirectoryW into the folder, GetFindDataW, DeleteFilesW of
//    its items, FreeFindDataW and ClosePanelW.
// The ratio module/plugin is what hosting costs; the target is at most 1.1.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "../bench_module.h"
#include "api/qorFarPluginW.h"
#include "common/qorHandles.h"
#include "common/qorTarget.h"

namespace {

using bench::now;
using bench::remove_tree;

constexpr int kFolders = 30, kFilesPerFolder = 100, kAdded = 100;
constexpr int kDeletedFolder = 7;

std::wstring numbered(const wchar_t* APrefix, int AIndex, int ADigits) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%ls%0*d", APrefix, ADigits, AIndex);
  return text;
}

std::wstring folder_name(int AIndex) { return numbered(L"d", AIndex, 2); }
std::wstring file_name(int AIndex) { return numbered(L"f", AIndex, 3) + L".txt"; }
std::wstring added_name(int AIndex) { return numbered(L"n", AIndex, 3) + L".txt"; }

// A few hundred bytes that differ from file to file.
std::string contents(int ASeed) {
  std::string text(200 + (ASeed * 37) % 301, ' ');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (ASeed * 7 + i * 13) % 26);
  return text;
}

std::string read_file(const std::wstring& APath) {
  qor::unique_handle file(
      CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes;
  if (file.get() == INVALID_HANDLE_VALUE) return bytes;
  char block[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), block, sizeof(block), &got, nullptr) && got) bytes.append(block, got);
  return bytes;
}

// The first bytes of a file, as many as FAR hands AnalyseW.
std::string read_head(const std::wstring& APath) {
  qor::unique_handle file(
      CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string head(0x20000, '\0');
  DWORD got = 0;
  if (file.get() == INVALID_HANDLE_VALUE || !ReadFile(file.get(), head.data(), (DWORD)head.size(), &got, nullptr))
    got = 0;
  head.resize(got);
  return head;
}

// Records of a WXPACK archive ("d PATH" and "f SIZE TIME PATH" with its bytes); -1 when it
// does not parse.
long count_records(const std::string& ABytes) {
  if (ABytes.rfind("WXPACK\n", 0) != 0) return -1;
  long count = 0;
  for (size_t at = 7; at < ABytes.size(); ++count) {
    const size_t end = ABytes.find('\n', at);
    if (end == std::string::npos) return -1;
    if (ABytes.compare(at, 2, "f ") == 0) {
      at = end + 1 + std::strtoull(ABytes.c_str() + at + 2, nullptr, 10) + 1;
    } else if (ABytes.compare(at, 2, "d ") == 0) {
      at = end + 1;
    } else {
      return -1;
    }
  }
  return count;
}

// A list as the file manager passes it: names separated by NULs, ending with an empty one.
std::wstring name_list(const std::vector<std::wstring>& ANames) {
  std::wstring list;
  for (const std::wstring& name : ANames) list += name + L'\0';
  return list + L'\0';
}

struct Plugin {
  TAnalyseW AnalyseW;
  TOpenW OpenW;
  TSetDirectoryW SetDirectoryW;
  TGetFindDataW GetFindDataW;
  TFreeFindDataW FreeFindDataW;
  TPutFilesW PutFilesW;
  TDeleteFilesW DeleteFilesW;
  TClosePanelW ClosePanelW;
};

// The plugin without the module: each piece of work with the calls it needs, no more.
struct Direct {
  Plugin p{};

  // An existing archive opened as FAR opens one: its head analysed first.
  HANDLE open_archive(const std::wstring& AArchive) const {
    const std::string head = read_head(AArchive);
    TAnalyseInfo analyse{};
    analyse.StructSize = sizeof(analyse);
    analyse.FileName = AArchive.c_str();
    analyse.Buffer = const_cast<char*>(head.data());
    analyse.BufferSize = head.size();
    analyse.OpMode = OPM_PGDN;
    TOpenAnalyseInfo open_analyse{sizeof(TOpenAnalyseInfo), &analyse, p.AnalyseW(&analyse)};
    if (!open_analyse.Handle) return nullptr;
    TOpenInfo open{};
    open.StructSize = sizeof(open);
    open.OpenFrom = OPEN_ANALYSE;
    open.Data = reinterpret_cast<intptr_t>(&open_analyse);
    return p.OpenW(&open);
  }

  void close_panel(HANDLE APanel) const {
    TClosePanelInfo close{};
    close.StructSize = sizeof(close);
    close.hPanel = APanel;
    p.ClosePanelW(&close);
  }

  // The command: c <archive> @<list>, the list one full path a line in UTF-16.
  bool create(const std::wstring& AArchive, const std::wstring& AListFile,
              const std::vector<std::wstring>& APaths) const {
    std::wstring text(1, wchar_t(0xFEFF));
    for (const std::wstring& path : APaths) text += path + L"\r\n";
    bench::write_file(AListFile,
                      std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    const std::vector<std::wstring> words = {L"c", L"\"" + AArchive + L"\"", L"@\"" + AListFile + L"\""};
    std::vector<TFarMacroValue> values(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
      values[i].Type = FMVT_STRING;
      values[i].String = words[i].c_str();
    }
    TOpenMacroInfo macro{sizeof(TOpenMacroInfo), values.size(), values.data()};
    static const GUID no_guid{};
    TOpenInfo open{};
    open.StructSize = sizeof(open);
    open.OpenFrom = OPEN_FROMMACRO;
    open.Guid = &no_guid;
    open.Data = reinterpret_cast<intptr_t>(&macro);
    const bool ok = p.OpenW(&open) == INVALID_HANDLE_VALUE;
    DeleteFileW(AListFile.c_str());
    return ok;
  }

  // What GetFindDataW gave back to the plugin.
  void free_listing(HANDLE APanel, const TGetFindDataInfo& AFind) const {
    if (!AFind.PanelItem) return;
    TFreeFindDataInfo free_info{};
    free_info.StructSize = sizeof(free_info);
    free_info.hPanel = APanel;
    free_info.PanelItem = AFind.PanelItem;
    free_info.ItemsNumber = AFind.ItemsNumber;
    p.FreeFindDataW(&free_info);
  }

  // AFolder of ASource put into the archive's root, once the root was listed.
  bool add(const std::wstring& AArchive, const std::wstring& ASource, const std::wstring& AFolder) const {
    const HANDLE panel = open_archive(AArchive);
    if (!panel) return false;
    TGetFindDataInfo find{};
    find.StructSize = sizeof(find);
    find.hPanel = panel;
    if (p.GetFindDataW(&find)) free_listing(panel, find);
    TPluginPanelItem item{};
    item.FileName = AFolder.c_str();
    item.FileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    item.Flags = PPIF_SELECTED;
    TPutFilesInfo put{};
    put.StructSize = sizeof(put);
    put.hPanel = panel;
    put.PanelItem = &item;
    put.ItemsNumber = 1;
    put.SrcPath = ASource.c_str();
    put.OpMode = OPM_SILENT;
    const intptr_t answer = p.PutFilesW(&put);
    close_panel(panel);
    return answer == 1 || answer == 2;
  }

  // Every item of AFolder deleted in one call.
  bool remove_all_in(const std::wstring& AArchive, const std::wstring& AFolder, size_t AExpected) const {
    const HANDLE panel = open_archive(AArchive);
    if (!panel) return false;
    TSetDirectoryInfo dir{};
    dir.StructSize = sizeof(dir);
    dir.hPanel = panel;
    dir.Dir = AFolder.c_str();
    dir.OpMode = OPM_SILENT;
    TGetFindDataInfo find{};
    find.StructSize = sizeof(find);
    find.hPanel = panel;
    find.OpMode = OPM_SILENT;
    bool ok = p.SetDirectoryW(&dir) != 0 && p.GetFindDataW(&find) != 0 && find.ItemsNumber == AExpected;
    if (ok) {
      TDeleteFilesInfo del{};
      del.StructSize = sizeof(del);
      del.hPanel = panel;
      del.PanelItem = find.PanelItem;
      del.ItemsNumber = find.ItemsNumber;
      del.OpMode = OPM_SILENT;
      ok = p.DeleteFilesW(&del) != 0;
    }
    free_listing(panel, find);
    close_panel(panel);
    return ok;
  }
};

int WINAPI on_progress(wchar_t*, int) { return 1; }

struct Scenario {
  const char* label;
  long records;  // the archive both sides must leave
  double direct = 1e9, module = 1e9;
  bool ok = true;
};

// One timed run of each side, from files that APrepare lays out; their archives must match.
void run_round(Scenario& AScenario, bool AModuleFirst, const std::function<void()>& APrepare,
               const std::function<bool()>& ADirect, const std::function<bool()>& AModule,
               const std::wstring& ADirectArchive, const std::wstring& AModuleArchive) {
  APrepare();
  auto timed = [](const std::function<bool()>& ABody, double& ABest) {
    const double start = now();
    const bool ok = ABody();
    ABest = std::min(ABest, now() - start);
    return ok;
  };
  bool ok;
  if (AModuleFirst) {
    ok = timed(AModule, AScenario.module);
    ok = timed(ADirect, AScenario.direct) && ok;
  } else {
    ok = timed(ADirect, AScenario.direct);
    ok = timed(AModule, AScenario.module) && ok;
  }
  const std::string direct = read_file(ADirectArchive), module = read_file(AModuleArchive);
  if (!ok || direct != module || count_records(direct) != AScenario.records) {
    AScenario.ok = false;
    std::fprintf(stderr, "%s: %s\n", AScenario.label,
                 !ok ? "a call failed" : direct != module ? "the archives differ" : "wrong entries");
  }
}

void print(const Scenario& AScenario) {
  std::printf("  %-46s: direct %8.1f ms  module %8.1f ms  ratio %5.2f  (target <= 1.1x)%s\n", AScenario.label,
              AScenario.direct * 1e3, AScenario.module * 1e3, AScenario.module / AScenario.direct,
              AScenario.ok ? "" : "  FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::wstring bin = bench::exe_folder();
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring root = std::wstring(temp) + L"wexlor-bench-pack-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring home = root + L"\\module\\", plugins = home + qor::kPluginsFolder + L"\\pack\\";
  const std::wstring alone = root + L"\\direct\\", tree = root + L"\\tree", more = root + L"\\more";
  const std::wstring work = root + L"\\work\\", base = root + L"\\base.wxp";
  for (const std::wstring& folder :
       {root, home, home + qor::kPluginsFolder, plugins, alone, tree, more, more + L"\\new", work})
    CreateDirectoryW(folder.c_str(), nullptr);
  if (!CopyFileW((bin + qor::kModuleFileName).c_str(), (home + qor::kModuleFileName).c_str(), FALSE) ||
      !CopyFileW((bin + L"pack_arclite.dll").c_str(), (plugins + L"pack_arclite.dll").c_str(), FALSE) ||
      !CopyFileW((bin + L"pack_arclite.dll").c_str(), (alone + L"pack_arclite.dll").c_str(), FALSE)) {
    std::fprintf(stderr, "cannot copy %ls and pack_arclite.dll from %ls\n", qor::kModuleFileName, bin.c_str());
    return 3;
  }

  // The sources, and the names a file manager lists for them: each folder, then what it holds.
  std::vector<std::wstring> tree_names, tree_paths, added_names, deleted_names;
  for (int d = 0; d < kFolders; ++d) {
    const std::wstring folder = folder_name(d);
    CreateDirectoryW((tree + L"\\" + folder).c_str(), nullptr);
    tree_names.push_back(folder + L"\\");
    tree_paths.push_back(tree + L"\\" + folder);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      bench::write_file(tree + L"\\" + folder + L"\\" + file_name(f), contents(d * kFilesPerFolder + f));
      tree_names.push_back(folder + L"\\" + file_name(f));
      if (d == kDeletedFolder) deleted_names.push_back(folder + L"\\" + file_name(f));
    }
  }
  added_names.push_back(L"new\\");
  for (int f = 0; f < kAdded; ++f) {
    bench::write_file(more + L"\\new\\" + added_name(f), contents(100000 + f));
    added_names.push_back(L"new\\" + added_name(f));
  }

  Direct direct;
  qor::unique_module plugin(LoadLibraryW((alone + L"pack_arclite.dll").c_str()));
  if (!plugin) {
    std::fprintf(stderr, "cannot load the plugin's own copy\n");
    return 3;
  }
  bench::bind(plugin.get(), direct.p.AnalyseW, "AnalyseW");
  bench::bind(plugin.get(), direct.p.OpenW, "OpenW");
  bench::bind(plugin.get(), direct.p.SetDirectoryW, "SetDirectoryW");
  bench::bind(plugin.get(), direct.p.GetFindDataW, "GetFindDataW");
  bench::bind(plugin.get(), direct.p.FreeFindDataW, "FreeFindDataW");
  bench::bind(plugin.get(), direct.p.PutFilesW, "PutFilesW");
  bench::bind(plugin.get(), direct.p.DeleteFilesW, "DeleteFilesW");
  bench::bind(plugin.get(), direct.p.ClosePanelW, "ClosePanelW");

  const long records = kFolders * (kFilesPerFolder + 1);
  if (!direct.create(base, root + L"\\base-list.txt", tree_paths) || count_records(read_file(base)) != records) {
    std::fprintf(stderr, "the plugin did not make the archive of %ld records\n", records);
    return 3;
  }

  const bench::Module m = bench::load_module(home);
  // Finds the plugins before any run, as a file manager's first look at an archive does.
  if (m.CanYouHandleThisFileW(base.c_str()) == 0) {
    std::fprintf(stderr, "the module did not take the plugin's archive\n");
    return 3;
  }
  m.SetProcessDataProcW(INVALID_HANDLE_VALUE, &on_progress);

  auto pack = [&](const std::wstring& AArchive, const std::wstring& ASource, const std::vector<std::wstring>& ANames) {
    std::wstring archive = AArchive, source = ASource + L"\\", list = name_list(ANames);
    return m.PackFilesW(archive.data(), nullptr, source.data(), list.data(), wcx::PK_PACK_SAVE_PATHS) == 0;
  };
  auto remove = [&](const std::wstring& AArchive, const std::vector<std::wstring>& ANames) {
    std::wstring archive = AArchive, list = name_list(ANames);
    return m.DeleteFilesW(archive.data(), list.data()) == 0;
  };
  auto fresh_copies = [&](const std::wstring& ADirect, const std::wstring& AModule) {
    return [=] {
      CopyFileW(base.c_str(), ADirect.c_str(), FALSE);
      CopyFileW(base.c_str(), AModule.c_str(), FALSE);
    };
  };

  Scenario create{"1. 3000 files into a new archive", records};
  Scenario add{"2. 100 files added to an archive of 3000", records + kAdded + 1};
  Scenario erase{"3. 100 entries deleted from an archive of 3000", records - kFilesPerFolder};
  const std::wstring d1 = work + L"d1.wxp", m1 = work + L"m1.wxp", d2 = work + L"d2.wxp", m2 = work + L"m2.wxp";
  const std::wstring d3 = work + L"d3.wxp", m3 = work + L"m3.wxp";
  for (int round = 0; round < rounds; ++round) {
    const bool module_first = round % 2 == 1;
    run_round(
        create, module_first,
        [&] {
          DeleteFileW(d1.c_str());
          DeleteFileW(m1.c_str());
        },
        [&] { return direct.create(d1, work + L"list.txt", tree_paths); }, [&] { return pack(m1, tree, tree_names); },
        d1, m1);
    run_round(
        add, module_first, fresh_copies(d2, m2), [&] { return direct.add(d2, more, L"new"); },
        [&] { return pack(m2, more, added_names); }, d2, m2);
    run_round(
        erase, module_first, fresh_copies(d3, m3),
        [&] { return direct.remove_all_in(d3, folder_name(kDeletedFolder), kFilesPerFolder); },
        [&] { return remove(m3, deleted_names); }, d3, m3);
  }

  std::printf("packing: %d files of 200-500 bytes in %d folders, the writing fixture plugin; best of %d rounds\n",
              kFolders * kFilesPerFolder, kFolders, rounds);
  print(create);
  print(add);
  print(erase);

  FreeLibrary(m.Handle);
  plugin.reset();
  remove_tree(root);
  if (!create.ok || !add.ok || !erase.ok) {
    std::fprintf(stderr, "a run failed or left another archive\n");
    return 1;
  }
  return 0;
}
