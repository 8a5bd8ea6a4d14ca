#pragma once
// A record whose addresses a CDownloadSession fetches one after the other; the
// record stores, parses or verifies each body it is handed.

#include <cstdint>
#include <string>

// Kinds of address a record hands out.
enum : int {
    PROGRESS_URL_NONE = 0,
    PROGRESS_URL_HASH = 1,
    PROGRESS_URL_UPDATE_LIST = 2,
    PROGRESS_URL_FILE = 3,
    PROGRESS_URL_SIGNATURE = 4, // the detached signature of the update list or of an archive
};

class IProgressFile {
public:
    // Writes the next address to fetch; non-zero when one was written.
    virtual int GetUrl(std::string& url) = 0;
    // 0 while the record still has an address to fetch after the one just
    // stored, non-zero otherwise.
    virtual int IsFinished() = 0;
    // Takes one complete body; writes the kind of what it stored and returns
    // its store code.
    virtual uint32_t StoreData(const char* url, const void* body, int64_t length, uint32_t* kind) = 0;
    // The kind of an address (PROGRESS_URL_*).
    virtual int GetUrlKind(const char* url) = 0;
    virtual ~IProgressFile() = default;
};
