#include "ForeignUser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

extern char** environ;

namespace testsupport {

namespace {

constexpr const char* kSetpriv = "/usr/bin/setpriv";
constexpr const char* kPerl = "/usr/bin/perl";

// perl of Debian's essential perl-base: sockets without a module to install.
constexpr const char* kListenerScript = R"(
use IO::Socket::INET;
my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => $ARGV[0], Listen => 16, ReuseAddr => 1)
    or exit 1;
$| = 1;
print $s->sockport, "\n";
while (my $c = $s->accept) { while (sysread($c, my $b, 65536)) {} close $c; }
)";

constexpr const char* kClientScript = R"(
use IO::Socket::INET;
$SIG{PIPE} = "IGNORE";
$| = 1;
my $c = IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => $ARGV[0], Timeout => 10)
    or do { print "connected 0\n"; exit 0 };
print "connected 1\n";
syswrite($c, pack("H*", $ARGV[1])) if length $ARGV[1];
my ($got, $closed) = (0, 0);
my $deadline = time + $ARGV[2];
my $in = ""; vec($in, fileno($c), 1) = 1;
while ((my $left = $deadline - time) > 0) {
    last if select(my $ready = $in, undef, undef, $left) <= 0;
    my $n = sysread($c, my $buf, 65536);
    if (!$n) { $closed = 1; last }
    $got += $n;
}
print "received $got closed $closed\n";
)";

// Starts `script` with its arguments as the second user; its standard output
// comes out of *output.
pid_t runForeign(const char* script, const std::vector<std::string>& arguments, int* output)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<std::string> args = {kSetpriv,
                                     "--reuid=" + std::to_string(kForeignUid),
                                     "--regid=" + std::to_string(kForeignUid),
                                     "--clear-groups",
                                     kPerl,
                                     "-e",
                                     script};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, kSetpriv, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return -1;
    }
    *output = pipeFds[0];
    return pid;
}

// The lines a program prints, read as they come.
class LineReader {
public:
    explicit LineReader(int fd) : m_fd(fd) {}
    ~LineReader() { close(m_fd); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The rest of the next line that starts with `prefix` (lines before it
    // are dropped); "" after the time or the end of the output.
    std::string after(const std::string& prefix, std::chrono::seconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t end;
            while ((end = m_text.find('\n')) != std::string::npos) {
                const std::string line = m_text.substr(0, end);
                m_text.erase(0, end + 1);
                if (line.compare(0, prefix.size(), prefix) == 0)
                    return line.substr(prefix.size());
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return std::string();
            char buffer[256];
            const ssize_t got = read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                return std::string();
            m_text.append(buffer, static_cast<size_t>(got));
        }
    }

private:
    int m_fd;
    std::string m_text;
};

void endProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

std::string foreignUserUnavailable()
{
    if (geteuid() != 0)
        return "acting as a second user (uid " + std::to_string(kForeignUid) + ") needs root, as CI runs the tests";
    if (access(kSetpriv, X_OK) != 0 || access(kPerl, X_OK) != 0)
        return std::string("the second user is run through ") + kSetpriv + " and " + kPerl + ", which are missing";
    return std::string();
}

ForeignListener::ForeignListener(uint16_t port)
{
    int output = -1;
    pid_ = runForeign(kListenerScript, {std::to_string(port)}, &output);
    if (pid_ < 0)
        return;
    // The port line alone: nothing precedes it.
    const std::string line = LineReader(output).after("", std::chrono::seconds(30));
    port_ = static_cast<uint16_t>(std::strtoul(line.c_str(), nullptr, 10));
}

ForeignListener::~ForeignListener()
{
    endProcess(pid_);
}

ForeignExchange foreignClientExchange(uint16_t port, const std::string& bytes, int seconds)
{
    static const char* kHex = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex.push_back(kHex[byte >> 4]);
        hex.push_back(kHex[byte & 15]);
    }
    ForeignExchange exchange;
    int output = -1;
    const pid_t pid = runForeign(kClientScript, {std::to_string(port), hex, std::to_string(seconds)}, &output);
    if (pid < 0)
        return exchange;
    const auto timeout = std::chrono::seconds(seconds + 30);
    LineReader lines(output);
    exchange.connected = lines.after("connected ", timeout) == "1";
    if (exchange.connected) {
        const std::string result = lines.after("received ", timeout);
        unsigned long received = 0;
        int closed = 0;
        if (std::sscanf(result.c_str(), "%lu closed %d", &received, &closed) == 2) {
            exchange.received = received;
            exchange.closedByPeer = closed == 1;
        }
    }
    endProcess(pid);
    return exchange;
}

} // namespace testsupport
