#pragma once
// The interface of the HTTP client layer (class OVCLS_HTTP_CLIENT_LAYER), the
// top layer of a connection context. One layer carries one request: a new
// request uses a new context. Results are OVR_NET_OK or OVR_NET_FAIL. Call it
// on the library's worker thread or with the library lock held.

#include <cstdint>

#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovCString.h"
#include "ov/ovIUnknown.h"

class ovIHttpClientExLayer : public ovIUnknown {
public:
    // Stores both; a null listener detaches (nothing is reported after it).
    virtual OVRESULT SetListener(nwIHttpClientExEventListener* listener, std::uint32_t cookie) = 0;
    // Parses the address, resolves the host through the host cache and starts
    // the connect of the (opened, not yet connected) context. Fails with
    // nothing connected for a bad address, an unknown host, an "https://"
    // address while no TLS layer can be pushed, or a context that is not open.
    virtual OVRESULT SetURL(const char* url) = 0;
    // Adds a request header, replacing the value of the first one whose name
    // starts with `name` (case-sensitive). Both must be non-empty and free of
    // CR and LF.
    virtual OVRESULT AddHeader(const char* name, const char* value) = 0;
    // Adds a query parameter, replacing as AddHeader does; both non-empty.
    virtual OVRESULT AddParameter(const char* name, const char* value) = 0;
    // The number at the start of the status line's value; 0 before a head.
    virtual OVRESULT GetStatusCode(int* code) = 0;
    // The leading digits of the first "Content-Length" header; 0 when missing,
    // not a number, or beyond the 64-bit range.
    virtual OVRESULT GetContentLength(std::int64_t* length) = 0;
    // The decoded value of the first response header whose name starts with
    // `name` (ASCII case ignored). Header names keep their colon: ask for
    // "Location:". Fails for an empty name or no match.
    virtual OVRESULT GetResponseHeader(const char* name, ovCString* value) = 0;
    // The response head as received; fails when there is none.
    virtual OVRESULT GetRawHead(ovCString* head) = 0;
    // Builds the GET request and queues it (it leaves once connected).
    virtual OVRESULT SendGET() = 0;
    // Builds the head of a multipart POST of `bodyLength` bytes and queues it;
    // the caller then writes the body with SendBody.
    virtual OVRESULT SendPOST(std::int64_t bodyLength) = 0;
    // Queues body bytes; fails for null data.
    virtual OVRESULT SendBody(const void* data, std::uint32_t length) = 0;
};

// The layer interface of a context's top layer (ovIQoSContext::GetTopLayer),
// when that layer is the HTTP client layer pushed with OVCLS_HTTP_CLIENT_LAYER.
inline ovIHttpClientExLayer* ovAsHttpClientExLayer(ovIUnknown* topLayer)
{
    return static_cast<ovIHttpClientExLayer*>(topLayer);
}
