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
    return OVR_PLATFORM_OK;
}

OVRESULT cpCMutex::Unlock()
{
    LeaveCriticalSection(&m_section);
    return OVR_PLATFORM_OK;
}
