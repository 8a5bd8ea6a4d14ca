// Threads, events, critical sections, interlocked counters and time.
#include <gtest/gtest.h>
#include <time.h>
#include <windows.h>

#include <atomic>
#include <tuple>

namespace {

DWORD WINAPI ReturnParameter(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(p)); }

TEST(Kernel, ThreadHandleSignalsAtEndWithItsExitCode) {
  DWORD tid = 0;
  HANDLE h = CreateThread(nullptr, 0, ReturnParameter, reinterpret_cast<LPVOID>(42), 0, &tid);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(tid, 0u);
  EXPECT_NE(tid, GetCurrentThreadId());
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(h, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // Only once the thread is gone: its thread-local destructors come first.
  static HANDLE cleanUp[2];  // entered, may leave
  for (HANDLE& e : cleanUp) e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  h = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        struct Guard {
          ~Guard() {
            SetEvent(cleanUp[0]);
            WaitForSingleObject(cleanUp[1], 10000);
          }
        };
        thread_local Guard guard;
        (void)&guard;
        return 7;
      },
      nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(cleanUp[0], 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(h, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(cleanUp[1]);
  EXPECT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  for (HANDLE handle : {h, cleanUp[0], cleanUp[1]}) CloseHandle(handle);
}

TEST(Kernel, SuspendedThreadRunsOnlyAfterResume) {
  static std::atomic<int> ran{0};
  ran = 0;
  auto body = [](LPVOID) -> DWORD {
    ran = 1;
    return 7;
  };
  HANDLE h = CreateThread(nullptr, 0, body, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(WaitForSingleObject(h, 100), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ran.load(), 0);
  DWORD code = 0;
  GetExitCodeThread(h, &code);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  EXPECT_EQ(ResumeThread(h), 1u);
  ASSERT_EQ(WaitForSingleObject(h, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ran.load(), 1);
  CloseHandle(h);
}

TEST(Kernel, CrtThreadStartReportsIdAndExitCode) {
  unsigned tid = 0;
  auto body = [](void* p) -> unsigned { return *static_cast<unsigned*>(p) + 1; };
  unsigned value = 9;
  uintptr_t h = _beginthreadex(nullptr, 0, body, &value, 0, &tid);
  ASSERT_NE(h, 0u);
  EXPECT_NE(tid, 0u);
  ASSERT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(h), 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(reinterpret_cast<HANDLE>(h), &code);
  EXPECT_EQ(code, 10u);
  CloseHandle(reinterpret_cast<HANDLE>(h));
}

TEST(Kernel, AutoResetEventReleasesOneWaitAndTimesOut) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(e, 50), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(GetTickCount() - start, 45u);
  SetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // reset by the first wait
  CloseHandle(e);

  HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(manual);
}

TEST(Kernel, EventSetByAnotherThreadWakesTheWaiter) {
  HANDLE e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  auto body = [](LPVOID p) -> DWORD {
    SetEvent(static_cast<HANDLE>(p));
    return 0;
  };
  HANDLE t = CreateThread(nullptr, 0, body, e, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 10000), WAIT_OBJECT_0);
  WaitForSingleObject(t, 10000);
  CloseHandle(t);
  CloseHandle(e);
}

TEST(Kernel, TerminateThreadAbandonsTheThreadWithoutStoppingIt) {
  struct Shared {
    HANDLE release;
    HANDLE finished;
  };
  static Shared shared;  // outlives the abandoned thread
  shared = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  auto body = [](LPVOID p) -> DWORD {
    auto* s = static_cast<Shared*>(p);
    WaitForSingleObject(s->release, INFINITE);
    SetEvent(s->finished);
    return 5;
  };
  HANDLE t = CreateThread(nullptr, 0, body, &shared, 0, nullptr);
  ASSERT_TRUE(TerminateThread(t, 0));
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 0u);
  // The thread itself goes on and ends on its own; its code stays the given one.
  SetEvent(shared.release);
  EXPECT_EQ(WaitForSingleObject(shared.finished, 10000), WAIT_OBJECT_0);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(t);
  CloseHandle(shared.release);
  CloseHandle(shared.finished);
}

TEST(Kernel, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  static CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  auto tryOther = [](LPVOID) -> DWORD {
    if (!TryEnterCriticalSection(&cs)) return 0;
    LeaveCriticalSection(&cs);
    return 1;
  };
  HANDLE t = CreateThread(nullptr, 0, tryOther, nullptr, 0, nullptr);
  WaitForSingleObject(t, 10000);
  DWORD code = 2;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(t);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  t = CreateThread(nullptr, 0, tryOther, nullptr, 0, nullptr);
  WaitForSingleObject(t, 10000);
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, 1u);
  CloseHandle(t);
  DeleteCriticalSection(&cs);
}

TEST(Kernel, InterlockedCountersStayExactUnderContention) {
  static volatile LONG counter = 0;
  counter = 0;
  auto body = [](LPVOID) -> DWORD {
    for (int i = 0; i < 100000; ++i) InterlockedIncrement(&counter);
    for (int i = 0; i < 50000; ++i) InterlockedDecrement(&counter);
    return 0;
  };
  HANDLE threads[4];
  for (auto& t : threads) t = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(4, threads, TRUE, 30000), WAIT_OBJECT_0);
  for (auto& t : threads) CloseHandle(t);
  EXPECT_EQ(counter, 200000);
  volatile LONG v = 5;
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 4), 5);
  EXPECT_EQ(v, 5);
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 5), 5);
  EXPECT_EQ(v, 9);
  EXPECT_EQ(InterlockedExchange(&v, 1), 9);
}

TEST(Kernel, NamedAndUnnamedMutexOwnership) {
  HANDLE m = CreateMutexW(nullptr, TRUE, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // recursive for its owner
  auto other = [](LPVOID p) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(p), 0); };
  HANDLE t = CreateThread(nullptr, 0, other, m, 0, nullptr);
  WaitForSingleObject(t, 10000);
  DWORD code = 0;
  GetExitCodeThread(t, &code);
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(t);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  CloseHandle(m);
}

TEST(Kernel, TickCountAndLocalTime) {
  DWORD a = GetTickCount();
  Sleep(20);
  DWORD b = GetTickCount();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 5000u);
  // The platform's date is the C library's local date. Read between two
  // readings of the clock it is the date of one of them: a midnight may
  // pass in between.
  auto date = [](time_t when) {
    struct tm t {};
    localtime_r(&when, &t);
    return std::tuple<int, int, int>(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  };
  SYSTEMTIME st{};
  const time_t before = time(nullptr);
  GetLocalTime(&st);
  const time_t after = time(nullptr);
  const std::tuple<int, int, int> seen(st.wYear, st.wMonth, st.wDay);
  EXPECT_TRUE(seen == date(before) || seen == date(after)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
  EXPECT_LT(st.wMilliseconds, 1000);
}

}  // namespace
