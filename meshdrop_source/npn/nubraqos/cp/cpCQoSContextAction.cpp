#include "cp/cpCQoSContextAction.h"

#include <algorithm>

#include "cp/cpCQoSLowContextAction.h"

std::uint32_t cpCQoSContextAction::ReadInto(std::uint32_t size)
{
    const std::uint32_t room = m_io.receive.Reserve(std::min(size, kReceiveSize));
    if (room == 0) {
        return 0;
    }
    std::uint32_t got = 0;
    if (OV_FAILED(cpSocketReceive(m_io.record, m_io.receive.FreeSpace(), room, &got))) {
        return 0;
    }
    m_io.receive.Commit(got);
    return got;
}

void cpCQoSContextAction::RearmSocket()
{
    cpSocketRearm(m_io.record);
}

std::uint32_t cpCQoSHighContextAction::Receive()
{
    std::uint32_t total = 0;
    while (m_io.receive.Held() <= kReadStop && total < kReadPiece) {
        const std::uint32_t got = ReadInto(kReceiveSize);
        total += got;
        // A short read emptied the socket: nothing more waits now.
        if (got < kReceiveSize) {
            break;
        }
    }
    return total;
}

bool cpCQoSHighContextAction::Send(std::uint32_t* sent)
{
    std::uint32_t total = 0;
    while (cpSendBlock* block = m_io.current) {
        const std::uint32_t chunk = std::min(block->Remaining(), kSendChunk);
        std::uint32_t n = 0;
        const OVRESULT result = cpSocketSend(m_io.record, block->data.get() + block->sent, chunk, &n);
        if (OV_FAILED(result)) {
            if (OV_IS_WOULDBLOCK(result)) {
                break;
            }
            if (sent) {
                *sent = total;
            }
            return false;
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
    RearmSocket();
    return true;
}

std::unique_ptr<cpCQoSContextAction> cpCreateContextAction(int kind, cpQoSContextIo& io)
{
    switch (kind) {
    case 1:
        return std::make_unique<cpCQoSHighContextAction>(io);
    case 2:
        return std::make_unique<cpCQoSLowServerContextAction>(io);
    case 3:
        return std::make_unique<cpCQoSLowServerReceiveOnlyContextAction>(io);
    case 4:
        return std::make_unique<cpCQoSLowServerSendOnlyContextAction>(io);
    case 5:
        return std::make_unique<cpCQoSOwnContextAction>(io);
    case 6:
        return std::make_unique<cpCQoSOwnReceiveOnlyContextAction>(io);
    case 7:
        return std::make_unique<cpCQoSOwnSendOnlyContextAction>(io);
    default:
        return nullptr;
    }
}
