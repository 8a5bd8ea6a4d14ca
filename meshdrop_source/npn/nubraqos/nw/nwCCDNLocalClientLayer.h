#pragma once
// The local engine client layer: turns the engine downloader's request
// records into frames of the engine protocol and the engine's frames back
// into records for its listener. The byte layouts are those of
// nwCDNLocalWire.h, shared with the engine program. A frame it has no
// handler for, or a notification whose fields or counts do not fit its
// payload, closes the connection.

#include <cstdint>
#include <vector>

#include "nw/nwCApplicationStack.h"
#include "nw/ovICDNLocalClientLayer.h"

class nwCCDNLocalClientLayer : public nwTApplicationLayer<ovICDNLocalClientLayer> {
public:
    nwCCDNLocalClientLayer() { RegisterHandlers(); }
    ~nwCCDNLocalClientLayer() override = default;

    // ovICDNLocalClientLayer
    OVRESULT SetListener(nwICDNLocalClientEventListener* listener, std::uint32_t cookie) override;
    OVRESULT SendJobMode(const nwCDNJobMode* mode) override;
    OVRESULT SendRegion(const nwCDNRegion* region) override;
    OVRESULT SendJobList(const nwCDNJobList* list) override;
    OVRESULT SendJobHeader(const nwCDNJobHeader* header) override;
    OVRESULT SendJobItem(const nwCDNJobItem* item) override;
    OVRESULT SendJobEnd(std::uint32_t jobNumber) override;
    OVRESULT SendStopJob(const nwCDNJobRef* job) override;
    OVRESULT SendServiceId(const char* serviceId) override;
    OVRESULT SendFileOption(const nwCDNFileOption* option) override;
    OVRESULT SendEngineFlag(std::uint32_t jobNumber) override;
    OVRESULT SendResumeAnswer(const nwCDNResumeAnswer* answer) override;
    OVRESULT RequestStatus() override;

    // Layer slots
    bool OnConnected() override;
    int OnReceive(const std::uint8_t* data, std::uint32_t length) override;
    void OnClose() override;
    bool OnConnectFailed() override;
    void RegisterHandlers() override;

private:
    OVRESULT SendRecord(std::uint16_t type, const void* record, std::uint32_t size);

    // One parser per notification type; each calls its listener slot.
    void ParseJobAccepted(const std::uint8_t* payload, std::uint32_t length);
    void ParseJobFailed(const std::uint8_t* payload, std::uint32_t length);
    void ParseProgress(const std::uint8_t* payload, std::uint32_t length);
    void ParseFileDone(const std::uint8_t* payload, std::uint32_t length);
    void ParseFileDoneText(const std::uint8_t* payload, std::uint32_t length);
    void ParseJobEnded(const std::uint8_t* payload, std::uint32_t length);
    void ParseNotice(const std::uint8_t* payload, std::uint32_t length);
    void ParseNetworkLost(const std::uint8_t* payload, std::uint32_t length);
    void ParseNetworkBack(const std::uint8_t* payload, std::uint32_t length);
    void ParseAskResume(const std::uint8_t* payload, std::uint32_t length);
    void ParseStatus(const std::uint8_t* payload, std::uint32_t length);

    template <void (nwCCDNLocalClientLayer::*Parse)(const std::uint8_t*, std::uint32_t)>
    static void Handle(const std::uint8_t* payload, std::uint32_t length, void* user);
    // A record of fixed size, handed to `notify` when the payload holds it.
    template <class Record>
    void DeliverFixed(const std::uint8_t* payload, std::uint32_t length,
                      void (nwICDNLocalClientEventListener::*notify)(const Record*, std::uint32_t));
    // A record read by `read` (false: the payload does not hold it).
    template <class Record>
    void DeliverRead(const std::uint8_t* payload, std::uint32_t length,
                     bool (*read)(const std::uint8_t*, std::uint32_t, Record*),
                     void (nwICDNLocalClientEventListener::*notify)(const Record*, std::uint32_t));
    template <class Fixed>
    void DeliverFileDone(const std::uint8_t* payload, std::uint32_t length,
                         bool (*read)(const std::uint8_t*, std::uint32_t, Fixed*, nwCDNFileDoneRecord*),
                         void (nwICDNLocalClientEventListener::*notify)(const nwCDNFileDoneRecord*, std::uint32_t));
    // Marks the stream broken: the dispatcher stops and OnReceive fails, so
    // the context closes the connection.
    void Reject();

    nwICDNLocalClientEventListener* m_listener = nullptr;
    std::uint32_t m_cookie = 0;
    bool m_rejected = false;
};
