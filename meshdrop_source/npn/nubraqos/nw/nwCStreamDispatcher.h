#pragma once
// Cuts an incoming byte stream into messages. In framed mode it reads 14-byte
// headers and hands each complete message to the handler registered for its
// (class, type); in raw mode it offers the bytes to one parser, which says how
// many it took. Embedded in every protocol layer and creatable on its own.

#include <cstdint>
#include <vector>

#include "nw/nwFrame.h"
#include "ov/ovIUnknown.h"

// Called with one complete message's payload.
using nwFramedHandler = void (*)(const std::uint8_t* payload, std::uint32_t length, void* user);
// Called with all bytes not yet consumed; answers how many it took, 0 to wait
// for more, negative to fail the stream.
using nwRawHandler = int (*)(const std::uint8_t* data, std::uint32_t length, void* user);

class nwCStreamDispatcherBase : public ovIUnknown {
public:
    virtual OVRESULT AddFramedHandler(std::uint16_t messageClass, std::uint32_t messageType, nwFramedHandler handler,
                                      void* user) = 0;
    // `consumed` receives the bytes taken (0 to wait for more) or a negative
    // value when the stream cannot be parsed.
    virtual OVRESULT Dispatch(const std::uint8_t* data, std::uint32_t length, int* consumed) = 0;
};

class nwCStreamDispatcher : public ovTRefCounted<nwCStreamDispatcherBase> {
public:
    nwCStreamDispatcher() = default;
    ~nwCStreamDispatcher() override = default;

    OVRESULT AddFramedHandler(std::uint16_t messageClass, std::uint32_t messageType, nwFramedHandler handler,
                              void* user) override;
    OVRESULT Dispatch(const std::uint8_t* data, std::uint32_t length, int* consumed) override;

    // Adds a raw parser and switches the dispatcher to raw mode.
    void AddRawHandler(nwRawHandler handler, void* user);

    // A stopped dispatcher consumes nothing more (set when the connection closed).
    void Stop() { m_stopped = true; }
    bool IsStopped() const { return m_stopped; }
    bool IsRawMode() const { return m_rawMode; }

private:
    struct HandlerEntry {
        bool framed;
        std::uint16_t messageClass;
        std::uint32_t messageType;
        nwFramedHandler framedHandler;
        nwRawHandler rawHandler;
        void* user;
    };

    int ParseOne(const std::uint8_t* data, std::uint32_t length);

    nwFrameHeader m_header;
    std::vector<HandlerEntry> m_handlers;
    bool m_rawMode = false;
    bool m_stopped = false;
};
