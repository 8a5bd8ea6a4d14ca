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

class cpCQoSQuota;

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
    // Puts the direction on a quota shared with other connections; false
    // for an action without own quotas.
    virtual bool ShareQuota(int /*direction*/, std::shared_ptr<cpCQoSQuota> /*quota*/) { return false; }
    // Whether a direction stopped for want of an own quota's budget, which
    // comes back in `ms` (rather than at the manager's next tick).
    virtual bool MsUntilBudget(std::uint32_t* /*ms*/) const { return false; }
    // Adds the bytes counted since the last call to `stats`.
    virtual void Collect(cpQoSStats* stats) = 0;

    static constexpr std::uint32_t kSendChunk = 4096;
    // One receive asks the socket for at most this many bytes (and takes as
    // much budget first). A receive costs the kernel a fixed amount on top
    // of the copy, so reads this large keep the processor time per byte
    // near a plain program's; the budgets stay exact to the byte, since
    // what a read leaves unused goes back.
    static constexpr std::uint32_t kReceiveSize = 64 * 1024;
    // Receive stops once it has read a piece of this many bytes: the context
    // hands each piece to the layers while it is still in the processor's
    // cache (they copy it on, to a file or a parser), then reads the next.
    static constexpr std::uint32_t kReadPiece = 128 * 1024;
    // A notification reads pieces until more than this many bytes came in
    // (or, unlimited, are buffered), leaving the rest to the next one: the
    // buffer stays small and the library lock is not held for the whole of
    // a full socket buffer.
    static constexpr std::uint32_t kReadStop = 1048575;

protected:
    // Reads up to `size` bytes (kReceiveSize at most) into the receive
    // buffer with one receive; 0 when nothing was read (no data, an error,
    // the buffer at its bound).
    std::uint32_t ReadInto(std::uint32_t size);
    void RearmSocket();

    cpQoSContextIo& m_io;
};

class cpCQoSHighContextAction : public cpCQoSContextAction {
public:
    using cpCQoSContextAction::cpCQoSContextAction;

    int GetKind() const override { return 1; }
    std::uint32_t Receive() override;
    bool Send(std::uint32_t* sent) override;
    bool TakeSendBlocked() override { return false; }
    bool TakeReceiveBlocked() override { return false; }
    void SetQuota(int, std::uint32_t) override {}
    void Collect(cpQoSStats*) override {}
};

// An action of the given kind on `io`, or null for an unknown kind.
std::unique_ptr<cpCQoSContextAction> cpCreateContextAction(int kind, cpQoSContextIo& io);
