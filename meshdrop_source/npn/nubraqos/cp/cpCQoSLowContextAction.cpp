#include "cp/cpCQoSLowContextAction.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "cp/cpCQoS.h"

std::uint32_t cpCQoSLowContextAction::Receive()
{
    std::uint32_t total = 0;
    // What a layer leaves unconsumed still grows the buffer notification
    // after notification up to its bound.
    while (total < kReadPiece) {
        const std::uint32_t grant = TakeReceiveBudget(kReceiveSize);
        if (grant == 0) {
            m_receiveBlocked = true;
            break;
        }
        const std::uint32_t got = ReadInto(grant);
        total += got;
        // A short read emptied the socket (or found it closed).
        if (got < grant) {
            ReturnReceiveBudget(grant - got);
            break;
        }
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

void cpCQoSOwnContextAction::SetQuota(int direction, std::uint32_t bytesPerSecond)
{
    (direction == 0 ? m_receive : m_send)->SetPerSecond(bytesPerSecond);
}

bool cpCQoSOwnContextAction::ShareQuota(int direction, std::shared_ptr<cpCQoSQuota> quota)
{
    if (!quota) {
        return false;
    }
    (direction == 0 ? m_receive : m_send) = std::move(quota);
    return true;
}

bool cpCQoSOwnContextAction::MsUntilBudget(std::uint32_t* ms) const
{
    if (!m_receiveBlocked && !m_sendBlocked) {
        return false;
    }
    const cpTime now = cpNow();
    std::uint32_t wait = UINT32_MAX;
    if (m_receiveBlocked) {
        wait = std::min(wait, m_receive->MsUntilBudget(now));
    }
    if (m_sendBlocked) {
        wait = std::min(wait, m_send->MsUntilBudget(now));
    }
    if (ms) {
        *ms = wait;
    }
    return true;
}

void cpCQoSOwnContextAction::Collect(cpQoSStats* stats)
{
    const std::uint64_t received = m_receive->TakeCounted();
    const std::uint64_t sent = m_send->TakeCounted();
    if (stats) {
        stats->received += received;
        stats->sent += sent;
    }
}
