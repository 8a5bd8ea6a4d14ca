#include "AgentFrameReader.h"

#include <cstring>

#include "nw/nwAgentWire.h"
#include "nw/nwFrame.h"

namespace agent {

std::uint32_t FrameReader::MaxPayloadLength()
{
    return nwFrameTotalSize(static_cast<std::uint32_t>(nwAgentReportLength(AGENT_MAX_RECORDS))) - nwFrameHeader::kSize;
}

FrameReader::Status FrameReader::Reject(const char* why)
{
    rejection_ = why;
    buffer_.clear();
    position_ = 0;
    return Status::Rejected;
}

FrameReader::Status FrameReader::Append(const std::uint8_t* data, std::size_t length)
{
    if (IsRejected()) {
        return Status::Rejected;
    }
    if (position_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(position_));
        position_ = 0;
    }
    if (buffer_.size() + length > nwFrameHeader::kSize + MaxPayloadLength() + kReadSize) {
        return Reject("too many bytes at once");
    }
    buffer_.insert(buffer_.end(), data, data + length);
    return Status::NeedMore;
}

FrameReader::Status FrameReader::Next(Report* report)
{
    if (IsRejected()) {
        return Status::Rejected;
    }
    const std::size_t available = buffer_.size() - position_;
    if (available < nwFrameHeader::kSize) {
        return Status::NeedMore;
    }
    const std::uint8_t* frame = buffer_.data() + position_;
    const nwFrameHeader header = nwFrameHeader::Decode(frame);
    if (header.messageClass != AGENT_CLASS) {
        return Reject("message class");
    }
    if (header.messageType != AGENT_MSG_REPORT) {
        return Reject("message type");
    }
    if (header.payloadLength > MaxPayloadLength() || (nwFrameHeader::kSize + header.payloadLength) % 8 != 0 ||
        header.payloadLength < 4) {
        return Reject("payload length");
    }
    if (available < nwFrameHeader::kSize + header.payloadLength) {
        return Status::NeedMore;
    }
    const std::uint8_t* payload = frame + nwFrameHeader::kSize;
    std::uint32_t count = 0;
    std::memcpy(&count, payload, sizeof count);
    if (count > AGENT_MAX_RECORDS) {
        return Reject("record count above the bound");
    }
    if (nwFrameTotalSize(static_cast<std::uint32_t>(nwAgentReportLength(count))) - nwFrameHeader::kSize !=
        header.payloadLength) {
        return Reject("record count does not match the payload length");
    }
    Report parsed;
    parsed.records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        nwAgentReportRecord record;
        std::memcpy(&record, payload + 4 + std::size_t{i} * AGENT_RECORD_SIZE, sizeof record);
        if (record.bytesWritten > kMaxRecordBytes) {
            return Reject("byte count above 2^48");
        }
        parsed.records.push_back({std::string(nwAgentFieldText(record.serviceId, sizeof record.serviceId)),
                                  std::string(nwAgentFieldText(record.url, sizeof record.url)), record.bytesWritten});
    }
    position_ += nwFrameHeader::kSize + header.payloadLength;
    *report = std::move(parsed);
    return Status::Report;
}

} // namespace agent
