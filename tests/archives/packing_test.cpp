// Packing and deleting through the built module, driven as a file manager drives it, with the
// writing fixture plugin: new archives by both routes, files added (also below a sub-folder), the
// move of sources, entries deleted, and every way a change can fail leaving the archive as it was.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "form_answerer.h"
#include "pack_util.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

// The file manager's progress callback for packing: bytes reported, and the answer it gives.
std::atomic<long long> GBytes{0};
std::atomic<int> GCalls{0};
std::atomic<int> GAnswer{1};
int WINAPI on_progress(wchar_t*, int ASize) {
  ++GCalls;
  if (ASize > 0) GBytes += ASize;
  return GAnswer;
}

void watch_progress(FileManager& AFm, int AAnswer) {
  GBytes = 0;
  GCalls = 0;
  GAnswer = AAnswer;
  AFm.SetProcessDataProcW(INVALID_HANDLE_VALUE, reinterpret_cast<void*>(&on_progress));
}

}  // namespace

TEST(Packing, CapsOfferNewModifyAndDelete) {
  Packer p;
  const int caps = p.Fm.GetPackerCaps();
  EXPECT_EQ(caps & (wcx::PK_CAPS_NEW | wcx::PK_CAPS_MODIFY | wcx::PK_CAPS_DELETE),
            wcx::PK_CAPS_NEW | wcx::PK_CAPS_MODIFY | wcx::PK_CAPS_DELETE);
  EXPECT_NE(p.Fm.GetBackgroundFlags() & wcx::BACKGROUND_PACK, 0);
}

// A file manager packs on a worker thread while its main thread lists and extracts another archive:
// the plugin's dialog runs on the worker, owned by the file manager's window, which stays usable.
TEST(Packing, PackingOnAWorkerThreadLeavesTheMainThreadFree) {
  Packer p(L"pack_plugin.dll", "dialog=yes");
  HWND main = CreateWindowExW(0, L"STATIC", L"File manager", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 200,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(main, nullptr);
  SetForegroundWindow(main);
  const std::wstring archive = p.Archive(L"old.wxp"), other = p.Archive(L"other.wxp");
  write_file(archive, pack_text({{"keep.txt", "kept"}}));
  write_file(other, pack_text({{"one.txt", "1"}, {"two.txt", "2"}}));
  FormAnswerer answerer(L"x");
  std::atomic<DWORD> worker_id{0};
  std::atomic<int> result{-1};
  std::thread worker([&] {
    worker_id = GetCurrentThreadId();
    result = p.Pack(archive, kTree);
  });
  int listed = 0;
  const std::wstring out = p.Fm.Root() + L"extracted\\";
  CreateDirectoryW(out.c_str(), nullptr);
  while (result == -1) {
    ASSERT_EQ(ListArchive(p.Fm, other).size(), 2u);
    wcx::tOpenArchiveDataW open{};
    std::wstring path = other;
    open.ArcName = path.data();
    open.OpenMode = wcx::PK_OM_EXTRACT;
    HANDLE h = p.Fm.OpenArchiveW(&open);
    ASSERT_NE(h, nullptr);
    wcx::tHeaderDataExW header{};
    ASSERT_EQ(p.Fm.ReadHeaderExW(h, &header), 0);
    EXPECT_EQ(p.Fm.ProcessFileW(h, wcx::PK_EXTRACT, out.c_str(), header.FileName), 0);
    EXPECT_EQ(p.Fm.CloseArchive(h), 0);
    ++listed;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_GT(listed, 0);
  EXPECT_EQ(answerer.Count(), 1);
  EXPECT_EQ(answerer.Thread(), worker_id.load()) << "the dialog ran on the worker thread";
  EXPECT_EQ(answerer.Owner(), main) << "owned by the file manager's window";
  EXPECT_TRUE(answerer.OwnerEnabled()) << "which stays usable";
  EXPECT_EQ(read_pack(archive).at("d\\b.txt"), "bravo!");
  EXPECT_EQ(read_file(out + L"one.txt"), "1");
  DestroyWindow(main);
}

TEST(Packing, NewArchiveThroughTheCommandInterfaceIsRenamedOnlyWhenWhole) {
  Packer p(L"pack_arclite.dll");
  watch_progress(p.Fm, 1);
  const std::wstring archive = p.Archive(L"new.wxp");
  ASSERT_EQ(p.Pack(archive, kTree), 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.at("a.txt"), "alpha");
  EXPECT_EQ(entries.at("d\\b.txt"), "bravo!");
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"new.wxp"}) << "no temporary archive is left";
  const auto log = p.Log();
  const std::string macro = line_starting(log, "macro ");
  // c, the options that keep the plugin's saved defaults from acting, a name beside the archive
  // that keeps its extension, and a list file of the top-level items.
  EXPECT_EQ(macro.rfind("macro c|-mf:n|-ie:n|\"" + narrow(p.Archives) + "\\~wexlor-", 0), 0u) << macro;
  EXPECT_NE(macro.find("new.wxp\"|@\""), std::string::npos) << macro;
  EXPECT_EQ(count_lines(log, "PutFilesW"), 0);
  const std::string list = macro.substr(macro.find("|@\"") + 3, macro.size() - macro.find("|@\"") - 4);
  EXPECT_FALSE(file_exists(widen(list))) << "the list file goes";
  EXPECT_EQ(GBytes.load(), 11) << "the file manager hears every byte listed";
}

TEST(Packing, NewArchiveThroughFarsRouteIsNamedInThePluginsDialog) {
  Packer p;
  const std::wstring archive = p.Archive(L"far.wxp");
  FormAnswerer answerer(archive);
  ASSERT_EQ(p.Pack(archive, kTree), 0);
  EXPECT_EQ(answerer.Count(), 1) << "the plugin asked for the name once";
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.at("d\\b.txt"), "bravo!");
  const auto log = p.Log();
  EXPECT_EQ(line_starting(log, "AnalyseW"), "AnalyseW name=(null)");
  // The top level only, never moved by the plugin, from the source folder, which is FAR's current one.
  const std::string source = narrow(p.Source.substr(0, p.Source.size() - 1));
  EXPECT_EQ(line_starting(log, "PutFilesW"),
            "PutFilesW items=a.txt,d move=0 src=" + source + " opmode=0x0 cwd=" + source + " folder=");
}

TEST(Packing, NewArchiveThatThePluginDoesNotWriteIsACreateError) {
  Packer p;
  {
    FormAnswerer answerer(L"");  // Esc in the plugin's name dialog
    EXPECT_EQ(p.Pack(p.Archive(L"far.wxp"), kTree), wcx::E_EABORTED);
    EXPECT_TRUE(files_in(p.Archives).empty());
  }
  {
    // The user named another file in the plugin's dialog: it is theirs, the archive asked for is missing.
    FormAnswerer answerer(p.Archive(L"other.wxp"));
    EXPECT_EQ(p.Pack(p.Archive(L"far.wxp"), kTree), wcx::E_ECREATE);
    EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"other.wxp"});
  }
  // The plugin fails to write it.
  p.Configure("put=fail");
  FormAnswerer answerer(p.Archive(L"far.wxp"));
  EXPECT_EQ(p.Pack(p.Archive(L"far.wxp"), kTree), wcx::E_ECREATE);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"other.wxp"});
}

TEST(Packing, FailedCreationLeavesNothing) {
  struct Case {
    std::string config;
    int result;
  };
  for (const Case& c : {Case{"cmd=fail", wcx::E_ECREATE}, Case{"create=no", wcx::E_NOT_SUPPORTED}}) {
    Packer p(L"pack_arclite.dll", c.config);
    EXPECT_EQ(p.Pack(p.Archive(L"new.wxp"), kTree), c.result) << c.config;
    EXPECT_TRUE(files_in(p.Archives).empty()) << c.config;
  }
}

// Processor faults inside the plugin: run only where the processor is not emulated.
TEST(PackingNativeFaults, AFaultInThePluginLeavesNothingBehind) {
  {
    Packer p(L"pack_arclite.dll", "cmd=fault");
    EXPECT_EQ(p.Pack(p.Archive(L"new.wxp"), kTree), wcx::E_EWRITE);
    EXPECT_TRUE(files_in(p.Archives).empty());
  }
  Packer p(L"pack_plugin.dll", "put=fault");
  const std::wstring archive = p.Archive(L"old.wxp");
  const std::string before = pack_text({{"keep.txt", "kept"}});
  write_file(archive, before);
  EXPECT_EQ(p.Pack(archive, kTree), wcx::E_EWRITE);
  EXPECT_EQ(read_file(archive), before);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"}) << "the plugin's temporary file goes";
}

TEST(Packing, AddingWalksToTheSubFolderAndMakesWhatIsMissing) {
  Packer p;
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, pack_text({{"keep.txt", "kept"}, {"x\\other.txt", "other"}}));
  ASSERT_EQ(p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS, L"x\\y"), 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.at("keep.txt"), "kept");
  EXPECT_EQ(entries.at("x\\other.txt"), "other");
  EXPECT_EQ(entries.at("x\\y\\a.txt"), "alpha");
  EXPECT_EQ(entries.at("x\\y\\d\\b.txt"), "bravo!");
  const auto log = p.Log();
  EXPECT_EQ(count_lines(log, "MakeDirectoryW name=x "), 0) << "x is there already";
  EXPECT_EQ(line_starting(log, "MakeDirectoryW"), "MakeDirectoryW name=y opmode=0x1");
  EXPECT_EQ(count_lines(log, "PutFilesW items"), 1);
  EXPECT_NE(line_starting(log, "PutFilesW").find(" folder=x\\y"), std::string::npos) << line_starting(log, "PutFilesW");
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"});
}

TEST(Packing, FailedCancelledOrFaultyUpdateLeavesTheArchiveByteForByte) {
  struct Case {
    std::string config;
    std::wstring answer;  // the update dialog's: "" is Esc
    int result;
  };
  const std::vector<Case> cases = {
      {"put=fail", L"x", wcx::E_EWRITE},
      {"dialog=yes", L"", wcx::E_EABORTED},
  };
  for (const Case& c : cases) {
    Packer p(L"pack_plugin.dll", c.config);
    const std::wstring archive = p.Archive(L"old.wxp");
    const std::string before = pack_text({{"keep.txt", "kept"}});
    write_file(archive, before);
    std::unique_ptr<FormAnswerer> answerer;
    if (c.config == "dialog=yes") answerer = std::make_unique<FormAnswerer>(c.answer);
    EXPECT_EQ(p.Pack(archive, kTree), c.result) << c.config;
    EXPECT_EQ(read_file(archive), before) << c.config;
    EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"}) << c.config << ": no temporary file is left";
  }
}

TEST(Packing, ACancelFromTheFileManagerReachesThePluginAsEscWithoutASecondQuestion) {
  Packer p(L"pack_plugin.dll", "slow=50");
  const std::wstring archive = p.Archive(L"old.wxp");
  const std::string before = pack_text({{"keep.txt", "kept"}});
  write_file(archive, before);
  for (int i = 0; i < 20; ++i) write_file(p.Source + L"d\\f" + std::to_wstring(i) + L".txt", "0123456789");
  std::vector<std::wstring> names = kTree;
  for (int i = 0; i < 20; ++i) names.push_back(L"d\\f" + std::to_wstring(i) + L".txt");
  watch_progress(p.Fm, 0);
  EXPECT_EQ(p.Pack(archive, names), wcx::E_EABORTED);
  EXPECT_EQ(read_file(archive), before);
  const auto log = p.Log();
  EXPECT_EQ(count_lines(log, "cancelled"), 1);
  EXPECT_EQ(count_lines(log, "asked interrupt"), 0);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"});
}

TEST(Packing, MoveDeletesOnlyWhatTheArchiveHoldsAndKeepsWhatAppeared) {
  Packer p(L"pack_arclite.dll");
  p.Configure("touch=" + narrow(p.Source) + "d\\new.txt");
  const std::wstring archive = p.Archive(L"moved.wxp");
  ASSERT_EQ(p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_MOVE_FILES), 0);
  EXPECT_EQ(read_pack(archive).at("d\\b.txt"), "bravo!");
  EXPECT_FALSE(file_exists(p.Source + L"a.txt"));
  EXPECT_FALSE(file_exists(p.Source + L"d\\b.txt"));
  EXPECT_EQ(read_file(p.Source + L"d\\new.txt"), "new") << "a file that appeared while packing survives, with its folder";
  EXPECT_EQ(line_starting(p.Log(), "macro ").find("-mf:y"), std::string::npos);
}

TEST(Packing, AChangeThatLeftOutASourceIsRolledBackAndMovesNothing) {
  Packer p(L"pack_plugin.dll", "put=skip:b.txt");
  const std::wstring archive = p.Archive(L"old.wxp");
  const std::string before = pack_text({{"keep.txt", "kept"}});
  write_file(archive, before);
  EXPECT_EQ(p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_MOVE_FILES), wcx::E_EWRITE);
  EXPECT_EQ(read_file(archive), before);
  EXPECT_EQ(read_file(p.Source + L"a.txt"), "alpha");
  EXPECT_EQ(read_file(p.Source + L"d\\b.txt"), "bravo!");
  EXPECT_EQ(count_lines(p.Log(), "PutFilesW items=a.txt,d move=0"), 1);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"old.wxp"}) << "the link that kept the original goes";
}

TEST(Packing, ListsAndSourcesAreCheckedBeforeAnyPluginCall) {
  struct Case {
    std::vector<std::wstring> names;
    int flags;
    int result;
  };
  const std::vector<Case> cases = {
      {{L"..\\a.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},
      {{L"C:\\a.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},
      {{L"\\a.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},
      {{L"d\\..\\..\\a.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},
      {{}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NO_FILES},
      {{L"missing.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_EREAD},
      {{L"d\\b.txt"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},  // nested, without its folder
      {kTree, 0, wcx::E_NOT_SUPPORTED},                                 // nested, without paths
      {{L"d\\", L"d\\b.txt", L"d\\out.wxp"}, wcx::PK_PACK_SAVE_PATHS, wcx::E_NOT_SUPPORTED},  // the archive inside
  };
  for (const Case& c : cases) {
    Packer p;
    const std::wstring archive = c.names.size() == 3 ? p.Source + L"d\\out.wxp" : p.Archive(L"x.wxp");
    if (c.names.size() == 3) write_file(archive, pack_text({{"keep.txt", "kept"}}));
    EXPECT_EQ(p.Pack(archive, c.names, c.flags), c.result) << narrow(c.names.empty() ? L"" : c.names[0]);
    EXPECT_EQ(count_lines(p.Log(), "AnalyseW"), 0) << narrow(c.names.empty() ? L"" : c.names[0]);
  }
  // Top-level files need no paths.
  Packer p(L"pack_arclite.dll");
  ASSERT_EQ(p.Pack(p.Archive(L"flat.wxp"), {L"a.txt"}, 0), 0);
  EXPECT_EQ(read_pack(p.Archive(L"flat.wxp")).at("a.txt"), "alpha");
}

TEST(Packing, EncryptionIsRefusedWhereThePluginCannotTakeAPassword) {
  struct Case {
    const wchar_t* plugin;
    const wchar_t* name;
  };
  for (const Case& c : {Case{L"pack_plugin.dll", L"x.wxp"}, Case{L"pack_arclite.dll", L"x.wxp"}}) {
    Packer p(c.plugin);
    EXPECT_EQ(p.Pack(p.Archive(c.name), kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_ENCRYPT), wcx::E_NOT_SUPPORTED);
    EXPECT_TRUE(files_in(p.Archives).empty());
    EXPECT_EQ(count_lines(p.Log(), "PutFilesW") + count_lines(p.Log(), "macro"), 0);
  }
}

namespace {

// Fills both masked edits of the module's password form with AText and presses OK.
class PasswordAnswerer {
 public:
  explicit PasswordAnswerer(std::wstring AText) : FText(std::move(AText)) {}
  int Masked() const { return FMasked; }

 private:
  static BOOL CALLBACK fill(HWND AChild, LPARAM AThis) {
    auto* self = reinterpret_cast<PasswordAnswerer*>(AThis);
    wchar_t cls[32] = {};
    GetClassNameW(AChild, cls, 32);
    if (_wcsicmp(cls, L"Edit") == 0 && (GetWindowLongW(AChild, GWL_STYLE) & ES_PASSWORD)) {
      SendMessageW(AChild, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(self->FText.c_str()));
      ++self->FMasked;
    }
    if (_wcsicmp(cls, L"Button") == 0 && GetDlgCtrlID(AChild) == IDOK) self->FOk = AChild;
    return TRUE;
  }
  void answer(HWND AWnd) {
    Sleep(200);
    FMasked = 0;
    EnumChildWindows(AWnd, fill, reinterpret_cast<LPARAM>(this));
    if (FOk) PostMessageW(FOk, BM_CLICK, 0, 0);
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
    if (IsWindowVisible(AWnd)) PostMessageW(AWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    for (int i = 0; i < 300 && IsWindowVisible(AWnd); ++i) Sleep(10);
  }

  std::wstring FText;
  std::atomic<int> FMasked{0};
  HWND FOk = nullptr;
  FormWatchThread FWatch{[this](HWND AFound) {
    if (AFound) answer(AFound);
  }};
};

}  // namespace

TEST(Packing, EncryptedNewArchiveTakesThePasswordFromTheModulesOwnForm) {
  Packer p(L"pack_arclite.dll");
  EXPECT_NE(p.Fm.GetPackerCaps() & wcx::PK_CAPS_ENCRYPT, 0);
  const std::wstring archive = p.Archive(L"secret.7z");
  {
    PasswordAnswerer answerer(L"s3cret");
    ASSERT_EQ(p.Pack(archive, kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_ENCRYPT), 0);
    EXPECT_EQ(answerer.Masked(), 2) << "typed twice, masked";
  }
  EXPECT_NE(line_starting(p.Log(), "macro ").find("|-p:\"s3cret\"|"), std::string::npos) << line_starting(p.Log(), "macro ");
  EXPECT_NE(read_file(archive).find("password s3cret\n"), std::string::npos);
  // The user cancels the form: nothing is written, nothing asked of the plugin.
  p.Fm.ClearLog(L"pack", p.Dll);
  FormAnswerer cancel(L"");
  EXPECT_EQ(p.Pack(p.Archive(L"other.zip"), kTree, wcx::PK_PACK_SAVE_PATHS | wcx::PK_PACK_ENCRYPT), wcx::E_EABORTED);
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"secret.7z"});
  EXPECT_EQ(count_lines(p.Log(), "macro"), 0);
}

TEST(Packing, TwoChangesOfOneArchiveNeverRunAtOnce) {
  Packer p(L"pack_plugin.dll", "slow=100");
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, pack_text({{"keep.txt", "kept"}}));
  int first = -1, second = -1;
  std::thread one([&] { first = p.Pack(archive, {L"a.txt"}); });
  std::thread two([&] { second = p.Pack(archive, {L"d\\", L"d\\b.txt"}); });
  one.join();
  two.join();
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.count("a.txt"), 1u);
  EXPECT_EQ(entries.count("d\\b.txt"), 1u);
  EXPECT_EQ(entries.count("keep.txt"), 1u);
}

TEST(Deleting, ListedFilesAndFoldersGoOneCallPerFolderAndNothingElse) {
  Packer p;
  const std::wstring archive = p.Archive(L"old.wxp");
  write_file(archive, pack_text({{"a.txt", "1"}, {"a.txt2", "2"}, {"d\\b.txt", "3"}, {"d\\c.txt", "4"},
                                 {"e\\f.txt", "5"}, {"e\\g\\h.txt", "6"}}));
  watch_progress(p.Fm, 1);
  ASSERT_EQ(p.Delete(archive, {L"a.txt", L"d\\*.*", L"d\\b.txt", L"e\\g\\h.txt"}), 0);
  const auto entries = read_pack(archive);
  EXPECT_EQ(entries.count("a.txt"), 0u);
  EXPECT_EQ(entries.count("d\\b.txt") + entries.count("d\\c.txt") + entries.count("d\\"), 0u);
  EXPECT_EQ(entries.count("e\\g\\h.txt"), 0u);
  EXPECT_EQ(entries.at("a.txt2"), "2");
  EXPECT_EQ(entries.at("e\\f.txt"), "5");
  const auto log = p.Log();
  EXPECT_EQ(count_lines(log, "DeleteFilesW items"), 2) << "the root and e\\g";
  EXPECT_EQ(count_lines(log, "DeleteFilesW items=a.txt,d opmode=0x1") + count_lines(log, "DeleteFilesW items=d,a.txt opmode=0x1"), 1);
  EXPECT_EQ(count_lines(log, "DeleteFilesW items=h.txt opmode=0x1"), 1);
  EXPECT_GT(GCalls.load(), 0) << "the file manager hears the progress";
}

TEST(Deleting, NamesThatMatchNothingAndMasksDeleteNothing) {
  Packer p;
  const std::wstring archive = p.Archive(L"old.wxp");
  const std::string before = pack_text({{"a.txt", "1"}, {"d\\b.txt", "3"}});
  write_file(archive, before);
  EXPECT_EQ(p.Delete(archive, {L"*.txt", L"missing", L"d"}), wcx::E_NO_FILES) << "d holds files: only d\\*.* takes it";
  EXPECT_EQ(read_file(archive), before);
  EXPECT_EQ(count_lines(p.Log(), "DeleteFilesW items"), 0);
  p.Configure("delete=fail");
  EXPECT_EQ(p.Delete(archive, {L"a.txt"}), wcx::E_EWRITE);
  EXPECT_EQ(read_file(archive), before);
}

TEST(Packing, AFileThatTakesTheArchivesNameMeanwhileIsNeverOverwritten) {
  Packer p(L"pack_arclite.dll");
  const std::wstring archive = p.Archive(L"new.wxp");
  p.Configure("touch=" + narrow(archive));
  EXPECT_EQ(p.Pack(archive, kTree), wcx::E_ECREATE);
  EXPECT_EQ(read_file(archive), "new");
  EXPECT_EQ(files_in(p.Archives), std::vector<std::wstring>{L"new.wxp"}) << "the finished archive goes";
}

TEST(Packing, AnsiFormsConvertAndCallTheWideOnes) {
  Packer p(L"pack_arclite.dll");
  std::string archive = narrow(p.Archive(L"ansi.wxp")), source = narrow(p.Source);
  std::string list("a.txt\0d\\\0d\\b.txt\0\0", 19);
  ASSERT_EQ(p.Fm.PackFiles(archive.data(), nullptr, source.data(), list.data(), wcx::PK_PACK_SAVE_PATHS), 0);
  std::string gone("d\\*.*\0\0", 8);
  ASSERT_EQ(p.Fm.DeleteFiles(archive.data(), gone.data()), 0);
  const auto entries = read_pack(widen(archive));
  EXPECT_EQ(entries.at("a.txt"), "alpha");
  EXPECT_EQ(entries.count("d\\b.txt"), 0u);
}
