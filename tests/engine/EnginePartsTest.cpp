// The engine's small parts on their own: names, the state file, the
// set of ranges on disk and the rate budget.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "FileName.h"
#include "RangeSet.h"
#include "RateBudget.h"
#include "StateFile.h"

using namespace engine;

TEST(EngineParts, LongNamesKeepTheirSuffixesWithinTheLimit)
{
    EXPECT_EQ(PartFileName("a.bin"), "a.bin.mdpart");
    const std::string longName(250, 'n');
    const std::string part = PartFileName(longName);
    EXPECT_LE(part.size(), 255u);
    EXPECT_EQ(part, PartFileName(longName)); // the same on every run, so a later run finds it
    EXPECT_NE(part, PartFileName(std::string(249, 'n') + "m"));
}

TEST(EngineParts, StateFileReadsBackOnlyWhenWholeAndConsistent)
{
    SavedState state;
    state.size = 1000;
    state.validator = "\"3e8-5f\"";
    state.done.Add(0, 100);
    state.done.Add(500, 1000);
    const std::string text = FormatState(state);
    const std::optional<SavedState> back = ParseState(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size, 1000);
    EXPECT_EQ(back->validator, state.validator);
    EXPECT_EQ(back->done.Ranges(), state.done.Ranges());

    EXPECT_FALSE(ParseState(text.substr(0, text.size() - 4))) << "cut before its end line";
    EXPECT_FALSE(ParseState(std::string(text.size(), '\0'))) << "zero-filled";
    EXPECT_FALSE(ParseState("MDSTATE 1\nsize 10\nvalidator \ndone 0 11\nend\n")) << "range past the size";
    EXPECT_FALSE(ParseState("MDSTATE 1\nsize 10\nvalidator \ndone 5 5\nend\n")) << "empty range";
    EXPECT_FALSE(ParseState("MDSTATE 1\nsize x\nvalidator \nend\n"));
    EXPECT_FALSE(ParseState(text + "more\n")) << "text after the end line";
    EXPECT_TRUE(ParseState("MDSTATE 1\nsize -1\nvalidator \nend\n"));
}

TEST(EngineParts, RangesMergeAndLeaveTheRightGaps)
{
    RangeSet set;
    set.Add(10, 20);
    set.Add(30, 40);
    set.Add(20, 25); // touches the first
    set.Add(5, 5);   // empty
    EXPECT_EQ(set.Ranges(), (std::vector<ByteRange>{{10, 25}, {30, 40}}));
    set.Add(0, 35); // swallows both ends
    EXPECT_EQ(set.Ranges(), (std::vector<ByteRange>{{0, 40}}));
    set.Add(50, 60);
    EXPECT_EQ(set.Total(), 50);
    EXPECT_EQ(set.Gaps(70), (std::vector<ByteRange>{{40, 50}, {60, 70}}));
    EXPECT_FALSE(set.Covers(70));
    EXPECT_TRUE(set.Covers(40));
    EXPECT_EQ(set.RunEnd(12), 40);
}

TEST(EngineParts, RateBudgetHoldsEveryWindowOfOneSecondToTheRate)
{
    using Clock = RateBudget::Clock;
    const Clock::time_point start{};
    for (const std::uint64_t rate : {393216ull, 2ull << 20, 1000ull}) {
        SCOPED_TRACE(rate);
        RateBudget budget(rate, start);
        // A greedy reader takes 16 KiB whenever the budget has room; the loop
        // refills every 10 ms as the engine's does.
        std::vector<std::uint64_t> perTick; // bytes taken in each 10 ms
        for (int tick = 1; tick <= 1000; ++tick) {
            const Clock::time_point now = start + std::chrono::milliseconds(10 * tick);
            budget.Refill(now);
            std::uint64_t taken = 0;
            while (budget.HasRoom()) {
                budget.Take(16384, now);
                taken += 16384;
            }
            perTick.push_back(taken);
        }
        std::uint64_t total = 0;
        std::uint64_t largest = 0;
        for (std::size_t i = 0; i < perTick.size(); ++i) {
            std::uint64_t window = 0; // the ticks of one second from tick i on, both ends in
            for (std::size_t j = i; j < perTick.size() && j <= i + 100; ++j)
                window += perTick[j];
            largest = std::max(largest, window);
            total += perTick[i];
        }
        if (rate >= 16384) {
            EXPECT_LE(largest, rate);
            // A second's last piece of room may stay unused, and the pacing
            // starts empty: within one piece a second and two at the start.
            EXPECT_GE(total, 10 * (rate - 16384) - 2 * 16384);
        } else {
            EXPECT_EQ(largest, 16384u) << "a rate below one piece lets one piece a second through";
        }
    }
    EXPECT_TRUE(RateBudget().HasRoom());
    EXPECT_EQ(StricterRate(0, 5), 5u);
    EXPECT_EQ(StricterRate(7, 5), 5u);
    EXPECT_EQ(StricterRate(7, 0), 7u);
}
