#pragma once
// CPlatformSession: downloads the files of one direct job, one after another,
// over HTTP into their local files. Body bytes go straight from the HTTP
// layer's buffer to the file. A closed connection is retried up to three
// times per address, then the next of the file's "|"-separated addresses is
// tried; 302 and 303 restart the file at the new address. Runs on the worker
// thread inside the HTTP layer's notifications, under the library lock.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "JobFileEntry.h"
#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovSmartPtr.h"

class IPlatFormSessionEventListener;
class cpCQoSQuota;
struct PlatformJobRecord;

// The session's copy of one file of the job.
struct PlatformSessionFile {
    uint32_t index = 0;
    std::string url;
    std::string folder;
    std::string fileName;
    char serviceId[33] = {};
    int64_t known = -1;  // the size given or probed before the download; -1 unknown
    int64_t size = 0;    // the bytes the file must have: its known size, else the response's length
    int64_t written = 0; // bytes written in this attempt
    int64_t present = 0; // length of the local file when it was opened
};

class CPlatformSession : public nwIHttpClientExEventListener {
public:
    static constexpr uint32_t kBandwidthWithConsent = 104857600;
    static constexpr uint32_t kBandwidthWithoutConsent = 393216;
    static constexpr int kAttemptsPerAddress = 3;
    // Redirects followed on one address of a file before it counts as failed.
    static constexpr int kMaxRedirects = 20;

    CPlatformSession() = default;
    // Releases the connection, closes the file; reports nothing.
    ~CPlatformSession() override;
    CPlatformSession(const CPlatformSession&) = delete;
    CPlatformSession& operator=(const CPlatformSession&) = delete;

    void SetListener(IPlatFormSessionEventListener* listener, PlatformJobRecord* context);
    // 0: without the player's consent to the high-speed mode.
    void SetMode(int jobMode) { m_nJobMode = jobMode; }
    // Bytes per second the whole job may use below its mode's bandwidth; 0: none.
    void SetRateLimit(uint64_t bytesPerSecond) { m_nRateLimit = bytesPerSecond; }
    // Copies every file that has a URL, a folder and a name, and begins the
    // first. `knownSizes` holds the size of each file by its index in the job
    // (-1 or missing: unknown): a file is complete only when it holds exactly
    // that many bytes. A job without such a file is complete at once.
    void Start(const std::vector<std::unique_ptr<JobFileEntry>>& files, const std::vector<int64_t>& knownSizes = {});

    // ---- For the progress computation ----
    // Bytes of the job: lengths present at opening plus bytes written.
    uint64_t GetReceived() const { return m_received; }
    const PlatformSessionFile* GetCurrentFile() const { return m_pCurrentFile; }
    int GetFileIndex() const { return m_nFileIndex; }
    bool HasConnection() const { return static_cast<bool>(m_connection); }
    bool HasOpenFile() const { return m_hFile != nullptr; }
    const std::string& GetCurrentUrl() const { return m_currentUrl; }
    // The session's files with their written counts, for the file report.
    const std::vector<PlatformSessionFile>& GetFiles() const { return m_files; }

    // ---- nwIHttpClientExEventListener ----
    void OnConnected(std::uint32_t cookie) override;
    void OnHeaderReceived(std::uint32_t cookie) override;
    int OnData(std::uint32_t cookie, const std::uint8_t* data, std::uint32_t length) override;
    void OnComplete(std::uint32_t cookie) override;
    void OnSendQueueEmpty(std::uint32_t cookie) override;
    void OnClosed(std::uint32_t cookie) override;
    void OnConnectTimeout(std::uint32_t cookie) override;
    void OnRecvTimeout(std::uint32_t cookie) override;
    void OnHostUnreach(std::uint32_t cookie) override;

private:
    void SplitUrl(const std::string& url);
    void BeginFile(bool resetAttempts);
    [[nodiscard]] bool OpenLocalFile();
    void CloseLocalFile();
    // Writes one piece of the body; false when the write failed.
    [[nodiscard]] bool WriteBody(const std::uint8_t* data, std::uint32_t length);
    void FinishFile();
    // The current attempt cannot give a complete file: its connection is
    // closed, and the closed report that follows decides what comes next.
    void FailAttempt();
    void FollowRedirect();
    // Whether the listener let go of this session from inside a report.
    bool IsDetached() const { return m_pListener == nullptr; }
    // The closed report: the next attempt, the next address, or the end.
    void Retry();
    // Ends the download of the job: no connection, no open file, no current
    // file; then the failure report.
    void Fail();

    PlatformSessionFile* m_pCurrentFile = nullptr;
    ovSmartPtr m_connection;
    int m_nAttempts = 0;
    int m_nFileIndex = 0;
    int m_nJobMode = 1;
    uint64_t m_nRateLimit = 0;
    uint64_t m_received = 0;
    HANDLE m_hFile = nullptr;
    int m_nMirrorIndex = 0;
    int m_nRedirects = 0; // followed on the current address
    std::string m_currentUrl;
    std::string m_localPath;
    std::vector<PlatformSessionFile> m_files;
    std::vector<std::string> m_mirrors;
    IPlatFormSessionEventListener* m_pListener = nullptr;
    PlatformJobRecord* m_pContext = nullptr;
    std::string m_range;
    // The job's receive quota, shared by its connections one after another:
    // a new file's connection starts at once with what is left of the
    // current second, never with a second budget of its own.
    std::shared_ptr<cpCQoSQuota> m_receiveQuota;
};
