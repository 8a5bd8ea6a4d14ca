#pragma once
// The HTTP client layer: the top layer of a connection context. It parses the
// address, resolves the host, connects, sends one GET or multipart POST, parses
// the response head and streams the body to its listener: a body in the
// chunked coding is decoded, so that the listener sees only its payload. It
// neither follows redirects nor decompresses bodies: the caller reads the
// status and headers and decides.
//
// A proxy set in the environment (nwHttpProxy.h) carries the request: a plain
// one goes to it in absolute form, an "https://" one through a CONNECT
// tunnel (nwCHttpProxyTunnelLayer) with TLS above it, verified against the
// origin's name. The connection then goes to the proxy's addresses.

#include <cstdint>
#include <memory>
#include <string>

#include "nw/nwCApplicationStack.h"
#include "nw/nwCHttpMessage.h"
#include "nw/nwCHttpRequestHeaderBuilder.h"
#include "nw/nwHttpProxy.h"
#include "nw/ovIHttpClientExLayer.h"

// The request a layer carries: its builder (made by SendGET/SendPOST), the
// body length, and the headers and query parameters set by the caller.
struct nwCHttpRequest {
    std::unique_ptr<nwCHttpRequestHeaderBuilder> builder;
    std::int64_t bodyLength = 0;
    nwHttpFieldList headers;
    nwHttpFieldList parameters;
};

class nwCHttpClientExLayer : public nwTApplicationLayer<ovIHttpClientExLayer> {
public:
    nwCHttpClientExLayer() { RegisterHandlers(); }
    ~nwCHttpClientExLayer() override = default;

    // ovIHttpClientExLayer
    OVRESULT SetListener(nwIHttpClientExEventListener* listener, std::uint32_t cookie) override;
    OVRESULT SetURL(const char* url) override;
    OVRESULT AddHeader(const char* name, const char* value) override;
    OVRESULT AddParameter(const char* name, const char* value) override;
    OVRESULT GetStatusCode(int* code) override;
    OVRESULT GetContentLength(std::int64_t* length) override;
    OVRESULT GetResponseHeader(const char* name, ovCString* value) override;
    OVRESULT GetRawHead(ovCString* head) override;
    OVRESULT SendGET() override;
    OVRESULT SendPOST(std::int64_t bodyLength) override;
    OVRESULT SendBody(const void* data, std::uint32_t length) override;

    // Layer slots
    bool OnConnected() override;
    bool OnUnreachable() override;
    void OnClose() override;
    bool OnConnectFailed() override;
    bool OnSendQueueEmpty() override;
    bool OnIdleTimeout() override;
    void RegisterHandlers() override;

    const nwCHttpMessage& GetResponse() const { return m_response; }
    std::int64_t GetBodyReceived() const { return m_bodyReceived; }
    bool IsChunkedBody() const { return m_chunked; }

private:
    // Calls the listener, when one is set, with the cookie.
    void Notify(void (nwIHttpClientExEventListener::*notification)(std::uint32_t));
    static int OnRawData(const std::uint8_t* data, std::uint32_t length, void* user);
    int ParseResponse(const std::uint8_t* data, std::uint32_t length);
    int ParseHead(const std::uint8_t* data, std::uint32_t length);
    int DeliverBody(const std::uint8_t* data, std::uint32_t length);
    // Decodes the chunked coding; answers the bytes of `data` consumed, or -1
    // for a malformed chunk.
    int DeliverChunked(const std::uint8_t* data, std::uint32_t length);
    // One line of the chunk framing (size line, end of data, trailer).
    bool TakeChunkLine(const char* line, std::uint32_t length);
    // Offers payload bytes to the listener; answers how many it took.
    int OfferBody(const std::uint8_t* data, std::uint32_t length);
    void Complete();
    // Builds the request with `builder` and writes its head down.
    OVRESULT SendRequest(std::unique_ptr<nwCHttpRequestHeaderBuilder> builder, const char* marker);
    // Pushes a layer of the class at the bottom unless the context has one.
    bool PushBottomLayer(std::uint32_t classId);
    // Pushes the proxy tunnel below TLS, aimed at `origin`.
    bool OpenTunnel(const nwHttpUrl& origin, const nwHttpProxy& proxy);
    // A service log line of the proxy.
    static void LogProxy(const char* format, const char* detail);

    nwIHttpClientExEventListener* m_listener = nullptr;
    std::uint32_t m_cookie = 0;
    bool m_headComplete = false;
    nwCHttpRequest m_request;
    nwCHttpMessage m_response;
    ovCString m_path;
    // A plain request through a proxy: "http://host[:port]" before the path.
    std::string m_origin;
    // The proxy as log lines name it; empty without one.
    std::string m_proxyText;
    bool m_trailerSent = false;
    std::int64_t m_bodyReceived = 0;
    std::int64_t m_bodySent = 0;
    std::int64_t m_postTotal = 0;
    std::int64_t m_contentLength = 0; // of the response, read once its head is parsed
    bool m_completed = false;
    // The chunked coding: where the decoder stands, and the payload bytes
    // left in the current chunk.
    enum class ChunkState { Size, Data, DataEnd, Trailer, Done };
    bool m_chunked = false;
    ChunkState m_chunkState = ChunkState::Size;
    std::uint64_t m_chunkLeft = 0;
};
