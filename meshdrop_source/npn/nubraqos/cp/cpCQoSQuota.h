#pragma once
// A quota of bytes per second in one direction and its budget: a context's
// own quota, or one shared by the connections of one download that follow
// each other, so that their bytes count against one budget.
//
// The budget is a sliding second: a take is granted what the quota leaves
// after the bytes taken in the last second, so no one-second window ever
// holds more than the quota, and a new quota (or a new connection on a
// shared one) starts at once rather than at the bandwidth manager's next
// tick. Bytes are counted per millisecond of the wall clock (cpNow), and
// come back to the budget 1001 ms after the start of the millisecond in
// which they were taken: more than a second after the take itself, wherever
// in that millisecond it fell.

#include <array>
#include <cstdint>

#include "cp/cpClock.h"

class cpCQoSQuota {
public:
    explicit cpCQoSQuota(std::uint32_t perSecond = 0) : m_perSecond(perSecond) {}

    void SetPerSecond(std::uint32_t perSecond) { m_perSecond = perSecond; }
    std::uint32_t GetPerSecond() const { return m_perSecond; }

    // Grants up to `bytes` of what the last second left at `now`.
    std::uint32_t Take(std::uint32_t bytes, cpTime now = cpNow());
    // Gives back bytes of the last grant that were not used.
    void Return(std::uint32_t bytes);
    // Milliseconds from `now` until some budget comes back (0 when some is
    // left now).
    std::uint32_t MsUntilBudget(cpTime now = cpNow());
    // Bytes taken (less returned) since the last call.
    std::uint64_t TakeCounted();

private:
    static constexpr std::int64_t kWindowMs = 1001;

    // Forgets the milliseconds that have left the window ending at `nowMs`.
    void Advance(std::int64_t nowMs);
    std::uint32_t& At(std::int64_t ms)
    {
        return m_bytes[static_cast<std::size_t>((ms % kWindowMs + kWindowMs) % kWindowMs)];
    }

    std::uint32_t m_perSecond;
    std::array<std::uint32_t, kWindowMs> m_bytes{}; // bytes taken in each of the last kWindowMs ms
    std::int64_t m_newestMs = 0;                    // the millisecond of the latest take
    std::uint64_t m_inWindow = 0;                   // their sum
    std::uint64_t m_counted = 0;
    bool m_started = false;
};
