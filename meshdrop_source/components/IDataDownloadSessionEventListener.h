#pragma once
// What the in-memory data session (the file-list fetch) reports to its owner.

#include <cstdint>

class IDataDownloadSessionEventListener {
public:
    virtual void OnDataCompleted(const void* buffer, int64_t length) = 0;
    virtual void OnDataError(int error) = 0;
    virtual void OnDataTick() = 0;
    virtual ~IDataDownloadSessionEventListener() = default;
};
