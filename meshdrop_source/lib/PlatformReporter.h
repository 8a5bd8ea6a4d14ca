#pragma once
// CPlatformReporter: tells the agent server how many bytes of which files the
// direct downloader fetched for each job that ends or is stopped. Reports
// queue up in order and leave over one agent connection, opened when a report
// comes and none is open, and closed once the server has answered every
// report sent on it and nothing is left to send. Reports that cannot leave
// (the server's name does not resolve, the server cannot be reached) stay
// queued for the next connection, up to kMaxQueuedReports. Runs under the
// library lock.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "nw/nwAgentWire.h"
#include "nw/nwIAgentListener.h"
#include "ov/ovSmartPtr.h"

class CPlatformSession;

class CPlatformReporter : public nwIAgentListener {
public:
    static constexpr std::size_t kMaxQueuedReports = 1000;
    static constexpr std::uint32_t kConnectTimeoutSeconds = 5;
    static constexpr std::uint32_t kIdleTimeoutSeconds = 5;

    CPlatformReporter() = default;
    // Closes the connection and frees what is queued.
    ~CPlatformReporter() override;
    CPlatformReporter(const CPlatformReporter&) = delete;
    CPlatformReporter& operator=(const CPlatformReporter&) = delete;

    // Queues a report of `fileCount` records (copied) and sends it when the
    // connection is up, or opens one. Nothing for 0 records.
    void Report(std::uint32_t fileCount, const nwAgentReportRecord* records);
    // Reports the session's files that have written bytes; nothing when none
    // has (or without a session).
    void ReportSession(const CPlatformSession* session);

    // ---- nwIAgentListener ----
    void OnAgentConnected(std::uint32_t cookie) override;
    void OnAgentReply(std::uint32_t cookie, std::uint8_t answer) override;
    void OnAgentClosed(std::uint32_t cookie) override;
    void OnAgentConnectFailed(std::uint32_t cookie) override;
    void OnAgentIdleTimeout(std::uint32_t cookie) override;

    std::size_t GetQueuedCount() const { return m_queue.size(); }
    bool HasConnection() const { return static_cast<bool>(m_connection); }

private:
    using ReportEntry = std::vector<nwAgentReportRecord>;

    // Starts a connection to the agent server; nothing when its name does
    // not resolve or the context cannot be set up.
    void OpenConnection();
    // Hands every queued report to the agent layer, oldest first.
    void SendQueue();
    void CloseConnection();
    // Detaches from the connection and hands it to the deferred-release collector.
    void ReleaseConnection();

    ovSmartPtr m_connection;
    bool m_connected = false;
    std::uint32_t m_unanswered = 0; // reports sent on this connection and not answered yet
    std::deque<ReportEntry> m_queue;
};

// The records of the files that have written bytes, in the session's order.
std::vector<nwAgentReportRecord> MakeFileReport(const CPlatformSession& session);
