#include "cp/cpCTimerQueue.h"

#include <atomic>
#include <vector>

#include "cp/cpAssert.h"
#include "cp/cpCMutex.h"
#include "cp/cpCTimer.h"

// An entry lives in the queue's list and in the snapshots of running ticks;
// it is freed when the last of them lets it go.
struct cpCTimerQueue::Entry {
    cpCTimer* timer;
    std::uint32_t tag;
    int refs;

    void Release()
    {
        if (--refs == 0) {
            delete this;
        }
    }
};

namespace {

std::atomic<cpCTimerQueue*> g_queue{nullptr};
std::atomic<int> g_liveQueues{0};

} // namespace

cpCTimerQueue::cpCTimerQueue(cpCMutex* lock) : m_lock(lock) {}

cpCTimerQueue::~cpCTimerQueue()
{
    if (m_platformTimer) {
        KillTimer(nullptr, m_platformTimer);
        m_platformTimer = 0;
        --g_liveQueues;
    }
    cpCTimerQueue* self = this;
    g_queue.compare_exchange_strong(self, nullptr);
    // Timers still started lose their entry; a later Stop finds no queue.
    while (m_entries.GetCount() > 0) {
        static_cast<Entry*>(m_entries.RemoveAt(0))->Release();
    }
}

OVRESULT cpCTimerQueue::Start()
{
    if (m_platformTimer) {
        return OVR_PLATFORM_OK;
    }
    m_platformTimer = SetTimer(nullptr, 0, kTickMs, &cpCTimerQueue::OnPlatformTimer);
    if (!m_platformTimer) {
        return OVR_PLATFORM_FAIL;
    }
    ++g_liveQueues;
    g_queue = this;
    m_ownerThread = GetCurrentThreadId();
    return OVR_PLATFORM_OK;
}

cpCTimerQueue* cpCTimerQueue::GetInstance()
{
    return g_queue;
}

void CALLBACK cpCTimerQueue::OnPlatformTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    cpCTimerQueue* queue = g_queue;
    if (!queue || queue->m_platformTimer != id) {
        return;
    }
    cpCMutexLock lock(queue->m_lock.Get<cpCMutex>());
    if (g_liveQueues > 0) {
        queue->Tick();
    }
}

cpCTimerQueue::Entry* cpCTimerQueue::FindEntry(cpCTimer* timer)
{
    for (int i = 0; i < m_entries.GetCount(); ++i) {
        auto* entry = static_cast<Entry*>(m_entries.GetAt(i));
        if (entry->timer == timer) {
            return entry;
        }
    }
    return nullptr;
}

OVRESULT cpCTimerQueue::Add(cpCTimer* timer, std::uint32_t tag)
{
    cpCMutexLock lock(m_lock.Get<cpCMutex>());
    if (Entry* existing = FindEntry(timer)) {
        existing->tag = tag;
        return OVR_PLATFORM_OK;
    }
    auto* entry = new Entry{timer, tag, 1};
    if (!m_entries.Add(entry)) {
        delete entry;
        return OVR_PLATFORM_FAIL;
    }
    return OVR_PLATFORM_OK;
}

void cpCTimerQueue::Remove(cpCTimer* timer)
{
    cpCMutexLock lock(m_lock.Get<cpCMutex>());
    if (Entry* entry = FindEntry(timer)) {
        m_entries.Remove(entry);
        entry->Release();
    }
}

void cpCTimerQueue::Tick()
{
    MESHDROP_ASSERT_THREAD(m_ownerThread);
    ++m_ticks;
    if (m_entries.GetCount() == 0) {
        return;
    }
    std::vector<Entry*> snapshot;
    cpTime now;
    {
        cpCMutexLock lock(m_lock.Get<cpCMutex>());
        now = cpNow();
        const bool jumped =
            m_hasPrevious && (cpElapsedMs(m_previous, now) > kJumpMs || cpElapsedMs(now, m_previous) > kJumpMs);
        m_previous = now;
        m_hasPrevious = true;
        snapshot.reserve(static_cast<std::size_t>(m_entries.GetCount()));
        for (int i = 0; i < m_entries.GetCount(); ++i) {
            auto* entry = static_cast<Entry*>(m_entries.GetAt(i));
            entry->timer->AddRef();
            ++entry->refs;
            snapshot.push_back(entry);
            if (jumped) {
                // After a jump of the wall clock every timer counts from now,
                // instead of firing in a burst or waiting for the old time.
                entry->timer->RestartFrom(now);
            }
        }
    }
    for (Entry* entry : snapshot) {
        // A timer stopped by an earlier callback of this tick has lost its
        // callback and does not fire.
        if (entry->timer->IsRunning() && entry->timer->IsDue(now)) {
            entry->timer->Fire();
        }
    }
    for (Entry* entry : snapshot) {
        cpCTimer* timer = entry->timer;
        entry->Release();
        timer->Release();
    }
}
