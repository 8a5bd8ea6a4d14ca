#pragma once
// Bandwidth actions: each connection context has one, chosen by kind, that
// decides how many bytes it may send and receive and moves them between the
// socket and the context's buffers.
//
//   kind 1  cpCQoSHighContextAction                  unlimited both ways
//   kind 2  cpCQoSLowServerContextAction             shared budget both ways
//   kind 3  cpCQoSLowServerReceiveOnlyContextAction  shared receive budget
//   kind 4  cpCQoSLowServerSendOnlyContextAction     shared send budget
//   kind 5  cpCQoSOwnContextAction                   own quota both ways
//   kind 6  cpCQoSOwnReceiveOnlyContextAction        own receive quota
//   kind 7  cpCQoSOwnSendOnlyContextAction           own send quota

#include <cstdint>
#include <memory>

#include "cp/cpQoSContextIo.h"

class cpCQoSContextAction {
public:
    explicit cpCQoSContextAction(cpQoSContextIo& io) : m_io(io) {}
    virtual ~cpCQoSContextAction() = default;
    cpCQoSContextAction(const cpCQoSContextAction&) = delete;
    cpCQoSContextAction& operator=(const cpCQoSContextAction&) = delete;

    virtual int GetKind() const = 0;
    // Reads from the socket into the receive buffer; answers the bytes read.
    virtual std::uint32_t Receive() = 0;
    // Sends from the current block; false on a socket error other than would-block.
    virtual bool Send(std::uint32_t* sent) = 0;
    // Whether sending (receiving) stopped for want of budget; clears the flag.
    virtual bool TakeSendBlocked() = 0;
    virtual bool TakeReceiveBlocked() = 0;
    // direction 0 = receive, 1 = send; bytes per second.
    virtual void SetQuota(int direction, std::uint32_t bytesPerSecond) = 0;
    // Adds this second's counted bytes to `stats` and starts a new second.
    virtual void Collect(cpQoSStats* stats) = 0;

    static constexpr std::uint32_t kSendChunk = 4096;
    static constexpr std::uint32_t kReceiveChunk = 1024;

protected:
    // Reads one chunk of at most `size` bytes into the receive buffer; 0 when
    // nothing was read (no data, an error, the buffer at its bound).
    std::uint32_t ReadChunk(std::uint32_t size);
    void RearmSocket();

    cpQoSContextIo& m_io;
};

class cpCQoSHighContextAction : public cpCQoSContextAction {
public:
    using cpCQoSContextAction::cpCQoSContextAction;

    int GetKind() const override { return 1; }
    // Stops early once more than kReadStop bytes are buffered, leaving the
    // rest to the next notification.
    std::uint32_t Receive() override;
    bool Send(std::uint32_t* sent) override;
    bool TakeSendBlocked() override { return false; }
    bool TakeReceiveBlocked() override { return false; }
    void SetQuota(int, std::uint32_t) override {}
    void Collect(cpQoSStats*) override {}

    static constexpr std::uint32_t kReadStop = 1048575;
};

// An action of the given kind on `io`, or null for an unknown kind.
std::unique_ptr<cpCQoSContextAction> cpCreateContextAction(int kind, cpQoSContextIo& io);
