#include "nw/nwCHttpProxyTunnelLayer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cp/CNpn.h"
#include "nw/nwCHttpMessage.h"
#include "nw/nwHttpConstants.h"
#include "nw/nwHttpUrl.h"

OVRESULT nwCHttpProxyTunnelLayer::SetTarget(const char* host, std::uint16_t port, const char* authorization,
                                            const char* proxyText)
{
    if (!host || !*host || port == 0) {
        return OVR_NET_FAIL;
    }
    m_host = host;
    m_port = port;
    m_authorization = authorization ? authorization : "";
    m_proxyText = proxyText ? proxyText : "";
    return OVR_NET_OK;
}

void nwCHttpProxyTunnelLayer::RegisterHandlers()
{
    AddRawHandler(&nwCHttpProxyTunnelLayer::OnRawData, this);
}

bool nwCHttpProxyTunnelLayer::OnConnected()
{
    const std::string authority = nwUrlHostText(m_host.c_str()) + ":" + std::to_string(m_port);
    std::string request = "CONNECT " + authority + " " + kHttpVersion + "\r\nHost: " + authority + "\r\n";
    if (!m_authorization.empty()) {
        request += "Proxy-Authorization: " + m_authorization + "\r\n";
    }
    request += "\r\n";
    WriteDown({reinterpret_cast<const std::uint8_t*>(request.data()), static_cast<std::uint32_t>(request.size())});
    // The layers above are connected once the proxy has opened the tunnel.
    return false;
}

OVRESULT nwCHttpProxyTunnelLayer::OnSend(const nwBuffer& buffer)
{
    if (!buffer.data || buffer.length == 0) {
        return OVR_NET_OK;
    }
    if (!m_open) {
        m_held.insert(m_held.end(), buffer.data, buffer.data + buffer.length);
        return OVR_NET_OK;
    }
    return WriteDown(buffer);
}

int nwCHttpProxyTunnelLayer::OnRawData(const std::uint8_t* data, std::uint32_t length, void* user)
{
    return static_cast<nwCHttpProxyTunnelLayer*>(user)->Receive(data, length);
}

int nwCHttpProxyTunnelLayer::Receive(const std::uint8_t* data, std::uint32_t length)
{
    if (!m_open) {
        return ReadAnswer(data, length);
    }
    return PassUp(data, length);
}

int nwCHttpProxyTunnelLayer::ReadAnswer(const std::uint8_t* data, std::uint32_t length)
{
    static constexpr char kHeadEnd[] = "\r\n\r\n";
    const auto* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + std::min(length, kHttpMaxResponseHead);
    const char* found = std::search(begin, end, kHeadEnd, kHeadEnd + 4);
    if (found == end) {
        if (length < kHttpMaxResponseHead) {
            return 0;
        }
        Refused(0);
        return -1;
    }
    const auto headLength = static_cast<std::uint32_t>(found - begin) + 4;
    nwCHttpMessage answer;
    answer.Parse(begin, headLength);
    const int status = answer.HasStatusLine() ? answer.GetStatusCode() : 0;
    if (status < 200 || status > 299) {
        Refused(status);
        return -1;
    }
    m_open = true;
    // What the layers above wrote meanwhile leaves first, then they hear of
    // the connection (TLS starts its handshake from there).
    if (!m_held.empty()) {
        const std::vector<std::uint8_t> held = std::move(m_held);
        m_held.clear();
        WriteDown({held.data(), static_cast<std::uint32_t>(held.size())});
    }
    PassConnectedUp();
    return static_cast<int>(headLength);
}

void nwCHttpProxyTunnelLayer::Refused(int status)
{
    char line[512];
    std::snprintf(line, sizeof line, "[MeshdropLib] Proxy Refused(%d) : %s -> %s:%u", status, m_proxyText.c_str(),
                  nwUrlHostText(m_host.c_str()).c_str(), static_cast<unsigned>(m_port));
    CNpn::Log(line);
}
