#include "SqliteStore.h"

#include <sqlite3.h>

namespace agent {

namespace {

bool BindText(sqlite3_stmt* statement, int index, const std::string& text)
{
    return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) ==
           SQLITE_OK;
}

std::string ColumnText(sqlite3_stmt* statement, int column)
{
    const auto* text = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))) : std::string();
}

std::uint64_t ColumnCount(sqlite3_stmt* statement, int column)
{
    return static_cast<std::uint64_t>(sqlite3_column_int64(statement, column));
}

} // namespace

void SqliteStore::StatementDeleter::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

SqliteStore::~SqliteStore()
{
    insertReport_.reset();
    insertRecord_.reset();
    sqlite3_close(db_);
}

SqliteStore::Statement SqliteStore::Prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr);
    return Statement(statement);
}

bool SqliteStore::Fail(const char* what)
{
    error_ = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no database");
    return false;
}

bool SqliteStore::Execute(const char* sql)
{
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Fail(sql);
}

bool SqliteStore::Open(const std::string& path)
{
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        return Fail("open");
    // A database locked by another program makes the writer wait, never the
    // server's loop.
    sqlite3_busy_timeout(db_, 5000);
    if (!Execute("PRAGMA journal_mode=WAL") || !Execute("PRAGMA synchronous=FULL") || !CreateSchema())
        return false;
    insertReport_ = Prepare("INSERT INTO reports (received_at, peer, record_count) VALUES (?, ?, ?)");
    insertRecord_ = Prepare("INSERT INTO records (report_id, service_id, url, bytes) VALUES (?, ?, ?, ?)");
    return (insertReport_ && insertRecord_) || Fail("prepare");
}

bool SqliteStore::CreateSchema()
{
    if (!Execute("BEGIN IMMEDIATE"))
        return false;
    int version = 0;
    bool ok = Execute("CREATE TABLE IF NOT EXISTS agent_schema (version INTEGER NOT NULL)");
    if (ok) {
        Statement query = Prepare("SELECT MAX(version) FROM agent_schema");
        ok = query && sqlite3_step(query.get()) == SQLITE_ROW;
        if (ok)
            version = sqlite3_column_int(query.get(), 0);
    }
    if (ok && version > kSchemaVersion) {
        error_ = "the database's schema version " + std::to_string(version) + " is newer than this program's " +
                 std::to_string(kSchemaVersion);
        ok = false;
    } else if (ok && version == 0) {
        // A database of the first layout has its tables and no version yet:
        // IF NOT EXISTS leaves them as they are.
        ok = Execute("CREATE TABLE IF NOT EXISTS reports ("
                     " id INTEGER PRIMARY KEY,"
                     " received_at INTEGER NOT NULL,"
                     " peer TEXT NOT NULL,"
                     " record_count INTEGER NOT NULL)") &&
             Execute("CREATE TABLE IF NOT EXISTS records ("
                     " id INTEGER PRIMARY KEY,"
                     " report_id INTEGER NOT NULL REFERENCES reports(id),"
                     " service_id TEXT NOT NULL,"
                     " url TEXT NOT NULL,"
                     " bytes INTEGER NOT NULL)") &&
             Execute("INSERT INTO agent_schema (version) VALUES (1)");
    }
    if (ok && Execute("COMMIT"))
        return true;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SqliteStore::AddReport(PendingReport& pending)
{
    sqlite3_stmt* header = insertReport_.get();
    sqlite3_stmt* record = insertRecord_.get();
    sqlite3_reset(header);
    if (sqlite3_bind_int64(header, 1, pending.receivedAt) != SQLITE_OK || !BindText(header, 2, pending.peer) ||
        sqlite3_bind_int64(header, 3, static_cast<sqlite3_int64>(pending.report.records.size())) != SQLITE_OK ||
        sqlite3_step(header) != SQLITE_DONE)
        return Fail("store report");
    pending.id = sqlite3_last_insert_rowid(db_);
    for (const ReportRecord& item : pending.report.records) {
        sqlite3_reset(record);
        if (sqlite3_bind_int64(record, 1, pending.id) != SQLITE_OK || !BindText(record, 2, item.serviceId) ||
            !BindText(record, 3, item.url) ||
            sqlite3_bind_int64(record, 4, static_cast<sqlite3_int64>(item.bytes)) != SQLITE_OK ||
            sqlite3_step(record) != SQLITE_DONE)
            return Fail("store record");
    }
    return true;
}

bool SqliteStore::AddBatch(std::vector<PendingReport>& reports)
{
    if (!Execute("BEGIN IMMEDIATE"))
        return false;
    bool stored = true;
    for (PendingReport& pending : reports) {
        if (!(stored = AddReport(pending)))
            break;
    }
    sqlite3_reset(insertReport_.get());
    sqlite3_reset(insertRecord_.get());
    if (stored && Execute("COMMIT"))
        return true;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SqliteStore::ReadSummary(Summary* summary)
{
    Statement totals = Prepare("SELECT (SELECT COUNT(*) FROM reports), COUNT(*), COALESCE(SUM(bytes >> 24), 0),"
                               " COALESCE(SUM(bytes & 16777215), 0) FROM records");
    Statement perUrl = Prepare("SELECT url, COUNT(*), SUM(bytes >> 24), SUM(bytes & 16777215) FROM records"
                               " GROUP BY url ORDER BY url");
    if (!totals || !perUrl || sqlite3_step(totals.get()) != SQLITE_ROW)
        return Fail("summary");
    summary->reports = ColumnCount(totals.get(), 0);
    summary->records = ColumnCount(totals.get(), 1);
    summary->bytes = JoinTotal(ColumnCount(totals.get(), 2), ColumnCount(totals.get(), 3));
    int step;
    while ((step = sqlite3_step(perUrl.get())) == SQLITE_ROW) {
        summary->urls.push_back({ColumnText(perUrl.get(), 0), ColumnCount(perUrl.get(), 1),
                                 JoinTotal(ColumnCount(perUrl.get(), 2), ColumnCount(perUrl.get(), 3))});
    }
    return step == SQLITE_DONE || Fail("summary");
}

} // namespace agent
