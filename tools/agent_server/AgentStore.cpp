#include "AgentStore.h"

#include <sqlite3.h>

#include <memory>

namespace agent {

namespace {

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

Statement Prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return Statement(statement);
}

bool BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
           SQLITE_OK;
}

} // namespace

Store::~Store()
{
    sqlite3_close(db_);
}

bool Store::Fail(const char* what)
{
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
    return false;
}

bool Store::Execute(const char* sql)
{
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail(sql);
}

bool Store::Open(const std::string& path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        return Fail("open");
    }
    sqlite3_busy_timeout(db_, 5000);
    return Execute("PRAGMA journal_mode=WAL") && Execute("PRAGMA synchronous=FULL") &&
           Execute("CREATE TABLE IF NOT EXISTS reports ("
                   " id INTEGER PRIMARY KEY,"
                   " received_at INTEGER NOT NULL,"
                   " peer TEXT NOT NULL,"
                   " record_count INTEGER NOT NULL)") &&
           Execute("CREATE TABLE IF NOT EXISTS records ("
                   " id INTEGER PRIMARY KEY,"
                   " report_id INTEGER NOT NULL REFERENCES reports(id),"
                   " service_id TEXT NOT NULL,"
                   " url TEXT NOT NULL,"
                   " bytes INTEGER NOT NULL)");
}

bool Store::Add(const Report& report, std::int64_t receivedAt, const std::string& peer, std::int64_t* reportId)
{
    if (!Execute("BEGIN IMMEDIATE")) {
        return false;
    }
    bool stored = false;
    {
        Statement header = Prepare(db_, "INSERT INTO reports (received_at, peer, record_count) VALUES (?, ?, ?)");
        Statement record = Prepare(db_, "INSERT INTO records (report_id, service_id, url, bytes) VALUES (?, ?, ?, ?)");
        stored = header && record && sqlite3_bind_int64(header.get(), 1, receivedAt) == SQLITE_OK &&
                 BindText(header.get(), 2, peer) &&
                 sqlite3_bind_int64(header.get(), 3, static_cast<sqlite3_int64>(report.records.size())) == SQLITE_OK &&
                 sqlite3_step(header.get()) == SQLITE_DONE;
        const sqlite3_int64 id = sqlite3_last_insert_rowid(db_);
        for (const ReportRecord& item : report.records) {
            if (!stored) {
                break;
            }
            sqlite3_reset(record.get());
            stored = sqlite3_bind_int64(record.get(), 1, id) == SQLITE_OK &&
                     BindText(record.get(), 2, item.serviceId) && BindText(record.get(), 3, item.url) &&
                     sqlite3_bind_int64(record.get(), 4, static_cast<sqlite3_int64>(item.bytes)) == SQLITE_OK &&
                     sqlite3_step(record.get()) == SQLITE_DONE;
        }
        if (stored && reportId) {
            *reportId = id;
        }
    }
    if (stored && Execute("COMMIT")) {
        return true;
    }
    Fail("store report");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool Store::PrintSummary(std::FILE* out)
{
    Statement totals = Prepare(db_, "SELECT (SELECT COUNT(*) FROM reports), COUNT(*), COALESCE(SUM(bytes), 0)"
                                    " FROM records");
    Statement perUrl = Prepare(db_, "SELECT url, COUNT(*), SUM(bytes) FROM records GROUP BY url ORDER BY url");
    if (!totals || !perUrl || sqlite3_step(totals.get()) != SQLITE_ROW) {
        return Fail("summary");
    }
    std::fprintf(out, "agent_server summary: %lld reports, %lld records, %lld bytes\n",
                 static_cast<long long>(sqlite3_column_int64(totals.get(), 0)),
                 static_cast<long long>(sqlite3_column_int64(totals.get(), 1)),
                 static_cast<long long>(sqlite3_column_int64(totals.get(), 2)));
    int step;
    while ((step = sqlite3_step(perUrl.get())) == SQLITE_ROW) {
        const auto* url = reinterpret_cast<const char*>(sqlite3_column_text(perUrl.get(), 0));
        std::fprintf(out, "%14lld bytes  %4lld records  %s\n",
                     static_cast<long long>(sqlite3_column_int64(perUrl.get(), 2)),
                     static_cast<long long>(sqlite3_column_int64(perUrl.get(), 1)), url ? url : "");
    }
    return step == SQLITE_DONE || Fail("summary");
}

} // namespace agent
