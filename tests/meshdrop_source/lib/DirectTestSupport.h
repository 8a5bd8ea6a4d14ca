#pragma once
// Small helpers of the direct download tests: addresses that cannot be
// reached, content hashes, and the POSIX path of a file under the test's C:.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "TempDir.h"
#include "TestDriveC.h"

namespace directtest {

// "http://127.0.0.1:<port>/<path>" for a port on which nothing listens: a
// connection to it is refused at once.
inline std::string RefusedUrl(const std::string& path)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + path;
}

// FNV-1a, 64 bits: enough to tell a byte-exact download from a damaged one.
inline uint64_t Hash(const std::string& bytes)
{
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// The POSIX path of "C:\" + relative (given with "/" separators).
inline std::string DrivePath(const std::string& relative)
{
    return TestDriveC::Root() + "/" + relative;
}

inline uint64_t FileHash(const std::string& posixPath)
{
    return Hash(testsupport::readFile(posixPath));
}

} // namespace directtest
