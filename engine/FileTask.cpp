#include "FileTask.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

namespace engine {

FileTask::FileTask(FileOrder order)
    : FileProgress(order.index, order.displayName, order.declaredSize, order.mirrors), m_order(std::move(order))
{}

FileTask::~FileTask() = default;

std::optional<SavedState> FileTask::FindPartial() const
{
    const int dir = m_order.folder->Get();
    const int fd = ::openat(dir, m_order.stateName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text(kMaxStateText + 1, '\0');
    std::size_t held = 0;
    for (;;) {
        const ssize_t n = ::read(fd, text.data() + held, text.size() - held);
        if (n <= 0) {
            break;
        }
        held += static_cast<std::size_t>(n);
        if (held == text.size()) {
            break;
        }
    }
    ::close(fd);
    text.resize(held);
    std::optional<SavedState> state = ParseState(text);
    struct stat part {};
    if (!state || state->size < 0 || (m_order.declaredSize >= 0 && state->size != m_order.declaredSize) ||
        ::fstatat(dir, m_order.partName.c_str(), &part, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(part.st_mode) ||
        part.st_size < state->size) {
        return std::nullopt;
    }
    return state;
}

void FileTask::DiscardPartial() const
{
    const int dir = m_order.folder->Get();
    ::unlinkat(dir, m_order.partName.c_str(), 0);
    ::unlinkat(dir, m_order.stateName.c_str(), 0);
}

void FileTask::Resume(const SavedState& saved)
{
    size = saved.size;
    done = saved.done;
    validator = saved.validator;
    resumed = true;
    m_reserved = saved.size;
}

bool FileTask::OpenPart(int* error)
{
    if (m_part) {
        return true;
    }
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (resumed ? 0 : O_TRUNC);
    const int fd = ::openat(m_order.folder->Get(), m_order.partName.c_str(), flags, 0644);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    // A part file longer than its saved size holds bytes no state vouches
    // for: they go before anything else is written.
    struct stat held {};
    if (resumed && (::fstat(fd, &held) != 0 || (held.st_size > size && ::ftruncate(fd, size) != 0))) {
        *error = errno;
        ::close(fd);
        return false;
    }
    m_part = std::make_shared<Descriptor>(fd);
    stateDirty = true;
    return true;
}

bool FileTask::SetSize(std::int64_t newSize, int* error)
{
    size = newSize;
    if (!OpenPart(error)) {
        return false;
    }
    if (newSize <= m_reserved) {
        return true;
    }
    // Never more than the disk has: a server announcing a size beyond it
    // finds the disk full (and the client learns how much is missing)
    // instead of a file system's limit or a sparse file that fails later.
    struct stat held {};
    struct statvfs disk {};
    if (::fstat(m_part->Get(), &held) != 0 || ::fstatvfs(m_part->Get(), &disk) != 0) {
        *error = errno;
        return false;
    }
    const auto allocated = static_cast<std::uint64_t>(held.st_blocks) * 512;
    const auto available = static_cast<unsigned __int128>(disk.f_bavail) * disk.f_frsize;
    if (static_cast<std::uint64_t>(newSize) > allocated &&
        static_cast<std::uint64_t>(newSize) - allocated > available) {
        *error = ENOSPC;
        return false;
    }
    // fallocate(2) reserves the blocks at once (glibc's posix_fallocate
    // would write a byte per block where the file system cannot).
    if (::fallocate(m_part->Get(), 0, 0, newSize) != 0) {
        if (errno != EOPNOTSUPP && errno != ENOSYS) {
            *error = errno;
            return false;
        }
        if (::ftruncate(m_part->Get(), newSize) != 0) {
            *error = errno;
            return false;
        }
    }
    m_reserved = newSize;
    return true;
}

bool FileTask::WriteAt(const char* data, std::size_t length, std::int64_t offset, int* error)
{
    if (!m_part && !OpenPart(error)) {
        return false;
    }
    while (length > 0) {
        const ssize_t n = ::pwrite(m_part->Get(), data, length, offset);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += n;
    }
    stateDirty = true;
    return true;
}

void FileTask::Restart()
{
    done.Clear();
    validator.clear();
    size = m_order.declaredSize;
    resumed = false;
    m_reserved = 0;
    if (m_part) {
        [[maybe_unused]] const int ignored = ::ftruncate(m_part->Get(), 0);
    }
    stateDirty = true;
}

FlushTask FileTask::Task(FlushTask::Kind kind, std::uint64_t token) const
{
    FlushTask task;
    task.kind = kind;
    task.token = token;
    task.folder = m_order.folder;
    task.partName = m_order.partName;
    task.stateName = m_order.stateName;
    return task;
}

FlushTask FileTask::SaveTask(std::uint64_t token) const
{
    FlushTask task = Task(FlushTask::SaveState, token);
    task.data = m_part;
    task.stateTemp = m_order.stateTemp;
    task.stateText = FormatState({size, validator, done});
    return task;
}

FlushTask FileTask::DiscardTask(std::uint64_t token)
{
    m_part.reset();
    return Task(FlushTask::Discard, token);
}

FlushTask FileTask::FinishTask(std::uint64_t token)
{
    FlushTask task = Task(FlushTask::Finish, token);
    task.data = std::move(m_part);
    task.finalName = m_order.name;
    task.size = size;
    return task;
}

} // namespace engine
