#pragma once
// The parts of a connection context that its bandwidth action works on: the
// block being sent, the receive buffer and the socket record.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "cp/cpSocketRecord.h"

// One block of the send queue.
struct cpSendBlock {
    std::unique_ptr<std::uint8_t[]> data;
    std::uint32_t sent = 0;
    std::uint32_t length = 0;

    std::uint32_t Remaining() const { return length - sent; }
    bool IsComplete() const { return sent >= length; }
};

// Bytes received and not yet consumed by the layers. Starts at 1024 bytes and
// doubles as needed, never beyond kMaxSize: a peer cannot make it grow
// without end (the context closes a connection whose buffer is full and whose
// layers take nothing). Emptied, it keeps its block up to kRetainedSize, so
// that a transfer reads into the same warm memory notification after
// notification instead of growing a fresh block each time.
class cpCReceiveBuffer {
public:
    cpCReceiveBuffer() = default;
    cpCReceiveBuffer(const cpCReceiveBuffer&) = delete;
    cpCReceiveBuffer& operator=(const cpCReceiveBuffer&) = delete;
    ~cpCReceiveBuffer() { std::free(m_data); }

    static constexpr std::uint32_t kInitialSize = 1024;
    // Room for the largest framed message plus what follows it in one read.
    static constexpr std::uint32_t kMaxSize = 16u * 1024u * 1024u + 64u * 1024u;
    static constexpr std::uint32_t kRetainedSize = 2u * 1024u * 1024u;

    std::uint8_t* Data() const { return m_data; }
    std::uint32_t Held() const { return m_held; }
    std::uint32_t Capacity() const { return m_capacity; }
    bool IsFull() const { return m_held >= kMaxSize; }

    // Makes room for up to `wanted` more bytes; answers how many fit (0 when
    // the buffer is at its bound or memory is short).
    std::uint32_t Reserve(std::uint32_t wanted);
    // The start of the free space after Reserve, and the bytes written there.
    std::uint8_t* FreeSpace() const { return m_data + m_held; }
    void Commit(std::uint32_t bytes) { m_held += bytes; }
    // Drops `bytes` from the front; none does nothing (the layers took
    // nothing yet: the bytes wait for more).
    void Consume(std::uint32_t bytes);
    void Release();

private:
    std::uint8_t* m_data = nullptr;
    std::uint32_t m_held = 0;
    std::uint32_t m_capacity = 0;
};

struct cpQoSContextIo {
    cpSendBlock* current = nullptr;
    cpCReceiveBuffer receive;
    cpSocketRecord* record = nullptr;
};

// Bytes the budgeted actions counted this second, gathered by the tick.
struct cpQoSStats {
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
};
