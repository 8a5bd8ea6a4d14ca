#pragma once
// The reports a client of the agent server still owes it, and what happens to
// them as connections come and go. An entry leaves only when the server's
// answer for it arrives: the server answers the reports of one connection in
// the order they were sent, so an answer always belongs to the oldest entry
// in flight. When a connection ends before its answers, the entries in flight
// go back to the front of the waiting ones in their order, to be sent again
// on the next connection (so the server may store a report twice: delivery is
// at least once). The next connection waits a delay that doubles with each
// connection lost without an answer, up to a cap.
//
// The queue is plain data with no I/O and no lock: the library's reporter
// keeps it under the library lock, the engine's reporter on its own thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "nw/nwAgentWire.h"

class nwAgentReportQueue {
public:
    using Entry = std::vector<nwAgentReportRecord>;

    // Entries kept at most, waiting and in flight together; beyond it the
    // oldest waiting entry is dropped.
    static constexpr std::size_t kMaxEntries = 1000;
    // Entries sent on one connection and not answered yet, at most.
    static constexpr std::size_t kMaxInFlight = 32;

    struct Delays {
        std::uint32_t firstMs = 1000; // after the first connection lost
        std::uint32_t maxMs = 60000;  // the cap
    };

    nwAgentReportQueue() = default;
    explicit nwAgentReportQueue(Delays delays) : m_delays(delays) {}

    // Appends `count` records as entries of at most AGENT_MAX_RECORDS each.
    // Answers the record counts of the entries dropped to keep the bound,
    // oldest first (empty when none was).
    std::vector<std::size_t> Add(const nwAgentReportRecord* records, std::uint32_t count);

    // The next waiting entry to send, moved in flight; null when none waits
    // or kMaxInFlight are in flight. Valid until the queue changes.
    const Entry* TakeNextToSend();
    // The server answered the oldest entry in flight: it leaves, and the
    // delay starts over. False when nothing was in flight.
    bool OnAnswer();
    // The connection ended: every entry in flight waits again, in front.
    // Answers the delay before the next connection.
    std::uint32_t OnConnectionLost();

    std::size_t GetPendingCount() const { return m_waiting.size() + m_inFlight.size(); }
    std::size_t GetInFlightCount() const { return m_inFlight.size(); }
    bool IsEmpty() const { return GetPendingCount() == 0; }

private:
    Delays m_delays;
    std::uint32_t m_nextDelayMs = 0; // 0: no connection lost since the last answer
    std::deque<Entry> m_waiting;
    std::deque<Entry> m_inFlight;
};
