#pragma once
// One file of a job: where it goes, its addresses, and what of it is on
// disk. The file is written as a part file beside its final name, at
// offsets, with the finished ranges kept in memory and saved to the state
// file by the flusher; only the flusher renames it once it is complete.
// Every file operation goes through the folder's descriptor with a plain
// name, so nothing is written outside the folder, and no step follows a
// symbolic link planted there.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Flusher.h"
#include "RangeSet.h"
#include "StateFile.h"

namespace engine {

class Transfer;
class FileTask;

using Clock = std::chrono::steady_clock;

// The end of a range whose size is not known yet.
inline constexpr std::int64_t kOpenEnd = INT64_MAX;

// What the engine checked of a file when the job arrived.
struct FileOrder {
    std::uint32_t index = 0;
    std::string localPath;   // the job's folder and name as the client sent them
    std::string urlEntry;    // the file's addresses as sent, "|" between mirrors
    std::string displayName; // the name as sent
    std::vector<std::string> mirrors;
    std::int64_t declaredSize = -1;
    SharedFd folder;
    std::string name; // on disk
    std::string partName;
    std::string stateName;
    std::string stateTemp;
};

struct Mirror {
    std::string url;
    std::string pinned; // where the address led, once it answered well
    bool dead = false;  // answered with a status that will not change, or another size
    bool noRanges = false;
    int failures = 0; // failures since its last good answer
    long lastStatus = 0;
    bool certificateRefused = false;
};

// A byte range of a file on its way through one connection.
struct Segment {
    enum class Failure { None, Transient, Unanswered, Permanent, SizeMismatch, Changed, NoRanges, Local };

    FileTask* file = nullptr;
    std::int64_t pos = 0;
    std::int64_t end = kOpenEnd; // exclusive
    std::size_t mirror = 0;
    int attempts = 0;                   // on this mirror
    std::uint32_t triedMirrors = 0;     // one bit per mirror whose attempts ran out
    std::unique_ptr<Transfer> transfer; // null while waiting for a retry
    Clock::time_point retryAt{};
    Clock::time_point lastByte{};
    Clock::time_point started{};      // of the current attempt
    Clock::time_point failingSince{}; // first failure since the segment last brought bytes
    bool failing = false;
    std::uint64_t intervalBytes = 0;
    std::uint32_t speed = 0;
    bool whole = false;      // the answer ignored the range: it brings the whole file
    bool progressed = false; // the current attempt brought bytes
    Failure failure = Failure::None;
    long status = 0;
    bool certificateRefused = false;
    int error = 0;
    std::int64_t serverSize = -1;

    std::int64_t Remaining() const { return end == kOpenEnd ? kOpenEnd : end - pos; }
};

class FileTask {
public:
    enum class State { Waiting, Active, Finishing, Done };

    explicit FileTask(FileOrder order);
    ~FileTask();

    const FileOrder& Order() const { return m_order; }
    bool SizeKnown() const { return size >= 0; }

    // The partial download an earlier run left, when it can be continued:
    // a whole state file and a part file at least as long as the state's
    // size, of the size the job gives (when it gives one).
    std::optional<SavedState> FindPartial() const;
    // Removes the part file and the state file (on this thread: nothing may
    // recreate them before it returns).
    void DiscardPartial() const;
    // Continues from a saved state.
    void Resume(const SavedState& state);

    // Opens the part file (truncated unless resuming). False with errno.
    bool OpenPart(int* error);
    // Learns the size: reserves the part file's blocks. False with errno
    // when the space is not there (ENOSPC, EDQUOT) or the file cannot grow.
    bool SetSize(std::int64_t newSize, int* error);
    // Writes at an offset, all or nothing. False with errno.
    bool WriteAt(const char* data, std::size_t length, std::int64_t offset, int* error);
    // Forgets what is on disk: the next transfer starts from the first byte.
    void Restart();

    bool HasPart() const { return m_part != nullptr; }
    FlushTask SaveTask(std::uint64_t token) const;
    // Removes the part file and the state file through the flusher, after
    // the file's tasks already queued.
    FlushTask DiscardTask(std::uint64_t token);
    // Hands the part file to the task: this object no longer writes.
    FlushTask FinishTask(std::uint64_t token);

    // Bytes on disk (complete files: their size).
    std::int64_t DoneBytes() const { return state == State::Done ? std::max<std::int64_t>(size, 0) : done.Total(); }

    std::int64_t size = -1;
    RangeSet done;
    std::string validator;
    bool resumed = false;
    bool rangesSupported = true;
    int restarts = 0;
    std::vector<Mirror> mirrors;
    std::size_t nextMirror = 0;
    std::vector<std::unique_ptr<Segment>> segments;
    State state = State::Waiting;
    bool stateDirty = false;
    bool saveInFlight = false;
    std::uint64_t intervalBytes = 0;
    std::uint32_t speed = 0;
    std::uint64_t fetched = 0; // bytes this run brought, for the agent report

private:
    FlushTask Task(FlushTask::Kind kind, std::uint64_t token) const;

    FileOrder m_order;
    SharedFd m_part;
    std::int64_t m_reserved = 0;
};

} // namespace engine
