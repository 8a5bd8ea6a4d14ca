#include "nw/nwAgentWire.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>

namespace {

template <std::size_t N>
void PutField(char (&field)[N], std::string_view text)
{
    text = text.substr(0, std::min({text.size(), N - 1, text.find('\0')}));
    std::memcpy(field, text.data(), text.size());
    std::memset(field + text.size(), 0, N - text.size());
}

} // namespace

std::uint16_t nwAgentServerPort()
{
    const char* configured = std::getenv(AGENT_PORT_VARIABLE);
    if (configured && *configured) {
        unsigned value = 0;
        const char* end = configured + std::strlen(configured);
        const auto [last, error] = std::from_chars(configured, end, value);
        if (error == std::errc() && last == end && value >= 1 && value <= 65535) {
            return static_cast<std::uint16_t>(value);
        }
    }
    return AGENT_DEFAULT_PORT;
}

nwAgentReportRecord nwMakeAgentRecord(std::string_view serviceId, std::string_view url, std::uint64_t bytesWritten)
{
    nwAgentReportRecord record{};
    PutField(record.serviceId, serviceId);
    PutField(record.url, url);
    record.bytesWritten = bytesWritten;
    record.marker = AGENT_RECORD_MARKER;
    return record;
}

std::string_view nwAgentFieldText(const char* field, std::size_t size)
{
    const void* end = std::memchr(field, 0, size);
    return std::string_view(field, end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : size);
}
