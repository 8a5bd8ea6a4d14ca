#include <gtest/gtest.h>

#include "DisplayFormat.h"
#include "GraphCtrl.h"

TEST(DisplayFormat, SizesStepThroughUnitsOnTheAlreadyDividedValue)
{
    EXPECT_EQ(FormatSize(0), L"0 Bytes");
    EXPECT_EQ(FormatSize(1023), L"1023 Bytes");
    EXPECT_EQ(FormatSize(1024), L"1.00 KB");
    EXPECT_EQ(FormatSize(1048575), L"1024.00 KB");
    EXPECT_EQ(FormatSize(1048576), L"1.00 MB");
    EXPECT_EQ(FormatSize(1536.0 * 1024 * 1024 * 1024), L"1.50 TB");
    EXPECT_EQ(FormatSize(-5), L"-5 Bytes");
}

TEST(DisplayFormat, SizesOfAPebibyteAndMoreAreEmpty)
{
    const double pebibyte = 1024.0 * 1024 * 1024 * 1024 * 1024;
    EXPECT_EQ(FormatSize(pebibyte), L"");
    EXPECT_EQ(FormatSize(pebibyte * 3), L"");
    EXPECT_EQ(FormatSize(pebibyte - 16.0 * 1024 * 1024 * 1024), L"1023.98 TB") << "just below stays in TB";
}

TEST(DisplayFormat, SpeedsHaveBytesWithoutSecondsAndLargerUnitsPerSecond)
{
    EXPECT_EQ(FormatSpeed(0), L"0.0 Bytes");
    EXPECT_EQ(FormatSpeed(-300), L"0.0 Bytes");
    EXPECT_EQ(FormatSpeed(512), L"512 Bytes");
    EXPECT_EQ(FormatSpeed(2048), L"2.00 KB/Sec");
    EXPECT_EQ(FormatSpeed(3.5 * 1024 * 1024), L"3.50 MB/Sec");
    EXPECT_EQ(FormatSpeed(1024.0 * 1024 * 1024 * 1024 * 1024), L"0.0 Bytes");
}

TEST(DisplayFormat, TimesShowHoursWithinTheDay)
{
    EXPECT_EQ(FormatTime(3725), L"01:02:05");
    EXPECT_EQ(FormatTime(86400), L"00:00:00");
    EXPECT_EQ(FormatTime(25 * 3600), L"01:00:00");
    EXPECT_EQ(FormatTime(59), L"00:00:59");
    EXPECT_EQ(FormatTime(0), L"00:00:00");
}

TEST(DisplayFormat, CurrentFileLabelNamesTheTextAfterTheLastSlash)
{
    const std::vector<std::wstring> list = {L"http://host/a/b/setup.exe", L"noslash", L"http://host/檔案.dat"};
    EXPECT_EQ(FormatCurrentFileLabel(list, 0, 1), L"setup.exe [1/3]");
    EXPECT_EQ(FormatCurrentFileLabel(list, 1, 2), L" [2/3]") << "no slash: empty name";
    EXPECT_EQ(FormatCurrentFileLabel(list, 2, 3), L"檔案.dat [3/3]");
    EXPECT_FALSE(FormatCurrentFileLabel(list, 3, 4).has_value()) << "past the list: label unchanged";
    EXPECT_FALSE(FormatCurrentFileLabel({}, 0, 1).has_value());
}

TEST(DisplayFormat, PercentOfABarIsClampedPositionOverRange)
{
    EXPECT_EQ(FormatPercent(0, 100, 100), L"100%");
    EXPECT_EQ(FormatPercent(0, 100, 37), L"37%");
    EXPECT_EQ(FormatPercent(0, 200, 101), L"50%");
    EXPECT_EQ(FormatPercent(50, 150, 75), L"25%");
    EXPECT_EQ(FormatPercent(10, 10, 10), L"0%") << "an empty range must not divide by zero";
}

TEST(GraphSamples, SpeedsBecomeMegabitsAndAreCappedAtOneHundred)
{
    EXPECT_EQ(CGraphCtrl::MegabitsFromBytesPerSecond(20000000), 152);
    EXPECT_EQ(CGraphCtrl::MegabitsFromBytesPerSecond(131071), 0);
    EXPECT_EQ(CGraphCtrl::MegabitsFromBytesPerSecond(131072), 1);
    EXPECT_EQ(CGraphCtrl::MegabitsFromBytesPerSecond(0x7FFFFFFF), 16383) << "no 32-bit overflow";

    CGraphCtrl graph;
    for (int s : graph.Samples())
        EXPECT_EQ(s, 0);
    graph.AddSample(152);
    graph.AddSample(-3);
    graph.AddSample(40);
    const auto& samples = graph.Samples();
    EXPECT_EQ(samples[65], 100);
    EXPECT_EQ(samples[66], -3) << "negative samples are kept as they are";
    EXPECT_EQ(samples[67], 40);
    for (int i = 0; i < 68; ++i)
        graph.AddSample(i);
    EXPECT_EQ(graph.Samples()[0], 0);
    EXPECT_EQ(graph.Samples()[67], 67) << "the oldest samples move out";
}
