#pragma once
// The interface of the agent layer (class OVCLS_AGENT_LAYER), the only layer
// of a connection to the agent server. Call it on the library's worker thread
// or with the library lock held.

#include <cstdint>

#include "nw/nwAgentWire.h"
#include "nw/nwIAgentListener.h"
#include "ov/ovIUnknown.h"

class ovIAgentLayer : public ovIUnknown {
public:
    // Stores both; a null listener detaches (nothing is reported after it).
    virtual OVRESULT SetListener(nwIAgentListener* listener, std::uint32_t cookie) = 0;
    // Copies the count and the records into one report frame and writes it
    // down (it leaves once the connection is up). OVR_NET_FAIL for a missing
    // batch or records, or more records than one frame can carry.
    virtual OVRESULT SendReport(const nwAgentReportBatch* batch) = 0;
};

// The layer interface of a context's top layer (ovIQoSContext::GetTopLayer),
// when that layer is the agent layer pushed with OVCLS_AGENT_LAYER.
inline ovIAgentLayer* ovAsAgentLayer(ovIUnknown* topLayer)
{
    return static_cast<ovIAgentLayer*>(topLayer);
}
