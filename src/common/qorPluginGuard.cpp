#include "common/qorPluginGuard.h"

#include <atomic>
#include <cstring>
#include <cwchar>

namespace qor {
namespace {

constexpr DWORD kUnknownException = 0xE0000001;

// A stack overflow uses up the thread's guard page; without a new one the next overflow on this
// thread cannot be reported and ends the process. Arms a guard page AReserve bytes above the
// lowest usable page of the stack (once we are back far above it), so that much stack is left
// for reporting the next overflow.
void arm_stack_guard(size_t AReserve) noexcept {
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
    if (info.State == MEM_COMMIT && (info.Protect & PAGE_GUARD)) {
      // Already guarded at the bottom: nothing to restore unless a reserve is wanted above it.
      if (AReserve == 0) return;
      break;
    }
    if (info.State == MEM_COMMIT && !(info.Protect & PAGE_NOACCESS)) break;
    p = static_cast<char*>(info.BaseAddress) + info.RegionSize;
  }
  p += AReserve;
  if (p + 4 * page > here) return;
  DWORD old = 0;
  ::VirtualProtect(p, page, PAGE_READWRITE | PAGE_GUARD, &old);
}

// Calls begun and ended; both start at 1 so that a quiet epoch is never 0.
std::atomic<std::uint64_t> GCallsBegun{1};
std::atomic<std::uint64_t> GCallsEnded{1};

}  // namespace

TqorWritingCall::TqorWritingCall() noexcept { GCallsBegun.fetch_add(1); }

TqorWritingCall::~TqorWritingCall() { GCallsEnded.fetch_add(1); }

std::uint64_t WritingCallsEpoch() noexcept {
  // Ended first: a call that begins and ends between the two reads makes them differ.
  const std::uint64_t ended = GCallsEnded.load();
  const std::uint64_t begun = GCallsBegun.load();
  return begun == ended ? begun : 0;
}

// The one place where the two targets differ: i686 chains a handler record into the thread's
// frame list, x86-64 describes the guarded range in the unwind tables of an assembly trampoline.
#if defined(__x86_64__)

// guarded_call(body, context, code): calls body(context) inside a scope-table entry of
// __C_specific_handler. Returns 0, or 1 after an exception whose code the filter wrote to *code.
// Written in assembly because GCC may move a call out of a __try1 range when optimising.
extern "C" int guarded_call(guarded_body ABody, void* AContext, DWORD* ACode) noexcept;

// Runs on the faulting thread's stack during the search: keep it small.
extern "C" LONG guard_filter(EXCEPTION_POINTERS* AException, void* AFrame) noexcept {
  // The establisher frame is guarded_call's stack pointer; it keeps ACode at +32.
  DWORD* const code = *reinterpret_cast<DWORD**>(static_cast<char*>(AFrame) + 32);
  *code = AException->ExceptionRecord->ExceptionCode;
  return EXCEPTION_EXECUTE_HANDLER;
}

__asm__(
    "  .text\n"
    "  .globl guarded_call\n"
    "  .def guarded_call; .scl 2; .type 32; .endef\n"
    "  .seh_proc guarded_call\n"
    "guarded_call:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  movq %r8, 32(%rsp)\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    ".Lguard_begin:\n"
    "  call *%rax\n"
    "  nop\n"
    ".Lguard_end:\n"
    "  xorl %eax, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    ".Lguard_landing:\n"
    "  movl $1, %eax\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "  .seh_handler __C_specific_handler, @except\n"
    "  .seh_handlerdata\n"
    "  .long 1\n"
    "  .rva .Lguard_begin, .Lguard_end, guard_filter, .Lguard_landing\n"
    "  .text\n"
    "  .seh_endproc\n");

namespace {

// Reporting an overflow takes far more stack on x86-64 (1232-byte contexts, unwinding through
// every frame) than the page or two the system keeps below its guard. Keep this much instead:
// the system raises the overflow when the stack reaches it, and re-arming leaves it free.
constexpr ULONG kOverflowReserve = 64 * 1024;

thread_local bool GStackReserved = false;

void reserve_stack_for_overflow() noexcept {
  if (GStackReserved) return;
  GStackReserved = true;
  ULONG size = kOverflowReserve;
  ::SetThreadStackGuarantee(&size);
  arm_stack_guard(kOverflowReserve);
}

}  // namespace

__attribute__((noinline)) DWORD RunGuarded(guarded_body ABody, void* AContext) noexcept {
  reserve_stack_for_overflow();
  DWORD code = 0;
  if (guarded_call(ABody, AContext, &code) == 0) return 0;
  if (code == EXCEPTION_STACK_OVERFLOW) arm_stack_guard(kOverflowReserve);
  return code ? code : kUnknownException;
}

#else

namespace {

constexpr DWORD kUnwinding = 0x2 | 0x4;  // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND

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
  if (self->ExceptionCode == EXCEPTION_STACK_OVERFLOW) arm_stack_guard(0);
  return self->ExceptionCode;
}

#endif

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
