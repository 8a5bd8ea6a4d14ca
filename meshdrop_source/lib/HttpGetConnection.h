#pragma once
// One HTTP GET on a connection context of its own, as the direct downloader's
// probes and download session make them: a context opened with mask 0x05
// (connect failed, idle time-out), three seconds of connect and idle
// time-out, the HTTP client layer on top with the caller as its listener.

#include <cstdint>
#include <string>
#include <vector>

#include "nw/ovIHttpClientExLayer.h"
#include "ov/ovSmartPtr.h"

struct HttpGetRequest {
    const char* url = nullptr;
    int openActionKind = 1;      // the action the context is opened with
    int receiveActionKind = 0;   // when not 0: switched to after the layer is pushed...
    uint32_t receiveQuota = 0;   // ...with this receive quota in bytes per second
    const char* range = nullptr; // the "Range" header's value, or none
};

// Builds the context and sends the request under the library lock. On
// success `connection` holds the context. False when the request could not
// be started (no runtime, no free socket slot, a bad address or an unknown
// host): `connection` is then released and empty, and no report follows.
bool StartHttpGet(ovSmartPtr& connection, nwIHttpClientExEventListener* listener, const HttpGetRequest& request);

// The HTTP client layer on top of the context, or null.
ovIHttpClientExLayer* HttpLayerOf(const ovSmartPtr& connection);

// Ends the use of a connection without a report: detaches the listener,
// closes the context, hands it to the deferred-release collector (it may be
// inside its own notification) and empties the pointer. Nothing for an empty one.
void ReleaseHttpConnection(ovSmartPtr& connection);

// Closes the context with its listener attached, so that the listener's
// closed report follows at once. Nothing for an empty one.
void CloseHttpConnection(const ovSmartPtr& connection);

// The text cut at every "|": the addresses of one file, first to last.
std::vector<std::string> SplitMirrorUrls(const std::string& url);
