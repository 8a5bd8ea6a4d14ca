// The progress notification as the engine makes it, read back with the
// wire's decoder: the current file first, the files being transferred, the
// figures learned from the servers, and the final report of a job.

#include <gtest/gtest.h>

#include "ProgressReport.h"
#include "nw/nwFrame.h"

using namespace engine;

namespace {

struct Decoded {
    nwFrameHeader header;
    nwCDNProgressBlock block{};
    std::vector<std::pair<nwCDNProgressItem, std::string>> items;
};

Decoded Decode(const std::vector<std::uint8_t>& frame)
{
    Decoded decoded;
    decoded.header = nwFrameHeader::Decode(frame.data());
    EXPECT_EQ(frame.size(), nwFrameTotalSize(decoded.header.payloadLength));
    nwCDNProgressRecord record;
    std::vector<nwCDNProgressItemRecord> items;
    EXPECT_TRUE(nwCDNReadProgress(frame.data() + nwFrameHeader::kSize, decoded.header.payloadLength, &record, &items));
    decoded.block = record.block;
    for (std::uint32_t i = 0; i < record.block.itemCount; ++i) {
        decoded.items.emplace_back(record.items[i].item, record.items[i].name);
    }
    return decoded;
}

FileProgress File(std::uint32_t index, std::int64_t size, std::string name)
{
    return FileProgress(index, std::move(name), size, {"http://h/" + std::to_string(index)});
}

void AddSegment(FileProgress& file, bool transferring)
{
    auto segment = std::make_unique<Segment>();
    segment->file = file.index;
    segment->transferring = transferring;
    file.segments.push_back(std::move(segment));
}

} // namespace

TEST(ProgressReport, CurrentFileFirstThenTheFilesOnTheirWay)
{
    std::vector<FileProgress> files;
    files.push_back(File(0, 100, "done.bin"));
    files.push_back(File(1, 1000, "current.bin"));
    files.push_back(File(2, -1, "learning.bin"));
    files.push_back(File(3, 500, "waiting.bin"));
    files[0].state = FileProgress::State::Done;
    files[1].done.Add(0, 400);
    files[1].speed = 300;
    AddSegment(files[1], true);
    AddSegment(files[1], false); // waiting for a retry
    files[2].done.Add(0, 50);
    AddSegment(files[2], true);
    std::vector<FileProgress*> pointers;
    for (FileProgress& file : files) {
        pointers.push_back(&file);
    }
    JobFigures figures;
    figures.jobNumber = 7;
    figures.engineJobId = 3;
    figures.filesCompleted = 1;
    figures.elapsedSeconds = 12;
    figures.speed = 350;
    figures.limited = true;
    std::vector<std::uint8_t> frame;
    AppendProgress(frame, figures, pointers);
    const Decoded d = Decode(frame);
    EXPECT_EQ(+d.header.messageClass, CDN_CLASS);
    EXPECT_EQ(+d.header.messageType, CDN_NOTE_JOB_PROGRESS);
    EXPECT_EQ(+d.block.jobNumber, 7u);
    EXPECT_EQ(+d.block.engineJobId, 3u);
    EXPECT_EQ(+d.block.fileCount, 4u);
    EXPECT_EQ(+d.block.currentFile, 1u);
    EXPECT_EQ(+d.block.totalSize, 100u + 1000u + 500u); // unknown sizes count 0
    EXPECT_EQ(+d.block.doneSize, 100u + 400u + 50u);
    EXPECT_EQ(+d.block.speed, 350u);
    EXPECT_EQ(+d.block.filesCompleted, 1u);
    EXPECT_EQ(+d.block.elapsedSeconds, 12u);
    EXPECT_EQ(+d.block.connections, 2u); // the segment waiting for its retry has none
    EXPECT_EQ(+d.block.flags, CDN_PROGRESS_LIMITED);
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0].second, "current.bin");
    EXPECT_EQ(+d.items[0].first.fileIndex, 1u);
    EXPECT_EQ(+d.items[0].first.size, 1000u);
    EXPECT_EQ(+d.items[0].first.done, 400u);
    EXPECT_EQ(+d.items[0].first.speed, 300u);
    EXPECT_EQ(+d.items[0].first.connections, 1u);
    EXPECT_EQ(+d.items[0].first.state, CDN_FILE_ACTIVE);
    EXPECT_EQ(+d.items[0].first.flags, CDN_ITEM_SIZE_KNOWN);
    EXPECT_EQ(d.items[1].second, "learning.bin");
    EXPECT_EQ(+d.items[1].first.size, 0u);
    EXPECT_EQ(+d.items[1].first.flags, 0);
}

TEST(ProgressReport, FinalReportShowsTheWholeJobOrTheFileThatFailedIt)
{
    std::vector<FileProgress> files;
    for (std::uint32_t i = 0; i < 10; ++i) {
        files.push_back(File(i, 1000 + i, "f" + std::to_string(i)));
        files.back().state = FileProgress::State::Done;
    }
    std::vector<FileProgress*> pointers;
    for (FileProgress& file : files) {
        pointers.push_back(&file);
    }
    JobFigures figures;
    figures.filesCompleted = 10;
    std::vector<std::uint8_t> frame;
    AppendProgress(frame, figures, pointers);
    Decoded d = Decode(frame);
    EXPECT_EQ(+d.block.doneSize, +d.block.totalSize);
    EXPECT_EQ(+d.block.currentFile, 9u);
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(+d.items[0].first.state, CDN_FILE_DONE);
    EXPECT_EQ(+d.items[0].first.done, +d.items[0].first.size);

    // The job failed on file 4; more than 8 files on their way are cut to 8.
    for (std::uint32_t i = 4; i < 10; ++i) {
        files[i].state = FileProgress::State::Active;
        AddSegment(files[i], true);
    }
    files.push_back(File(10, 5, "g"));
    files.push_back(File(11, 5, "h"));
    files.push_back(File(12, 5, "i"));
    pointers.clear();
    for (FileProgress& file : files) {
        if (file.index >= 10) {
            AddSegment(file, true);
        }
        pointers.push_back(&file);
    }
    figures.failedFile = 4;
    frame.clear();
    AppendProgress(frame, figures, pointers);
    d = Decode(frame);
    ASSERT_EQ(d.items.size(), kMaxProgressItems);
    EXPECT_EQ(+d.items[0].first.fileIndex, 4u);
    EXPECT_EQ(+d.items[0].first.state, CDN_FILE_FAILED);
    EXPECT_EQ(+d.block.connections, 6u + 3u);
}

TEST(ProgressReport, SpeedsAreTheBytesOfTheIntervalOverItsLength)
{
    FileProgress a = File(0, 100, "a");
    FileProgress b = File(1, 100, "b");
    AddSegment(a, true);
    a.intervalBytes = 3000;
    a.segments[0]->intervalBytes = 3000;
    b.intervalBytes = 1000;
    std::vector<FileProgress*> files{&a, &b};
    EXPECT_EQ(TakeSpeeds(files, 2.0), 2000u);
    EXPECT_EQ(a.speed, 1500u);
    EXPECT_EQ(a.segments[0]->speed, 1500u);
    EXPECT_EQ(b.speed, 500u);
    EXPECT_EQ(a.intervalBytes, 0u);
    EXPECT_EQ(TakeSpeeds(files, 1.0), 0u);
}
