// The plugin guard on its own: faults come back as exception codes, an exception the callee
// handles itself never reaches the guard, and the guard keeps working after many faults.
#include <gtest/gtest.h>

#include <functional>

#include "common/qorPluginGuard.h"

namespace {

volatile int GZero = 0;
int* volatile GNull = nullptr;

void WINAPI write_null(int AValue) { *GNull = AValue; }
int WINAPI divide(int AValue) { return AValue / GZero; }
void WINAPI raise_foreign(DWORD ACode) { RaiseException(ACode, EXCEPTION_NONCONTINUABLE, 0, nullptr); }
int WINAPI add(int A, int B) { return A + B; }

// A callee with its own SEH frame that continues after its private exception.
struct OwnFrame {
  OwnFrame* Next;
  void* Handler;
};
int GOwnHandlerRuns = 0;
extern "C" int __cdecl own_handler(EXCEPTION_RECORD* ARecord, void*, CONTEXT*, void*) {
  if (ARecord->ExceptionCode != 0xE0000042) return ExceptionContinueSearch;
  ++GOwnHandlerRuns;
  return ExceptionContinueExecution;
}
int WINAPI handles_its_own(int AValue) {
  OwnFrame frame;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(frame.Next));
  frame.Handler = reinterpret_cast<void*>(&own_handler);
  OwnFrame* self = &frame;
  __asm__ volatile("movl %0, %%fs:0" : : "r"(self) : "memory");
  RaiseException(0xE0000042, 0, 0, nullptr);
  __asm__ volatile("movl %0, %%fs:0" : : "r"(frame.Next) : "memory");
  return AValue + 1;
}

void* exception_list() {
  void* head;
  __asm__ volatile("movl %%fs:0, %0" : "=r"(head));
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

TEST(PluginGuard, FaultsBecomeErrorsWithTheExceptionCode) {
  void* const list = exception_list();
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"write", write_null, 1); }), EXCEPTION_ACCESS_VIOLATION);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"divide", divide, 7); }), EXCEPTION_INT_DIVIDE_BY_ZERO);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"raise", raise_foreign, DWORD{0xE0001234}); }), 0xE0001234u);
  // The thread's handler chain is back where it was.
  EXPECT_EQ(exception_list(), list);
  try {
    qor::GuardedCall(L"AnalyseW", write_null, 1);
  } catch (const qor::EqorPluginFault& e) {
    EXPECT_EQ(e.Message(), L"Exception 0xC0000005 in AnalyseW");
  }
}

TEST(PluginGuard, CalleeHandlesItsOwnExceptionFirst) {
  GOwnHandlerRuns = 0;
  EXPECT_EQ(qor::GuardedCall(L"own", handles_its_own, 41), 42);
  EXPECT_EQ(GOwnHandlerRuns, 1);
}

TEST(PluginGuard, HundredThousandCallsAfterFaults) {
  void* const list = exception_list();
  int faults = 0;
  for (int i = 0; i < 1000; ++i) faults += fault_code([] { qor::GuardedCall(L"write", write_null, 1); }) != 0;
  long long sum = 0;
  for (int i = 0; i < 100000; ++i) sum += qor::GuardedCall(L"add", add, i, 1);
  EXPECT_EQ(faults, 1000);
  EXPECT_EQ(sum, 100000LL * 99999 / 2 + 100000);
  EXPECT_EQ(fault_code([] { qor::GuardedCall(L"divide", divide, 7); }), EXCEPTION_INT_DIVIDE_BY_ZERO);
  EXPECT_EQ(exception_list(), list);
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

TEST(PluginGuard, StackOverflowIsReportedEveryTime) {
  // The first overflow uses up the thread's guard page; the guard re-arms it for the next one.
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(fault_code([] { qor::GuardedCall(L"overflow", overflow, 0); }), EXCEPTION_STACK_OVERFLOW) << i;
  EXPECT_EQ(qor::GuardedCall(L"add", add, 1, 2), 3);
}
