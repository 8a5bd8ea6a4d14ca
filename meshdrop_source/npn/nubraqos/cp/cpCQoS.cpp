#include "cp/cpCQoS.h"

#include <algorithm>
#include <atomic>

#include "cp/cpCMutex.h"
#include "cp/cpCQoSContext.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

namespace {

std::atomic<cpCQoS*> g_instance{nullptr};

} // namespace

cpCQoS::~cpCQoS()
{
    Stop();
}

cpCQoS* cpCQoS::GetInstance()
{
    return g_instance;
}

OVRESULT cpCQoS::Start(cpCMutex* lock)
{
    if (m_started) {
        return OVR_PLATFORM_OK;
    }
    m_lock = lock;
    if (!m_window.Create(this, lock)) {
        m_lock.Reset();
        return OVR_PLATFORM_FAIL;
    }
    if (!m_timer.CreateInstance(OVCLS_TIMER) ||
        OV_FAILED(m_timer.Get<cpCTimer>()->Start(1000, &cpCQoS::OnTimer, this, CP_TIMER_TAG_QOS_TICK, lock))) {
        m_timer.Reset();
        m_window.Destroy();
        m_lock.Reset();
        return OVR_PLATFORM_FAIL;
    }
    m_started = true;
    g_instance = this;
    return OVR_PLATFORM_OK;
}

void cpCQoS::Stop()
{
    if (!m_started) {
        return;
    }
    cpCMutexLock lock(GetLock());
    if (m_timer) {
        m_timer.Get<cpCTimer>()->Stop();
        m_timer.Reset();
    }
    // Connections still open end now: their layers see OnClosed, and the
    // table's references go.
    for (int slot = 0; slot < CP_SOCKET_SLOTS; ++slot) {
        if (cpCQoSContext* context = m_table[static_cast<std::size_t>(slot)]) {
            ovSmartPtr hold(context);
            context->Close();
        }
    }
    m_window.Destroy();
    m_started = false;
    cpCQoS* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
    ovSmartPtr lockRef = std::move(m_lock);
}

OVRESULT cpCQoS::Lock()
{
    cpCMutex* lock = GetLock();
    return lock ? lock->Lock() : OVR_PLATFORM_FAIL;
}

OVRESULT cpCQoS::Unlock()
{
    cpCMutex* lock = GetLock();
    return lock ? lock->Unlock() : OVR_PLATFORM_FAIL;
}

int cpCQoS::FindFreeSlot() const
{
    if (!m_table[static_cast<std::size_t>(m_nextFree)]) {
        return m_nextFree;
    }
    for (int slot = m_nextFree + 1; slot < CP_SOCKET_SLOTS; ++slot) {
        if (!m_table[static_cast<std::size_t>(slot)]) {
            return slot;
        }
    }
    for (int slot = 0; slot < m_nextFree; ++slot) {
        if (!m_table[static_cast<std::size_t>(slot)]) {
            return slot;
        }
    }
    return -1;
}

OVRESULT cpCQoS::Register(cpCQoSContext* context, cpSocketRecord** record)
{
    if (!context || !record || !m_started) {
        return OVR_PLATFORM_FAIL;
    }
    const bool made = *record == nullptr;
    if (made) {
        const OVRESULT created = cpSocketCreate(record, CP_SOCKET_TCP);
        if (OV_FAILED(created)) {
            *record = nullptr;
            return created;
        }
        cpSocketSetNonBlocking(*record, 0);
    }
    cpCMutexLock lock(GetLock());
    const int slot = FindFreeSlot();
    OVRESULT result = slot < 0 ? OVR_PLATFORM_FAIL : cpSocketRegister(*record, &m_window.Holder(), slot);
    if (OV_FAILED(result)) {
        if (made) {
            cpSocketClose(record);
        } else {
            (*record)->slot = -1;
        }
        return slot < 0 ? OVR_PLATFORM_FAIL : result;
    }
    m_table[static_cast<std::size_t>(slot)] = context;
    context->AddRef();
    m_nextFree = (slot + 1) % CP_SOCKET_SLOTS;
    return OVR_PLATFORM_OK;
}

void cpCQoS::Unregister(cpCQoSContext* context, cpSocketRecord** record)
{
    if (!record || !*record) {
        return;
    }
    {
        cpCMutexLock lock(GetLock());
        int slot = -1;
        cpSocketUnregister(*record, &slot);
        if (slot >= 0 && slot < CP_SOCKET_SLOTS && m_table[static_cast<std::size_t>(slot)] == context && context) {
            m_table[static_cast<std::size_t>(slot)] = nullptr;
            // The caller holds its own reference while it closes.
            context->Release();
        }
    }
    cpSocketClose(record);
}

bool cpCQoS::SlotUsesSocket(int slot, SOCKET socket) const
{
    cpCQoSContext* context = GetContextAt(slot);
    return context && context->UsesSocket(socket);
}

cpCQoSContext* cpCQoS::GetContextAt(int slot) const
{
    if (slot < 0 || slot >= CP_SOCKET_SLOTS) {
        return nullptr;
    }
    return m_table[static_cast<std::size_t>(slot)];
}

int cpCQoS::GetLiveContextCount() const
{
    return static_cast<int>(std::count_if(m_table.begin(), m_table.end(), [](auto* c) { return c != nullptr; }));
}

void cpCQoS::OnSocketEvent(int slot, SOCKET socket, int kind, int error)
{
    (void)error;
    cpCMutexLock lock(GetLock());
    cpCQoSContext* context = GetContextAt(slot);
    if (!context) {
        return;
    }
    ovSmartPtr hold(context);
    if (context->IsAttemptSocket(socket)) {
        context->OnAttemptEvent(socket, kind);
    } else if (context->GetRecord() && context->GetRecord()->socket == socket) {
        context->OnSocketEvent(kind);
    }
}

void cpCQoS::OnContextEvent(int slot, std::uint64_t generation)
{
    cpCMutexLock lock(GetLock());
    cpCQoSContext* context = GetContextAt(slot);
    if (!context || context->GetGeneration() != generation) {
        return;
    }
    ovSmartPtr hold(context);
    context->OnContextEvent();
}

void cpCQoS::OnBudgetWake(int slot)
{
    cpCMutexLock lock(GetLock());
    if (cpCQoSContext* context = GetContextAt(slot)) {
        ovSmartPtr hold(context);
        context->OnBudgetWake();
    }
}

std::uint32_t cpCQoS::Budget::Take(std::uint32_t bytes)
{
    const std::uint32_t grant = std::min(bytes, budget - std::min(taken, budget));
    taken += grant;
    return grant;
}

void cpCQoS::Budget::Return(std::uint32_t bytes)
{
    taken -= std::min(bytes, taken);
}

void cpCQoS::Budget::Refill(std::uint32_t rate)
{
    budget = rate;
    taken = 0;
}

std::uint32_t cpCQoS::TakeSendBudget(std::uint32_t bytes)
{
    return m_send.Take(bytes);
}

void cpCQoS::ReturnSendBudget(std::uint32_t bytes)
{
    m_send.Return(bytes);
}

std::uint32_t cpCQoS::TakeReceiveBudget(std::uint32_t bytes)
{
    return m_receive.Take(bytes);
}

void cpCQoS::ReturnReceiveBudget(std::uint32_t bytes)
{
    m_receive.Return(bytes);
}

void cpCQoS::OnTimer(void* context)
{
    static_cast<cpCQoS*>(context)->Tick();
}

void cpCQoS::Tick()
{
    m_send.Refill(m_sendRate);
    m_receive.Refill(m_receiveRate);
    {
        cpCMutexLock lock(GetLock());
        cpQoSStats stats;
        for (cpCQoSContext* context : m_table) {
            if (context) {
                ovSmartPtr hold(context);
                context->OnTick(&stats);
            }
        }
    }
    ++m_ticks;
}

cpCMutex* cpCQoS::GetLock() const
{
    return m_lock.Get<cpCMutex>();
}
