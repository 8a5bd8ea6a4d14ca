#pragma once
// One client of the engine: its socket, the bytes read but not yet framed,
// the notifications not yet sent, and what its requests left for the next
// job (mode, region, service identifier, engine flags, a job arriving file
// by file).

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "CommandParser.h"

namespace engine {

// The files of a job sent as 19, 20 per file and 21.
struct JobAssembly {
    bool active = false;
    nwCDNJobHeader header{};
    std::vector<SubmittedFile> files;
    std::size_t bytes = 0;
};

class ControlConnection {
public:
    ControlConnection(int fd, std::uint64_t id);
    ~ControlConnection();
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;

    int Fd() const { return m_fd; }
    std::uint64_t Id() const { return m_id; }

    // Reads what the socket holds, up to a bounded amount per call (the rest
    // stays for the next), and decodes every complete frame. False when the
    // connection is to be closed: the peer left, an error, or a broken frame.
    bool Receive(std::vector<Command>* commands);
    // Queues a notification and sends what it can at once. A client that
    // leaves more than 8 MiB unread is marked broken.
    void Queue(const std::vector<std::uint8_t>& bytes);
    // Sends what is queued; false on an error.
    bool Flush();
    bool HasPending() const { return m_outSent < m_out.size(); }
    bool IsBroken() const { return m_broken; }

    nwCDNJobMode mode{};
    std::string region;
    std::string serviceId;
    std::set<std::uint32_t> flaggedJobs;
    JobAssembly assembly;
    // A job refused while arriving file by file: its later files are dropped.
    bool hasRefusedJob = false;
    std::uint32_t refusedJob = 0;

private:
    int m_fd;
    std::uint64_t m_id;
    std::vector<std::uint8_t> m_in;
    std::vector<std::uint8_t> m_out;
    std::size_t m_outSent = 0;
    bool m_broken = false;
};

} // namespace engine
