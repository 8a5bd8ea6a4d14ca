#include "cp/cpCQoSLowContextAction.h"

#include <algorithm>
#include <utility>

#include "cp/cpCQoS.h"

std::uint32_t cpCQoSLowContextAction::Receive()
{
    std::uint32_t total = 0;
    for (;;) {
        const std::uint32_t grant = TakeReceiveBudget(kReceiveChunk);
        if (grant == 0) {
            m_receiveBlocked = true;
            break;
        }
        const std::uint32_t got = ReadChunk(grant);
        if (got < grant) {
            ReturnReceiveBudget(grant - got);
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

bool cpCQoSLowContextAction::Send(std::uint32_t* sent)
{
    std::uint32_t total = 0;
    if (sent) {
        *sent = 0;
    }
    if (m_sendBlocked) {
        return true;
    }
    bool ok = true;
    while (cpSendBlock* block = m_io.current) {
        const std::uint32_t grant = TakeSendBudget(std::min(block->Remaining(), kSendChunk));
        if (grant == 0) {
            // Out of budget: the next tick re-arms the socket.
            m_sendBlocked = true;
            if (sent) {
                *sent = total;
            }
            return true;
        }
        std::uint32_t n = 0;
        const OVRESULT result = cpSocketSend(m_io.record, block->data.get() + block->sent, grant, &n);
        if (OV_FAILED(result)) {
            n = 0;
        }
        // What did not leave goes back to the budget.
        if (n < grant) {
            ReturnSendBudget(grant - n);
        }
        if (OV_FAILED(result)) {
            ok = OV_IS_WOULDBLOCK(result);
            break;
        }
        total += n;
        block->sent += n;
        if (block->IsComplete()) {
            break;
        }
    }
    if (sent) {
        *sent = total;
    }
    if (ok) {
        RearmSocket();
    }
    return ok;
}

bool cpCQoSLowContextAction::TakeSendBlocked()
{
    return std::exchange(m_sendBlocked, false);
}

bool cpCQoSLowContextAction::TakeReceiveBlocked()
{
    return std::exchange(m_receiveBlocked, false);
}

std::uint32_t cpCQoSLowServerContextAction::TakeReceiveBudget(std::uint32_t bytes)
{
    cpCQoS* qos = cpCQoS::GetInstance();
    return qos ? qos->TakeReceiveBudget(bytes) : 0;
}

std::uint32_t cpCQoSLowServerContextAction::TakeSendBudget(std::uint32_t bytes)
{
    cpCQoS* qos = cpCQoS::GetInstance();
    return qos ? qos->TakeSendBudget(bytes) : 0;
}

void cpCQoSLowServerContextAction::ReturnReceiveBudget(std::uint32_t bytes)
{
    if (cpCQoS* qos = cpCQoS::GetInstance()) {
        qos->ReturnReceiveBudget(bytes);
    }
}

void cpCQoSLowServerContextAction::ReturnSendBudget(std::uint32_t bytes)
{
    if (cpCQoS* qos = cpCQoS::GetInstance()) {
        qos->ReturnSendBudget(bytes);
    }
}

std::uint32_t cpCQoSOwnContextAction::Quota::Take(std::uint32_t bytes)
{
    const std::uint32_t grant = std::min(bytes, left);
    left -= grant;
    used += grant;
    return grant;
}

void cpCQoSOwnContextAction::Quota::Return(std::uint32_t bytes)
{
    const std::uint32_t back = std::min(bytes, used);
    used -= back;
    left += back;
}

void cpCQoSOwnContextAction::SetQuota(int direction, std::uint32_t bytesPerSecond)
{
    (direction == 0 ? m_receive : m_send).perSecond = bytesPerSecond;
}

void cpCQoSOwnContextAction::Collect(cpQoSStats* stats)
{
    if (stats) {
        stats->received += m_receive.used;
        stats->sent += m_send.used;
    }
    for (Quota* quota : {&m_receive, &m_send}) {
        quota->used = 0;
        quota->left = quota->perSecond;
    }
}
