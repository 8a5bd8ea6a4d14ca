#pragma once
// The shared store: a PostgreSQL database that several agent servers may
// write at once (each through a connection of its own), reached with libpq.
// A batch is one transaction: the report ids come from the table's sequence,
// the rows go in with COPY. A lost connection is made again for the next
// batch. Service identifiers and URLs are kept as bytea: they are the
// client's bytes, in its code page, not necessarily UTF-8.

#include <string>

#include "AgentStore.h"

struct pg_conn;
struct pg_result;

namespace agent {

class PostgresStore : public Store {
public:
    PostgresStore() = default;
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    // Connects and creates the schema when missing (under an advisory lock,
    // so that servers starting together do not race).
    bool Open(const std::string& location);
    bool AddBatch(std::vector<PendingReport>& reports) override;
    bool ReadSummary(Summary* summary) override;

private:
    bool Fail(const char* what);
    // Runs SQL that answers no rows; false (with the error) otherwise.
    bool Execute(const char* sql);
    bool Connected();
    bool CreateSchema();
    bool Copy(const char* sql, const std::string& rows);
    bool Insert(std::vector<PendingReport>& reports);

    pg_conn* connection_ = nullptr;
};

} // namespace agent
