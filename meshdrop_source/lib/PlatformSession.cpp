#include "PlatformSession.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "FolderPath.h"
#include "HttpGetRequest.h"
#include "IPlatFormSessionEventListener.h"
#include "MeshdropLib.h"
#include "ServiceLog.h"
#include "cp/cpCQoSQuota.h"
#include "cp/ovIQoSContext.h"
#include "ut/utFileEntry.h"

namespace {
// Connect and idle time-outs of a download request.
constexpr uint32_t kTimeoutSeconds = 3;
} // namespace

CPlatformSession::~CPlatformSession()
{
    CloseHttpGet(m_connection);
    CloseLocalFile();
}

void CPlatformSession::SetListener(IPlatFormSessionEventListener* listener, PlatformJobRecord* context)
{
    m_pListener = listener;
    m_pContext = context;
}

void CPlatformSession::Start(const std::vector<std::unique_ptr<JobFileEntry>>& files,
                             const std::vector<int64_t>& knownSizes)
{
    for (const auto& entry : files) {
        if (entry->url.empty() || entry->folder.empty() || entry->fileName.empty())
            continue;
        PlatformSessionFile file;
        file.index = entry->index;
        file.url = entry->url;
        file.folder = entry->folder;
        file.fileName = entry->fileName;
        file.known = entry->index < knownSizes.size() ? knownSizes[entry->index] : entry->size;
        file.size = file.known > 0 ? file.known : 0;
        std::snprintf(file.serviceId, sizeof file.serviceId, "%.32s", entry->serviceId);
        m_files.push_back(std::move(file));
    }
    if (m_files.empty()) {
        // Nothing can be downloaded: the job is complete rather than waiting forever.
        if (m_pListener != nullptr)
            m_pListener->OnPlatformSessionCompleted(m_pContext);
        return;
    }
    m_nFileIndex = 0;
    m_pCurrentFile = &m_files.front();
    SplitUrl(m_pCurrentFile->url);
    BeginFile(false);
}

void CPlatformSession::SplitUrl(const std::string& url)
{
    m_mirrors = utSplitMirrors(url);
    m_nMirrorIndex = 0;
    m_nRedirects = 0;
    if (!m_mirrors.empty())
        m_currentUrl = m_mirrors.front();
}

void CPlatformSession::BeginFile(bool resetAttempts)
{
    uint32_t bandwidth = m_nJobMode != 0 ? kBandwidthWithConsent : kBandwidthWithoutConsent;
    if (m_nRateLimit != 0 && m_nRateLimit < bandwidth)
        bandwidth = static_cast<uint32_t>(m_nRateLimit);
    if (resetAttempts)
        m_nAttempts = 0;
    if (!OpenLocalFile()) {
        WriteServiceLogFormat("[MeshdropLib] WriteFileOpen Failed : %s", m_currentUrl.c_str());
        Fail();
        return;
    }
    char range[48];
    std::snprintf(range, sizeof range, "bytes=%" PRId64 "-", m_pCurrentFile->present);
    m_range = range;
    if (m_connection)
        return;

    HttpGetOptions options;
    options.actionKind = QOS_ACTION_OWN;
    options.connectTimeoutSeconds = kTimeoutSeconds;
    options.idleTimeoutSeconds = kTimeoutSeconds;
    options.receiveActionKind = QOS_ACTION_OWN_RECEIVE_ONLY;
    if (!m_receiveQuota)
        m_receiveQuota = std::make_shared<cpCQoSQuota>();
    m_receiveQuota->SetPerSecond(bandwidth);
    options.sharedReceiveQuota = &m_receiveQuota;
    options.range = m_range.c_str();
    const bool started = OpenHttpGet(m_connection, this, m_currentUrl, options);
    ++m_nAttempts;
    // A request that cannot even be sent (a bad address, an unknown host)
    // counts as an attempt that ended with a closed connection.
    if (!started)
        Retry();
}

bool CPlatformSession::OpenLocalFile()
{
    std::string directory = m_pCurrentFile->folder;
    if (directory.empty() || (directory.back() != '\\' && directory.back() != '/'))
        directory.push_back('\\');
    // Failures here show up as a failed creation of the file just below.
    (void)CreateFolderPrefixes(directory);

    const std::string path = directory + m_pCurrentFile->fileName;
    SetLastError(0);
    // The names were checked when the files were added; this is the second
    // line: the file must land directly in its folder as the platform maps
    // it, and a symbolic link planted there under its name is not followed.
    HANDLE file = INVALID_HANDLE_VALUE;
    if (LiesDirectlyInFolder(directory, path))
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    else
        SetLastError(ERROR_INVALID_NAME);
    const DWORD error = GetLastError();
    if (file == INVALID_HANDLE_VALUE || (error != 0 && error != ERROR_ALREADY_EXISTS)) {
        WriteServiceLogFormat("[MeshdropLib] CreateFile Failed(%d) : %s", static_cast<int>(error), path.c_str());
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return false;
    }
    m_hFile = file;
    m_localPath = path;

    LONG high = 0;
    const DWORD low = SetFilePointer(file, 0, &high, FILE_END);
    const int64_t present = low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR
                                ? 0
                                : static_cast<int64_t>((static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | low);

    // Bytes of an earlier attempt at this file are no longer on disk. Its
    // written count restarts too, so that a later retry does not take the
    // same bytes off the counter twice.
    PlatformSessionFile& current = *m_pCurrentFile;
    if (current.written > 0 && m_received > 0) {
        const auto earlier = static_cast<uint64_t>(current.written + current.present);
        m_received -= std::min(m_received, earlier);
    }
    current.written = 0;
    current.present = present;
    m_received += static_cast<uint64_t>(present);

    if (m_pListener != nullptr)
        m_pListener->OnPlatformFileOpened(m_pContext, m_localPath.c_str());
    return true;
}

void CPlatformSession::CloseLocalFile()
{
    if (m_hFile != nullptr)
        CloseHandle(m_hFile);
    m_hFile = nullptr;
    m_localPath.clear();
}

bool CPlatformSession::WriteBody(const std::uint8_t* data, std::uint32_t length)
{
    DWORD written = 0;
    return WriteFile(m_hFile, data, length, &written, nullptr) && written == length;
}

void CPlatformSession::OnConnected(std::uint32_t /*cookie*/) {}

void CPlatformSession::OnHeaderReceived(std::uint32_t /*cookie*/)
{
    ovIHttpClientExLayer* layer = HttpLayerOf(m_connection);
    if (layer == nullptr || m_pCurrentFile == nullptr)
        return;
    int status = 0;
    int64_t contentLength = 0;
    layer->GetStatusCode(&status);
    layer->GetContentLength(&contentLength);

    PlatformSessionFile& file = *m_pCurrentFile;
    // A local file that already holds all its bytes is complete, whatever
    // the answer (416 among them).
    if (file.known > 0 && file.present == file.known) {
        FinishFile();
        return;
    }
    switch (status) {
    case 200:
    case 206:
        // The local file is always created empty, so the request asked for
        // "bytes=0-": a 200 (whole body) and a 206 both start at byte 0, and
        // their length must be the file's known size.
        if (contentLength > 0 && file.known > 0 && contentLength != file.known) {
            FailAttempt();
            return;
        }
        file.size = contentLength > 0 ? contentLength : std::max<int64_t>(file.known, 0);
        break;
    case 302:
    case 303:
        FollowRedirect();
        break;
    default:
        // 416 for a file without its bytes, or any other status: a failed
        // attempt, which the retry rules take over.
        FailAttempt();
        break;
    }
}

void CPlatformSession::FollowRedirect()
{
    const std::string location = HttpRawRedirectLocationOf(m_connection, m_currentUrl);
    if (location.empty()) {
        WriteServiceLogFormat("[MeshdropLib] eNWHSC_HTTP_SEEOTHER  : %s", m_currentUrl.c_str());
        Fail();
        return;
    }
    if (++m_nRedirects > kMaxRedirects) {
        // A loop of redirects ends this address as three failed attempts would.
        m_nAttempts = kAttemptsPerAddress;
        FailAttempt();
        return;
    }
    m_currentUrl = location;
    m_nAttempts = 0;
    CloseHttpGet(m_connection);
    CloseLocalFile();
    BeginFile(true);
}

void CPlatformSession::FailAttempt()
{
    CloseHttpGetWithReport(m_connection);
}

int CPlatformSession::OnData(std::uint32_t /*cookie*/, const std::uint8_t* data, std::uint32_t length)
{
    const int consumed = static_cast<int>(std::min<std::uint32_t>(length, INT32_MAX));
    if (m_hFile != nullptr && m_pCurrentFile != nullptr) {
        PlatformSessionFile& file = *m_pCurrentFile;
        // More bytes than the file can have: the answer is not this file.
        if (file.size > 0 && file.present + file.written + static_cast<int64_t>(length) > file.size) {
            FailAttempt();
            return consumed;
        }
        if (!WriteBody(data, length)) {
            // No space (or no quota) is a full disk, whatever the free-space
            // figure says; so is a write that failed with none left.
            if (GetLastError() == ERROR_DISK_FULL || GetFolderFreeSpace(file.folder) < 1) {
                // The transfer stops here, so that the file is never reported
                // complete with bytes missing. The client stops the job when
                // it hears of it.
                CloseHttpGet(m_connection);
                CloseLocalFile();
                if (m_pListener != nullptr)
                    m_pListener->OnPlatformSessionNotice(m_pContext, MESHDROPLIB_NOTICE_DISK_FULL,
                                                         m_currentUrl.c_str());
                return consumed;
            }
            // The disk has room but the bytes are lost: closing the
            // connection lets the retry rules start the file over.
            FailAttempt();
            return consumed;
        }
        m_received += length;
        file.written += length;
    }
    if (m_pListener != nullptr)
        m_pListener->OnPlatformSessionProgress(m_pContext);
    return consumed;
}

void CPlatformSession::OnComplete(std::uint32_t /*cookie*/)
{
    if (m_pCurrentFile == nullptr)
        return;
    // Complete only with exactly the bytes the file must have.
    const PlatformSessionFile& file = *m_pCurrentFile;
    if (file.size > 0 && file.present + file.written == file.size)
        FinishFile();
    else
        FailAttempt();
}

void CPlatformSession::OnSendQueueEmpty(std::uint32_t /*cookie*/) {}

void CPlatformSession::OnClosed(std::uint32_t /*cookie*/)
{
    Retry();
}

void CPlatformSession::OnConnectTimeout(std::uint32_t /*cookie*/)
{
    CloseHttpGetWithReport(m_connection);
}

void CPlatformSession::OnRecvTimeout(std::uint32_t /*cookie*/)
{
    CloseHttpGetWithReport(m_connection);
}

// A host-unreachable report is followed by a connect time-out, which retries.
void CPlatformSession::OnHostUnreach(std::uint32_t /*cookie*/) {}

void CPlatformSession::Retry()
{
    CloseHttpGet(m_connection);
    CloseLocalFile();
    if (m_pCurrentFile == nullptr)
        return;
    if (m_nAttempts >= kAttemptsPerAddress) {
        m_nAttempts = 0;
        ++m_nMirrorIndex;
        if (static_cast<size_t>(m_nMirrorIndex) >= m_mirrors.size()) {
            WriteServiceLogFormat("[MeshdropLib] TryMax Over : %s", m_currentUrl.c_str());
            Fail();
            return;
        }
        m_currentUrl = m_mirrors[static_cast<size_t>(m_nMirrorIndex)];
        m_nRedirects = 0;
    }
    BeginFile(false);
}

void CPlatformSession::FinishFile()
{
    CloseLocalFile();
    CloseHttpGet(m_connection);
    const PlatformSessionFile* finished = m_pCurrentFile;
    ++m_nFileIndex;
    m_pCurrentFile =
        static_cast<size_t>(m_nFileIndex) < m_files.size() ? &m_files[static_cast<size_t>(m_nFileIndex)] : nullptr;
    if (m_pCurrentFile != nullptr)
        SplitUrl(m_pCurrentFile->url);
    if (m_pListener != nullptr)
        m_pListener->OnPlatformFileCompleted(m_pContext, finished);
    // The client may have stopped the job from inside that report: the
    // session is then detached (and destroyed once the report has returned).
    if (IsDetached())
        return;
    // The completion report may destroy this session: it comes last.
    if (m_pCurrentFile != nullptr)
        BeginFile(true);
    else if (m_pListener != nullptr)
        m_pListener->OnPlatformSessionCompleted(m_pContext);
}

void CPlatformSession::Fail()
{
    CloseHttpGet(m_connection);
    CloseLocalFile();
    m_pCurrentFile = nullptr;
    if (m_pListener != nullptr)
        m_pListener->OnPlatformSessionFailed(m_pContext, m_currentUrl.c_str());
}
