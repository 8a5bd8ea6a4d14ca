#pragma once
// What the direct downloader's size checker tells the downloader about the
// files of one job. The listener may destroy the checker from inside either
// report.

#include <cstdint>
#include <vector>

struct PlatformJobRecord;

struct SizeCheckResult {
    uint64_t totalSize = 0;   // bytes of every file of the job
    uint64_t presentSize = 0; // bytes already done
    uint32_t fileCount = 0;
    // The size of each file, given or probed, by its index in the job.
    std::vector<int64_t> fileSizes;
};

class ICheckerEventListener {
public:
    virtual void OnPlatformSizeCheckCompleted(PlatformJobRecord* record, const SizeCheckResult& result) = 0;
    // `code`: 513 not enough disk space, 517 no size; `text`: the file's URL.
    virtual void OnPlatformSizeCheckFailed(PlatformJobRecord* record, int code, const char* text) = 0;

protected:
    ~ICheckerEventListener() = default;
};
