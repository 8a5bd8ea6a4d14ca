#include "nw/nwCAgentLayer.h"

#include <cstring>

#include "nw/nwFrame.h"

OVRESULT nwCAgentLayer::SetListener(nwIAgentListener* listener, std::uint32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return OVR_NET_OK;
}

OVRESULT nwCAgentLayer::SendReport(const nwAgentReportBatch* batch)
{
    if (!batch || (batch->count > 0 && !batch->records) || nwAgentReportLength(batch->count) > kMaxFramePayload) {
        return OVR_NET_FAIL;
    }
    const auto length = static_cast<std::uint32_t>(nwAgentReportLength(batch->count));
    std::uint8_t* payload = AllocMessage(length);
    if (!payload) {
        return OVR_NET_FAIL;
    }
    std::memcpy(payload, &batch->count, sizeof batch->count);
    if (batch->count > 0) {
        std::memcpy(payload + sizeof batch->count, batch->records, std::size_t{batch->count} * AGENT_RECORD_SIZE);
    }
    return SendFramed(AGENT_MSG_REPORT, payload, length, AGENT_CLASS);
}

void nwCAgentLayer::Notify(void (nwIAgentListener::*notification)(std::uint32_t))
{
    if (m_listener) {
        (m_listener->*notification)(m_cookie);
    }
}

bool nwCAgentLayer::OnConnected()
{
    Notify(&nwIAgentListener::OnAgentConnected);
    return true;
}

int nwCAgentLayer::OnReceive(const std::uint8_t* data, std::uint32_t length)
{
    const int consumed = nwCApplicationStack::OnReceive(data, length);
    return m_rejected ? -1 : consumed;
}

void nwCAgentLayer::OnClose()
{
    Notify(&nwIAgentListener::OnAgentClosed);
    m_listener = nullptr;
}

bool nwCAgentLayer::OnConnectFailed()
{
    Notify(&nwIAgentListener::OnAgentConnectFailed);
    return true;
}

bool nwCAgentLayer::OnIdleTimeout()
{
    Notify(&nwIAgentListener::OnAgentIdleTimeout);
    return true;
}

void nwCAgentLayer::RegisterHandlers()
{
    AddFramedHandler(AGENT_CLASS, AGENT_MSG_ANSWER, &nwCAgentLayer::OnAnswerFrame, this);
}

void nwCAgentLayer::OnAnswerFrame(const std::uint8_t* payload, std::uint32_t length, void* user)
{
    auto* self = static_cast<nwCAgentLayer*>(user);
    if (length == 0) {
        // No answer byte to read: the stream is broken.
        self->m_rejected = true;
        self->GetDispatcher().Stop();
        return;
    }
    if (self->m_listener) {
        self->m_listener->OnAgentReply(self->m_cookie, payload[0]);
    }
}
