#pragma once
// Decides what a failed try of a segment leads to, from the failure, the
// segment's tries, the file's mirrors and whether the network seems gone:
// one action for the job to carry out. It keeps the tries and the mirrors'
// records up to date; it reads no clock, file or socket.
//
// The rules:
// - Three attempts per mirror per segment (an attempt that brought bytes
//   starts the count again), waiting 250 ms, then 500 ms; then the next
//   mirror.
// - A dead answer (401, 403, 404, 410), a refused certificate, a size other
//   than the job's or another file than the other mirrors hold: the mirror
//   is dead for the file, the next one at once.
// - A mirror that answers ranges with the whole file is left; when no
//   mirror serves ranges, the file comes whole from the first byte.
// - The file changed on the server: it starts over, at most three times,
//   then the job fails. A mirror that does not compare its validator in
//   If-Range is asked again at once without it.
// - No answer while the network is lost: wait, without using up attempts.
//   When every mirror failed without an answer and no byte arrived from
//   anywhere since, go round them again: the network may be gone.
// - Every mirror failed: the job fails (11, then 6 result 3) when every
//   mirror is dead, else it gives up (6 result 2).
// - A full disk makes the job wait; another local error fails it.

#include <cstdint>
#include <string>

#include "FileProgress.h"

namespace engine {

struct FailureSituation {
    Clock::time_point now{};
    bool networkLost = false;
    Clock::time_point lastByte{}; // the last byte any transfer received
};

struct FailureAction {
    enum class Kind {
        Retry,       // the segment tries again at `retryAt`, maybe on another mirror
        RestartFile, // the file starts over: its segments go, its bytes are forgotten
        FetchWhole,  // no mirror serves ranges: the file comes whole from the first byte
        FailJob,     // 11 with `text`, code and value, then 6 result 3
        GiveUp,      // 6 result 2
        DiskFull,    // the job waits; `value` bytes are still needed
        LocalError,  // the job fails with the errno in `value`
    };
    Kind kind = Kind::Retry;
    Clock::time_point retryAt{};
    std::string text;
    std::uint32_t code = 0; // CDN_CODE_* of FailJob
    std::uint64_t value = 0;
};

inline constexpr int kAttemptsPerMirror = 3;
inline constexpr int kMaxRestarts = 3;

FailureAction DecideFailure(const FailureReport& report, FileProgress& file, Segment& segment,
                            const FailureSituation& situation);

bool IsDiskFull(int error);

} // namespace engine
