#include "common/qorPluginGuard.h"

#include <cstring>
#include <cwchar>

namespace qor {
namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
constexpr DWORD kUnknownException = 0xE0000001;

// x86 SEH registration record; the system hands its address to the handler as the frame.
struct GuardFrame {
  GuardFrame* Next;
  void* Handler;
  void* JumpBuffer[5];
  DWORD ExceptionCode;
};

GuardFrame* exception_list() noexcept {
  GuardFrame* head;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void set_exception_list(GuardFrame* AHead) noexcept {
  __asm__ volatile("movl %0, %%fs:0" : : "r"(AHead) : "memory");
}

extern "C" int __cdecl guard_handler(EXCEPTION_RECORD* ARecord, void* AFrame, CONTEXT*, void*) {
  if (ARecord->ExceptionFlags & kUnwinding) return ExceptionContinueSearch;
  auto* frame = static_cast<GuardFrame*>(AFrame);
  frame->ExceptionCode = ARecord->ExceptionCode ? ARecord->ExceptionCode : kUnknownException;
  // Back into RunGuarded's frame; the plugin's frames are abandoned, the dispatcher's own
  // registration is dropped when RunGuarded restores the list below.
  __builtin_longjmp(frame->JumpBuffer, 1);
}

// A stack overflow uses up the thread's guard page; without a new one the next overflow on this
// thread cannot be reported and ends the process. Re-arm the lowest usable page of the stack,
// once we are back far above it.
void restore_stack_guard() noexcept {
  volatile char probe = 0;
  char* const here = const_cast<char*>(&probe);
  MEMORY_BASIC_INFORMATION info;
  if (!::VirtualQuery(here, &info, sizeof(info))) return;
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  char* p = static_cast<char*>(info.AllocationBase);
  while (p < here) {
    if (!::VirtualQuery(p, &info, sizeof(info))) return;
    // Already guarded: nothing to restore.
    if (info.State == MEM_COMMIT && (info.Protect & PAGE_GUARD)) return;
    if (info.State == MEM_COMMIT && !(info.Protect & PAGE_NOACCESS)) break;
    p = static_cast<char*>(info.BaseAddress) + info.RegionSize;
  }
  if (p + 4 * page > here) return;
  DWORD old = 0;
  ::VirtualProtect(p, page, PAGE_READWRITE | PAGE_GUARD, &old);
}

}  // namespace

__attribute__((noinline)) DWORD RunGuarded(guarded_body ABody, void* AContext) noexcept {
  volatile GuardFrame frame{};
  GuardFrame* self = const_cast<GuardFrame*>(&frame);
  self->Handler = reinterpret_cast<void*>(&guard_handler);
  self->Next = exception_list();
  if (__builtin_setjmp(self->JumpBuffer) == 0) {
    set_exception_list(self);
    ABody(AContext);
    set_exception_list(self->Next);
    return 0;
  }
  set_exception_list(self->Next);
  if (self->ExceptionCode == EXCEPTION_STACK_OVERFLOW) restore_stack_guard();
  return self->ExceptionCode;
}

bool CopyPluginMemory(void* ADest, const void* ASource, size_t ASize) noexcept {
  struct copy {
    void* Dest;
    const void* Source;
    size_t Size;
  } c{ADest, ASource, ASize};
  return RunGuarded(
             [](void* AContext) noexcept {
               auto& c = *static_cast<copy*>(AContext);
               std::memcpy(c.Dest, c.Source, c.Size);
             },
             &c) == 0;
}

bool CopyPluginText(const wchar_t* AText, std::wstring& AOut) {
  AOut.clear();
  if (!AText) return true;
  size_t length = 0;
  auto measure = [&]() noexcept { length = std::wcslen(AText); };
  if (!RunGuardedLambda(measure)) return false;
  AOut.resize(length);
  return CopyPluginMemory(AOut.data(), AText, length * sizeof(wchar_t));
}

}  // namespace qor
