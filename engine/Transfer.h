#pragma once
// One HTTP request of a segment through libcurl: a GET of a byte range over
// HTTP/1.1, redirects followed (at most 10, to HTTP or HTTPS only),
// certificates checked, proxies taken from the environment. The response
// head is collected line by line; once the final head is complete the sink
// judges it, then receives the body. Nothing here touches other transfers:
// handles are added to and removed from the multi handle by the engine's
// loop, never from inside these callbacks.

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "AnswerJudge.h"

namespace engine {

class Transfer;

class TransferSink {
public:
    // The final response's head, before its first body byte. False stops the
    // transfer.
    virtual bool OnResponse(Transfer& transfer, const ResponseHead& head) = 0;
    // Body bytes; answers as a libcurl write callback does (all of them, fewer
    // to stop, or CURL_WRITEFUNC_PAUSE).
    virtual std::size_t OnBody(Transfer& transfer, const char* data, std::size_t size) = 0;
    // The transfer ended (the engine's loop, outside libcurl's callbacks).
    virtual void OnDone(Transfer& transfer, CURLcode code, std::chrono::steady_clock::time_point now) = 0;

protected:
    ~TransferSink() = default;
};

struct TransferRequest {
    std::string url;
    std::int64_t first = 0;
    std::int64_t last = -1; // inclusive; -1 for "to the end"
    std::string ifRange;    // validator for If-Range, may be empty
    long bufferSize = 16 * 1024;
};

class Transfer {
public:
    Transfer(TransferSink& sink, void* owner);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // False when libcurl cannot make the handle.
    bool Setup(const TransferRequest& request);
    CURL* Handle() const { return m_easy; }
    void* Owner() const { return m_owner; }
    TransferSink& Sink() const { return m_sink; }
    const ResponseHead& Head() const { return m_head; }
    bool HeadSeen() const { return m_headSeen; }
    // The address the last response came from, after redirects.
    std::string EffectiveUrl() const;
    const TransferRequest& Request() const { return m_request; }

private:
    static std::size_t HeaderCallback(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* user);
    std::size_t OnHeaderLine(const char* data, std::size_t size);

    TransferSink& m_sink;
    void* m_owner;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    TransferRequest m_request;
    ResponseHead m_head;
    bool m_headSeen = false;
    bool m_headJudged = false;
};

} // namespace engine
