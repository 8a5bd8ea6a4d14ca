#include "cp/cpCSocket.h"

cpCSocket::~cpCSocket()
{
    Close();
}

OVRESULT cpCSocket::Create(int kind)
{
    return cpSocketCreate(&m_record, kind);
}

OVRESULT cpCSocket::Connect(const cpEndpoint& endpoint)
{
    return cpSocketConnect(m_record, endpoint);
}

OVRESULT cpCSocket::Close()
{
    if (!m_record) {
        return OVR_BAD_SOCKET;
    }
    return cpSocketClose(&m_record);
}

OVRESULT cpCSocket::Send(const void* bytes, std::uint32_t length, std::uint32_t* sent)
{
    return cpSocketSend(m_record, bytes, length, sent);
}

OVRESULT cpCSocket::Receive(void* buffer, std::uint32_t size, std::uint32_t* received)
{
    return cpSocketReceive(m_record, buffer, size, received);
}

OVRESULT cpCSocket::Flush()
{
    return OVR_PLATFORM_OK;
}

OVRESULT cpCSocket::Bind(const cpEndpoint& endpoint)
{
    return cpSocketBind(m_record, endpoint);
}

OVRESULT cpCSocket::Listen()
{
    return cpSocketListen(m_record);
}

OVRESULT cpCSocket::Accept(cpSocketRecord** accepted, cpEndpoint* peer)
{
    return cpSocketAccept(m_record, accepted, peer);
}

OVRESULT cpCSocket::SendTo(const void* bytes, std::uint32_t length, const cpEndpoint& endpoint, std::uint32_t* sent)
{
    return cpSocketSendTo(m_record, bytes, length, endpoint, sent);
}

OVRESULT cpCSocket::SetOption(int option)
{
    return cpSocketSetOption(m_record, option);
}

OVRESULT cpCSocket::ReceiveFrom(void* buffer, std::uint32_t size, cpEndpoint* from, std::uint32_t* received)
{
    return cpSocketReceiveFrom(m_record, buffer, size, from, received);
}
