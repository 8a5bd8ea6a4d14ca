#include "CommandParser.h"

#include <cstring>

#include "nw/nwFrame.h"

namespace engine {

namespace {

template <class Record>
bool ReadRecord(const FrameView& frame, Record* record)
{
    return nwCDNReadFixed(frame.payload, frame.length, record, sizeof *record);
}

} // namespace

FrameStatus NextFrame(const std::uint8_t* data, std::size_t length, FrameView* frame)
{
    if (length < nwFrameHeader::kSize) {
        return FrameStatus::Incomplete;
    }
    const nwFrameHeader header = nwFrameHeader::Decode(data);
    if (header.payloadLength > kMaxCommandPayload) {
        return FrameStatus::Broken;
    }
    const std::uint32_t size = nwFrameHeader::kSize + header.payloadLength;
    if (length < size) {
        return FrameStatus::Incomplete;
    }
    frame->messageClass = header.messageClass;
    frame->type = header.messageType;
    frame->payload = data + nwFrameHeader::kSize;
    frame->length = header.payloadLength;
    frame->frameSize = size;
    return FrameStatus::Complete;
}

bool ParseCommand(const FrameView& frame, Command* command)
{
    command->type = frame.type;
    command->files.clear();
    if (frame.messageClass == CDN_CLASS_JOB_LIST) {
        if (frame.type != CDN_REQ_JOB_LIST) {
            return false;
        }
        std::vector<nwCDNDecodedItem> items;
        // The payload bound keeps the count in check (531 bytes a file at least).
        if (!nwCDNReadJobList(frame.payload, frame.length, kMaxCommandPayload, &command->header, &items)) {
            return false;
        }
        command->files.reserve(items.size());
        for (const nwCDNDecodedItem& item : items) {
            command->files.push_back({item.fields, std::string(item.url)});
        }
        return true;
    }
    if (frame.messageClass != CDN_CLASS) {
        return false;
    }
    switch (frame.type) {
    case CDN_REQ_JOB_MODE:
        return ReadRecord(frame, &command->mode);
    case CDN_REQ_REGION:
        return ReadRecord(frame, &command->region);
    case CDN_REQ_STOP_JOB:
        return ReadRecord(frame, &command->job);
    case CDN_REQ_SERVICE_ID:
        return ReadRecord(frame, &command->serviceId);
    case CDN_REQ_FILE_OPTION:
        return ReadRecord(frame, &command->option);
    case CDN_REQ_ENGINE_FLAG:
    case CDN_REQ_JOB_END:
        return ReadRecord(frame, &command->jobNumber);
    case CDN_REQ_RESUME_ANSWER:
        return ReadRecord(frame, &command->answer);
    case CDN_REQ_JOB_HEADER:
        return ReadRecord(frame, &command->header);
    case CDN_REQ_JOB_ITEM: {
        nwCDNDecodedItem item;
        if (!nwCDNReadJobItem(frame.payload, frame.length, &command->item, &item)) {
            return false;
        }
        command->files.push_back({item.fields, std::string(item.url)});
        return true;
    }
    case CDN_REQ_STATUS:
        return true;
    default:
        return false;
    }
}

} // namespace engine
