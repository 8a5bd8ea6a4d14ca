#include "nw/nwFrame.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

std::uint16_t Read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Read32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

void Write16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Write32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

} // namespace

nwFrameHeader nwFrameHeader::Decode(const std::uint8_t* bytes)
{
    nwFrameHeader header;
    header.messageClass = Read16(bytes);
    header.messageType = Read16(bytes + 2);
    header.reserved1 = Read32(bytes + 4);
    header.reserved2 = Read16(bytes + 8);
    header.payloadLength = Read32(bytes + 10);
    return header;
}

void nwFrameHeader::Encode(std::uint8_t* bytes) const
{
    Write16(bytes, messageClass);
    Write16(bytes + 2, messageType);
    Write32(bytes + 4, reserved1);
    Write16(bytes + 8, reserved2);
    Write32(bytes + 10, payloadLength);
}

std::uint8_t* nwAllocFrameMessage(std::uint32_t length)
{
    if (length > kMaxFramePayload) {
        return nullptr;
    }
    auto* block = static_cast<std::uint8_t*>(std::calloc(nwFrameTotalSize(length), 1));
    return block ? block + nwFrameHeader::kSize : nullptr;
}

std::uint8_t* nwWriteFrameHeader(std::uint8_t* payload, std::uint32_t length, std::uint16_t messageClass,
                                 std::uint16_t messageType)
{
    std::uint8_t* message = payload - nwFrameHeader::kSize;
    nwFrameHeader header;
    header.messageClass = messageClass;
    header.messageType = messageType;
    header.payloadLength = nwFrameTotalSize(length) - nwFrameHeader::kSize;
    header.Encode(message);
    return message;
}

void nwFreeFrameMessage(std::uint8_t* payload)
{
    if (payload) {
        std::free(payload - nwFrameHeader::kSize);
    }
}

std::uint16_t nwPortFromEnvironment(const char* variable, std::uint16_t fallback)
{
    const char* configured = std::getenv(variable);
    if (configured && *configured) {
        unsigned value = 0;
        const char* end = configured + std::strlen(configured);
        const auto [last, error] = std::from_chars(configured, end, value);
        if (error == std::errc() && last == end && value >= 1 && value <= 65535) {
            return static_cast<std::uint16_t>(value);
        }
    }
    return fallback;
}

void nwPutTextField(char* field, std::size_t size, std::string_view text)
{
    if (size == 0) {
        return;
    }
    text = text.substr(0, std::min({text.size(), size - 1, text.find('\0')}));
    std::memcpy(field, text.data(), text.size());
    std::memset(field + text.size(), 0, size - text.size());
}

std::string_view nwTextFieldText(const char* field, std::size_t size)
{
    const void* end = std::memchr(field, 0, size);
    return std::string_view(field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size);
}
