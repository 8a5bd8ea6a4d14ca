#pragma once
// One file of a download job: where it comes from, where it goes, and how far
// it has got.

#include <cstdint>
#include <string>

enum JobFileState : uint32_t {
    JOB_FILE_PENDING = 0,
    JOB_FILE_COMPLETED = 2,
};

struct JobFileEntry {
    uint32_t index = 0;          // position within the job, from 0
    std::string url;             // as given, without surrounding white space
    std::string folder;          // "\" separators, ends in "\"
    std::string fileName;        // as given, or the URL's last segment
    char serviceId[40] = {};     // copy of the job's service identifier
    int64_t size = -1;           // -1 means unknown
    int64_t done = 0;            // bytes done
    int64_t present = 0;         // local file length when the direct downloader opened it
    uint32_t fileOption = 0;     // the client's option
    uint32_t internalOption = 0; // 0 when added through the entry points
    uint32_t fileState = JOB_FILE_PENDING;
};
