#pragma once
// CPlatformReporter: tells the agent server how many bytes of which files the
// direct downloader fetched for each job that ends or is stopped. Reports
// queue up in order and leave over one agent connection, opened when a report
// comes and none is open, and closed once the server has answered every
// report and nothing is left to send.
//
// A report leaves the queue only with the server's answer for it
// (nwAgentReportQueue): when the connection cannot be made or ends before
// the answers, the unanswered reports are sent again on the next connection,
// which is tried after a delay that grows with each failure. Finalising the
// library drains the queue for a short while (BeginDrain). Runs under the
// library lock.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nw/nwAgentReportQueue.h"
#include "nw/nwAgentWire.h"
#include "nw/nwIAgentListener.h"
#include "ov/ovSmartPtr.h"

class CPlatformSession;

class CPlatformReporter : public nwIAgentListener {
public:
    static constexpr std::size_t kMaxQueuedReports = nwAgentReportQueue::kMaxEntries;
    static constexpr std::uint32_t kConnectTimeoutSeconds = 5;
    static constexpr std::uint32_t kIdleTimeoutSeconds = 5;

    explicit CPlatformReporter(nwAgentReportQueue::Delays delays = {});
    // Closes the connection and frees what is queued.
    ~CPlatformReporter() override;
    CPlatformReporter(const CPlatformReporter&) = delete;
    CPlatformReporter& operator=(const CPlatformReporter&) = delete;

    // Queues a report of `fileCount` records (copied) and sends it when the
    // connection is up, or opens one (unless a retry is waiting for its
    // delay). Nothing for 0 records.
    void Report(std::uint32_t fileCount, const nwAgentReportRecord* records);
    // Reports the session's files that have written bytes; nothing when none
    // has (or without a session).
    void ReportSession(const CPlatformSession* session);

    // For finalisation: tries to deliver what is pending at once (without
    // waiting for a retry's delay) and signals `drained` (SetEvent) as soon
    // as nothing is pending or the attempt failed. EndDrain forgets the event.
    void BeginDrain(HANDLE drained);
    void EndDrain() { m_drained = nullptr; }

    // ---- nwIAgentListener ----
    void OnAgentConnected(std::uint32_t cookie) override;
    void OnAgentReply(std::uint32_t cookie, std::uint8_t answer) override;
    void OnAgentClosed(std::uint32_t cookie) override;
    void OnAgentConnectFailed(std::uint32_t cookie) override;
    void OnAgentIdleTimeout(std::uint32_t cookie) override;

    // Reports not answered yet, waiting or sent.
    std::size_t GetPendingCount() const { return m_queue.GetPendingCount(); }
    bool HasConnection() const { return static_cast<bool>(m_connection); }
    bool IsRetryWaiting() const { return static_cast<bool>(m_retryTimer); }

private:
    // Starts a connection to the agent server; a name that does not resolve
    // or a context that cannot be set up counts as a failed connection.
    void OpenConnection();
    // Hands queued reports to the agent layer, oldest first, as far as the
    // window of unanswered reports allows.
    void SendQueue();
    // Ends the connection; with `failed`, what was in flight waits again and
    // the next connection is tried after the delay.
    void EndConnection(bool failed);
    // Detaches from the connection and hands it to the deferred-release collector.
    void ReleaseConnection();
    void RetryLater();
    void StopRetryTimer();
    static void OnRetryTimer(void* context);
    void SignalDrained();

    ovSmartPtr m_connection;
    bool m_connected = false;
    nwAgentReportQueue m_queue;
    ovSmartPtr m_retryTimer; // while waiting to connect again
    HANDLE m_drained = nullptr;
};

// The records of the files that have written bytes, in the session's order.
std::vector<nwAgentReportRecord> MakeFileReport(const CPlatformSession& session);
