#include "DownloadSession.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "HttpGetRequest.h"
#include "SessionError.h"

namespace {
// Unlimited action, 4 s connect and idle time-outs.
constexpr HttpGetOptions kRequestOptions{.connectTimeoutSeconds = 4, .idleTimeoutSeconds = 4};
} // namespace

CDownloadSession::~CDownloadSession()
{
    Close();
}

void CDownloadSession::SetListener(IDownloadSessionEventListener* listener, void* cookie)
{
    m_pListener = listener;
    m_cookie = cookie;
    m_nUrlKind = PROGRESS_URL_NONE;
}

void CDownloadSession::Start()
{
    // A record with no address left has nothing to fetch: the session stays
    // idle, which its owner sees as not busy.
    (void)StartNext();
}

bool CDownloadSession::StartNext()
{
    std::string url;
    if (m_pFile == nullptr || m_pFile->GetUrl(url) == 0 || url.empty())
        return false;
    // A request still open would keep reporting into this session.
    Close();
    m_url = std::move(url);
    m_nBusy = 1;
    m_nUrlKind = m_pFile->GetUrlKind(m_url.c_str());
    m_length = 0;
    // An address the layer cannot use never connects: fail it now instead of
    // leaving the session busy for ever.
    if (!OpenHttpGet(m_context, this, m_url, kRequestOptions))
        Fail(SessionError::ConnectTimeout);
    return true;
}

void CDownloadSession::Close()
{
    CloseHttpGet(m_context);
    m_incoming.reset();
}

void CDownloadSession::Fail(int error)
{
    m_nBusy = 0;
    Close();
    if (m_pListener != nullptr)
        m_pListener->OnSessionError(m_cookie, error);
}

void CDownloadSession::OnConnected(uint32_t /*cookie*/)
{
    m_length = 0;
    if (m_pListener != nullptr)
        m_pListener->OnSessionConnected(m_cookie);
}

void CDownloadSession::OnHeaderReceived(uint32_t /*cookie*/)
{
    const int status = HttpStatusOf(m_context);
    m_length = HttpContentLengthOf(m_context);
    if (status != 200 || m_length <= 0 || m_length > kMaxBodyLength) {
        Fail(SessionError::BadResponse);
        return;
    }
    m_incoming.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_length)]);
    if (!m_incoming) {
        Fail(SessionError::BadResponse);
        return;
    }
    m_received = 0;
    if (m_nUrlKind == PROGRESS_URL_FILE && m_pListener != nullptr)
        m_pListener->OnSessionLength(m_cookie, m_url.c_str(), m_length);
}

int CDownloadSession::OnData(uint32_t /*cookie*/, const uint8_t* data, uint32_t length)
{
    if (!m_context)
        return 0;
    // Bytes without a usable head, or past the announced length, are taken
    // and dropped: nothing is written outside the body.
    if (!m_incoming)
        return static_cast<int>(length);
    const auto taken = static_cast<uint32_t>(std::min<int64_t>(length, m_length - m_received));
    std::memcpy(m_incoming.get() + m_received, data, taken);
    m_received += taken;
    if (m_nUrlKind == PROGRESS_URL_FILE && m_pListener != nullptr)
        m_pListener->OnSessionProgress(m_cookie, m_url.c_str(), m_received);
    return static_cast<int>(length);
}

void CDownloadSession::OnComplete(uint32_t /*cookie*/)
{
    DownloadCompletionInfo info;
    info.url = m_url;
    info.length = m_length;
    m_body = std::move(m_incoming);
    m_bodyLength = m_length;
    if (m_pFile != nullptr)
        info.code = m_pFile->StoreData(m_url.c_str(), m_body.get(), m_bodyLength, &info.kind);
    Close();
    // The record's next address goes on this session at once, unreported.
    if (m_pFile != nullptr && m_pFile->IsFinished() == 0 && StartNext())
        return;
    if (m_pListener != nullptr)
        m_pListener->OnSessionCompleted(m_cookie, &info);
}

void CDownloadSession::OnSendQueueEmpty(uint32_t /*cookie*/) {}

void CDownloadSession::OnClosed(uint32_t /*cookie*/)
{
    m_nBusy = 0;
    ReleaseClosedHttpGet(m_context);
    m_incoming.reset();
    // A close always ends the body early (a complete body detaches first), so
    // it is an error also after the length was announced: the owner releases
    // the record and tries it again, instead of waiting for it for ever.
    if (m_pListener != nullptr)
        m_pListener->OnSessionError(m_cookie, SessionError::Closed);
}

void CDownloadSession::OnConnectTimeout(uint32_t /*cookie*/)
{
    Fail(SessionError::ConnectTimeout);
}

void CDownloadSession::OnRecvTimeout(uint32_t /*cookie*/)
{
    Fail(SessionError::RecvTimeout);
}

void CDownloadSession::OnHostUnreach(uint32_t /*cookie*/)
{
    Fail(SessionError::HostUnreach);
}
