// Threads: CreateThread, _beginthreadex, exit codes, suspension at start and
// the abandoning TerminateThread.
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <thread>

#include "error_mapping.h"
#include "handle_table.h"
#include "message_queue.h"

namespace w32 {
namespace {

class ThreadObject : public Waitable {
 public:
  bool IsSignaledLocked() const override { return finished; }

  // All fields are guarded by WaitLock().
  DWORD tid = 0;
  bool started = false;    // the new thread has published its id
  bool suspended = false;  // CREATE_SUSPENDED and not yet resumed
  bool finished = false;
  DWORD exitCode = STILL_ACTIVE;
};

struct StartBlock {
  std::shared_ptr<ThreadObject> thread;
  LPTHREAD_START_ROUTINE routine;
  LPVOID parameter;
};

thread_local std::shared_ptr<ThreadObject> t_self;

void Finish(ThreadObject& thread, DWORD code) {
  std::lock_guard<std::mutex> lock(WaitLock());
  if (!thread.finished) {  // an abandoned thread keeps the code TerminateThread gave
    thread.finished = true;
    thread.exitCode = code;
  }
  NotifyWaiters();
}

// A thread's handle is signalled only once the thread is gone: its
// thread-local destructors and the C library's own clean-up have run. A
// process that ends right after waiting on the handle then never races a
// thread still tearing itself down (the exit's clean-up freed memory the
// thread's clean-up freed again). One long-lived thread joins each thread
// that has returned and then signals its handle.
class Reaper {
 public:
  Reaper() {
    std::thread([this] { Run(); }).detach();
  }

  // Called by the returning thread itself, as its last step.
  void Hand(std::shared_ptr<ThreadObject> thread, DWORD code) {
    std::lock_guard<std::mutex> lock(lock_);
    ended_.push_back({pthread_self(), std::move(thread), code});
    changed_.notify_one();
  }

 private:
  struct Ended {
    pthread_t id;
    std::shared_ptr<ThreadObject> thread;
    DWORD code;
  };

  [[noreturn]] void Run() {
    for (;;) {
      Ended next;
      {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait(lock, [this] { return !ended_.empty(); });
        next = std::move(ended_.front());
        ended_.pop_front();
      }
      pthread_join(next.id, nullptr);
      Finish(*next.thread, next.code);
    }
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Ended> ended_;
};

Reaper& TheReaper() {
  static Reaper* reaper = new Reaper;  // outlives every static destructor, as its thread does
  return *reaper;
}

// The thread's last step: its handle goes to the reaper.
void HandToReaper(DWORD code) { TheReaper().Hand(std::move(t_self), code); }

void* ThreadMain(void* arg) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(arg));
  t_self = block->thread;
  {
    std::unique_lock<std::mutex> lock(WaitLock());
    t_self->tid = static_cast<DWORD>(syscall(SYS_gettid));
    t_self->started = true;
    NotifyWaiters();
    while (t_self->suspended && !t_self->finished) WaitForChange(lock);
    if (t_self->finished) {  // terminated before it ran
      HandToReaper(t_self->exitCode);
      return nullptr;
    }
  }
  DWORD code = block->routine(block->parameter);
  ReleaseThreadQueue();
  HandToReaper(code);
  return nullptr;
}

HANDLE StartThread(SIZE_T stackSize, LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags, DWORD* tidOut) {
  auto thread = std::make_shared<ThreadObject>();
  thread->suspended = (flags & CREATE_SUSPENDED) != 0;
  auto block = std::make_unique<StartBlock>(StartBlock{thread, routine, parameter});

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  TheReaper();  // running before any thread can end
  if (stackSize != 0) pthread_attr_setstacksize(&attr, stackSize < 65536 ? 65536 : stackSize);
  pthread_t id;
  int rc = pthread_create(&id, &attr, ThreadMain, block.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    FailWithErrno(rc);
    return nullptr;
  }
  block.release();  // owned by the new thread now
  {
    std::unique_lock<std::mutex> lock(WaitLock());
    while (!thread->started) WaitForChange(lock);
    if (tidOut) *tidOut = thread->tid;
  }
  return InsertHandle(thread);
}

struct CrtStart {
  unsigned(__stdcall* routine)(void*);
  void* argument;
};

DWORD WINAPI CrtThreadMain(LPVOID arg) {
  std::unique_ptr<CrtStart> start(static_cast<CrtStart*>(arg));
  return start->routine(start->argument);
}

}  // namespace
}  // namespace w32

using namespace w32;

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  if (lpStartAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return StartThread(dwStackSize, lpStartAddress, lpParameter, dwCreationFlags, lpThreadId);
}

uintptr_t _beginthreadex(void*, unsigned stack_size, unsigned(__stdcall* start_address)(void*), void* arglist,
                         unsigned initflag, unsigned* thrdaddr) {
  if (start_address == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto* start = new CrtStart{start_address, arglist};
  DWORD tid = 0;
  HANDLE h = StartThread(stack_size, CrtThreadMain, start, initflag, &tid);
  if (h == nullptr) {
    delete start;
    return 0;
  }
  if (thrdaddr) *thrdaddr = tid;
  return reinterpret_cast<uintptr_t>(h);
}

void _endthreadex(unsigned retval) {
  ReleaseThreadQueue();
  // A thread this layer did not start has no handle and is not joined.
  if (t_self) HandToReaper(retval);
  pthread_exit(nullptr);
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
  auto thread = LookupHandleAs<ThreadObject>(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  DWORD previous = thread->suspended ? 1 : 0;
  thread->suspended = false;
  NotifyWaiters();
  return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto thread = LookupHandleAs<ThreadObject>(hThread);
  if (!thread || lpExitCode == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  *lpExitCode = thread->exitCode;
  return TRUE;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
  auto thread = LookupHandleAs<ThreadObject>(hThread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Finish(*thread, dwExitCode);
  return TRUE;
}

DWORD WINAPI GetThreadId(HANDLE Thread) {
  auto thread = LookupHandleAs<ThreadObject>(Thread);
  if (!thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::lock_guard<std::mutex> lock(WaitLock());
  return thread->tid;
}

DWORD WINAPI GetCurrentThreadId(void) {
  thread_local DWORD tid = static_cast<DWORD>(syscall(SYS_gettid));
  return tid;
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
