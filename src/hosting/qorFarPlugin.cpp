// Load and unload of one plugin DLL and every call into it, each through the plugin guard.
#include "hosting/qorFarPlugin.h"

#include <utility>

#include "common/qorErrors.h"
#include "common/qorPluginGuard.h"
#include "hosting/qorFarConsoleInput.h"
#include "services/qorFarLang.h"
#include "services/qorFarStartupInfoW.h"

namespace qor {
namespace {

template <class T>
T resolve(HMODULE AModule, const char* AName) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(AModule, AName)));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TqorFarPlugin

TqorFarPlugin::TqorFarPlugin(TqorFarPluginList* AOwner, std::wstring AFileName)
    : FOwner(AOwner), FFileName(std::move(AFileName)) {}

TqorFarPlugin::~TqorFarPlugin() {
  Unload();
  if (FFolderRegistered) UnregisterPluginFolder(FFileName);
}

void TqorFarPlugin::Load() {
  FModule.reset(::LoadLibraryW(FFileName.c_str()));
  if (!FModule) RaiseLastOSError();
  HMODULE m = FModule.get();
  // Before the first call into the plugin: its console polls go through the host from the start.
  RedirectConsoleInput(m);
  FAnalyseW = resolve<TAnalyseW>(m, "AnalyseW");
  FCloseAnalyseW = resolve<TCloseAnalyseW>(m, "CloseAnalyseW");
  FClosePanelW = resolve<TClosePanelW>(m, "ClosePanelW");
  FConfigureW = resolve<TConfigureW>(m, "ConfigureW");
  FExitFARW = resolve<TExitFARW>(m, "ExitFARW");
  FFreeFindDataW = resolve<TFreeFindDataW>(m, "FreeFindDataW");
  FGetFilesW = resolve<TGetFilesW>(m, "GetFilesW");
  FGetFindDataW = resolve<TGetFindDataW>(m, "GetFindDataW");
  const auto get_global_info = resolve<TGetGlobalInfoW>(m, "GetGlobalInfoW");
  FGetPluginInfoW = resolve<TGetPluginInfoW>(m, "GetPluginInfoW");
  FOpenW = resolve<TOpenW>(m, "OpenW");
  FSetDirectoryW = resolve<TSetDirectoryW>(m, "SetDirectoryW");
  FGetOpenPanelInfoW = resolve<TGetOpenPanelInfoW>(m, "GetOpenPanelInfoW");
  FPutFilesW = resolve<TPutFilesW>(m, "PutFilesW");
  FDeleteFilesW = resolve<TDeleteFilesW>(m, "DeleteFilesW");
  FMakeDirectoryW = resolve<TMakeDirectoryW>(m, "MakeDirectoryW");
  const auto set_startup_info = resolve<TSetStartupInfoW>(m, "SetStartupInfoW");

  if (!get_global_info || !FAnalyseW || !FOpenW || !FGetFindDataW || !FGetFilesW)
    throw EqorError(L"Invalid plugin");

  FGlobalInfoW = TGlobalInfo{};
  FGlobalInfoW.StructSize = sizeof(TGlobalInfo);
  GuardedCall(L"GetGlobalInfoW", get_global_info, &FGlobalInfoW);
  // From here the plugin may ask for its messages.
  if (!FFolderRegistered) {
    RegisterPluginFolder(FGlobalInfoW.Guid, FFileName);
    FFolderRegistered = true;
  }

  if (set_startup_info) {
    HostStartupInfo.ModuleName = FFileName.c_str();
    GuardedCall(L"SetStartupInfoW", set_startup_info,
                static_cast<const PluginStartupInfo*>(&HostStartupInfo));
  }
}

void TqorFarPlugin::Unload() noexcept {
  if (!FModule) return;
  if (FExitFARW) {
    TExitInfo info{};
    info.StructSize = sizeof(info);
    try {
      GuardedCall(L"ExitFARW", FExitFARW, static_cast<const TExitInfo*>(&info));
    } catch (...) {
      // The plugin is going away either way.
    }
  }
  FModule.reset();
}

bool TqorFarPlugin::read_plugin_config(TPluginMenuItem& AConfig) const {
  if (!FGetPluginInfoW || !FConfigureW) return false;
  TPluginInfo info{};
  info.StructSize = sizeof(info);
  GuardedCall(L"GetPluginInfoW", FGetPluginInfoW, &info);
  AConfig = info.PluginConfig;
  return AConfig.Count > 0 && AConfig.Guids != nullptr;
}

bool TqorFarPlugin::CanConfigure() const {
  TPluginMenuItem config{};
  return read_plugin_config(config);
}

void TqorFarPlugin::Configure() {
  TPluginMenuItem config{};
  if (!read_plugin_config(config)) return;
  TConfigureInfo info{};
  info.StructSize = sizeof(info);
  info.Guid = config.Guids;
  GuardedCall(L"ConfigureW", FConfigureW, static_cast<const TConfigureInfo*>(&info));
}

// The arrays are the plugin's memory: read under the guard, and a list that cannot be read
// offers nothing.
std::vector<TqorFarPlugin::TConfigEntry> TqorFarPlugin::ConfigEntries() const {
  std::vector<TConfigEntry> entries;
  TPluginMenuItem config{};
  if (!read_plugin_config(config)) return entries;
  constexpr size_t kMostEntries = 256;
  for (size_t i = 0; i < config.Count && i < kMostEntries; ++i) {
    TConfigEntry entry{};
    const wchar_t* text = nullptr;
    if (!CopyPluginMemory(&entry.Guid, config.Guids + i, sizeof(GUID))) break;
    if (config.Strings && !CopyPluginMemory(&text, config.Strings + i, sizeof(text))) break;
    if (!CopyPluginText(text, entry.Text)) entry.Text.clear();
    entries.push_back(std::move(entry));
  }
  return entries;
}

intptr_t TqorFarPlugin::Configure(const GUID& AEntry) {
  if (!FConfigureW) return 0;
  TConfigureInfo info{};
  info.StructSize = sizeof(info);
  info.Guid = &AEntry;
  return GuardedCall(L"ConfigureW", FConfigureW, static_cast<const TConfigureInfo*>(&info));
}

HANDLE TqorFarPlugin::Analyse(const TAnalyseInfo& AInfo) const {
  return GuardedCall(L"AnalyseW", FAnalyseW, &AInfo);
}

void TqorFarPlugin::CloseAnalyse(const TCloseAnalyseInfo& AInfo) const {
  if (FCloseAnalyseW) GuardedCall(L"CloseAnalyseW", FCloseAnalyseW, &AInfo);
}

HANDLE TqorFarPlugin::Open(const TOpenInfo& AInfo) const {
  return GuardedCall(L"OpenW", FOpenW, &AInfo);
}

HANDLE TqorFarPlugin::OpenAnalysed(TAnalyseInfo& AInfo, HANDLE AAnalysed) const {
  TOpenAnalyseInfo open_analyse{};
  open_analyse.StructSize = sizeof(open_analyse);
  open_analyse.Info = &AInfo;
  open_analyse.Handle = AAnalysed;
  TOpenInfo open{};
  open.StructSize = sizeof(open);
  open.OpenFrom = OPEN_ANALYSE;
  open.Data = reinterpret_cast<intptr_t>(&open_analyse);
  return Open(open);
}

void TqorFarPlugin::CloseAnalysed(HANDLE AAnalysed) const {
  TCloseAnalyseInfo close{};
  close.StructSize = sizeof(close);
  close.Handle = AAnalysed;
  CloseAnalyse(close);
}

intptr_t TqorFarPlugin::GetFindData(TGetFindDataInfo& AInfo) const {
  return GuardedCall(L"GetFindDataW", FGetFindDataW, &AInfo);
}

void TqorFarPlugin::FreeFindData(const TFreeFindDataInfo& AInfo) const {
  if (FFreeFindDataW) GuardedCall(L"FreeFindDataW", FFreeFindDataW, &AInfo);
}

void TqorFarPlugin::FreeData(const TUserDataItem& AUserData, const TFarPanelItemFreeInfo& AInfo) const {
  GuardedCall(L"FreeData", AUserData.FreeData, AUserData.Data, &AInfo);
}

intptr_t TqorFarPlugin::SetDirectory(const TSetDirectoryInfo& AInfo) const {
  return FSetDirectoryW ? GuardedCall(L"SetDirectoryW", FSetDirectoryW, &AInfo) : 0;
}

intptr_t TqorFarPlugin::GetFiles(TGetFilesInfo& AInfo) const {
  const TqorWritingCall writing;
  return GuardedCall(L"GetFilesW", FGetFilesW, &AInfo);
}

void TqorFarPlugin::ClosePanel(const TClosePanelInfo& AInfo) const {
  // A plugin may write what it put off until its panel closes.
  const TqorWritingCall writing;
  if (FClosePanelW) GuardedCall(L"ClosePanelW", FClosePanelW, &AInfo);
}

void TqorFarPlugin::GetOpenPanelInfo(TOpenPanelInfo& AInfo) const {
  if (FGetOpenPanelInfoW) GuardedCall(L"GetOpenPanelInfoW", FGetOpenPanelInfoW, &AInfo);
}

intptr_t TqorFarPlugin::PutFiles(const TPutFilesInfo& AInfo) const {
  const TqorWritingCall writing;
  return FPutFilesW ? GuardedCall(L"PutFilesW", FPutFilesW, &AInfo) : 0;
}

intptr_t TqorFarPlugin::DeleteFiles(const TDeleteFilesInfo& AInfo) const {
  const TqorWritingCall writing;
  return FDeleteFilesW ? GuardedCall(L"DeleteFilesW", FDeleteFilesW, &AInfo) : 0;
}

intptr_t TqorFarPlugin::MakeDirectory(TMakeDirectoryInfo& AInfo) const {
  const TqorWritingCall writing;
  return FMakeDirectoryW ? GuardedCall(L"MakeDirectoryW", FMakeDirectoryW, &AInfo) : 0;
}

}  // namespace qor
