#pragma once
// What the engine knows of one file's transfer, as plain data: the size and
// validator learned from the servers, the bytes on disk, the file's mirrors
// and the segments on their way. The engine's decisions (AnswerJudge,
// FailurePolicy, SegmentPlanner, ProgressReport) read and update only this;
// FileTask adds the part file and the state file on disk.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RangeSet.h"

namespace engine {

using Clock = std::chrono::steady_clock;

// The end of a range whose size is not known yet.
inline constexpr std::int64_t kOpenEnd = INT64_MAX;

// Why a try of a segment failed.
enum class Failure {
    Transient,    // an answer or a transfer that went wrong and may go right
    Unanswered,   // no answer at all: no connection, nothing received
    Permanent,    // 401, 403, 404 or 410
    Certificate,  // the server's certificate was refused
    SizeMismatch, // the server's size differs from the job's
    Stale,        // the mirror holds another file than the mirror that answered first
    Changed,      // the file changed on the server
    NoRanges,     // a range was answered with the whole file
    NoIfRange,    // the whole file to If-Range, of the same validator and size: the server did not compare
    Local,        // the file could not be written
};

struct FailureReport {
    Failure failure = Failure::Transient;
    long status = 0;              // the HTTP status, 0 without an answer
    std::int64_t serverSize = -1; // SizeMismatch, Stale
    int error = 0;                // Local: errno
    bool progressed = false;      // the attempt brought bytes
};

// One address of a file, with what its answers taught.
struct MirrorState {
    std::string url;
    std::string pinned;     // where the address led, once it answered well
    std::int64_t size = -1; // the size it answered with
    std::string validator;  // its ETag (or Last-Modified) of that answer
    bool dead = false;      // answered with a status that will not change, or with another file
    bool noRanges = false;  // answered a range with the whole file
    bool noIfRange = false; // does not compare its own validator (a date it holds too fresh): ask without If-Range
    int failures = 0;       // failures since its last good answer
    long lastStatus = 0;
    bool certificateRefused = false;
};

// A byte range of a file on its way through one connection.
struct Segment {
    std::uint32_t file = 0; // index of the file in its job
    std::int64_t pos = 0;
    std::int64_t end = kOpenEnd; // exclusive
    std::size_t mirror = 0;

    // Its tries: attempts on the current mirror, mirrors whose attempts ran
    // out (one bit each), and since when it fails without bringing a byte.
    int attempts = 0;
    std::uint32_t triedMirrors = 0;
    bool failing = false;
    Clock::time_point failingSince{};
    Clock::time_point retryAt{};

    // The current attempt.
    bool transferring = false;
    bool paused = false;     // waiting for the rate budget
    bool whole = false;      // the answer ignored the range: it brings the whole file
    bool progressed = false; // it brought bytes
    Clock::time_point started{};
    Clock::time_point lastByte{};
    std::uint64_t intervalBytes = 0; // since the last speed measurement
    std::uint32_t speed = 0;
    // Why the job stopped the attempt from inside a transfer's callback
    // (the answer was refused, the write failed); read when it ends.
    std::optional<FailureReport> stopped;

    std::int64_t Remaining() const { return end == kOpenEnd ? kOpenEnd : end - pos; }
};

struct FileProgress {
    enum class State { Waiting, Active, Finishing, Done };

    FileProgress(std::uint32_t fileIndex, std::string name, std::int64_t declared,
                 const std::vector<std::string>& urls);

    bool SizeKnown() const { return size >= 0; }
    // Bytes on disk (complete files: their size).
    std::int64_t DoneBytes() const { return state == State::Done ? std::max<std::int64_t>(size, 0) : done.Total(); }
    // The segments with a transfer running.
    int Transferring() const;
    // Forgets what the servers said: the next answer of each mirror teaches again.
    void ForgetMirrorFacts();

    std::uint32_t index;
    std::string displayName;   // as the job gave it
    std::int64_t declaredSize; // by the job, -1 when it gave none
    std::int64_t size;
    RangeSet done;
    std::string validator; // the first one learned, kept in the state file
    bool resumed = false;
    bool rangesSupported = true;
    int restarts = 0;
    State state = State::Waiting;
    std::vector<MirrorState> mirrors;
    std::size_t nextMirror = 0;
    std::vector<std::unique_ptr<Segment>> segments;
    std::uint64_t intervalBytes = 0;
    std::uint32_t speed = 0;
};

} // namespace engine
