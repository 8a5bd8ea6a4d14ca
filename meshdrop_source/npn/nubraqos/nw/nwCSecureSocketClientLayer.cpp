#include "nw/nwCSecureSocketClientLayer.h"

#include <algorithm>

#include "nw/ovIHttpProxyTunnelLayer.h"

nwCSecureSocketClientLayer::~nwCSecureSocketClientLayer()
{
    m_ssl.reset();
    while (TakePending()) {}
}

void nwCSecureSocketClientLayer::RegisterHandlers()
{
    AddRawHandler(&nwCSecureSocketClientLayer::OnRawData, this);
}

void nwCSecureSocketClientLayer::Hold(const std::uint8_t* data, std::uint32_t length)
{
    auto buffer = std::make_unique<PendingBuffer>();
    buffer->bytes.assign(data, data + length);
    if (m_pending.Add(buffer.get())) {
        buffer.release();
    }
}

std::unique_ptr<nwCSecureSocketClientLayer::PendingBuffer> nwCSecureSocketClientLayer::TakePending()
{
    return std::unique_ptr<PendingBuffer>(static_cast<PendingBuffer*>(m_pending.RemoveAt(0)));
}

OVRESULT nwCSecureSocketClientLayer::OnSend(const nwBuffer& buffer)
{
    if (!buffer.data || buffer.length == 0) {
        return OVR_NET_OK;
    }
    if (m_closed) {
        return OVR_NET_FAIL;
    }
    if (!m_handshakeComplete || m_inOpenSSL) {
        Hold(buffer.data, buffer.length);
        return OVR_NET_OK;
    }
    if (!m_ssl) {
        return OVR_NET_FAIL;
    }
    EnterOpenSSL();
    const bool sent = Encrypt(buffer.data, buffer.length);
    LeaveOpenSSL();
    if (!sent) {
        Fail();
        return OVR_NET_FAIL;
    }
    return OVR_NET_OK;
}

bool nwCSecureSocketClientLayer::OnConnected()
{
    if (m_closed) {
        return false;
    }
    cpEndpoint remote;
    GetRemoteEndpoint(&remote);
    // Through a proxy the connection's host is the proxy: the certificate
    // must name the origin at the far end of the tunnel.
    const char* hostName = nullptr;
    ovIUnknown* tunnel = nullptr;
    if (OV_SUCCEEDED(FindLayer(OVCLS_HTTP_PROXY_TUNNEL_LAYER, &tunnel)) && tunnel) {
        hostName = static_cast<ovIHttpProxyTunnelLayer*>(tunnel)->GetTargetHost();
    } else {
        GetHostName(&hostName);
    }
    const COpenSSL::Callbacks callbacks{&nwCSecureSocketClientLayer::OnHandshakeDone,
                                        &nwCSecureSocketClientLayer::OnPlaintext,
                                        &nwCSecureSocketClientLayer::OnCiphertext, this};
    std::string why;
    m_ssl = COpenSSL::Create(callbacks, remote, hostName, &why);
    if (!m_ssl) {
        NoteFailure(why);
        Fail();
        return false;
    }
    // The ClientHello leaves through the BIO; the layers above hear of the
    // connection at once and may queue their request meanwhile.
    EnterOpenSSL();
    const COpenSSL::Result result = m_ssl->Connect();
    if (result == COpenSSL::RESULT_FAILED) {
        NoteFailure(m_ssl->DescribeFailure());
    }
    LeaveOpenSSL();
    if (result == COpenSSL::RESULT_FAILED) {
        Fail();
        return false;
    }
    return true;
}

void nwCSecureSocketClientLayer::OnClose()
{
    m_closed = true;
    if (m_inOpenSSL) {
        m_closeRequested = true;
    } else {
        FreeWrapper();
    }
}

bool nwCSecureSocketClientLayer::OnSendQueueEmpty()
{
    if (m_pending.GetCount() == 0) {
        return true;
    }
    // Held plaintext goes first; the layer above hears of an empty queue once
    // it has left.
    if (m_handshakeComplete && m_ssl && !m_inOpenSSL && !m_closed) {
        EnterOpenSSL();
        const bool sent = SendPending(true);
        LeaveOpenSSL();
        if (!sent) {
            Fail();
        }
    }
    return false;
}

int nwCSecureSocketClientLayer::OnRawData(const std::uint8_t* data, std::uint32_t length, void* user)
{
    return static_cast<nwCSecureSocketClientLayer*>(user)->Receive(data, length);
}

int nwCSecureSocketClientLayer::Receive(const std::uint8_t* data, std::uint32_t length)
{
    if (!m_ssl) {
        return -1;
    }
    m_ssl->SetInput(data, length);
    EnterOpenSSL();
    const COpenSSL::Result result = m_handshakeComplete ? m_ssl->Read() : m_ssl->Connect();
    // A partial record stays inside OpenSSL: what it read counts as consumed.
    const std::uint32_t consumed = m_ssl->GetInputRead();
    if (result == COpenSSL::RESULT_FAILED) {
        NoteFailure(m_ssl->DescribeFailure());
    }
    m_ssl->SetInput(nullptr, 0);
    LeaveOpenSSL();
    if (result == COpenSSL::RESULT_FAILED) {
        Fail();
        return 0;
    }
    return static_cast<int>(consumed);
}

void nwCSecureSocketClientLayer::OnHandshakeDone(void* user)
{
    auto* self = static_cast<nwCSecureSocketClientLayer*>(user);
    self->m_handshakeComplete = true;
    if (!self->SendPending(false)) {
        self->Fail();
    }
}

void nwCSecureSocketClientLayer::OnPlaintext(const std::uint8_t* data, std::uint32_t length, void* user)
{
    static_cast<nwCSecureSocketClientLayer*>(user)->DeliverPlaintext(data, length);
}

void nwCSecureSocketClientLayer::OnCiphertext(const std::uint8_t* data, std::uint32_t length, void* user)
{
    static_cast<nwCSecureSocketClientLayer*>(user)->WriteDown({data, length});
}

void nwCSecureSocketClientLayer::DeliverPlaintext(const std::uint8_t* data, std::uint32_t length)
{
    if (m_closed) {
        return;
    }
    const std::uint8_t* offer = data;
    std::uint32_t size = length;
    if (!m_leftover.empty()) {
        m_leftover.insert(m_leftover.end(), data, data + length);
        offer = m_leftover.data();
        size = static_cast<std::uint32_t>(m_leftover.size());
    }
    const int taken = PassUp(offer, size);
    if (taken < 0) {
        NoteFailure("the layer above rejected the data");
        Fail();
        return;
    }
    const std::uint32_t used = std::min(static_cast<std::uint32_t>(taken), size);
    if (m_leftover.empty()) {
        m_leftover.assign(offer + used, offer + size);
    } else {
        m_leftover.erase(m_leftover.begin(), m_leftover.begin() + used);
    }
    if (m_leftover.size() > kMaxLeftover) {
        NoteFailure("the layer above takes no more data");
        Fail();
    }
}

bool nwCSecureSocketClientLayer::Encrypt(const std::uint8_t* data, std::uint32_t length)
{
    if (!m_ssl) {
        return false;
    }
    if (m_ssl->Write(data, length)) {
        return true;
    }
    NoteFailure(m_ssl->DescribeFailure());
    return false;
}

bool nwCSecureSocketClientLayer::SendPending(bool onlyFirst)
{
    while (m_pending.GetCount() > 0 && !m_closeRequested && !m_closed) {
        const std::unique_ptr<PendingBuffer> buffer = TakePending();
        if (!Encrypt(buffer->bytes.data(), static_cast<std::uint32_t>(buffer->bytes.size()))) {
            return false;
        }
        if (onlyFirst) {
            break;
        }
    }
    return true;
}

void nwCSecureSocketClientLayer::LeaveOpenSSL()
{
    // Plaintext written from above during the call is sent now, still
    // inside the flag: OpenSSL is no longer on the stack.
    bool sent = true;
    if (m_handshakeComplete && m_ssl && m_pending.GetCount() > 0) {
        sent = SendPending(false);
    }
    m_inOpenSSL = false;
    if (m_closeRequested) {
        FreeWrapper();
    }
    if (!sent) {
        Fail();
    }
}

void nwCSecureSocketClientLayer::NoteFailure(const std::string& why)
{
    if (m_failure.empty()) {
        m_failure = why.empty() ? "TLS failure" : why;
    }
}

void nwCSecureSocketClientLayer::Fail()
{
    if (!m_closed) {
        Close();
    }
}

void nwCSecureSocketClientLayer::FreeWrapper()
{
    m_ssl.reset();
    m_closeRequested = false;
}
