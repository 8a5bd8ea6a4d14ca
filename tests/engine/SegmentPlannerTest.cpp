// The segment planner: first requests, gaps cut for the free connections,
// splits of the segment that would end last, mirror choice and stalls.

#include <gtest/gtest.h>

#include <functional>

#include "SegmentPlanner.h"

using namespace engine;

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
const Clock::time_point kNow = Clock::time_point{} + std::chrono::hours(1);

FileProgress File(std::uint32_t index, std::int64_t size, int mirrors = 1)
{
    std::vector<std::string> urls;
    for (int i = 0; i < mirrors; ++i) {
        urls.push_back("http://m" + std::to_string(i) + "/f" + std::to_string(index));
    }
    return FileProgress(index, "f", size, urls);
}

// A segment with a transfer that has run for `age` at `speed`.
Segment& Running(FileProgress& file, std::int64_t pos, std::int64_t end, std::uint32_t speed,
                 std::chrono::seconds age = std::chrono::seconds(3), std::size_t mirror = 0)
{
    auto segment = std::make_unique<Segment>();
    segment->file = file.index;
    segment->pos = pos;
    segment->end = end;
    segment->mirror = mirror;
    segment->transferring = true;
    segment->speed = speed;
    segment->started = kNow - age;
    segment->lastByte = kNow;
    file.segments.push_back(std::move(segment));
    file.state = FileProgress::State::Active;
    return *file.segments.back();
}

std::vector<std::pair<std::int64_t, std::int64_t>> Ranges(const std::vector<Segment*>& segments)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    for (const Segment* segment : segments) {
        ranges.emplace_back(segment->pos, segment->end);
    }
    return ranges;
}

using RangeList = std::vector<std::pair<std::int64_t, std::int64_t>>;

template <class... List>
std::vector<FileProgress> Files(List&&... files)
{
    std::vector<FileProgress> list;
    (list.push_back(std::move(files)), ...);
    return list;
}

} // namespace

TEST(SegmentPlanner, GapsGoToFreeConnectionsInFileOrder)
{
    struct Row {
        const char* what;
        std::function<std::vector<FileProgress>()> files;
        int slots;
        RangeList expected;
    };
    const Row rows[] = {
        {"a file of unknown size: one request for its first piece", [] { return Files(File(0, -1)); }, 8, {{0, kMiB}}},
        {"a file that comes whole: one request for everything",
         [] {
             std::vector<FileProgress> files = Files(File(0, 10 * kMiB));
             files[0].rangesSupported = false;
             return files;
         },
         8,
         {{0, kOpenEnd}}},
        {"a large file: pieces of at least 4 MiB",
         [] { return Files(File(0, 10 * kMiB)); },
         8,
         {{0, 5 * kMiB}, {5 * kMiB, 10 * kMiB}}},
        {"as many pieces as connections are free",
         [] { return Files(File(0, 64 * kMiB)); },
         3,
         {{0, 22369622}, {22369622, 44739244}, {44739244, 64 * kMiB}}},
        {"only the bytes neither on disk nor on their way",
         [] {
             std::vector<FileProgress> files = Files(File(0, 12 * kMiB));
             files[0].done.Add(0, 4 * kMiB);
             Running(files[0], 4 * kMiB, 8 * kMiB, 1000);
             return files;
         },
         1,
         {{8 * kMiB, 12 * kMiB}}},
        {"then the next files",
         [] { return Files(File(0, 100), File(1, -1), File(2, 200)); },
         2,
         {{0, 100}, {0, kMiB}}},
        {"files complete or being finished are left alone",
         [] {
             std::vector<FileProgress> files = Files(File(0, 100), File(1, 100), File(2, 300));
             files[0].state = FileProgress::State::Done;
             files[1].state = FileProgress::State::Finishing;
             return files;
         },
         8,
         {{0, 300}}},
        {"no free connection, nothing planned", [] { return Files(File(0, 100)); }, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<FileProgress> files = row.files();
        std::vector<FileProgress*> pointers;
        for (FileProgress& file : files) {
            pointers.push_back(&file);
        }
        EXPECT_EQ(Ranges(PlanSegments(pointers, row.slots, kNow)), row.expected);
    }
}

TEST(SegmentPlanner, FreeConnectionTakesAShareOfTheSegmentThatWouldEndLast)
{
    FileProgress file = File(0, 40 * kMiB, 2);
    file.done.Add(0, 20 * kMiB);
    Segment& fast = Running(file, 20 * kMiB, 24 * kMiB, 4 * kMiB);
    Segment& slow = Running(file, 24 * kMiB, 40 * kMiB, 1 * kMiB);
    std::vector<FileProgress*> files{&file};
    const std::vector<Segment*> added = PlanSegments(files, 1, kNow);
    ASSERT_EQ(added.size(), 1u);
    // The slow one keeps the share it can fetch while an average connection
    // (2.5 MiB/s) fetches the rest: both end together.
    const double share = 1.0 * kMiB / (1.0 * kMiB + 2.5 * kMiB);
    const std::int64_t cut = 24 * kMiB + static_cast<std::int64_t>(static_cast<double>(16 * kMiB) * share);
    EXPECT_EQ(slow.end, cut);
    EXPECT_EQ(added[0]->pos, cut);
    EXPECT_EQ(added[0]->end, 40 * kMiB);
    EXPECT_EQ(fast.end, 24 * kMiB);
    // The new part goes to the other mirror.
    EXPECT_NE(added[0]->mirror, slow.mirror);
}

TEST(SegmentPlanner, SplitsOnlyWhereItPaysOff)
{
    struct Row {
        const char* what;
        std::int64_t remaining;
        std::uint32_t speed;
        std::chrono::seconds age;
        bool transferring;
        bool split;
    };
    const Row rows[] = {
        {"a slow transfer with much left", 16 * kMiB, 100000, std::chrono::seconds(3), true, true},
        {"one that ends within two seconds", 16 * kMiB, 10 * kMiB, std::chrono::seconds(3), true, false},
        {"one younger than a second", 16 * kMiB, 0, std::chrono::seconds(0), true, false},
        {"a range too short to cut", 2 * kMiB - 1, 1000, std::chrono::seconds(3), true, false},
        {"a segment waiting for a retry", 16 * kMiB, 0, std::chrono::seconds(3), false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FileProgress file = File(0, row.remaining);
        Segment& segment = Running(file, 0, row.remaining, row.speed, row.age);
        segment.transferring = row.transferring;
        std::vector<FileProgress*> files{&file};
        EXPECT_EQ(PlanSegments(files, 1, kNow).size(), row.split ? 1u : 0u);
        if (row.split) {
            EXPECT_GE(segment.Remaining(), kMinSplit);
            EXPECT_GE(file.segments.back()->Remaining(), kMinSplit);
        }
    }
    // A file still learning its size, or without ranges, is never split.
    FileProgress unknown = File(0, -1);
    Running(unknown, 0, kMiB * 64, 1000).transferring = false;
    std::vector<FileProgress*> files{&unknown};
    EXPECT_TRUE(PlanSegments(files, 1, kNow).empty());
}

TEST(SegmentPlanner, MirrorsTakeTurnsAmongThoseThatWork)
{
    FileProgress file = File(0, 100, 4);
    file.mirrors[1].dead = true;
    file.mirrors[2].failures = 3;
    EXPECT_EQ(ChooseMirror(file), 0u);
    EXPECT_EQ(ChooseMirror(file), 3u);
    EXPECT_EQ(ChooseMirror(file), 0u);
    file.mirrors[0].noRanges = true;
    file.mirrors[3].dead = true;
    // None works: the least failed one that is not dead.
    file.mirrors[0].failures = 5;
    EXPECT_EQ(ChooseMirror(file), 2u);
}

TEST(SegmentPlanner, TransfersQuietForFiveSecondsHaveStalledUnlessThePaceHeldThem)
{
    FileProgress file = File(0, 64 * kMiB);
    Segment& quiet = Running(file, 0, kMiB, 0);
    quiet.lastByte = kNow - std::chrono::seconds(5);
    Segment& paused = Running(file, kMiB, 2 * kMiB, 0);
    paused.lastByte = kNow - std::chrono::seconds(9);
    paused.paused = true;
    Segment& waiting = Running(file, 2 * kMiB, 3 * kMiB, 0);
    waiting.lastByte = kNow - std::chrono::seconds(9);
    waiting.transferring = false;
    Running(file, 3 * kMiB, 4 * kMiB, 0).lastByte = kNow - std::chrono::seconds(4);
    std::vector<FileProgress*> files{&file};
    EXPECT_EQ(StalledSegments(files, kNow), std::vector<Segment*>{&quiet});
}
