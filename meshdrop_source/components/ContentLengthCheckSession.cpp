#include "ContentLengthCheckSession.h"

#include <cstring>

#include "HttpGetRequest.h"
#include "ServiceLog.h"

namespace {
// Unlimited action, the context's default connect time-out, 3 s idle time-out.
constexpr HttpGetOptions kProbeOptions{.idleTimeoutSeconds = 3};
} // namespace

CContentLengthCheckSession::~CContentLengthCheckSession()
{
    Close();
}

void CContentLengthCheckSession::SetFile(int fileIndex, const char* entry)
{
    m_nFileIndex = fileIndex;
    const char* text = entry != nullptr ? entry : "";
    const char* bar = std::strchr(text, '|');
    m_url.assign(text, bar != nullptr ? static_cast<size_t>(bar - text) : std::strlen(text));
}

void CContentLengthCheckSession::Attempt()
{
    const int previous = m_nAttempts++;
    if (previous < kMaxAttempts) {
        if (m_context)
            return;
        if (OpenHttpGet(m_context, this, m_redirectUrl.empty() ? m_url : m_redirectUrl, kProbeOptions))
            return;
        // An address the client cannot use (an empty one among them) never
        // connects and so never reports: count it as a failed connect now.
        m_reason = "ConnectTimeout";
        Attempt();
        return;
    }
    if (m_pChecker != nullptr) {
        WriteServiceLogFormat("[MeshdropLib] ContentLength Check Failed reason:%s file:%d url:%s", m_reason.c_str(),
                              m_nFileIndex, m_url.c_str());
        m_pChecker->OnFileFailed(m_nFileIndex, m_url.c_str());
    }
}

void CContentLengthCheckSession::Close()
{
    CloseHttpGet(m_context);
}

void CContentLengthCheckSession::Retry(const char* reason, const char* logTag)
{
    m_reason = reason;
    Close();
    // Written before the retry, which may end the check (and destroy this
    // session): the log is complete when the check's outcome is raised.
    WriteServiceLogFormat("[MeshdropLib] CLCS %s(file:%d)", logTag, m_nFileIndex);
    Attempt();
}

void CContentLengthCheckSession::OnConnected(uint32_t /*cookie*/) {}

void CContentLengthCheckSession::OnHeaderReceived(uint32_t /*cookie*/)
{
    const int status = HttpStatusOf(m_context);
    const int64_t length = HttpContentLengthOf(m_context);
    std::string location = IsHttpRedirect(status)
                               ? HttpRedirectLocationOf(m_context, m_redirectUrl.empty() ? m_url : m_redirectUrl)
                               : std::string();
    Close();
    if (status == 200) {
        m_length = length;
        if (m_pChecker != nullptr)
            m_pChecker->OnFileLength(m_nFileIndex, m_length);
        return;
    }
    m_reason = "ResCode:" + std::to_string(status);
    if (IsHttpRedirect(status))
        m_redirectUrl = std::move(location);
    Attempt();
}

int CContentLengthCheckSession::OnData(uint32_t /*cookie*/, const uint8_t* /*data*/, uint32_t length)
{
    return static_cast<int>(length);
}

void CContentLengthCheckSession::OnComplete(uint32_t /*cookie*/) {}

void CContentLengthCheckSession::OnSendQueueEmpty(uint32_t /*cookie*/) {}

void CContentLengthCheckSession::OnClosed(uint32_t /*cookie*/)
{
    m_reason = "Closed";
    ReleaseClosedHttpGet(m_context);
    Attempt();
}

void CContentLengthCheckSession::OnConnectTimeout(uint32_t /*cookie*/)
{
    Retry("ConnectTimeout", "CT");
}

void CContentLengthCheckSession::OnRecvTimeout(uint32_t /*cookie*/)
{
    Retry("RecvTimeout", "RT");
}

void CContentLengthCheckSession::OnHostUnreach(uint32_t /*cookie*/)
{
    m_reason = "HostUnreach";
    Close();
    WriteServiceLogFormat("[MeshdropLib] CLCS HU(file:%d)", m_nFileIndex);
    if (m_pChecker != nullptr)
        m_pChecker->OnFileUnreachable(m_nFileIndex);
}
