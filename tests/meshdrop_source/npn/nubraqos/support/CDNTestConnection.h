#pragma once
// A connection to a local download engine (or a test peer posing as one),
// opened on the library worker exactly as the engine downloader opens it:
// action kind 1, mask 0x01, connect time-out 1 s, the engine client layer on
// top. Every notification is copied into a record list that tests read on
// the worker (worker.Run / WaitFor).

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "NpnWorker.h"
#include "nw/ovICDNLocalClientLayer.h"
#include "ov/ovSmartPtr.h"

// One notification or connection event, with the fields its kind carries.
struct CDNEvent {
    std::string kind; // connected accepted failed progress done done-text ended notice lost back closed
                      // connect-failed ask-resume status
    std::uint32_t jobNumber = 0;
    std::uint32_t engineJobId = 0;
    nwCDNJobAccepted accepted{};
    nwCDNJobEnded ended{};
    nwCDNProgressBlock progress{};
    std::vector<std::pair<nwCDNProgressItem, std::string>> items{};
    nwCDNTail tail{};
    std::string text{}; // failed, notice
    std::uint8_t noticeKind = 0;
    std::uint32_t fileIndex = 0;
    std::string localPath{}, altText{}, url{}; // done, done-text
    std::uint32_t value = 0;                   // ask-resume: job number; status: value
};

class CDNRecordingListener : public nwICDNLocalClientEventListener {
public:
    void OnEngineConnected(std::uint32_t cookie) override;
    void OnEngineJobAccepted(const nwCDNJobAccepted* record, std::uint32_t cookie) override;
    void OnEngineJobFailed(const nwCDNJobFailedRecord* record, std::uint32_t cookie) override;
    void OnEngineJobProgress(const nwCDNProgressRecord* record, std::uint32_t cookie) override;
    void OnEngineFileDone(const nwCDNFileDoneRecord* record, std::uint32_t cookie) override;
    void OnEngineFileDoneText(const nwCDNFileDoneRecord* record, std::uint32_t cookie) override;
    void OnEngineJobEnded(const nwCDNJobEnded* record, std::uint32_t cookie) override;
    void OnEngineNotice(const nwCDNNoticeRecord* record, std::uint32_t cookie) override;
    void OnEngineNetworkLost(const nwCDNTail* record, std::uint32_t cookie) override;
    void OnEngineNetworkBack(const nwCDNTail* record, std::uint32_t cookie) override;
    void OnEngineClosed(std::uint32_t cookie) override;
    void OnEngineConnectFailed(std::uint32_t cookie) override;
    void OnEngineAskResume(const nwCDNAskResume* record, std::uint32_t cookie) override;
    void OnEngineStatusReport(const nwCDNStatus* record, std::uint32_t cookie) override;

    int Count(const std::string& kind) const;
    // The last event of that kind; an empty event when there is none.
    CDNEvent Last(const std::string& kind) const;
    std::vector<std::string> Kinds() const;

    std::vector<CDNEvent> events;
    bool wrongCookie = false;
    // Called after each event is recorded (on the worker, under the lock).
    std::function<void(const CDNEvent&)> onEvent;

    static constexpr std::uint32_t kCookie = 0xC0DE;

private:
    void Record(CDNEvent event, std::uint32_t cookie);
    void RecordFileDone(const char* kind, const nwCDNFileDoneRecord* record, std::uint32_t cookie);
};

class CDNTestConnection {
public:
    explicit CDNTestConnection(NpnWorker& worker) : m_worker(worker) {}
    ~CDNTestConnection() { Close(); }
    CDNTestConnection(const CDNTestConnection&) = delete;
    CDNTestConnection& operator=(const CDNTestConnection&) = delete;

    // Opens the context with the layer, runs `queue` with the layer (requests
    // queued before the connect), then connects to 127.0.0.1:port.
    bool Open(std::uint16_t port, const std::function<void(ovICDNLocalClientLayer&)>& queue = {});
    // Runs `send` with the layer on the worker (at once when called there,
    // from a listener callback).
    void Send(const std::function<void(ovICDNLocalClientLayer&)>& send);
    // Detaches the listener and closes the connection.
    void Close();

    // Waits until `count` events of `kind` were recorded.
    bool WaitFor(const std::string& kind, int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Reads the recorded events on the worker.
    void Read(const std::function<void(const CDNRecordingListener&)>& read)
    {
        m_worker.Run([&] { read(listener); });
    }
    template <class T>
    T Read(const std::function<T(const CDNRecordingListener&)>& read)
    {
        return m_worker.Call([&] { return read(listener); });
    }

    CDNRecordingListener listener; // touched on the worker only

private:
    NpnWorker& m_worker;
    ovSmartPtr m_context;
    ovICDNLocalClientLayer* m_layer = nullptr;
};
