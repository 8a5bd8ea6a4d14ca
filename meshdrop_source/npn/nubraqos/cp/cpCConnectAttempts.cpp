#include "cp/cpCConnectAttempts.h"

#include <algorithm>

#include "cp/cpCMutex.h"
#include "cp/cpCQoS.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

void cpCConnectAttempts::Begin(cpSocketRecord* record, std::vector<cpEndpoint> endpoints)
{
    Cancel(nullptr);
    m_record = record;
    m_endpoints = std::move(endpoints);
    m_next = 0;
    m_recordUsed = false;
    m_lastFailure = FAILED_AT_ONCE;
    StartNext();
}

bool cpCConnectAttempts::IsPending(SOCKET socket) const
{
    return std::any_of(m_pending.begin(), m_pending.end(), [&](const Attempt& a) { return a.socket == socket; });
}

void cpCConnectAttempts::StartNext()
{
    while (m_next < m_endpoints.size()) {
        const cpEndpoint endpoint = m_endpoints[m_next++];
        if (Start(endpoint)) {
            return;
        }
        m_lastFailure = FAILED_AT_ONCE;
        m_listener->OnAttemptFailed(endpoint);
    }
    if (m_pending.empty()) {
        StopHeadStart();
        m_listener->OnAttemptsExhausted(m_lastFailure);
    }
}

bool cpCConnectAttempts::Start(const cpEndpoint& endpoint)
{
    if (!m_record) {
        return false;
    }
    Attempt attempt;
    attempt.endpoint = endpoint;
    if (!m_recordUsed && m_record->HasSocket() && m_record->family == endpoint.address.Family()) {
        m_recordUsed = true;
        attempt.socket = m_record->socket;
    } else {
        attempt.socket = cpSocketCreateStream(endpoint.address.Family());
        attempt.ownSocket = true;
        if (attempt.socket == INVALID_SOCKET) {
            return false;
        }
        if (OV_FAILED(cpSocketWatchAttempt(m_record, attempt.socket))) {
            Close(attempt);
            return false;
        }
    }
    sockaddr_storage address{};
    const int length = endpoint.address.ToSockaddr(endpoint.port, &address);
    if (connect(attempt.socket, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        // Connected at once: this attempt wins before any other is pending.
        Cancel(nullptr);
        m_listener->OnAttemptConnected(attempt.socket, endpoint);
        return true;
    }
    if (!OV_IS_WOULDBLOCK(cpLastSocketError())) {
        Close(attempt);
        return false;
    }
    m_pending.push_back(attempt);
    if (m_next < m_endpoints.size()) {
        StartHeadStart();
    }
    return true;
}

void cpCConnectAttempts::OnSocketEvent(SOCKET socket, int kind)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Attempt& a) { return a.socket == socket; });
    if (it == m_pending.end()) {
        return;
    }
    const Attempt attempt = *it;
    m_pending.erase(it);
    if (kind == CP_SOCKET_EVENT_CONNECTED) {
        // The winner leaves the list before the others are closed.
        Cancel(nullptr);
        m_listener->OnAttemptConnected(attempt.socket, attempt.endpoint);
        return;
    }
    Close(attempt);
    m_lastFailure = kind == CP_SOCKET_EVENT_UNREACHABLE ? UNREACHABLE : REFUSED;
    m_listener->OnAttemptFailed(attempt.endpoint);
    // A failed address hands on to the next one at once.
    StopHeadStart();
    StartNext();
}

void cpCConnectAttempts::Cancel(std::vector<cpEndpoint>* abandoned)
{
    StopHeadStart();
    for (const Attempt& attempt : m_pending) {
        if (abandoned) {
            abandoned->push_back(attempt.endpoint);
        }
        Close(attempt);
    }
    m_pending.clear();
    m_next = m_endpoints.size();
    m_record = nullptr;
}

void cpCConnectAttempts::Close(const Attempt& attempt)
{
    // The record's own socket stays with the record, which closes it.
    if (attempt.ownSocket) {
        cpSocketForgetAttempt(m_record, attempt.socket);
    }
}

void cpCConnectAttempts::StartHeadStart()
{
    StopHeadStart();
    if (!m_headStart.CreateInstance(OVCLS_TIMER)) {
        return;
    }
    cpCQoS* qos = cpCQoS::GetInstance();
    m_headStart.Get<cpCTimer>()->Start(kHeadStartMs, &cpCConnectAttempts::OnHeadStart, this, CP_TIMER_TAG_HEAD_START,
                                       qos ? qos->GetLock() : nullptr);
}

void cpCConnectAttempts::StopHeadStart()
{
    if (m_headStart) {
        m_headStart.Get<cpCTimer>()->Stop();
        m_headStart.Reset();
    }
}

void cpCConnectAttempts::OnHeadStart(void* self)
{
    auto* attempts = static_cast<cpCConnectAttempts*>(self);
    attempts->StopHeadStart();
    attempts->StartNext();
}
