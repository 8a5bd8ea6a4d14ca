#include "nw/nwCHTTPDownloader.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "cp/cpCMutex.h"
#include "cp/cpCQoS.h"
#include "cp/ovIQoSContext.h"
#include "nw/ovIHttpClientExLayer.h"
#include "ov/ovCGarbageCollector.h"
#include "ov/ovClassIds.h"
#include "ut/utCodePage.h"

namespace {

// The library lock of the running runtime (none without one).
cpCMutex* LibraryMutex()
{
    cpCQoS* qos = cpCQoS::GetInstance();
    return qos ? qos->GetLock() : nullptr;
}

ovIHttpClientExLayer* LayerOf(const ovSmartPtr& context)
{
    ovIUnknown* top = context ? context.Get<ovIQoSContext>()->GetTopLayer() : nullptr;
    return top ? ovAsHttpClientExLayer(top) : nullptr;
}

} // namespace

nwCHTTPDownloader::~nwCHTTPDownloader()
{
    m_listener = nullptr;
    CancelAll();
}

OVRESULT nwCHTTPDownloader::SetListener(nwIHTTPDownloaderEventListener* listener)
{
    m_listener = listener;
    return OVR_NET_OK;
}

OVRESULT nwCHTTPDownloader::Download(std::uint32_t key, const char* url, std::uint32_t userValue)
{
    Start(key, url, userValue, 0, 0);
    return OVR_NET_OK;
}

OVRESULT nwCHTTPDownloader::Cancel(std::uint32_t key)
{
    cpCMutexLock lock(LibraryMutex());
    for (int i = m_downloads.GetCount() - 1; i >= 0; --i) {
        auto* record = static_cast<Record*>(m_downloads.GetAt(i));
        if (record && record->key == key) {
            End(record);
        }
    }
    return OVR_NET_OK;
}

OVRESULT nwCHTTPDownloader::CancelAll()
{
    cpCMutexLock lock(LibraryMutex());
    while (m_downloads.GetCount() > 0) {
        End(static_cast<Record*>(m_downloads.GetAt(m_downloads.GetCount() - 1)));
    }
    return OVR_NET_OK;
}

ovIQoSContext* nwCHTTPDownloader::FindContext(std::uint32_t key)
{
    for (int i = 0; i < m_downloads.GetCount(); ++i) {
        auto* record = static_cast<Record*>(m_downloads.GetAt(i));
        if (record->key == key && record->context) {
            return record->context.Get<ovIQoSContext>();
        }
    }
    return nullptr;
}

void nwCHTTPDownloader::Start(std::uint32_t key, const char* url, std::uint32_t userValue, int attempt, int redirects)
{
    auto owned = std::make_unique<Record>();
    owned->key = key;
    owned->userValue = userValue;
    owned->attempt = attempt;
    owned->redirects = redirects;
    owned->url = url;
    owned->cookie = ++m_nextCookie;
    Record* record = owned.get();
    if (!m_downloads.Add(record)) {
        if (m_listener) {
            m_listener->OnDownloadFailed(key, userValue);
        }
        return;
    }
    owned.release();
    cpCMutexLock lock(LibraryMutex());
    if (!OpenRequest(record)) {
        Finish(record, Outcome::Failed);
    }
}

bool nwCHTTPDownloader::OpenRequest(Record* record)
{
    if (record->url.IsEmpty() || !record->context.CreateInstance(OVCLS_QOS_CONTEXT)) {
        return false;
    }
    ovIQoSContext* context = record->context.Get<ovIQoSContext>();
    if (OV_FAILED(context->Open(QOS_ACTION_HIGH, QOS_CONNECT_FAILED | QOS_IDLE_TIMEOUT, nullptr)) ||
        OV_FAILED(context->AddLayer(OVCLS_HTTP_CLIENT_LAYER, false))) {
        return false;
    }
    context->SetOption(QOS_OPTION_IDLE_TIMEOUT, &kIdleTimeoutSeconds);
    ovIHttpClientExLayer* layer = LayerOf(record->context);
    if (!layer) {
        return false;
    }
    layer->SetListener(this, record->cookie);
    return OV_SUCCEEDED(layer->SetURL(record->url.GetString())) && OV_SUCCEEDED(layer->SendGET());
}

nwCHTTPDownloader::Record* nwCHTTPDownloader::Find(std::uint32_t cookie)
{
    for (int i = 0; i < m_downloads.GetCount(); ++i) {
        auto* record = static_cast<Record*>(m_downloads.GetAt(i));
        if (record->cookie == cookie) {
            return record;
        }
    }
    return nullptr;
}

void nwCHTTPDownloader::End(Record* record)
{
    cpCMutexLock lock(LibraryMutex());
    m_downloads.Remove(record);
    const std::unique_ptr<Record> owned(record);
    if (record->context) {
        if (ovIHttpClientExLayer* layer = LayerOf(record->context)) {
            layer->SetListener(nullptr, 0);
        }
        record->context.Get<ovIQoSContext>()->Close();
        // The connection may be inside its own notification: released later.
        ovCGarbageCollector::GetGarbageCollector()->Add(record->context);
        record->context.Reset();
    }
}

void nwCHTTPDownloader::Finish(Record* record, Outcome outcome)
{
    const std::uint32_t key = record->key;
    const std::uint32_t userValue = record->userValue;
    End(record);
    if (!m_listener) {
        return;
    }
    if (outcome == Outcome::Unreachable) {
        m_listener->OnDownloadUnreachable(key, userValue);
    } else {
        m_listener->OnDownloadFailed(key, userValue);
    }
}

void nwCHTTPDownloader::OnConnected(std::uint32_t cookie)
{
    (void)cookie;
}

void nwCHTTPDownloader::OnSendQueueEmpty(std::uint32_t cookie)
{
    (void)cookie;
}

void nwCHTTPDownloader::OnHeaderReceived(std::uint32_t cookie)
{
    Record* record = Find(cookie);
    if (!record) {
        return;
    }
    int status = 0;
    LayerOf(record->context)->GetStatusCode(&status);
    if (status == 200 || status == 206) {
        AcceptBody(record);
    } else if (status == 302 || status == 303) {
        FollowRedirect(record);
    } else {
        Finish(record, Outcome::Failed);
    }
}

void nwCHTTPDownloader::AcceptBody(Record* record)
{
    if (record->body) {
        return;
    }
    std::int64_t length = 0;
    LayerOf(record->context)->GetContentLength(&length);
    // Without a length there is nothing to size the buffer by; a length
    // beyond the bound is refused rather than allocated.
    if (length <= 0 || length > kMaxBodySize) {
        Finish(record, Outcome::Failed);
        return;
    }
    record->body.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length)]());
    if (!record->body) {
        Finish(record, Outcome::Failed);
        return;
    }
    record->size = static_cast<std::uint32_t>(length);
    record->filled = 0;
}

void nwCHTTPDownloader::FollowRedirect(Record* record)
{
    ovCString location;
    LayerOf(record->context)->GetResponseHeader("Location:", &location);
    const std::string target = utConvertCodePage(location.GetString(), location.GetLength(), CP_UTF8, CP_ACP);
    // A chain that goes on and on (a loop) would never end: it is cut.
    if (target.empty() || record->redirects >= kMaxRedirects) {
        Finish(record, Outcome::Failed);
        return;
    }
    const std::uint32_t key = record->key;
    const std::uint32_t userValue = record->userValue;
    const int redirects = record->redirects + 1;
    End(record);
    Start(key, target.c_str(), userValue, 0, redirects);
}

int nwCHTTPDownloader::OnData(std::uint32_t cookie, const std::uint8_t* data, std::uint32_t length)
{
    Record* record = Find(cookie);
    if (!record) {
        return static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
    }
    if (!record->body) {
        Finish(record, Outcome::Failed);
        return 0;
    }
    // Bytes past the announced length have no place in the buffer: dropped.
    const std::uint32_t room = record->size - record->filled;
    const std::uint32_t copied = std::min(length, room);
    std::memcpy(record->body.get() + record->filled, data, copied);
    record->filled += copied;
    return static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
}

void nwCHTTPDownloader::OnComplete(std::uint32_t cookie)
{
    Record* record = Find(cookie);
    if (!record) {
        return;
    }
    if (!record->body) {
        Finish(record, Outcome::Failed);
        return;
    }
    const std::unique_ptr<std::uint8_t[]> body = std::move(record->body);
    const std::uint32_t size = record->size;
    const std::uint32_t key = record->key;
    const std::uint32_t userValue = record->userValue;
    End(record);
    if (m_listener) {
        m_listener->OnDownloaded(key, userValue, body.get(), size);
    }
}

void nwCHTTPDownloader::OnClosed(std::uint32_t cookie)
{
    if (Record* record = Find(cookie)) {
        Finish(record, Outcome::Failed);
    }
}

void nwCHTTPDownloader::OnConnectTimeout(std::uint32_t cookie)
{
    if (Record* record = Find(cookie)) {
        Finish(record, Outcome::Failed);
    }
}

void nwCHTTPDownloader::OnRecvTimeout(std::uint32_t cookie)
{
    if (Record* record = Find(cookie)) {
        Finish(record, Outcome::Failed);
    }
}

void nwCHTTPDownloader::OnHostUnreach(std::uint32_t cookie)
{
    Record* record = Find(cookie);
    if (!record) {
        return;
    }
    if (record->attempt + 1 >= kMaxAttempts) {
        Finish(record, Outcome::Unreachable);
        return;
    }
    const std::uint32_t key = record->key;
    const std::uint32_t userValue = record->userValue;
    const ovCString url = record->url;
    const int attempt = record->attempt + 1;
    const int redirects = record->redirects;
    End(record);
    Start(key, url.GetString(), userValue, attempt, redirects);
}
