#include "SegmentPlanner.h"

#include <algorithm>

#include "FailurePolicy.h"

namespace engine {

namespace {

Segment& AddSegment(FileProgress& file, std::int64_t begin, std::int64_t end)
{
    auto segment = std::make_unique<Segment>();
    segment->file = file.index;
    segment->pos = begin;
    segment->end = end;
    segment->mirror = ChooseMirror(file);
    file.segments.push_back(std::move(segment));
    file.state = FileProgress::State::Active;
    return *file.segments.back();
}

void AssignGaps(FileProgress& file, int* slots, std::vector<Segment*>* added)
{
    if (file.state == FileProgress::State::Finishing || file.state == FileProgress::State::Done) {
        return;
    }
    if (!file.SizeKnown() || !file.rangesSupported) {
        // One request until the size is known (or for a server without ranges).
        if (file.segments.empty()) {
            added->push_back(&AddSegment(file, 0, file.rangesSupported ? kFirstPiece : kOpenEnd));
            --*slots;
        }
        return;
    }
    // The bytes neither on disk nor on their way.
    RangeSet covered = file.done;
    for (const auto& segment : file.segments) {
        covered.Add(segment->pos, std::min(segment->end, file.size));
    }
    for (const ByteRange& gap : covered.Gaps(file.size)) {
        const std::int64_t pieces = std::clamp<std::int64_t>(gap.Size() / kMinSegment, 1, std::max(*slots, 1));
        const std::int64_t piece = (gap.Size() + pieces - 1) / pieces;
        for (std::int64_t begin = gap.begin; begin<gap.end&& * slots> 0; begin += piece) {
            added->push_back(&AddSegment(file, begin, std::min(gap.end, begin + piece)));
            --*slots;
        }
    }
}

// Cuts the segment that would end last, when that is worth a connection.
// Segments planned in this round (`fresh`) start with their own transfer.
Segment* Split(const std::vector<FileProgress*>& files, Clock::time_point now, const std::vector<Segment*>& fresh)
{
    std::uint64_t speedSum = 0;
    int moving = 0;
    for (const FileProgress* file : files) {
        for (const auto& segment : file->segments) {
            if (segment->transferring && segment->speed > 0) {
                speedSum += segment->speed;
                ++moving;
            }
        }
    }
    const double average = moving ? static_cast<double>(speedSum) / moving : 0.0;
    Segment* worst = nullptr;
    FileProgress* worstFile = nullptr;
    double worstTime = 0;
    for (FileProgress* file : files) {
        if (!file->SizeKnown() || !file->rangesSupported) {
            continue;
        }
        for (const auto& segment : file->segments) {
            const std::int64_t remaining = segment->Remaining();
            // A transfer younger than a second has not shown its speed yet.
            const bool young = (segment->transferring && now - segment->started < std::chrono::seconds(1)) ||
                               std::find(fresh.begin(), fresh.end(), segment.get()) != fresh.end();
            if (remaining < 2 * kMinSplit || young) {
                continue;
            }
            const double speed = segment->transferring ? static_cast<double>(segment->speed) : 0.0;
            // A transfer that has not shown its speed yet is taken as average.
            const double assumed = speed > 0 ? speed : (segment->transferring ? average : 0.0);
            const double time = assumed > 0 ? static_cast<double>(remaining) / assumed : 1e18;
            if (time > worstTime) {
                worstTime = time;
                worst = segment.get();
                worstFile = file;
            }
        }
    }
    // Not worth a new connection when it would end within two seconds.
    if (!worst || worstTime < 2.0) {
        return nullptr;
    }
    // Cut where both would end together: the new part gets the share of an
    // average connection.
    const double own = worst->transferring ? static_cast<double>(worst->speed) : 0.0;
    const double share = own + average > 0 ? own / (own + average) : 0.5;
    std::int64_t cut = worst->pos + static_cast<std::int64_t>(static_cast<double>(worst->Remaining()) * share);
    cut = std::clamp(cut, worst->pos + kMinSplit, worst->end - kMinSplit);
    const std::int64_t end = worst->end;
    const std::size_t worstMirror = worst->mirror;
    worst->end = cut;
    Segment& added = AddSegment(*worstFile, cut, end);
    // The new part goes to another mirror when the file has one that works.
    if (worstFile->mirrors.size() > 1 && added.mirror == worstMirror) {
        added.mirror = ChooseMirror(*worstFile);
    }
    return &added;
}

} // namespace

std::size_t ChooseMirror(FileProgress& file)
{
    const std::size_t count = file.mirrors.size();
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t candidate = (file.nextMirror + step) % count;
        const MirrorState& mirror = file.mirrors[candidate];
        if (!mirror.dead && !mirror.noRanges && mirror.failures < kAttemptsPerMirror) {
            file.nextMirror = candidate + 1;
            return candidate;
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const MirrorState& a = file.mirrors[i];
        const MirrorState& b = file.mirrors[best];
        if ((b.dead && !a.dead) || (a.dead == b.dead && a.failures < b.failures)) {
            best = i;
        }
    }
    return best;
}

std::vector<Segment*> PlanSegments(const std::vector<FileProgress*>& files, int freeSlots, Clock::time_point now)
{
    std::vector<Segment*> added;
    for (FileProgress* file : files) {
        if (freeSlots <= 0) {
            return added;
        }
        AssignGaps(*file, &freeSlots, &added);
    }
    for (; freeSlots > 0; --freeSlots) {
        Segment* split = Split(files, now, added);
        if (!split) {
            break;
        }
        added.push_back(split);
    }
    return added;
}

std::vector<Segment*> StalledSegments(const std::vector<FileProgress*>& files, Clock::time_point now)
{
    std::vector<Segment*> stalled;
    for (const FileProgress* file : files) {
        for (const auto& segment : file->segments) {
            if (segment->transferring && !segment->paused && now - segment->lastByte >= kStallTime) {
                stalled.push_back(segment.get());
            }
        }
    }
    return stalled;
}

} // namespace engine
