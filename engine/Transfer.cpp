#include "Transfer.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "nw/nwHttpProxy.h"

namespace engine {

namespace {

constexpr long kMaxRedirects = 10;
constexpr long kConnectTimeoutMs = 10000;
constexpr std::size_t kMaxHeaderValue = 1024;

bool NameIs(std::string_view line, std::string_view name)
{
    if (line.size() <= name.size() || line[name.size()] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

std::string Value(std::string_view line)
{
    std::string_view value = line.substr(line.find(':') + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
        value.remove_suffix(1);
    }
    return std::string(value.substr(0, kMaxHeaderValue));
}

} // namespace

Transfer::Transfer(TransferSink& sink, void* owner) : m_sink(sink), m_owner(owner) {}

Transfer::~Transfer()
{
    if (m_easy) {
        curl_easy_cleanup(m_easy);
    }
    curl_slist_free_all(m_headers);
}

bool Transfer::Setup(const TransferRequest& request)
{
    m_request = request;
    m_easy = curl_easy_init();
    if (!m_easy) {
        return false;
    }
    std::string range = std::to_string(request.first) + "-";
    if (request.last >= 0) {
        range += std::to_string(request.last);
    }
    if (!request.ifRange.empty()) {
        m_headers = curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str());
    }
    CURL* e = m_easy;
    bool ok = curl_easy_setopt(e, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_RANGE, range.c_str()) == CURLE_OK;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    // Servers' certificates are checked, against the trust store the library
    // uses too: OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR when set, else the
    // system's.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file) {
        curl_easy_setopt(e, CURLOPT_CAINFO, file);
    }
    if (const char* folder = std::getenv("SSL_CERT_DIR"); folder && *folder) {
        curl_easy_setopt(e, CURLOPT_CAPATH, folder);
    }
    // The proxy the library takes to this address: the environment as curl
    // reads it, with the library's no_proxy rules (which know ports, too).
    // libcurl's own reading of no_proxy is switched off so that the engine
    // and the library never take different ways.
    const std::string proxy = nwProxySettingFor(request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(e, CURLOPT_USERAGENT, "QLSDownloadV32/3.5");
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, request.bufferSize);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::HeaderCallback);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::WriteCallback);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_PRIVATE, this);
    return ok;
}

std::string Transfer::EffectiveUrl() const
{
    char* url = nullptr;
    if (curl_easy_getinfo(m_easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) {
        return url;
    }
    return m_request.url;
}

std::size_t Transfer::HeaderCallback(char* data, std::size_t size, std::size_t count, void* user)
{
    return static_cast<Transfer*>(user)->OnHeaderLine(data, size * count);
}

std::size_t Transfer::OnHeaderLine(const char* data, std::size_t size)
{
    const std::string_view line(data, size);
    if (line.substr(0, 5) == "HTTP/") {
        // A new response (after a redirect or an interim answer) starts over.
        m_head = ResponseHead();
        m_headSeen = false;
        m_headJudged = false;
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            std::from_chars(line.data() + space + 1, line.data() + line.size(), m_head.status);
        }
        return size;
    }
    if (line == "\r\n" || line == "\n") {
        const bool interim = m_head.status < 200 || (m_head.status >= 300 && m_head.status < 400 && m_head.location);
        if (interim || m_headJudged) {
            return size;
        }
        m_headSeen = true;
        m_headJudged = true;
        return m_sink.OnResponse(*this, m_head) ? size : 0;
    }
    if (NameIs(line, "content-range")) {
        m_head.contentRange = Value(line);
    } else if (NameIs(line, "content-length")) {
        const std::string value = Value(line);
        std::int64_t length = -1;
        const auto [last, error] = std::from_chars(value.data(), value.data() + value.size(), length);
        m_head.contentLength = error == std::errc() && last == value.data() + value.size() ? length : -1;
    } else if (NameIs(line, "etag")) {
        m_head.etag = Value(line);
    } else if (NameIs(line, "last-modified")) {
        m_head.lastModified = Value(line);
    } else if (NameIs(line, "location")) {
        m_head.location = true;
    }
    return size;
}

std::size_t Transfer::WriteCallback(char* data, std::size_t size, std::size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    if (!transfer->m_headJudged) {
        // Body bytes without a head that ends in a blank line.
        transfer->m_headSeen = true;
        transfer->m_headJudged = true;
        if (!transfer->m_sink.OnResponse(*transfer, transfer->m_head)) {
            return 0;
        }
    }
    return transfer->m_sink.OnBody(*transfer, data, size * count);
}

} // namespace engine
