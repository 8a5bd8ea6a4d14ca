#include <gtest/gtest.h>

#include "cp/cpCQoS.h"
#include "cp/cpCQoSLowContextAction.h"
#include "cp/cpCQoSQuota.h"

TEST(cpCQoSContextAction, KindsMakeTheirClasses)
{
    cpQoSContextIo io;
    for (int kind = 1; kind <= 7; ++kind) {
        auto action = cpCreateContextAction(kind, io);
        ASSERT_NE(action, nullptr) << kind;
        EXPECT_EQ(action->GetKind(), kind);
    }
    EXPECT_EQ(cpCreateContextAction(0, io), nullptr);
    EXPECT_EQ(cpCreateContextAction(8, io), nullptr);
}

TEST(cpCQoSQuota, GrantsWhatTheLastSecondLeft)
{
    const auto at = [](std::uint32_t ms) { return cpTime{1000 + ms / 1000, static_cast<std::uint16_t>(ms % 1000)}; };
    cpCQoSQuota quota(10000);
    // A new quota starts at once with the whole of it.
    EXPECT_EQ(quota.Take(4000, at(0)), 4000u);
    EXPECT_EQ(quota.Take(8000, at(500)), 6000u);
    EXPECT_EQ(quota.Take(1, at(1000)), 0u);
    EXPECT_EQ(quota.MsUntilBudget(at(1000)), 1u);
    // The bytes of each millisecond come back 1001 ms after its start: more
    // than a second after any take within it, no sooner.
    EXPECT_EQ(quota.Take(10000, at(1001)), 4000u);
    EXPECT_EQ(quota.Take(10000, at(1500)), 0u);
    EXPECT_EQ(quota.MsUntilBudget(at(1500)), 1u);
    EXPECT_EQ(quota.Take(10000, at(1501)), 6000u);
    // What was granted and not used goes back at once.
    quota.Return(2500);
    EXPECT_EQ(quota.Take(10000, at(1501)), 2500u);
    EXPECT_EQ(quota.TakeCounted(), 20000u);
    EXPECT_EQ(quota.TakeCounted(), 0u);
    // After a whole second unused, or a clock set back, all of it again.
    EXPECT_EQ(quota.Take(20000, at(5000)), 10000u);
    EXPECT_EQ(quota.Take(20000, at(100)), 10000u);
}

TEST(cpCQoSContextAction, OwnQuotaMovesAtOnceAndCanBeShared)
{
    cpQoSContextIo io;
    cpCQoSOwnReceiveOnlyContextAction action(io);
    action.SetQuota(0, 393216);
    EXPECT_EQ(action.TakeSendBudget(4096), 4096u); // unlimited direction
    std::uint32_t granted = 0;
    while (std::uint32_t grant = action.TakeReceiveBudget(1024)) {
        granted += grant;
    }
    EXPECT_EQ(granted, 393216u);
    cpQoSStats stats;
    action.Collect(&stats);
    EXPECT_EQ(stats.received, 393216u);
    EXPECT_EQ(stats.sent, 0u);

    // Two actions on one quota take from one budget.
    auto shared = std::make_shared<cpCQoSQuota>(5000);
    cpCQoSOwnSendOnlyContextAction first(io);
    cpCQoSOwnSendOnlyContextAction second(io);
    EXPECT_TRUE(first.ShareQuota(1, shared));
    EXPECT_TRUE(second.ShareQuota(1, shared));
    EXPECT_EQ(first.TakeReceiveBudget(1024), 1024u);
    EXPECT_EQ(first.TakeSendBudget(4096), 4096u);
    EXPECT_EQ(second.TakeSendBudget(4096), 904u);
    EXPECT_EQ(first.TakeSendBudget(1), 0u);
    cpCQoSHighContextAction unlimited(io);
    EXPECT_FALSE(unlimited.ShareQuota(0, shared));
}

TEST(cpCQoS, SharedBudgetsRefillEverySecond)
{
    cpCQoS qos;
    EXPECT_EQ(qos.TakeSendBudget(4096), 0u); // nothing before the first tick
    qos.Tick();
    EXPECT_EQ(qos.GetTickCount(), 1u);
    std::uint64_t granted = 0;
    while (std::uint32_t grant = qos.TakeReceiveBudget(1 << 20)) {
        granted += grant;
    }
    EXPECT_EQ(granted, cpCQoS::kDefaultRate);
    qos.ReturnReceiveBudget(10);
    EXPECT_EQ(qos.TakeReceiveBudget(1024), 10u);
    EXPECT_EQ(qos.TakeSendBudget(4096), 4096u);
    qos.Tick();
    EXPECT_EQ(qos.TakeReceiveBudget(1024), 1024u);
}
