// The one way into a hosted plugin: every call runs under a frame-based exception guard, so a
// hardware fault or foreign exception inside the plugin becomes an EqorPluginFault of ours.
// A frame (not a vectored handler) sees only what the plugin left unhandled, so plugins that
// raise and handle their own exceptions keep working.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>

#include "common/qorErrors.h"

namespace qor {

using guarded_body = void (*)(void* AContext) noexcept;

// Runs ABody(AContext) under the guard; returns 0, or the code of the exception that ended it.
DWORD RunGuarded(guarded_body ABody, void* AContext) noexcept;

// Copies plugin memory (either way) under the guard: a bad pointer from a plugin ends the request,
// not the process. Returns false when the copy faulted.
bool CopyPluginMemory(void* ADest, const void* ASource, size_t ASize) noexcept;

// Writes one value into plugin memory under the guard; false when the write faulted.
template <class T>
bool WritePluginValue(void* ADest, const T& AValue) noexcept {
  return CopyPluginMemory(ADest, &AValue, sizeof(T));
}

// FAR accepts a record whose StructSize is at least its own size and at most 64 KiB.
constexpr size_t kLargestPluginRecord = 65536;

// Reads a plugin's record of the host's size under the guard; false when it cannot be read or its
// StructSize is out of range. StructSize comes first so that a short record is not read past its end.
template <class T>
bool ReadPluginRecord(const void* APlugin, T& ARecord) noexcept {
  size_t size = 0;
  if (!APlugin || !CopyPluginMemory(&size, APlugin, sizeof(size))) return false;
  if (size < sizeof(T) || size > kLargestPluginRecord) return false;
  return CopyPluginMemory(&ARecord, APlugin, sizeof(T));
}

// Copies a plugin's zero-terminated text; null gives "". False when it cannot be read.
bool CopyPluginText(const wchar_t* AText, std::wstring& AOut);

// Runs a callable that owns nothing (no destructors to skip) under the guard; false on a fault.
template <class F>
bool RunGuardedLambda(F& AFunction) noexcept {
  return RunGuarded([](void* AContext) noexcept { (*static_cast<F*>(AContext))(); }, &AFunction) == 0;
}

// A plugin call that is given a place on the disk to write (extracting, packing, deleting, making
// a folder), counted on every thread while it runs. A plugin writes files only in such calls, so
// what the module checked on the disk after one stays as checked until the next one begins.
class TqorWritingCall {
 public:
  TqorWritingCall() noexcept;
  ~TqorWritingCall();
  TqorWritingCall(const TqorWritingCall&) = delete;
  TqorWritingCall& operator=(const TqorWritingCall&) = delete;
};

// The number of writing calls begun so far while none runs on any thread; 0 while one runs.
std::uint64_t WritingCallsEpoch() noexcept;

template <class F, class... A>
auto GuardedCall(const wchar_t* AEntryPoint, F AFunction, A... AArgs) {
  using R = decltype(AFunction(AArgs...));
  struct Call {
    F Function;
    std::tuple<A...> Args;
    std::conditional_t<std::is_void_v<R>, char, R> Result;
  };
  Call call{AFunction, std::tuple<A...>(AArgs...), {}};
  const DWORD code = RunGuarded(
      [](void* AContext) noexcept {
        auto& c = *static_cast<Call*>(AContext);
        if constexpr (std::is_void_v<R>)
          std::apply(c.Function, c.Args);
        else
          c.Result = std::apply(c.Function, c.Args);
      },
      &call);
  if (code != 0) throw EqorPluginFault(AEntryPoint, code);
  if constexpr (!std::is_void_v<R>) return call.Result;
}

}  // namespace qor
