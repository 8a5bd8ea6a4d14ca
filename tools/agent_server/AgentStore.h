#pragma once
// Where the agent server keeps the reports: an embedded SQLite file (the
// default) or a PostgreSQL database (`postgresql://...` or `postgres://...`),
// which several agent servers may share. Both keep the same rows: one per
// report in "reports" (time received, peer address, record count) and one
// per record in "records" (its report, service identifier, URL, bytes), in a
// schema that is created when missing and carries its version in
// "agent_schema". A batch of reports is one transaction: once AddBatch
// answers true, every report of it has committed.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "AgentFrameReader.h"

namespace agent {

// The version of the schema this program writes.
inline constexpr int kSchemaVersion = 1;

// A report on its way into the store.
struct PendingReport {
    std::uint64_t connection = 0; // the server's number of the connection it came on
    Report report;
    std::string peer;
    std::int64_t receivedAt = 0; // seconds since the epoch
    std::int64_t id = 0;         // given by the store
};

// Byte sums: every record counts at most 2^48 bytes (FrameReader), so a sum
// of up to 2^80 records fits.
using ByteTotal = unsigned __int128;

struct UrlTotal {
    std::string url;
    std::uint64_t records = 0;
    ByteTotal bytes = 0;
};

struct Summary {
    std::uint64_t reports = 0;
    std::uint64_t records = 0;
    ByteTotal bytes = 0;
    std::vector<UrlTotal> urls; // in byte order of the URL
};

class Store {
public:
    virtual ~Store() = default;
    // Stores the reports in one transaction and gives each its id. False
    // (with nothing stored) when the transaction did not commit.
    virtual bool AddBatch(std::vector<PendingReport>& reports) = 0;
    virtual bool ReadSummary(Summary* summary) = 0;
    const std::string& GetError() const { return error_; }

protected:
    std::string error_;
};

bool IsPostgresLocation(const std::string& database);
// Opens the store `database` names, creating its schema when missing; null
// with the reason in `error`.
std::unique_ptr<Store> OpenStore(const std::string& database, std::string* error);
// The location without a password, for logs.
std::string LocationForLog(const std::string& database);

// Sums are kept as two parts so that no database sum overflows: the bytes
// above the low 24 bits and the low 24 bits.
inline constexpr unsigned kLowBits = 24;
inline ByteTotal JoinTotal(std::uint64_t high, std::uint64_t low)
{
    return (ByteTotal{high} << kLowBits) + low;
}
std::string ByteTotalText(ByteTotal total);
// The summary as --summary prints it: the totals, then one line per URL.
void PrintSummary(const Summary& summary, std::FILE* out);

} // namespace agent
