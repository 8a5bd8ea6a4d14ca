#pragma once
// Class identifiers understood by ovSmartPtr::CreateInstance, and the one
// interface identifier the protocol layers answer.

#include <cstdint>

inline constexpr std::uint32_t OVCLS_SOCKET = 4101;                  // cpCSocket
inline constexpr std::uint32_t OVCLS_TIMER = 4102;                   // cpCTimer
inline constexpr std::uint32_t OVCLS_MUTEX = 4104;                   // cpCMutex
inline constexpr std::uint32_t OVCLS_QOS_CONTEXT = 4106;             // cpCQoSContext
inline constexpr std::uint32_t OVCLS_AGENT_LAYER = 8195;             // nwCAgentLayer
inline constexpr std::uint32_t OVCLS_STREAM_DISPATCHER = 8198;       // nwCStreamDispatcher
inline constexpr std::uint32_t OVCLS_HTTP_DOWNLOADER = 8201;         // nwCHTTPDownloader
inline constexpr std::uint32_t OVCLS_HTTP_CLIENT_LAYER = 8207;       // nwCHttpClientExLayer
inline constexpr std::uint32_t OVCLS_LOCAL_ENGINE_LAYER = 8213;      // nwCCDNLocalClientLayer
inline constexpr std::uint32_t OVCLS_TLS_LAYER = 8215;               // nwCSecureSocketClientLayer
inline constexpr std::uint32_t OVCLS_HTTP_PROXY_TUNNEL_LAYER = 8217; // nwCHttpProxyTunnelLayer

// Asks a protocol layer for its nwIQoSNetStack view.
inline constexpr std::uint32_t OVIID_NET_STACK = 8214;
