#include "PlatformFileSizeCheckSession.h"

#include <algorithm>

#include "FolderPath.h"
#include "HttpGetRequest.h"
#include "IPlatformFileSizeCheckSessionEventListener.h"
#include "JobFileEntry.h"
#include "MeshdropLib.h"
#include "ut/utFileEntry.h"

namespace {
// Connect and idle time-outs of a probe.
constexpr uint32_t kTimeoutSeconds = 3;
} // namespace

CPlatformFileSizeCheckSession::CPlatformFileSizeCheckSession(IPlatformFileSizeCheckSessionEventListener* checker,
                                                             JobFileEntry* entry)
    : m_pEntry(entry), m_pChecker(checker)
{}

CPlatformFileSizeCheckSession::~CPlatformFileSizeCheckSession()
{
    CloseHttpGet(m_connection);
}

void CPlatformFileSizeCheckSession::Start()
{
    m_mirrors = utSplitMirrors(m_pEntry->url);
    m_nMirrorIndex = 0;
    if (m_mirrors.empty()) {
        Fail(MESHDROPLIB_NOTICE_JOB_FAILED);
        return;
    }
    m_currentUrl = m_mirrors.front();
    m_nAttempts = 0;
    Try();
}

void CPlatformFileSizeCheckSession::Try()
{
    if (m_nAttempts >= kAttemptsPerAddress) {
        m_nAttempts = 0;
        ++m_nMirrorIndex;
        if (static_cast<size_t>(m_nMirrorIndex) >= m_mirrors.size()) {
            Fail(MESHDROPLIB_NOTICE_JOB_FAILED);
            return;
        }
        m_currentUrl = m_mirrors[static_cast<size_t>(m_nMirrorIndex)];
        m_redirectUrl.clear();
    }
    HttpGetOptions options;
    options.connectTimeoutSeconds = kTimeoutSeconds;
    options.idleTimeoutSeconds = kTimeoutSeconds;
    const bool started = OpenHttpGet(m_connection, this, m_redirectUrl.empty() ? m_currentUrl : m_redirectUrl, options);
    ++m_nAttempts;
    // A request that cannot even be sent counts as a closed attempt.
    if (!started)
        Try();
}

void CPlatformFileSizeCheckSession::Fail(int code)
{
    CloseHttpGet(m_connection);
    // The checker may destroy this probe: the report comes last.
    if (m_pChecker != nullptr)
        m_pChecker->OnProbeFailed(code, m_pEntry->url.c_str());
}

void CPlatformFileSizeCheckSession::OnConnected(std::uint32_t /*cookie*/) {}

void CPlatformFileSizeCheckSession::OnHeaderReceived(std::uint32_t /*cookie*/)
{
    ovIHttpClientExLayer* layer = HttpLayerOf(m_connection);
    if (layer == nullptr)
        return;
    int status = 0;
    int64_t contentLength = 0;
    layer->GetStatusCode(&status);
    layer->GetContentLength(&contentLength);
    // A relative target names a place on the server that answered.
    std::string location =
        HttpRawRedirectLocationOf(m_connection, m_redirectUrl.empty() ? m_currentUrl : m_redirectUrl);
    CloseHttpGet(m_connection);

    if (status == 302 || status == 303) {
        m_redirectUrl = std::move(location);
        Try();
        return;
    }
    if (status != 200 || contentLength <= 0) {
        Fail(MESHDROPLIB_NOTICE_JOB_FAILED);
        return;
    }
    const unsigned long long freeSpace = GetFolderFreeSpace(m_pEntry->folder);
    const auto needed = static_cast<unsigned long long>(contentLength);
    if (needed < freeSpace) {
        m_pEntry->size = contentLength;
        if (m_pChecker != nullptr)
            m_pChecker->OnProbeDone(this);
    } else {
        Fail(needed > freeSpace ? MESHDROPLIB_NOTICE_DISK_FULL : MESHDROPLIB_NOTICE_JOB_FAILED);
    }
}

int CPlatformFileSizeCheckSession::OnData(std::uint32_t /*cookie*/, const std::uint8_t* /*data*/, std::uint32_t length)
{
    CloseHttpGet(m_connection);
    return static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
}

void CPlatformFileSizeCheckSession::OnComplete(std::uint32_t /*cookie*/) {}

void CPlatformFileSizeCheckSession::OnSendQueueEmpty(std::uint32_t /*cookie*/) {}

void CPlatformFileSizeCheckSession::OnClosed(std::uint32_t /*cookie*/)
{
    CloseHttpGet(m_connection);
    Try();
}

void CPlatformFileSizeCheckSession::OnConnectTimeout(std::uint32_t /*cookie*/)
{
    CloseHttpGetWithReport(m_connection);
}

void CPlatformFileSizeCheckSession::OnRecvTimeout(std::uint32_t /*cookie*/)
{
    CloseHttpGetWithReport(m_connection);
}

// A host-unreachable report is followed by a connect time-out, which retries.
void CPlatformFileSizeCheckSession::OnHostUnreach(std::uint32_t /*cookie*/) {}
