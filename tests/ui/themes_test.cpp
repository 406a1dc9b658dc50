// Visual styles and the activation context: the module's resources as Windows reads them from
// the built Wexlor.wcx, activation requests on one and on several threads, and the soft failure
// of the uxtheme wrappers in child processes whose uxtheme.dll is missing or incomplete.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/qorShellThemes.h"
#include "wexlor_harness.h"

namespace {

std::wstring module_path() { return wxt::exe_folder() + qor::kModuleFileName; }

BOOL CALLBACK collect_language(HMODULE, LPCWSTR, LPCWSTR, WORD ALang, LONG_PTR AList) {
  reinterpret_cast<std::vector<WORD>*>(AList)->push_back(ALang);
  return TRUE;
}

TEST(ModuleResources, ManifestIsLanguageNeutralIdTwoAndAsksForCommonControls6) {
  HMODULE module = LoadLibraryExW(module_path().c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceExW(module, RT_MANIFEST, MAKEINTRESOURCEW(2), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  ASSERT_NE(data, nullptr);
  const std::string text(data, SizeofResource(module, found));
  EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(text.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
  EXPECT_NE(text.find("<requestedPrivileges></requestedPrivileges>"), std::string::npos);
  EXPECT_NE(text.find("<windowsSettings></windowsSettings>"), std::string::npos);
  // Exactly one manifest and no process-default one (id 1 belongs to EXEs).
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST), nullptr);
  std::vector<WORD> languages;
  EnumResourceLanguagesW(module, RT_MANIFEST, MAKEINTRESOURCEW(2), collect_language,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, std::vector<WORD>{0});
  FreeLibrary(module);
}

std::wstring version_string(const std::vector<char>& ABlock, const wchar_t* AName) {
  wchar_t* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + AName;
  if (!VerQueryValueW(ABlock.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
    return L"<missing>";
  return value;
}

TEST(ModuleResources, VersionBlockNamesTheFileAndItsVersions) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(module_path().c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(module_path().c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(version_string(block, L"OriginalFilename"), qor::kModuleFileName);
  EXPECT_EQ(version_string(block, L"FileVersion"), L"1.0.0.0");
  EXPECT_EQ(version_string(block, L"ProductVersion"), L"1.0.0.0");
  EXPECT_NE(version_string(block, L"FileDescription").find(L"FAR Manager 3"), std::wstring::npos);
}

// Records every ActivateActCtx/DeactivateActCtx the unit makes, with the calling thread, and
// forwards to the system so the context really comes into force.
struct actctx_call {
  bool activate;
  DWORD thread;
  ULONG_PTR cookie;
};
std::mutex GCallsLock;
std::vector<actctx_call> GCalls;

BOOL WINAPI recording_activate(HANDLE AContext, ULONG_PTR* ACookie) {
  const BOOL ok = ActivateActCtx(AContext, ACookie);
  std::lock_guard<std::mutex> guard(GCallsLock);
  GCalls.push_back({true, GetCurrentThreadId(), ok ? *ACookie : 0});
  return ok;
}
BOOL WINAPI recording_deactivate(DWORD AFlags, ULONG_PTR ACookie) {
  {
    std::lock_guard<std::mutex> guard(GCallsLock);
    GCalls.push_back({false, GetCurrentThreadId(), ACookie});
  }
  return DeactivateActCtx(AFlags, ACookie);
}

HANDLE current_context() {
  HANDLE context = nullptr;
  GetCurrentActCtx(&context);
  if (context) ReleaseActCtx(context);  // only compared, the loader keeps it alive
  return context;
}

// The unit's copy inside this test program is started on the built module, whose loader entry
// carries the context Windows made from the manifest.
class ActivationContext : public ::testing::Test {
 protected:
  void SetUp() override {
    FModule = LoadLibraryW(module_path().c_str());
    ASSERT_NE(FModule, nullptr);
    qor::ThemesStartup(FModule);
    qor::SetActCtxFunctionsForTest(recording_activate, recording_deactivate);
    GCalls.clear();
  }
  void TearDown() override {
    qor::SetActCtxFunctionsForTest(nullptr, nullptr);
    qor::SetComCtl32VersionForTest(nullptr);
    qor::ThemesStartup();
    if (FModule) FreeLibrary(FModule);
  }
  HMODULE FModule = nullptr;
};

TEST_F(ActivationContext, LoaderGaveTheModuleAContextAndTheTestProgramNone) {
  EXPECT_NE(qor::ModuleActivationContext(), nullptr);
  qor::ThemesStartup();  // this EXE has no manifest
  EXPECT_EQ(qor::ModuleActivationContext(), nullptr);
  qor::TqorShellActivationContext request;  // nothing to activate: no call, no failure
  EXPECT_TRUE(GCalls.empty());
}

TEST_F(ActivationContext, NestedRequestsActivateOnceAndDeactivateWhenTheOuterEnds) {
  const HANDLE module_context = qor::ModuleActivationContext();
  const HANDLE before = current_context();
  ASSERT_NE(before, module_context);
  {
    qor::TqorShellActivationContext outer;
    ASSERT_TRUE(outer.NeedActivate()) << "Wine's comctl32 answers 5.81";
    EXPECT_EQ(current_context(), module_context);
    {
      qor::TqorShellActivationContext inner;
      EXPECT_TRUE(inner.NeedActivate());
      EXPECT_EQ(current_context(), module_context);
    }
    ASSERT_EQ(GCalls.size(), 1u);
    EXPECT_TRUE(GCalls[0].activate);
    EXPECT_EQ(current_context(), module_context);
  }
  ASSERT_EQ(GCalls.size(), 2u);
  EXPECT_FALSE(GCalls[1].activate);
  EXPECT_EQ(GCalls[1].cookie, GCalls[0].cookie);
  EXPECT_EQ(current_context(), before);
  // A second round on the same thread activates again.
  { qor::TqorShellActivationContext again; }
  EXPECT_EQ(GCalls.size(), 4u);
}

TEST_F(ActivationContext, RequestsOnTwoThreadsEachActivateOnTheirOwnThread) {
  const HANDLE module_context = qor::ModuleActivationContext();
  HANDLE both_active = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> active{0};
  std::atomic<int> saw_module_context{0};
  auto worker = [&] {
    qor::TqorShellActivationContext request;
    if (current_context() == module_context) ++saw_module_context;
    if (++active == 2) SetEvent(both_active);
    WaitForSingleObject(both_active, 10000);
  };
  std::thread first(worker), second(worker);
  ASSERT_EQ(WaitForSingleObject(both_active, 10000), WAIT_OBJECT_0);
  EXPECT_NE(current_context(), module_context) << "the main thread made no request";
  first.join();
  second.join();
  CloseHandle(both_active);
  EXPECT_EQ(saw_module_context.load(), 2);
  ASSERT_EQ(GCalls.size(), 4u);
  std::vector<DWORD> activating, deactivating;
  for (const actctx_call& call : GCalls) (call.activate ? activating : deactivating).push_back(call.thread);
  ASSERT_EQ(activating.size(), 2u);
  EXPECT_NE(activating[0], activating[1]);
  std::sort(activating.begin(), activating.end());
  std::sort(deactivating.begin(), deactivating.end());
  EXPECT_EQ(activating, deactivating);
  EXPECT_EQ(std::count(activating.begin(), activating.end(), GetCurrentThreadId()), 0);
}

TEST_F(ActivationContext, HostOnCommonControls6LeavesTheContextAlone) {
  // Wine's comctl32 answers 5.81 in every context, so a version 6 host is given by the probe.
  qor::SetComCtl32VersionForTest([]() -> DWORD { return 0x0600; });
  const HANDLE before = current_context();
  {
    qor::TqorShellActivationContext request;
    EXPECT_FALSE(request.NeedActivate());
    EXPECT_EQ(current_context(), before);
  }
  EXPECT_TRUE(GCalls.empty());
  EXPECT_EQ(current_context(), before);
}

TEST(DllVersion, MeasuredFromDllGetVersionOrFourZero) {
  ASSERT_EQ(GetModuleHandleW(L"comctl32.dll"), nullptr) << "measured by loading it for the moment";
  const DWORD measured = qor::GetComCtl32Version();
  EXPECT_EQ(GetModuleHandleW(L"comctl32.dll"), nullptr) << "and unloading it again";
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  EXPECT_EQ(qor::GetDllVersion(comctl), measured);
  EXPECT_EQ(qor::GetComCtl32Version(), measured);
  EXPECT_EQ(measured, 0x0551u) << "Wine's comctl32 is 5.81";
  FreeLibrary(comctl);
  EXPECT_EQ(qor::GetDllVersion(GetModuleHandleW(L"kernel32.dll")), 0x0400u) << "no DllGetVersion";
  EXPECT_EQ(qor::GetDllVersion(nullptr), 0x0400u);
}

TEST(Themes, WrappersReachWinesUxtheme) {
  EXPECT_TRUE(qor::UseThemes());
  HWND button = CreateWindowExW(0, L"BUTTON", L"x", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(button, nullptr);
  HTHEME theme = qor::OpenThemeDataForDpi(button, L"BUTTON", 96, false);
  ASSERT_NE(theme, nullptr);
  LOGFONTW font{};
  HDC dc = GetDC(button);
  const HRESULT font_result = qor::GetThemeFont(theme, dc, 1, 1, 210, &font);
  ReleaseDC(button, dc);
  EXPECT_NE(font_result, E_NOTIMPL);
  EXPECT_EQ(qor::CloseThemeData(theme), S_OK);
  DestroyWindow(button);
}

// Runs a copy of this program, named AChildName, from AFolder, running only the child tests.
// Wine takes the uxtheme load order of that copy from its per-program registry defaults.
DWORD run_child(const std::wstring& AFolder, const std::wstring& AChildName, const wchar_t* AUxthemeOrder,
                const std::wstring& AFilter) {
  wchar_t self[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  const std::wstring program = AFolder + AChildName;
  if (!CopyFileW(self, program.c_str(), FALSE)) return 1000;
  const std::wstring key = L"Software\\Wine\\AppDefaults\\" + AChildName + L"\\DllOverrides";
  HKEY overrides = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides, nullptr))
    return 1001;
  RegSetValueExW(overrides, L"uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(AUxthemeOrder),
                 static_cast<DWORD>((wcslen(AUxthemeOrder) + 1) * sizeof(wchar_t)));
  RegCloseKey(overrides);
  SetEnvironmentVariableW(L"WEXLOR_THEMES_CHILD", L"1");
  std::wstring command = L"\"" + program + L"\" --gtest_filter=" + AFilter;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      AFolder.c_str(), &startup, &process);
  SetEnvironmentVariableW(L"WEXLOR_THEMES_CHILD", nullptr);
  DWORD code = 1002;
  if (started) {
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  return code;
}

bool is_child() { return GetEnvironmentVariableW(L"WEXLOR_THEMES_CHILD", nullptr, 0) > 0; }

TEST(ThemesChild, WithoutUxthemeEveryWrapperAnswersItsNeutralValue) {
  if (!is_child()) GTEST_SKIP() << "runs in the child process";
  ASSERT_EQ(LoadLibraryW(L"uxtheme.dll"), nullptr) << "the override should hide uxtheme.dll";
  EXPECT_FALSE(qor::UseThemes());
  EXPECT_EQ(qor::OpenThemeData(nullptr, L"BUTTON"), nullptr);
  EXPECT_EQ(qor::OpenThemeDataForDpi(nullptr, L"BUTTON", 144, true), nullptr);
  LOGFONTW font{};
  EXPECT_EQ(qor::GetThemeFont(nullptr, nullptr, 1, 1, 210, &font), E_NOTIMPL);
  EXPECT_EQ(qor::CloseThemeData(nullptr), E_NOTIMPL);
  EXPECT_EQ(qor::DrawThemeBackground(nullptr, nullptr, 1, 1, nullptr, nullptr), E_NOTIMPL);
  COLORREF color = 0;
  EXPECT_EQ(qor::GetThemeColor(nullptr, 1, 1, 1, &color), E_NOTIMPL);
  SIZE size{};
  EXPECT_EQ(qor::GetThemePartSize(nullptr, nullptr, 1, 1, nullptr, TS_TRUE, &size), E_NOTIMPL);
  EXPECT_EQ(qor::GetWindowTheme(nullptr), nullptr);
  EXPECT_FALSE(qor::IsAppThemed());
  EXPECT_FALSE(qor::IsThemeActive());
}

TEST(ThemesChild, WithAnIncompleteUxthemeMissingNamesFallBack) {
  if (!is_child()) GTEST_SKIP() << "runs in the child process";
  HMODULE fake = GetModuleHandleW(L"uxtheme.dll");
  ASSERT_EQ(fake, nullptr) << "not loaded before the first wrapper call";
  EXPECT_TRUE(qor::UseThemes());
  fake = GetModuleHandleW(L"uxtheme.dll");
  ASSERT_NE(fake, nullptr);
  ASSERT_EQ(GetProcAddress(fake, "OpenThemeDataForDpi"), nullptr) << "the stand-in was loaded";
  const HTHEME plain = qor::OpenThemeData(nullptr, L"BUTTON");
  EXPECT_EQ(plain, reinterpret_cast<HTHEME>(0x5150));
  EXPECT_EQ(qor::OpenThemeDataForDpi(nullptr, L"BUTTON", 144, true), plain);
  EXPECT_EQ(qor::OpenThemeDataForDpi(nullptr, L"BUTTON", 144, false), nullptr);
  LOGFONTW font{};
  EXPECT_EQ(qor::GetThemeFont(plain, nullptr, 1, 1, 210, &font), E_NOTIMPL);
  EXPECT_EQ(qor::CloseThemeData(plain), E_NOTIMPL);
  EXPECT_EQ(qor::GetWindowTheme(nullptr), nullptr);
  EXPECT_TRUE(qor::IsThemeActive());
  // Many calls, one load: a single FreeLibrary takes the library out of the process.
  FreeLibrary(fake);
  EXPECT_EQ(GetModuleHandleW(L"uxtheme.dll"), nullptr);
}

TEST(Themes, MissingUxthemeGivesNeutralValues) {
  const std::wstring folder = wxt::make_temp_folder();
  EXPECT_EQ(run_child(folder, L"themes_no_uxtheme.exe", L"", L"ThemesChild.WithoutUxtheme*"), 0u);
  wxt::remove_tree(folder);
}

TEST(Themes, IncompleteUxthemeFallsBack) {
  const std::wstring folder = wxt::make_temp_folder();
  ASSERT_TRUE(CopyFileW((wxt::exe_folder() + L"fake_uxtheme\\uxtheme.dll").c_str(), (folder + L"uxtheme.dll").c_str(), FALSE));
  EXPECT_EQ(run_child(folder, L"themes_fake_uxtheme.exe", L"native", L"ThemesChild.WithAnIncomplete*"), 0u);
  wxt::remove_tree(folder);
}

}  // namespace
