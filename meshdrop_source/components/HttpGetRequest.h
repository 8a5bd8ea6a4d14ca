#pragma once
// One HTTP GET on a fresh connection context with the HTTP client layer on
// top: the steps every session takes to open a request and to end it. A
// context is never released inside one of its own notifications; ending a
// request hands it to the deferred-release collector.

#include <cstdint>
#include <memory>
#include <string>

#include "nw/ovIHttpClientExLayer.h"
#include "ov/ovSmartPtr.h"

class cpCQoS;
class cpCQoSQuota;

// Holds the library lock of the running network runtime for a scope (nothing
// when no runtime runs).
class CSessionLock {
public:
    CSessionLock();
    ~CSessionLock();
    CSessionLock(const CSessionLock&) = delete;
    CSessionLock& operator=(const CSessionLock&) = delete;
    bool Held() const { return m_pQoS != nullptr; }

private:
    cpCQoS* m_pQoS;
};

// How a request's connection is set up.
struct HttpGetOptions {
    int actionKind = 1;                      // the action the context is opened with (1: unlimited)
    std::uint32_t connectTimeoutSeconds = 0; // 0 keeps the context's default
    std::uint32_t idleTimeoutSeconds = 0;    // 0 keeps the context's default
    int receiveActionKind = 0;               // when not 0: switched to once the layer is on...
    std::uint32_t receiveQuota = 0;          // ...with this receive quota in bytes per second,
    const std::shared_ptr<cpCQoSQuota>* sharedReceiveQuota = nullptr; // ...or this one, shared with other requests
    const char* range = nullptr;                                      // the "Range" header's value, or none
};

// Creates a context in `context` (releasing the one held before), opens it
// with the options' action kind and mask 0x05 (connect failed, idle time-out),
// sets the time-outs, pushes the HTTP client layer, registers the listener with
// cookie 0, sets the address and the "Range" header and sends the GET, all
// under the library lock. False when any step fails (no runtime, no free socket
// slot, a bad address, an unknown host): the request is then ended again and
// `context` is empty, since no notification will ever come for it.
bool OpenHttpGet(ovSmartPtr& context, nwIHttpClientExEventListener* listener, const std::string& url,
                 const HttpGetOptions& options);

// Ends the request held in `context`, if any: detaches the listener, records
// the server's address as failed in the host cache when asked, closes the
// context and hands it to the collector. `context` is empty afterwards.
void CloseHttpGet(ovSmartPtr& context, bool markAddressFailed = false);

// Closes the context with its listener still attached, so that the
// listener's closed report follows at once. Nothing for an empty one.
void CloseHttpGetWithReport(const ovSmartPtr& context);

// After the peer closed the connection: detaches the listener and hands the
// context to the collector without closing it again. `context` is empty
// afterwards.
void ReleaseClosedHttpGet(ovSmartPtr& context);

// The HTTP client layer on top of the context, or null.
ovIHttpClientExLayer* HttpLayerOf(const ovSmartPtr& context);

// The response's status code and announced length (0 when missing).
int HttpStatusOf(const ovSmartPtr& context);
std::int64_t HttpContentLengthOf(const ovSmartPtr& context);

// The response's "Location:" value converted from UTF-8 to the system code
// page and resolved against `requestUrl` (a relative value names a place on
// the server that answered); empty when there is none.
std::string HttpRedirectLocationOf(const ovSmartPtr& context, const std::string& requestUrl);

// The response's raw "Location:" value resolved against `requestUrl`; empty
// when there is none.
std::string HttpRawRedirectLocationOf(const ovSmartPtr& context, const std::string& requestUrl);

// Whether the response's body comes in the chunked coding.
bool HttpBodyIsChunked(const ovSmartPtr& context);

inline bool IsHttpRedirect(int status)
{
    return status == 302 || status == 303;
}
