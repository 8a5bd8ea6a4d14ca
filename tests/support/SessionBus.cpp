#include "SessionBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace testsupport {

namespace {

constexpr const char* kDaemon = "/usr/bin/dbus-daemon";
constexpr int kStartMs = 10000;

} // namespace

SessionBus::SessionBus()
{
    const std::string config = folder_.file("session.conf");
    writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig>\n"
                      "  <type>session</type>\n"
                      "  <listen>unix:dir=" +
                          folder_.path() +
                          "</listen>\n"
                          "  <auth>EXTERNAL</auth>\n"
                          "  <policy context=\"default\">\n"
                          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                          "    <allow eavesdrop=\"true\"/>\n"
                          "    <allow own=\"*\"/>\n"
                          "  </policy>\n"
                          "</busconfig>\n");
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error_ = "no pipe";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<std::string> args = {kDaemon, "--config-file=" + config, "--nofork", "--print-address=1"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, kDaemon, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(pipeFds[0]);
        error_ = std::string("cannot start ") + kDaemon + " (scripts/install-deps.sh installs dbus-daemon)";
        return;
    }
    // The daemon prints its address once it listens.
    std::string line;
    pollfd wait{pipeFds[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && poll(&wait, 1, kStartMs) > 0) {
        char buffer[512];
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        line.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    if (const size_t end = line.find('\n'); end != std::string::npos)
        address_ = line.substr(0, end);
    else
        error_ = "dbus-daemon printed no address";
}

SessionBus::~SessionBus()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

} // namespace testsupport
