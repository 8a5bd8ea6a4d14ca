#pragma once
// A "library worker" thread for tests, built exactly like the download
// library's worker: it creates the library lock (class OVCLS_MUTEX), takes it,
// constructs the network runtime CNpn (hidden socket window, timer queue,
// bandwidth manager, collector), releases it, and pumps GetMessage /
// DispatchMessage until WM_QUIT; then, under the lock, it calls CNpn::Cleanup
// and destroys the runtime on the same thread.
//
// Tests talk to it in two ways:
//   Run(fn)             runs fn on the worker under the library lock and waits
//                       for it (everything that touches contexts goes here);
//   WaitUntil(pred, t)  waits until pred, evaluated on the worker under the
//                       lock after every dispatched message, holds; false
//                       after t (then the test fails with its own message).
//
// Set a fixed clock with cpSetClock before construction to keep the real
// timers (1 s bandwidth tick, 3 s collector, connect time-outs) from firing,
// and drive the ticks by hand; leave the system clock to let them run.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

class CNpn;
class cpCQoS;
class cpCMutex;

class NpnWorker {
public:
    // `log` receives the runtime's log lines (CNpn::Log); null drops them.
    explicit NpnWorker(void (*log)(const char* line) = nullptr);
    ~NpnWorker();
    NpnWorker(const NpnWorker&) = delete;
    NpnWorker& operator=(const NpnWorker&) = delete;

    // Whether the runtime came up (window and timers running).
    bool IsStarted() const { return m_started; }
    DWORD GetThreadId() const { return m_threadId; }
    CNpn* GetNpn() const { return m_npn; }
    cpCMutex* GetLock() const;

    void Run(const std::function<void()>& fn);
    template <class F>
    auto Call(F fn) -> decltype(fn())
    {
        decltype(fn()) result{};
        Run([&] { result = fn(); });
        return result;
    }

    bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    struct Waiter {
        std::function<bool()> pred;
        bool done = false;
    };
    void ThreadMain(void (*log)(const char* line));
    void CheckWaiters();

    std::thread m_thread;
    DWORD m_threadId = 0;
    CNpn* m_npn = nullptr;
    void* m_lockHolder = nullptr;
    bool m_started = false;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ready = false;
    std::list<std::shared_ptr<Waiter>> m_waiters; // touched on the worker only
};
