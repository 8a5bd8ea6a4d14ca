#pragma once
// qlsdownloader-cli started by a test as a script would start it: its output
// on pipes, or on a pseudo-terminal as in a player's terminal window. The
// test reads what it prints, signals it, types at it and waits for its end,
// always with a limit.
#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace clitest {

struct CliEnd {
    bool ended = false; // false: still running when the limit passed (then killed)
    int exitCode = -1;  // the exit status, or -1 when a signal ended it
    int signal = 0;     // the signal that ended it, or 0
};

class CliProcess {
public:
    enum class Output { Pipes, Terminal };

    // Starts `command` (program and arguments) with `environment` added to
    // this process's environment. A terminal is 100 columns wide.
    CliProcess(const std::vector<std::string>& command, Output output,
               const std::map<std::string, std::string>& environment);
    ~CliProcess(); // kills a process still running
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Reads until standard output (the terminal, for Terminal) holds `text`
    // after `from`; false when the process ended or the limit passed first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit, size_t from = 0);
    // Reads everything until the process ends, at most `limit`; kills it then.
    CliEnd Wait(std::chrono::milliseconds limit);

    void Signal(int signal);
    // Bytes typed at the terminal (Terminal only): "\x03" is Ctrl-C.
    void Type(const std::string& bytes);

    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }

private:
    // Reads what is there, waiting at most until `deadline`; false once
    // both outputs are closed.
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_outFd = -1; // the pipe of standard output, or the terminal's master side
    int m_errFd = -1; // the pipe of standard error; -1 for Terminal
    std::string m_out;
    std::string m_err;
    bool m_reaped = false;
    CliEnd m_end;
};

} // namespace clitest
