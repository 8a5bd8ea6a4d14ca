#pragma once
// A token bucket shared by every transfer of a job held to a rate: transfers
// take what they write; a transfer that finds the bucket empty pauses until
// a refill puts bytes back. The bucket starts empty and holds at most a
// tenth of a second of the rate, so the rate holds without bursts; a write
// may take the bucket below zero by one buffer, which the next refills repay.

#include <chrono>
#include <cstdint>

namespace engine {

class RateBudget {
public:
    using Clock = std::chrono::steady_clock;

    // 0 bytes per second: unlimited.
    explicit RateBudget(std::uint64_t bytesPerSecond = 0, Clock::time_point now = Clock::now());

    bool IsLimited() const { return m_rate != 0; }
    bool HasRoom() const { return m_rate == 0 || m_tokens > 0; }
    void Take(std::uint64_t bytes);
    // Adds the bytes the time since the last refill earned.
    void Refill(Clock::time_point now);

private:
    std::uint64_t m_rate;
    double m_tokens;
    Clock::time_point m_last;
};

} // namespace engine
