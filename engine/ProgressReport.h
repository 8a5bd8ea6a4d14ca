#pragma once
// The figures of a job's progress notification (5), from its files: speeds
// measured over an interval, the block and the items. The first item is the
// current file (the first one not complete, or the last file once all are),
// then the other files being transferred, at most 8 items. The job's final
// report, right before its end, shows the figures it ends with: a complete
// last file, or the file that failed the job.

#include <cstdint>
#include <vector>

#include "FileProgress.h"
#include "nw/nwCDNLocalWire.h"

namespace engine {

inline constexpr std::size_t kMaxProgressItems = 8;

struct JobFigures {
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    std::uint32_t filesCompleted = 0;
    std::uint64_t elapsedSeconds = 0;
    std::uint32_t speed = 0;
    bool limited = false;
    bool networkLost = false;
    std::uint32_t failedFile = CDN_NO_FILE; // the file that failed the job
};

// Speeds over the last `seconds` from the bytes counted since the last call
// (segments, files), which start again from 0; answers the job's speed.
std::uint32_t TakeSpeeds(const std::vector<FileProgress*>& files, double seconds);

// Appends notification 5.
void AppendProgress(std::vector<std::uint8_t>& out, const JobFigures& figures, const std::vector<FileProgress*>& files);

} // namespace engine
