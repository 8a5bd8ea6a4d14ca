#include "RateBudget.h"

#include <algorithm>

namespace engine {

RateBudget::RateBudget(std::uint64_t bytesPerSecond, Clock::time_point now)
    : m_rate(bytesPerSecond), m_tokens(0), m_last(now)
{}

void RateBudget::Take(std::uint64_t bytes)
{
    if (m_rate != 0) {
        m_tokens -= static_cast<double>(bytes);
    }
}

void RateBudget::Refill(Clock::time_point now)
{
    if (m_rate == 0 || now <= m_last) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    m_last = now;
    m_tokens = std::min(m_tokens + seconds * static_cast<double>(m_rate), static_cast<double>(m_rate) / 10.0);
}

} // namespace engine
