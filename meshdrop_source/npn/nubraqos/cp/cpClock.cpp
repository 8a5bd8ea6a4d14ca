#include "cp/cpClock.h"

#include <atomic>
#include <chrono>

namespace {

cpTime SystemClock()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    return {static_cast<std::uint32_t>(ms / 1000), static_cast<std::uint16_t>(ms % 1000)};
}

std::atomic<cpClockFn> g_clock{nullptr};

} // namespace

cpTime cpNow()
{
    cpClockFn clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : SystemClock();
}

void cpSetClock(cpClockFn clock)
{
    g_clock.store(clock, std::memory_order_release);
}
