#include "nw/nwCHttpClientExLayer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cp/CNpn.h"
#include "cp/cpCHostCache.h"
#include "cp/ovIQoSContext.h"
#include "nw/nwCHttpGETHeaderBuilder.h"
#include "nw/nwCHttpPOSTHeaderBuilder.h"
#include "nw/nwHttpConstants.h"
#include "nw/nwHttpUrl.h"
#include "nw/ovIHttpProxyTunnelLayer.h"
#include "ov/ovClassIds.h"

namespace {

constexpr char kHeadEnd[] = "\r\n\r\n";
constexpr std::uint32_t kHeadEndLength = 4;

// Offset just past the first blank line within `length` bytes, or 0.
std::uint32_t FindHeadEnd(const std::uint8_t* data, std::uint32_t length)
{
    if (length < kHeadEndLength) {
        return 0;
    }
    const auto* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + length;
    const char* found = std::search(begin, end, kHeadEnd, kHeadEnd + kHeadEndLength);
    return found == end ? 0 : static_cast<std::uint32_t>(found - begin) + kHeadEndLength;
}

} // namespace

OVRESULT nwCHttpClientExLayer::SetListener(nwIHttpClientExEventListener* listener, std::uint32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::SetURL(const char* url)
{
    nwHttpUrl parsed;
    if (!url || !*url || !nwParseHttpUrl(url, &parsed) || !m_context) {
        return OVR_NET_FAIL;
    }
    // Only an opened context that has not started connecting can connect.
    int state = QOS_STATE_NEW;
    if (OV_FAILED(m_context->GetState(&state)) || state != QOS_STATE_OPEN) {
        return OVR_NET_FAIL;
    }
    nwHttpProxy proxy;
    const nwProxyChoice choice = nwChooseProxy(parsed, &proxy);
    if (choice == nwProxyChoice::Unusable) {
        LogProxy("[MeshdropLib] Proxy Unusable : %s", proxy.text.c_str());
        return OVR_NET_FAIL;
    }
    const bool viaProxy = choice == nwProxyChoice::Proxy;
    // The connection goes to the proxy when there is one, else to the origin;
    // every address of that host is tried in turn.
    const ovCString& host = viaProxy ? proxy.host : parsed.host;
    const std::uint16_t port = viaProxy ? proxy.port : parsed.port;
    std::vector<cpAddress> addresses;
    if (!cpCHostCache::GetInstance().GetAddresses(host.GetString(), port, &addresses)) {
        return OVR_NET_FAIL;
    }
    if (parsed.scheme == HTTP_SCHEME_HTTPS) {
        // HTTPS runs over a TLS layer at the bottom (through a proxy: over a
        // tunnel below it); without them the address cannot be served and
        // nothing is connected.
        if (!PushBottomLayer(OVCLS_TLS_LAYER) || (viaProxy && !OpenTunnel(parsed, proxy))) {
            return OVR_NET_FAIL;
        }
    } else if (viaProxy) {
        // A plain request goes to the proxy in absolute form.
        m_origin = parsed.Origin();
        if (!proxy.authorization.empty()) {
            nwSetFieldByPrefix(m_request.headers, "Proxy-Authorization", proxy.authorization.c_str());
        }
    }
    m_proxyText = viaProxy ? proxy.text : std::string();
    m_path = parsed.path;
    nwSetFieldByPrefix(m_request.headers, "Host", parsed.HostText().c_str());
    RemoveEventMask(QOS_SEND_QUEUE_EMPTY);
    SetHostName(host.GetString());
    std::vector<cpEndpoint> endpoints;
    for (const cpAddress& address : addresses) {
        endpoints.push_back({address, port});
    }
    SetRemoteEndpoint(endpoints.front());
    m_context->ConnectEndpoints(endpoints);
    return OVR_NET_OK;
}

bool nwCHttpClientExLayer::PushBottomLayer(std::uint32_t classId)
{
    ovIUnknown* layer = nullptr;
    return OV_SUCCEEDED(FindLayer(classId, &layer)) || OV_SUCCEEDED(AddLayer(classId, true));
}

bool nwCHttpClientExLayer::OpenTunnel(const nwHttpUrl& origin, const nwHttpProxy& proxy)
{
    ovIUnknown* tunnel = nullptr;
    if (!PushBottomLayer(OVCLS_HTTP_PROXY_TUNNEL_LAYER) ||
        OV_FAILED(FindLayer(OVCLS_HTTP_PROXY_TUNNEL_LAYER, &tunnel)) || !tunnel) {
        return false;
    }
    return OV_SUCCEEDED(static_cast<ovIHttpProxyTunnelLayer*>(tunnel)->SetTarget(
        origin.host.GetString(), origin.port, proxy.authorization.c_str(), proxy.text.c_str()));
}

void nwCHttpClientExLayer::LogProxy(const char* format, const char* detail)
{
    char line[512];
    std::snprintf(line, sizeof line, format, detail);
    CNpn::Log(line);
}

OVRESULT nwCHttpClientExLayer::AddHeader(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value || nwHasLineBreak(name) || nwHasLineBreak(value)) {
        return OVR_NET_FAIL;
    }
    nwSetFieldByPrefix(m_request.headers, name, value);
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::AddParameter(const char* name, const char* value)
{
    if (!name || !*name || !value || !*value) {
        return OVR_NET_FAIL;
    }
    nwSetFieldByPrefix(m_request.parameters, name, value);
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::GetStatusCode(int* code)
{
    if (!code) {
        return OVR_NET_FAIL;
    }
    *code = m_response.GetStatusCode();
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::GetContentLength(std::int64_t* length)
{
    if (!length) {
        return OVR_NET_FAIL;
    }
    *length = m_response.GetContentLength();
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::GetResponseHeader(const char* name, ovCString* value)
{
    const ovCString* found = m_response.FindHeader(name);
    if (!found || !value) {
        return OVR_NET_FAIL;
    }
    *value = *found;
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::GetRawHead(ovCString* head)
{
    if (!head || !m_response.HasHead()) {
        return OVR_NET_FAIL;
    }
    *head = m_response.GetRawHead();
    return OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::SendRequest(std::unique_ptr<nwCHttpRequestHeaderBuilder> builder, const char* marker)
{
    if (!builder || !m_context) {
        return OVR_NET_FAIL;
    }
    // The marker carries the path to the request line (an empty path gives "/").
    if (!m_path.IsEmpty()) {
        nwSetFieldByPrefix(m_request.headers, marker, m_path.GetString());
    }
    builder->SetBodyLength(m_request.bodyLength);
    for (const nwHttpField& header : m_request.headers) {
        builder->AddHeader(header.name.GetString(), header.value.GetString());
    }
    for (const nwHttpField& parameter : m_request.parameters) {
        builder->AddParameter(parameter.name.GetString(), parameter.value.GetString());
    }
    builder->SetTargetOrigin(m_origin.c_str());
    ovCString head;
    builder->Build(&head);
    m_request.builder = std::move(builder);
    return WriteDown({reinterpret_cast<const std::uint8_t*>(head.GetString()), head.GetLength()});
}

OVRESULT nwCHttpClientExLayer::SendGET()
{
    const OVRESULT result = SendRequest(std::make_unique<nwCHttpGETHeaderBuilder>(), "GET");
    return OV_FAILED(result) ? OVR_NET_FAIL : OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::SendPOST(std::int64_t bodyLength)
{
    // A negative or absurd length cannot be announced.
    if (bodyLength < 0 || bodyLength > (INT64_MAX >> 1) || !m_context) {
        return OVR_NET_FAIL;
    }
    m_postTotal = bodyLength;
    m_request.bodyLength = bodyLength;
    AddEventMask(QOS_SEND_QUEUE_EMPTY);
    const OVRESULT result = SendRequest(std::make_unique<nwCHttpPOSTHeaderBuilder>(), "POST");
    return OV_FAILED(result) ? OVR_NET_FAIL : OVR_NET_OK;
}

OVRESULT nwCHttpClientExLayer::SendBody(const void* data, std::uint32_t length)
{
    if (!data || !m_context) {
        return OVR_NET_FAIL;
    }
    m_bodySent += length;
    const OVRESULT result = WriteDown({static_cast<const std::uint8_t*>(data), length});
    return OV_FAILED(result) ? OVR_NET_FAIL : OVR_NET_OK;
}

void nwCHttpClientExLayer::Notify(void (nwIHttpClientExEventListener::*notification)(std::uint32_t))
{
    if (m_listener) {
        (m_listener->*notification)(m_cookie);
    }
}

bool nwCHttpClientExLayer::OnConnected()
{
    Notify(&nwIHttpClientExEventListener::OnConnected);
    return true;
}

bool nwCHttpClientExLayer::OnUnreachable()
{
    Notify(&nwIHttpClientExEventListener::OnHostUnreach);
    return true;
}

void nwCHttpClientExLayer::OnClose()
{
    Notify(&nwIHttpClientExEventListener::OnClosed);
    m_listener = nullptr;
}

bool nwCHttpClientExLayer::OnConnectFailed()
{
    if (!m_proxyText.empty()) {
        LogProxy("[MeshdropLib] Proxy Connect Failed : %s", m_proxyText.c_str());
    }
    Notify(&nwIHttpClientExEventListener::OnConnectTimeout);
    return true;
}

bool nwCHttpClientExLayer::OnIdleTimeout()
{
    Notify(&nwIHttpClientExEventListener::OnRecvTimeout);
    return true;
}

bool nwCHttpClientExLayer::OnSendQueueEmpty()
{
    if (m_postTotal > 0 && m_bodySent >= m_postTotal) {
        if (!m_trailerSent && m_request.builder) {
            m_trailerSent = true;
            ovCString trailer;
            m_request.builder->BuildTrailer(&trailer);
            WriteDown({reinterpret_cast<const std::uint8_t*>(trailer.GetString()), trailer.GetLength()});
        }
        RemoveEventMask(QOS_SEND_QUEUE_EMPTY);
        return true;
    }
    Notify(&nwIHttpClientExEventListener::OnSendQueueEmpty);
    return true;
}

void nwCHttpClientExLayer::RegisterHandlers()
{
    AddRawHandler(&nwCHttpClientExLayer::OnRawData, this);
}

int nwCHttpClientExLayer::OnRawData(const std::uint8_t* data, std::uint32_t length, void* user)
{
    return static_cast<nwCHttpClientExLayer*>(user)->ParseResponse(data, length);
}

int nwCHttpClientExLayer::ParseResponse(const std::uint8_t* data, std::uint32_t length)
{
    if (!data || length == 0) {
        return 0;
    }
    return m_headComplete ? DeliverBody(data, length) : ParseHead(data, length);
}

int nwCHttpClientExLayer::ParseHead(const std::uint8_t* data, std::uint32_t length)
{
    // Only the first kHttpMaxResponseHead bytes may hold the head.
    const std::uint32_t headLength = FindHeadEnd(data, std::min(length, kHttpMaxResponseHead));
    if (headLength == 0) {
        // A head that has not ended within the bound never will: fail the
        // connection, which closes it and tells the listener.
        return length >= kHttpMaxResponseHead ? -1 : 0;
    }
    m_response.Parse(reinterpret_cast<const char*>(data), headLength);
    // What does not start as a response does not go on as one.
    if (!m_response.HasStatusLine()) {
        return -1;
    }
    m_chunked = m_response.IsChunked();
    m_contentLength = m_response.GetContentLength();
    m_headComplete = true;
    // A plain request through a proxy that wants credentials: the session
    // sees the status; the log says which proxy refused.
    if (!m_origin.empty() && m_response.GetStatusCode() == 407) {
        LogProxy("[MeshdropLib] Proxy Refused(407) : %s", m_proxyText.c_str());
    }
    Notify(&nwIHttpClientExEventListener::OnHeaderReceived);
    return static_cast<int>(headLength);
}

int nwCHttpClientExLayer::DeliverBody(const std::uint8_t* data, std::uint32_t length)
{
    if (!m_listener) {
        return 0;
    }
    if (m_chunked) {
        return DeliverChunked(data, length);
    }
    const std::int64_t contentLength = m_contentLength;
    std::uint32_t offered = length;
    if (contentLength > 0) {
        // Bytes past the announced length belong to no body: they are dropped
        // rather than handed to the listener as if they were.
        if (m_completed) {
            return static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
        }
        const std::int64_t remaining = contentLength - m_bodyReceived;
        offered = static_cast<std::uint32_t>(std::min<std::int64_t>(length, remaining));
    }
    const int consumed = OfferBody(data, offered);
    if (consumed < 0) {
        return -1;
    }
    if (contentLength > 0 && m_bodyReceived >= contentLength && !m_completed) {
        Complete();
    }
    return consumed;
}

int nwCHttpClientExLayer::OfferBody(const std::uint8_t* data, std::uint32_t length)
{
    const std::uint32_t offered = std::min<std::uint32_t>(length, INT32_MAX);
    const int consumed = m_listener->OnData(m_cookie, data, offered);
    if (consumed < 0 || static_cast<std::uint32_t>(consumed) > offered) {
        return -1;
    }
    m_bodyReceived += consumed;
    return consumed;
}

void nwCHttpClientExLayer::Complete()
{
    m_completed = true;
    Notify(&nwIHttpClientExEventListener::OnComplete);
}

int nwCHttpClientExLayer::DeliverChunked(const std::uint8_t* data, std::uint32_t length)
{
    std::uint32_t position = 0;
    // Every listener call may close the connection (and detach the
    // listener): what was consumed until then is answered at once.
    while (position < length && m_listener) {
        const std::uint32_t left = length - position;
        if (m_chunkState == ChunkState::Done) {
            // Bytes after the last chunk and its trailers belong to no body.
            return static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
        }
        if (m_chunkState == ChunkState::Data) {
            const auto offer = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, m_chunkLeft));
            const int consumed = OfferBody(data + position, offer);
            if (consumed < 0) {
                return -1;
            }
            position += static_cast<std::uint32_t>(consumed);
            m_chunkLeft -= static_cast<std::uint32_t>(consumed);
            if (m_chunkLeft == 0) {
                m_chunkState = ChunkState::DataEnd;
            }
            if (static_cast<std::uint32_t>(consumed) < offer) {
                break; // the listener keeps the rest for later
            }
            continue;
        }
        const void* end = std::memchr(data + position, '\n', std::min(left, kHttpMaxChunkLine + 1));
        if (!end) {
            // A framing line longer than the bound is no chunked body.
            if (left > kHttpMaxChunkLine) {
                return -1;
            }
            break;
        }
        const auto* line = reinterpret_cast<const char*>(data + position);
        auto lineLength = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - (data + position));
        position += lineLength + 1;
        if (lineLength > 0 && line[lineLength - 1] == '\r') {
            --lineLength;
        }
        if (!TakeChunkLine(line, lineLength)) {
            return -1;
        }
    }
    return static_cast<int>(position);
}

bool nwCHttpClientExLayer::TakeChunkLine(const char* line, std::uint32_t length)
{
    switch (m_chunkState) {
    case ChunkState::DataEnd:
        // The CR LF after a chunk's data, and nothing else.
        m_chunkState = ChunkState::Size;
        return length == 0;
    case ChunkState::Trailer:
        // Trailer fields are read and ignored up to the blank line.
        if (length == 0) {
            m_chunkState = ChunkState::Done;
        }
        return true;
    case ChunkState::Size: {
        // hex digits, then optional spaces and ";extensions", which are ignored.
        std::uint64_t size = 0;
        std::uint32_t digits = 0;
        for (; digits < length; ++digits) {
            const char c = line[digits];
            const int value = (c >= '0' && c <= '9')   ? c - '0'
                              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                       : -1;
            if (value < 0) {
                break;
            }
            // A size beyond 2^60 bytes is no size this client believes.
            if (size >> 56 != 0) {
                return false;
            }
            size = size * 16 + static_cast<std::uint64_t>(value);
        }
        std::uint32_t rest = digits;
        while (rest < length && (line[rest] == ' ' || line[rest] == '\t')) {
            ++rest;
        }
        if (digits == 0 || (rest < length && line[rest] != ';')) {
            return false;
        }
        if (size == 0) {
            m_chunkState = ChunkState::Trailer;
            Complete(); // the last chunk: the body is whole
        } else {
            m_chunkState = ChunkState::Data;
            m_chunkLeft = size;
        }
        return true;
    }
    default:
        return false;
    }
}
