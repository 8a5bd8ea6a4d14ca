#pragma once
// The agent layer: sends the reporter's batches of report records as report
// frames and hands the server's one-byte answers to its listener. A frame of
// another class or type, or an answer without a byte, closes the connection.

#include <cstdint>

#include "nw/nwCApplicationStack.h"
#include "nw/ovIAgentLayer.h"

class nwCAgentLayer : public nwTApplicationLayer<ovIAgentLayer> {
public:
    nwCAgentLayer() { RegisterHandlers(); }
    ~nwCAgentLayer() override = default;

    // ovIAgentLayer
    OVRESULT SetListener(nwIAgentListener* listener, std::uint32_t cookie) override;
    OVRESULT SendReport(const nwAgentReportBatch* batch) override;

    // Layer slots
    bool OnConnected() override;
    int OnReceive(const std::uint8_t* data, std::uint32_t length) override;
    void OnClose() override;
    bool OnConnectFailed() override;
    bool OnIdleTimeout() override;
    void RegisterHandlers() override;

private:
    static void OnAnswerFrame(const std::uint8_t* payload, std::uint32_t length, void* user);
    // Calls the listener, when one is set, with the cookie.
    void Notify(void (nwIAgentListener::*notification)(std::uint32_t));

    nwIAgentListener* m_listener = nullptr;
    std::uint32_t m_cookie = 0;
    bool m_rejected = false;
};
