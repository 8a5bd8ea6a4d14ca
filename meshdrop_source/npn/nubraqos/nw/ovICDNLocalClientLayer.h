#pragma once
// The interface of the local engine client layer (class
// OVCLS_LOCAL_ENGINE_LAYER), the only layer of the connection to the local
// download engine. Each sender frames the caller's record as one request of
// the engine protocol (nwCDNLocalWire.h) and queues it on the context; the
// request leaves once the connection is up, in the order sent. Results are
// OVR_NET_OK, or OVR_NET_FAIL for a missing record or one that cannot be
// framed. Call it on the library's worker thread or with the library lock
// held.

#include <cstdint>

#include "nw/nwCDNLocalWire.h"
#include "nw/nwICDNLocalClientEventListener.h"
#include "ov/ovIUnknown.h"

class ovICDNLocalClientLayer : public ovIUnknown {
public:
    // Stores both; a null listener detaches (nothing is reported after it).
    virtual OVRESULT SetListener(nwICDNLocalClientEventListener* listener, std::uint32_t cookie) = 0;
    // Request 0, the record's 17 bytes.
    virtual OVRESULT SendJobMode(const nwCDNJobMode* mode) = 0;
    // Request 1, the record's 20 bytes.
    virtual OVRESULT SendRegion(const nwCDNRegion* region) = 0;
    // Request 14 (class 0x0102): the 41-byte header, then per item its fields
    // and its URL with the terminator. Fails for a missing URL.
    virtual OVRESULT SendJobList(const nwCDNJobList* list) = 0;
    // Request 19, the record's 41 bytes.
    virtual OVRESULT SendJobHeader(const nwCDNJobHeader* header) = 0;
    // Request 20: 540 bytes plus the URL. Fails for a missing URL or one
    // longer than 65535 bytes.
    virtual OVRESULT SendJobItem(const nwCDNJobItem* item) = 0;
    // Request 21.
    virtual OVRESULT SendJobEnd(std::uint32_t jobNumber) = 0;
    // Request 3, the record's 8 bytes.
    virtual OVRESULT SendStopJob(const nwCDNJobRef* job) = 0;
    // Request 12: the text in a 260-byte field (cut to 259 bytes); null sends
    // 260 zero bytes.
    virtual OVRESULT SendServiceId(const char* serviceId) = 0;
    // Request 13, the record's 9 bytes.
    virtual OVRESULT SendFileOption(const nwCDNFileOption* option) = 0;
    // Request 17.
    virtual OVRESULT SendEngineFlag(std::uint32_t jobNumber) = 0;
    // Request 18, the record's 10 bytes.
    virtual OVRESULT SendResumeAnswer(const nwCDNResumeAnswer* answer) = 0;
    // Request 22, no payload.
    virtual OVRESULT RequestStatus() = 0;
};

// The layer interface of a context's top layer (ovIQoSContext::GetTopLayer),
// when that layer is the engine client layer pushed with
// OVCLS_LOCAL_ENGINE_LAYER.
inline ovICDNLocalClientLayer* ovAsCDNLocalClientLayer(ovIUnknown* topLayer)
{
    return static_cast<ovICDNLocalClientLayer*>(topLayer);
}
