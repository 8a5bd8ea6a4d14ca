#include "cp/cpCTimer.h"

#include "cp/cpCTimerQueue.h"

cpCTimer::~cpCTimer()
{
    Stop();
}

OVRESULT cpCTimer::Start(std::uint32_t intervalMs, cpTimerCallback callback, void* context, std::uint32_t tag,
                         ovIUnknown* lock)
{
    cpCTimerQueue* queue = cpCTimerQueue::GetInstance();
    if (!queue || !callback) {
        return OVR_PLATFORM_FAIL;
    }
    m_intervalMs = intervalMs;
    m_callback = callback;
    m_context = context;
    m_lock = lock;
    RestartFrom(cpNow());
    return queue->Add(this, tag);
}

OVRESULT cpCTimer::Stop()
{
    if (cpCTimerQueue* queue = cpCTimerQueue::GetInstance()) {
        queue->Remove(this);
    }
    m_due = {};
    m_callback = nullptr;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCTimer::Restart()
{
    RestartFrom(cpNow());
    return OVR_PLATFORM_OK;
}

void cpCTimer::RestartFrom(cpTime now)
{
    m_start = now;
    m_periods = 1;
    m_due = cpAddMs(m_start, m_intervalMs);
}

bool cpCTimer::IsDue(cpTime now) const
{
    // Within the due second a tick up to 10 ms early counts as on time.
    return now.seconds > m_due.seconds || (now.seconds == m_due.seconds && now.milliseconds + 10 >= m_due.milliseconds);
}

void cpCTimer::Fire()
{
    if (!m_callback) {
        return;
    }
    ++m_periods;
    m_due = cpAddMs(m_start, std::uint64_t{m_intervalMs} * m_periods);
    m_callback(m_context);
}
