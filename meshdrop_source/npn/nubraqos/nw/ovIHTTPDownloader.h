#pragma once
// The interface of the HTTP downloader (class OVCLS_HTTP_DOWNLOADER): whole
// resources fetched into memory over HTTP or HTTPS, any number at once, each
// named by the client's key. Every operation answers OVR_NET_OK. Call it on the
// library's worker thread or with the library lock held.

#include <cstdint>

#include "nw/nwIHTTPDownloaderEventListener.h"
#include "ov/ovIUnknown.h"

class ovIHTTPDownloader : public ovIUnknown {
public:
    // The client's listener (not owned); null detaches.
    virtual OVRESULT SetListener(nwIHTTPDownloaderEventListener* listener) = 0;
    // Starts fetching `url`. A download that cannot even start (a bad address,
    // an unknown host) is reported failed before the call returns.
    virtual OVRESULT Download(std::uint32_t key, const char* url, std::uint32_t userValue) = 0;
    // Ends every running download with that key, without a report.
    virtual OVRESULT Cancel(std::uint32_t key) = 0;
    // Ends every running download, without reports.
    virtual OVRESULT CancelAll() = 0;
};
