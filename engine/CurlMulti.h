#pragma once
// The engine's one libcurl multi handle: one connection pool for every
// transfer of every job, and the wait that also watches the engine's own
// descriptors (listening socket, clients, signals, the flusher).

#include <curl/curl.h>

#include <utility>
#include <vector>

namespace engine {

class Transfer;

class CurlMulti {
public:
    CurlMulti();
    ~CurlMulti();
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;

    bool Add(Transfer& transfer);
    // Never from inside a transfer's callbacks.
    void Remove(Transfer& transfer);
    // Waits at most timeoutMs for the transfers or `extra` (their revents are
    // filled in).
    void Poll(std::vector<curl_waitfd>& extra, int timeoutMs);
    // Moves the transfers along.
    void Perform();
    // One transfer that ended, with its code; false when none is left. Read
    // them one at a time: handling one may remove others, and a removed
    // transfer's message goes with it.
    bool NextFinished(Transfer** transfer, CURLcode* code);
    int Running() const { return m_running; }

private:
    CURLM* m_multi = nullptr;
    int m_running = 0;
};

} // namespace engine
