#include "PostgresStore.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <memory>

namespace agent {

namespace {

// The advisory lock the servers take while they create the schema.
constexpr long long kSchemaLock = 54547;

struct ResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// A text field of COPY's text format.
void AppendCopyText(std::string& row, const std::string& text)
{
    for (const char c : text) {
        switch (c) {
        case '\\':
            row += "\\\\";
            break;
        case '\n':
            row += "\\n";
            break;
        case '\r':
            row += "\\r";
            break;
        case '\t':
            row += "\\t";
            break;
        default:
            row += c;
        }
    }
}

// A bytea field of COPY's text format: "\x" and hex, its backslash escaped.
void AppendCopyBytes(std::string& row, const std::string& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    row += "\\\\x";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        row += kHex[byte >> 4];
        row += kHex[byte & 15];
    }
}

std::string DecodeBytea(const char* text)
{
    std::string bytes;
    if (text[0] != '\\' || text[1] != 'x')
        return text;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (const char* at = text + 2; at[0] && at[1]; at += 2)
        bytes += static_cast<char>(nibble(at[0]) << 4 | nibble(at[1]));
    return bytes;
}

// The server's notices ("relation already exists, skipping") are not news.
void IgnoreNotice(void* /*context*/, const char* /*message*/) {}

std::uint64_t Number(const PGresult* result, int row, int column)
{
    return std::strtoull(PQgetvalue(result, row, column), nullptr, 10);
}

} // namespace

PostgresStore::~PostgresStore()
{
    PQfinish(connection_);
}

bool PostgresStore::Fail(const char* what)
{
    std::string message = connection_ ? PQerrorMessage(connection_) : "no connection";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    error_ = std::string(what) + ": " + message;
    return false;
}

bool PostgresStore::Execute(const char* sql)
{
    const Result result(PQexec(connection_, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || Fail(sql);
}

bool PostgresStore::Open(const std::string& location)
{
    connection_ = PQconnectdb(location.c_str());
    PQsetNoticeProcessor(connection_, &IgnoreNotice, nullptr);
    return Connected() && CreateSchema();
}

bool PostgresStore::Connected()
{
    if (PQstatus(connection_) == CONNECTION_OK)
        return true;
    PQreset(connection_);
    return PQstatus(connection_) == CONNECTION_OK || Fail("connect");
}

bool PostgresStore::CreateSchema()
{
    const std::string lock = "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")";
    if (!Execute("BEGIN") || !Execute(lock.c_str()) ||
        !Execute("CREATE TABLE IF NOT EXISTS agent_schema (version integer NOT NULL)")) {
        Execute("ROLLBACK");
        return false;
    }
    const Result query(PQexec(connection_, "SELECT COALESCE(MAX(version), 0) FROM agent_schema"));
    if (PQresultStatus(query.get()) != PGRES_TUPLES_OK || PQntuples(query.get()) != 1) {
        Fail("schema version");
        Execute("ROLLBACK");
        return false;
    }
    const auto version = static_cast<int>(Number(query.get(), 0, 0));
    bool ok = true;
    if (version > kSchemaVersion) {
        error_ = "the database's schema version " + std::to_string(version) + " is newer than this program's " +
                 std::to_string(kSchemaVersion);
        ok = false;
    } else if (version == 0) {
        ok = Execute("CREATE TABLE reports ("
                     " id bigserial PRIMARY KEY,"
                     " received_at bigint NOT NULL,"
                     " peer text NOT NULL,"
                     " record_count integer NOT NULL)") &&
             Execute("CREATE TABLE records ("
                     " id bigserial PRIMARY KEY,"
                     " report_id bigint NOT NULL REFERENCES reports(id),"
                     " service_id bytea NOT NULL,"
                     " url bytea NOT NULL,"
                     " bytes bigint NOT NULL)") &&
             Execute("CREATE INDEX records_report_id ON records (report_id)") &&
             Execute("INSERT INTO agent_schema (version) VALUES (1)");
    }
    if (ok && Execute("COMMIT"))
        return true;
    Execute("ROLLBACK");
    return false;
}

bool PostgresStore::Copy(const char* sql, const std::string& rows)
{
    const Result start(PQexec(connection_, sql));
    if (PQresultStatus(start.get()) != PGRES_COPY_IN)
        return Fail(sql);
    const bool sent = PQputCopyData(connection_, rows.data(), static_cast<int>(rows.size())) == 1;
    if (PQputCopyEnd(connection_, sent ? nullptr : "not sent") != 1)
        return Fail(sql);
    bool ok = sent;
    while (PGresult* raw = PQgetResult(connection_)) {
        const Result result(raw);
        ok = ok && PQresultStatus(raw) == PGRES_COMMAND_OK;
    }
    return ok || Fail(sql);
}

bool PostgresStore::Insert(std::vector<PendingReport>& reports)
{
    const std::string ids =
        "BEGIN; SELECT nextval('reports_id_seq') FROM generate_series(1, " + std::to_string(reports.size()) + ")";
    const Result allocated(PQexec(connection_, ids.c_str()));
    if (PQresultStatus(allocated.get()) != PGRES_TUPLES_OK ||
        PQntuples(allocated.get()) != static_cast<int>(reports.size()))
        return Fail("report ids");
    std::string reportRows;
    std::string recordRows;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        PendingReport& pending = reports[i];
        pending.id = static_cast<std::int64_t>(Number(allocated.get(), static_cast<int>(i), 0));
        const std::string id = std::to_string(pending.id);
        reportRows += id + '\t' + std::to_string(pending.receivedAt) + '\t';
        AppendCopyText(reportRows, pending.peer);
        reportRows += '\t' + std::to_string(pending.report.records.size()) + '\n';
        for (const ReportRecord& record : pending.report.records) {
            recordRows += id + '\t';
            AppendCopyBytes(recordRows, record.serviceId);
            recordRows += '\t';
            AppendCopyBytes(recordRows, record.url);
            recordRows += '\t' + std::to_string(record.bytes) + '\n';
        }
    }
    return Copy("COPY reports (id, received_at, peer, record_count) FROM STDIN", reportRows) &&
           Copy("COPY records (report_id, service_id, url, bytes) FROM STDIN", recordRows) && Execute("COMMIT");
}

bool PostgresStore::AddBatch(std::vector<PendingReport>& reports)
{
    if (reports.empty())
        return true;
    if (!Connected())
        return false;
    if (Insert(reports))
        return true;
    // Ends the failed transaction (the connection may be gone: then the
    // next batch connects again).
    const Result rollback(PQexec(connection_, "ROLLBACK"));
    return false;
}

bool PostgresStore::ReadSummary(Summary* summary)
{
    const Result totals(PQexec(connection_, "SELECT (SELECT COUNT(*) FROM reports), COUNT(*),"
                                            " COALESCE(SUM(bytes >> 24), 0), COALESCE(SUM(bytes & 16777215), 0)"
                                            " FROM records"));
    if (PQresultStatus(totals.get()) != PGRES_TUPLES_OK || PQntuples(totals.get()) != 1)
        return Fail("summary");
    summary->reports = Number(totals.get(), 0, 0);
    summary->records = Number(totals.get(), 0, 1);
    summary->bytes = JoinTotal(Number(totals.get(), 0, 2), Number(totals.get(), 0, 3));
    const Result perUrl(PQexec(connection_, "SELECT url, COUNT(*), SUM(bytes >> 24), SUM(bytes & 16777215)"
                                            " FROM records GROUP BY url ORDER BY url"));
    if (PQresultStatus(perUrl.get()) != PGRES_TUPLES_OK)
        return Fail("summary");
    for (int row = 0; row < PQntuples(perUrl.get()); ++row) {
        summary->urls.push_back({DecodeBytea(PQgetvalue(perUrl.get(), row, 0)), Number(perUrl.get(), row, 1),
                                 JoinTotal(Number(perUrl.get(), row, 2), Number(perUrl.get(), row, 3))});
    }
    return true;
}

} // namespace agent
