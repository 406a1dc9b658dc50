// The plugin guard on its own: faults come back as exception codes, an exception the callee
// handles itself never reaches the guard, and the guard keeps working after many faults. Suites
// named *NativeFaults check the codes and stack overflows as a processor reports them; user-mode
// emulation reports them otherwise and runs only the rest.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "../fixtures/fixture_abi.h"
#include "common/qorPluginGuard.h"

namespace {

volatile int GZero = 0;
int* volatile GNull = nullptr;

void WINAPI write_null(int AValue) { *GNull = AValue; }
int WINAPI divide(int AValue) { return AValue / GZero; }
void WINAPI raise_foreign(DWORD ACode) { RaiseException(ACode, EXCEPTION_NONCONTINUABLE, 0, nullptr); }
int WINAPI add(int A, int B) { return A + B; }

int WINAPI handles_its_own(int AValue) { return fixture::raise_and_handle_own_exception() ? AValue + 1 : -1; }

// The state a caught fault must leave as it was: the head of the thread's handler list on i686;
// x86-64 keeps no such list (unwind tables describe every frame), so nothing to compare there.
void* handler_list() {
  void* head = nullptr;
  if constexpr (sizeof(void*) == 4) __asm__ volatile("mov %%fs:0, %0" : "=r"(head));
  return head;
}

DWORD fault_code(std::function<void()> ACall) {
  try {
    ACall();
  } catch (const qor::EqorPluginFault& e) {
    return e.Code();
  }
  return 0;
}

}  // namespace

TEST(PluginGuardNativeFaults, FaultsBecomeErrorsWithTheExceptionCode) {
  void* const list = handler_list();
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"write", write_null, 1); }), EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"divide", divide, 7); }), EXCEPTION_INT_DIVIDE_BY_ZERO);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"raise", raise_foreign, DWORD{0xE0001234}); }), 0xE0001234u);
  // The thread's handler chain is back where it was.
  EXPECT_EQ(handler_list(), list);
  try {
    qor::GuardedCall(L"AnalyseW", write_null, 1);
  } catch (const qor::EqorPluginFault& e) {
    EXPECT_EQ(e.Message(), L"Exception 0xC0000005 in AnalyseW");
  }
}

// Whatever code the fault comes with, it is an error of ours, the handler chain is restored, and
// the guard goes on: also where faults reach Wine through an emulator.
TEST(PluginGuard, FaultsAndForeignExceptionsBecomeErrors) {
  void* const list = handler_list();
  for (int i = 0; i < 100; ++i) {
    EXPECT_NE(fault_code([] { qor::GuardedCall(L"write", write_null, 1); }), 0u) << i;
    EXPECT_NE(fault_code([] { qor::GuardedCall(L"divide", divide, 7); }), 0u) << i;
    EXPECT_EQ(fault_code([] { qor::GuardedCall(L"raise", raise_foreign, DWORD{0xE0001234}); }), 0xE0001234u) << i;
  }
  EXPECT_EQ(handler_list(), list);
  EXPECT_EQ(qor::GuardedCall(L"add", add, 2, 3), 5);
}

TEST(PluginGuard, CalleeHandlesItsOwnExceptionFirst) {
  for (int i = 0; i < 3; ++i) EXPECT_EQ(qor::GuardedCall(L"own", handles_its_own, 41), 42) << i;
  // The host's own C++ exceptions are untouched by the guard around them.
  EXPECT_THROW(qor::GuardedCall(L"write", write_null, 1), qor::EqorPluginFault);
  bool caught = false;
  try {
    throw std::runtime_error("host");
  } catch (const std::runtime_error&) {
    caught = true;
  }
  EXPECT_TRUE(caught);
}

namespace {
int WINAPI nested_fault(int AValue) {
  // A plugin that calls the host, which calls a plugin that faults: the inner guard reports it.
  try {
    qor::GuardedCall(L"inner", divide, AValue);
  } catch (const qor::EqorPluginFault& e) {
    return e.Code() == EXCEPTION_INT_DIVIDE_BY_ZERO ? AValue : -1;
  }
  return -2;
}
void WINAPI deep_fault(int ADepth) {
  if (ADepth > 0) {
    volatile char frame[256];
    frame[0] = static_cast<char>(ADepth);
    deep_fault(ADepth - 1 + frame[0] * 0);
    return;
  }
  *GNull = 1;
}
}  // namespace

TEST(PluginGuardNativeFaults, NestedGuardsAndDeepFaults) {
  EXPECT_EQ(qor::GuardedCall(L"outer", nested_fault, 5), 5);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"deep", deep_fault, 200); }), EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(qor::GuardedCall(L"add", add, 2, 3), 5);
}

TEST(PluginGuardNativeFaults, HundredThousandCallsAfterFaults) {
  void* const list = handler_list();
  int faults = 0;
  for (int i = 0; i < 1000; ++i) faults += fault_code([] { qor::GuardedCall(L"write", write_null, 1); }) != 0;
  long long sum = 0;
  for (int i = 0; i < 100000; ++i) sum += qor::GuardedCall(L"add", add, i, 1);
  EXPECT_EQ(faults, 1000);
  EXPECT_EQ(sum, 100000LL * 99999 / 2 + 100000);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"divide", divide, 7); }), EXCEPTION_INT_DIVIDE_BY_ZERO);
  EXPECT_EQ(handler_list(), list);
}

namespace {
volatile bool GForever = true;
__attribute__((noinline)) int recurse(volatile char* ADepth) {
  volatile char frame[1024];
  frame[0] = ADepth ? ADepth[0] + 1 : 0;
  return GForever ? recurse(frame) + frame[1] : 0;
}
int WINAPI overflow(int) { return recurse(nullptr); }
}  // namespace

TEST(PluginGuardNativeFaults, StackOverflowIsReportedEveryTime) {
  // The first overflow uses up the thread's guard page; the guard re-arms it for the next one.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(fault_code([] { qor::GuardedCall(L"overflow", overflow, 0); }), EXCEPTION_STACK_OVERFLOW) << i;
  EXPECT_EQ(qor::GuardedCall(L"add", add, 1, 2), 3);
}

#if defined(__x86_64__)
// x86-64: the host's callee-saved registers come back after a caught fault, restored by unwinding
// through the plugin's frames (the guard itself keeps none of them).
TEST(PluginGuardNativeFaults, CalleeSavedRegistersComeBackAfterAFault) {
  for (int i = 0; i < 3; ++i) {
    const fixture::abi_slot slots[4] = {reinterpret_cast<fixture::abi_slot>(&fixture::fixture_clobber_and_fault)};
    int kept = 0;
    const auto code = fixture::fixture_abi_call(reinterpret_cast<const void*>(&qor::RunGuarded), slots, 2, &kept);
    EXPECT_EQ(static_cast<DWORD>(code), EXCEPTION_ACCESS_VIOLATION) << i;
    EXPECT_EQ(kept, 1) << i;
  }
}
#endif
