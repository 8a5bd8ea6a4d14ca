#include "nw/nwAgentWire.h"

#include <cstring>

#include "nw/nwFrame.h"

std::uint16_t nwAgentServerPort()
{
    return nwPortFromEnvironment(AGENT_PORT_VARIABLE, AGENT_DEFAULT_PORT);
}

nwAgentReportRecord nwMakeAgentRecord(std::string_view serviceId, std::string_view url, std::uint64_t bytesWritten)
{
    nwAgentReportRecord record{};
    nwPutTextField(record.serviceId, sizeof record.serviceId, serviceId);
    nwPutTextField(record.url, sizeof record.url, url);
    record.bytesWritten = bytesWritten;
    record.marker = AGENT_RECORD_MARKER;
    return record;
}

std::string_view nwAgentFieldText(const char* field, std::size_t size)
{
    return nwTextFieldText(field, size);
}

namespace {

std::string Frame(std::uint16_t messageType, const char* payload, std::uint32_t length)
{
    std::string frame(nwFrameTotalSize(length), '\0');
    nwFrameHeader header;
    header.messageClass = AGENT_CLASS;
    header.messageType = messageType;
    header.payloadLength = nwFrameTotalSize(length) - nwFrameHeader::kSize;
    header.Encode(reinterpret_cast<std::uint8_t*>(frame.data()));
    std::memcpy(frame.data() + nwFrameHeader::kSize, payload, length);
    return frame;
}

} // namespace

std::string nwAgentReportFrame(const nwAgentReportRecord* records, std::uint32_t count)
{
    std::string payload(reinterpret_cast<const char*>(&count), sizeof count);
    payload.append(reinterpret_cast<const char*>(records), std::size_t{count} * AGENT_RECORD_SIZE);
    return Frame(AGENT_MSG_REPORT, payload.data(), static_cast<std::uint32_t>(payload.size()));
}

std::string nwAgentAnswerFrame(std::uint8_t answer)
{
    return Frame(AGENT_MSG_ANSWER, reinterpret_cast<const char*>(&answer), 1);
}
