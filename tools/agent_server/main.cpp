// agent_server: keeps the download reports of the library's reporter and of
// the engine in a database and answers each once it is stored. See
// agent_server(1) (packaging/man/agent_server.1).
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
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
    if (g_server)
        g_server->Stop();
}

constexpr const char* kUsage = "usage: agent_server [--db FILE|postgresql://...] [--address A] [--port N]\n"
                               "                    [--health-port N] [--idle-seconds N] [--max-connections N]\n"
                               "       agent_server [--db FILE|postgresql://...] --summary\n"
                               "       agent_server --help\n";

constexpr const char* kHelp = "Keeps the download reports of the downloader and its engine, and answers\n"
                              "each report once its transaction has committed.\n"
                              "\n"
                              "  --db LOCATION        an SQLite file (default agent_reports.db), or a\n"
                              "                       PostgreSQL URI (postgresql://user@host:port/db) that\n"
                              "                       several agent servers may share\n"
                              "  --address A          the IPv4 or IPv6 address to listen on (default 127.0.0.1)\n"
                              "  --port N             the report port (default 54547 or MESHDROP_AGENT_PORT;\n"
                              "                       0 takes any free port)\n"
                              "  --health-port N      also answer load-balancer checks on this port: HTTP\n"
                              "                       200 while the store commits, 503 when it fails\n"
                              "  --idle-seconds N     close connections idle this long (default 30)\n"
                              "  --max-connections N  connections at once (default 512); at the cap the\n"
                              "                       connection idle the longest makes room\n"
                              "  --summary            print the bytes stored per URL and exit\n"
                              "  --help               print this text and exit\n";

bool ParseNumber(const char* text, long low, long high, long* out)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high)
        return false;
    *out = value;
    return true;
}

// Room for every connection the server may hold, within the hard limit.
void RaiseDescriptorLimit(int connections)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = static_cast<rlim_t>(connections) + 128;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
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
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (name == "--summary") {
            summary = true;
            continue;
        } else if (!value) {
            ok = false;
        } else if (name == "--db") {
            db = value;
        } else if (name == "--address") {
            options.address = value;
        } else if (name == "--port" || name == "--health-port") {
            ok = ParseNumber(value, 0, 65535, &number);
            (name == "--port" ? options.port : options.healthPort) = static_cast<std::uint16_t>(number);
            options.health = options.health || name == "--health-port";
        } else if (name == "--idle-seconds") {
            ok = ParseNumber(value, 1, 3600, &number);
            options.idleSeconds = static_cast<int>(number);
        } else if (name == "--max-connections") {
            ok = ParseNumber(value, 1, 100000, &number);
            options.maxConnections = static_cast<int>(number);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        ++i;
    }

    std::string error;
    const std::unique_ptr<agent::Store> store = agent::OpenStore(db, &error);
    if (!store) {
        std::fprintf(stderr, "agent_server: %s: %s\n", agent::LocationForLog(db).c_str(), error.c_str());
        return 1;
    }
    if (summary) {
        agent::Summary totals;
        if (!store->ReadSummary(&totals)) {
            std::fprintf(stderr, "agent_server: %s\n", store->GetError().c_str());
            return 1;
        }
        agent::PrintSummary(totals, stdout);
        return 0;
    }

    signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit(options.maxConnections);
    agent::Server server(*store);
    if (!server.Listen(options)) {
        std::fprintf(stderr, "agent_server: %s\n", server.GetError().c_str());
        return 1;
    }
    g_server = &server;
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::printf("agent_server ready port=%u db=%s", server.GetPort(), agent::LocationForLog(db).c_str());
    if (options.health)
        std::printf(" health=%u", server.GetHealthPort());
    std::printf("\n");
    std::fflush(stdout);
    const bool served = server.Run();
    g_server = nullptr;
    if (!served) {
        std::fprintf(stderr, "agent_server: %s\n", server.GetError().c_str());
        return 1;
    }
    return 0;
}
