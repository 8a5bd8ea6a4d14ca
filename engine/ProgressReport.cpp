#include "ProgressReport.h"

#include <algorithm>

namespace engine {

namespace {

std::uint32_t Speed(std::uint64_t bytes, double seconds)
{
    return static_cast<std::uint32_t>(std::min(static_cast<double>(bytes) / std::max(seconds, 0.001), 4.0e9));
}

std::uint8_t ItemState(const FileProgress& file, const JobFigures& figures)
{
    if (file.state == FileProgress::State::Done) {
        return CDN_FILE_DONE;
    }
    if (file.index == figures.failedFile) {
        return CDN_FILE_FAILED;
    }
    return file.segments.empty() ? CDN_FILE_PENDING : CDN_FILE_ACTIVE;
}

} // namespace

std::uint32_t TakeSpeeds(const std::vector<FileProgress*>& files, double seconds)
{
    std::uint64_t jobBytes = 0;
    for (FileProgress* file : files) {
        jobBytes += file->intervalBytes;
        file->speed = Speed(file->intervalBytes, seconds);
        file->intervalBytes = 0;
        for (auto& segment : file->segments) {
            segment->speed = Speed(segment->intervalBytes, seconds);
            segment->intervalBytes = 0;
        }
    }
    return Speed(jobBytes, seconds);
}

void AppendProgress(std::vector<std::uint8_t>& out, const JobFigures& figures, const std::vector<FileProgress*>& files)
{
    nwCDNProgressBlock block{};
    block.jobNumber = figures.jobNumber;
    block.engineJobId = figures.engineJobId;
    block.fileCount = static_cast<std::uint32_t>(files.size());
    block.speed = figures.speed;
    block.filesCompleted = figures.filesCompleted;
    block.elapsedSeconds = figures.elapsedSeconds;
    block.flags = static_cast<std::uint16_t>((figures.limited ? CDN_PROGRESS_LIMITED : 0) |
                                             (figures.networkLost ? CDN_PROGRESS_NETWORK_LOST : 0));
    const auto current = std::find_if(
        files.begin(), files.end(), [](const FileProgress* file) { return file->state != FileProgress::State::Done; });
    const FileProgress* first = current != files.end() ? *current : (files.empty() ? nullptr : files.back());
    auto entryOf = [&](const FileProgress& file) {
        nwCDNProgressEntry entry{};
        entry.item.fileIndex = file.index;
        entry.item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(file.size, 0));
        entry.item.done = static_cast<std::uint64_t>(file.DoneBytes());
        entry.item.speed = file.speed;
        entry.item.connections = static_cast<std::uint16_t>(file.Transferring());
        entry.item.state = ItemState(file, figures);
        entry.item.flags = file.SizeKnown() ? CDN_ITEM_SIZE_KNOWN : 0;
        entry.name = file.displayName;
        return entry;
    };
    std::vector<nwCDNProgressEntry> entries;
    if (first) {
        entries.push_back(entryOf(*first));
    }
    for (const FileProgress* file : files) {
        block.totalSize += static_cast<std::uint64_t>(std::max<std::int64_t>(file->size, 0));
        block.doneSize += static_cast<std::uint64_t>(file->DoneBytes());
        block.connections = static_cast<std::uint16_t>(block.connections + file->Transferring());
        if (file != first && !file->segments.empty() && entries.size() < kMaxProgressItems) {
            entries.push_back(entryOf(*file));
        }
    }
    block.currentFile = first ? first->index : 0;
    nwCDNAppendProgress(out, block, entries);
}

} // namespace engine
