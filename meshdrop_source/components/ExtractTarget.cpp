#include "ExtractTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <win32_ext.h>

#include "ArchiveEntryName.h"

namespace {

constexpr mode_t kFolderMode = 0755;

int OpenFolderAt(int parent, const char* name)
{
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens the folder `name` inside `parent`, creating it when missing.
int OpenOrCreateFolderAt(int parent, const char* name)
{
    int fd = OpenFolderAt(parent, name);
    if (fd < 0 && errno == ENOENT && (mkdirat(parent, name, kFolderMode) == 0 || errno == EEXIST))
        fd = OpenFolderAt(parent, name);
    return fd;
}

bool WriteAll(int fd, const char* bytes, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

CExtractTarget::CExtractTarget(const char* folder, uint64_t maxBytes, uint32_t maxEntries)
    : m_folder(folder != nullptr ? folder : ""), m_maxBytes(maxBytes), m_maxEntries(maxEntries)
{}

CExtractTarget::~CExtractTarget()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool CExtractTarget::Open()
{
    if (m_fd >= 0)
        return true;
    const std::string posix = W32PathToPosix(std::string_view(m_folder));
    if (posix.empty())
        return false;
    // The target folder itself is the caller's: its path may pass through links.
    int fd = open(posix[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const std::string& step : SplitEntryName(posix)) {
        if (fd < 0)
            break;
        int next = openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && (mkdirat(fd, step.c_str(), kFolderMode) == 0 || errno == EEXIST))
            next = openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    m_fd = fd;
    return m_fd >= 0;
}

bool CExtractTarget::CountEntry()
{
    return ++m_entries <= m_maxEntries;
}

bool CExtractTarget::Charge(size_t bytes)
{
    m_bytes += bytes;
    return m_bytes <= m_maxBytes;
}

bool CExtractTarget::NamesNothing(std::string_view entryName)
{
    return SplitEntryName(MakeSafeEntryName(entryName)).empty();
}

int CExtractTarget::OpenFolders(const std::vector<std::string>& steps, size_t count)
{
    // A name with a zero byte would name another file than it says.
    for (const std::string& step : steps) {
        if (step.find('\0') != std::string::npos)
            return -1;
    }
    if (!Open())
        return -1;
    int fd = dup(m_fd);
    for (size_t i = 0; i < count && fd >= 0; ++i) {
        const int next = OpenOrCreateFolderAt(fd, steps[i].c_str());
        close(fd);
        fd = next;
    }
    return fd;
}

bool CExtractTarget::MakeFolder(std::string_view entryName)
{
    const std::vector<std::string> steps = SplitEntryName(MakeSafeEntryName(entryName));
    const int fd = OpenFolders(steps, steps.size());
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

std::unique_ptr<CExtractTarget::File> CExtractTarget::BeginFile(std::string_view entryName)
{
    const std::vector<std::string> steps = SplitEntryName(MakeSafeEntryName(entryName));
    if (steps.empty())
        return nullptr;
    const int folder = OpenFolders(steps, steps.size() - 1);
    if (folder < 0)
        return nullptr;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string temp = ".extract-" + std::to_string(getpid()) + "-" + std::to_string(++m_tempCounter) + ".part";
        const int fd = openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return std::unique_ptr<File>(new File(*this, folder, std::move(temp), steps.back(), fd));
        if (errno != EEXIST)
            break;
    }
    close(folder);
    return nullptr;
}

CExtractTarget::File::File(CExtractTarget& target, int folder, std::string tempName, std::string finalName, int fd)
    : m_target(target), m_folder(folder), m_tempName(std::move(tempName)), m_finalName(std::move(finalName)), m_fd(fd)
{}

CExtractTarget::File::~File()
{
    if (m_fd >= 0) {
        close(m_fd);
        unlinkat(m_folder, m_tempName.c_str(), 0);
    }
    close(m_folder);
}

bool CExtractTarget::File::Write(const void* bytes, size_t size)
{
    if (m_fd < 0 || !m_target.Charge(size))
        return false;
    if (!WriteAll(m_fd, static_cast<const char*>(bytes), size))
        return false;
    m_size += size;
    return true;
}

bool CExtractTarget::File::Commit(unsigned mode, time_t modified)
{
    if (m_fd < 0)
        return false;
    bool ok = fchmod(m_fd, mode & kModeMask) == 0;
    if (ok && modified != static_cast<time_t>(-1)) {
        const timespec times[2] = {{0, UTIME_NOW}, {modified, 0}};
        ok = futimens(m_fd, times) == 0;
    }
    const int fd = m_fd;
    m_fd = -1;
    ok = close(fd) == 0 && ok;
    if (ok)
        ok = renameat(m_folder, m_tempName.c_str(), m_folder, m_finalName.c_str()) == 0;
    if (!ok)
        unlinkat(m_folder, m_tempName.c_str(), 0);
    return ok;
}
