#pragma once
// What the engine's tests share: the engine program started as the library
// starts it (installed under its name in a folder of its own, with a
// readiness descriptor, on a port of the test's own), a range-serving handler
// for the scriptable server that counts what it sends, and the submission
// of a job through the client layer as the engine downloader submits it.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CDNTestConnection.h"
#include "ScriptedHttpServer.h"
#include "TempDir.h"

namespace enginetest {

// A free TCP port of 127.0.0.1 (free when asked).
std::uint16_t FreePort();

class EngineProcess {
public:
    // The engine's C: drive is `driveC`; `environment` adds variables.
    explicit EngineProcess(std::string driveC, std::map<std::string, std::string> environment = {});
    ~EngineProcess(); // kills a running engine
    EngineProcess(const EngineProcess&) = delete;
    EngineProcess& operator=(const EngineProcess&) = delete;

    // Starts the engine (through `wrapper` when given, e.g. a command that
    // prepares a mount and then runs "$0") and waits until it closed its
    // readiness descriptor. A port of 0 picks a free one.
    bool Start(std::uint16_t port = 0, const std::vector<std::string>& wrapper = {});
    std::uint16_t Port() const { return m_port; }
    void Signal(int signal);
    // The exit status, or -1 when the engine is still running after the
    // timeout; a signal's death answers 128 + the signal.
    int WaitExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::string Log() const;
    const std::string& Folder() const { return m_folder.path(); }
    int Pid() const { return m_pid; }

private:
    std::string m_driveC;
    std::map<std::string, std::string> m_environment;
    testsupport::TempDir m_folder{"meshdrop-engine"};
    std::uint16_t m_port = 0;
    int m_pid = -1;
};

// Serves one body with byte ranges ("a-b" and "a-"), keep-alive, an ETag,
// and counts the body bytes it sends. `bytesPerSecond` paces each response;
// `hook` may take a request over (answer it itself and return true).
class RangeServer {
public:
    using Hook = std::function<bool(testsupport::HttpConnection&, const testsupport::HttpRequest&, long long first,
                                    long long last)>;

    explicit RangeServer(std::string body, std::uint64_t bytesPerSecond = 0, Hook hook = {});
    std::string Url(const std::string& path = "/file.bin") const { return m_server.url(path); }
    std::uint64_t BytesSent() const { return m_sent.load(); }
    std::vector<testsupport::HttpRequest> Requests() const { return m_server.requests(); }
    // Closes every connection at once and refuses new ones while down.
    void SetDown(bool down) { m_down = down; }
    const std::string& Body() const { return m_body; }

private:
    void Serve(testsupport::HttpConnection& connection);

    std::string m_body;
    std::uint64_t m_rate;
    Hook m_hook;
    std::atomic<std::uint64_t> m_sent{0};
    std::atomic<bool> m_down{false};
    testsupport::ScriptedHttpServer m_server;
};

// A web server of another make serving a folder on 127.0.0.1, on a free
// port, stopped with the object: Apache, lighttpd, or Python's http.server
// (which ignores ranges and answers HTTP/1.0).
class WebServer {
public:
    enum class Kind { Apache, Lighttpd, Python };

    WebServer(Kind kind, std::string root);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Starts the server and waits until it accepts; false with a reason in
    // Error() when it is missing or does not come up.
    bool Start();
    std::string Url(const std::string& path) const;
    const std::string& Error() const { return m_error; }
    static const char* Name(Kind kind);

private:
    std::vector<std::string> Command();

    Kind m_kind;
    std::string m_root;
    testsupport::TempDir m_prefix{"meshdrop-webserver"};
    std::uint16_t m_port = 0;
    int m_pid = -1;
    std::string m_error;
};

struct TestFile {
    std::string folder; // Windows form, "C:\\dl\\"
    std::string name;
    std::string url;
    std::int64_t size = -1;
};

// Sends a job as the engine downloader does: region, mode (2 with consent),
// then one list (14) or, with `fileByFile`, 19, 20 per file and 21.
void SubmitJob(CDNTestConnection& connection, std::uint32_t jobNumber, const std::vector<TestFile>& files, bool consent,
               bool fileByFile = false);

// Waits for `kind` with the generous time-out the engine tests use.
bool WaitFor(CDNTestConnection& connection, const std::string& kind, int count = 1);

// Polls, every 20 ms, a condition on something outside the test's process
// (a file the engine writes), until it holds or the time-out passes.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(60));

} // namespace enginetest
