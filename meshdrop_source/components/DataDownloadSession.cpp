#include "DataDownloadSession.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "HttpGetRequest.h"
#include "SessionError.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

namespace {
// Unlimited action, 4 s connect and idle time-outs.
constexpr HttpGetOptions kRequestOptions{.connectTimeoutSeconds = 4, .idleTimeoutSeconds = 4};
} // namespace

CDataDownloadSession::~CDataDownloadSession()
{
    Close(false);
}

void CDataDownloadSession::Download(const char* url)
{
    if (url == nullptr || *url == '\0')
        return;
    // A request still running would keep reporting into this session.
    Close(false);
    m_url = url;
    m_redirectUrl.clear();
    m_redirects = 0;
    StartRequest(m_url, SessionError::ConnectTimeout);
}

int CDataDownloadSession::GetData(FileListBuffer* record) const
{
    if (record == nullptr || record->buffer == nullptr || !HasCompleteData() ||
        record->size != static_cast<uint64_t>(m_length))
        return MESHDROPLIB_ERROR_FAILED;
    std::memcpy(record->buffer, m_buffer.get(), static_cast<size_t>(m_length));
    return MESHDROPLIB_OK;
}

int CDataDownloadSession::GetDataSize(int64_t* size) const
{
    if (!HasCompleteData())
        return MESHDROPLIB_ERROR_FAILED;
    *size = m_length;
    return MESHDROPLIB_OK;
}

void CDataDownloadSession::StartRequest(const std::string& url, int error)
{
    if (!m_tickTimer) {
        ovSmartPtr timer;
        if (timer.CreateInstance(OVCLS_TIMER) &&
            OV_SUCCEEDED(timer.Get<cpCTimer>()->Start(kTickIntervalMs, &CDataDownloadSession::OnTick, this,
                                                      CP_TIMER_TAG_PROGRESS, nullptr)))
            m_tickTimer = timer;
    }
    if (!OpenHttpGet(m_context, this, url, kRequestOptions))
        Fail(false, error);
}

void CDataDownloadSession::Close(bool discard)
{
    CSessionLock lock;
    if (m_tickTimer) {
        m_tickTimer.Get<cpCTimer>()->Stop();
        m_tickTimer.Reset();
    }
    CloseHttpGet(m_context, discard);
}

void CDataDownloadSession::Fail(bool discard, int error)
{
    Close(discard);
    if (m_pListener != nullptr)
        m_pListener->OnDataError(error);
}

void CDataDownloadSession::OnTick(void* context)
{
    // Timer callbacks run without the lock; a tick that lost the race with
    // Close finds no timer and is not reported.
    auto* self = static_cast<CDataDownloadSession*>(context);
    CSessionLock lock;
    if (self->m_tickTimer && self->m_pListener != nullptr)
        self->m_pListener->OnDataTick();
}

void CDataDownloadSession::OnConnected(uint32_t /*cookie*/)
{
    m_length = 0;
}

void CDataDownloadSession::OnHeaderReceived(uint32_t /*cookie*/)
{
    const int status = HttpStatusOf(m_context);
    if (IsHttpRedirect(status)) {
        HandleRedirect();
        return;
    }
    m_chunked = status == 200 && HttpBodyIsChunked(m_context);
    if (m_chunked) {
        m_buffer.reset();
        m_capacity = 0;
        m_length = 0;
        m_received = 0;
        return;
    }
    const int64_t length = status == 200 ? HttpContentLengthOf(m_context) : 0;
    if (length <= 0 || length > kMaxLength) {
        Fail(true, SessionError::BadResponse);
        return;
    }
    // Zero-filled, exactly the announced length.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(length)]());
    if (!buffer) {
        Fail(true, SessionError::BadResponse);
        return;
    }
    m_buffer = std::move(buffer);
    m_length = length;
    m_received = 0;
}

void CDataDownloadSession::HandleRedirect()
{
    std::string location = HttpRedirectLocationOf(m_context, m_redirectUrl.empty() ? m_url : m_redirectUrl);
    if (location.empty() || ++m_redirects > kMaxRedirects) {
        Fail(true, SessionError::BadResponse);
        return;
    }
    Close(false);
    m_redirectUrl = std::move(location);
    // A target the layer cannot use is no usable "Location:".
    StartRequest(m_redirectUrl, SessionError::BadResponse);
}

int CDataDownloadSession::OnData(uint32_t /*cookie*/, const uint8_t* data, uint32_t length)
{
    if (!m_context)
        return 0;
    if (m_chunked) {
        if (!GrowFor(length)) {
            Fail(true, SessionError::BadResponse);
            return static_cast<int>(length);
        }
        std::memcpy(m_buffer.get() + m_received, data, length);
        m_received += length;
        return static_cast<int>(length);
    }
    // Only the room left in the buffer is written; bytes without a buffer or
    // past the announced length are taken and dropped.
    const int64_t room = m_buffer ? std::max<int64_t>(m_length - m_received, 0) : 0;
    const auto written = static_cast<uint32_t>(std::min<int64_t>(length, room));
    if (written > 0) {
        std::memcpy(m_buffer.get() + m_received, data, written);
        m_received += written;
    }
    return static_cast<int>(length);
}

bool CDataDownloadSession::GrowFor(int64_t more)
{
    const int64_t needed = m_received + more;
    if (needed > kMaxLength)
        return false;
    if (needed <= m_capacity)
        return true;
    const int64_t capacity = std::min(std::max(needed, m_capacity * 2), kMaxLength);
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]());
    if (!grown)
        return false;
    if (m_received > 0)
        std::memcpy(grown.get(), m_buffer.get(), static_cast<size_t>(m_received));
    m_buffer = std::move(grown);
    m_capacity = capacity;
    return true;
}

void CDataDownloadSession::OnComplete(uint32_t /*cookie*/)
{
    if (m_chunked) {
        // The last chunk came: the body is what arrived, and an empty one is
        // no file list.
        m_length = m_received;
        if (m_length == 0) {
            Fail(true, SessionError::BadResponse);
            return;
        }
    }
    Close(false);
    if (m_pListener != nullptr)
        m_pListener->OnDataCompleted(m_buffer.get(), m_length);
}

void CDataDownloadSession::OnSendQueueEmpty(uint32_t /*cookie*/) {}

void CDataDownloadSession::OnClosed(uint32_t /*cookie*/)
{
    // A completed request was detached before its connection closed, so this
    // close came before the whole body: a failed fetch, also after the length
    // was announced (the client would otherwise wait for ever).
    Fail(true, SessionError::Closed);
}

void CDataDownloadSession::OnConnectTimeout(uint32_t /*cookie*/)
{
    Fail(false, SessionError::ConnectTimeout);
}

void CDataDownloadSession::OnRecvTimeout(uint32_t /*cookie*/)
{
    Fail(false, SessionError::RecvTimeout);
}

void CDataDownloadSession::OnHostUnreach(uint32_t /*cookie*/)
{
    Fail(false, SessionError::HostUnreach);
}
