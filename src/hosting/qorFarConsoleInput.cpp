#include "hosting/qorFarConsoleInput.h"

#include <algorithm>
#include <atomic>
#include <iterator>

#include "common/qorPluginGuard.h"
#include "common/qorUserStop.h"
#include "hosting/qorFarProgress.h"

namespace qor {

namespace {

using input_function = BOOL(WINAPI*)(HANDLE, PINPUT_RECORD, DWORD, LPDWORD);

// A plugin's count or buffer is written under the guard; the caller's last error survives it.
bool write_count(LPDWORD ACount, DWORD AValue) noexcept {
  if (!ACount) return true;
  const DWORD error = ::GetLastError();
  const bool ok = CopyPluginMemory(ACount, &AValue, sizeof(AValue));
  ::SetLastError(error);
  return ok;
}

// Without a console every poll fails the same way, and each failure costs a round trip to the
// system: a handle that was refused once is answered here from then on. A handle that once worked
// is always asked again.
std::atomic<HANDLE> GRefusedInput{nullptr};

bool refused_before(HANDLE AInput) noexcept { return AInput && AInput == GRefusedInput.load(std::memory_order_relaxed); }

void note_result(HANDLE AInput, BOOL AOk) noexcept {
  if (!AOk && ::GetLastError() == ERROR_INVALID_HANDLE)
    GRefusedInput.store(AInput, std::memory_order_relaxed);
  else if (AOk && AInput == GRefusedInput.load(std::memory_order_relaxed))
    GRefusedInput.store(nullptr, std::memory_order_relaxed);
}

BOOL refuse(LPDWORD ACount) noexcept {
  write_count(ACount, 0);
  ::SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

template <bool ARemove>
BOOL console_input(input_function ASystem, HANDLE AInput, PINPUT_RECORD ABuffer, DWORD ALength,
                   LPDWORD ACount) noexcept {
  INPUT_RECORD keys[2];
  const DWORD ours = CancelKeys(keys, std::min<DWORD>(ALength, 2), false);
  if (ours != 0) {
    if (!ABuffer || !CopyPluginMemory(ABuffer, keys, ours * sizeof(INPUT_RECORD)) || !write_count(ACount, ours)) {
      ::SetLastError(ERROR_NOACCESS);
      return FALSE;
    }
    if (ARemove) CancelKeys(keys, ours, true);
    return TRUE;
  }
  if (refused_before(AInput)) return refuse(ACount);
  const BOOL ok = ASystem(AInput, ABuffer, ALength, ACount);
  note_result(AInput, ok);
  // Without a console the call fails; a poll that trusts its count must then see none.
  if (!ok) write_count(ACount, 0);
  // The user's own Esc in the console stops the plugin as the file manager's cancel does.
  if (ok && ABuffer && ACount && *ACount <= ALength)
    for (DWORD i = 0; i < *ACount; ++i)
      if (ABuffer[i].EventType == KEY_EVENT && ABuffer[i].Event.KeyEvent.bKeyDown &&
          ABuffer[i].Event.KeyEvent.wVirtualKeyCode == VK_ESCAPE) {
        NoteUserStop();
        break;
      }
  return ok;
}

BOOL WINAPI peek_input_w(HANDLE AInput, PINPUT_RECORD ABuffer, DWORD ALength, LPDWORD ACount) {
  return console_input<false>(&::PeekConsoleInputW, AInput, ABuffer, ALength, ACount);
}
BOOL WINAPI peek_input_a(HANDLE AInput, PINPUT_RECORD ABuffer, DWORD ALength, LPDWORD ACount) {
  return console_input<false>(&::PeekConsoleInputA, AInput, ABuffer, ALength, ACount);
}
BOOL WINAPI read_input_w(HANDLE AInput, PINPUT_RECORD ABuffer, DWORD ALength, LPDWORD ACount) {
  return console_input<true>(&::ReadConsoleInputW, AInput, ABuffer, ALength, ACount);
}
BOOL WINAPI read_input_a(HANDLE AInput, PINPUT_RECORD ABuffer, DWORD ALength, LPDWORD ACount) {
  return console_input<true>(&::ReadConsoleInputA, AInput, ABuffer, ALength, ACount);
}

BOOL WINAPI input_event_count(HANDLE AInput, LPDWORD ACount) {
  INPUT_RECORD keys[2];
  const DWORD ours = CancelKeys(keys, 2, false);
  DWORD system = 0;
  if (ours == 0 && refused_before(AInput)) return refuse(ACount);
  const BOOL ok = ::GetNumberOfConsoleInputEvents(AInput, &system);
  note_result(AInput, ok);
  if (!ok && ours == 0) {
    write_count(ACount, 0);
    return FALSE;
  }
  if (!write_count(ACount, ours + (ok ? system : 0))) {
    ::SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  return TRUE;
}

struct redirection {
  const char* Name;
  void* Host;
};

const redirection kRedirections[] = {
    {"PeekConsoleInputW", reinterpret_cast<void*>(&peek_input_w)},
    {"PeekConsoleInputA", reinterpret_cast<void*>(&peek_input_a)},
    {"ReadConsoleInputW", reinterpret_cast<void*>(&read_input_w)},
    {"ReadConsoleInputA", reinterpret_cast<void*>(&read_input_a)},
    {"GetNumberOfConsoleInputEvents", reinterpret_cast<void*>(&input_event_count)},
};

// Where an import of each function lands: kernel32's export, or kernelbase's for plugins linked
// against the API sets. A forwarded export resolves to the same address either way.
struct system_addresses {
  void* Address[std::size(kRedirections)][2] = {};
  system_addresses() noexcept {
    const HMODULE modules[2] = {::GetModuleHandleW(L"kernel32.dll"), ::GetModuleHandleW(L"kernelbase.dll")};
    for (size_t i = 0; i < std::size(kRedirections); ++i)
      for (size_t m = 0; m < 2; ++m)
        if (modules[m])
          Address[i][m] = reinterpret_cast<void*>(::GetProcAddress(modules[m], kRedirections[i].Name));
  }
  void* host_version(void* ASystem) const noexcept {
    for (size_t i = 0; i < std::size(kRedirections); ++i)
      if (ASystem && (Address[i][0] == ASystem || Address[i][1] == ASystem)) return kRedirections[i].Host;
    return nullptr;
  }
};

void redirect_imports(void* AModule) noexcept {
  static const system_addresses addresses;
  auto* base = static_cast<BYTE*>(AModule);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) return;
  if (nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) return;
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return;
  // The loader has filled the import address table: entries are compared by the address they
  // resolved to, whatever DLL name or ordinal the plugin was linked against.
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d) {
    for (auto* t = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk); t->u1.Function; ++t) {
      void* host = addresses.host_version(reinterpret_cast<void*>(t->u1.Function));
      if (!host) continue;
      DWORD protection = 0;
      if (!::VirtualProtect(&t->u1.Function, sizeof(t->u1.Function), PAGE_READWRITE, &protection)) continue;
      t->u1.Function = reinterpret_cast<decltype(t->u1.Function)>(host);
      ::VirtualProtect(&t->u1.Function, sizeof(t->u1.Function), protection, &protection);
    }
  }
}

}  // namespace

void RedirectConsoleInput(HMODULE AModule) noexcept {
  if (AModule) RunGuarded(&redirect_imports, AModule);
}

}  // namespace qor
