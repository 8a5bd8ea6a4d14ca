#include "RateBudget.h"

namespace engine {

namespace {
// Bytes come back to the budget a little over a second after their take, so
// that a window of exactly one second measured by anyone else holds them once.
constexpr auto kWindow = std::chrono::milliseconds(1001);
} // namespace

RateBudget::RateBudget(std::uint64_t bytesPerSecond, Clock::time_point now, std::uint64_t largestTake)
    : m_rate(bytesPerSecond), m_largestTake(largestTake)
{
    Refill(now);
}

bool RateBudget::HasRoom() const
{
    return m_rate == 0 || m_inWindow == 0 || m_inWindow + m_largestTake <= m_rate;
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
}

void RateBudget::Refill(Clock::time_point now)
{
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
