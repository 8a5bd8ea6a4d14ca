#pragma once
// CDataDownloadSession: fetches one address whole into a buffer that it keeps
// (the job manager uses it for the file list), follows the redirects 302 and
// 303, and ticks its listener once a second while a request runs. Driven by
// the HTTP client layer's notifications on the library's worker thread.

#include <cstdint>
#include <memory>
#include <string>

#include "IDataDownloadSessionEventListener.h"
#include "MeshdropLib.h"
#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovSmartPtr.h"

class CDataDownloadSession : public nwIHttpClientExEventListener {
public:
    // The largest body kept in memory: a file list is small, and a larger
    // announcement fails the fetch instead of reserving the memory.
    static constexpr int64_t kMaxLength = int64_t{64} * 1024 * 1024;
    // Redirects followed for one fetch before it fails.
    static constexpr int kMaxRedirects = 20;
    static constexpr uint32_t kTickIntervalMs = 1000;

    CDataDownloadSession() = default;
    ~CDataDownloadSession() override;
    CDataDownloadSession(const CDataDownloadSession&) = delete;
    CDataDownloadSession& operator=(const CDataDownloadSession&) = delete;

    void SetListener(IDataDownloadSessionEventListener* listener) { m_pListener = listener; }
    // An empty address does nothing; otherwise ends the running request, if
    // any, and starts one for the address.
    void Download(const char* url);
    // Copies the fetched bytes: 517 for a null buffer, a size other than the
    // fetched size, or no complete response; 512 otherwise.
    int GetData(FileListBuffer* record) const;
    // 517 without a complete response; otherwise writes its length, 512.
    int GetDataSize(int64_t* size) const;

    const std::string& GetUrl() const { return m_url; }
    const std::string& GetRedirectUrl() const { return m_redirectUrl; }

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
    // Opens a request for the address; a request that cannot be started
    // fails with `error` at once.
    void StartRequest(const std::string& url, int error);
    // Stops the tick timer and ends the request; with `discard` the server's
    // address is recorded as failed first.
    void Close(bool discard);
    void Fail(bool discard, int error);
    void HandleRedirect();
    // Room for `more` bytes of a chunked body; false past kMaxLength.
    [[nodiscard]] bool GrowFor(int64_t more);
    bool HasCompleteData() const { return m_buffer != nullptr && m_length > 0 && m_received == m_length; }
    static void OnTick(void* context);

    IDataDownloadSessionEventListener* m_pListener = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
    int64_t m_received = 0;
    int64_t m_length = 0;
    // A chunked body has no announced length: the buffer grows (up to
    // kMaxLength) and the length is what arrived by the last chunk.
    bool m_chunked = false;
    int64_t m_capacity = 0;
    ovSmartPtr m_tickTimer;
    ovSmartPtr m_context;
    std::string m_url;
    std::string m_redirectUrl;
    int m_redirects = 0;
};
