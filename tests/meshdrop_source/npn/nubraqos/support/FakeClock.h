#pragma once
// A hand-set wall clock for the timer queue (cpSetClock). While installed,
// time stands still unless the test moves it, so real ticks of the platform
// timer see the same time as the test's own and nothing fires by surprise.

#include <atomic>
#include <cstdint>

#include "cp/cpClock.h"

class FakeClock {
public:
    explicit FakeClock(std::uint64_t startMs)
    {
        Now() = startMs;
        cpSetClock(&Read);
    }
    ~FakeClock() { cpSetClock(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void Set(std::uint64_t ms) { Now() = ms; }
    void Advance(std::uint64_t ms) { Now() += ms; }
    std::uint64_t Get() const { return Now(); }

private:
    static std::atomic<std::uint64_t>& Now()
    {
        static std::atomic<std::uint64_t> now{0};
        return now;
    }
    static cpTime Read()
    {
        const std::uint64_t ms = Now();
        return {static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint16_t>(ms % 1000)};
    }
};
