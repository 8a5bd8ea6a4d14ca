#pragma once
// The base of every protocol layer: default answers for the layer slots, an
// embedded stream dispatcher fed with the layer's incoming bytes, and the
// helpers for framed protocols. A concrete layer derives from
// nwTApplicationLayer<its layer interface> (below), which gives both of its
// interfaces one reference count.

#include <cstdint>
#include <new>

#include "nw/nwCStreamDispatcher.h"
#include "nw/nwIQoSNetStack.h"
#include "ov/ovClassIds.h"

class nwCApplicationStack : public nwIQoSNetStack {
public:
    nwCApplicationStack() = default;
    ~nwCApplicationStack() override = default;
    nwCApplicationStack(const nwCApplicationStack&) = delete;
    nwCApplicationStack& operator=(const nwCApplicationStack&) = delete;

    // Does nothing: an application layer is the top, nothing writes into it.
    OVRESULT OnSend(const nwBuffer& buffer) override;
    bool OnUnreachable() override { return true; }
    // Routes events 1, 2, 4 and 64 to the slots below; true for any other.
    bool OnEvent(std::uint32_t event, std::uint32_t value) override;
    // Hands the bytes to the embedded dispatcher.
    int OnReceive(const std::uint8_t* data, std::uint32_t length) override;
    // Stops the dispatcher, then OnClose.
    void OnClosed() override;

    virtual void OnClose() = 0;
    virtual bool OnConnectFailed() { return true; }
    virtual bool OnSendQueueEmpty() { return true; }
    virtual bool OnIdleTimeout() { return true; }
    virtual bool OnTimer() { return true; }
    // Installs the layer's stream handlers; called at the end of the concrete
    // layer's constructor.
    virtual void RegisterHandlers() = 0;

    // Framed protocols. AllocMessage gives a zeroed payload with room for the
    // header in front (null above the frame size bound); SendFramed writes the
    // header, passes the whole message down and frees the block.
    static std::uint8_t* AllocMessage(std::uint32_t length);
    OVRESULT SendFramed(std::uint16_t messageType, std::uint8_t* payload, std::uint32_t length,
                        std::uint16_t messageClass);
    static void FreeMessage(std::uint8_t* payload);

    OVRESULT AddFramedHandler(std::uint16_t messageClass, std::uint32_t messageType, nwFramedHandler handler,
                              void* user);
    void AddRawHandler(nwRawHandler handler, void* user);
    nwCStreamDispatcher& GetDispatcher() { return m_dispatcher; }

private:
    nwCStreamDispatcher m_dispatcher;
};

// The two views of a concrete layer: the stack view first, then its own
// layer interface.
template <class LayerInterface>
class nwTLayerViews : public nwCApplicationStack,
                      public LayerInterface {};

// A concrete layer's two views share one count (ovTRefCounted's AddRef and
// Release override both bases); QueryInterface answers OVIID_NET_STACK only.
template <class LayerInterface>
class nwTApplicationLayer : public ovTRefCounted<nwTLayerViews<LayerInterface>> {
public:
    OVRESULT QueryInterface(std::uint32_t interfaceId, void** out) override
    {
        if (interfaceId != OVIID_NET_STACK) {
            return OVR_NET_FAIL;
        }
        if (out) {
            *out = static_cast<nwIQoSNetStack*>(this);
        }
        return OVR_NET_OK;
    }

    // For the class table: makes a layer and answers its layer interface.
    template <class Layer>
    static ovIUnknown* CreateLayer()
    {
        Layer* layer = new (std::nothrow) Layer();
        return layer ? static_cast<LayerInterface*>(layer) : nullptr;
    }
};
