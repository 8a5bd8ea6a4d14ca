#pragma once
// CPlatformFileSizeCheckSession: one size probe of the direct downloader. It
// asks the first of the file's "|"-separated addresses with a GET, reads the
// content length from the response head and drops the connection; a closed
// connection is tried again, three attempts per address (a followed 302 or
// 303 counts as one), then the next address. A size is kept only when the
// file's folder has more free space than the file needs.

#include <cstdint>
#include <string>
#include <vector>

#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovSmartPtr.h"

class IPlatformFileSizeCheckSessionEventListener;
struct JobFileEntry;

class CPlatformFileSizeCheckSession : public nwIHttpClientExEventListener {
public:
    static constexpr int kAttemptsPerAddress = 3;

    // `entry` (not owned) receives the size; it outlives the probe.
    CPlatformFileSizeCheckSession(IPlatformFileSizeCheckSessionEventListener* checker, JobFileEntry* entry);
    // Releases the connection; reports nothing.
    ~CPlatformFileSizeCheckSession() override;
    CPlatformFileSizeCheckSession(const CPlatformFileSizeCheckSession&) = delete;
    CPlatformFileSizeCheckSession& operator=(const CPlatformFileSizeCheckSession&) = delete;

    void Start();
    void SetListener(IPlatformFileSizeCheckSessionEventListener* checker) { m_pChecker = checker; }
    const JobFileEntry* GetEntry() const { return m_pEntry; }

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
    // The next attempt, on the next address when this one has had its three.
    void Try();
    void Fail(int code);

    ovSmartPtr m_connection;
    int m_nAttempts = 0;
    int m_nMirrorIndex = 0;
    JobFileEntry* m_pEntry;
    std::string m_currentUrl;
    std::string m_redirectUrl; // empty when none
    std::vector<std::string> m_mirrors;
    IPlatformFileSizeCheckSessionEventListener* m_pChecker;
};
