#pragma once
// The HTTP downloader: one connection context with the HTTP client layer per
// download. It follows 302 and 303 redirects (a fresh download each time, at
// most kMaxRedirects in a chain), tries an unreachable host three times in all,
// holds the body in one buffer of the announced length (at most kMaxBodySize;
// bytes past it are dropped) and reports each download once.

#include <cstdint>
#include <memory>

#include "nw/nwIHttpClientExEventListener.h"
#include "nw/ovIHTTPDownloader.h"
#include "ov/ovCPtrList.h"
#include "ov/ovCString.h"
#include "ov/ovSmartPtr.h"

class ovIQoSContext;

class nwCHTTPDownloaderViews : public ovIHTTPDownloader,
                               public nwIHttpClientExEventListener {};

class nwCHTTPDownloader : public ovTRefCounted<nwCHTTPDownloaderViews> {
public:
    nwCHTTPDownloader() = default;
    ~nwCHTTPDownloader() override;
    nwCHTTPDownloader(const nwCHTTPDownloader&) = delete;
    nwCHTTPDownloader& operator=(const nwCHTTPDownloader&) = delete;

    // ovIHTTPDownloader
    OVRESULT SetListener(nwIHTTPDownloaderEventListener* listener) override;
    OVRESULT Download(std::uint32_t key, const char* url, std::uint32_t userValue) override;
    OVRESULT Cancel(std::uint32_t key) override;
    OVRESULT CancelAll() override;

    // nwIHttpClientExEventListener (the cookie names the download)
    void OnConnected(std::uint32_t cookie) override;
    void OnHeaderReceived(std::uint32_t cookie) override;
    int OnData(std::uint32_t cookie, const std::uint8_t* data, std::uint32_t length) override;
    void OnComplete(std::uint32_t cookie) override;
    void OnSendQueueEmpty(std::uint32_t cookie) override;
    void OnClosed(std::uint32_t cookie) override;
    void OnConnectTimeout(std::uint32_t cookie) override;
    void OnRecvTimeout(std::uint32_t cookie) override;
    void OnHostUnreach(std::uint32_t cookie) override;

    int GetRunningCount() const { return m_downloads.GetCount(); }
    // The connection of the first running download with that key, or null.
    ovIQoSContext* FindContext(std::uint32_t key);

    static constexpr std::uint32_t kMaxBodySize = 256u * 1024u * 1024u;
    static constexpr int kMaxRedirects = 20;
    static constexpr int kMaxAttempts = 3;
    static constexpr std::uint32_t kIdleTimeoutSeconds = 5;

private:
    struct Record {
        std::uint32_t key = 0;
        std::uint32_t userValue = 0;
        int attempt = 0;
        std::unique_ptr<std::uint8_t[]> body;
        std::uint32_t size = 0;
        std::uint32_t filled = 0;
        ovCString url;
        ovSmartPtr context;
        int redirects = 0;        // redirects followed to reach this address
        std::uint32_t cookie = 0; // names the record to its layer
    };
    enum class Outcome { Failed, Unreachable };

    // Appends a record and starts its request; a request that cannot start
    // ends at once as failed.
    void Start(std::uint32_t key, const char* url, std::uint32_t userValue, int attempt, int redirects);
    bool OpenRequest(Record* record);
    Record* Find(std::uint32_t cookie);
    // Removes the record, closes its connection (handed to the collector) and
    // frees it.
    void End(Record* record);
    // Ends the record, then reports the outcome.
    void Finish(Record* record, Outcome outcome);
    void AcceptBody(Record* record);
    void FollowRedirect(Record* record);

    nwIHTTPDownloaderEventListener* m_listener = nullptr;
    ovCPtrList m_downloads; // Record items, owned here
    std::uint32_t m_nextCookie = 0;
};
