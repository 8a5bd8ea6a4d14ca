#pragma once
// The wire of the agent protocol, defined once for the agent layer, the
// platform reporter and the agent server, so that the two ends cannot drift
// apart. Every message is a frame of nwFrame.h (14-byte header, payload
// padded to a multiple of 8) of class AGENT_CLASS; numbers are little-endian.
//
//   client to server, type 154: u32 record count n, then n report records
//   server to client, type 131: at least one byte; the first is the answer

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little, "the wire records are kept in memory as they travel");

// Where the agent server listens. The host is a build setting of the library
// (the CMake cache variable QLS_AGENT_HOST); the port can be moved for tests.
inline constexpr std::uint16_t AGENT_DEFAULT_PORT = 54547;
// A value that is not a port number in 1..65535 is ignored.
inline constexpr const char* AGENT_PORT_VARIABLE = "MESHDROP_AGENT_PORT";
std::uint16_t nwAgentServerPort();

inline constexpr std::uint16_t AGENT_CLASS = 0x0300;
enum : std::uint16_t {
    AGENT_MSG_ANSWER = 131,
    AGENT_MSG_REPORT = 154,
};
// The server's answer once a report is stored for good.
inline constexpr std::uint8_t AGENT_ANSWER_STORED = 1;

inline constexpr std::size_t AGENT_SERVICE_ID_SIZE = 33;
inline constexpr std::size_t AGENT_URL_SIZE = 256;

// One file of a report (wire): the service identifier and the file's URL,
// zero-padded; the bytes written for the file in its job; then a 1.
#pragma pack(push, 1)
struct nwAgentReportRecord {
    char serviceId[AGENT_SERVICE_ID_SIZE];
    char url[AGENT_URL_SIZE];
    std::uint64_t bytesWritten;
    std::uint8_t marker;
};
#pragma pack(pop)
inline constexpr std::uint32_t AGENT_RECORD_SIZE = 298;
static_assert(sizeof(nwAgentReportRecord) == AGENT_RECORD_SIZE);
inline constexpr std::uint8_t AGENT_RECORD_MARKER = 1;

// Records one report may carry: the reporter splits larger reports, the
// server refuses them. Far above the files of any job.
inline constexpr std::uint32_t AGENT_MAX_RECORDS = 4096;

// Payload length of a report of `count` records (before padding).
constexpr std::uint64_t nwAgentReportLength(std::uint64_t count)
{
    return 4 + count * AGENT_RECORD_SIZE;
}

// What SendReport of the agent layer takes: `count` consecutive records.
struct nwAgentReportBatch {
    std::uint32_t count = 0;
    const nwAgentReportRecord* records = nullptr;
};

// Fills a record; the texts are cut to their fields (always zero-terminated).
nwAgentReportRecord nwMakeAgentRecord(std::string_view serviceId, std::string_view url, std::uint64_t bytesWritten);
// The text of a zero-padded field: up to its first zero, or the whole field.
std::string_view nwAgentFieldText(const char* field, std::size_t size);

// A whole report frame (header, count, records, padding) of `count` records,
// for the peers that write frames themselves (the engine, benchmarks).
std::string nwAgentReportFrame(const nwAgentReportRecord* records, std::uint32_t count);
// A whole answer frame carrying `answer`.
std::string nwAgentAnswerFrame(std::uint8_t answer);
