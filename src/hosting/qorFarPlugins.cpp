#include "hosting/qorFarPlugins.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "common/qorErrors.h"
#include "common/qorLocks.h"
#include "common/qorPluginGuard.h"
#include "common/qorTarget.h"
#include "common/qorText.h"
#include "hosting/qorFarConsoleInput.h"
#include "services/qorFarLang.h"
#include "services/qorFarPluginRecords.h"
#include "services/qorFarStartupInfoW.h"

namespace qor {
namespace {

// Runs each step even when an earlier one failed; the first error is raised at the end.
class first_error {
 public:
  template <class F>
  void attempt(F&& AStep) noexcept {
    try {
      AStep();
    } catch (...) {
      if (!FError) FError = std::current_exception();
    }
  }
  void rethrow() const {
    if (FError) std::rethrow_exception(FError);
  }

 private:
  std::exception_ptr FError;
};

template <class T>
T resolve(HMODULE AModule, const char* AName) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(AModule, AName)));
}

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

bool is_dot_name(std::wstring_view AName) noexcept {
  return AName.size() <= 2 && AName.find_first_not_of(L'.') == std::wstring_view::npos;
}

bool same_name_ignoring_case(const std::wstring& A, const std::wstring& B) {
  return ::CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(),
                                static_cast<int>(B.size()), TRUE) == CSTR_EQUAL;
}

constexpr const wchar_t* kRequiredExports[] = {L"GetGlobalInfoW", L"AnalyseW", L"OpenW",
                                               L"GetFindDataW", L"GetFilesW"};

[[noreturn]] void raise_read_error() { throw EqorError(L"Stream read error"); }
[[noreturn]] void raise_bad_format() { RaiseOSError(ERROR_BAD_EXE_FORMAT); }

// Sequential reads with a window buffer; every read is bounded by the file's size.
class file_reader {
 public:
  explicit file_reader(const std::wstring& AFileName)
      : FFile(::CreateFileW(AFileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (FFile.get() == INVALID_HANDLE_VALUE) RaiseLastOSError();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(FFile.get(), &size)) RaiseLastOSError();
    FSize = static_cast<std::uint64_t>(size.QuadPart);
  }

  std::uint64_t size() const noexcept { return FSize; }
  void seek(std::uint64_t APosition) noexcept { FPosition = APosition; }

  void read(void* ADest, size_t ACount) {
    auto* dest = static_cast<unsigned char*>(ADest);
    while (ACount > 0) {
      if (FPosition < FWindowStart || FPosition >= FWindowStart + FWindow.size()) fill();
      const size_t offset = static_cast<size_t>(FPosition - FWindowStart);
      const size_t count = std::min(ACount, FWindow.size() - offset);
      std::memcpy(dest, FWindow.data() + offset, count);
      dest += count;
      ACount -= count;
      FPosition += count;
    }
  }

  template <class T>
  T read_value() {
    T value;
    read(&value, sizeof(value));
    return value;
  }

 private:
  void fill() {
    if (FPosition >= FSize) raise_read_error();
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(FPosition);
    if (!::SetFilePointerEx(FFile.get(), position, nullptr, FILE_BEGIN)) RaiseLastOSError();
    FWindow.resize(static_cast<size_t>(std::min<std::uint64_t>(kWindow, FSize - FPosition)));
    DWORD got = 0;
    if (!::ReadFile(FFile.get(), FWindow.data(), static_cast<DWORD>(FWindow.size()), &got, nullptr))
      RaiseLastOSError();
    if (got == 0) raise_read_error();
    FWindow.resize(got);
    FWindowStart = FPosition;
  }

  // Headers and export tables are small and close together: a small window keeps scanning
  // hundreds of DLLs cheap.
  static constexpr size_t kWindow = 0x1000;
  unique_handle FFile;
  std::uint64_t FSize = 0;
  std::uint64_t FPosition = 0;
  std::uint64_t FWindowStart = 0;
  std::vector<unsigned char> FWindow;
};

struct section_entry {
  DWORD VirtualAddress;
  DWORD SizeOfRawData;
  DWORD PointerToRawData;
};

std::uint64_t RvaToFileOffset(const std::vector<section_entry>& ASections, DWORD ARva) {
  for (const auto& s : ASections) {
    if (s.VirtualAddress <= ARva && ARva - s.VirtualAddress < s.SizeOfRawData)
      return std::uint64_t{ARva} - s.VirtualAddress + s.PointerToRawData;
  }
  throw EqorError(L"RVA not found");
}

}  // namespace

void ReadExportNames(const std::wstring& AFileName, bool& AIs64Bit, std::vector<std::wstring>* AList) {
  file_reader file(AFileName);

  unsigned char dos[64];
  file.read(dos, sizeof(dos));
  WORD magic;
  LONG lfanew;
  std::memcpy(&magic, dos, 2);
  std::memcpy(&lfanew, dos + 60, 4);
  if (magic != 0x5A4D || lfanew < 0) raise_bad_format();

  file.seek(static_cast<std::uint64_t>(lfanew));
  if (file.read_value<WORD>() != 0x4550) raise_bad_format();
  file.read_value<WORD>();

  const auto header = file.read_value<IMAGE_FILE_HEADER>();
  if (!(header.Characteristics & IMAGE_FILE_DLL)) raise_bad_format();

  size_t optional_size = 0;
  size_t export_offset = 0;
  switch (header.Machine) {
    case 0x014C:
      optional_size = 224;
      export_offset = 96;
      AIs64Bit = false;
      break;
    case 0x8664:
      optional_size = 240;
      export_offset = 112;
      AIs64Bit = true;
      break;
    default:
      raise_bad_format();
  }
  if (header.SizeOfOptionalHeader != optional_size) raise_bad_format();
  std::vector<unsigned char> optional(optional_size);
  file.read(optional.data(), optional.size());
  DWORD export_rva, export_size;
  std::memcpy(&export_rva, optional.data() + export_offset, 4);
  std::memcpy(&export_size, optional.data() + export_offset + 4, 4);
  if (export_rva == 0 || export_size == 0) raise_bad_format();
  if (!AList) return;

  std::vector<section_entry> sections(header.NumberOfSections);
  for (auto& s : sections) {
    unsigned char raw[40];
    file.read(raw, sizeof(raw));
    std::memcpy(&s.VirtualAddress, raw + 12, 4);
    std::memcpy(&s.SizeOfRawData, raw + 16, 4);
    std::memcpy(&s.PointerToRawData, raw + 20, 4);
  }

  file.seek(RvaToFileOffset(sections, export_rva));
  unsigned char directory[40];
  file.read(directory, sizeof(directory));
  DWORD number_of_names, address_of_names;
  std::memcpy(&number_of_names, directory + 24, 4);
  std::memcpy(&address_of_names, directory + 32, 4);
  // The name array must lie inside the file: a larger count is a lie, not an allocation.
  const std::uint64_t names_offset = RvaToFileOffset(sections, address_of_names);
  if (names_offset > file.size() || number_of_names > (file.size() - names_offset) / 4) raise_read_error();

  file.seek(names_offset);
  std::vector<DWORD> name_rvas(number_of_names);
  if (number_of_names) file.read(name_rvas.data(), name_rvas.size() * sizeof(DWORD));

  // Distinct names cannot hold more bytes than the file: a table that points many times at one
  // long string would otherwise cost count x length in time and memory.
  std::uint64_t name_bytes = 0;
  std::string name;
  for (DWORD rva : name_rvas) {
    file.seek(RvaToFileOffset(sections, rva));
    name.clear();
    for (char c; (c = file.read_value<char>()) != 0;) {
      if (++name_bytes > file.size()) raise_bad_format();
      name.push_back(c);
    }
    AList->push_back(AnsiToWide(name.c_str()));
  }
}

namespace {
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
  return GuardedCall(L"GetFilesW", FGetFilesW, &AInfo);
}

void TqorFarPlugin::ClosePanel(const TClosePanelInfo& AInfo) const {
  if (FClosePanelW) GuardedCall(L"ClosePanelW", FClosePanelW, &AInfo);
}

void TqorFarPlugin::GetOpenPanelInfo(TOpenPanelInfo& AInfo) const {
  if (FGetOpenPanelInfoW) GuardedCall(L"GetOpenPanelInfoW", FGetOpenPanelInfoW, &AInfo);
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
    if (AHandle) {
      TOpenAnalyseInfo open_analyse{};
      open_analyse.StructSize = sizeof(open_analyse);
      open_analyse.Info = &analyse;
      open_analyse.Handle = analysed;
      TOpenInfo open{};
      open.StructSize = sizeof(open);
      open.OpenFrom = OPEN_ANALYSE;
      open.Data = reinterpret_cast<intptr_t>(&open_analyse);
      *AHandle = plugin->Open(open);
    } else if (plugin->HasCloseAnalyse()) {
      TCloseAnalyseInfo close{};
      close.StructSize = sizeof(close);
      close.Handle = analysed;
      plugin->CloseAnalyse(close);
    }
    return plugin;
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

// ---------------------------------------------------------------------------------------------
// TqorFarPluginEnum

TqorFarPluginEnum::TqorFarPluginEnum(TqorFarPluginEnum* AOwner, TqorFarPluginPanel* APanel,
                                     std::wstring ASubFolderName)
    : FOwner(AOwner), FPanel(APanel), FFolderName(std::move(ASubFolderName)) {
  FFullPath = (FOwner ? FOwner->FFullPath : std::wstring()) + FFolderName;
  if (!FFullPath.empty()) FFullPath += L'\\';
}

TqorFarPluginEnum::~TqorFarPluginEnum() {
  try {
    Close();
  } catch (...) {
  }
}

size_t TqorFarPluginEnum::item_count() const noexcept {
  return FGetFindDataInfo.PanelItem ? FGetFindDataInfo.ItemsNumber : 0;
}

void TqorFarPluginEnum::Open(const TPluginPanelItem* ASubFolder) {
  const TqorFarPlugin& plugin = *FPanel->Plugin();
  if (ASubFolder) {
    TSetDirectoryInfo info{};
    info.StructSize = SetDirectoryInfoAnnouncedSize;
    info.hPanel = FPanel->Handle();
    info.Dir = FFolderName.c_str();
    info.UserData = ASubFolder->UserData;
    FValidSetDirectory = plugin.SetDirectory(info) != 0;
    if (!FValidSetDirectory) return;
  }
  FGetFindDataInfo = TGetFindDataInfo{};
  FGetFindDataInfo.StructSize = sizeof(TGetFindDataInfo);
  FGetFindDataInfo.hPanel = FPanel->Handle();
  FValidGetFindData = plugin.GetFindData(FGetFindDataInfo) != 0;
  if (!FValidGetFindData) return;
  const size_t count = item_count();
  FNameStarts.reserve(count + 1);
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) {
    FNameStarts.push_back(length);
    const wchar_t* name = FGetFindDataInfo.PanelItem[i].FileName;
    if (name) length += std::wcslen(name);
  }
  FNameStarts.push_back(length);
  FFileNames.reserve(length);
  for (size_t i = 0; i < count; ++i) {
    const wchar_t* name = FGetFindDataInfo.PanelItem[i].FileName;
    if (name) FFileNames.append(name, FNameStarts[i + 1] - FNameStarts[i]);
  }
}

size_t TqorFarPluginEnum::ItemCount() const noexcept {
  return FValidGetFindData && !FNameStarts.empty() ? FNameStarts.size() - 1 : 0;
}

std::wstring_view TqorFarPluginEnum::NameAt(size_t AIndex) const noexcept {
  return std::wstring_view(FFileNames).substr(FNameStarts[AIndex], FNameStarts[AIndex + 1] - FNameStarts[AIndex]);
}

void TqorFarPluginEnum::close_child() {
  if (!FEnum) return;
  std::unique_ptr<TqorFarPluginEnum> child = std::move(FEnum);
  child->Close();
}

TPluginPanelItem* TqorFarPluginEnum::GetNextFile(std::wstring& AFileName) {
  for (;;) {
    AFileName.clear();
    if (FEnum) {
      if (TPluginPanelItem* item = FEnum->GetNextFile(AFileName)) return item;
      close_child();
    }
    if (FReadSubFolder) {
      // The folder's contents are entered one call after its own entry was handed out.
      FReadSubFolder = false;
      FEnum = std::make_unique<TqorFarPluginEnum>(this, FPanel, std::wstring(NameAt(FIndex - 1)));
      FEnum->Open(&FGetFindDataInfo.PanelItem[FIndex - 1]);
      continue;
    }
    const size_t count = ItemCount();
    while (FIndex < count) {
      TPluginPanelItem* item = &FGetFindDataInfo.PanelItem[FIndex];
      const std::wstring_view name = NameAt(FIndex);
      ++FIndex;
      // A file manager reads "." and ".." (and an empty name) as path components: never hand
      // them out, never enter them.
      if (name.empty() || is_dot_name(name)) continue;
      AFileName.assign(FFullPath).append(name);  // reuses the caller's buffer
      FReadSubFolder = (item->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                       FPanel->Plugin()->HasSetDirectory();
      return item;
    }
    return nullptr;
  }
}

void TqorFarPluginEnum::Close() {
  first_error errors;
  errors.attempt([&] { close_child(); });
  FFileNames.clear();
  FNameStarts.clear();
  const TqorFarPlugin& plugin = *FPanel->Plugin();
  if (FValidGetFindData) {
    FValidGetFindData = false;
    if (plugin.HasFreeFindData()) {
      TFarPanelItemFreeInfo free_info{};
      free_info.StructSize = sizeof(free_info);
      free_info.hPlugin = FPanel->Handle();
      for (size_t i = 0; i < item_count(); ++i) {
        const TUserDataItem& user_data = FGetFindDataInfo.PanelItem[i].UserData;
        if (user_data.Data && user_data.FreeData)
          errors.attempt([&] { plugin.FreeData(user_data, free_info); });
      }
      TFreeFindDataInfo info{};
      info.StructSize = sizeof(info);
      info.hPanel = FPanel->Handle();
      info.PanelItem = FGetFindDataInfo.PanelItem;
      info.ItemsNumber = FGetFindDataInfo.ItemsNumber;
      errors.attempt([&] { plugin.FreeFindData(info); });
    }
  }
  if (FValidSetDirectory) {
    // One ".." per level entered, never a jump to the root.
    FValidSetDirectory = false;
    TSetDirectoryInfo info{};
    info.StructSize = SetDirectoryInfoAnnouncedSize;
    info.hPanel = FPanel->Handle();
    info.Dir = L"..";
    errors.attempt([&] { plugin.SetDirectory(info); });
  }
  errors.rethrow();
}

// ---------------------------------------------------------------------------------------------
// TqorFarPluginPanel

TqorFarPluginPanel::TqorFarPluginPanel(TqorFarPlugin* APlugin, HANDLE AHandle) noexcept
    : FPlugin(APlugin), FHandle(AHandle) {}

TqorFarPluginPanel::~TqorFarPluginPanel() {
  try {
    Close();
  } catch (...) {
  }
}

TPluginPanelItem* TqorFarPluginPanel::GetNextFile(std::wstring& AFileName) {
  AFileName.clear();
  FCurrentItem = nullptr;
  if (FClosed) return nullptr;
  if (!FEnum) {
    FEnum = std::make_unique<TqorFarPluginEnum>(nullptr, this, std::wstring());
    FEnum->Open(nullptr);
  }
  FCurrentItem = FEnum->GetNextFile(AFileName);
  return FCurrentItem;
}

const TqorFarPluginEnum* TqorFarPluginPanel::CurrentLevel() const noexcept {
  if (!FCurrentItem) return nullptr;
  const TqorFarPluginEnum* level = FEnum.get();
  while (level && level->Child()) level = level->Child();
  return level;
}

intptr_t TqorFarPluginPanel::GetFiles(TPluginPanelItem* AItems, size_t ACount, const std::wstring& ADestPath) {
  if (!FCurrentItem || !AItems || ACount == 0) throw EqorError(L"No current entry");
  TGetFilesInfo info{};
  info.StructSize = sizeof(info);
  info.hPanel = FHandle;
  info.PanelItem = AItems;
  info.ItemsNumber = ACount;
  info.Move = FALSE;
  info.DestPath = ADestPath.c_str();
  info.OpMode = OPM_SILENT;
  return FPlugin->GetFiles(info);
}

void TqorFarPluginPanel::Close() {
  if (FClosed) return;
  FClosed = true;
  FCurrentItem = nullptr;
  first_error errors;
  if (FEnum) {
    errors.attempt([&] { FEnum->Close(); });
    FEnum.reset();
  }
  if (FHandle && FPlugin && FPlugin->HasClosePanel()) {
    TClosePanelInfo info{};
    info.StructSize = sizeof(info);
    info.hPanel = FHandle;
    errors.attempt([&] { FPlugin->ClosePanel(info); });
  }
  errors.rethrow();
}

}  // namespace qor
