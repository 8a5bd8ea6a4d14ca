#pragma once
// CDownloadSession: fetches, one after the other, the addresses that a file
// record hands it, each body whole into memory, and gives every complete body
// back to the record. Driven by the HTTP client layer's notifications on the
// library's worker thread.

#include <cstdint>
#include <memory>
#include <string>

#include "IDownloadSessionEventListener.h"
#include "IProgressFile.h"
#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovSmartPtr.h"

class CDownloadSession : public nwIHttpClientExEventListener {
public:
    // The largest body held in memory; a larger announcement is error 4.
    static constexpr int64_t kMaxBodyLength = int64_t{256} * 1024 * 1024;

    CDownloadSession() = default;
    ~CDownloadSession() override;
    CDownloadSession(const CDownloadSession&) = delete;
    CDownloadSession& operator=(const CDownloadSession&) = delete;

    // Stores both and forgets the address kind; two nulls detach the session
    // from its owner.
    void SetListener(IDownloadSessionEventListener* listener, void* cookie);
    // A null record detaches it.
    void SetFile(IProgressFile* file) { m_pFile = file; }
    IProgressFile* GetFile() const { return m_pFile; }
    // Begins fetching the record's next address; nothing without one.
    void Start();
    // Ends the open request, if any.
    void Close();
    int IsBusy() const { return m_nBusy; }

    const std::string& GetUrl() const { return m_url; }
    // The last complete body.
    const uint8_t* GetBody() const { return m_body.get(); }
    int64_t GetBodyLength() const { return m_bodyLength; }

    // ---- nwIHttpClientExEventListener ----
    void OnConnected(uint32_t cookie) override;
    void OnHeaderReceived(uint32_t cookie) override;
    int OnData(uint32_t cookie, const uint8_t* data, uint32_t length) override;
    void OnComplete(uint32_t cookie) override;
    void OnSendQueueEmpty(uint32_t cookie) override;
    void OnClosed(uint32_t cookie) override;
    void OnConnectTimeout(uint32_t cookie) override;
    void OnRecvTimeout(uint32_t cookie) override;
    void OnHostUnreach(uint32_t cookie) override;

private:
    // Starts the record's next address; false when it has none.
    [[nodiscard]] bool StartNext();
    void Fail(int error);

    IDownloadSessionEventListener* m_pListener = nullptr;
    void* m_cookie = nullptr;
    ovSmartPtr m_context;
    std::string m_url;
    // The last complete body, and the one being received: the layer's
    // pieces are taken as they come and become the body, in one step, when
    // the last one has arrived.
    std::unique_ptr<uint8_t[]> m_body;
    std::unique_ptr<uint8_t[]> m_incoming;
    int64_t m_received = 0;
    int64_t m_length = 0;
    int64_t m_bodyLength = 0;
    IProgressFile* m_pFile = nullptr;
    int m_nBusy = 0;
    int m_nUrlKind = PROGRESS_URL_NONE;
};
