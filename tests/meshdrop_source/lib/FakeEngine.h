#pragma once
// A peer in the local engine's place, for what the real engine never does on
// its own (a file number beyond the job, a job ended with an error, a
// connection that ends on cue): it accepts the library's connection, reads
// its frames and sends the notifications the test gives it. Blocking; run it
// on a thread of its own while the test pumps its window.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "nw/nwCDNLocalWire.h"
#include "nw/nwFrame.h"

class FakeEngine {
public:
    struct Frame {
        uint16_t messageClass = 0;
        uint16_t type = 0;
        std::string payload;

        template <class Record>
        Record As() const
        {
            Record record{};
            std::memcpy(&record, payload.data(), std::min(sizeof record, payload.size()));
            return record;
        }
    };

    uint16_t Port() const { return m_peer.Port(); }
    bool Accept() { return m_peer.Accept(std::chrono::seconds(30)); }

    // Reads frames until one of `type` has arrived (true) or the connection
    // ended; every frame read is appended to `frames`.
    bool ReadUntil(uint16_t type, std::vector<Frame>& frames)
    {
        for (;;) {
            std::string head;
            if (!m_peer.ReadExactly(nwFrameHeader::kSize, &head, std::chrono::seconds(30)))
                return false;
            const nwFrameHeader header = nwFrameHeader::Decode(reinterpret_cast<const uint8_t*>(head.data()));
            Frame frame{header.messageClass, header.messageType, {}};
            if (header.payloadLength > 0 &&
                !m_peer.ReadExactly(header.payloadLength, &frame.payload, std::chrono::seconds(30)))
                return false;
            frames.push_back(std::move(frame));
            if (frames.back().type == type)
                return true;
        }
    }

    template <class Record>
    bool Send(uint16_t type, const Record& record)
    {
        std::vector<uint8_t> bytes;
        nwCDNAppendFrame(bytes, type, &record, sizeof record);
        return m_peer.SendAll(bytes.data(), bytes.size());
    }
    bool SendBytes(const std::vector<uint8_t>& bytes) { return m_peer.SendAll(bytes.data(), bytes.size()); }

    bool WaitForClose() { return m_peer.WaitForClose(std::chrono::seconds(30)); }
    void CloseConnection() { m_peer.CloseConnection(); }

private:
    LoopbackPeer m_peer;
};
