#include "nw/nwAgentReportQueue.h"

#include <algorithm>

std::vector<std::size_t> nwAgentReportQueue::Add(const nwAgentReportRecord* records, std::uint32_t count)
{
    std::vector<std::size_t> dropped;
    if (records == nullptr)
        return dropped;
    // Reports larger than the server takes leave as several.
    for (std::uint32_t first = 0; first < count; first += AGENT_MAX_RECORDS) {
        const std::uint32_t size = std::min(AGENT_MAX_RECORDS, count - first);
        m_waiting.emplace_back(records + first, records + first + size);
    }
    // Entries in flight cannot be taken back; the window keeps them far
    // below the bound, so a waiting one is always there to drop.
    while (GetPendingCount() > kMaxEntries && !m_waiting.empty()) {
        dropped.push_back(m_waiting.front().size());
        m_waiting.pop_front();
    }
    return dropped;
}

const nwAgentReportQueue::Entry* nwAgentReportQueue::TakeNextToSend()
{
    if (m_waiting.empty() || m_inFlight.size() >= kMaxInFlight)
        return nullptr;
    m_inFlight.push_back(std::move(m_waiting.front()));
    m_waiting.pop_front();
    return &m_inFlight.back();
}

bool nwAgentReportQueue::OnAnswer()
{
    if (m_inFlight.empty())
        return false;
    m_inFlight.pop_front();
    m_nextDelayMs = 0;
    return true;
}

std::uint32_t nwAgentReportQueue::OnConnectionLost()
{
    while (!m_inFlight.empty()) {
        m_waiting.push_front(std::move(m_inFlight.back()));
        m_inFlight.pop_back();
    }
    m_nextDelayMs = m_nextDelayMs == 0 ? m_delays.firstMs : std::min(m_nextDelayMs * 2, m_delays.maxMs);
    return m_nextDelayMs;
}
