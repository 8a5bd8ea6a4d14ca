#include "NpnWorker.h"

#include "cp/CNpn.h"
#include "cp/cpCMutex.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

// Thread message carrying a task: lParam points at the std::function to run.
constexpr UINT kRunMessage = WM_APP + 0x4E;

struct Task {
    const std::function<void()>* fn;
    std::mutex* mutex;
    std::condition_variable* done;
    bool finished = false;
};

} // namespace

NpnWorker::NpnWorker(void (*log)(const char* line))
{
    m_thread = std::thread([this, log] { ThreadMain(log); });
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_ready; });
}

NpnWorker::~NpnWorker()
{
    PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
    m_thread.join();
}

cpCMutex* NpnWorker::GetLock() const
{
    return static_cast<ovSmartPtr*>(m_lockHolder)->Get<cpCMutex>();
}

void NpnWorker::ThreadMain(void (*log)(const char* line))
{
    ovSmartPtr lock;
    lock.CreateInstance(OVCLS_MUTEX);
    m_lockHolder = &lock;
    auto* mutex = lock.Get<cpCMutex>();
    mutex->Lock();
    auto npn = std::make_unique<CNpn>(mutex, log);
    m_npn = npn.get();
    m_started = npn->IsStarted();
    {
        // Make sure the queue exists before anyone posts to this thread.
        MSG peek;
        PeekMessageA(&peek, nullptr, 0, 0, 0);
        std::lock_guard guard(m_mutex);
        m_threadId = GetCurrentThreadId();
        m_ready = true;
    }
    m_changed.notify_all();
    mutex->Unlock();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.hwnd == nullptr && msg.message == kRunMessage) {
            auto* task = reinterpret_cast<Task*>(msg.lParam);
            {
                cpCMutexLock held(mutex);
                (*task->fn)();
            }
            // Notified under the lock: the waiter owns the condition and may
            // destroy it as soon as it sees the flag.
            std::lock_guard guard(*task->mutex);
            task->finished = true;
            task->done->notify_all();
        } else {
            DispatchMessageA(&msg);
        }
        CheckWaiters();
    }

    mutex->Lock();
    npn->Cleanup();
    npn.reset();
    m_npn = nullptr;
    mutex->Unlock();
}

void NpnWorker::CheckWaiters()
{
    if (m_waiters.empty()) {
        return;
    }
    bool any = false;
    {
        cpCMutexLock held(GetLock());
        for (auto it = m_waiters.begin(); it != m_waiters.end();) {
            if ((*it)->pred()) {
                std::lock_guard guard(m_mutex);
                (*it)->done = true;
                any = true;
                it = m_waiters.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (any) {
        m_changed.notify_all();
    }
}

void NpnWorker::Run(const std::function<void()>& fn)
{
    std::mutex mutex;
    std::condition_variable done;
    Task task{&fn, &mutex, &done};
    PostThreadMessageA(m_threadId, kRunMessage, 0, reinterpret_cast<LPARAM>(&task));
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return task.finished; });
}

bool NpnWorker::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout)
{
    auto waiter = std::make_shared<Waiter>();
    waiter->pred = pred;
    Run([&] {
        if (pred()) {
            waiter->done = true;
        } else {
            m_waiters.push_back(waiter);
        }
    });
    {
        std::unique_lock lock(m_mutex);
        if (m_changed.wait_for(lock, timeout, [&] { return waiter->done; })) {
            return true;
        }
    }
    // Timed out: withdraw the waiter (its predicate refers to the caller's frame).
    bool done = false;
    Run([&] {
        m_waiters.remove(waiter);
        done = waiter->done || pred();
    });
    return done;
}
