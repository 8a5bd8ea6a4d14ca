// The agent server's frame reader on arbitrary bytes, fed in pieces whose
// sizes come from the input: it must never read outside what it was given,
// hand out more records than a report may hold, or recover from a rejection.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "AgentFrameReader.h"
#include "nw/nwAgentWire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    agent::FrameReader reader;
    const std::size_t piece = 1 + data[0] % 64;
    bool rejected = false;
    for (std::size_t at = 1; at < size; at += piece) {
        const std::size_t length = at + piece <= size ? piece : size - at;
        reader.Append(data + at, length);
        agent::Report report;
        agent::FrameReader::Status status;
        while ((status = reader.Next(&report)) == agent::FrameReader::Status::Report) {
            if (rejected || report.records.size() > AGENT_MAX_RECORDS) {
                std::abort();
            }
            for (const agent::ReportRecord& record : report.records) {
                if (record.serviceId.size() > AGENT_SERVICE_ID_SIZE || record.url.size() > AGENT_URL_SIZE) {
                    std::abort();
                }
            }
        }
        rejected = status == agent::FrameReader::Status::Rejected;
    }
    return 0;
}
