// One plugin module on its own (linked from the module's units): load and start order, the
// shared start-up table, rejection, configuration and unloading.
#include <gtest/gtest.h>

#include <memory>

#include "common/qorErrors.h"
#include "hosting/qorFarPlugin.h"
#include "hosting/qorFarPlugins.h"
#include "pe_builder.h"
#include "services/qorFarStartupInfoW.h"
#include "wexlor_harness.h"

using namespace wxt;

namespace {

class PluginModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { qor::InitStartupInfo(); }
  void SetUp() override {
    FRoot = make_temp_folder();
    CreateDirectoryW((FRoot + qor::kPluginsFolder).c_str(), nullptr);
  }
  void TearDown() override { remove_tree(FRoot); }

  // Copies a fixture to Plugins32\<folder>\ so its logs stay out of the build folder.
  std::wstring place(const std::wstring& AFolder, const std::wstring& ABinary, const std::string& AConfig = "") {
    const std::wstring folder = FRoot + qor::kPluginsFolder + L"\\" + AFolder + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW((exe_folder() + ABinary).c_str(), (folder + ABinary).c_str(), FALSE);
    if (!AConfig.empty()) write_file(folder + L"fixture.cfg", AConfig);
    return folder + ABinary;
  }
  std::vector<std::string> log(const std::wstring& APath) { return read_lines(APath + L".log"); }

  std::wstring FRoot;
};

}  // namespace

TEST_F(PluginModule, StartsWithGlobalInfoThenStartupTableAndExitsOnceBeforeUnloading) {
  const std::wstring path = place(L"Full", L"fixture_full.dll");
  auto plugin = std::make_unique<qor::TqorFarPlugin>(nullptr, path);
  plugin->Load();
  EXPECT_NE(GetModuleHandleW(path.c_str()), nullptr);
  const GUID expected{0x5758F1A0, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_TRUE(IsEqualGUID(plugin->GlobalInfo().Guid, expected));
  EXPECT_EQ(std::wstring(qor::HostStartupInfo.ModuleName), path);
  EXPECT_TRUE(plugin->CanConfigure());
  plugin->Configure();
  plugin->Unload();
  plugin->Unload();
  EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
  plugin.reset();
  EXPECT_EQ(entries_of(log(path)), (std::vector<std::string>{"GetGlobalInfoW", "SetStartupInfoW", "GetPluginInfoW",
                                                              "GetPluginInfoW", "ConfigureW", "ExitFARW"}));
}

TEST_F(PluginModule, WithoutSetStartupInfoTheSharedModuleNameKeepsThePreviousPath) {
  const std::wstring full = place(L"Full", L"fixture_full.dll");
  const std::wstring min = place(L"Min", L"fixture_min.dll");
  qor::TqorFarPlugin first(nullptr, full);
  first.Load();
  qor::TqorFarPlugin second(nullptr, min);
  second.Load();
  EXPECT_EQ(std::wstring(qor::HostStartupInfo.ModuleName), full);
  // Neither GetPluginInfoW nor ConfigureW: nothing to configure, and Configure does nothing.
  EXPECT_FALSE(second.CanConfigure());
  second.Configure();
  second.Unload();
  EXPECT_EQ(entries_of(log(min)), (std::vector<std::string>{"GetGlobalInfoW"}));
}

TEST_F(PluginModule, RejectedPluginsRaiseAndAreUnloaded) {
  const std::wstring lower = place(L"Lower", L"fixture_lower.dll");
  {
    qor::TqorFarPlugin plugin(nullptr, lower);
    try {
      plugin.Load();
      ADD_FAILURE() << "loaded";
    } catch (const qor::EqorError& e) {
      EXPECT_EQ(e.Message(), L"Invalid plugin");
    }
  }
  EXPECT_EQ(GetModuleHandleW(lower.c_str()), nullptr);
  // Told to exit although it never received the start-up table.
  EXPECT_EQ(entries_of(log(lower)), (std::vector<std::string>{"ExitFARW"}));

  // The other target's DLL: the loader refuses it with 193.
  PeOptions foreign;
  foreign.amd64 = !kTarget64;
  foreign.code = true;
  foreign.names = {"AnalyseW", "GetFilesW", "GetFindDataW", "GetGlobalInfoW", "OpenW"};
  const std::wstring other = FRoot + L"foreign.dll";
  write_file(other, BuildPe(foreign).bytes);
  const std::wstring missing = FRoot + L"missing.dll";
  for (const auto& [file, code] : {std::pair<std::wstring, DWORD>{other, ERROR_BAD_EXE_FORMAT},
                                   std::pair<std::wstring, DWORD>{missing, ERROR_MOD_NOT_FOUND}}) {
    SCOPED_TRACE(narrow(file));
    qor::TqorFarPlugin plugin(nullptr, file);
    try {
      plugin.Load();
      ADD_FAILURE() << "loaded";
    } catch (const qor::EqorError& e) {
      EXPECT_EQ(e.Code(), code);
      EXPECT_EQ(e.Message(), qor::SystemErrorMessage(code));
    }
  }
}

// The fault's own code, as the processor reports it.
class PluginModuleNativeFaults : public PluginModule {};

TEST_F(PluginModuleNativeFaults, FaultWhileStartingRaisesItsCodeAndUnloads) {
  const std::wstring faulting = place(L"Fault", L"fixture_full.dll", "fault=GetGlobalInfoW\nfault_kind=divzero\n");
  {
    qor::TqorFarPlugin plugin(nullptr, faulting);
    try {
      plugin.Load();
      ADD_FAILURE() << "loaded";
    } catch (const qor::EqorPluginFault& e) {
      EXPECT_EQ(e.Code(), static_cast<DWORD>(EXCEPTION_INT_DIVIDE_BY_ZERO));
    }
  }
  EXPECT_EQ(GetModuleHandleW(faulting.c_str()), nullptr);
}

TEST_F(PluginModule, EmptyRegistryFindsNothing) {
  qor::TqorFarPluginList registry;
  EXPECT_EQ(registry.Count(), 0);
  for (int index : {-1, 0, 1}) {
    try {
      registry.GetPlugin(index);
      ADD_FAILURE() << index;
    } catch (const qor::EqorError& e) {
      EXPECT_EQ(e.Message(), L"List index out of bounds");
    }
  }
  const std::wstring file = FRoot + L"a.fix";
  write_file(file, "WXFIX\n");
  EXPECT_EQ(registry.FindPlugin(file), nullptr);
  HANDLE handle = reinterpret_cast<HANDLE>(1);
  EXPECT_EQ(registry.FindPluginAndOpen(file, handle), nullptr);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(registry.FindPluginByGuid(GUID{}), nullptr);
  // Reading the file is not guarded here: the caller gets the error, the handle slot is 0.
  handle = reinterpret_cast<HANDLE>(1);
  try {
    registry.FindPluginAndOpen(FRoot + L"missing.fix", handle);
    ADD_FAILURE() << "no error";
  } catch (const qor::EqorError& e) {
    EXPECT_EQ(e.Code(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  }
  EXPECT_EQ(handle, nullptr);
}
