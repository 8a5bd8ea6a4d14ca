#include "cp/cpCQoSQuota.h"

#include <algorithm>

namespace {

std::int64_t Milliseconds(cpTime t)
{
    return std::int64_t{t.seconds} * 1000 + t.milliseconds;
}

} // namespace

void cpCQoSQuota::Advance(std::int64_t nowMs)
{
    if (!m_started || nowMs < m_newestMs) {
        // The first take, or a clock set back: nothing taken before counts.
        m_bytes.fill(0);
        m_inWindow = 0;
        m_newestMs = nowMs;
        m_started = true;
        return;
    }
    const std::int64_t steps = std::min(nowMs - m_newestMs, kWindowMs);
    for (std::int64_t i = 1; i <= steps; ++i) {
        std::uint32_t& slot = At(m_newestMs + i);
        m_inWindow -= slot;
        slot = 0;
    }
    m_newestMs = nowMs;
}

std::uint32_t cpCQoSQuota::Take(std::uint32_t bytes, cpTime now)
{
    Advance(Milliseconds(now));
    const std::uint64_t left = m_perSecond - std::min<std::uint64_t>(m_inWindow, m_perSecond);
    const auto grant = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, left));
    At(m_newestMs) += grant;
    m_inWindow += grant;
    m_counted += grant;
    return grant;
}

void cpCQoSQuota::Return(std::uint32_t bytes)
{
    // Only what is still in the latest millisecond comes back; anything
    // more stays counted, which errs on the side of the quota.
    std::uint32_t& slot = At(m_newestMs);
    const std::uint32_t back = std::min(bytes, slot);
    slot -= back;
    m_inWindow -= back;
    m_counted -= std::min<std::uint64_t>(back, m_counted);
}

std::uint32_t cpCQoSQuota::MsUntilBudget(cpTime now)
{
    const std::int64_t nowMs = Milliseconds(now);
    Advance(nowMs);
    if (m_inWindow < m_perSecond) {
        return 0;
    }
    // The oldest millisecond with bytes leaves the window first.
    for (std::int64_t ms = m_newestMs - kWindowMs + 1; ms <= m_newestMs; ++ms) {
        if (At(ms) != 0) {
            return static_cast<std::uint32_t>(ms + kWindowMs - nowMs);
        }
    }
    return 0;
}

std::uint64_t cpCQoSQuota::TakeCounted()
{
    const std::uint64_t counted = m_counted;
    m_counted = 0;
    return counted;
}
