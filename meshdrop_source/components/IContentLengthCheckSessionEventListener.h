#pragma once
// What one content-length probe reports to the checker that runs it.

#include <cstdint>

class IContentLengthCheckSessionEventListener {
public:
    virtual void OnFileLength(int fileIndex, int64_t length) = 0;
    virtual void OnFileFailed(int fileIndex, const char* address) = 0;
    virtual void OnFileUnreachable(int fileIndex) = 0;
    virtual ~IContentLengthCheckSessionEventListener() = default;
};
