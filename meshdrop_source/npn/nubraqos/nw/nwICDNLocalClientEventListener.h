#pragma once
// What the local engine client layer tells its user: the connection's events
// and the engine's notifications, each parsed into its record (texts and
// arrays live for the call only). Every call carries the cookie given to
// SetListener. They run on the library's worker thread under the library
// lock, from inside socket-window messages, in the order the engine sent
// them. A listener may detach itself and close the connection from inside
// any of them; nothing is reported after that.

#include <cstdint>

#include "nw/nwCDNLocalWire.h"

class nwICDNLocalClientEventListener {
public:
    // The connection to the engine is established.
    virtual void OnEngineConnected(std::uint32_t cookie) = 0;
    virtual void OnEngineJobAccepted(const nwCDNJobAccepted* record, std::uint32_t cookie) = 0;     // 4
    virtual void OnEngineJobFailed(const nwCDNJobFailedRecord* record, std::uint32_t cookie) = 0;   // 11
    virtual void OnEngineJobProgress(const nwCDNProgressRecord* record, std::uint32_t cookie) = 0;  // 5
    virtual void OnEngineFileDone(const nwCDNFileDoneRecord* record, std::uint32_t cookie) = 0;     // 7
    virtual void OnEngineFileDoneText(const nwCDNFileDoneRecord* record, std::uint32_t cookie) = 0; // 15
    virtual void OnEngineJobEnded(const nwCDNJobEnded* record, std::uint32_t cookie) = 0;           // 6
    virtual void OnEngineNotice(const nwCDNNoticeRecord* record, std::uint32_t cookie) = 0;         // 8
    virtual void OnEngineNetworkLost(const nwCDNTail* record, std::uint32_t cookie) = 0;            // 9
    virtual void OnEngineNetworkBack(const nwCDNTail* record, std::uint32_t cookie) = 0;            // 10
    // The connection closed (also after a failed connect).
    virtual void OnEngineClosed(std::uint32_t cookie) = 0;
    // The connect was refused or timed out; OnEngineClosed follows.
    virtual void OnEngineConnectFailed(std::uint32_t cookie) = 0;
    virtual void OnEngineAskResume(const nwCDNAskResume* record, std::uint32_t cookie) = 0; // 16
    virtual void OnEngineStatusReport(const nwCDNStatus* record, std::uint32_t cookie) = 0; // 22
    virtual ~nwICDNLocalClientEventListener() = default;
};
