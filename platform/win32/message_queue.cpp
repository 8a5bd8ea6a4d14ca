// Per-thread message queues: posting, retrieval, sent messages and the epoll
// wait that blocks an idle thread without using the processor.
#include "message_queue.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <unordered_map>

#include "handle_table.h"
#include "win32_ext.h"

namespace w32 {

struct SentMessage {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
  std::mutex mutex;
  std::condition_variable cv;

  void Complete(LRESULT value) {
    std::lock_guard<std::mutex> lock(mutex);
    result = value;
    done = true;
    cv.notify_all();
  }
};

namespace {

struct QueueRegistry {
  std::mutex mutex;
  std::unordered_map<DWORD, std::weak_ptr<MessageQueue>> queues;
};

QueueRegistry& Registry() {
  static QueueRegistry* registry = new QueueRegistry;
  return *registry;
}

// Owns the thread's queue; at thread exit destroys its windows and closes it.
struct QueueHolder {
  std::shared_ptr<MessageQueue> queue;
  ~QueueHolder() { Release(); }
  void Release() {
    if (!queue) return;
    DWORD tid = queue->ThreadId();
    DestroyThreadWindows(tid);
    queue->Shutdown();
    {
      QueueRegistry& r = Registry();
      std::lock_guard<std::mutex> lock(r.mutex);
      r.queues.erase(tid);
    }
    queue.reset();
  }
};

thread_local QueueHolder t_holder;

// The queue whose socket readiness this thread turns into notices now, if
// any (see Post).
thread_local const MessageQueue* t_pumping = nullptr;

bool InFilter(const MSG& m, HWND filter, UINT first, UINT last) {
  if (filter == reinterpret_cast<HWND>(-1)) {
    if (m.hwnd != nullptr) return false;
  } else if (filter != nullptr && m.hwnd != filter) {
    return false;
  }
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

}  // namespace

void ReleaseThreadQueue() { t_holder.Release(); }

MessageQueue::MessageQueue(DWORD threadId) : threadId_(threadId) {}

MessageQueue::~MessageQueue() {
  for (int fd : {timerFd_, eventFd_, epollFd_})
    if (fd >= 0) close(fd);
}

bool MessageQueue::Init() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (epollFd_ < 0 || eventFd_ < 0 || timerFd_ < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = kEventKey;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, eventFd_, &ev) != 0) return false;
  ev.data.u64 = kTimerKey;
  return epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &ev) == 0;
}

std::shared_ptr<MessageQueue> MessageQueue::Current() {
  if (t_holder.queue) return t_holder.queue;
  DWORD tid = GetCurrentThreadId();
  std::shared_ptr<MessageQueue> queue(new MessageQueue(tid));
  if (!queue->Init()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  {
    QueueRegistry& r = Registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.queues[tid] = queue;
  }
  t_holder.queue = queue;
  return queue;
}

std::shared_ptr<MessageQueue> MessageQueue::ForThread(DWORD threadId) {
  if (threadId == GetCurrentThreadId()) return Current();
  QueueRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.queues.find(threadId);
  return it == r.queues.end() ? nullptr : it->second.lock();
}

// The eventfd is readable exactly while posted or sent messages (or a quit)
// wait, so that W32GetMessageQueueFd's readiness follows the queue.
void MessageQueue::UpdateSignalLocked() {
  bool want = !posted_.empty() || !sent_.empty() || quit_;
  if (want == signaled_) return;
  if (want) {
    uint64_t one = 1;
    ssize_t n = write(eventFd_, &one, sizeof(one));
    (void)n;
  } else {
    uint64_t value;
    ssize_t n = read(eventFd_, &value, sizeof(value));
    (void)n;
  }
  signaled_ = want;
}

void MessageQueue::ArmTimerLocked() {
  itimerspec setting{};
  if (!timers_.empty()) {
    uint64_t due = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                     return a.due < b.due;
                   })->due;
    if (due == 0) due = 1;  // an all-zero value would disarm
    setting.it_value.tv_sec = static_cast<time_t>(due / 1000);
    setting.it_value.tv_nsec = static_cast<long>(due % 1000) * 1000000L;
  }
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

bool MessageQueue::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return false;
  }
  if (posted_.size() >= kPostedMessageLimit) {
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return false;
  }
  MSG m{};
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = static_cast<DWORD>(MonotonicMs());
  posted_.push_back(m);
  // A socket notice posted while the owner collects readiness is taken by
  // the owner next: Retrieve brings the eventfd in line before it returns,
  // waits or runs any procedure, which spares a write and a read of it for
  // every notice.
  if (t_pumping != this) UpdateSignalLocked();
  return true;
}

void MessageQueue::PostQuit(int exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  quit_ = true;
  quitCode_ = exitCode;
  UpdateSignalLocked();
}

LRESULT MessageQueue::Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto sent = std::make_shared<SentMessage>();
  sent->hwnd = hwnd;
  sent->message = message;
  sent->wParam = wParam;
  sent->lParam = lParam;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return 0;
    sent_.push_back(sent);
    UpdateSignalLocked();
  }
  std::unique_lock<std::mutex> lock(sent->mutex);
  sent->cv.wait(lock, [&] { return sent->done; });
  return sent->result;
}

void MessageQueue::RunSentMessages() {
  for (;;) {
    std::shared_ptr<SentMessage> sent;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (sent_.empty()) return;
      sent = sent_.front();
      sent_.pop_front();
      UpdateSignalLocked();
    }
    sent->Complete(CallWindowProcedure(sent->hwnd, sent->message, sent->wParam, sent->lParam));
  }
}

void MessageQueue::Shutdown() {
  std::deque<std::shared_ptr<SentMessage>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    waiting.swap(sent_);
    posted_.clear();
    timers_.clear();
    quit_ = false;
    UpdateSignalLocked();
    ArmTimerLocked();
  }
  for (auto& sent : waiting) sent->Complete(0);
}

void MessageQueue::PumpDescriptors(int timeoutMs) {
  epoll_event events[32];
  int n = epoll_wait(epollFd_, events, 32, timeoutMs);
  const MessageQueue* outer = t_pumping;
  t_pumping = this;
  for (int i = 0; i < n; ++i) {
    uint64_t key = events[i].data.u64;
    if (key != kEventKey && key != kTimerKey) DispatchSocketReadiness(key, events[i].events);
  }
  t_pumping = outer;
}

bool MessageQueue::TakeLocked(MSG* msg, HWND filter, UINT first, UINT last, bool remove) {
  for (auto it = posted_.begin(); it != posted_.end(); ++it) {
    if (!InFilter(*it, filter, first, last)) continue;
    *msg = *it;
    if (remove) {
      posted_.erase(it);
      UpdateSignalLocked();
    }
    return true;
  }
  if (quit_) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(quitCode_);
    msg->time = static_cast<DWORD>(MonotonicMs());
    if (remove) {
      quit_ = false;
      UpdateSignalLocked();
    }
    return true;
  }
  uint64_t now = MonotonicMs();
  Timer* dueTimer = nullptr;
  for (Timer& t : timers_) {
    if (t.due > now) continue;
    MSG probe{};
    probe.hwnd = t.hwnd;
    probe.message = WM_TIMER;
    if (!InFilter(probe, filter, first, last)) continue;
    if (dueTimer == nullptr || t.due < dueTimer->due) dueTimer = &t;
  }
  if (dueTimer == nullptr) return false;
  *msg = MSG{};
  msg->hwnd = dueTimer->hwnd;
  msg->message = WM_TIMER;
  msg->wParam = dueTimer->id;
  msg->lParam = reinterpret_cast<LPARAM>(dueTimer->proc);
  msg->time = static_cast<DWORD>(now);
  if (remove) {
    // The next period counts from now: a late timer does not fire in bursts.
    dueTimer->due = now + dueTimer->interval;
    ArmTimerLocked();
  }
  return true;
}

bool MessageQueue::Retrieve(MSG* msg, HWND filter, UINT first, UINT last, bool remove, bool wait) {
  bool polled = false;  // the readiness of the sockets was collected just now
  for (;;) {
    RunSentMessages();
    if (!polled) PumpDescriptors(0);
    polled = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const bool taken = TakeLocked(msg, filter, first, last, remove);
      UpdateSignalLocked();  // the notices posted while pumping left it to here
      if (taken) return true;
    }
    if (!wait) return false;
    PumpDescriptors(-1);
    polled = true;
  }
}

UINT_PTR MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return 0;
  UINT interval = elapse < 10 ? 10 : elapse;  // USER_TIMER_MINIMUM
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (hwnd == nullptr && it == timers_.end()) {
    // A thread timer gets an id of its own unless it replaces one.
    do {
      id = nextTimerId_++;
      if (nextTimerId_ == 0) nextTimerId_ = 1;
    } while (
        std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == nullptr && t.id == id; }));
  }
  Timer timer{hwnd, id, interval, proc, MonotonicMs() + interval};
  if (it != timers_.end()) {
    *it = timer;
  } else {
    timers_.push_back(timer);
  }
  ArmTimerLocked();
  return hwnd == nullptr ? id : (id == 0 ? 1 : id);
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  ArmTimerLocked();
  return true;
}

void MessageQueue::KillWindowTimers(HWND hwnd) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                timers_.end());
  ArmTimerLocked();
}

bool MessageQueue::WatchDescriptor(int fd, uint64_t key, uint32_t events, bool inSet) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = key;
  if (epoll_ctl(epollFd_, inSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) == 0) return true;
  // The set knows better (the entry went with a closed descriptor, or one
  // is there already).
  if (errno != (inSet ? ENOENT : EEXIST)) return false;
  return epoll_ctl(epollFd_, inSet ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, &ev) == 0;
}

void MessageQueue::UnwatchDescriptor(int fd) { epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr); }

}  // namespace w32

using namespace w32;

void WINAPI PostQuitMessage(int nExitCode) {
  if (auto queue = MessageQueue::Current()) queue->PostQuit(nExitCode);
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  auto queue = MessageQueue::ForThread(idThread);
  if (!queue) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return queue->Post(nullptr, Msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
  return PostThreadMessageW(idThread, Msg, wParam, lParam);
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  auto queue = MessageQueue::Current();
  if (!queue || lpMsg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  queue->Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, true);
  return lpMsg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax) {
  return GetMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  auto queue = MessageQueue::Current();
  if (!queue || lpMsg == nullptr) return FALSE;
  return queue->Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0, false) ? TRUE
                                                                                                          : FALSE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
  return PeekMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}

BOOL WINAPI TranslateMessage(const MSG*) { return FALSE; }

int W32GetMessageQueueFd(void) {
  auto queue = MessageQueue::Current();
  return queue ? queue->EpollFd() : -1;
}
