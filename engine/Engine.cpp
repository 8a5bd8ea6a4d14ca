#include "Engine.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <win32_ext.h>

#include "EngineLog.h"

namespace engine {

namespace {

constexpr int kFlusherThreads = 4;
constexpr auto kTick = std::chrono::seconds(1);
// A rate-limited transfer that paused is woken this often.
constexpr int kRefillMs = 10;

curl_waitfd WaitFd(int fd, short events)
{
    curl_waitfd wait{};
    wait.fd = fd;
    wait.events = events;
    return wait;
}

int MillisecondsUntil(Clock::time_point now, Clock::time_point then)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(then - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000));
}

} // namespace

Engine::Engine(EngineOptions options)
    : m_options(options), m_flusher(kFlusherThreads), m_lastTick(Clock::now()), m_idleSince(Clock::now())
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    m_signalFd = ::signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
}

Engine::~Engine()
{
    m_jobs.clear();
    m_clients.clear();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
    }
    if (m_signalFd >= 0) {
        ::close(m_signalFd);
    }
}

Engine::ListenResult Engine::Listen()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) {
        return ListenResult::Failed;
    }
    // Lets a restarted engine bind while connections of the previous one
    // linger; two listeners on one port are still refused.
    const int yes = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_options.port);
    ListenResult result = ListenResult::Listening;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0) {
        result = errno == EADDRINUSE ? ListenResult::Taken : ListenResult::Failed;
        Log("cannot listen on 127.0.0.1:%u: %s", m_options.port, std::strerror(errno));
    }
    // Ready either way: a starter waiting for this engine learns at once
    // that an engine listens, or that none will.
    if (m_options.readyFd >= 0) {
        ::close(m_options.readyFd);
        m_options.readyFd = -1;
    }
    return result;
}

int Engine::WaitTimeout(Clock::time_point now) const
{
    int timeout = MillisecondsUntil(now, m_lastTick + kTick);
    for (const auto& job : m_jobs) {
        if (job->HasPausedTransfers()) {
            timeout = std::min(timeout, kRefillMs);
        }
        if (job->IsRunning()) {
            timeout = std::min(timeout, MillisecondsUntil(now, job->NextRetry()));
        }
    }
    return timeout;
}

void Engine::Run()
{
    Log("listening on 127.0.0.1:%u", m_options.port);
    std::vector<curl_waitfd> waits;
    while (!m_quit) {
        Clock::time_point now = Clock::now();
        waits.clear();
        waits.push_back(WaitFd(m_signalFd, CURL_WAIT_POLLIN));
        waits.push_back(WaitFd(m_listenFd, CURL_WAIT_POLLIN));
        waits.push_back(WaitFd(m_flusher.EventFd(), CURL_WAIT_POLLIN));
        for (const auto& client : m_clients) {
            waits.push_back(WaitFd(
                client->Fd(), static_cast<short>(CURL_WAIT_POLLIN | (client->HasPending() ? CURL_WAIT_POLLOUT : 0))));
        }
        m_multi.Poll(waits, WaitTimeout(now));
        now = Clock::now();

        if (waits[0].revents) {
            signalfd_siginfo info{};
            [[maybe_unused]] const ssize_t n = ::read(m_signalFd, &info, sizeof info);
            Log("signal %u: leaving", info.ssi_signo);
            m_quit = true;
        }
        if (waits[1].revents) {
            AcceptClients(now);
        }
        if (waits[2].revents) {
            for (const FlushResult& result : m_flusher.TakeResults()) {
                const auto id = static_cast<std::uint32_t>(result.token >> 32);
                for (const auto& job : m_jobs) {
                    if (job->EngineJobId() == id) {
                        job->OnFlushResult(result);
                    }
                }
            }
        }
        // The clients polled in this round; those that leave are closed after.
        std::vector<ControlConnection*> leaving;
        for (std::size_t i = 3; i < waits.size(); ++i) {
            ControlConnection& client = *m_clients[i - 3];
            if (waits[i].revents && !ServeClient(client, now)) {
                leaving.push_back(&client);
            }
        }
        for (ControlConnection* client : leaving) {
            CloseClient(*client, now);
        }

        m_multi.Perform();
        Transfer* transfer = nullptr;
        CURLcode code = CURLE_OK;
        while (m_multi.NextFinished(&transfer, &code)) {
            transfer->Sink().OnDone(*transfer, code, now);
        }
        for (const auto& job : m_jobs) {
            job->Refill(now);
            job->Service(now);
        }
        if (now - m_lastTick >= kTick) {
            Tick(now);
        }
        ReapJobs(now);
    }
    StopAll();
}

void Engine::AcceptClients(Clock::time_point now)
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const auto id = static_cast<unsigned long long>(m_nextClientId++);
        // Only the player's own processes command the engine: a client of
        // another user is closed before a byte of it is read.
        DWORD owner = 0;
        const bool known = W32GetTcpPeerOwner(static_cast<UINT_PTR>(fd), &owner) != FALSE;
        if (!known || owner != W32GetCurrentOwner()) {
            ::close(fd);
            if (known) {
                Log("client %llu refused: it belongs to uid %u, not to the engine's uid %u", id, owner,
                    W32GetCurrentOwner());
            } else {
                Log("client %llu refused: the owner of its socket is unknown", id);
            }
            continue;
        }
        if (m_clients.size() >= kMaxClients) {
            ::close(fd);
            Log("client %llu refused: %zu clients are connected already", id, m_clients.size());
            continue;
        }
        m_clients.push_back(std::make_unique<ControlConnection>(fd, id));
        Log("client %llu connected", id);
        m_idleSince = now;
    }
}

bool Engine::ServeClient(ControlConnection& connection, Clock::time_point now)
{
    std::vector<Command> commands;
    const bool open = connection.Receive(&commands) && connection.Flush();
    // Requests that arrived before a close or a broken frame still count.
    for (Command& command : commands) {
        HandleCommand(connection, command, now);
    }
    return open && !connection.IsBroken();
}

void Engine::CloseClient(ControlConnection& connection, Clock::time_point now)
{
    Log("client %llu left", static_cast<unsigned long long>(connection.Id()));
    for (const auto& job : m_jobs) {
        if (job->Client() == &connection) {
            job->DetachClient();
            job->Stop(CDN_RESULT_STOPPED);
        }
    }
    std::erase_if(m_clients, [&](const std::unique_ptr<ControlConnection>& c) { return c.get() == &connection; });
    m_idleSince = now;
}

Job* Engine::FindJob(const ControlConnection& connection, std::uint32_t jobNumber, std::uint32_t engineJobId)
{
    for (const auto& job : m_jobs) {
        if (job->Client() == &connection && job->JobNumber() == jobNumber && job->EngineJobId() == engineJobId &&
            !job->IsEnded()) {
            return job.get();
        }
    }
    return nullptr;
}

void Engine::HandleCommand(ControlConnection& connection, Command& command, Clock::time_point now)
{
    switch (command.type) {
    case CDN_REQ_JOB_MODE:
        connection.mode = command.mode;
        break;
    case CDN_REQ_REGION:
        connection.region = nwCDNFieldText(command.region.code, sizeof command.region.code);
        break;
    case CDN_REQ_SERVICE_ID:
        connection.serviceId = nwCDNFieldText(command.serviceId.text, sizeof command.serviceId.text);
        Log("client %llu: service \"%s\"", static_cast<unsigned long long>(connection.Id()),
            connection.serviceId.c_str());
        break;
    case CDN_REQ_ENGINE_FLAG:
        connection.flaggedJobs.insert(command.jobNumber);
        for (const auto& job : m_jobs) {
            if (job->Client() == &connection && job->JobNumber() == command.jobNumber && !job->IsEnded()) {
                job->SetEngineFlag();
            }
        }
        break;
    case CDN_REQ_JOB_LIST:
        SubmitJob(connection,
                  {command.header.jobNumber,
                   std::string(nwCDNFieldText(command.header.serviceId, sizeof command.header.serviceId)),
                   std::move(command.files)},
                  now);
        break;
    case CDN_REQ_JOB_HEADER:
    case CDN_REQ_JOB_ITEM:
    case CDN_REQ_JOB_END:
        Assemble(connection, command, now);
        break;
    case CDN_REQ_STOP_JOB:
        if (Job* job = FindJob(connection, command.job.jobNumber, command.job.engineJobId)) {
            job->Stop(CDN_RESULT_STOPPED);
        }
        break;
    case CDN_REQ_FILE_OPTION:
        if (Job* job = FindJob(connection, command.option.jobNumber, command.option.engineJobId)) {
            job->SetFileOption(command.option.value);
        }
        break;
    case CDN_REQ_RESUME_ANSWER:
        if (Job* job = FindJob(connection, command.answer.jobNumber, command.answer.engineJobId)) {
            job->OnResumeAnswer(command.answer.resume != 0, command.answer.applyToAll != 0, now);
        }
        break;
    case CDN_REQ_STATUS: {
        const auto running = static_cast<std::uint32_t>(
            std::count_if(m_jobs.begin(), m_jobs.end(), [](const auto& job) { return !job->IsEnded(); }));
        std::vector<std::uint8_t> frame;
        nwCDNAppendFrame(frame, CDN_NOTE_STATUS, &running, sizeof running);
        connection.Queue(frame);
        break;
    }
    default:
        break;
    }
}

void Engine::Assemble(ControlConnection& connection, Command& command, Clock::time_point now)
{
    JobAssembly& assembly = connection.assembly;
    const std::uint32_t number = command.type == CDN_REQ_JOB_HEADER ? command.header.jobNumber
                                 : command.type == CDN_REQ_JOB_ITEM ? command.item.jobNumber
                                                                    : command.jobNumber;
    auto refuse = [&](const std::string& text) {
        if (assembly.active && assembly.header.jobNumber == number) {
            assembly = JobAssembly();
        }
        connection.hasRefusedJob = true;
        connection.refusedJob = number;
        Refuse(connection, number, {text, {CDN_CODE_BAD_JOB, CDN_NO_FILE, 0}});
    };
    if (command.type == CDN_REQ_JOB_HEADER) {
        if (assembly.active) {
            const std::uint32_t previous = assembly.header.jobNumber;
            assembly = JobAssembly();
            Refuse(connection, previous,
                   {"a new job began before this one's files all arrived", {CDN_CODE_BAD_JOB, CDN_NO_FILE, 0}});
        }
        connection.hasRefusedJob = false;
        if (command.header.itemCount == 0 || command.header.itemCount > kMaxFilesPerJob) {
            refuse("a job holds 1 to " + std::to_string(kMaxFilesPerJob) + " files");
            return;
        }
        assembly.active = true;
        assembly.header = command.header;
        Log("client %llu: job %u announced: %u files", static_cast<unsigned long long>(connection.Id()), number,
            command.header.itemCount);
        return;
    }
    if (connection.hasRefusedJob && connection.refusedJob == number) {
        if (command.type == CDN_REQ_JOB_END) {
            connection.hasRefusedJob = false;
        }
        return;
    }
    if (!assembly.active || assembly.header.jobNumber != number) {
        refuse("job " + std::to_string(number) + " was not announced");
        return;
    }
    if (command.type == CDN_REQ_JOB_ITEM) {
        SubmittedFile& file = command.files.front();
        assembly.bytes += sizeof(nwCDNItemFields) + file.url.size();
        if (command.item.itemIndex != assembly.files.size() || assembly.files.size() >= assembly.header.itemCount ||
            assembly.bytes > kMaxJobBytes) {
            refuse("file " + std::to_string(command.item.itemIndex) + " of job " + std::to_string(number) +
                   " arrived out of order or beyond the job's size");
            return;
        }
        assembly.files.push_back(std::move(file));
        return;
    }
    if (assembly.files.size() != assembly.header.itemCount) {
        refuse("job " + std::to_string(number) + " ended before all its files arrived");
        return;
    }
    SubmittedJob job{number, std::string(nwCDNFieldText(assembly.header.serviceId, sizeof assembly.header.serviceId)),
                     std::move(assembly.files)};
    assembly = JobAssembly();
    SubmitJob(connection, std::move(job), now);
}

void Engine::Refuse(ControlConnection& connection, std::uint32_t jobNumber, const JobRefusal& refusal)
{
    std::vector<std::uint8_t> frame;
    nwCDNAppendJobFailed(frame, jobNumber, 0, refusal.text, refusal.tail);
    connection.Queue(frame);
    Log("client %llu: job %u refused: %s", static_cast<unsigned long long>(connection.Id()), jobNumber,
        refusal.text.c_str());
}

void Engine::SubmitJob(ControlConnection& connection, SubmittedJob submitted, Clock::time_point now)
{
    JobSettings settings;
    settings.jobNumber = submitted.jobNumber;
    settings.serviceId = submitted.serviceId;
    settings.region = connection.region;
    settings.fullSpeed = connection.mode.mode == CDN_MODE_FULL;
    settings.rateLimit = connection.mode.rateLimit;
    settings.engineFlag = connection.flaggedJobs.contains(submitted.jobNumber);
    // Mode and region go with this job only.
    connection.mode = nwCDNJobMode{};
    connection.region.clear();
    for (const auto& job : m_jobs) {
        if (job->Client() == &connection && job->JobNumber() == submitted.jobNumber && !job->IsEnded()) {
            Refuse(connection, submitted.jobNumber,
                   {"job " + std::to_string(submitted.jobNumber) + " is already running",
                    {CDN_CODE_BAD_JOB, CDN_NO_FILE, 0}});
            return;
        }
    }
    const auto running = std::count_if(m_jobs.begin(), m_jobs.end(), [](const auto& job) { return !job->IsEnded(); });
    if (running >= static_cast<std::ptrdiff_t>(kMaxRunningJobs)) {
        Refuse(connection, submitted.jobNumber,
               {"the engine runs " + std::to_string(kMaxRunningJobs) + " jobs already",
                {CDN_CODE_BAD_JOB, CDN_NO_FILE, 0}});
        return;
    }
    std::vector<FileOrder> orders;
    if (std::optional<JobRefusal> refusal = CheckJob(submitted, &orders)) {
        Refuse(connection, submitted.jobNumber, *refusal);
        return;
    }
    std::vector<std::string> keys;
    for (const FileOrder& order : orders) {
        std::string key = FileKey(order);
        if (m_busyFiles.contains(key)) {
            Refuse(connection, submitted.jobNumber,
                   {"another job writes " + order.localPath, {CDN_CODE_FILE_BUSY, order.index, 0}});
            return;
        }
        keys.push_back(std::move(key));
    }
    settings.engineJobId = m_nextEngineJobId++;
    m_jobs.push_back(
        std::make_unique<Job>(JobServices{m_multi, m_flusher, m_network}, &connection, settings, std::move(orders)));
    m_busyFiles.insert(keys.begin(), keys.end());
    m_jobFiles.emplace_back(m_jobs.back().get(), std::move(keys));
    m_jobs.back()->Begin(now);
}

void Engine::Tick(Clock::time_point now)
{
    m_lastTick = now;
    const NetworkWatch::Change change = m_network.Update(now);
    if (change != NetworkWatch::Change::None) {
        const bool lost = change == NetworkWatch::Change::Lost;
        Log("network %s", lost ? "lost" : "back");
        const nwCDNTail tail{CDN_CODE_NETWORK, CDN_NO_FILE,
                             static_cast<std::uint64_t>(m_network.SecondsSinceByte(now))};
        std::vector<std::uint8_t> frame;
        nwCDNAppendFrame(frame, lost ? CDN_NOTE_NETWORK_LOST : CDN_NOTE_NETWORK_BACK, &tail, sizeof tail);
        for (const auto& client : m_clients) {
            const bool hasJob = std::any_of(m_jobs.begin(), m_jobs.end(), [&](const auto& job) {
                return job->Client() == client.get() && !job->IsEnded();
            });
            if (hasJob) {
                client->Queue(frame);
            }
        }
    }
    for (const auto& job : m_jobs) {
        job->OnTick(now);
    }
    for (std::size_t i = 0; i < m_clients.size();) {
        ControlConnection& client = *m_clients[i];
        if (client.IsBroken()) {
            CloseClient(client, now);
        } else {
            ++i;
        }
    }
    const bool busy = std::any_of(m_jobs.begin(), m_jobs.end(), [](const auto& job) { return !job->IsEnded(); });
    if (!m_clients.empty() || busy) {
        m_idleSince = now;
    } else if (now - m_idleSince >= std::chrono::seconds(m_options.idleSeconds)) {
        Log("no client for %d s: leaving", m_options.idleSeconds);
        m_quit = true;
    }
}

void Engine::ReapJobs(Clock::time_point now)
{
    (void)now;
    for (std::size_t i = 0; i < m_jobs.size();) {
        if (!m_jobs[i]->IsSettled()) {
            ++i;
            continue;
        }
        const Job* job = m_jobs[i].get();
        Log("job %u/%u: files released", job->JobNumber(), job->EngineJobId());
        m_reporter.Report(MakeJobReport(*job));
        for (auto it = m_jobFiles.begin(); it != m_jobFiles.end(); ++it) {
            if (it->first == job) {
                for (const std::string& key : it->second) {
                    m_busyFiles.erase(key);
                }
                m_jobFiles.erase(it);
                break;
            }
        }
        m_jobs.erase(m_jobs.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void Engine::StopAll()
{
    for (const auto& job : m_jobs) {
        job->Stop(CDN_RESULT_STOPPED);
    }
    for (const auto& client : m_clients) {
        client->Flush();
    }
    m_flusher.WaitIdle();
    ReapJobs(Clock::now());
    Log("left");
}

} // namespace engine
