// The front end's texts and command line, in-process.
#include <gtest/gtest.h>

#include "CliOptions.h"
#include "ProgressText.h"

namespace {

ProgressSample Sample(std::string name)
{
    ProgressSample sample;
    sample.done = 5662310;
    sample.total = 12582912;
    sample.percent = 45;
    sample.speed = 1258291;
    sample.remaining = 5;
    sample.fileNumber = 2;
    sample.fileCount = 4;
    sample.fileName = std::move(name);
    return sample;
}

TEST(ProgressText, UnitsSwitchWhereTheRoundedValueWouldReach1024)
{
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1024), "1.00 KiB");
    EXPECT_EQ(FormatBytes(1048575), "1.00 MiB") << "never 1024.00 KiB";
    EXPECT_EQ(FormatBytes(12582912), "12.00 MiB");
    EXPECT_EQ(FormatBytes(UINT64_MAX), "16.00 EiB");
    EXPECT_EQ(FormatRate(1536), "1.50 KiB/s");
    EXPECT_EQ(FormatEta(3725, 1), "1:02:05");
    EXPECT_EQ(FormatEta(90000, 1), "25:00:00") << "hours are not cut at a day";
    EXPECT_EQ(FormatEta(5, 0), "--:--:--") << "no speed, no estimate";
    constexpr uint64_t kMiB = 1024 * 1024;
    EXPECT_EQ(SecondsLeft(30 * kMiB, 30 * kMiB - 13 * kMiB / 2, 31 * kMiB / 4), 1u) << "part of a second left";
    EXPECT_EQ(SecondsLeft(100, 40, 20), 3u);
    EXPECT_EQ(SecondsLeft(100, 100, 20), 0u);
    EXPECT_EQ(SecondsLeft(100, 0, 0), 0u);
}

TEST(ProgressText, BarLineFitsTheTerminalGivingUpTheBarThenTheName)
{
    const std::string wide = BarLine(Sample("setup.bin"), 100);
    EXPECT_EQ(wide.substr(0, 21), "[2/4] setup.bin  45% ");
    EXPECT_NE(wide.find("[=============>"), std::string::npos) << wide;
    EXPECT_NE(wide.find("] 5.40 MiB/12.00 MiB  1.20 MiB/s  ETA 0:00:05"), std::string::npos) << wide;
    EXPECT_EQ(DisplayColumns(wide), 99u) << "never the last column, so the cursor does not wrap";

    const std::string narrow = BarLine(Sample("setup.bin"), 60);
    EXPECT_EQ(narrow.find('='), std::string::npos) << narrow;
    EXPECT_LE(DisplayColumns(narrow), 59u);

    // Wide characters take two columns and are never cut in half.
    const std::string chinese = BarLine(Sample("遊戲安裝檔案第一部分遊戲安裝檔案第一部分.pak"), 70);
    EXPECT_LE(DisplayColumns(chinese), 69u);
    EXPECT_EQ(CutToColumns("遊戲", 3), "遊");
    EXPECT_EQ(DisplayColumns("a遊"), 3u);
    EXPECT_EQ(BarLine(Sample("x"), 1), "");
}

TEST(ProgressText, PlainLineCarriesExactBytes)
{
    EXPECT_EQ(PlainLine(Sample("setup.bin")), "[2/4] setup.bin 45% 5662310/12582912 bytes 1.20 MiB/s ETA 0:00:05");
    ProgressSample unknown = Sample("");
    unknown.total = 0;
    unknown.speed = 0;
    EXPECT_EQ(PlainLine(unknown), "[2/4] 45% 5662310 bytes 0 B/s ETA --:--:--");
}

TEST(CliOptions, ValuesInEitherFormAndMistakesNamed)
{
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions({"--folder=/tmp/x", "--consent", "-q", "http://h/list.txt"}, options, error)) << error;
    EXPECT_EQ(options.folder, "/tmp/x");
    EXPECT_EQ(options.fileListUrl, "http://h/list.txt");
    EXPECT_TRUE(options.consent);
    EXPECT_TRUE(options.quiet);
    EXPECT_FALSE(options.install);

    const std::vector<std::pair<std::vector<std::string>, std::string>> mistakes = {
        {{"--folder"}, "--folder needs a value"},
        {{"--url=a", "b"}, "the file list address is given twice"},
        {{"-x"}, "unknown option -x"},
        {{"--colour=red"}, "unknown option --colour"},
        {{"--check", "--install"}, "--check downloads nothing, so there is nothing to --install"},
    };
    for (const auto& [args, expected] : mistakes) {
        CliOptions fresh;
        EXPECT_FALSE(ParseCliOptions(args, fresh, error)) << args[0];
        EXPECT_EQ(error, expected);
    }
}

} // namespace

TEST(CliOptions, RatesAsCurlTakesThem)
{
    const std::vector<std::pair<std::string, uint64_t>> rates = {
        {"1000", 1000},     {"500K", 512000}, {"500k", 512000}, {"2M", 2097152}, {"2m", 2097152},
        {"1G", 1073741824}, {"4096B", 4096},  {"0", 0},         {"007", 7},
    };
    for (const auto& [text, expected] : rates) {
        uint64_t rate = 1;
        EXPECT_TRUE(ParseRate(text, rate)) << text;
        EXPECT_EQ(rate, expected) << text;
    }
    for (const std::string bad : {"", "K", "2MB", "1.5M", "-1", "2 M", "2T", "17179869184G", "99999999999999999999"}) {
        uint64_t rate = 0;
        EXPECT_FALSE(ParseRate(bad, rate)) << bad;
    }
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions({"--limit-rate=2M"}, options, error)) << error;
    EXPECT_EQ(options.rateLimit, 2097152u);
    CliOptions twice;
    EXPECT_FALSE(ParseCliOptions({"--limit-rate", "1M", "--limit-rate", "2M"}, twice, error));
    EXPECT_EQ(error, "--limit-rate is given twice");
    EXPECT_FALSE(ParseCliOptions({"--limit-rate", "fast"}, twice, error));
    EXPECT_NE(error.find("500K or 2M"), std::string::npos) << error;
}
