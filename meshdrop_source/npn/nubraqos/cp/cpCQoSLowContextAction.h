#pragma once
// The budgeted actions (kinds 2 to 7): every chunk sent or read is first
// taken from a budget; when the budget grants nothing the direction is
// blocked until the bandwidth manager's next one-second tick re-arms it.

#include <cstdint>
#include <memory>

#include "cp/cpCQoSContextAction.h"
#include "cp/cpCQoSQuota.h"

class cpCQoSLowContextAction : public cpCQoSContextAction {
public:
    using cpCQoSContextAction::cpCQoSContextAction;

    std::uint32_t Receive() override;
    bool Send(std::uint32_t* sent) override;
    bool TakeSendBlocked() override;
    bool TakeReceiveBlocked() override;

    virtual std::uint32_t TakeReceiveBudget(std::uint32_t bytes) = 0;
    virtual std::uint32_t TakeSendBudget(std::uint32_t bytes) = 0;
    virtual void ReturnReceiveBudget(std::uint32_t bytes) = 0;
    virtual void ReturnSendBudget(std::uint32_t bytes) = 0;

    bool IsSendBlocked() const { return m_sendBlocked; }
    bool IsReceiveBlocked() const { return m_receiveBlocked; }

protected:
    bool m_sendBlocked = false;
    bool m_receiveBlocked = false;
};

// Kinds 2 to 4: the bandwidth manager's shared budgets.
class cpCQoSLowServerContextAction : public cpCQoSLowContextAction {
public:
    using cpCQoSLowContextAction::cpCQoSLowContextAction;

    int GetKind() const override { return 2; }
    void SetQuota(int, std::uint32_t) override {}
    void Collect(cpQoSStats*) override {}
    std::uint32_t TakeReceiveBudget(std::uint32_t bytes) override;
    std::uint32_t TakeSendBudget(std::uint32_t bytes) override;
    void ReturnReceiveBudget(std::uint32_t bytes) override;
    void ReturnSendBudget(std::uint32_t bytes) override;
};

class cpCQoSLowServerReceiveOnlyContextAction : public cpCQoSLowServerContextAction {
public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;

    int GetKind() const override { return 3; }
    std::uint32_t TakeSendBudget(std::uint32_t bytes) override { return bytes; }
    void ReturnSendBudget(std::uint32_t) override {}
};

class cpCQoSLowServerSendOnlyContextAction : public cpCQoSLowServerContextAction {
public:
    using cpCQoSLowServerContextAction::cpCQoSLowServerContextAction;

    int GetKind() const override { return 4; }
    std::uint32_t TakeReceiveBudget(std::uint32_t bytes) override { return bytes; }
    void ReturnReceiveBudget(std::uint32_t) override {}
};

// Kinds 5 to 7: a quota per second of the connection's own, or one it
// shares with other connections (see cpCQoSQuota for how the budget of each
// second is made).
class cpCQoSOwnContextAction : public cpCQoSLowContextAction {
public:
    using cpCQoSLowContextAction::cpCQoSLowContextAction;

    int GetKind() const override { return 5; }
    void SetQuota(int direction, std::uint32_t bytesPerSecond) override;
    bool ShareQuota(int direction, std::shared_ptr<cpCQoSQuota> quota) override;
    bool MsUntilBudget(std::uint32_t* ms) const override;
    void Collect(cpQoSStats* stats) override;
    std::uint32_t TakeReceiveBudget(std::uint32_t bytes) override { return m_receive->Take(bytes); }
    std::uint32_t TakeSendBudget(std::uint32_t bytes) override { return m_send->Take(bytes); }
    void ReturnReceiveBudget(std::uint32_t bytes) override { m_receive->Return(bytes); }
    void ReturnSendBudget(std::uint32_t bytes) override { m_send->Return(bytes); }

protected:
    std::shared_ptr<cpCQoSQuota> m_receive = std::make_shared<cpCQoSQuota>();
    std::shared_ptr<cpCQoSQuota> m_send = std::make_shared<cpCQoSQuota>();
};

class cpCQoSOwnReceiveOnlyContextAction : public cpCQoSOwnContextAction {
public:
    using cpCQoSOwnContextAction::cpCQoSOwnContextAction;

    int GetKind() const override { return 6; }
    std::uint32_t TakeSendBudget(std::uint32_t bytes) override { return bytes; }
    void ReturnSendBudget(std::uint32_t) override {}
};

class cpCQoSOwnSendOnlyContextAction : public cpCQoSOwnContextAction {
public:
    using cpCQoSOwnContextAction::cpCQoSOwnContextAction;

    int GetKind() const override { return 7; }
    std::uint32_t TakeReceiveBudget(std::uint32_t bytes) override { return bytes; }
    void ReturnReceiveBudget(std::uint32_t) override {}
};
