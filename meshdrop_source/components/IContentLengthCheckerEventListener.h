#pragma once
// What the content-length checker reports to its owner.

#include <cstdint>

class IContentLengthCheckerEventListener {
public:
    virtual void OnSizeCheckComplete(int64_t total) = 0;
    virtual void OnSizeCheckFailed(const char* address) = 0;
    virtual void OnSizeCheckUnreachable() = 0;
    virtual ~IContentLengthCheckerEventListener() = default;
};
