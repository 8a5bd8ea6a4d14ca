#include "Downloader.h"

#include <algorithm>

#include "BinaryExecute_V3.h"
#include "EngineUpdateListUrl.h"
#include "HttpGetRequest.h"
#include "RunningEngine.h"
#include "ServiceLog.h"
#include "SessionError.h"
#include "StoreCode.h"
#include "cp/cpCTimer.h"
#include "ov/ovClassIds.h"

CDownloader::CDownloader()
{
    WriteServiceLog("[MeshdropLib] Initialize Downloader");
}

CDownloader::~CDownloader()
{
    StopRetrying();
    for (const auto& session : m_sessions)
        session->SetListener(nullptr, nullptr);
    m_sessions.clear();
    WriteServiceLog("[MeshdropLib] Finalize Downloader");
}

void CDownloader::BeginUpdate()
{
    const std::string listUrl = EngineUpdateListUrl();
    // Added without hash, name or folder: the record of the update list.
    (void)m_files.AddFile(listUrl.c_str(), nullptr, nullptr, nullptr);
    (void)StartNext(true);
    WriteServiceLog("[MeshdropLib] Begin Update");
}

CDownloadSession* CDownloader::GetSession(bool create)
{
    for (const auto& session : m_sessions) {
        if (session->IsBusy() == 0)
            return session.get();
    }
    if (!create)
        return nullptr;
    auto session = std::make_unique<CDownloadSession>();
    session->SetListener(this, session.get());
    m_sessions.push_back(std::move(session));
    return m_sessions.back().get();
}

void CDownloader::RemoveSession(CDownloadSession* session)
{
    const auto found = std::find_if(m_sessions.rbegin(), m_sessions.rend(),
                                    [session](const auto& held) { return held.get() == session; });
    if (found == m_sessions.rend())
        return;
    (*found)->SetListener(nullptr, nullptr);
    m_sessions.erase(std::next(found).base());
}

bool CDownloader::IsFetching() const
{
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [](const auto& session) { return session->IsBusy() != 0 && session->GetFile() != nullptr; });
}

int CDownloader::StartNext(bool create)
{
    if (m_files.HasFiles() == 0) {
        Finish();
        return 0;
    }
    CDownloadSession* session = GetSession(create);
    if (session == nullptr)
        return 0;
    CDownloadFile* file = m_files.AcquireNext();
    if (file == nullptr)
        return 0;
    session->SetFile(file);
    // A request that cannot even be opened fails inside Start, which may
    // remove the session: it is not touched afterwards.
    session->Start();
    return 1;
}

void CDownloader::StartAll()
{
    const size_t count = m_files.GetCount();
    if (count == 0) {
        Finish();
        return;
    }
    for (size_t i = 0; i < count; ++i)
        (void)StartNext(true);
}

void CDownloader::StartRetrying()
{
    if (m_retryTimer)
        return;
    m_files.SetUnlimitedAll(1);
    ovSmartPtr timer;
    if (!timer.CreateInstance(OVCLS_TIMER) ||
        OV_FAILED(timer.Get<cpCTimer>()->Start(kRetryIntervalMs, &CDownloader::OnRetryTimer, this,
                                               CP_TIMER_TAG_UPDATE_RETRY, nullptr)))
        return;
    m_retryTimer = timer;
    if (m_pListener != nullptr)
        m_pListener->OnDownloaderNetworkLost();
}

void CDownloader::StopRetrying()
{
    if (!m_retryTimer)
        return;
    m_retryTimer.Get<cpCTimer>()->Stop();
    m_retryTimer.Reset();
}

void CDownloader::OnRetryTimer(void* context)
{
    // Timer callbacks run without the lock; a tick that lost the race with
    // StopRetrying finds no timer.
    auto* self = static_cast<CDownloader*>(context);
    CSessionLock lock;
    // Sessions that completed stay in the pool: only one that is fetching
    // now keeps the tick from starting another.
    if (self->m_retryTimer && !self->IsFetching())
        (void)self->StartNext(true);
}

void CDownloader::Finish()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    int started = 0;
    // A refused update starts nothing, not even the program installed
    // before: the player's jobs go the direct way.
    if (!m_bRefused) {
        // The version just installed is the one the library talks to.
        if (m_files.HasInstalled())
            AskRunningEngineToLeave();
        // An engine that left at once because another user holds its port
        // has not started.
        started = GetBinaryExecutor().Execute("") != 0 && EngineListensForThisUser() ? 1 : 0;
    }
    if (m_pListener != nullptr)
        m_pListener->OnDownloaderFinished(started, m_bRefused ? 0 : m_result.IsOk(), m_files.GetNewVersion().c_str());
}

void CDownloader::Refuse(const std::string& url, int code)
{
    WriteServiceLogFormat("[MeshdropLib] Update Refused (URL: %s)(Code: %d)", url.c_str(), code);
    m_bRefused = true;
    StopRetrying();
    // Nothing more of this update is fetched or installed.
    for (const auto& session : m_sessions) {
        session->SetListener(nullptr, nullptr);
        session->Close();
    }
    Finish();
}

void CDownloader::OnSessionConnected(void* /*cookie*/)
{
    StopRetrying();
    m_files.SetUnlimitedAll(0);
}

void CDownloader::OnSessionCompleted(void* cookie, const DownloadCompletionInfo* info)
{
    auto* session = static_cast<CDownloadSession*>(cookie);
    if (session == nullptr || info == nullptr)
        return;
    // The record's own address names it in the log: the update list's
    // session ends with its signature.
    const auto* file = static_cast<const CDownloadFile*>(session->GetFile());
    const std::string name = file != nullptr ? file->GetFileUrl() : info->url;
    session->SetFile(nullptr);
    const int code = static_cast<int>(info->code);
    if (code == kStoreCodeBadSignature || code == kStoreCodeNoHash) {
        Refuse(info->url, code);
        return;
    }
    if (code == kStoreCodeExtractFailed || code == kStoreCodeNoInstallFolder) {
        WriteServiceLogFormat("[MeshdropLib] 엔진 다운로드 실패 result : %d", code);
        if (m_pListener != nullptr)
            m_pListener->OnDownloaderPathFailed(1);
        return;
    }
    m_result.Update(code);
    const int removed = m_files.OnFileDone(info->url.c_str(), code == kStoreCodeStored ? 1 : 0);
    WriteServiceLogFormat("[MeshdropLib] Download Completed (URL: %s)(Code: %d)", name.c_str(), code);
    if (info->kind == PROGRESS_URL_UPDATE_LIST) {
        StartAll();
    } else if (info->kind == PROGRESS_URL_FILE) {
        // An archive that failed its check stays for another attempt: it is
        // fetched again at once on a new session (this one stays marked busy),
        // or the update would wait for it for ever.
        (void)StartNext(code != kStoreCodeStored && removed == 0);
    }
}

void CDownloader::OnSessionError(void* cookie, int error)
{
    auto* session = static_cast<CDownloadSession*>(cookie);
    if (session == nullptr)
        return;
    const std::string url = session->GetUrl();
    WriteServiceLogFormat("[MeshdropLib] Session Error (URL: %s)(Code: %d)", url.c_str(), error);
    // The server answered, but not with the hash file or the signature:
    // nothing it serves can be shown to be the publisher's.
    CDownloadFile* file = m_files.FindByUrl(url.c_str());
    if (error == SessionError::BadResponse && file != nullptr && file->IsProofUrl(url.c_str())) {
        const bool hash = file->GetUrlKind(url.c_str()) == PROGRESS_URL_HASH;
        Refuse(url, hash ? kStoreCodeNoHash : kStoreCodeBadSignature);
        return;
    }
    (void)m_files.OnFileDone(url.c_str(), 0);
    RemoveSession(session);
    if (error == SessionError::HostUnreach) {
        StartRetrying();
    } else if (!m_retryTimer) {
        // While the retry timer runs, attempts are not counted: its tick
        // starts the next session, so failures cannot chain without end.
        (void)StartNext(true);
    }
}

void CDownloader::OnSessionLength(void* /*cookie*/, const char* url, int64_t length)
{
    if (m_pListener != nullptr)
        m_pListener->OnDownloaderFileLength(url, length);
}

void CDownloader::OnSessionProgress(void* /*cookie*/, const char* url, int64_t received)
{
    if (m_pListener != nullptr)
        m_pListener->OnDownloaderProgress(url, received);
}
