#include "FailurePolicy.h"

#include <algorithm>
#include <cerrno>

#include "nw/nwCDNLocalWire.h"

namespace engine {

namespace {

using Kind = FailureAction::Kind;

FailureAction RetryAt(Clock::time_point when)
{
    FailureAction action;
    action.kind = Kind::Retry;
    action.retryAt = when;
    return action;
}

FailureAction Ending(Kind kind, std::string text = {}, std::uint32_t code = 0, std::uint64_t value = 0)
{
    FailureAction action;
    action.kind = kind;
    action.text = std::move(text);
    action.code = code;
    action.value = value;
    return action;
}

// The next mirror the segment has not run out of, after its current one.
bool MoveToNextMirror(const FileProgress& file, Segment& segment)
{
    segment.triedMirrors |= 1u << segment.mirror;
    segment.attempts = 0;
    for (std::size_t step = 1; step <= file.mirrors.size(); ++step) {
        const std::size_t candidate = (segment.mirror + step) % file.mirrors.size();
        const MirrorState& mirror = file.mirrors[candidate];
        if (!(segment.triedMirrors & (1u << candidate)) && !mirror.dead && !mirror.noRanges) {
            segment.mirror = candidate;
            return true;
        }
    }
    return false;
}

// Every mirror is dead: why the last one died, for the client.
FailureAction FailForGood(const FailureReport& report, const MirrorState& last)
{
    if (report.failure == Failure::SizeMismatch || report.failure == Failure::Stale) {
        const std::string whose = report.failure == Failure::SizeMismatch ? "the job's" : "the other mirrors'";
        return Ending(Kind::FailJob,
                      "the server's size " + std::to_string(report.serverSize) + " differs from " + whose + " for " +
                          last.url,
                      CDN_CODE_SIZE_MISMATCH, static_cast<std::uint64_t>(std::max<std::int64_t>(report.serverSize, 0)));
    }
    if (last.certificateRefused) {
        return Ending(Kind::FailJob, "the server's certificate was refused for " + last.url, CDN_CODE_CERTIFICATE);
    }
    return Ending(Kind::FailJob, "HTTP " + std::to_string(last.lastStatus) + " for " + last.url, CDN_CODE_HTTP_STATUS,
                  static_cast<std::uint64_t>(last.lastStatus));
}

} // namespace

bool IsDiskFull(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

FailureAction DecideFailure(const FailureReport& report, FileProgress& file, Segment& segment,
                            const FailureSituation& situation)
{
    if (!segment.failing) {
        segment.failing = true;
        segment.failingSince = situation.now;
    }
    MirrorState& mirror = file.mirrors[segment.mirror];
    mirror.lastStatus = report.status;
    mirror.certificateRefused = report.failure == Failure::Certificate;
    switch (report.failure) {
    case Failure::Local:
        if (IsDiskFull(report.error)) {
            return Ending(Kind::DiskFull, {}, CDN_CODE_DISK_FULL,
                          static_cast<std::uint64_t>(std::max<std::int64_t>(file.size - file.done.Total(), 0)));
        }
        return Ending(Kind::LocalError, {}, CDN_CODE_SYSTEM_ERROR, static_cast<std::uint64_t>(report.error));
    case Failure::Changed:
        if (++file.restarts > kMaxRestarts) {
            return Ending(Kind::FailJob, "the file keeps changing on the server: " + mirror.url, CDN_CODE_NONE);
        }
        file.ForgetMirrorFacts();
        file.rangesSupported = true;
        return Ending(Kind::RestartFile);
    case Failure::NoRanges:
        mirror.noRanges = true;
        if (std::all_of(file.mirrors.begin(), file.mirrors.end(),
                        [](const MirrorState& m) { return m.dead || m.noRanges; })) {
            for (MirrorState& m : file.mirrors) {
                m.noRanges = false;
            }
            file.rangesSupported = false;
            file.done.Clear();
            return Ending(Kind::FetchWhole);
        }
        break;
    case Failure::NoIfRange:
        // The range again at once, without If-Range: nothing was tried.
        mirror.noIfRange = true;
        return RetryAt(situation.now);
    case Failure::Permanent:
    case Failure::Certificate:
    case Failure::SizeMismatch:
    case Failure::Stale:
        mirror.dead = true;
        break;
    case Failure::Unanswered:
        if (situation.networkLost) {
            // Nothing is reachable: wait without using up the attempts.
            return RetryAt(situation.now + std::chrono::seconds(2));
        }
        [[fallthrough]];
    case Failure::Transient:
        ++mirror.failures;
        if (report.progressed) {
            segment.attempts = 0;
        }
        if (++segment.attempts < kAttemptsPerMirror) {
            return RetryAt(situation.now + std::chrono::milliseconds(250 << (segment.attempts - 1)));
        }
        break;
    }
    if (MoveToNextMirror(file, segment)) {
        return RetryAt(situation.now);
    }
    if (report.failure == Failure::Unanswered && situation.lastByte <= segment.failingSince) {
        // Nothing answered and nothing else arrived since: the network may be
        // gone rather than the mirrors. Go round them again; the network watch
        // tells the client, and a job without network gives up after a while.
        segment.triedMirrors = 0;
        segment.attempts = 0;
        return RetryAt(situation.now + std::chrono::seconds(1));
    }
    if (std::all_of(file.mirrors.begin(), file.mirrors.end(), [](const MirrorState& m) { return m.dead; })) {
        return FailForGood(report, file.mirrors[segment.mirror]);
    }
    return Ending(Kind::GiveUp, "every mirror failed");
}

} // namespace engine
