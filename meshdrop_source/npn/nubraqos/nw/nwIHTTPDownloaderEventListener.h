#pragma once
// What the HTTP downloader tells its client: exactly one report per download
// (none for a cancelled one), with the client's key and user value. Reports
// come on the library thread under the library lock; the download has ended
// before its report, so a client may start or cancel downloads from inside.

#include <cstdint>

class nwIHTTPDownloaderEventListener {
public:
    // The whole resource; `data` is valid during the call only.
    virtual void OnDownloaded(std::uint32_t key, std::uint32_t userValue, const void* data, std::uint32_t size) = 0;
    // Slot kept free in the client interface.
    virtual void Reserved1() {}
    // The download failed: bad address, refused or timed-out connection, a
    // status other than 200, 206, 302 or 303, no usable length, a redirect
    // without target or beyond the chain's bound, or a closed connection.
    virtual void OnDownloadFailed(std::uint32_t key, std::uint32_t userValue) = 0;
    // Slot kept free in the client interface.
    virtual void Reserved3() {}
    // The host was unreachable on three attempts in a row.
    virtual void OnDownloadUnreachable(std::uint32_t key, std::uint32_t userValue) = 0;
    virtual ~nwIHTTPDownloaderEventListener() = default;
};
