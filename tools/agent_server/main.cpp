// agent_server: keeps the download reports of the library's reporter in an
// SQLite database and answers each once it is stored.
//
//   agent_server [--db FILE] [--address A] [--port N] [--idle-seconds N]
//   agent_server [--db FILE] --summary
//
// The port defaults to 54547 (or MESHDROP_AGENT_PORT); 0 takes any free port.
// Prints "agent_server ready port=P db=FILE" once it accepts connections,
// then one line per stored or refused report, and serves until SIGINT or
// SIGTERM. --summary prints the bytes stored per URL and exits.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "AgentServer.h"
#include "AgentStore.h"
#include "nw/nwAgentWire.h"

namespace {

agent::Server* g_server = nullptr;

void OnStopSignal(int)
{
    if (g_server) {
        g_server->Stop();
    }
}

void Usage()
{
    std::fprintf(stderr, "usage: agent_server [--db FILE] [--address A] [--port N] [--idle-seconds N]\n"
                         "       agent_server [--db FILE] --summary\n");
}

bool ParseNumber(const char* text, long low, long high, long* out)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high) {
        return false;
    }
    *out = value;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string db = "agent_reports.db";
    agent::ServerOptions options;
    options.port = nwAgentServerPort();
    bool summary = false;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        bool ok = true;
        if (name == "--summary") {
            summary = true;
            continue;
        } else if (!value) {
            ok = false;
        } else if (name == "--db") {
            db = value;
        } else if (name == "--address") {
            options.address = value;
        } else if (name == "--port") {
            ok = ParseNumber(value, 0, 65535, &number);
            options.port = static_cast<std::uint16_t>(number);
        } else if (name == "--idle-seconds") {
            ok = ParseNumber(value, 1, 3600, &number);
            options.idleSeconds = static_cast<int>(number);
        } else {
            ok = false;
        }
        if (!ok) {
            Usage();
            return 2;
        }
        ++i;
    }

    agent::Store store;
    if (!store.Open(db)) {
        std::fprintf(stderr, "agent_server: %s: %s\n", db.c_str(), store.GetError().c_str());
        return 1;
    }
    if (summary) {
        if (!store.PrintSummary(stdout)) {
            std::fprintf(stderr, "agent_server: %s\n", store.GetError().c_str());
            return 1;
        }
        return 0;
    }

    agent::Server server(store);
    if (!server.Listen(options)) {
        std::fprintf(stderr, "agent_server: %s\n", server.GetError().c_str());
        return 1;
    }
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("agent_server ready port=%u db=%s\n", server.GetPort(), db.c_str());
    std::fflush(stdout);
    const bool served = server.Run();
    g_server = nullptr;
    if (!served) {
        std::fprintf(stderr, "agent_server: %s\n", server.GetError().c_str());
        return 1;
    }
    return 0;
}
