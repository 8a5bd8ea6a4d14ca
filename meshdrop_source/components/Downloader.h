#pragma once
// CDownloader: brings the local download engine's program up to date and
// starts it. It fetches the update list, compares the version it offers with
// the installed program's, fetches the archives that need replacing with
// their hash files (one session per record, in parallel), verifies and
// extracts them into the engine's install folder, and finally starts the
// engine program. Progress and the outcome go to its listener.
//
// Runs on the library's worker thread (or the client's, for BeginUpdate and
// destruction) under the library lock, driven by the sessions' events and
// the retry timer. The listener must not destroy the updater from inside one
// of its calls: the owner defers that.
//
// Only the publisher's update is installed: the list and every archive must
// carry the publisher's signature and every archive a whole hash file; when
// one does not, or the server answers a hash file's or signature's request
// with anything else, the whole update is refused and nothing is started.

#include <memory>
#include <vector>

#include "DownloadFileList.h"
#include "DownloadSession.h"
#include "IDownloadSessionEventListener.h"
#include "IDownloaderEventListener.h"
#include "UpdateResult.h"
#include "ov/ovSmartPtr.h"

class CDownloader : public IDownloadSessionEventListener {
public:
    // The retry timer's period after an unreachable host.
    static constexpr uint32_t kRetryIntervalMs = 1000;

    CDownloader();
    ~CDownloader() override;
    CDownloader(const CDownloader&) = delete;
    CDownloader& operator=(const CDownloader&) = delete;

    void SetListener(IDownloaderEventListener* listener) { m_pListener = listener; }
    // Adds the update list's record and starts a session on it.
    void BeginUpdate();

    // ---- IDownloadSessionEventListener (cookie: the session) ----
    void OnSessionConnected(void* cookie) override;
    void OnSessionCompleted(void* cookie, const DownloadCompletionInfo* info) override;
    void OnSessionError(void* cookie, int error) override;
    void OnSessionLength(void* cookie, const char* url, int64_t length) override;
    void OnSessionProgress(void* cookie, const char* url, int64_t received) override;

private:
    // The first idle session or, when `create` is set, a new one.
    CDownloadSession* GetSession(bool create);
    void RemoveSession(CDownloadSession* session);
    // Whether a session is fetching a record now: busy and not yet done with
    // it (a completed session keeps its busy mark but has handed its record
    // back).
    bool IsFetching() const;
    // Starts a session on the next record that can be fetched; finishes the
    // update when no record is left. 1 when a session was started.
    int StartNext(bool create);
    // One StartNext per record (the finish step when there is none).
    void StartAll();
    void StartRetrying();
    void StopRetrying();
    static void OnRetryTimer(void* context);
    // Starts the engine program (unless the update was refused) and reports
    // the outcome, once.
    void Finish();
    // Logs the refusal of the whole update for the file at `url` (store code
    // 8 or 9), stops every session and finishes without starting anything.
    void Refuse(const std::string& url, int code);

    IDownloaderEventListener* m_pListener = nullptr;
    CDownloadFileList m_files;
    CUpdateResult m_result;
    std::vector<std::unique_ptr<CDownloadSession>> m_sessions;
    ovSmartPtr m_retryTimer; // a cpCTimer while retrying after an unreachable host
    bool m_bFinished = false;
    bool m_bRefused = false;
};
