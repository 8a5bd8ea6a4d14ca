// The failure policy, one row per rule: attempts and their waits, mirrors
// left at once, files that change, servers without ranges, a network that
// is gone, and a full disk.

#include <gtest/gtest.h>

#include <cerrno>

#include "FailurePolicy.h"
#include "nw/nwCDNLocalWire.h"

using namespace engine;

namespace {

using Kind = FailureAction::Kind;
using std::chrono::milliseconds;

const Clock::time_point kNow = Clock::time_point{} + std::chrono::hours(1);

struct Row {
    const char* what;
    int mirrors = 2;
    std::uint32_t deadMirrors = 0; // one bit per mirror
    int attempts = 0;              // on mirror 0 before this failure
    int restarts = 0;
    FailureReport report;
    bool networkLost = false;
    bool byteSinceFailing = false;
    // Expected.
    Kind kind = Kind::Retry;
    milliseconds wait{0};
    std::size_t mirrorAfter = 0;
    std::uint32_t code = 0;
    std::uint64_t value = 0;
};

FailureReport Report(Failure failure, long status = 0, std::int64_t serverSize = -1, int error = 0)
{
    return {failure, status, serverSize, error, false};
}

} // namespace

TEST(FailurePolicy, EachRuleOfTheTransfers)
{
    FailureReport progressed = Report(Failure::Transient);
    progressed.progressed = true;
    const Row rows[] = {
        {.what = "a first failed attempt waits 250 ms",
         .report = Report(Failure::Transient, 503),
         .wait = milliseconds(250)},
        {.what = "a second one 500 ms", .attempts = 1, .report = Report(Failure::Transient), .wait = milliseconds(500)},
        {.what = "the third moves to the next mirror at once",
         .attempts = 2,
         .report = Report(Failure::Transient),
         .mirrorAfter = 1},
        {.what = "an attempt that brought bytes starts the count again",
         .attempts = 2,
         .report = progressed,
         .wait = milliseconds(250)},
        {.what = "the last mirror's third failure gives up",
         .mirrors = 1,
         .attempts = 2,
         .report = Report(Failure::Transient),
         .kind = Kind::GiveUp},
        {.what = "404 leaves the mirror at once", .report = Report(Failure::Permanent, 404), .mirrorAfter = 1},
        {.what = "404 on the last mirror fails the job",
         .deadMirrors = 0b10,
         .report = Report(Failure::Permanent, 404),
         .kind = Kind::FailJob,
         .code = CDN_CODE_HTTP_STATUS,
         .value = 404},
        {.what = "a refused certificate everywhere fails the job",
         .mirrors = 1,
         .report = Report(Failure::Certificate),
         .kind = Kind::FailJob,
         .code = CDN_CODE_CERTIFICATE},
        {.what = "another size than the job's everywhere fails the job",
         .mirrors = 1,
         .report = Report(Failure::SizeMismatch, 206, 5000),
         .kind = Kind::FailJob,
         .code = CDN_CODE_SIZE_MISMATCH,
         .value = 5000},
        {.what = "a mirror given up for good is skipped",
         .mirrors = 3,
         .deadMirrors = 0b010,
         .attempts = 2,
         .report = Report(Failure::Transient),
         .mirrorAfter = 2},
        {.what = "a mirror without ranges is left for one that has them",
         .report = Report(Failure::NoRanges, 200),
         .mirrorAfter = 1},
        {.what = "no mirror with ranges: the file comes whole",
         .mirrors = 1,
         .report = Report(Failure::NoRanges, 200),
         .kind = Kind::FetchWhole},
        {.what = "the file changed: it starts over",
         .report = Report(Failure::Changed, 200),
         .kind = Kind::RestartFile},
        {.what = "If-Range not compared: at once without it, no attempt used",
         .attempts = 2,
         .report = Report(Failure::NoIfRange, 200)},
        {.what = "the file keeps changing: the job fails",
         .restarts = kMaxRestarts,
         .report = Report(Failure::Changed, 200),
         .kind = Kind::FailJob,
         .code = CDN_CODE_NONE},
        {.what = "no answer while the network is lost waits without using attempts",
         .attempts = 2,
         .report = Report(Failure::Unanswered),
         .networkLost = true,
         .wait = milliseconds(2000)},
        {.what = "no answer anywhere and nothing arrived: round the mirrors again",
         .mirrors = 1,
         .attempts = 2,
         .report = Report(Failure::Unanswered),
         .wait = milliseconds(1000)},
        {.what = "no answer here while bytes arrived elsewhere: give up",
         .mirrors = 1,
         .attempts = 2,
         .report = Report(Failure::Unanswered),
         .byteSinceFailing = true,
         .kind = Kind::GiveUp},
        {.what = "a full disk makes the job wait",
         .report = Report(Failure::Local, 206, -1, ENOSPC),
         .kind = Kind::DiskFull,
         .code = CDN_CODE_DISK_FULL,
         .value = 1000 - 100},
        {.what = "a quota counts as a full disk",
         .report = Report(Failure::Local, 206, -1, EDQUOT),
         .kind = Kind::DiskFull,
         .code = CDN_CODE_DISK_FULL,
         .value = 1000 - 100},
        {.what = "another local error fails the job",
         .report = Report(Failure::Local, 206, -1, EACCES),
         .kind = Kind::LocalError,
         .code = CDN_CODE_SYSTEM_ERROR,
         .value = EACCES},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> urls;
        for (int i = 0; i < row.mirrors; ++i) {
            urls.push_back("http://m" + std::to_string(i) + "/f.bin");
        }
        FileProgress file(0, "f.bin", 1000, urls);
        file.done.Add(0, 100);
        file.restarts = row.restarts;
        for (int i = 0; i < row.mirrors; ++i) {
            file.mirrors[i].dead = (row.deadMirrors >> i) & 1;
        }
        Segment segment;
        segment.attempts = row.attempts;
        segment.failing = true;
        segment.failingSince = kNow - std::chrono::seconds(3);
        const Clock::time_point lastByte = row.byteSinceFailing ? kNow - std::chrono::seconds(1) : segment.failingSince;
        const FailureAction action = DecideFailure(row.report, file, segment, {kNow, row.networkLost, lastByte});
        EXPECT_EQ(action.kind, row.kind);
        if (action.kind == Kind::Retry) {
            EXPECT_EQ(action.retryAt - kNow, row.wait);
            EXPECT_EQ(segment.mirror, row.mirrorAfter);
        } else {
            EXPECT_EQ(action.code, row.code);
            EXPECT_EQ(action.value, row.value);
        }
    }
}

TEST(FailurePolicy, StaleMirrorIsDroppedForTheFileAndTheOthersCarryOn)
{
    // The first mirror answered with 24 MiB; the second holds 5 MiB of
    // another version.
    FileProgress file(0, "big.bin", -1, {"http://a/files/big.bin", "http://b/old/big.bin"});
    file.size = 24 << 20;
    file.mirrors[0].size = 24 << 20;
    Segment segment;
    segment.mirror = 1;
    FailureAction action = DecideFailure(Report(Failure::Stale, 206, 5 << 20), file, segment, {kNow});
    EXPECT_EQ(action.kind, Kind::Retry);
    EXPECT_EQ(segment.mirror, 0u);
    EXPECT_TRUE(file.mirrors[1].dead);
    EXPECT_EQ(file.restarts, 0);
    // Once the good mirror is gone too, the job fails with the size.
    file.mirrors[0].dead = true;
    segment.mirror = 1;
    action = DecideFailure(Report(Failure::Stale, 206, 5 << 20), file, segment, {kNow});
    EXPECT_EQ(action.kind, Kind::FailJob);
    EXPECT_EQ(action.code, CDN_CODE_SIZE_MISMATCH);
    EXPECT_NE(action.text.find("other mirrors"), std::string::npos) << action.text;
}

TEST(FailurePolicy, ChangedFileForgetsWhatEveryMirrorSaid)
{
    FileProgress file(0, "f.bin", -1, {"http://a/f.bin", "http://b/f.bin"});
    file.size = 1000;
    for (MirrorState& mirror : file.mirrors) {
        mirror.size = 1000;
        mirror.validator = "\"v1\"";
        mirror.noRanges = true;
    }
    Segment segment;
    EXPECT_EQ(DecideFailure(Report(Failure::Changed, 206), file, segment, {kNow}).kind, Kind::RestartFile);
    EXPECT_EQ(file.restarts, 1);
    for (const MirrorState& mirror : file.mirrors) {
        EXPECT_EQ(mirror.size, -1);
        EXPECT_EQ(mirror.validator, "");
        EXPECT_FALSE(mirror.noRanges);
    }
}
