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
