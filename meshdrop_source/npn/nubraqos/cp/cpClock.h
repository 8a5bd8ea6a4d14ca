#pragma once
// The wall clock read by the timer queue, the timers and the collector. Tests
// replace it to drive clock jumps and exact due times by hand.

#include <cstdint>

struct cpTime {
    std::uint32_t seconds = 0;
    std::uint16_t milliseconds = 0;
};

using cpClockFn = cpTime (*)();

// The current wall-clock time (the injected clock when one is set).
cpTime cpNow();
// Replaces the clock; null restores the system wall clock.
void cpSetClock(cpClockFn clock);

// Milliseconds from a to b (negative when b is earlier).
inline std::int64_t cpElapsedMs(cpTime a, cpTime b)
{
    return (std::int64_t{b.seconds} - a.seconds) * 1000 + (std::int64_t{b.milliseconds} - a.milliseconds);
}

// t + ms, carried into seconds.
inline cpTime cpAddMs(cpTime t, std::uint64_t ms)
{
    const std::uint64_t total = std::uint64_t{t.milliseconds} + ms;
    return {static_cast<std::uint32_t>(t.seconds + total / 1000), static_cast<std::uint16_t>(total % 1000)};
}
