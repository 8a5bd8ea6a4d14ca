#include "cp/cpCMutex.h"

cpCMutex::cpCMutex()
{
    InitializeCriticalSection(&m_section);
}

cpCMutex::~cpCMutex()
{
    DeleteCriticalSection(&m_section);
}

OVRESULT cpCMutex::SetTag(std::uint32_t value)
{
    m_tag = value;
    return OVR_PLATFORM_OK;
}

OVRESULT cpCMutex::Lock()
{
    EnterCriticalSection(&m_section);
    if (m_depth++ == 0)
        m_owner.store(GetCurrentThreadId(), std::memory_order_relaxed);
    return OVR_PLATFORM_OK;
}

OVRESULT cpCMutex::Unlock()
{
    if (--m_depth == 0)
        m_owner.store(0, std::memory_order_relaxed);
    LeaveCriticalSection(&m_section);
    return OVR_PLATFORM_OK;
}
