#pragma once
// Frames of the agent protocol as the tests write and read them: report
// frames (a client's), answer frames (a server's), and reading one frame off
// a loopback peer.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "nw/nwAgentWire.h"
#include "nw/nwFrame.h"

namespace agenttest {

inline std::string Frame(std::uint16_t messageClass, std::uint16_t messageType, const std::string& payload)
{
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    std::string frame(nwFrameTotalSize(length), '\0');
    nwFrameHeader header;
    header.messageClass = messageClass;
    header.messageType = messageType;
    header.payloadLength = nwFrameTotalSize(length) - nwFrameHeader::kSize;
    header.Encode(reinterpret_cast<std::uint8_t*>(frame.data()));
    frame.replace(nwFrameHeader::kSize, payload.size(), payload);
    return frame;
}

inline std::string ReportFrame(const std::vector<nwAgentReportRecord>& records)
{
    const auto count = static_cast<std::uint32_t>(records.size());
    std::string payload(reinterpret_cast<const char*>(&count), sizeof count);
    payload.append(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(nwAgentReportRecord));
    return Frame(AGENT_CLASS, AGENT_MSG_REPORT, payload);
}

inline std::string AnswerFrame(std::uint8_t answer)
{
    return Frame(AGENT_CLASS, AGENT_MSG_ANSWER, std::string(1, static_cast<char>(answer)));
}

// One frame read off the peer: its header and payload.
struct ReadFrame {
    nwFrameHeader header;
    std::string payload;

    std::uint32_t Count() const
    {
        std::uint32_t count = 0;
        std::memcpy(&count, payload.data(), payload.size() >= 4 ? 4 : 0);
        return count;
    }
    // The URL of each record, in order.
    std::vector<std::string> Urls() const
    {
        std::vector<std::string> urls;
        for (std::uint32_t i = 0; i < Count() && 4 + (i + 1) * AGENT_RECORD_SIZE <= payload.size(); ++i)
            urls.emplace_back(
                nwAgentFieldText(payload.data() + 4 + i * AGENT_RECORD_SIZE + AGENT_SERVICE_ID_SIZE, AGENT_URL_SIZE));
        return urls;
    }
};

inline bool ReadOneFrame(LoopbackPeer& peer, ReadFrame* frame)
{
    std::string head;
    if (!peer.ReadExactly(nwFrameHeader::kSize, &head))
        return false;
    frame->header = nwFrameHeader::Decode(reinterpret_cast<const std::uint8_t*>(head.data()));
    return frame->header.payloadLength <= kMaxFramePayload &&
           peer.ReadExactly(frame->header.payloadLength, &frame->payload);
}

inline nwAgentReportRecord Record(const std::string& url, std::uint64_t bytes, const std::string& serviceId = "svc")
{
    return nwMakeAgentRecord(serviceId, url, bytes);
}

} // namespace agenttest
