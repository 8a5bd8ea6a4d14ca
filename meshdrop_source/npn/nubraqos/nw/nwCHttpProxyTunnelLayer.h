#pragma once
// The proxy tunnel layer: the bottom layer of an "https://" connection made
// through an HTTP proxy. When the TCP connection to the proxy is up it sends
// "CONNECT host:port HTTP/1.1" (with Basic credentials when the proxy URL
// has them) and holds the notice back from the layers above. A 2xx answer
// opens the tunnel: the layers above hear that they are connected, and bytes
// pass through unchanged both ways from then on. Any other answer (407 among
// them), or a head that does not end within the bound, is written to the
// service log with the proxy's name and closes the connection, so the
// session above sees a close and goes its failure path.

#include <cstdint>
#include <string>
#include <vector>

#include "nw/nwCApplicationStack.h"
#include "nw/ovIHttpProxyTunnelLayer.h"

class nwCHttpProxyTunnelLayer : public nwTApplicationLayer<ovIHttpProxyTunnelLayer> {
public:
    nwCHttpProxyTunnelLayer() { RegisterHandlers(); }

    // ovIHttpProxyTunnelLayer
    OVRESULT SetTarget(const char* host, std::uint16_t port, const char* authorization, const char* proxyText) override;
    const char* GetTargetHost() override { return m_host.c_str(); }

    // Layer slots
    OVRESULT OnSend(const nwBuffer& buffer) override;
    bool OnConnected() override;
    void OnClose() override {}
    void RegisterHandlers() override;

    bool IsOpen() const { return m_open; }

private:
    static int OnRawData(const std::uint8_t* data, std::uint32_t length, void* user);
    int Receive(const std::uint8_t* data, std::uint32_t length);
    // Reads the proxy's answer to CONNECT: the head's length once the tunnel
    // is open, 0 to wait for more, -1 (after the log line) when refused.
    int ReadAnswer(const std::uint8_t* data, std::uint32_t length);
    void Refused(int status);

    std::string m_host;
    std::uint16_t m_port = 0;
    std::string m_authorization;
    std::string m_proxyText;
    bool m_open = false;
    // Bytes the layers above wrote before the tunnel opened.
    std::vector<std::uint8_t> m_held;
};
