// The local download engine, installed as "QLSDownloadV32.exe": listens on
// 127.0.0.1:38006 (MESHDROP_ENGINE_PORT moves it), closes the readiness
// descriptor the platform's process start hands it (MESHDROP_READY_FD) once
// it listens, and serves the download library's jobs until SIGTERM, or
// until it was left alone for a while (MESHDROP_ENGINE_IDLE_EXIT seconds,
// 60 by default). A second copy finds the port taken and leaves: quietly
// when an engine of the same user holds it, with status 2 when another
// user's program does.

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <win32_ext.h>

#include "Engine.h"
#include "EngineLog.h"

namespace {

// The exit status when another user holds the engine's port.
constexpr int kStatusPortForeign = 2;

int NumberFromEnvironment(const char* name, int fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text) {
        return fallback;
    }
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 && value <= 86400 ? static_cast<int>(value) : fallback;
}

// The folder of this program, for its log.
std::string ProgramFolder()
{
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder = length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string(".");
    const std::size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

} // namespace

int main()
{
    // Signals arrive through the engine's signal descriptor: block them in
    // every thread before any is started. Writes to a client that left fail
    // with an error instead of a signal.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    engine::EngineOptions options;
    options.port = nwCDNEnginePort();
    options.idleSeconds = NumberFromEnvironment("MESHDROP_ENGINE_IDLE_EXIT", 60);
    const int ready = NumberFromEnvironment("MESHDROP_READY_FD", -1);
    options.readyFd = ready > 2 && ::fcntl(ready, F_GETFD) >= 0 ? ready : -1;
    if (options.readyFd >= 0) {
        ::fcntl(options.readyFd, F_SETFD, FD_CLOEXEC);
    }
    engine::OpenLog(ProgramFolder());
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    {
        engine::Engine engine(options);
        switch (engine.Listen()) {
        case engine::Engine::ListenResult::Listening:
            engine.Run();
            break;
        case engine::Engine::ListenResult::Taken: {
            // Another engine of this user serves the library; a listener of
            // another user is no engine to leave the player's jobs to.
            DWORD owner = 0;
            const bool known = W32GetTcpListenerOwner(options.port, &owner, nullptr) != FALSE;
            if (known && owner == W32GetCurrentOwner()) {
                engine::Log("another engine listens on port %u: leaving", options.port);
            } else {
                engine::Log("port %u is held by %s: leaving, nothing served", options.port,
                            known ? ("uid " + std::to_string(owner)).c_str() : "an unknown owner");
                status = kStatusPortForeign;
            }
            break;
        }
        case engine::Engine::ListenResult::Failed:
            status = 1;
            break;
        }
    }
    curl_global_cleanup();
    engine::CloseLog();
    return status;
}
