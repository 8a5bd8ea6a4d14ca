// Message queues, windows, timers and the GUI toolkit hook.
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <win32_ext.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kTestMessage = WM_USER + 10;

struct Received {
  std::vector<std::pair<WPARAM, LPARAM>> messages;
  std::vector<UINT> lifecycle;
};
Received* g_received = nullptr;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (g_received) {
    if (msg == kTestMessage) g_received->messages.emplace_back(w, l);
    if (msg == WM_CREATE || msg == WM_DESTROY || msg == WM_NCCREATE) g_received->lifecycle.push_back(msg);
    if (msg == WM_USER + 20) return static_cast<LRESULT>(w * 2);
  }
  return DefWindowProcW(hwnd, msg, w, l);
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_received = &received_;
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = L"MessagesTestWindow";
    RegisterClassW(&wc);  // fails harmlessly when an earlier test registered it
    hwnd_ = CreateWindowExW(0, L"MessagesTestWindow", L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    g_received = nullptr;
  }

  Received received_;
  HWND hwnd_ = nullptr;
};

TEST_F(Messages, WindowLifecycleReachesTheProcedure) {
  EXPECT_EQ(received_.lifecycle, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(hwnd_, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, GetCurrentProcessId());
  EXPECT_TRUE(DestroyWindow(hwnd_));
  EXPECT_EQ(received_.lifecycle.back(), static_cast<UINT>(WM_DESTROY));
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_FALSE(PostMessageW(hwnd_, kTestMessage, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(Messages, MessagesFromSeveralThreadsAllArriveInOrderPerSender) {
  constexpr int kSenders = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s) {
    senders.emplace_back([this, s] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessageW(hwnd_, kTestMessage, s, i));
    });
  }
  MSG m;
  while (received_.messages.size() < kSenders * kEach && GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  for (auto& t : senders) t.join();
  ASSERT_EQ(received_.messages.size(), static_cast<size_t>(kSenders * kEach));
  std::vector<LPARAM> next(kSenders, 0);
  for (auto& [sender, seq] : received_.messages) {
    ASSERT_LT(sender, static_cast<WPARAM>(kSenders));
    EXPECT_EQ(seq, next[sender]) << "sender " << sender;
    next[sender] = seq + 1;
  }
}

TEST_F(Messages, QuitMessageEndsTheLoopWithItsCode) {
  PostMessageW(hwnd_, kTestMessage, 1, 0);
  PostQuitMessage(3);
  MSG m;
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);  // posted messages come first
  EXPECT_EQ(m.message, kTestMessage);
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, PeekWithoutRemoveLeavesTheMessage) {
  PostMessageW(hwnd_, kTestMessage, 7, 8);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 7u);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, hwnd_);
  EXPECT_EQ(m.lParam, 8);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(Messages, ThreadMessagesReachAThreadWithoutWindows) {
  std::atomic<DWORD> tid{0};
  std::atomic<WPARAM> got{0};
  std::thread worker([&] {
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);  // creates the queue, as on Windows
    tid = GetCurrentThreadId();
    while (GetMessageW(&m, nullptr, 0, 0) > 0) got = m.wParam;
  });
  while (tid == 0) std::this_thread::yield();
  EXPECT_TRUE(PostThreadMessageW(tid, WM_USER + 1, 77, 0));
  EXPECT_TRUE(PostThreadMessageW(tid, WM_QUIT, 0, 0));
  worker.join();
  EXPECT_EQ(got.load(), 77u);
  EXPECT_FALSE(PostThreadMessageW(tid, WM_USER + 1, 0, 0));  // the queue ended with its thread
}

TEST_F(Messages, SendMessageFromAnotherThreadRunsOnTheOwner) {
  std::atomic<LRESULT> result{0};
  std::thread sender([&] { result = SendMessageW(hwnd_, WM_USER + 20, 21, 0); });
  MSG m;
  // The sent message is handled inside the owner's retrieval.
  while (result == 0) {
    PostMessageW(hwnd_, kTestMessage, 0, 0);
    GetMessageW(&m, nullptr, 0, 0);
  }
  sender.join();
  EXPECT_EQ(result.load(), 42);
  EXPECT_EQ(SendMessageW(hwnd_, WM_USER + 20, 5, 0), 10);  // same thread: a direct call
}

// Reads the scheduler state letter of a thread of this process.
char ThreadState(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
}

TEST_F(Messages, GetMessageBlocksWithoutUsingTheProcessor) {
  std::atomic<DWORD> tid{0};
  clockid_t clock{};
  std::thread waiter([&] {
    pthread_getcpuclockid(pthread_self(), &clock);
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    SetTimer(nullptr, 0, 60000, nullptr);  // a far timer keeps the timerfd armed
    tid = GetCurrentThreadId();
    GetMessageW(&m, nullptr, 0, 0);
  });
  while (tid == 0) std::this_thread::yield();
  for (int i = 0; i < 5000 && ThreadState(static_cast<pid_t>(tid.load())) != 'S'; ++i) Sleep(1);
  ASSERT_EQ(ThreadState(static_cast<pid_t>(tid.load())), 'S');
  timespec before{}, after{};
  clock_gettime(clock, &before);
  Sleep(300);  // the measuring window
  clock_gettime(clock, &after);
  double busyMs = (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
  EXPECT_LT(busyMs, 20.0);
  EXPECT_TRUE(PostThreadMessageW(tid, WM_USER, 0, 0));
  waiter.join();
}

std::atomic<int> g_ticks{0};
void CALLBACK CountTick(HWND, UINT msg, UINT_PTR, DWORD) {
  if (msg == WM_TIMER) ++g_ticks;
}

TEST_F(Messages, TimerFiresOncePerPeriodAndStopsAtKillTimer) {
  g_ticks = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 100, CountTick);
  ASSERT_NE(id, 0u);
  // A window timer bounds the wait: the test fails rather than hangs.
  ASSERT_EQ(SetTimer(hwnd_, 6, 30000, nullptr), 6u);
  const ULONGLONG start = GetTickCount64();
  MSG m;
  while (g_ticks.load() < 5) {
    ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
    ASSERT_FALSE(m.message == WM_TIMER && m.hwnd == hwnd_) << "five ticks of 100 ms took 30 s";
    DispatchMessageW(&m);
  }
  // Never sooner than its period (however late a loaded machine makes them).
  EXPECT_GE(GetTickCount64() - start, 490u);
  EXPECT_TRUE(KillTimer(hwnd_, 6));
  const int ticks = g_ticks.load();
  EXPECT_TRUE(KillTimer(nullptr, id));
  // A window timer of 350 ms proves that time passes without further ticks.
  ASSERT_EQ(SetTimer(hwnd_, 5, 350, nullptr), 5u);
  for (;;) {
    ASSERT_GT(GetMessageW(&m, nullptr, 0, 0), 0);
    if (m.message == WM_TIMER && m.hwnd == hwnd_) {
      EXPECT_EQ(m.wParam, 5u);
      break;
    }
    DispatchMessageW(&m);
  }
  EXPECT_EQ(g_ticks.load(), ticks);
  EXPECT_TRUE(KillTimer(hwnd_, 5));
  EXPECT_FALSE(KillTimer(hwnd_, 5));
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

TEST_F(Messages, QueueDescriptorIsReadableExactlyWhileMessagesWait) {
  int fd = W32GetMessageQueueFd();
  ASSERT_GE(fd, 0);
  EXPECT_FALSE(Readable(fd, 0));
  PostMessageW(hwnd_, kTestMessage, 1, 0);
  PostMessageW(hwnd_, kTestMessage, 2, 0);
  EXPECT_TRUE(Readable(fd, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_TRUE(Readable(fd, 0));  // one still waits
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(Readable(fd, 0));

  // A post from another thread wakes a poll() on the descriptor.
  std::thread poster([this] { PostMessageW(hwnd_, kTestMessage, 3, 0); });
  EXPECT_TRUE(Readable(fd, 10000));
  poster.join();
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  EXPECT_FALSE(Readable(fd, 0));

  // A due timer makes it readable; retrieving the tick clears it.
  UINT_PTR id = SetTimer(hwnd_, 9, 20, nullptr);
  EXPECT_TRUE(Readable(fd, 10000));
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
  KillTimer(hwnd_, id);
  EXPECT_FALSE(Readable(fd, 0));
}

TEST_F(Messages, TitleAndWindowDataRoundTrip) {
  EXPECT_TRUE(SetWindowTextW(hwnd_, L"下載 window"));
  wchar_t title[64];
  EXPECT_EQ(GetWindowTextW(hwnd_, title, 64), 9);
  EXPECT_STREQ(title, L"下載 window");
  char narrow[64];
  GetWindowTextA(hwnd_, narrow, 64);
  EXPECT_STREQ(narrow, "下載 window");
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 1234);
  EXPECT_EQ(GetWindowLongPtrW(hwnd_, GWLP_USERDATA), 1234);
  SetWindowTextW(hwnd_, L"");
}

}  // namespace
