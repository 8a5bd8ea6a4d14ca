#pragma once
// The agent server's database: one SQLite file in WAL mode with full
// synchronisation, so that a report whose transaction has committed survives
// the process being killed. Each report is one transaction: its row in
// "reports" (time received, peer address, record count) and one row per
// record in "records" (service identifier, URL, bytes).

#include <cstdint>
#include <cstdio>
#include <string>

#include "AgentFrameReader.h"

struct sqlite3;

namespace agent {

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (creating when missing) the database and its tables.
    bool Open(const std::string& path);
    // Stores the report in one transaction; its id in `reportId`. False
    // (with nothing stored) when the transaction did not commit.
    bool Add(const Report& report, std::int64_t receivedAt, const std::string& peer, std::int64_t* reportId);
    // Prints the bytes stored per URL, URLs in order.
    bool PrintSummary(std::FILE* out);

    const std::string& GetError() const { return error_; }

private:
    bool Execute(const char* sql);
    bool Fail(const char* what);

    sqlite3* db_ = nullptr;
    std::string error_;
};

} // namespace agent
