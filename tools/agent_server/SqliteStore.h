#pragma once
// The embedded store: one SQLite file in WAL mode with full synchronisation,
// so that a batch whose transaction has committed survives the process being
// killed. Used by one agent server at a time.

#include <memory>
#include <string>

#include "AgentStore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace agent {

class SqliteStore : public Store {
public:
    SqliteStore() = default;
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    // Opens (creating when missing) the file and its schema.
    bool Open(const std::string& path);
    bool AddBatch(std::vector<PendingReport>& reports) override;
    bool ReadSummary(Summary* summary) override;

private:
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

    Statement Prepare(const char* sql);
    bool Execute(const char* sql);
    bool Fail(const char* what);
    bool CreateSchema();
    bool AddReport(PendingReport& pending);

    sqlite3* db_ = nullptr;
    Statement insertReport_;
    Statement insertRecord_;
};

} // namespace agent
