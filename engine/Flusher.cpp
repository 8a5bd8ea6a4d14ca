#include "Flusher.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace engine {

namespace {

int WriteAll(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

int SaveState(const FlushTask& task)
{
    if (::fdatasync(task.data->Get()) != 0) {
        return errno;
    }
    const int dir = task.folder->Get();
    const int fd = ::openat(dir, task.stateTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno;
    }
    int error = WriteAll(fd, task.stateText);
    if (error == 0 && ::fdatasync(fd) != 0) {
        error = errno;
    }
    ::close(fd);
    if (error == 0 && ::renameat(dir, task.stateTemp.c_str(), dir, task.stateName.c_str()) != 0) {
        error = errno;
    }
    return error;
}

int Finish(const FlushTask& task)
{
    const int dir = task.folder->Get();
    // Complete means exactly the size: a longer or shorter part file (cut,
    // or grown by someone else meanwhile) is never given the file's name.
    struct stat held {};
    if (::fstat(task.data->Get(), &held) != 0) {
        return errno;
    }
    if (held.st_size != task.size) {
        return EIO;
    }
    if (::fdatasync(task.data->Get()) != 0 ||
        ::renameat(dir, task.partName.c_str(), dir, task.finalName.c_str()) != 0) {
        return errno;
    }
    ::unlinkat(dir, task.stateName.c_str(), 0);
    ::fsync(dir);
    return 0;
}

int Discard(const FlushTask& task)
{
    const int dir = task.folder->Get();
    if (::unlinkat(dir, task.partName.c_str(), 0) != 0 && errno != ENOENT) {
        return errno;
    }
    if (::unlinkat(dir, task.stateName.c_str(), 0) != 0 && errno != ENOENT) {
        return errno;
    }
    return 0;
}

} // namespace

Descriptor::~Descriptor()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

FlushResult RunFlushTask(const FlushTask& task)
{
    FlushResult result{task.token, task.kind, 0};
    switch (task.kind) {
    case FlushTask::SaveState:
        result.error = SaveState(task);
        break;
    case FlushTask::Finish:
        result.error = Finish(task);
        break;
    case FlushTask::Discard:
        result.error = Discard(task);
        break;
    }
    return result;
}

Flusher::Flusher(int threads) : m_eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    for (int i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { ThreadMain(); });
    }
}

Flusher::~Flusher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
    if (m_eventFd >= 0) {
        ::close(m_eventFd);
    }
}

void Flusher::Submit(FlushTask task)
{
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

std::vector<FlushResult> Flusher::TakeResults()
{
    std::uint64_t count = 0;
    while (::read(m_eventFd, &count, sizeof count) < 0 && errno == EINTR) {}
    std::lock_guard lock(m_mutex);
    std::vector<FlushResult> results;
    results.swap(m_results);
    return results;
}

void Flusher::WaitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_tasks.empty() && m_runningTokens.empty(); });
}

void Flusher::ThreadMain()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        // The first task whose file has no task running.
        auto next = m_tasks.end();
        m_wake.wait(lock, [&] {
            next = std::find_if(m_tasks.begin(), m_tasks.end(),
                                [&](const FlushTask& task) { return !m_runningTokens.contains(task.token); });
            return next != m_tasks.end() || (m_stop && m_tasks.empty());
        });
        if (next == m_tasks.end()) {
            return; // stopping, and nothing is left to do
        }
        FlushTask task = std::move(*next);
        m_tasks.erase(next);
        m_runningTokens.insert(task.token);
        lock.unlock();
        const FlushResult result = RunFlushTask(task);
        task = FlushTask(); // release the descriptors outside the lock
        lock.lock();
        m_runningTokens.erase(result.token);
        m_results.push_back(result);
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_eventFd, &one, sizeof one);
        // A task of the same file may have waited for this one.
        m_wake.notify_all();
        if (m_tasks.empty() && m_runningTokens.empty()) {
            m_idle.notify_all();
        }
    }
}

} // namespace engine
