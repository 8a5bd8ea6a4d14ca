#include "ov/ovCGarbageCollector.h"

#include <memory>
#include <utility>

#include "cp/cpAssert.h"
#include "cp/cpCMutex.h"
#include "cp/cpCTimer.h"
#include "cp/cpClock.h"
#include "ov/ovClassIds.h"

namespace {

ovCGarbageCollector* g_installed = nullptr;

} // namespace

ovCGarbageCollector::~ovCGarbageCollector()
{
    Shutdown();
    if (g_installed == this) {
        g_installed = nullptr;
    }
}

OVRESULT ovCGarbageCollector::Init()
{
    if (!m_timer.CreateInstance(OVCLS_TIMER)) {
        return OVR_PLATFORM_FAIL;
    }
    const OVRESULT started = m_timer.Get<cpCTimer>()->Start(kIntervalMs, &ovCGarbageCollector::OnTimer, this,
                                                            CP_TIMER_TAG_COLLECTOR, nullptr);
    if (OV_FAILED(started)) {
        m_timer.Reset();
    }
    return started;
}

OVRESULT ovCGarbageCollector::Shutdown()
{
    if (m_timer) {
        m_timer.Get<cpCTimer>()->Stop();
        m_timer.Reset();
    }
    // Released one by one: an object's destructor may hand further objects here.
    while (m_entries.GetCount() > 0) {
        std::unique_ptr<Entry> entry(static_cast<Entry*>(m_entries.RemoveAt(0)));
    }
    return OVR_PLATFORM_OK;
}

void ovCGarbageCollector::Add(ovSmartPtr object)
{
    MESHDROP_ASSERT_LOCKED(m_pLock);
    if (!object) {
        return;
    }
    auto entry = std::make_unique<Entry>(Entry{std::move(object), cpNow().seconds + kDelaySeconds});
    if (m_entries.Add(entry.get())) {
        entry.release();
    }
}

void ovCGarbageCollector::Collect()
{
    MESHDROP_ASSERT_LOCKED(m_pLock);
    const std::uint32_t now = cpNow().seconds;
    while (auto* head = static_cast<Entry*>(m_entries.GetHead())) {
        if (now <= head->releaseTime) {
            break;
        }
        m_entries.RemoveAt(0);
        delete head;
    }
}

void ovCGarbageCollector::OnTimer(void* context)
{
    static_cast<ovCGarbageCollector*>(context)->Collect();
}

ovCGarbageCollector* ovCGarbageCollector::GetGarbageCollector()
{
    if (!g_installed) {
        // Lives to the end of the process, as the runtime's own would.
        static ovCGarbageCollector fallback;
        static const bool started = (fallback.Init(), true);
        (void)started;
        return &fallback;
    }
    return g_installed;
}

void ovCGarbageCollector::SetGarbageCollector(ovCGarbageCollector* collector)
{
    g_installed = collector;
}
