#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace clitest {

namespace {

[[noreturn]] void ExecChild(const std::vector<std::string>& command, const std::map<std::string, std::string>& env)
{
    for (const auto& [name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const std::string& arg : command)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

CliProcess::CliProcess(const std::vector<std::string>& command, Output output,
                       const std::map<std::string, std::string>& environment)
{
    if (output == Output::Terminal) {
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 100;
        int master = -1;
        m_pid = forkpty(&master, nullptr, nullptr, &size);
        if (m_pid == 0)
            ExecChild(command, environment);
        m_outFd = master;
        return;
    }
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        ExecChild(command, environment);
    }
    close(out[1]);
    close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
}

CliProcess::~CliProcess()
{
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_outFd >= 0)
        close(m_outFd);
    if (m_errFd >= 0)
        close(m_errFd);
}

bool CliProcess::ReadSome(std::chrono::steady_clock::time_point deadline)
{
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    const int count = m_errFd >= 0 ? 2 : 1;
    if (m_outFd < 0 && m_errFd < 0)
        return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (poll(fds, count, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0)
        return true;
    char buffer[4096];
    int* fdsOwned[2] = {&m_outFd, &m_errFd};
    std::string* texts[2] = {&m_out, &m_err};
    for (int i = 0; i < count; ++i) {
        if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            texts[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            // A terminal's master side reads EIO once the child's side is gone.
            close(*fdsOwned[i]);
            *fdsOwned[i] = -1;
        }
    }
    return m_outFd >= 0 || m_errFd >= 0;
}

bool CliProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit, size_t from)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_out.find(text, from) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline || !ReadSome(deadline))
            return m_out.find(text, from) != std::string::npos;
    }
    return true;
}

CliEnd CliProcess::Wait(std::chrono::milliseconds limit)
{
    if (m_reaped)
        return m_end;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline && ReadSome(deadline)) {}
    // The outputs close when the process ends; its descriptor says when it
    // has ended.
    const int pidFd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    if (pidFd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ended{pidFd, POLLIN, 0};
        poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        close(pidFd);
    }
    int status = 0;
    const pid_t done = waitpid(m_pid, &status, WNOHANG);
    if (done != m_pid) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        m_reaped = true;
        return m_end;
    }
    m_reaped = true;
    m_end.ended = true;
    if (WIFEXITED(status))
        m_end.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        m_end.signal = WTERMSIG(status);
    return m_end;
}

void CliProcess::Signal(int signal)
{
    if (m_pid > 0 && !m_reaped)
        kill(m_pid, signal);
}

void CliProcess::Type(const std::string& bytes)
{
    if (m_errFd < 0 && m_outFd >= 0)
        (void)!write(m_outFd, bytes.data(), bytes.size());
}

} // namespace clitest
