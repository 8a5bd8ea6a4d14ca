#include "ut/utCUriCodec.h"

#include <cstring>
#include <string>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Both directions write into a std::string first: the result is bounded by
// three times the input, and the caller's buffer is only written when it fits.
std::string EncodeBytes(const char* bytes, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        if (utCUriCodec::IsUnreserved(byte)) {
            out.push_back(static_cast<char>(byte));
        } else {
            out.push_back('%');
            out.push_back(kHexDigits[byte >> 4]);
            out.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return out;
}

std::string DecodeBytes(const char* bytes, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        if (bytes[i] == '%' && i + 2 < length && HexValue(bytes[i + 1]) >= 0 && HexValue(bytes[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(bytes[i + 1]) * 16 + HexValue(bytes[i + 2])));
            i += 2;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
}

OVRESULT Deliver(const std::string& result, char* buffer, std::uint32_t* length)
{
    if (result.size() >= UINT32_MAX) {
        return UT_URI_FAIL;
    }
    const auto needed = static_cast<std::uint32_t>(result.size());
    if (buffer) {
        const std::uint32_t capacity = *length;
        *length = needed;
        if (capacity < needed + 1) {
            return UT_URI_FAIL;
        }
        std::memcpy(buffer, result.data(), needed);
        buffer[needed] = '\0';
        return UT_URI_OK;
    }
    *length = needed;
    return UT_URI_OK;
}

} // namespace

bool utCUriCodec::IsUnreserved(std::uint8_t byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '*' || byte == '+' || byte == '-' || byte == '.' || byte == '@' || byte == '_';
}

OVRESULT utCUriCodec::Decode(const char* text, char* buffer, std::uint32_t* length)
{
    if (!text || !*text || !length) {
        return UT_URI_FAIL;
    }
    return Deliver(DecodeBytes(text, std::strlen(text)), buffer, length);
}

OVRESULT utCUriCodec::Encode(const char* text, char* buffer, std::uint32_t* length)
{
    if (!text || !*text || !length) {
        return UT_URI_FAIL;
    }
    return Deliver(EncodeBytes(text, std::strlen(text)), buffer, length);
}

ovCString utCUriCodec::EncodeString(const char* bytes, std::uint32_t length)
{
    if (!bytes || length == 0) {
        return {};
    }
    const std::string out = EncodeBytes(bytes, length);
    return ovCString(out.data(), static_cast<std::uint32_t>(out.size()));
}

ovCString utCUriCodec::DecodeString(const char* bytes, std::uint32_t length)
{
    if (!bytes || length == 0) {
        return {};
    }
    const std::string out = DecodeBytes(bytes, length);
    return ovCString(out.data(), static_cast<std::uint32_t>(out.size()));
}
