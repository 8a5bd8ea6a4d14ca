#include "nw/nwIQoSNetStack.h"

#include "cp/ovIQoSContext.h"

OVRESULT nwIQoSNetStack::GetReceiveRate(std::uint32_t* bytesPerSecond)
{
    return m_context ? m_context->GetReceiveRate(bytesPerSecond) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::GetSendRate(std::uint32_t* bytesPerSecond)
{
    return m_context ? m_context->GetSendRate(bytesPerSecond) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::Close()
{
    return m_context ? m_context->Close() : OVR_PLATFORM_OK;
}

OVRESULT nwIQoSNetStack::SetEventMask(std::uint32_t mask)
{
    return m_context ? m_context->SetEventMask(mask) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::AddEventMask(std::uint32_t bits)
{
    return m_context ? m_context->AddEventMask(bits) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::RemoveEventMask(std::uint32_t bits)
{
    return m_context ? m_context->RemoveEventMask(bits) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::Connect(const cpEndpoint& endpoint)
{
    return m_context ? m_context->Connect(endpoint) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::PassConnectedUp()
{
    return m_context ? m_context->ConnectedFromLayer(this) : OVR_PLATFORM_FAIL;
}

int nwIQoSNetStack::PassUp(const std::uint8_t* data, std::uint32_t length)
{
    return m_context ? m_context->ReceiveFromLayer(this, data, length) : 0;
}

OVRESULT nwIQoSNetStack::WriteDown(const nwBuffer& buffer)
{
    return m_context ? m_context->WriteFromLayer(this, buffer) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::FindLayer(std::uint32_t classId, ovIUnknown** out)
{
    return m_context ? m_context->FindLayer(classId, out) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::AddLayer(std::uint32_t classId, bool atBottom)
{
    return m_context ? m_context->AddLayer(classId, atBottom) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::GetRemoteEndpoint(cpEndpoint* endpoint)
{
    return m_context ? m_context->GetRemoteEndpoint(endpoint) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::SetRemoteEndpoint(const cpEndpoint& endpoint)
{
    return m_context ? m_context->SetRemoteEndpoint(endpoint) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::GetHostName(const char** name)
{
    return m_context ? m_context->GetHostName(name) : OVR_PLATFORM_FAIL;
}

OVRESULT nwIQoSNetStack::SetHostName(const char* name)
{
    return m_context ? m_context->SetHostName(name) : OVR_PLATFORM_FAIL;
}
