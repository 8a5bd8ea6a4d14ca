#pragma once
// What a CDownloadSession reports to its owner. Every call carries the cookie
// the owner gave with SetListener.

#include <cstdint>
#include <string>

// The outcome of one fetched body, built for the completion call.
struct DownloadCompletionInfo {
    std::string url;    // the address fetched
    uint32_t kind = 0;  // written by the record's StoreData
    uint32_t code = 0;  // what StoreData returned
    int64_t length = 0; // the body length
};

class IDownloadSessionEventListener {
public:
    virtual void OnSessionConnected(void* cookie) = 0;
    virtual void OnSessionCompleted(void* cookie, const DownloadCompletionInfo* info) = 0;
    // error: a SessionError code.
    virtual void OnSessionError(void* cookie, int error) = 0;
    // Only for addresses of kind 3 (a file).
    virtual void OnSessionLength(void* cookie, const char* url, int64_t length) = 0;
    virtual void OnSessionProgress(void* cookie, const char* url, int64_t received) = 0;
    virtual ~IDownloadSessionEventListener() = default;
};
