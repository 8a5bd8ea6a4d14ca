#include "RecordingLayer.h"

#include "ov/ovClassFactory.h"

void RecordingLayer::RegisterClass()
{
    if (!ovClassFactory::IsRegistered(kClassId)) {
        ovClassFactory::Register(kClassId, &CreateLayer<RecordingLayer>);
    }
}

bool RecordingLayer::OnConnected()
{
    ++connected;
    if (order) {
        order->push_back(this);
    }
    return passConnected;
}

bool RecordingLayer::OnUnreachable()
{
    ++unreachable;
    return true;
}

int RecordingLayer::OnReceive(const std::uint8_t* data, std::uint32_t length)
{
    if (order) {
        order->push_back(this);
    }
    switch (consume) {
    case Consume::All:
        received.append(reinterpret_cast<const char*>(data), length);
        return static_cast<int>(length);
    case Consume::Nothing:
        return 0;
    case Consume::Fail:
        return -1;
    case Consume::PassUp: {
        received.append(reinterpret_cast<const char*>(data), length);
        return PassUp(data, length);
    }
    case Consume::Frames:
        return nwCApplicationStack::OnReceive(data, length);
    }
    return 0;
}

void RecordingLayer::OnClose()
{
    ++closed;
    if (onClose) {
        onClose();
    }
}

bool RecordingLayer::OnConnectFailed()
{
    ++connectFailed;
    return true;
}

bool RecordingLayer::OnSendQueueEmpty()
{
    ++queueEmpty;
    return true;
}

bool RecordingLayer::OnIdleTimeout()
{
    ++idleTimeouts;
    return true;
}

bool RecordingLayer::OnEvent(std::uint32_t event, std::uint32_t value)
{
    events.push_back(event);
    return nwCApplicationStack::OnEvent(event, value);
}
