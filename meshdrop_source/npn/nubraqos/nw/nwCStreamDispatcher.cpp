#include "nw/nwCStreamDispatcher.h"

OVRESULT nwCStreamDispatcher::AddFramedHandler(std::uint16_t messageClass, std::uint32_t messageType,
                                               nwFramedHandler handler, void* user)
{
    m_handlers.push_back({true, messageClass, messageType, handler, nullptr, user});
    return OVR_NET_OK;
}

void nwCStreamDispatcher::AddRawHandler(nwRawHandler handler, void* user)
{
    m_handlers.push_back({false, 0, 0, nullptr, handler, user});
    m_rawMode = true;
}

OVRESULT nwCStreamDispatcher::Dispatch(const std::uint8_t* data, std::uint32_t length, int* consumed)
{
    std::uint32_t position = 0;
    int total = 0;
    while (position < length && !m_stopped) {
        const int result = ParseOne(data + position, length - position);
        if (result < 0) {
            total = result;
            break;
        }
        if (result == 0) {
            break;
        }
        position += static_cast<std::uint32_t>(result);
        total += result;
    }
    if (consumed) {
        *consumed = total;
    }
    return OVR_NET_OK;
}

int nwCStreamDispatcher::ParseOne(const std::uint8_t* data, std::uint32_t length)
{
    if (!data || length == 0) {
        return 0;
    }
    std::uint32_t frameSize = 0;
    if (!m_rawMode) {
        if (length < nwFrameHeader::kSize) {
            return 0;
        }
        m_header = nwFrameHeader::Decode(data);
        if (m_header.payloadLength > kMaxFramePayload) {
            return -1;
        }
        frameSize = nwFrameHeader::kSize + m_header.payloadLength;
        if (length < frameSize) {
            return 0;
        }
    }
    for (std::size_t i = 0; i < m_handlers.size(); ++i) {
        // A copy: the callback may register further handlers.
        const HandlerEntry entry = m_handlers[i];
        if (!entry.framed) {
            const int taken = entry.rawHandler ? entry.rawHandler(data, length, entry.user) : -1;
            // A parser claiming more than it was offered has lost track of the stream.
            return std::int64_t{taken} > std::int64_t{length} ? -1 : taken;
        }
        if (!m_rawMode && entry.messageClass == m_header.messageClass && entry.messageType == m_header.messageType) {
            if (entry.framedHandler) {
                entry.framedHandler(data + nwFrameHeader::kSize, m_header.payloadLength, entry.user);
            }
            return static_cast<int>(frameSize);
        }
    }
    return -1;
}
