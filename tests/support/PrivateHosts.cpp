#include "PrivateHosts.h"

#include <dirent.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "TempDir.h"

namespace testsupport {

namespace {

int threadCount()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

} // namespace

bool enterPrivateHosts(const std::string& lines, std::string* why)
{
    if (threadCount() != 1) {
        *why = "threads were started before the private /etc/hosts";
        return false;
    }
    // The file lives on past this process's temporary folders: the mount
    // holds it, and it is a few bytes under the system's temporary folder.
    char path[] = "/tmp/meshdrop-hosts-XXXXXX";
    const int fd = mkstemp(path);
    const std::string content = readFile("/etc/hosts") + "\n" + lines + "\n";
    const bool written = fd >= 0 && write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    if (fd >= 0)
        close(fd);
    if (!written) {
        *why = "cannot write the test's hosts file";
        return false;
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
        *why = std::string("no private mount namespace for /etc/hosts (needs root): ") + std::strerror(errno);
        unlink(path);
        return false;
    }
    unlink(path); // the bind mount keeps the file
    return true;
}

std::string commandWithHosts(const std::string& hostsFile, const std::string& command)
{
    return "unshare -m sh -c 'mount --bind " + hostsFile + " /etc/hosts && exec " + command + "'";
}

} // namespace testsupport
