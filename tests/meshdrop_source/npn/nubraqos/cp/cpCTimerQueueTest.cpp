#include <gtest/gtest.h>

#include "FakeClock.h"
#include "NpnWorker.h"
#include "cp/CNpn.h"
#include "cp/cpCTimer.h"
#include "cp/cpCTimerQueue.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"
#include "ov/ovSmartPtr.h"

namespace {

void CountFire(void* context)
{
    ++*static_cast<int*>(context);
}

int g_alive = 0;

class Tracked : public ovTRefCounted<ovIUnknown> {
public:
    Tracked() { ++g_alive; }
    ~Tracked() override { --g_alive; }
};

// Test time starts at second 4000 (a clock an hour behind stays positive).
constexpr std::uint64_t kT0 = 4'000'000;

class TimerQueueTest : public ::testing::Test {
protected:
    FakeClock clock{kT0};
    NpnWorker worker;

    // Moves the clock and runs one tick of the queue, as the platform timer would.
    void TickAt(std::uint64_t ms)
    {
        worker.Run([&] {
            clock.Set(ms);
            worker.GetNpn()->GetTimerQueue()->Tick();
        });
    }
};

} // namespace

TEST_F(TimerQueueTest, PeriodicTimerDoesNotDriftWithLateTicks)
{
    ASSERT_TRUE(worker.IsStarted());
    ovSmartPtr timer;
    int fired = 0;
    worker.Run([&] {
        ASSERT_TRUE(timer.CreateInstance(OVCLS_TIMER));
        timer.Get<cpCTimer>()->Start(1000, &CountFire, &fired, CP_TIMER_TAG_PROGRESS, nullptr);
    });
    TickAt(kT0 + 950);
    EXPECT_EQ(fired, 0);
    TickAt(kT0 + 1050); // due at +1.000
    EXPECT_EQ(fired, 1);
    TickAt(kT0 + 1995); // due at +2.000: a different second, the 10 ms allowance does not apply
    EXPECT_EQ(fired, 1);
    TickAt(kT0 + 2000);
    EXPECT_EQ(fired, 2);
    TickAt(kT0 + 3400); // late by 400 ms
    EXPECT_EQ(fired, 3);
    TickAt(kT0 + 4000); // still due at +4.000, not +4.400
    EXPECT_EQ(fired, 4);
    worker.Run([&] { timer.Reset(); });
    TickAt(kT0 + 5000);
    EXPECT_EQ(fired, 4);
}

TEST_F(TimerQueueTest, TenMillisecondAllowanceWithinTheDueSecond)
{
    ovSmartPtr timer;
    int fired = 0;
    worker.Run([&] {
        ASSERT_TRUE(timer.CreateInstance(OVCLS_TIMER));
        timer.Get<cpCTimer>()->Start(1500, &CountFire, &fired, CP_TIMER_TAG_PROGRESS, nullptr); // due at +1.500
    });
    TickAt(kT0 + 1489);
    EXPECT_EQ(fired, 0);
    TickAt(kT0 + 1490);
    EXPECT_EQ(fired, 1);
    worker.Run([&] { timer.Reset(); });
}

TEST_F(TimerQueueTest, TimersRestartAfterTheClockJumpsBack)
{
    ovSmartPtr timer;
    int fired = 0;
    worker.Run([&] {
        ASSERT_TRUE(timer.CreateInstance(OVCLS_TIMER));
        timer.Get<cpCTimer>()->Start(1000, &CountFire, &fired, CP_TIMER_TAG_PROGRESS, nullptr);
    });
    TickAt(kT0 + 500);
    TickAt(kT0 + 500 - 3'600'000); // an hour back: restarted from here
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(timer.Get<cpCTimer>()->GetDueTime().seconds, (kT0 + 500 - 3'600'000 + 1'000) / 1000);
    TickAt(kT0 + 500 - 3'600'000 + 1'000);
    EXPECT_EQ(fired, 1);
    worker.Run([&] { timer.Reset(); });
}

TEST_F(TimerQueueTest, StartingARunningTimerKeepsOneEntry)
{
    ovSmartPtr timer;
    int fired = 0;
    int before = 0;
    worker.Run([&] {
        before = worker.GetNpn()->GetTimerQueue()->GetCount();
        ASSERT_TRUE(timer.CreateInstance(OVCLS_TIMER));
        timer.Get<cpCTimer>()->Start(1000, &CountFire, &fired, CP_TIMER_TAG_PROGRESS, nullptr);
        timer.Get<cpCTimer>()->Start(1000, &CountFire, &fired, CP_TIMER_TAG_PROGRESS, nullptr);
        EXPECT_EQ(worker.GetNpn()->GetTimerQueue()->GetCount(), before + 1);
    });
    TickAt(kT0 + 1000);
    EXPECT_EQ(fired, 1);
    worker.Run([&] {
        timer.Reset();
        EXPECT_EQ(worker.GetNpn()->GetTimerQueue()->GetCount(), before);
    });
}

TEST_F(TimerQueueTest, CollectorReleasesAtTheFirstTickFourSecondsLater)
{
    worker.Run([&] {
        ovCGarbageCollector* collector = ovCGarbageCollector::GetGarbageCollector();
        EXPECT_EQ(collector, worker.GetNpn()->GetGarbageCollector());
        collector->Add(ovSmartPtr(new Tracked()));
        collector->Add(ovSmartPtr());
        EXPECT_EQ(collector->GetPendingCount(), 1);
        EXPECT_EQ(g_alive, 1);
    });
    auto collectAt = [&](std::uint64_t ms) {
        worker.Run([&] {
            clock.Set(ms);
            worker.GetNpn()->GetGarbageCollector()->Collect();
        });
    };
    collectAt(kT0 + 3'999); // second t + 3
    EXPECT_EQ(g_alive, 1);
    collectAt(kT0 + 4'000); // second t + 4
    EXPECT_EQ(g_alive, 0);
}

TEST_F(TimerQueueTest, CollectorShutdownReleasesAtOnce)
{
    worker.Run([&] {
        ovCGarbageCollector collector;
        EXPECT_TRUE(OV_SUCCEEDED(collector.Init()));
        collector.Add(ovSmartPtr(new Tracked()));
        collector.Add(ovSmartPtr(new Tracked()));
        EXPECT_EQ(g_alive, 2);
        collector.Shutdown();
        EXPECT_EQ(g_alive, 0);
        EXPECT_EQ(collector.GetPendingCount(), 0);
    });
}
