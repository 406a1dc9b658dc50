#include "common/qorPluginGuard.h"

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
  return self->ExceptionCode;
}

}  // namespace qor
