// A thread's message queue. The owning thread waits on one epoll set that
// holds an eventfd (readable while posted or sent messages wait), a timerfd
// (armed for the nearest timer deadline) and the sockets selected with
// WSAAsyncSelect for windows of the thread. Posting is thread-safe and never
// blocks.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "windows.h"

namespace w32 {

// Windows' default limit of posted messages waiting in one queue.
constexpr size_t kPostedMessageLimit = 10000;

// Epoll keys of the queue's own descriptors; socket keys are larger.
constexpr uint64_t kEventKey = 0;
constexpr uint64_t kTimerKey = 1;

struct SentMessage;

class MessageQueue {
 public:
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // The calling thread's queue, created on first use (nullptr only when the
  // system refuses the descriptors).
  static std::shared_ptr<MessageQueue> Current();
  // The queue of a live thread that has one.
  static std::shared_ptr<MessageQueue> ForThread(DWORD threadId);

  DWORD ThreadId() const { return threadId_; }
  int EpollFd() const { return epollFd_; }

  // Any thread. False with ERROR_NOT_ENOUGH_QUOTA when the queue is full.
  bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void PostQuit(int exitCode);
  // Any other thread: waits until the owner has run the window procedure.
  LRESULT Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Owner thread only. Fills *msg and returns true when a message was
  // retrieved (or peeked); with `wait` blocks until one is.
  bool Retrieve(MSG* msg, HWND filter, UINT first, UINT last, bool remove, bool wait);

  // Thread timers of this queue (owner thread or any thread).
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  void KillWindowTimers(HWND hwnd);

  // Socket descriptors in the epoll set, keyed for the readiness dispatcher.
  // `inSet`: the descriptor has an entry already, which is changed rather
  // than added.
  bool WatchDescriptor(int fd, uint64_t key, uint32_t events, bool inSet);
  void UnwatchDescriptor(int fd);

  // At thread exit: later posts fail and waiting senders are released.
  void Shutdown();

 private:
  struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT interval;
    TIMERPROC proc;
    uint64_t due;  // MonotonicMs()
  };

  explicit MessageQueue(DWORD threadId);
  bool Init();
  void UpdateSignalLocked();
  void ArmTimerLocked();
  void PumpDescriptors(int timeoutMs);
  bool TakeLocked(MSG* msg, HWND filter, UINT first, UINT last, bool remove);
  void RunSentMessages();

  const DWORD threadId_;
  int epollFd_ = -1;
  int eventFd_ = -1;
  int timerFd_ = -1;

  std::mutex mutex_;
  std::deque<MSG> posted_;
  std::deque<std::shared_ptr<SentMessage>> sent_;
  std::vector<Timer> timers_;
  bool signaled_ = false;
  bool quit_ = false;
  bool closed_ = false;
  int quitCode_ = 0;
  UINT_PTR nextTimerId_ = 1;
};

// Destroys the calling thread's windows and closes its queue, as the end of a
// thread does. The thread functions call it before the thread's handle is
// signalled, so whoever waits for a thread finds its windows gone.
void ReleaseThreadQueue();

// Implemented by the socket layer: turns epoll readiness of a selected socket
// into notices posted to its window. Called on the queue's owner thread.
void DispatchSocketReadiness(uint64_t key, uint32_t events);

// Implemented by the window table.
LRESULT CallWindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void DestroyThreadWindows(DWORD threadId);

}  // namespace w32
