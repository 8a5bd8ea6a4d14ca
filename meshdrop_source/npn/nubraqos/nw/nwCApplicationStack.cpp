#include "nw/nwCApplicationStack.h"

OVRESULT nwCApplicationStack::OnSend(const nwBuffer& buffer)
{
    (void)buffer;
    return OVR_NET_OK;
}

bool nwCApplicationStack::OnEvent(std::uint32_t event, std::uint32_t value)
{
    (void)value;
    switch (event) {
    case QOS_CONNECT_FAILED:
        return OnConnectFailed();
    case QOS_SEND_QUEUE_EMPTY:
        return OnSendQueueEmpty();
    case QOS_IDLE_TIMEOUT:
        return OnIdleTimeout();
    case QOS_TIMER:
        return OnTimer();
    default:
        return true;
    }
}

int nwCApplicationStack::OnReceive(const std::uint8_t* data, std::uint32_t length)
{
    int consumed = 0;
    m_dispatcher.Dispatch(data, length, &consumed);
    return consumed;
}

void nwCApplicationStack::OnClosed()
{
    m_dispatcher.Stop();
    OnClose();
}

std::uint8_t* nwCApplicationStack::AllocMessage(std::uint32_t length)
{
    return nwAllocFrameMessage(length);
}

OVRESULT nwCApplicationStack::SendFramed(std::uint16_t messageType, std::uint8_t* payload, std::uint32_t length,
                                         std::uint16_t messageClass)
{
    if (!payload) {
        return OVR_NET_FAIL;
    }
    std::uint8_t* message = nwWriteFrameHeader(payload, length, messageClass, messageType);
    WriteDown({message, nwFrameTotalSize(length)});
    FreeMessage(payload);
    return OVR_NET_OK;
}

void nwCApplicationStack::FreeMessage(std::uint8_t* payload)
{
    nwFreeFrameMessage(payload);
}

OVRESULT nwCApplicationStack::AddFramedHandler(std::uint16_t messageClass, std::uint32_t messageType,
                                               nwFramedHandler handler, void* user)
{
    return m_dispatcher.AddFramedHandler(messageClass, messageType, handler, user);
}

void nwCApplicationStack::AddRawHandler(nwRawHandler handler, void* user)
{
    m_dispatcher.AddRawHandler(handler, user);
}
