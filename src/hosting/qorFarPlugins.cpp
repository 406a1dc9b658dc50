// Discovery, detection order and detection, and the registry created on first use.
#include "hosting/qorFarPlugins.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "common/qorErrors.h"
#include "common/qorHandles.h"
#include "common/qorPluginGuard.h"
#include "common/qorTarget.h"
#include "hosting/qorFarExportNames.h"
#include "services/qorFarPluginRecords.h"

namespace qor {
namespace {

std::wstring module_folder() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&module_folder), &self);
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) RaiseLastOSError();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// Names in find order of the entries of APattern that are (or are not) folders.
std::vector<std::wstring> find_entries(const std::wstring& APattern, bool AFolders) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  unique_find find(::FindFirstFileW(APattern.c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return names;
  do {
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (std::wcscmp(data.cFileName, L".") == 0 || std::wcscmp(data.cFileName, L"..") == 0) continue;
    if (folder == AFolders) names.emplace_back(data.cFileName);
  } while (::FindNextFileW(find.get(), &data));
  return names;
}

bool same_name_ignoring_case(const std::wstring& A, const std::wstring& B) {
  return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(),
                                static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

constexpr const wchar_t* kRequiredExports[] = {L"GetGlobalInfoW", L"AnalyseW", L"OpenW",
                                               L"GetFindDataW", L"GetFilesW"};

// At most one buffer waits here; detections on several threads at once allocate their own.
std::atomic<unsigned char*> GSpareHead{nullptr};
}  // namespace

file_head::~file_head() {
  if (FBuffer) delete[] GSpareHead.exchange(FBuffer.release());
}

file_head ReadFileHead(const std::wstring& AFileName) {
  unique_handle file(::CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) RaiseLastOSError();
  file_head head;
  head.FBuffer.reset(GSpareHead.exchange(nullptr));
  if (!head.FBuffer) head.FBuffer.reset(new unsigned char[MaxFileHeadSize]);
  // One read of the largest head: a shorter file simply gives fewer bytes.
  DWORD got = 0;
  if (!::ReadFile(file.get(), head.FBuffer.get(), MaxFileHeadSize, &got, nullptr)) RaiseLastOSError();
  head.FSize = got;
  return head;
}

// ---------------------------------------------------------------------------------------------
// TqorFarPluginList

namespace {

std::wstring plugin_text(const wchar_t* AText) {
  std::wstring text;
  return CopyPluginText(AText, text) ? text : std::wstring();
}

void describe_loaded(TqorFarPluginState& AState, TqorFarPlugin& APlugin) {
  const TGlobalInfo& info = APlugin.GlobalInfo();
  AState.Guid = info.Guid;
  AState.Plugin = &APlugin;
  AState.Title = plugin_text(info.Title);
  AState.Description = plugin_text(info.Description);
  AState.Author = plugin_text(info.Author);
  AState.Version = PluginVersionText(info.Version);
}

// What the list shows of a plugin that is not loaded: what was kept from its last load.
void describe_kept(TqorFarPluginState& AState, const TqorPluginRecord& ARecord) {
  AState.Guid = ARecord.Guid;
  AState.Enabled = false;
  AState.Title = ARecord.Title;
  AState.Version = ARecord.Version;
  AState.Author = ARecord.Author;
  AState.Description = ARecord.Description;
}

// The record of a disabled plugin that a DLL must not be loaded for: its own, when this module
// noted the DLL; else one the other module found in a folder of the same name, which stands for
// this folder's plugin until this module has seen it (loading it to learn its GUID would run the
// code the user turned off).
const TqorPluginRecord* disabled_record(const TqorPluginRecords& ARecords, const std::wstring& AFolder,
                                        const std::wstring& ARelative) {
  if (const TqorPluginRecord* record = ARecords.FindFile(ARelative)) return record->Enabled ? nullptr : record;
  return ARecords.FindDisabledOtherFolder(AFolder);
}

std::wstring plugins_base() { return module_folder() + kPluginsFolder + L"\\"; }

std::wstring relative_to_plugins(const std::wstring& AFileName, const std::wstring& ABase) {
  return AFileName.compare(0, ABase.size(), ABase) == 0 ? AFileName.substr(ABase.size()) : AFileName;
}

bool usable_exports(const std::wstring& AFileName) {
  std::vector<std::wstring> exports;
  bool is64 = false;
  ReadExportNames(AFileName, is64, &exports);
  for (const wchar_t* required : kRequiredExports)
    if (std::none_of(exports.begin(), exports.end(), [&](const std::wstring& e) { return same_name_ignoring_case(e, required); }))
      return false;
  return true;
}

}  // namespace

std::wstring PluginVersionText(const TVersionInfo& AVersion) {
  return std::to_wstring(AVersion.Major) + L"." + std::to_wstring(AVersion.Minor) + L"." +
         std::to_wstring(AVersion.Revision) + L"." + std::to_wstring(AVersion.Build);
}

TqorFarPluginList::~TqorFarPluginList() {
  FStates.clear();
  // Last loaded goes first.
  while (!FList.empty()) FList.pop_back();
}

// Registered before loading, so a plugin asking for itself while it starts finds itself.
TqorFarPlugin* TqorFarPluginList::load_plugin(const std::wstring& AFileName) {
  lock_guard<critical_section> guard(FLock);
  FList.push_back(std::make_unique<TqorFarPlugin>(this, AFileName));
  try {
    FList.back()->Load();
  } catch (...) {
    FList.pop_back();
    throw;
  }
  return FList.back().get();
}

void TqorFarPluginList::Discover() {
  const TqorPluginRecords records = ReadPluginRecords();
  const std::wstring base = plugins_base();
  std::vector<TqorFarPluginState> found;
  for (const auto& folder : find_entries(base + L"*.*", true)) {
    const std::wstring folder_path = base + folder + L"\\";
    for (const auto& file : find_entries(folder_path + L"*.dll", false)) {
      try {
        const std::wstring path = folder_path + file;
        if (!usable_exports(path)) continue;
        TqorFarPluginState state;
        state.FileName = path;
        const std::wstring relative = relative_to_plugins(path, base);
        if (const TqorPluginRecord* record = disabled_record(records, folder, relative)) {
          // Disabled: never loaded, not even its DllMain runs.
          describe_kept(state, *record);
          found.push_back(std::move(state));
          continue;
        }
        describe_loaded(state, *load_plugin(path));
        if (const TqorPluginRecord* record = records.Find(state.Guid); record && !record->Enabled) {
          // Disabled by its GUID under a path not noted yet (the plugin moved, or the other module
          // found it in a folder of another name): out again at once, and noted so that it stays
          // unloaded.
          {
            lock_guard<critical_section> guard(FLock);
            FList.pop_back();
          }
          state.Plugin = nullptr;
          state.Enabled = false;
          AddPluginFile(state.Guid, relative);
        }
        found.push_back(std::move(state));
      } catch (...) {
        // A DLL that cannot serve as a plugin leaves no trace.
      }
    }
  }
  std::stable_sort(found.begin(), found.end(), [&](const TqorFarPluginState& A, const TqorFarPluginState& B) {
    return records.Rank(A.Guid) < records.Rank(B.Guid);
  });
  lock_guard<critical_section> guard(FLock);
  FStates = std::move(found);
}

int TqorFarPluginList::Count() const {
  lock_guard<critical_section> guard(FLock);
  return static_cast<int>(FList.size());
}

TqorFarPlugin* TqorFarPluginList::GetPlugin(int AIndex) const {
  lock_guard<critical_section> guard(FLock);
  if (AIndex < 0 || AIndex >= static_cast<int>(FList.size())) throw EqorError(L"List index out of bounds");
  return FList[static_cast<size_t>(AIndex)].get();
}

TqorFarPlugin* TqorFarPluginList::FindPlugin(const std::wstring& AFileName) const {
  return FindPluginEx(AFileName, nullptr);
}

TqorFarPlugin* TqorFarPluginList::FindPluginAndOpen(const std::wstring& AFileName, HANDLE& AHandle) const {
  return FindPluginEx(AFileName, &AHandle);
}

TqorFarPlugin* TqorFarPluginList::FindPluginByGuid(const GUID& AGuid) const {
  lock_guard<critical_section> guard(FLock);
  for (const auto& plugin : FList)
    if (IsEqualGUID(plugin->GlobalInfo().Guid, AGuid)) return plugin.get();
  return nullptr;
}

std::vector<TqorFarPlugin*> TqorFarPluginList::active_plugins() const {
  std::vector<TqorFarPlugin*> plugins;
  lock_guard<critical_section> guard(FLock);
  plugins.reserve(FStates.size());
  for (const TqorFarPluginState& state : FStates)
    if (state.Enabled && state.Plugin) plugins.push_back(state.Plugin);
  return plugins;
}

std::vector<TqorFarPluginState> TqorFarPluginList::States() const {
  lock_guard<critical_section> guard(FLock);
  return FStates;
}

DWORD TqorFarPluginList::Apply(const std::vector<TqorFarPluginState>& AStates) {
  std::vector<TqorPluginRecord> records;
  {
    lock_guard<critical_section> guard(FLock);
    std::vector<TqorFarPluginState> states;
    for (const TqorFarPluginState& wanted : AStates)
      for (TqorFarPluginState& state : FStates)
        if (!state.FileName.empty() && same_name_ignoring_case(state.FileName, wanted.FileName)) {
          state.Enabled = wanted.Enabled;
          states.push_back(std::move(state));
          state.FileName.clear();
          break;
        }
    // Plugins the caller did not name keep their places after the named ones.
    for (TqorFarPluginState& state : FStates)
      if (!state.FileName.empty()) states.push_back(std::move(state));
    for (TqorFarPluginState& state : states) {
      if (!state.Enabled || state.Plugin) continue;
      try {
        describe_loaded(state, *load_plugin(state.FileName));
      } catch (...) {
        // It stays listed and enabled, and is asked about nothing: it could not be loaded.
      }
    }
    FStates = std::move(states);
    const std::wstring base = plugins_base();
    for (const TqorFarPluginState& state : FStates) {
      auto same = std::find_if(records.begin(), records.end(),
                               [&](const TqorPluginRecord& ARecord) { return IsEqualGUID(ARecord.Guid, state.Guid); });
      if (same == records.end()) {
        records.push_back(TqorPluginRecord{state.Guid, state.Enabled, state.Title, state.Version, state.Author,
                                           state.Description, {}});
        same = records.end() - 1;
      }
      same->Files.push_back(relative_to_plugins(state.FileName, base));
    }
  }
  return SavePluginRecords(records);
}

TqorFarPlugin* TqorFarPluginList::FindPluginEx(const std::wstring& AFileName, HANDLE* AHandle) const {
  if (AHandle) *AHandle = nullptr;
  file_head head = ReadFileHead(AFileName);

  TAnalyseInfo analyse{};
  analyse.StructSize = sizeof(analyse);
  analyse.FileName = AFileName.c_str();
  analyse.Buffer = head.empty() ? nullptr : head.data();
  analyse.BufferSize = head.size();
  analyse.OpMode = OPM_PGDN;

  for (TqorFarPlugin* plugin : active_plugins()) {
    const HANDLE analysed = plugin->Analyse(analyse);
    if (!analysed) continue;
    if (AHandle)
      *AHandle = plugin->OpenAnalysed(analyse, analysed);
    else
      plugin->CloseAnalysed(analysed);
    return plugin;
  }
  return nullptr;
}

TqorFarPlugin* TqorFarPluginList::ProbeNewArchive(HANDLE& AHandle) const {
  AHandle = nullptr;
  TAnalyseInfo analyse{};
  analyse.StructSize = sizeof(analyse);
  for (TqorFarPlugin* plugin : active_plugins()) {
    if (!plugin->HasPutFiles()) continue;
    AHandle = plugin->Analyse(analyse);
    if (AHandle) return plugin;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Registry instance

namespace {
std::atomic<TqorFarPluginList*> GRegistry{nullptr};
TqorFarPluginList* GRegistryInCreation = nullptr;
critical_section* GRegistryLock = nullptr;
// Set once unloading has begun: a plugin asking for the registry from its ExitFARW must not
// start a second discovery while the first registry is being freed.
std::atomic<bool> GRegistryClosed{false};
}  // namespace

TqorFarPluginList& PluginRegistry() {
  if (auto* registry = GRegistry.load(std::memory_order_acquire)) return *registry;
  if (GRegistryClosed.load() || !GRegistryLock) throw EqorError(L"The module is unloading");
  lock_guard<critical_section> guard(*GRegistryLock);
  if (auto* registry = GRegistry.load(std::memory_order_acquire)) return *registry;
  // A plugin that asks its host for itself while it starts re-enters on this thread.
  if (GRegistryInCreation) return *GRegistryInCreation;
  auto registry = std::make_unique<TqorFarPluginList>();
  GRegistryInCreation = registry.get();
  try {
    registry->Discover();
  } catch (...) {
    GRegistryInCreation = nullptr;
    throw;
  }
  GRegistryInCreation = nullptr;
  GRegistry.store(registry.get(), std::memory_order_release);
  return *registry.release();
}

bool PluginRegistryCreated() noexcept { return GRegistry.load(std::memory_order_acquire) != nullptr; }

void PluginsStartup() noexcept {
  GRegistryClosed.store(false);
  GRegistry.store(nullptr);
  GRegistryLock = new critical_section;
}

void PluginsShutdown() noexcept {
  GRegistryClosed.store(true);
  delete GRegistry.exchange(nullptr);
  delete[] GSpareHead.exchange(nullptr);
  delete GRegistryLock;
  GRegistryLock = nullptr;
}

}  // namespace qor
