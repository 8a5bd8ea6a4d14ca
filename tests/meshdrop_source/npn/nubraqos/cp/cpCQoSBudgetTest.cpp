#include <gtest/gtest.h>

#include "cp/cpCQoS.h"
#include "cp/cpCQoSLowContextAction.h"

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

TEST(cpCQoSContextAction, OwnQuotaBecomesBudgetOnlyAtCollect)
{
    cpQoSContextIo io;
    cpCQoSOwnReceiveOnlyContextAction action(io);
    action.SetQuota(0, 393216);
    EXPECT_EQ(action.TakeReceiveBudget(1024), 0u);
    EXPECT_EQ(action.TakeSendBudget(4096), 4096u); // unlimited direction

    cpQoSStats stats;
    action.Collect(&stats);
    std::uint32_t granted = 0;
    while (std::uint32_t grant = action.TakeReceiveBudget(1024)) {
        granted += grant;
    }
    EXPECT_EQ(granted, 393216u);
    action.ReturnReceiveBudget(100);
    EXPECT_EQ(action.TakeReceiveBudget(1024), 100u);

    action.Collect(&stats);
    EXPECT_EQ(stats.received, 393216u);
    EXPECT_EQ(stats.sent, 0u);
    EXPECT_EQ(action.TakeReceiveBudget(500000), 393216u);
}

TEST(cpCQoSContextAction, SendOnlyQuotaLeavesReceivingUnlimited)
{
    cpQoSContextIo io;
    cpCQoSOwnSendOnlyContextAction action(io);
    action.SetQuota(1, 5000);
    EXPECT_EQ(action.TakeReceiveBudget(1024), 1024u);
    EXPECT_EQ(action.TakeSendBudget(4096), 0u);
    action.Collect(nullptr);
    EXPECT_EQ(action.TakeSendBudget(4096), 4096u);
    EXPECT_EQ(action.TakeSendBudget(4096), 904u);
    EXPECT_EQ(action.TakeSendBudget(4096), 0u);
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
