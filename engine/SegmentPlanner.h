#pragma once
// Plans which byte ranges a job's free connections fetch, and from where:
// - a file whose size is not known yet gets one request for its first piece
//   (a file that comes whole, one request for everything);
// - then the bytes neither on disk nor on their way are cut into segments of
//   at least 4 MiB, in file order, as far as connections are free;
// - a connection still free takes a share of the segment that would end
//   last (the slowest, or one waiting for a retry), so that no single slow
//   connection holds up the end; a new part goes to another mirror when the
//   file has one that works;
// - a transfer that brought nothing for 5 seconds gives its range back.
// It adds segments to the files and moves their ends; the job starts the
// transfers. Times are given, never read.

#include <vector>

#include "FileProgress.h"

namespace engine {

inline constexpr std::int64_t kFirstPiece = 1024 * 1024;     // first request of a file of unknown size
inline constexpr std::int64_t kMinSegment = 4 * 1024 * 1024; // a gap is cut into pieces no smaller
inline constexpr std::int64_t kMinSplit = 1024 * 1024;       // both parts of a split keep at least this
inline constexpr auto kStallTime = std::chrono::seconds(5);

// The segments added for `freeSlots` connections, to be started.
std::vector<Segment*> PlanSegments(const std::vector<FileProgress*>& files, int freeSlots, Clock::time_point now);

// The mirror a new segment of the file goes to: round robin over the mirrors
// that work; the least failed one when none does.
std::size_t ChooseMirror(FileProgress& file);

// The segments whose transfer brought nothing for 5 seconds (a transfer
// paused by the rate budget is not stalled).
std::vector<Segment*> StalledSegments(const std::vector<FileProgress*>& files, Clock::time_point now);

} // namespace engine
