#pragma once
// CContentLengthCheckSession: one probe of the content-length check. It sends
// a GET to a file's first address, reads only the response head's length and
// reports it to its checker; a redirect, a close or a time-out is retried,
// three requests in all.

#include <cstdint>
#include <string>

#include "IContentLengthCheckSessionEventListener.h"
#include "nw/nwIHttpClientExEventListener.h"
#include "ov/ovSmartPtr.h"

class CContentLengthCheckSession : public nwIHttpClientExEventListener {
public:
    static constexpr int kMaxAttempts = 3;

    CContentLengthCheckSession() = default;
    ~CContentLengthCheckSession() override;
    CContentLengthCheckSession(const CContentLengthCheckSession&) = delete;
    CContentLengthCheckSession& operator=(const CContentLengthCheckSession&) = delete;

    // The probed address is the entry's first one: everything before the
    // first "|", or the whole entry.
    void SetFile(int fileIndex, const char* entry);
    void SetChecker(IContentLengthCheckSessionEventListener* checker) { m_pChecker = checker; }
    // Sends the next request while attempts remain and none is open; after
    // the last one reports the failure to the checker. The checker may
    // destroy this session inside any report, so every path ends with it.
    void Attempt();
    // Ends the open request, if any, under the library lock.
    void Close();

    int GetAttempts() const { return m_nAttempts; }
    int GetFileIndex() const { return m_nFileIndex; }
    int64_t GetLength() const { return m_length; }
    const std::string& GetUrl() const { return m_url; }
    const std::string& GetRedirectUrl() const { return m_redirectUrl; }
    const std::string& GetReason() const { return m_reason; }

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
    // Ends the request, writes the line "CLCS <tag>(file:<index>)" and tries again.
    void Retry(const char* reason, const char* logTag);

    int m_nAttempts = 0;
    int m_nFileIndex = -1;
    int64_t m_length = 0;
    std::string m_url;
    std::string m_redirectUrl;
    std::string m_reason;
    ovSmartPtr m_context;
    IContentLengthCheckSessionEventListener* m_pChecker = nullptr;
};
