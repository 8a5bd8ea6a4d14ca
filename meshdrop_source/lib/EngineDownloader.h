#pragma once
// CEngineDownloader: the job downloader that hands jobs to the local download
// engine, a program of its own on this machine reached over a loopback
// connection. Its launcher brings the engine up to date and starts it; once
// connected, every job it runs is submitted to the engine, and the engine's
// reports become the job's client events. When the engine cannot be
// installed, started or kept connected, it asks the job manager to continue
// every job on the direct downloader (and is destroyed by it).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EngineSpeedSampler.h"
#include "ILauncherEventListener.h"
#include "JobDownloader.h"
#include "nw/nwICDNLocalClientEventListener.h"

class CEngineLauncher;
class ovICDNLocalClientLayer;

// One job submitted to the engine. Messages from the engine name a job by its
// job number, some also by the engine's id for it: both must match where both
// are given.
struct EngineJobRecord {
    int engineJobId = -1; // -1 until the engine accepts the job
    int jobNumber = 0;
    CJob* job = nullptr;
};

class CEngineDownloader : public CJobDownloader,
                          public ILauncherEventListener,
                          public nwICDNLocalClientEventListener {
public:
    static constexpr int kMaxLaunchCount = 5;
    // A connection that lasted longer than this resets the launch counter.
    static constexpr int64_t kReconnectWindowSeconds = 30;
    // The largest job sent as one message (command 14).
    static constexpr uint64_t kSingleMessageLimit = 130047;
    // BeginJob's answer while the update server cannot be reached.
    static constexpr int kNetworkDownStatus = 519;

    // Makes the launcher that brings the engine up (null: none, the
    // launcher's reports come from elsewhere).
    using LauncherFactory = std::function<std::unique_ptr<CEngineLauncher>(ILauncherEventListener*)>;

    // Creates the launcher at once, which starts the engine update.
    CEngineDownloader(IJobDownloadEventListener* listener, const ovSmartPtr& lock, LauncherFactory makeLauncher);

    // ---- CJobDownloader ----
    int BeginJob(CJob* job) override;
    void EndJob(CJob* job) override;
    // The network watch.
    void CheckJob(CJob* job) override;
    int TakeResumeAnswer(CJob* job, int resume, int applyToAll) override;
    ~CEngineDownloader() override;
    // Command 13 for the job while connected.
    virtual void SendFileOption(CJob* job, uint8_t value);

    // The service identifier sent on connecting; sent at once while connected.
    void SetServiceId(const char* serviceId);

    // ---- ILauncherEventListener ----
    void OnLauncherFileLength(const char* fileName, int64_t size) override;
    void OnLauncherProgress(const char* fileName, int64_t received) override;
    void OnLauncherReady() override;
    void OnLauncherFailed() override;
    void OnLauncherNetworkLost() override;
    void OnLauncherPathFailed(int kind) override;

    // ---- nwICDNLocalClientEventListener ----
    void OnEngineConnected(uint32_t cookie) override;
    void OnEngineJobAccepted(const nwCDNJobAccepted* record, uint32_t cookie) override;
    void OnEngineJobFailed(const nwCDNJobFailedRecord* record, uint32_t cookie) override;
    void OnEngineJobProgress(const nwCDNProgressRecord* record, uint32_t cookie) override;
    void OnEngineFileDone(const nwCDNFileDoneRecord* record, uint32_t cookie) override;
    void OnEngineFileDoneText(const nwCDNFileDoneRecord* record, uint32_t cookie) override;
    void OnEngineJobEnded(const nwCDNJobEnded* record, uint32_t cookie) override;
    void OnEngineNotice(const nwCDNNoticeRecord* record, uint32_t cookie) override;
    void OnEngineNetworkLost(const nwCDNTail* record, uint32_t cookie) override;
    void OnEngineNetworkBack(const nwCDNTail* record, uint32_t cookie) override;
    void OnEngineClosed(uint32_t cookie) override;
    void OnEngineConnectFailed(uint32_t cookie) override;
    void OnEngineAskResume(const nwCDNAskResume* record, uint32_t cookie) override;
    void OnEngineStatusReport(const nwCDNStatus* record, uint32_t cookie) override;

    int GetLaunchCount() const { return m_nLaunchCount; }
    // For tests: a shorter reconnect window than the product's.
    void SetReconnectWindowForTest(int64_t seconds) { m_reconnectWindowSeconds = seconds; }

private:
    void CreateLauncher();
    // Detaches the launcher and lets it go once the current report returned
    // (the launcher may be the one reporting).
    void DestroyLauncher();
    void ConnectToEngine();
    void ReleaseConnection();
    bool IsConnected() const;
    // Whether the peer of the new connection is a socket of this process's
    // user; logs the refusal when not.
    bool IsEngineOfThisUser() const;
    ovICDNLocalClientLayer* GetLayer() const;
    void SendJob(const EngineJobRecord& record);

    EngineJobRecord* FindRecord(const CJob* job);
    EngineJobRecord* FindRecord(uint32_t jobNumber);
    EngineJobRecord* FindRecord(uint32_t jobNumber, uint32_t engineJobId);
    // Takes the record out of the list (nullopt-like: job null when absent).
    EngineJobRecord TakeRecord(const EngineJobRecord* record);

    std::unique_ptr<CEngineLauncher> m_pLauncher;
    LauncherFactory m_makeLauncher;
    ovSmartPtr m_connection; // a cpCQoSContext under the engine client layer; empty while not connected
    int m_nLaunchCount = 0;
    int64_t m_lastConnectTime = 0; // seconds since the epoch; 0 when none
    std::string m_serviceId;
    CEngineSpeedSampler m_jobSpeed;
    CEngineSpeedSampler m_fileSpeed;
    std::vector<EngineJobRecord> m_records;
    int64_t m_reconnectWindowSeconds = kReconnectWindowSeconds;
};
