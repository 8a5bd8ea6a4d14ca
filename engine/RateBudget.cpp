#include "RateBudget.h"

#include <algorithm>

namespace engine {

namespace {
// Bytes come back to the budget a little over a second after their take, so
// that a window of exactly one second measured by anyone else holds them once.
constexpr auto kWindow = std::chrono::milliseconds(1001);
} // namespace

RateBudget::RateBudget(std::uint64_t bytesPerSecond, Clock::time_point now, std::uint64_t largestTake)
    : m_rate(bytesPerSecond), m_largestTake(largestTake),
      // Two pieces, or a fiftieth of a second of the rate where the engine's
      // loop (a refill every 10 ms) would otherwise hold a fast rate back.
      m_pacedCapacity(std::max(2.0 * static_cast<double>(largestTake), static_cast<double>(bytesPerSecond) / 50.0)),
      m_pacedAt(now)
{
    Refill(now);
}

bool RateBudget::HasRoom() const
{
    if (m_rate == 0) {
        return true;
    }
    const bool secondHasRoom = m_inWindow == 0 || m_inWindow + m_largestTake <= m_rate;
    return secondHasRoom && m_paced > 0;
}

void RateBudget::Take(std::uint64_t bytes, Clock::time_point now)
{
    if (m_rate == 0 || bytes == 0)
        return;
    Refill(now);
    if (!m_taken.empty() && m_taken.back().at == now)
        m_taken.back().bytes += bytes;
    else
        m_taken.push_back({now, bytes});
    m_inWindow += bytes;
    m_paced -= static_cast<double>(bytes);
}

void RateBudget::Refill(Clock::time_point now)
{
    if (now > m_pacedAt) {
        const double seconds = std::chrono::duration<double>(now - m_pacedAt).count();
        m_paced = std::min(m_paced + seconds * static_cast<double>(m_rate), m_pacedCapacity);
        m_pacedAt = now;
    }
    while (!m_taken.empty() && now - m_taken.front().at >= kWindow) {
        m_inWindow -= m_taken.front().bytes;
        m_taken.pop_front();
    }
}

std::uint64_t StricterRate(std::uint64_t a, std::uint64_t b)
{
    if (a == 0)
        return b;
    if (b == 0)
        return a;
    return a < b ? a : b;
}

} // namespace engine
