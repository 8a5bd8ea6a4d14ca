#pragma once
// Makes files durable away from the network loop. Saving a state file syncs
// the part file's data first, then writes the new state under a temporary
// name and renames it over the old one, so that a state file never claims
// bytes that are not on disk. Finishing a file syncs its data, renames the
// part file to the file's name, removes the state file and syncs the
// folder. A few threads do this, so that many small files finish in
// parallel; the tasks of one file (one token) run one after the other, in
// the order submitted. The main thread learns of each result through an
// event descriptor.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace engine {

// A descriptor closed with its last owner; shared between a file and the
// tasks that sync it.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

using SharedFd = std::shared_ptr<Descriptor>;

struct FlushTask {
    enum Kind { SaveState, Finish, Discard };
    Kind kind = SaveState;
    std::uint64_t token = 0; // names the file to the main thread
    SharedFd folder;
    SharedFd data;          // SaveState, Finish
    std::string partName;   // Finish (renamed), Discard (removed)
    std::string finalName;  // Finish
    std::string stateName;  // all: written, removed, removed
    std::string stateTemp;  // SaveState
    std::string stateText;  // SaveState
    std::int64_t size = -1; // Finish: the file's size, which the part file must have
};

struct FlushResult {
    std::uint64_t token = 0;
    FlushTask::Kind kind = FlushTask::SaveState;
    int error = 0; // errno of the step that failed, 0 on success
};

// Runs one task on the calling thread (the threads use it; so does a final
// save at exit).
FlushResult RunFlushTask(const FlushTask& task);

class Flusher {
public:
    explicit Flusher(int threads);
    ~Flusher(); // finishes the queued tasks, then joins
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    void Submit(FlushTask task);
    // Readable while results wait.
    int EventFd() const { return m_eventFd; }
    std::vector<FlushResult> TakeResults();
    // Waits until every submitted task has run.
    void WaitIdle();

private:
    void ThreadMain();

    int m_eventFd = -1;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<FlushTask> m_tasks;
    std::vector<FlushResult> m_results;
    std::set<std::uint64_t> m_runningTokens;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

} // namespace engine
